#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "host/Host.h"
#include "image/FileSystem.h"
#include "image/ImageModel.h"

namespace tarvex {

// Fills DataBuffer from a binary image, an Intel HEX file (plain or extended) or a Motorola
// S-record file, by model.FileType, only inside BufferStart..BufferEnd, and reports through the
// host.
class FileLoader {
  public:
    FileLoader(ImageModel& model, Host& host);
    FileLoader(ImageModel& model, Host& host, FileSystem& files);
    ~FileLoader();
    FileLoader(const FileLoader&) = delete;
    FileLoader& operator=(const FileLoader&) = delete;

    static bool IsValidFileName(const std::string& name);
    // False for an empty name; otherwise whether the file opens for reading.
    static bool CanOpenInputFile(const std::string& name);
    static bool CanOpenInputFile(const std::string& name, FileSystem& files);

    // Opens `name` (the InFile text) for reading raw bytes.
    bool OpenImageFile(const std::string& name);
    // Reads the opened image into DataBuffer[first..last] and closes it; sets ReadError.
    void ReadImage(std::uint32_t first, std::uint32_t last);

    // The loader: checks the name, then loads by FileType; the outcome is in ReadError.
    void LoadFileToBuffer(const std::string& name);

  private:
    struct Impl;
    struct HexLoad;

    void LoadImageFile(const std::string& name);
    void LoadHexFile(const std::string& name);
    std::unique_ptr<InputFile> OpenHexFile(const std::string& name);
    // Checks one record and applies it; false when it failed (the reason, if any, is in
    // the load's pending message).
    bool ParseHexRecord(std::string_view line, HexLoad& load);
    bool ParseSrecRecord(std::string_view line, HexLoad& load);
    // Stores the `n` bytes whose hex digits start at `digits` at the file address, adding
    // them to `sum`; checks the range and redefined bytes.
    bool StoreData(std::int64_t fileAddress, const char* digits, std::uint32_t n, unsigned& sum,
                   HexLoad& load);
    void ShowError(const std::string& text);

    ImageModel& model_;
    Host& host_;
    FileSystem& files_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tarvex
