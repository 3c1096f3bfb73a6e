// Loaded into qemu-system-x86_64 with LD_PRELOAD: answers the ppdev ioctls qemu's "parallel"
// chardev makes on one host path from the simulated emulator, so the guest's parallel port
// at that address has the device behind it. A second path is a port of marks: the guest
// writes A5 then N to its data register, and the library closes its record of everything
// since the last mark as mark N.
//
//   TARVEX_KTEST_DEVICE   the path qemu opens for the emulator's port
//   TARVEX_KTEST_MARKS    the path qemu opens for the port of marks
//   TARVEX_KTEST_OPTIONS  the simulator's device options, e.g. "pull=5000"
//   TARVEX_KTEST_OUT      folder for marks.log, trace-N.txt, memory-N.bin, memory.bin and
//                         registers.txt (the device at exit)
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
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim/SimEmulator.h"

namespace {

using tarvex::sim::SimEmulator;

constexpr std::uint16_t kBase = 0x378;         // the address the guest gives the device
constexpr std::size_t kLargestTrace = 400000;  // accesses a mark keeps as text
constexpr std::uint8_t kMarkPrefix = 0xA5;
// Marks that also change the cable: pulled (the device stops answering after so many more
// accesses), or plugged in again. Memory and latches stay as they are.
constexpr std::uint8_t kPullCable = 250, kPlugCable = 251;
constexpr std::uint64_t kPulledAfter = 3000;

template <typename Fn>
Fn Next(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

struct Counts {
    std::uint64_t reads[3] = {};
    std::uint64_t writes[3] = {};
    std::uint64_t other = 0;  // claims, modes, directions
};

class Library {
  public:
    Library() {
        const char* device = std::getenv("TARVEX_KTEST_DEVICE");
        const char* marks = std::getenv("TARVEX_KTEST_MARKS");
        const char* out = std::getenv("TARVEX_KTEST_OUT");
        devicePath_ = device ? device : "";
        marksPath_ = marks ? marks : "";
        out_ = out ? out : ".";
        tarvex::sim::DeviceOptions options;
        if (const char* text = std::getenv("TARVEX_KTEST_OPTIONS")) {
            if (const auto error = tarvex::sim::ParseDeviceOptions(text, options)) {
                std::fprintf(stderr, "parport_sim: TARVEX_KTEST_OPTIONS: %s\n", error->c_str());
                std::exit(2);
            }
        }
        device_ = new SimEmulator(kBase, options);
    }

    // Called from the exit path: the state the device is left in.
    void Finish() {
        std::lock_guard lock(mutex_);
        if (finished_ || !opened_) {  // not qemu, or a qemu without our port
            return;
        }
        finished_ = true;
        CloseMark("exit");
        Save(out_ + "/memory.bin");
        if (std::FILE* file = std::fopen((out_ + "/registers.txt").c_str(), "w")) {
            std::fprintf(file, "control %02X data %02X config %02X address %05X\n",
                         device_->Control(), device_->Data(), device_->ConfigLatch(),
                         device_->LatchedAddress());
            std::fclose(file);
        }
    }

    // The descriptor qemu gets for one of our paths: /dev/null's, so that everything
    // that is not an ioctl or a write still behaves like a file.
    int Open(const char* path, int descriptor) {
        if (descriptor < 0 || path == nullptr) {
            return descriptor;
        }
        if (!devicePath_.empty() && devicePath_ == path) {
            deviceDescriptor_ = descriptor;
            opened_ = true;
        } else if (!marksPath_.empty() && marksPath_ == path) {
            marksDescriptor_ = descriptor;
        }
        return descriptor;
    }

    bool Ours(const char* path) const {
        return path != nullptr && ((!devicePath_.empty() && devicePath_ == path) ||
                                   (!marksPath_.empty() && marksPath_ == path));
    }

    // Without the lock: the library's own file writes come through here while it holds it.
    bool Serves(int descriptor) const {
        return descriptor >= 0 &&
               (descriptor == deviceDescriptor_ || descriptor == marksDescriptor_);
    }

    void Closed(int descriptor) {
        int expected = descriptor;
        if (!deviceDescriptor_.compare_exchange_strong(expected, -1)) {
            expected = descriptor;
            marksDescriptor_.compare_exchange_strong(expected, -1);
        }
    }

    int Ioctl(int descriptor, unsigned long request, void* argument) {
        std::lock_guard lock(mutex_);
        if (descriptor == marksDescriptor_) {
            return Marks(request, argument);
        }
        auto* byte = static_cast<unsigned char*>(argument);
        switch (request) {
            case PPWDATA:
                Access(true, 0, *byte);
                return 0;
            case PPWCONTROL:
                Access(true, 2, *byte);
                return 0;
            case PPRDATA:
                *byte = Access(false, 0, 0);
                return 0;
            case PPRSTATUS:
                *byte = Access(false, 1, 0);
                return 0;
            case PPRCONTROL:
                *byte = Access(false, 2, 0);
                return 0;
            case PPFCONTROL: {
                const auto* frob = static_cast<ppdev_frob_struct*>(argument);
                const auto value = static_cast<std::uint8_t>((device_->Control() & ~frob->mask) |
                                                             (frob->val & frob->mask));
                Access(true, 2, value);
                return 0;
            }
            default:
                return Other(request, argument);
        }
    }

    // EPP and ECP transfers: none of the emulator's. Seen, counted, refused.
    long Write(int descriptor, std::size_t count) {
        std::lock_guard lock(mutex_);
        Note(descriptor == deviceDescriptor_ ? "write() on the device" : "write() on the marks");
        (void)count;
        errno = EIO;
        return -1;
    }

  private:
    std::uint8_t Access(bool write, int offset, std::uint8_t value) {
        const auto port = static_cast<std::uint16_t>(kBase + offset);
        if (write) {
            device_->Write(port, value);
            ++counts_.writes[offset];
        } else {
            value = device_->Read(port);
            ++counts_.reads[offset];
        }
        if (trace_.size() < kLargestTrace) {
            trace_ += tarvex::sim::FormatAccess({write, port, value});
            trace_ += '\n';
        }
        ++traced_;
        return value;
    }

    int Other(unsigned long request, void* argument) {
        ++counts_.other;
        switch (request) {
            case PPCLAIM:
                Note("PPCLAIM");
                return 0;
            case PPRELEASE:
                Note("PPRELEASE");
                return 0;
            case PPEXCL:
                Note("PPEXCL");
                return 0;
            case PPSETMODE:
                Note("PPSETMODE " + std::to_string(*static_cast<int*>(argument)));
                return 0;
            case PPDATADIR:
                Note("PPDATADIR " + std::to_string(*static_cast<int*>(argument)));
                return 0;
            default:
                Note("ioctl " + std::to_string(request) + " refused");
                errno = ENOTTY;
                return -1;
        }
    }

    // The port of marks: any register answers as a bare port; data writes are the marks.
    int Marks(unsigned long request, void* argument) {
        auto* byte = static_cast<unsigned char*>(argument);
        switch (request) {
            case PPWDATA:
                if (lastMarkByte_ == kMarkPrefix && *byte != kMarkPrefix) {
                    CloseMark(std::to_string(*byte));
                    if (*byte == kPullCable || *byte == kPlugCable) {
                        Replug(*byte == kPullCable ? kPulledAfter : 0);
                    }
                }
                lastMarkByte_ = *byte;
                return 0;
            case PPRDATA:
            case PPRSTATUS:
            case PPRCONTROL:
                *byte = 0xFF;
                return 0;
            case PPWCONTROL:
            case PPCLAIM:
            case PPRELEASE:
            case PPEXCL:
            case PPSETMODE:
            case PPDATADIR:
            case PPFCONTROL:
                return 0;
            default:
                errno = ENOTTY;
                return -1;
        }
    }

    void Replug(std::uint64_t pullAfter) {
        auto options = device_->Options();
        options.pullAfter = pullAfter;
        auto* replugged = new SimEmulator(kBase, options);
        replugged->Memory() = device_->Memory();
        replugged->RestoreRegisters(device_->SavedRegisters());
        device_ = replugged;  // the old one is left: see device_
    }

    void Note(const std::string& what) {
        if (notes_.size() < 64) {
            notes_.push_back(what);
        } else {
            ++notesDropped_;
        }
    }

    void Save(const std::string& path) {
        if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
            std::fwrite(device_->Memory().data(), 1, device_->Memory().size(), file);
            std::fclose(file);
        }
    }

    // One line in marks.log for everything since the last mark: accesses by register, the
    // ioctls that are no access, the device's registers now; with its trace and memory.
    void CloseMark(const std::string& name) {
        const std::string log = out_ + "/marks.log";
        if (std::FILE* file = std::fopen(log.c_str(), "a")) {
            std::fprintf(file,
                         "mark %s: reads data %llu status %llu control %llu, writes data %llu "
                         "control %llu, other %llu; control %02X data %02X",
                         name.c_str(), static_cast<unsigned long long>(counts_.reads[0]),
                         static_cast<unsigned long long>(counts_.reads[1]),
                         static_cast<unsigned long long>(counts_.reads[2]),
                         static_cast<unsigned long long>(counts_.writes[0]),
                         static_cast<unsigned long long>(counts_.writes[2]),
                         static_cast<unsigned long long>(counts_.other), device_->Control(),
                         device_->Data());
            for (const auto& note : notes_) {
                std::fprintf(file, "; %s", note.c_str());
            }
            if (notesDropped_ != 0) {
                std::fprintf(file, "; %llu more", static_cast<unsigned long long>(notesDropped_));
            }
            std::fputc('\n', file);
            std::fclose(file);
        }
        if (std::FILE* file = std::fopen((out_ + "/trace-" + name + ".txt").c_str(), "w")) {
            std::fputs(trace_.c_str(), file);
            if (traced_ > kLargestTrace) {
                std::fprintf(file, "... %llu accesses in all\n",
                             static_cast<unsigned long long>(traced_));
            }
            std::fclose(file);
        }
        Save(out_ + "/memory-" + name + ".bin");
        counts_ = {};
        trace_.clear();
        traced_ = 0;
        notes_.clear();
        notesDropped_ = 0;
    }

    std::mutex mutex_;
    std::string devicePath_, marksPath_, out_;
    SimEmulator* device_;  // never freed: qemu's threads may still touch the port at exit
    std::atomic<int> deviceDescriptor_{-1}, marksDescriptor_{-1};
    Counts counts_;
    std::string trace_;
    std::uint64_t traced_ = 0;
    std::vector<std::string> notes_;
    std::uint64_t notesDropped_ = 0;
    std::uint8_t lastMarkByte_ = 0;
    std::atomic<bool> opened_{false};
    bool finished_ = false;
};

Library& The() {
    static Library* library = new Library;
    return *library;
}

[[gnu::destructor]] void AtExit() {
    The().Finish();
}

int OpenOurs(const char* path, int flags) {
    using OpenFn = int (*)(const char*, int, ...);
    static const auto real = Next<OpenFn>("open64");
    return The().Open(path, real("/dev/null", (flags & ~(O_CREAT | O_TRUNC)) | O_RDWR));
}

mode_t ModeOf(int flags, va_list arguments) {
    return (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    if (The().Ours(path)) {
        return OpenOurs(path, flags);
    }
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeOf(flags, arguments);
    va_end(arguments);
    static const auto real = Next<int (*)(const char*, int, ...)>("open");
    return real(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    if (The().Ours(path)) {
        return OpenOurs(path, flags);
    }
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeOf(flags, arguments);
    va_end(arguments);
    static const auto real = Next<int (*)(const char*, int, ...)>("open64");
    return real(path, flags, mode);
}

int openat(int folder, const char* path, int flags, ...) {
    if (The().Ours(path)) {
        return OpenOurs(path, flags);
    }
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeOf(flags, arguments);
    va_end(arguments);
    static const auto real = Next<int (*)(int, const char*, int, ...)>("openat");
    return real(folder, path, flags, mode);
}

int openat64(int folder, const char* path, int flags, ...) {
    if (The().Ours(path)) {
        return OpenOurs(path, flags);
    }
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeOf(flags, arguments);
    va_end(arguments);
    static const auto real = Next<int (*)(int, const char*, int, ...)>("openat64");
    return real(folder, path, flags, mode);
}

int ioctl(int descriptor, unsigned long request, ...) noexcept {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (The().Serves(descriptor)) {
        return The().Ioctl(descriptor, request, argument);
    }
    static const auto real = Next<int (*)(int, unsigned long, ...)>("ioctl");
    return real(descriptor, request, argument);
}

ssize_t write(int descriptor, const void* bytes, size_t count) {
    if (The().Serves(descriptor)) {
        return The().Write(descriptor, count);
    }
    static const auto real = Next<ssize_t (*)(int, const void*, size_t)>("write");
    return real(descriptor, bytes, count);
}

int close(int descriptor) {
    if (The().Serves(descriptor)) {
        The().Closed(descriptor);
    }
    static const auto real = Next<int (*)(int)>("close");
    return real(descriptor);
}

}  // extern "C"
