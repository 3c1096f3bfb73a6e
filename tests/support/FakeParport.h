#pragma once

#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
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
// An emulator (sim::SimEmulator) may hang on a port; then the lines are its lines. Proc tree
// at "/proc", device files at "/dev". Every call is logged as "parport0 PPCLAIM". A request
// failed by `ioctlErrors` leaves junk where its answer would go, as a variable never set.
class FakeParport : public SystemCalls {
  public:
    struct Port {
        std::uint16_t base = 0;
        std::string name;      // in /proc and /dev
        std::string baseAddr;  // its base-addr file; empty: "BASE\t0\n"
        bool interrupt = false;
        bool heldElsewhere = false;  // another program has it claimed
        std::uint8_t data = 0;
        std::uint8_t control = 0;    // the register as the lines show it
        std::uint8_t status = 0x7F;  // without a device: a printer port with nothing attached
        std::unique_ptr<sim::SimEmulator> device;
        int claimedBy = -1;  // descriptor
    };

    // Ports named parport0, parport1, ... in this order.
    explicit FakeParport(const std::vector<std::uint16_t>& bases = {0x378, 0x278}) {
        for (const std::uint16_t base : bases) {
            auto port = std::make_unique<Port>();
            port->base = base;
            port->name = "parport" + std::to_string(ports.size());
            ports.push_back(std::move(port));
        }
    }

    Port& At(std::uint16_t base) {
        for (auto& port : ports) {
            if (port->base == base) {
                return *port;
            }
        }
        throw std::out_of_range("no fake parport at this base");
    }
    sim::SimEmulator& AttachEmulator(std::uint16_t base, sim::DeviceOptions options = {}) {
        Port& port = At(base);
        port.device = std::make_unique<sim::SimEmulator>(base, options);
        port.device->Write(static_cast<std::uint16_t>(base + 2), port.control);
        return *port.device;
    }
    // Control as the lines show it, and what an emulator there sees.
    std::uint8_t Control(std::uint16_t base) {
        std::lock_guard lock(mutex);
        return At(base).control;
    }
    int OpenFiles() {
        std::lock_guard lock(mutex);
        int count = 0;
        for (const File& file : files) {
            count += file.open ? 1 : 0;
        }
        return count;
    }
    std::string TakeLog() {
        std::lock_guard lock(mutex);
        return std::exchange(log, std::string());
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
                content =
                    port->baseAddr.empty() ? std::to_string(port->base) + "\t0\n" : port->baseAddr;
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
        if (flags != (O_RDWR | O_CLOEXEC)) {
            return -EINVAL;
        }
        if (const auto error = openErrors.find(path); error != openErrors.end()) {
            return -error->second;
        }
        for (std::size_t n = 0; n < ports.size(); ++n) {
            if (path == "/dev/" + ports[n]->name) {
                files.push_back({static_cast<int>(n)});
                return static_cast<int>(files.size()) - 1;
            }
        }
        return -ENOENT;
    }
    int Close(int descriptor) override {
        std::lock_guard lock(mutex);
        File& file = files.at(static_cast<std::size_t>(descriptor));
        if (!file.open) {
            return -EBADF;
        }
        if (file.claimed) {
            Release(descriptor);
        }
        file.open = false;
        Log(descriptor, "close");
        return 0;
    }
    int ClaimWithin(int descriptor, std::chrono::milliseconds) override {
        std::lock_guard lock(mutex);
        File& file = files.at(static_cast<std::size_t>(descriptor));
        Port& port = *ports[static_cast<std::size_t>(file.port)];
        Log(descriptor, "PPCLAIM");
        if (file.claimed) {
            return -EINVAL;
        }
        if (port.heldElsewhere || port.claimedBy >= 0) {
            ++busyClaims;
            for (const auto& other : ports) {  // kept from others for the whole wait
                heldWhileWaiting += other->claimedBy >= 0 ? 1 : 0;
            }
            return -EBUSY;
        }
        if (!file.registered) {
            file.registered = true;
            file.saved = port.interrupt ? 0x1C : 0x0C;
        }
        SetControl(port, file.saved);
        file.claimed = true;
        port.claimedBy = descriptor;
        return 0;
    }
    int Ioctl(int descriptor, unsigned long request, void* argument) override {
        std::lock_guard lock(mutex);
        File& file = files.at(static_cast<std::size_t>(descriptor));
        Port& port = *ports[static_cast<std::size_t>(file.port)];
        auto* byte = static_cast<unsigned char*>(argument);
        static const std::map<unsigned long, std::string> names = {
            {PPRELEASE, "PPRELEASE"},   {PPRDATA, "PPRDATA"}, {PPRSTATUS, "PPRSTATUS"},
            {PPRCONTROL, "PPRCONTROL"}, {PPWDATA, "PPWDATA"}, {PPWCONTROL, "PPWCONTROL"}};
        char value[4] = "";
        if (request == PPWDATA || request == PPWCONTROL) {
            std::snprintf(value, sizeof value, " %02X", *byte);
        }
        Log(descriptor, names.at(request) + value);
        if (!file.open || !file.claimed) {
            return -EINVAL;  // ppdev: claim the port first
        }
        if (const auto error = ioctlErrors.find(request); error != ioctlErrors.end()) {
            if (request == PPRDATA || request == PPRSTATUS || request == PPRCONTROL) {
                *byte = 0xEE;
            }
            return -error->second;
        }
        const auto statusPort = static_cast<std::uint16_t>(port.base + 1);
        switch (request) {
            case PPRELEASE:
                Release(descriptor);
                break;
            case PPRDATA:
                *byte = port.data;
                break;
            case PPWDATA:
                port.data = *byte;
                if (port.device) {
                    port.device->Write(port.base, *byte);
                }
                break;
            case PPRSTATUS:
                *byte = port.device ? port.device->Read(statusPort) : port.status;
                break;
            case PPRCONTROL:
                *byte = port.control & 0x0F;
                break;
            case PPWCONTROL:
                SetControl(port, static_cast<std::uint8_t>((port.control & 0xF0) | (*byte & 0x0F)));
                break;
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
        int port = 0;
        bool open = true;
        bool registered = false;  // the first claim registers the open with the parport
        bool claimed = false;
        std::uint8_t saved = 0;
    };

    void SetControl(Port& port, std::uint8_t value) {
        port.control = value;
        if (port.device) {
            port.device->Write(static_cast<std::uint16_t>(port.base + 2), value);
        }
    }
    void Release(int descriptor) {
        File& file = files.at(static_cast<std::size_t>(descriptor));
        Port& port = *ports[static_cast<std::size_t>(file.port)];
        file.saved = port.control;
        file.claimed = false;
        port.claimedBy = -1;
    }
    void Log(int descriptor, const std::string& call) {
        const auto port =
            static_cast<std::size_t>(files.at(static_cast<std::size_t>(descriptor)).port);
        log += (log.empty() ? "" : ", ") + ports[port]->name + " " + call;
    }

    std::mutex mutex;
    std::vector<File> files;
    std::string log;
};

// A TIoPort over the fake, opened.
inline std::unique_ptr<TIoPort> FakePpdevPort(const std::shared_ptr<FakeParport>& kernel) {
    auto port = std::make_unique<TIoPort>(MakePpdevBackend(kernel, "/proc"));
    port->SetOpened(true);
    return port;
}

}  // namespace tarvex::testing
