#include "cli/Watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace tarvex::cli {
namespace {

// How long the file must stay the same before it counts as written: a build tool writes in
// several steps.
constexpr int kSettleMs = 150;

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

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
        usleep(static_cast<useconds_t>(ms) * 1000);
        return;
    }
    pollfd wait{notify_, POLLIN, 0};
    if (poll(&wait, 1, ms) > 0) {
        char events[4096];
        while (read(notify_, events, sizeof events) > 0) {
        }
    }
}

bool FileWatch::WaitForChange(bool (*stopped)()) {
    for (;;) {
        if (stopped()) {
            return false;
        }
        Stamp now = Now();
        if (now.exists && !(now == last_)) {
            // Changed: wait until it stays the same for a moment.
            for (;;) {
                usleep(kSettleMs * 1000);
                if (stopped()) {
                    return false;
                }
                const Stamp settled = Now();
                if (settled == now) {
                    break;
                }
                now = settled;
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
