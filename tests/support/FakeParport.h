#pragma once

#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "link/IoPort.h"
#include "port/PpdevBackend.h"
#include "port/SystemCalls.h"
#include "sim/SimEmulator.h"

namespace tarvex::testing {

// The kernel's parport and ppdev drivers as a program meets them. Like the kernel:
// - the first claim of an open writes the initial control state, 0x0C (0x1C with an
//   interrupt); a later claim of the same open restores what its release saved;
// - a port another holder has claimed cannot be claimed (the kernel sleeps; here the bound
//   has passed: EBUSY); a second claim of one open is EINVAL;
// - register ioctls need the claim; PPRCONTROL gives bits 0-3 of the kernel's copy and
//   PPWCONTROL changes bits 0-3 only; closing a claimed open releases it.
// An emulator (sim::SimEmulator) may hang on a port; then the lines are its lines. A request
// failed by `ioctlErrors` leaves junk where its answer would go, as a variable never set.
class FakeParport : public SystemCalls {
  public:
    struct Port {
        std::uint16_t base = 0;
        std::string name;      // in /proc and /dev
        std::string baseAddr;  // its base-addr file
        bool interrupt = false;
        bool heldElsewhere = false;          // another program has it claimed
        std::uint8_t data = 0, control = 0;  // control as the lines show it
        std::uint8_t status = 0x7F;  // without a device: a printer port with nothing attached
        std::unique_ptr<sim::SimEmulator> device{};
        int claimedBy = -1;  // descriptor
        int claims = 0;      // that succeeded
    };

    // Ports named parport0, parport1, ... in this order.
    explicit FakeParport(const std::vector<std::uint16_t>& bases = {0x378, 0x278}) {
        for (const std::uint16_t base : bases) {
            ports.push_back(
                std::make_unique<Port>(Port{.base = base,
                                            .name = "parport" + std::to_string(ports.size()),
                                            .baseAddr = std::to_string(base) + "\t0\n"}));
        }
    }

    Port& At(std::uint16_t base) {
        const auto found = std::find_if(ports.begin(), ports.end(),
                                        [&](const auto& port) { return port->base == base; });
        if (found == ports.end()) {
            throw std::out_of_range("no fake parport at this base");
        }
        return **found;
    }
    sim::SimEmulator& AttachEmulator(std::uint16_t base, sim::DeviceOptions options = {}) {
        Port& port = At(base);
        port.device = std::make_unique<sim::SimEmulator>(base, options);
        Drive(port, 2, port.control);
        return *port.device;
    }
    // Control as the lines show it, and what an emulator there sees.
    std::uint8_t Control(std::uint16_t base) {
        std::lock_guard lock(mutex);
        return At(base).control;
    }
    int OpenFiles() {
        std::lock_guard lock(mutex);
        return static_cast<int>(
            std::count_if(files.begin(), files.end(), [](const File& file) { return file.open; }));
    }

