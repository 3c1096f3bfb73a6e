#pragma once

#include <cstdint>
#include <string>

namespace tarvex::cli {

// Waits for a file to change. Editors and build tools replace files by rename, so the name is
// followed, not the inode: the file's folder is watched (inotify), and the file is looked at
// again on every event there, and at least once a second.
class FileWatch {
  public:
    explicit FileWatch(std::string path);
    ~FileWatch();
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    // Returns once the file differs from the last time and has then stayed the same across
    // two looks, kSettleMs apart; false when `stopped` says so first.
    bool WaitForChange(bool (*stopped)());
    // Whether the file differs from what WaitForChange (or the constructor) last saw: it
    // changed while it was being loaded.
    bool ChangedSinceLastLook() const { return !(Now() == last_); }

  private:
    struct Stamp {
        bool exists = false;
        std::uint64_t device = 0, inode = 0, size = 0;
        std::int64_t modified = 0;  // nanoseconds
        bool operator==(const Stamp&) const = default;
    };
    Stamp Now() const;
    // Sleeps until an event in the folder or `ms` milliseconds have passed.
    void Nap(int ms);

    std::string path_;
    int notify_ = -1;
    Stamp last_;
};

}  // namespace tarvex::cli
