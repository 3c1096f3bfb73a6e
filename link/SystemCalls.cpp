#include "link/SystemCalls.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#endif

namespace tarvex {

namespace {

int Failed() {
    return errno != 0 ? -errno : -EIO;
}

}  // namespace

int LinuxSystemCalls::Open(const std::string& path, int flags) {
    const int descriptor = ::open(path.c_str(), flags);
    return descriptor >= 0 ? descriptor : Failed();
}

int LinuxSystemCalls::Close(int descriptor) {
    return ::close(descriptor) == 0 ? 0 : Failed();
}

int LinuxSystemCalls::Ioctl(int descriptor, unsigned long request, void* argument) {
    const int result = ::ioctl(descriptor, request, argument);
    return result >= 0 ? result : Failed();
}

int LinuxSystemCalls::ListDirectory(const std::string& path, std::vector<std::string>& names) {
    names.clear();
    DIR* directory = ::opendir(path.c_str());
    if (!directory) {
        return Failed();
    }
    // readdir returns null both at the end and on failure; only errno tells them apart.
    errno = 0;
    while (const dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
        errno = 0;
    }
    const int error = errno;
    ::closedir(directory);
    return error != 0 ? -error : 0;
}

int LinuxSystemCalls::ReadFile(const std::string& path, std::string& content) {
    content.clear();
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return Failed();
    }
    char buffer[256];
    for (;;) {
        const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            const int error = Failed();
            ::close(descriptor);
            return error;
        }
        if (count == 0) {
            break;
        }
        content.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(descriptor);
    return 0;
}

#if defined(__x86_64__) || defined(__i386__)

namespace {

class X86PortInstructions : public PortInstructions {
  public:
    int Ioperm(unsigned long from, unsigned long count, bool on) override {
        return ::ioperm(from, count, on ? 1 : 0) == 0 ? 0 : Failed();
    }
    int Iopl(int level) override { return ::iopl(level) == 0 ? 0 : Failed(); }
    std::uint8_t In(std::uint16_t port) override { return ::inb(port); }
    void Out(std::uint16_t port, std::uint8_t value) override { ::outb(value, port); }
};

}  // namespace

std::shared_ptr<PortInstructions> MakeX86PortInstructions() {
    return std::make_shared<X86PortInstructions>();
}

#else

std::shared_ptr<PortInstructions> MakeX86PortInstructions() {
    return nullptr;
}

#endif

}  // namespace tarvex
