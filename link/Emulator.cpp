#include "link/Emulator.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace tarvex {
namespace {

// Status bits 3-6 carry a nibble from the emulator.
constexpr std::uint8_t Nibble(std::uint8_t status) {
    return (status & 0x78) >> 3;
}
constexpr std::uint8_t Low(std::uint32_t value) {
    return static_cast<std::uint8_t>(value);
}
constexpr std::uint8_t High(std::uint32_t value) {
    return static_cast<std::uint8_t>(value >> 8);
}

}  // namespace

const EpromTypeInfo* FindEpromType(std::uint32_t number) {
    for (const auto& type : kEpromTypes) {
        if (type.number == number) {
            return &type;
        }
    }
    return nullptr;
}

void EmulatorLink::Delay(std::uint32_t ms) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (auto now = Clock::now(); now < deadline; now = Clock::now()) {
        host_.ProcessEvents();
        // Short sleeps keep the window responsive without burning a core.
        std::this_thread::sleep_for(
            std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(2)));
    }
}

bool EmulatorLink::AnswersAt(std::uint16_t base) {
    const auto status = static_cast<std::uint16_t>(base + 1);
    const auto controlPort = static_cast<std::uint16_t>(base + 2);
    const std::uint8_t saved = port_.ReadPort(controlPort);
    port_.WritePort(controlPort, control::kLowStrobe);
    bool answered = true;
    for (std::uint8_t k = 0; k < 16; ++k) {
        port_.WritePort(base, k);
        Delay(1);
        if (Nibble(port_.ReadPort(status)) != k) {
            answered = false;
            break;
        }
    }
    if (answered) {
        port_.WritePort(controlPort, static_cast<std::uint8_t>(port_.ReadPort(controlPort) & 0xF7));
    } else {
        port_.WritePort(controlPort, saved);
    }
    return answered;
}

void EmulatorLink::DetectEmulator() {
    for (const std::uint16_t candidate : kStandardPorts) {
        if (AnswersAt(candidate)) {
            SetPortAddress(candidate);
            SetEmulatorPresent(true);
            return;
        }
        // A printer may hang there: the port must not stay ours while the program runs.
        port_.LetGo(candidate);
    }
    SetPortAddress(kStandardPorts[0]);
    SetEmulatorPresent(false);
}

void EmulatorLink::ModifyControl(std::uint16_t controlPort, std::uint8_t clear, std::uint8_t set) {
    const std::uint8_t value = port_.ReadPort(controlPort);
    port_.WritePort(controlPort, static_cast<std::uint8_t>((value & ~clear) | set));
}

void EmulatorLink::CheckEmulatorPort(std::uint16_t base) {
    const auto status = static_cast<std::uint16_t>(base + 1);
    const auto controlPort = static_cast<std::uint16_t>(base + 2);
    ModifyControl(controlPort, 0x01, 0);  // hold the target in RESET
    Delay(1);
    // Busy is inverted on the port: bit 7 set means the emulator reports RESET held.
    if ((port_.ReadPort(status) & 0x80) == 0) {
        SetEmulatorPresent(false);
        return;
    }
    const std::uint8_t saved = port_.ReadPort(controlPort);
    bool answered = true;
    ModifyControl(controlPort, 0x02, 0);
    ModifyControl(controlPort, 0, 0x04);
    ModifyControl(controlPort, 0x01, 0);
    ModifyControl(controlPort, 0, 0x08);
    for (std::uint8_t k = 0; k < 16; ++k) {
        ModifyControl(controlPort, 0x08, 0);
        port_.WritePort(base, k);
        ModifyControl(controlPort, 0, 0x08);
        Delay(1);
        if (Nibble(port_.ReadPort(status)) != k) {
            answered = false;
            break;
        }
    }
    port_.WritePort(controlPort, saved);
    SetEmulatorPresent(answered);
}

void EmulatorLink::PortIdle() {
    port_.WritePort(ControlAddress(), control::kLow);
    port_.WritePort(PortAddress(), 0x00);
}

void EmulatorLink::SetEpromType(std::uint16_t type) {
    const EpromTypeInfo* info = FindEpromType(type);
    if (!info) {
        return;  // callers pass one of the five types only
    }
    configByte_ = info->configByte;
    model_.SelectType(info->number, info->epromEnd);
    if (!EmulatorPresent()) {
        host_.SetEpromTypeText(kTypeNotSet);
        return;
    }
    port_.WritePort(PortAddress(), configByte_);
    port_.WritePort(ControlAddress(), control::kConfigStrobe);
    Delay(1);
    port_.WritePort(ControlAddress(), control::kConfig);
    Delay(1);
    PortIdle();
    host_.SetEpromTypeText(info->text);
}

bool EmulatorLink::InvalidEpromType() const {
    return FindEpromType(model_.CurrentEpromType) == nullptr;
}

void EmulatorLink::ReleaseEmulator() {
    port_.WritePort(PortAddress(), 0x00);
    Delay(10);
    port_.WritePort(ControlAddress(), 0x03);
    Delay(10);
    port_.WritePort(ControlAddress(), 0x0B);  // bit 0 set: target released
}

