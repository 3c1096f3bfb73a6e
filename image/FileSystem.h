#pragma once

#include <cstddef>
#include <memory>
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

class OutputFile {
  public:
    virtual ~OutputFile() = default;
    // Writes `size` bytes; fewer only with an error.
    virtual IoResult Write(const void* data, std::size_t size) = 0;
    // Flushes the data to the disk and closes; false on any I/O error.
    virtual bool Close() = 0;
};

// The few file-system calls the loader and the writer make, behind one seam so that tests
// and the fuzzer can feed files from memory or make the disk fail on purpose.
class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // Opens an existing file read-only; null when it does not open.
    virtual std::unique_ptr<InputFile> OpenForReading(const std::string& name) = 0;

    // Creates a new, empty file in the folder of `target` (following a symbolic link), to be
    // put in its place later; its name goes to `temporaryName`. Null when `target` could not
    // be replaced or the file not be created.
    virtual std::unique_ptr<OutputFile> CreateTemporary(const std::string& target,
                                                        std::string& temporaryName) = 0;

    // Puts the closed temporary file in the place of `target` in one step.
    virtual bool Replace(const std::string& temporaryName, const std::string& target) = 0;

    virtual void Remove(const std::string& name) = 0;
};

// The operating system's files.
FileSystem& NativeFileSystem();

}  // namespace tarvex
