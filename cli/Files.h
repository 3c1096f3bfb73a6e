#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "image/FileSystem.h"
#include "image/SafeOutputFile.h"

namespace tarvex::cli {

// Why `path` cannot be read as an image: "No such file or directory", "Is a directory",
// "Permission denied"...; empty when nothing wrong can be found. A FIFO is never opened
// here: that would wait for a writer.
std::string InputFileProblem(const std::string& path);

// The name the core opens for a FILE word: "-" is standard input or output.
std::string InputName(const std::string& word);
std::string OutputName(const std::string& word);

// The file system the core's loader and writer use on the command line: its one output file
// is a SafeOutputFile prepared before the emulator was touched, so that a file that cannot
// be written is found out first; reads are counted, so an empty input can be told apart.
class CommandFiles final : public FileSystem {
  public:
    explicit CommandFiles(SafeOutputFile* output = nullptr, std::string target = {})
        : output_(output), target_(std::move(target)) {}

    std::uint64_t BytesRead() const { return bytesRead_; }

    // Opens `name` and reads its first `size` bytes (fewer at its end); the next
    // OpenForReading of the same name hands out that open file, these bytes first, so a
    // pipe is read once. Null when it does not open or the read fails.
    std::optional<std::string> Peek(const std::string& name, std::size_t size);

    std::unique_ptr<InputFile> OpenForReading(const std::string& name) override;
    std::unique_ptr<OutputFile> CreateOutput(const std::string& target) override;

  private:
    class Input;
    class Output;
    class Replay;

    SafeOutputFile* output_;
    std::string target_;
    bool handedOut_ = false;
    std::uint64_t bytesRead_ = 0;
    std::string peekedName_;
    std::string peeked_;
    std::unique_ptr<InputFile> peekedFile_;
};

}  // namespace tarvex::cli
