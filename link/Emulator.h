#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "host/Host.h"
#include "image/ImageModel.h"
#include "link/IoPort.h"

namespace tarvex {

struct EpromTypeInfo {
    std::uint16_t number;
    std::uint8_t configByte;
    std::uint32_t epromEnd;
    const char* text;  // seven characters, right-aligned
};

// The five supported types, in the order of the EpromType combo box.
inline constexpr std::array<EpromTypeInfo, 5> kEpromTypes{{
    {2764, 0x16, 0x1FFF, "   2764"},
    {27128, 0x12, 0x3FFF, "  27128"},
    {27256, 0x10, 0x7FFF, "  27256"},
    {27512, 0x00, 0xFFFF, "  27512"},
    {27010, 0x08, 0x1FFFF, "  27010"},
}};
inline constexpr const char* kTypeNotSet = "  not set";
inline constexpr std::array<std::uint16_t, 3> kStandardPorts{0x278, 0x378, 0x3BC};

const EpromTypeInfo* FindEpromType(std::uint32_t number);

// Control register values; bit 0 clear holds the target in RESET.
namespace control {
inline constexpr std::uint8_t kConfig = 0x00;
inline constexpr std::uint8_t kConfigStrobe = 0x08;
inline constexpr std::uint8_t kHigh = 0x02;
inline constexpr std::uint8_t kHighStrobe = 0x0A;
inline constexpr std::uint8_t kLow = 0x04;
inline constexpr std::uint8_t kLowStrobe = 0x0C;  // also: the emulator echoes data bits 0-3
inline constexpr std::uint8_t kData = 0x06;
inline constexpr std::uint8_t kDataStrobe = 0x0E;
}  // namespace control

// The emulator on a Centronics port: the signal-level protocol and the block transfers.
// The batch worker and the window's timer use it from two threads: the port address and
// the presence flag are atomic, everything else belongs to whoever holds the window
// disabled.
class EmulatorLink {
  public:
    EmulatorLink(TIoPort& port, ImageModel& model, Host& host)
        : port_(port), model_(model), host_(host) {}

    TIoPort& Port() { return port_; }
    ImageModel& Model() { return model_; }
    Host& UserInterface() { return host_; }

    // The data register; status and control follow at +1 and +2.
    std::uint16_t PortAddress() const { return portAddress_.load(std::memory_order_relaxed); }
    std::uint16_t StatusAddress() const { return static_cast<std::uint16_t>(PortAddress() + 1); }
    std::uint16_t ControlAddress() const { return static_cast<std::uint16_t>(PortAddress() + 2); }
    void SetPortAddress(std::uint16_t base) { portAddress_.store(base, std::memory_order_relaxed); }

    bool EmulatorPresent() const { return emulatorPresent_.load(std::memory_order_acquire); }
    void SetEmulatorPresent(bool present) {
        emulatorPresent_.store(present, std::memory_order_release);
    }

    std::uint8_t ConfigByte() const { return configByte_; }

    // 0 = run, non-zero = stop; set by the diagnostics' Stop buttons.
    std::atomic<std::uint8_t> StopRequest{0};

    // Waits `ms` milliseconds by the monotonic clock, letting window messages through.
    void Delay(std::uint32_t ms);

    void DetectEmulator();
    void CheckEmulatorPort(std::uint16_t base);
    void PortIdle();
    void SetEpromType(std::uint16_t type);
    bool InvalidEpromType() const;
    void ReleaseEmulator();

    void WriteEmulator(std::uint32_t first, std::uint32_t last, std::uint32_t emulatorStart);
    // The window's Read runs to the end whatever StopRequest says; the command line lets a
    // signal stop it (`stoppable`).
    void ReadEmulator(std::uint32_t first, std::uint32_t last, std::uint32_t emulatorStart,
                      bool stoppable = false);
    bool VerifyEmulator(std::uint32_t first, std::uint32_t last, std::uint32_t emulatorStart);

    // The configuration byte for an address: bit 3 carries address bit 16.
    std::uint8_t ConfigFor(std::uint32_t address) const {
        return static_cast<std::uint8_t>((configByte_ & 0xF7) | (address >= 0x10000 ? 0x08 : 0));
    }

    // Whether an emulator echoes the nibbles at `base` (the detection's check): the test
    // that it is still there after a transfer. Leaves the target in RESET where it answers.
    bool AnswersAt(std::uint16_t base);

  private:
    void ModifyControl(std::uint16_t control, std::uint8_t clear, std::uint8_t set);
    // Common start and end of the three transfers.
    void BeginTransfer(std::uint32_t first, std::uint32_t last, std::uint32_t address);
    void EndTransfer();

    TIoPort& port_;
    ImageModel& model_;
    Host& host_;
    std::atomic<std::uint16_t> portAddress_{0x278};
    std::atomic<bool> emulatorPresent_{false};
    std::uint8_t configByte_ = 0;
};

}  // namespace tarvex
