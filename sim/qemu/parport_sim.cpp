// Loaded into qemu-system-x86_64 with LD_PRELOAD: answers the ppdev ioctls qemu's "parallel"
// chardev makes on one host path from the simulated emulator, so the guest's parallel port
// there has the device behind it. A second path is a port of marks: the guest writes A5,
// then N, to its data register, and the library closes its record of the device as mark N.
//
//   TARVEX_KTEST_DEVICE   the path qemu opens for the emulator's port
//   TARVEX_KTEST_MARKS    the path qemu opens for the port of marks
//   TARVEX_KTEST_OPTIONS  the simulator's device options, e.g. "flaky=5"
//   TARVEX_KTEST_OUT      folder for marks.log, trace-N.txt and memory-N.bin, and at exit
//                         memory.bin and registers.txt
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "sim/SimEmulator.h"

namespace {

using tarvex::sim::SimEmulator;

constexpr std::uint16_t kBase = 0x378;          // the address the guest gives the device
constexpr std::uint64_t kLargestTrace = 40000;  // accesses a record keeps as text
constexpr std::uint8_t kMarkPrefix = 0xA5;
// Marks that also pull the cable (the device stops answering after so many more accesses)
// or plug it in again; memory and latches stay.
constexpr std::uint8_t kPullCable = 250, kPlugCable = 251;
constexpr std::uint64_t kPulledAfter = 3000;

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

class Library {
  public:
    Library()
        : devicePath_(Env("TARVEX_KTEST_DEVICE")),
          marksPath_(Env("TARVEX_KTEST_MARKS")),
          out_(Env("TARVEX_KTEST_OUT") + "/") {
        tarvex::sim::DeviceOptions options;
        if (const auto error = ParseDeviceOptions(Env("TARVEX_KTEST_OPTIONS"), options)) {
            std::fprintf(stderr, "parport_sim: TARVEX_KTEST_OPTIONS: %s\n", error->c_str());
            std::exit(2);
        }
        device_ = new SimEmulator(kBase, options);
    }

    // From the exit path: the state the device is left in.
    void Finish() {
        std::lock_guard lock(mutex_);
        if (finished_ || !opened_) {  // not qemu (timeout, say), or a qemu without our port
            return;
        }
        finished_ = true;
        CloseRecord("exit");
        Save("memory.bin");
        if (std::FILE* file = std::fopen((out_ + "registers.txt").c_str(), "w")) {
            std::fprintf(file, "control %02X data %02X config %02X address %05X\n",
                         device_->Control(), device_->Data(), device_->ConfigLatch(),
                         device_->LatchedAddress());
            std::fclose(file);
        }
    }

    bool Ours(const char* path) const {
        return path && ((!devicePath_.empty() && devicePath_ == path) ||
                        (!marksPath_.empty() && marksPath_ == path));
    }

    // qemu gets /dev/null's descriptor, so that whatever is no ioctl still acts on a file.
    int Open(const char* path, int descriptor) {
        if (descriptor >= 0) {
            (devicePath_ == path ? deviceDescriptor_ : marksDescriptor_) = descriptor;
            opened_ = opened_ || devicePath_ == path;
        }
        return descriptor;
    }

    // Without the lock: the library's own file writes come through here while it holds it.
    bool Serves(int descriptor) const {
        return descriptor >= 0 &&
               (descriptor == deviceDescriptor_ || descriptor == marksDescriptor_);
    }

    void Closed(int descriptor) {
        for (auto* ours : {&deviceDescriptor_, &marksDescriptor_}) {
            int expected = descriptor;
            ours->compare_exchange_strong(expected, -1);
        }
    }

    int Ioctl(int descriptor, unsigned long request, void* argument) {
        std::lock_guard lock(mutex_);
        auto* byte = static_cast<unsigned char*>(argument);
        if (descriptor == marksDescriptor_) {  // reads as a port with nothing behind it
            if (request == PPRDATA || request == PPRSTATUS || request == PPRCONTROL) {
                *byte = 0xFF;
            } else if (request == PPWDATA) {
                Mark(*byte);
            }
            return 0;
        }
        switch (request) {
            case PPWDATA:
            case PPWCONTROL:
                Access(true, request == PPWDATA ? 0 : 2, *byte);
                return 0;
            case PPRDATA:
            case PPRSTATUS:
            case PPRCONTROL:
                *byte = Access(false, request == PPRDATA ? 0 : request == PPRSTATUS ? 1 : 2, 0);
                return 0;
            case PPFCONTROL: {
                const auto* frob = static_cast<ppdev_frob_struct*>(argument);
                Access(true, 2,
                       static_cast<std::uint8_t>((device_->Control() & ~frob->mask) |
                                                 (frob->val & frob->mask)));
                return 0;
            }
            case PPCLAIM:
            case PPRELEASE:
            case PPEXCL:
            case PPSETMODE:
            case PPDATADIR: {
                ++others_;
                const auto number = [&] {
                    return " " + std::to_string(*static_cast<int*>(argument));
                };
                Note(request == PPCLAIM     ? "PPCLAIM"
                     : request == PPRELEASE ? "PPRELEASE"
                     : request == PPEXCL    ? "PPEXCL"
                     : request == PPSETMODE ? "PPSETMODE" + number()
                                            : "PPDATADIR" + number());
                return 0;
            }
            default:
                ++others_;
                Note("ioctl " + std::to_string(request) + " refused");
                errno = ENOTTY;
                return -1;
        }
    }

    // EPP and ECP transfers: the emulator has none. Noted and refused.
    long Write() {
        std::lock_guard lock(mutex_);
        Note("write()");
        errno = EIO;
        return -1;
    }