void EmulatorLink::BeginTransfer(std::uint32_t first, std::uint32_t last, std::uint32_t address) {
    const std::uint16_t data = PortAddress();
    const std::uint16_t ctrl = ControlAddress();
    host_.SetProgressMaximum(last >= first ? static_cast<int>((last - first) >> 8) : 0);
    host_.SetProgressPosition(0);
    port_.WritePort(data, ConfigFor(address));
    port_.WritePort(ctrl, control::kConfigStrobe);
    port_.WritePort(ctrl, control::kConfig);
    port_.WritePort(ctrl, control::kHigh);
    port_.WritePort(data, High(address));
    port_.WritePort(ctrl, control::kHighStrobe);
    port_.WritePort(ctrl, control::kHigh);
    port_.WritePort(ctrl, control::kLow);
}

void EmulatorLink::EndTransfer() {
    const std::uint16_t ctrl = ControlAddress();
    port_.WritePort(PortAddress(), configByte_);
    port_.WritePort(ctrl, control::kConfig);
    port_.WritePort(ctrl, control::kConfigStrobe);
    port_.WritePort(ctrl, control::kConfig);
    host_.SetProgressPosition(0);
}

void EmulatorLink::WriteEmulator(std::uint32_t first, std::uint32_t last,
                                 std::uint32_t emulatorStart) {
    const std::uint16_t data = PortAddress();
    const std::uint16_t ctrl = ControlAddress();
    std::uint32_t address = emulatorStart;
    int progress = 0;
    BeginTransfer(first, last, address);
    for (std::uint64_t index = first; index <= last; ++index) {
        if (StopRequest.load(std::memory_order_relaxed) != 0) {
            break;
        }
        port_.WritePort(data, Low(address));
        port_.WritePort(ctrl, control::kLowStrobe);
        port_.WritePort(ctrl, control::kLow);
        if (Low(address) == 0) {  // first byte of a page: events, then the high latch again
            host_.ProcessEvents();
            port_.WritePort(data, High(address));
            port_.WritePort(ctrl, control::kHigh);
            port_.WritePort(ctrl, control::kHighStrobe);
            port_.WritePort(ctrl, control::kHigh);
            port_.WritePort(ctrl, control::kConfig);
            port_.WritePort(data, ConfigFor(address));
            port_.WritePort(ctrl, control::kConfigStrobe);
            port_.WritePort(ctrl, control::kConfig);
        }
        port_.WritePort(ctrl, control::kData);
        port_.WritePort(data, model_.DataBuffer[index]);
        port_.WritePort(ctrl, control::kDataStrobe);
        port_.WritePort(ctrl, control::kData);
        port_.WritePort(ctrl, control::kLow);
        if (Low(++address) == 0) {
            host_.SetProgressPosition(++progress);
        }
    }
    EndTransfer();
}

namespace {

// One byte back from the emulator as two nibbles: high select first, then low.
template <typename Link>
std::uint8_t ReadByteAt(Link& link, TIoPort& port, std::uint16_t data, std::uint16_t status,
                        std::uint16_t ctrl, std::uint32_t address, Host& host) {
    port.WritePort(data, Low(address));
    port.WritePort(ctrl, control::kLowStrobe);
    port.WritePort(ctrl, control::kLow);
    port.WritePort(ctrl, control::kHigh);
    if (Low(address) == 0) {
        host.ProcessEvents();
        port.WritePort(data, High(address));
        port.WritePort(ctrl, control::kHighStrobe);
        port.WritePort(ctrl, control::kHigh);
        port.WritePort(ctrl, control::kConfig);
        port.WritePort(data, link.ConfigFor(address));
        port.WritePort(ctrl, control::kConfigStrobe);
        port.WritePort(ctrl, control::kConfig);
        port.WritePort(ctrl, control::kHigh);
    }
    const std::uint8_t high = port.ReadPort(status);
    port.WritePort(ctrl, control::kLow);
    const std::uint8_t low = port.ReadPort(status);
    return static_cast<std::uint8_t>(((high << 1) & 0xF0) | ((low >> 3) & 0x0F));
}

}  // namespace

void EmulatorLink::ReadEmulator(std::uint32_t first, std::uint32_t last,
                                std::uint32_t emulatorStart, bool stoppable) {
    const std::uint16_t data = PortAddress();
    const std::uint16_t status = StatusAddress();
    const std::uint16_t ctrl = ControlAddress();
    std::uint32_t address = emulatorStart;
    int progress = 0;
    BeginTransfer(first, last, address);
    for (std::uint64_t index = first; index <= last; ++index) {
        if (stoppable && StopRequest.load(std::memory_order_relaxed) != 0) {
            break;
        }
        model_.DataBuffer[index] = ReadByteAt(*this, port_, data, status, ctrl, address, host_);
        if (Low(++address) == 0) {
            host_.SetProgressPosition(++progress);
        }
    }
    EndTransfer();
}

bool EmulatorLink::VerifyEmulator(std::uint32_t first, std::uint32_t last,
                                  std::uint32_t emulatorStart) {
    const std::uint16_t data = PortAddress();
    const std::uint16_t status = StatusAddress();
    const std::uint16_t ctrl = ControlAddress();
    std::uint32_t address = emulatorStart;
    int progress = 0;
    bool same = true;
    BeginTransfer(first, last, address);
    for (std::uint64_t index = first; index <= last; ++index) {
        if (StopRequest.load(std::memory_order_relaxed) != 0 ||
            ReadByteAt(*this, port_, data, status, ctrl, address, host_) !=
                model_.DataBuffer[index]) {
            same = false;
            break;
        }
        if (Low(++address) == 0) {
            host_.SetProgressPosition(++progress);
        }
    }
    EndTransfer();
    return same;
}

}  // namespace tarvex
