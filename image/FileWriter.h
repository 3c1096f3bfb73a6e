#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host/Host.h"
#include "image/FileLoader.h"
#include "image/FileSystem.h"
#include "image/ImageModel.h"

namespace tarvex {

// Saves DataBuffer[BufferStart..BufferEnd] as a binary image, Intel HEX (plain or
// extended) or Motorola S-records, by model.FileType, reporting failures through the host. The
// file is written under a temporary name beside the target and takes the target's place only once
// it is complete, so a failed save leaves the old file as it was.
class FileWriter {
  public:
    FileWriter(ImageModel& model, Host& host);
    FileWriter(ImageModel& model, Host& host, FileSystem& files);

    // `name` is the OutFile text.
    void SaveBufferToFile(const std::string& name);

    // What a conversion asks beyond the window's writer: in HEX and S-record files, records
    // only for the bytes that are not FillValue; the entry point of the file converted (Intel
    // HEX extended: a type 03 or 05 record; S-records: the S7/S8/S9 address; plain Intel HEX
    // has no record for it).
    void SetSparse(bool sparse) { sparse_ = sparse; }
    void SetStartAddress(const std::optional<StartAddress>& start) { start_ = start; }

    // Whether the last save did not put a file in place. The window ignores it; the command
    // line turns it into its exit status.
    bool SaveFailed() const { return saveFailed_; }

  private:
    class Output;

    void WriteBinary(Output& output);
    void WriteHex(Output& output);
    void WriteSrec(Output& output);
    std::uint32_t SkipFill(std::uint32_t& position, std::uint32_t& target, std::uint32_t& remaining,
                           std::uint32_t limit) const;
    void ShowError(const char* text);

    ImageModel& model_;
    Host& host_;
    FileSystem& files_;
    bool WriteError = false;
    std::uint32_t ByteCount = 0;
    bool saveFailed_ = false;
    bool sparse_ = false;
    std::optional<StartAddress> start_;
};

}  // namespace tarvex
