#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "image/FileSystem.h"

namespace tarvex::cli {

// Why `path` cannot be read as an image: "No such file or directory", "Is a directory",
// "Permission denied"...; empty when nothing wrong can be found.
std::string InputFileProblem(const std::string& path);
// The same, without opening or reading `path`, so a pipe or a device is left unread: only
// what can be seen from outside (missing, a folder, no read permission).
std::string InputPathProblem(const std::string& path);

// A file that replaces `path` only when every byte has reached the disk: the bytes go to a
// temporary file beside it, which is renamed over `path` at Commit. Until then, and after
// any failure, whatever `path` held before is untouched.
class SafeOutputFile {
  public:
    SafeOutputFile() = default;
    ~SafeOutputFile();
    SafeOutputFile(const SafeOutputFile&) = delete;
    SafeOutputFile& operator=(const SafeOutputFile&) = delete;

    // Creates the temporary file. On failure returns false with the cause in `error`.
    bool Create(const std::string& path, std::string& error);
    bool IsOpen() const { return descriptor_ >= 0; }
    // Write, Close and Replace in one; discards the file on any failure.
    bool Commit(const std::uint8_t* bytes, std::size_t size, std::string& error);

    // The same in steps, for a writer that streams. `written` counts what went out even
    // when the call fails.
    bool Write(const void* bytes, std::size_t size, std::size_t& written, std::string& error);
    bool Close(std::string& error);
    bool Replace(std::string& error);

    // Removes the temporary file; `path` stays as it was.
    void Discard();

  private:
    std::string path_;
    std::string temporary_;
    int descriptor_ = -1;
};

// The file system the core's FileWriter saves through on the command line: its one output
// file is a SafeOutputFile created before the emulator was touched, so the writer's records
// and messages come with the command line's handling of devices, links and permissions.
class PreparedOutput final : public FileSystem {
  public:
    PreparedOutput(SafeOutputFile& file, std::string target)
        : file_(file), target_(std::move(target)) {}

    // The cause of the last failure, as the system reported it; empty when none.
    const std::string& Error() const { return error_; }

    std::unique_ptr<InputFile> OpenForReading(const std::string& name) override;
    std::unique_ptr<OutputFile> CreateTemporary(const std::string& target,
                                                std::string& temporaryName) override;
    bool Replace(const std::string& temporaryName, const std::string& target) override;
    void Remove(const std::string& name) override;

  private:
    class Stream;

    SafeOutputFile& file_;
    std::string target_;
    std::string error_;
    bool handedOut_ = false;
};

}  // namespace tarvex::cli
