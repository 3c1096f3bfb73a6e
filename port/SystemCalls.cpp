#include "port/SystemCalls.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <mutex>

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#endif

// glibc before 2.37 names the field only in its internal union.
#ifndef sigev_notify_thread_id
#define sigev_notify_thread_id _sigev_un._tid
#endif

namespace tarvex {

namespace {

int Failed() {
    return errno != 0 ? -errno : -EIO;
}

// Only there to interrupt a sleeping PPCLAIM.
extern "C" void WakeClaim(int /*signal*/) {}

int ClaimSignal() {
    return SIGRTMIN + 3;
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

int LinuxSystemCalls::ClaimWithin(int descriptor, std::chrono::milliseconds limit) {
    // The kernel's claim sleeps interruptibly while another holds the port. A timer signal
    // to this thread ends the sleep with EINTR; it repeats, because one that arrives just
    // before the sleep begins is lost.
    const int signal = ClaimSignal();
    static std::once_flag installed;
    std::call_once(installed, [signal] {
        struct sigaction action {};
        action.sa_handler = WakeClaim;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);  // no SA_RESTART: the ioctl must come back
    });
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    sigset_t previous;
    pthread_sigmask(SIG_UNBLOCK, &only, &previous);

    sigevent event{};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = signal;
    event.sigev_notify_thread_id = ::gettid();
    timer_t timer{};
    if (::timer_create(CLOCK_MONOTONIC, &event, &timer) != 0) {
        const int error = Failed();
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return error;
    }
    itimerspec every{};
    every.it_value.tv_nsec = 20'000'000;
    every.it_interval.tv_nsec = 20'000'000;
    ::timer_settime(timer, 0, &every, nullptr);

    const auto deadline = std::chrono::steady_clock::now() + limit;
    int result = 0;
    for (;;) {
        if (::ioctl(descriptor, PPCLAIM) == 0) {
            result = 0;
            break;
        }
        if (errno != EINTR) {
            result = Failed();
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            result = -EBUSY;
            break;
        }
    }

    // A tick still pending must not interrupt some later call of this thread.
    pthread_sigmask(SIG_BLOCK, &only, nullptr);
    ::timer_delete(timer);
    const timespec none{};
    while (::sigtimedwait(&only, nullptr, &none) == signal) {
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return result;
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
