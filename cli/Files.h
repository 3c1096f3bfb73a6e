#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvex::cli {

// Why `path` cannot be read as an image: "No such file or directory", "Is a directory",
// "Permission denied"...; empty when nothing wrong can be found.
std::string InputFileProblem(const std::string& path);

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
    bool Commit(const std::uint8_t* bytes, std::size_t size, std::string& error);
    // Removes the temporary file; `path` stays as it was.
    void Discard();

  private:
    std::string path_;
    std::string temporary_;
    int descriptor_ = -1;
};

}  // namespace tarvex::cli
