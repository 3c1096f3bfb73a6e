#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace tarvex {

struct IoResult {
    std::size_t count = 0;  // bytes moved
    bool error = false;     // the call reported an I/O error
};

class InputFile {
  public:
    virtual ~InputFile() = default;
    // Reads up to `size` bytes; fewer only at the end of the file or with an error.
    virtual IoResult Read(void* data, std::size_t size) = 0;
    // False when closing reported an I/O error.
    virtual bool Close() = 0;
};

// A file that takes the place of its target only at Commit. Destroyed without Commit, it
// leaves the target as it was.
class OutputFile {
  public:
    virtual ~OutputFile() = default;
    // Writes `size` bytes; fewer only with an error.
    virtual IoResult Write(const void* data, std::size_t size) = 0;
    // Flushes the data to the disk and closes; false on any I/O error.
    virtual bool Close() = 0;
    // Puts the closed file in the target's place in one step; false when that failed.
    virtual bool Commit() = 0;
};

// The few file-system calls the loader and the writer make, behind one seam so that tests
// and the fuzzer can feed files from memory or make the disk fail on purpose.
class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // Opens an existing file read-only; null when it does not open.
    virtual std::unique_ptr<InputFile> OpenForReading(const std::string& name) = 0;

    // A new, empty file that will replace `target` (see SafeOutputFile). Null when `target`
    // must not or cannot be replaced.
    virtual std::unique_ptr<OutputFile> CreateOutput(const std::string& target) = 0;
};

// The descriptor a name stands for: 0, 1 and 2 for /dev/stdin, /dev/stdout and /dev/stderr,
// N for /dev/fd/N and /proc/self/fd/N. Such names are read and written through the open
// descriptor, never opened anew.
std::optional<int> DescriptorOf(const std::string& name);

// The operating system's files.
FileSystem& NativeFileSystem();

}  // namespace tarvex
