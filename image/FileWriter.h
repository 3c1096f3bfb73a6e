#pragma once

#include <cstdint>
#include <string>

#include "host/Host.h"
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

    // Whether the last save did not put a file in place. The window ignores it; the command
    // line turns it into its exit status.
    bool SaveFailed() const { return saveFailed_; }

  private:
    class Output;

    void WriteBinary(Output& output);
    void WriteHex(Output& output);
    void WriteSrec(Output& output);
    void ShowError(const char* text);

    ImageModel& model_;
    Host& host_;
    FileSystem& files_;
    bool WriteError = false;
    std::uint32_t ByteCount = 0;
    bool saveFailed_ = false;
};

}  // namespace tarvex
