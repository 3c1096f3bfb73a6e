#include "image/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "image/SafeOutputFile.h"

namespace tarvex {
namespace {

#ifdef _WIN32
int SysOpen(const char* name, int flags) {
    if (const std::optional<int> descriptor = DescriptorOf(name)) {
        const int copy = _dup(*descriptor);
        if (copy >= 0) {
            _setmode(copy, _O_BINARY);
        }
        return copy;
    }
    return _open(name, flags | _O_BINARY);
}
long SysRead(int fd, void* data, std::size_t size) {
    return _read(fd, data, static_cast<unsigned>(size));
}
int SysClose(int fd) {
    return _close(fd);
}
#else
int SysOpen(const char* name, int flags) {
    // A descriptor named as a file (/dev/stdin, /dev/fd/N) is read where it stands: opened
    // again, a redirected file would start over and a terminal might not open at all.
    if (const std::optional<int> descriptor = DescriptorOf(name)) {
        return ::fcntl(*descriptor, F_DUPFD_CLOEXEC, 0);
    }
    return ::open(name, flags | O_CLOEXEC);
}
long SysRead(int fd, void* data, std::size_t size) {
    return ::read(fd, data, size);
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

class OperatingSystemFiles final : public FileSystem {
  public:
    std::unique_ptr<InputFile> OpenForReading(const std::string& name) override {
        const int fd = SysOpen(name.c_str(), O_RDONLY);
        if (fd < 0) {
            return nullptr;
        }
        return std::make_unique<NativeInputFile>(fd);
    }

    std::unique_ptr<OutputFile> CreateOutput(const std::string& target) override {
        auto file = std::make_unique<SafeOutputFile>();
        if (!file->Open(target)) {
            return nullptr;
        }
        return file;
    }
};

}  // namespace

std::optional<int> DescriptorOf(const std::string& name) {
    if (name == "/dev/stdin") {
        return 0;
    }
    if (name == "/dev/stdout") {
        return 1;
    }
    if (name == "/dev/stderr") {
        return 2;
    }
#ifndef _WIN32
    const std::string own = "/proc/" + std::to_string(::getpid()) + "/fd/";
    for (const std::string& folder :
         {std::string("/dev/fd/"), std::string("/proc/self/fd/"), own}) {
        if (name.size() > folder.size() && name.compare(0, folder.size(), folder) == 0 &&
            name.find_first_not_of("0123456789", folder.size()) == std::string::npos &&
            name.size() - folder.size() <= 6) {
            return std::atoi(name.c_str() + folder.size());
        }
    }
#endif
    return std::nullopt;
}

FileSystem& NativeFileSystem() {
    static OperatingSystemFiles fileSystem;
    return fileSystem;
}

}  // namespace tarvex
