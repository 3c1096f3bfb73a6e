#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "image/FileSystem.h"

namespace tarvex {

// A save that never harms what was there. Open works out where the bytes go and refuses
// what `cp` would not do, or what would give a file away:
// - a regular file is written under a short unique temporary name in its folder, then
//   renamed over it at Commit; the new file keeps the old one's permission bits (never
//   setuid, setgid or sticky) and its owner and group, or the save is refused;
// - a file with several hard links is rewritten in place at Close, from memory, so every
//   name keeps seeing it;
// - a device, a FIFO, a socket and a descriptor (/dev/stdout, /dev/fd/N) are written in
//   place as the bytes come;
// - a symbolic link is followed to its file; a dangling link, a loop, a folder and a file
//   nobody may write are refused.
// Until Commit, and after any failure, the target is untouched.
class SafeOutputFile final : public OutputFile {
  public:
    SafeOutputFile() = default;
    ~SafeOutputFile() override;
    SafeOutputFile(const SafeOutputFile&) = delete;
    SafeOutputFile& operator=(const SafeOutputFile&) = delete;

    // False, with the reason in Error(), when `target` must not or cannot be written;
    // nothing has changed then. May block on a FIFO until a reader comes (or a signal).
    bool Open(const std::string& target);
    bool IsOpen() const { return descriptor_ >= 0; }

    IoResult Write(const void* data, std::size_t size) override;
    bool Close() override;
    bool Commit() override;
    // Drops what was written; the target stays as it was.
    void Discard();

    // What failed, naming the object: "cannot write fw.bin: write-protected".
    const std::string& Error() const { return error_; }

  private:
    enum class Kind { None, Replace, Rewrite, InPlace };

    bool Fail(const std::string& what, int error);
    bool OpenTemporary(const std::string& folder, bool keepsOld, unsigned uid, unsigned gid,
                       unsigned mode);

    Kind kind_ = Kind::None;
    std::string name_;        // as given, for messages
    std::string path_;        // the file the bytes end up in, links followed
    std::string temporary_;   // Replace: the file being written
    std::vector<char> held_;  // Rewrite: the whole content, written at Close
    int descriptor_ = -1;
    int slot_ = -1;  // in the table of temporary files a signal removes
    bool closed_ = false;
    std::string error_;
};

// Removes every temporary file a save has open. Safe in a signal handler, so a program
// that ends on a signal leaves none behind.
void RemoveTemporaryFilesNow();

// `name` with control characters shown as \n, \t or \xNN, so a message cannot be garbled
// by the name it reports.
std::string PrintableName(std::string_view name);

}  // namespace tarvex
