#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tarvex::sim {

// One port access as the simulated bus saw it.
struct Access {
    bool write = false;
    std::uint16_t port = 0;
    std::uint8_t value = 0;  // written, or read back
    bool operator==(const Access&) const = default;
};

// "W 037A 0C" / "R 0379 78": the line format of the port-access trace.
std::string FormatAccess(const Access& access);

// How one simulated device behaves, and the faults injected into it.
struct DeviceOptions {
    bool device = true;          // false: a bare parallel port with nothing attached
    bool resetFeedback = true;   // false: echoes nibbles but never reports RESET on status bit 7
    std::uint8_t stuckLow = 0;   // data lines stuck at 0 (mask), as the device sees them
    std::uint8_t stuckHigh = 0;  // data lines stuck at 1
    std::uint8_t flipped = 0;    // data lines that arrive inverted
    std::vector<std::uint32_t> badCells;  // memory cells whose bit 0 does not hold what is written
    unsigned flakyPerMille = 0;           // chance that a memory nibble read comes back wrong
    std::uint64_t pullAfter = 0;          // cable pulled after this many accesses (0: never)
    std::uint32_t seed = 1;               // for flaky nibbles
    unsigned slowMicroseconds = 0;        // each access takes this long, like a slow port
};

// Parses the options that follow a base address in TARVEX_IO, e.g. "noreset/stuck1=5".
// Returns an error text, or nullopt when the options are good.
std::optional<std::string> ParseDeviceOptions(const std::string& text, DeviceOptions& options);

// A register-level model of the emulator on one Centronics base address, built from the
// protocol alone: data/status/control registers, four latches chosen by control bits 1-2
// and stored on the rising edge of control bit 3, configuration bit 3 as address bit 16,
// 128 KiB RAM, the nibble echo while control holds 0x0C, memory nibbles on status bits
// 3-6 and RESET feedback on status bit 7. Not thread-safe on its own: SimBus locks it.
class SimEmulator {
  public:
    static constexpr std::size_t kMemorySize = 0x20000;

    SimEmulator(std::uint16_t base, DeviceOptions options);

    std::uint16_t Base() const { return base_; }
    bool Owns(std::uint16_t port) const { return port >= base_ && port - base_ < 3; }

    std::uint8_t Read(std::uint16_t port);
    void Write(std::uint16_t port, std::uint8_t value);

    std::array<std::uint8_t, kMemorySize>& Memory() { return memory_; }
    const DeviceOptions& Options() const { return options_; }
    std::uint8_t Control() const { return control_; }
    std::uint8_t Data() const { return data_; }
    std::uint8_t ConfigLatch() const { return config_; }
    std::uint32_t LatchedAddress() const;
    bool TargetInReset() const { return (control_ & 0x01) == 0; }

    // What the device holds besides its memory while it has power: the data and control
    // registers as it sees them (control bit 0 is the target's RESET line) and its latches.
    struct Registers {
        std::uint8_t data = 0;
        std::uint8_t control = 0;
        std::uint8_t config = 0;
        std::uint8_t highAddress = 0;
        std::uint8_t lowAddress = 0;
        bool operator==(const Registers&) const = default;
    };
    Registers SavedRegisters() const;
    void RestoreRegisters(const Registers& registers);
    bool CablePulled() const { return options_.pullAfter != 0 && accesses_ >= options_.pullAfter; }

  private:
    void Access();
    std::uint8_t Lines(std::uint8_t value) const;
    std::uint8_t StatusRegister();

    std::uint16_t base_;
    DeviceOptions options_;
    std::array<std::uint8_t, kMemorySize> memory_{};
    std::uint8_t data_ = 0;
    std::uint8_t control_ = 0;
    std::uint8_t config_ = 0;
    std::uint8_t highAddress_ = 0;
    std::uint8_t lowAddress_ = 0;
    std::uint64_t accesses_ = 0;
    std::uint32_t random_;
};

// All simulated devices of one process, behind one lock: the timer's status reads and
// the batch worker's transfers interleave safely.
class SimBus {
  public:
    SimBus() = default;
    SimBus(const SimBus&) = delete;
    SimBus& operator=(const SimBus&) = delete;

    SimEmulator& AddDevice(std::uint16_t base, DeviceOptions options = {});

    // A port that belongs to no device reads 0xFF (nothing drives the bus) and drops writes.
    std::uint8_t Read(std::uint16_t port);
    void Write(std::uint16_t port, std::uint8_t value);

    bool HasPort(std::uint16_t base) const;

    // Runs `fn` on the device at `base` (or nullptr) under the bus lock.
    template <typename Fn>
    auto WithDevice(std::uint16_t base, Fn&& fn) {
        std::lock_guard lock(mutex_);
        return fn(Find(base));
    }

    void SetTracing(bool on);
    std::vector<Access> TakeTrace();
    std::uint64_t ReadCount() const;
    std::uint64_t WriteCount() const;
    void ResetCounters();

    // Every device's memory and registers as kept between runs (the file I/O is the
    // backend's). Restore refuses bytes that are no state or are damaged, naming `path`; a
    // state of the memory alone (as kept before the registers were) loads it and leaves the
    // registers as at power-on.
    std::string StateBytes();
    bool RestoreState(const std::vector<char>& bytes, const std::string& path,
                      std::string& error);
    static std::string NotAStateFile(const std::string& path);
    static const std::uint64_t kLargestStateFile;

  private:
    SimEmulator* Find(std::uint16_t base);
    SimEmulator* Owner(std::uint16_t port);

    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<SimEmulator>> devices_;
    bool tracing_ = false;
    std::vector<Access> trace_;
    std::uint64_t reads_ = 0;
    std::uint64_t writes_ = 0;
};

}  // namespace tarvex::sim
