#include "cli/Watch.h"

#include <sys/stat.h>
#ifndef _WIN32
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>
#endif

#include <chrono>
#include <thread>
#include <utility>

namespace tarvex::cli {
namespace {

// How long the file must stay the same before it counts as written: a build tool writes in
// several steps.
constexpr int kSettleMs = 150;

void Sleep(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

#ifndef _WIN32
std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}
#endif

}  // namespace

#ifdef _WIN32
// No inotify here: the file is looked at four times a second instead.
FileWatch::FileWatch(std::string path) : path_(std::move(path)) {
    last_ = Now();
}

FileWatch::~FileWatch() = default;

FileWatch::Stamp FileWatch::Now() const {
    struct _stat64 info {};
    Stamp stamp;
    if (_stat64(path_.c_str(), &info) == 0) {
        stamp.exists = true;
        stamp.device = static_cast<std::uint64_t>(info.st_dev);
        stamp.inode = static_cast<std::uint64_t>(info.st_ino);
        stamp.size = static_cast<std::uint64_t>(info.st_size);
        stamp.modified = std::int64_t{info.st_mtime} * 1000000000;
    }
    return stamp;
}

void FileWatch::Nap(int ms) {
    Sleep(ms < 250 ? ms : 250);
}
#else

FileWatch::FileWatch(std::string path) : path_(std::move(path)) {
    notify_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (notify_ >= 0 && inotify_add_watch(notify_, FolderOf(path_).c_str(),
                                          IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB | IN_CREATE |
                                              IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM) < 0) {
        close(notify_);
        notify_ = -1;  // looked at once a second instead
    }
    last_ = Now();
}

FileWatch::~FileWatch() {
    if (notify_ >= 0) {
        close(notify_);
    }
}

FileWatch::Stamp FileWatch::Now() const {
    struct stat info {};
    Stamp stamp;
    if (stat(path_.c_str(), &info) == 0) {
        stamp.exists = true;
        stamp.device = info.st_dev;
        stamp.inode = info.st_ino;
        stamp.size = static_cast<std::uint64_t>(info.st_size);
        stamp.modified = std::int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
    }
    return stamp;
}

void FileWatch::Nap(int ms) {
    if (notify_ < 0) {
        Sleep(ms);
        return;
    }
    pollfd wait{notify_, POLLIN, 0};
    if (poll(&wait, 1, ms) > 0) {
        char events[4096];
        while (read(notify_, events, sizeof events) > 0) {
        }
    }
}

#endif  // _WIN32

bool FileWatch::WaitForChange(bool (*stopped)()) {
    for (;;) {
        if (stopped()) {
            return false;
        }
        Stamp now = Now();
        if (now.exists && !(now == last_)) {
            // Changed: wait until it has stayed the same across two looks. An S-record or a
            // binary file cut short loads as a valid file, so this pause is all that keeps a
            // build that writes in steps out of the emulator.
            for (int sameLooks = 0; sameLooks < 2;) {
                Sleep(kSettleMs);
                if (stopped()) {
                    return false;
                }
                const Stamp next = Now();
                sameLooks = next == now ? sameLooks + 1 : 0;
                now = next;
            }
            if (now.exists) {
                last_ = now;
                return true;
            }
        }
        Nap(1000);
    }
}

}  // namespace tarvex::cli