    int ListDirectory(const std::string& path, std::vector<std::string>& names) override {
        if (path != "/proc" || noProc) {
            return -ENOENT;
        }
        for (const auto& port : ports) {
            names.push_back(port->name);
        }
        for (const auto& entry : otherProc) {
            names.push_back(entry.first);
        }
        return 0;
    }
    int ReadFile(const std::string& path, std::string& content) override {
        for (const auto& port : ports) {
            if (path == "/proc/" + port->name + "/base-addr") {
                content = port->baseAddr;
                return 0;
            }
        }
        for (const auto& [name, baseAddr] : otherProc) {
            if (baseAddr && path == "/proc/" + name + "/base-addr") {
                content = baseAddr;
                return 0;
            }
        }
        return -ENOENT;
    }
    int Open(const std::string& path, int flags) override {
        std::lock_guard lock(mutex);
        const auto error = openErrors.find(path);
        const auto port = std::find_if(ports.begin(), ports.end(), [&](const auto& each) {
            return path == "/dev/" + each->name;
        });
        if (flags != (O_RDWR | O_CLOEXEC) || error != openErrors.end() || port == ports.end()) {
            return flags != (O_RDWR | O_CLOEXEC) ? -EINVAL
                   : error != openErrors.end()   ? -error->second
                                                 : -ENOENT;
        }
        files.push_back({port->get(), std::uint8_t((*port)->interrupt ? 0x1C : 0x0C)});
        return static_cast<int>(files.size()) - 1;
    }
    int Close(int descriptor) override {
        std::lock_guard lock(mutex);
        File* file = FileOf(descriptor);
        return file ? (Release(*file), file->open = false, 0) : -EBADF;
    }
    int ClaimWithin(int descriptor, std::chrono::milliseconds) override {
        std::lock_guard lock(mutex);
        File* file = FileOf(descriptor);
        if (!file || file->claimed) {
            return file ? -EINVAL : -EBADF;
        }
        Port& port = *file->port;
        if (port.heldElsewhere || port.claimedBy >= 0) {
            ++busyClaims;
            for (const auto& other : ports) {  // kept from others for the whole wait
                heldWhileWaiting += other->claimedBy >= 0 ? 1 : 0;
            }
            return -EBUSY;
        }
        Drive(port, 2, file->saved);
        file->claimed = true;
        port.claimedBy = descriptor;
        ++port.claims;
        return 0;
    }
    int Ioctl(int descriptor, unsigned long request, void* argument) override {
        std::lock_guard lock(mutex);
        File* file = FileOf(descriptor);
        if (!file || !file->claimed) {
            return file ? -EINVAL : -EBADF;  // ppdev: claim the port first
        }
        Port& port = *file->port;
        auto* byte = static_cast<unsigned char*>(argument);
        const bool read = request == PPRDATA || request == PPRSTATUS || request == PPRCONTROL;
        if (const auto error = ioctlErrors.find(request); error != ioctlErrors.end()) {
            if (read) {
                *byte = 0xEE;
            }
            return -error->second;
        }
        if (request == PPRELEASE) {
            Release(*file);
        } else if (read) {
            *byte = request == PPRDATA      ? port.data
                    : request == PPRCONTROL ? port.control & 0x0F
                    : port.device ? port.device->Read(static_cast<std::uint16_t>(port.base + 1))
                                  : port.status;
        } else if (request == PPWDATA || request == PPWCONTROL) {
            Drive(port, request == PPWDATA ? 0 : 2,
                  request == PPWDATA ? *byte : (port.control & 0xF0) | (*byte & 0x0F));
        } else {
            return -ENOTTY;
        }
        return 0;
    }

    std::vector<std::unique_ptr<Port>> ports;
    std::map<std::string, const char*> otherProc;  // more entries: name, base-addr or none
    bool noProc = false;                           // no parport folder: parport not loaded
    std::map<std::string, int> openErrors;         // by device path
    std::map<unsigned long, int> ioctlErrors;      // by request, once the port is claimed
    int busyClaims = 0;
    int heldWhileWaiting = 0;  // ports claimed here while a claim waited for a busy one

  private:
    struct File {
        Port* port;
        std::uint8_t saved;  // the kernel's initial state until a release saves the lines
        bool open = true, claimed = false;
    };

    // An open file of this descriptor, else nullptr (EBADF).
    File* FileOf(int descriptor) {
        const auto index = static_cast<std::size_t>(descriptor);
        return descriptor >= 0 && index < files.size() && files[index].open ? &files[index]
                                                                            : nullptr;
    }
    void Drive(Port& port, int offset, int value) {  // data (0) or control (2)
        (offset == 0 ? port.data : port.control) = static_cast<std::uint8_t>(value);
        if (port.device) {
            port.device->Write(static_cast<std::uint16_t>(port.base + offset),
                               static_cast<std::uint8_t>(value));
        }
    }
    void Release(File& file) {
        if (file.claimed) {
            file.saved = file.port->control;
            file.port->claimedBy = -1;
            file.claimed = false;
        }
    }

    std::mutex mutex;
    std::vector<File> files;
};

// A TIoPort over the fake, opened.
inline std::unique_ptr<TIoPort> FakePpdevPort(const std::shared_ptr<FakeParport>& kernel) {
    auto port = std::make_unique<TIoPort>(MakePpdevBackend(kernel, "/proc"));
    port->SetOpened(true);
    return port;
}

}  // namespace tarvex::testing
