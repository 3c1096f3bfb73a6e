#include "image/FileSystem.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace tarvex {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
int SysOpen(const char* name, int flags, int mode) {
    return _open(name, flags | _O_BINARY, mode);
}
long SysRead(int fd, void* data, std::size_t size) {
    return _read(fd, data, static_cast<unsigned>(size));
}
long SysWrite(int fd, const void* data, std::size_t size) {
    return _write(fd, data, static_cast<unsigned>(size));
}
int SysSync(int fd) {
    return _commit(fd);
}
int SysClose(int fd) {
    return _close(fd);
}
#else
int SysOpen(const char* name, int flags, int mode) {
    return ::open(name, flags | O_CLOEXEC, mode);
}
long SysRead(int fd, void* data, std::size_t size) {
    return ::read(fd, data, size);
}
long SysWrite(int fd, const void* data, std::size_t size) {
    return ::write(fd, data, size);
}
int SysSync(int fd) {
    return ::fsync(fd);
}
int SysClose(int fd) {
    return ::close(fd);
}
#endif

// The largest single system call; keeps counts inside what every platform's call takes.
constexpr std::size_t kLargestCall = std::size_t{1} << 30;

class NativeInputFile final : public InputFile {
  public:
    explicit NativeInputFile(int fd) : fd_(fd) {}
    ~NativeInputFile() override { Close(); }

    IoResult Read(void* data, std::size_t size) override {
        IoResult result;
        auto* bytes = static_cast<unsigned char*>(data);
        while (result.count < size && fd_ >= 0) {
            const long got =
                SysRead(fd_, bytes + result.count, std::min(size - result.count, kLargestCall));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                result.error = true;
                break;
            }
            if (got == 0) {
                break;
            }
            result.count += static_cast<std::size_t>(got);
        }
        return result;
    }

    bool Close() override {
        if (fd_ < 0) {
            return true;
        }
        const int fd = fd_;
        fd_ = -1;
        return SysClose(fd) == 0;
    }

  private:
    int fd_;
};

class NativeOutputFile final : public OutputFile {
  public:
    explicit NativeOutputFile(int fd, bool sync = true) : fd_(fd), sync_(sync) {}
    ~NativeOutputFile() override {
        if (fd_ >= 0) {
            SysClose(fd_);
        }
    }

    IoResult Write(const void* data, std::size_t size) override {
        IoResult result;
        const auto* bytes = static_cast<const unsigned char*>(data);
        while (result.count < size && fd_ >= 0) {
            const long put =
                SysWrite(fd_, bytes + result.count, std::min(size - result.count, kLargestCall));
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put <= 0) {
                result.error = true;
                break;
            }
            result.count += static_cast<std::size_t>(put);
        }
        return result;
    }

    bool Close() override {
        if (fd_ < 0) {
            return false;
        }
        const int fd = fd_;
        fd_ = -1;
        // The rename that follows must never put a file whose data is still in flight in the
        // place of the old one; some file systems report a full disk only here.
        const bool synced = !sync_ || SysSync(fd) == 0;
        const bool closed = SysClose(fd) == 0;
        return synced && closed;
    }

  private:
    int fd_;
    bool sync_;
};

// A link is saved through: the file it points to is replaced, the link stays.
fs::path ResolveTarget(const std::string& target) {
    std::error_code error;
    fs::path path(target);
    if (fs::is_symlink(fs::symlink_status(path, error))) {
        fs::path resolved = fs::weakly_canonical(path, error);
        if (!error) {
            return resolved;
        }
    }
    return path;
}

class OperatingSystemFiles final : public FileSystem {
  public:
    std::unique_ptr<InputFile> OpenForReading(const std::string& name) override {
        const int fd = SysOpen(name.c_str(), O_RDONLY, 0);
        if (fd < 0) {
            return nullptr;
        }
        return std::make_unique<NativeInputFile>(fd);
    }

    std::unique_ptr<OutputFile> CreateTemporary(const std::string& target,
                                                std::string& temporaryName) override {
        const fs::path resolved = ResolveTarget(target);
        int mode = 0666;  // narrowed by the umask for a new file
        struct stat existing {};
        if (::stat(resolved.string().c_str(), &existing) == 0) {
            // A folder, or a file we may not change, cannot be replaced either.
            if (S_ISDIR(existing.st_mode)) {
                return nullptr;
            }
#ifndef _WIN32
            // A device or a pipe is written where it is: a file renamed over it would destroy
            // the node (as root, even /dev/null), and there is nothing there to keep.
            if (!S_ISREG(existing.st_mode)) {
                const int fd = SysOpen(resolved.string().c_str(), O_WRONLY, 0);
                if (fd < 0) {
                    return nullptr;
                }
                temporaryName.clear();
                return std::make_unique<NativeOutputFile>(fd, false);
            }
#endif
#ifndef _WIN32
            if (::access(resolved.string().c_str(), W_OK) != 0) {
                return nullptr;
            }
#endif
            mode = static_cast<int>(existing.st_mode & 07777);
        }
        // Names need only differ from the others in the folder (O_EXCL catches a clash), not
        // be unpredictable: the time and a counter will do.
        static std::atomic<std::uint32_t> counter{0};
        std::uint64_t seed = static_cast<std::uint64_t>(
                                 std::chrono::steady_clock::now().time_since_epoch().count()) ^
                             (std::uint64_t{counter.fetch_add(1)} << 40);
        for (int attempt = 0; attempt < 64; ++attempt) {
            seed = seed * 6364136223846793005u + 1442695040888963407u;
            const std::string candidate =
                resolved.string() + ".tvx" + std::to_string((seed >> 33) % 1000000u);
            const int fd = SysOpen(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
            if (fd < 0 && errno == EEXIST) {
                continue;
            }
            if (fd < 0) {
                return nullptr;
            }
#ifndef _WIN32
            // Keep the permissions of the file being replaced.
            if (existing.st_mode != 0 && ::fchmod(fd, static_cast<mode_t>(mode)) != 0) {
                SysClose(fd);
                ::unlink(candidate.c_str());
                return nullptr;
            }
#endif
            temporaryName = candidate;
            return std::make_unique<NativeOutputFile>(fd);
        }
        return nullptr;
    }

    bool Replace(const std::string& temporaryName, const std::string& target) override {
        if (temporaryName.empty()) {
            return true;  // written in place
        }
        std::error_code error;
        fs::rename(temporaryName, ResolveTarget(target), error);
        return !error;
    }

    void Remove(const std::string& name) override {
        if (name.empty()) {
            return;
        }
        std::error_code error;
        fs::remove(name, error);
    }
};

}  // namespace

FileSystem& NativeFileSystem() {
    static OperatingSystemFiles fileSystem;
    return fileSystem;
}

}  // namespace tarvex
