#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/Host.h"
#include "image/FileSystem.h"
#include "image/ImageModel.h"

namespace tarvex {

// The entry point a text file names: an Intel HEX start segment (type 03: CS in the high and
// IP in the low 16 bits) or start linear address (type 05, or an S7/S8/S9 record's address).
struct StartAddress {
    bool segment = false;
    std::uint32_t value = 0;

    // The address it names: CS * 16 + IP for a segment start.
    std::uint32_t Linear() const { return segment ? (value >> 16) * 16 + (value & 0xFFFF) : value; }
    bool operator==(const StartAddress&) const = default;
};

// File addresses first..last, inclusive.
struct AddressSpan {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
};

// What the command line asks of a text load beyond the window's rules.
struct LoadOptions {
    // Leave out records and parts of records outside BufferStart..BufferEnd instead of
    // failing the load.
    bool crop = false;
    // After a record outside the range, read the rest of the file (storing nothing) to learn
    // where all of its records lie.
    bool survey = false;
};

// What the last text load found, for explanations the window does not give.
struct LoadReport {
    enum class Failure { None, Below, Above, RecordType, Other };
    Failure failure = Failure::None;
    std::uint64_t line = 0;             // of the failed record
    int recordType = -1;                // of the failed record, when it had a readable type
    AddressSpan failedRecord;           // file addresses of the failed data record
    bool extentKnown = false;           // every data record of the file was read
    std::optional<AddressSpan> extent;  // file addresses of all data records
    std::vector<AddressSpan> leftOut;   // by --crop, in file order, neighbours joined
    std::uint64_t leftOutBytes = 0;
    std::optional<StartAddress> start;  // the file's start record
};

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

    void SetOptions(const LoadOptions& options) { options_ = options; }
    // About the last HEX or S-record load.
    const LoadReport& Report() const { return report_; }

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
    bool StoreInRange(std::int64_t first, const char* digits, std::uint32_t n, unsigned& sum,
                      HexLoad& load);
    void LeaveOut(std::uint64_t first, std::uint64_t last);
    void ShowError(const std::string& text);

    ImageModel& model_;
    Host& host_;
    FileSystem& files_;
    std::unique_ptr<Impl> impl_;
    LoadOptions options_;
    LoadReport report_;
};

}  // namespace tarvex