  private:
    std::uint8_t Access(bool write, int offset, std::uint8_t value) {
        const auto port = static_cast<std::uint16_t>(kBase + offset);
        if (write) {
            device_->Write(port, value);
        } else {
            value = device_->Read(port);
        }
        ++(write ? writes_ : reads_)[offset];
        if (traced_++ < kLargestTrace) {
            trace_ += tarvex::sim::FormatAccess({write, port, value}) + "\n";
        }
        return value;
    }

    void Mark(std::uint8_t byte) {
        if (lastMarkByte_ == kMarkPrefix && byte != kMarkPrefix) {
            CloseRecord(std::to_string(byte));
            if (byte == kPullCable || byte == kPlugCable) {
                auto options = device_->Options();
                options.pullAfter = byte == kPullCable ? kPulledAfter : 0;
                auto* replugged = new SimEmulator(kBase, options);
                replugged->Memory() = device_->Memory();
                replugged->RestoreRegisters(device_->SavedRegisters());
                device_ = replugged;
            }
        }
        lastMarkByte_ = byte;
    }

    void Note(const std::string& what) {
        if (notes_.size() < 400) {
            notes_ += "; " + what;
        }
    }

    void Save(const std::string& name) {
        if (std::FILE* file = std::fopen((out_ + name).c_str(), "wb")) {
            std::fwrite(device_->Memory().data(), 1, device_->Memory().size(), file);
            std::fclose(file);
        }
    }

    // A line in marks.log for what the device got since the last mark: accesses by register,
    // the ioctls that are no access, its registers now; and its trace and memory.
    void CloseRecord(const std::string& name) {
        if (std::FILE* file = std::fopen((out_ + "marks.log").c_str(), "a")) {
            std::fprintf(file,
                         "mark %s: reads data %llu status %llu control %llu, writes data %llu "
                         "control %llu, other %llu; control %02X data %02X%s\n",
                         name.c_str(), reads_[0], reads_[1], reads_[2], writes_[0], writes_[2],
                         others_, device_->Control(), device_->Data(), notes_.c_str());
            std::fclose(file);
        }
        if (std::FILE* file = std::fopen((out_ + "trace-" + name + ".txt").c_str(), "w")) {
            std::fprintf(file, "%s%s", trace_.c_str(),
                         traced_ > kLargestTrace ? "... and more\n" : "");
            std::fclose(file);
        }
        Save("memory-" + name + ".bin");
        reads_[0] = reads_[1] = reads_[2] = writes_[0] = writes_[1] = writes_[2] = others_ = 0;
        traced_ = 0;
        trace_.clear();
        notes_.clear();
    }

    const std::string devicePath_, marksPath_, out_;
    std::mutex mutex_;
    SimEmulator* device_;  // never freed: qemu's threads may still reach the port at exit
    std::atomic<int> deviceDescriptor_{-1}, marksDescriptor_{-1};
    std::atomic<bool> opened_{false};
    bool finished_ = false;
    unsigned long long reads_[3] = {}, writes_[3] = {}, others_ = 0, traced_ = 0;
    std::string trace_, notes_;
    std::uint8_t lastMarkByte_ = 0;
};

Library& The() {
    static Library* library = new Library;
    return *library;
}

[[gnu::destructor]] void AtExit() {
    The().Finish();
}

// open, open64, openat, openat64: ours, or the next library's.
int Open(const char* symbol, const int* folder, const char* path, int flags, va_list arguments) {
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(arguments, mode_t) : 0;
    using OpenFn = int (*)(const char*, int, ...);
    using OpenAtFn = int (*)(int, const char*, int, ...);
    if (The().Ours(path)) {
        const auto real = reinterpret_cast<OpenFn>(dlsym(RTLD_NEXT, "open64"));
        return The().Open(path, real("/dev/null", (flags & ~(O_CREAT | O_TRUNC)) | O_RDWR));
    }
    void* real = dlsym(RTLD_NEXT, symbol);
    return folder ? reinterpret_cast<OpenAtFn>(real)(*folder, path, flags, mode)
                  : reinterpret_cast<OpenFn>(real)(path, flags, mode);
}

// One per function type: ioctl, write and close each have their own.
template <typename Fn>
Fn Next(const char* name) {
    static const auto real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
    return real;
}

}  // namespace

extern "C" {

#define TARVEX_OPEN(name, folder)                                      \
    va_list arguments;                                                 \
    va_start(arguments, flags);                                        \
    const int descriptor = Open(name, folder, path, flags, arguments); \
    va_end(arguments);                                                 \
    return descriptor

int open(const char* path, int flags, ...) {
    TARVEX_OPEN("open", nullptr);
}
int open64(const char* path, int flags, ...) {
    TARVEX_OPEN("open64", nullptr);
}
int openat(int folder, const char* path, int flags, ...) {
    TARVEX_OPEN("openat", &folder);
}
int openat64(int folder, const char* path, int flags, ...) {
    TARVEX_OPEN("openat64", &folder);
}

int ioctl(int descriptor, unsigned long request, ...) noexcept {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (The().Serves(descriptor)) {
        return The().Ioctl(descriptor, request, argument);
    }
    return Next<int (*)(int, unsigned long, ...)>("ioctl")(descriptor, request, argument);
}

ssize_t write(int descriptor, const void* bytes, size_t count) {
    if (The().Serves(descriptor)) {
        return The().Write();
    }
    return Next<ssize_t (*)(int, const void*, size_t)>("write")(descriptor, bytes, count);
}

int close(int descriptor) {
    if (The().Serves(descriptor)) {
        The().Closed(descriptor);
    }
    return Next<int (*)(int)>("close")(descriptor);
}

}  // extern "C"
