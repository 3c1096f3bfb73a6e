#include "sim/SimEmulator.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <thread>
#include <utility>

namespace tarvex::sim {
namespace {

constexpr std::uint8_t kFloatingStatus = 0x7F;      // lines pulled up, Busy (inverted) reads 0
constexpr std::uint8_t kReservedStatusBits = 0x07;  // status bits 0-2: a real port reads them as 1
constexpr char kStateMagic[] = "TARVEX-SIM-STATE 1\n";
constexpr std::size_t kStateMagicSize = sizeof(kStateMagic) - 1;
constexpr std::size_t kStateRecordSize = 2 + SimEmulator::kMemorySize;
// After the memory records: this tag, then for each record in its order the base and the
// five registers. Files of the memory alone end before it.
constexpr char kRegistersTag[] = "REGS";
constexpr std::size_t kRegistersTagSize = sizeof(kRegistersTag) - 1;
constexpr std::size_t kRegistersRecordSize = 2 + 5;

std::uint16_t BaseAt(const std::vector<char>& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      static_cast<unsigned char>(bytes[at + 1]) << 8);
}


bool ParseNumber(const std::string& text, std::uint64_t& value) {
    int base = 10;
    std::size_t skip = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        skip = 2;
    }
    const char* first = text.data() + skip;
    const char* last = text.data() + text.size();
    auto result = std::from_chars(first, last, value, base);
    return result.ec == std::errc() && result.ptr == last && first != last;
}

}  // namespace

const std::uint64_t SimBus::kLargestStateFile = kStateMagicSize + 65 * kStateRecordSize;

std::string SimBus::NotAStateFile(const std::string& path) {
    return "simulator state file " + path +
           " is not a state file written by this program (remove it to start afresh)";
}

std::string FormatAccess(const Access& access) {
    char line[16];
    std::snprintf(line, sizeof line, "%c %04X %02X", access.write ? 'W' : 'R', access.port,
                  access.value);
    return line;
}

std::optional<std::string> ParseDeviceOptions(const std::string& text, DeviceOptions& options) {
    std::size_t position = 0;
    while (position <= text.size()) {
        std::size_t end = text.find('/', position);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string item = text.substr(position, end - position);
        position = end + 1;
        if (item.empty()) {
            continue;
        }
        const std::size_t equals = item.find('=');
        const std::string key = item.substr(0, equals);
        const std::string argument = equals == std::string::npos ? "" : item.substr(equals + 1);
        std::uint64_t number = 0;
        const bool numeric = ParseNumber(argument, number);
        auto bit = [&](std::uint8_t& mask) -> std::optional<std::string> {
            if (!numeric || number > 7) {
                return "'" + item + "': give a data bit from 0 to 7";
            }
            mask = static_cast<std::uint8_t>(mask | (1u << number));
            return std::nullopt;
        };
        std::optional<std::string> error;
        if (key == "nodevice" && argument.empty()) {
            options.device = false;
        } else if (key == "noreset" && argument.empty()) {
            options.resetFeedback = false;
        } else if (key == "stuck0") {
            error = bit(options.stuckLow);
        } else if (key == "stuck1") {
            error = bit(options.stuckHigh);
        } else if (key == "flip") {
            error = bit(options.flipped);
        } else if (key == "bad" && numeric && number < SimEmulator::kMemorySize) {
            options.badCells.push_back(static_cast<std::uint32_t>(number));
        } else if (key == "flaky" && numeric && number <= 1000) {
            options.flakyPerMille = static_cast<unsigned>(number);
        } else if (key == "pull" && numeric && number > 0) {
            options.pullAfter = number;
        } else if (key == "slow" && numeric && number <= 1000000) {
            options.slowMicroseconds = static_cast<unsigned>(number);
        } else if (key == "seed" && numeric && number <= 0xFFFFFFFFu) {
            options.seed = static_cast<std::uint32_t>(number);
        } else {
            error = "unknown simulator option '" + item +
                    "' (use nodevice, noreset, stuck0=BIT, stuck1=BIT, flip=BIT, bad=ADDR, "
                    "flaky=PERMILLE, pull=N, seed=N, slow=MICROSECONDS)";
        }
        if (error) {
            return error;
        }
    }
    return std::nullopt;
}

SimEmulator::SimEmulator(std::uint16_t base, DeviceOptions options)
    : base_(base), options_(std::move(options)), random_(options_.seed ? options_.seed : 1) {}

std::uint8_t SimEmulator::Lines(std::uint8_t value) const {
    value = static_cast<std::uint8_t>(value ^ options_.flipped);
    value = static_cast<std::uint8_t>(value & ~options_.stuckLow);
    return static_cast<std::uint8_t>(value | options_.stuckHigh);
}

std::uint32_t SimEmulator::LatchedAddress() const {
    return ((config_ & 0x08) ? 0x10000u : 0u) | (std::uint32_t{highAddress_} << 8) | lowAddress_;
}

std::uint8_t SimEmulator::StatusRegister() {
    if (!options_.device || CablePulled()) {
        return kFloatingStatus;
    }
    std::uint8_t nibble = 0;
    if ((control_ & 0x0F) == 0x0C) {
        nibble = Lines(data_) & 0x0F;  // detection echo
    } else {
        const unsigned select = (control_ >> 1) & 0x03;
        const std::uint8_t cell = memory_[LatchedAddress()];
        if (select == 1 || select == 2) {
            nibble = select == 1 ? cell >> 4 : cell & 0x0F;
            if (options_.flakyPerMille != 0) {
                random_ ^= random_ << 13;
                random_ ^= random_ >> 17;
                random_ ^= random_ << 5;
                if (random_ % 1000 < options_.flakyPerMille) {
                    nibble = static_cast<std::uint8_t>(nibble ^ (1 + (random_ >> 16) % 15));
                }
            }
        }
    }
    // Busy is inverted on the port, so a target held in RESET reads as bit 7 set.
    const bool reset = options_.resetFeedback && (control_ & 0x01) == 0;
    return static_cast<std::uint8_t>((reset ? 0x80 : 0) | (nibble << 3) | kReservedStatusBits);
}

void SimEmulator::Access() {
    ++accesses_;
    if (options_.slowMicroseconds != 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(options_.slowMicroseconds));
    }
}

std::uint8_t SimEmulator::Read(std::uint16_t port) {
    Access();
    switch (port - base_) {
        case 0:
            return data_;
        case 1:
            return StatusRegister();
        default:
            return control_;
    }
}

void SimEmulator::Write(std::uint16_t port, std::uint8_t value) {
    Access();
    if (port == base_) {
        data_ = value;
        return;
    }
    if (port != base_ + 2) {
        return;  // the status register is read-only
    }
    const bool strobe = (control_ & 0x08) == 0 && (value & 0x08) != 0;
    control_ = value;
    if (!strobe || !options_.device || CablePulled()) {
        return;
    }
    const std::uint8_t lines = Lines(data_);
    switch ((value >> 1) & 0x03) {
        case 0:
            config_ = lines;
            break;
        case 1:
            highAddress_ = lines;
            break;
        case 2:
            lowAddress_ = lines;
            break;
        default: {
            const std::uint32_t address = LatchedAddress();
            const bool bad = std::find(options_.badCells.begin(), options_.badCells.end(),
                                       address) != options_.badCells.end();
            memory_[address] = bad ? static_cast<std::uint8_t>(lines ^ 0x01) : lines;
            break;
        }
    }
}

SimEmulator::Registers SimEmulator::SavedRegisters() const {
    return {data_, control_, config_, highAddress_, lowAddress_};
}

void SimEmulator::RestoreRegisters(const Registers& registers) {
    data_ = registers.data;
    control_ = registers.control;
    config_ = registers.config;
    highAddress_ = registers.highAddress;
    lowAddress_ = registers.lowAddress;
}

SimEmulator& SimBus::AddDevice(std::uint16_t base, DeviceOptions options) {
    std::lock_guard lock(mutex_);
    devices_.push_back(std::make_unique<SimEmulator>(base, std::move(options)));
    return *devices_.back();
}

SimEmulator* SimBus::Find(std::uint16_t base) {
    for (auto& device : devices_) {
        if (device->Base() == base) {
            return device.get();
        }
    }
    return nullptr;
}

SimEmulator* SimBus::Owner(std::uint16_t port) {
    for (auto& device : devices_) {
        if (device->Owns(port)) {
            return device.get();
        }
    }
    return nullptr;
}

std::uint8_t SimBus::Read(std::uint16_t port) {
    std::lock_guard lock(mutex_);
    ++reads_;
    SimEmulator* device = Owner(port);
    const std::uint8_t value = device ? device->Read(port) : 0xFF;
    if (tracing_) {
        trace_.push_back({false, port, value});
    }
    return value;
}

void SimBus::Write(std::uint16_t port, std::uint8_t value) {
    std::lock_guard lock(mutex_);
    ++writes_;
    if (SimEmulator* device = Owner(port)) {
        device->Write(port, value);
    }
    if (tracing_) {
        trace_.push_back({true, port, value});
    }
}

bool SimBus::HasPort(std::uint16_t base) const {
    std::lock_guard lock(mutex_);
    return std::any_of(devices_.begin(), devices_.end(),
                       [base](const auto& device) { return device->Base() == base; });
}

void SimBus::SetTracing(bool on) {
    std::lock_guard lock(mutex_);
    tracing_ = on;
    trace_.clear();
}

std::vector<Access> SimBus::TakeTrace() {
    std::lock_guard lock(mutex_);
    return std::exchange(trace_, {});
}

std::uint64_t SimBus::ReadCount() const {
    std::lock_guard lock(mutex_);
    return reads_;
}

std::uint64_t SimBus::WriteCount() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

void SimBus::ResetCounters() {
    std::lock_guard lock(mutex_);
    reads_ = 0;
    writes_ = 0;
}

bool SimBus::RestoreState(const std::vector<char>& bytes, const std::string& path,
                          std::string& error) {
    if (bytes.size() < kStateMagicSize ||
        std::memcmp(bytes.data(), kStateMagic, kStateMagicSize) != 0) {
        error = NotAStateFile(path);
        return false;
    }
    const std::size_t records = (bytes.size() - kStateMagicSize) / kStateRecordSize;
    const std::size_t registersAt = kStateMagicSize + records * kStateRecordSize;
    const bool registersKept = registersAt != bytes.size();
    if (registersKept) {
        if (bytes.size() - registersAt < kRegistersTagSize ||
            std::memcmp(bytes.data() + registersAt, kRegistersTag, kRegistersTagSize) != 0) {
            error = NotAStateFile(path);
            return false;
        }
        // Loading the memory without the RESET line it was kept with would start a target
        // that was held, or hold one that ran.
        bool whole =
            bytes.size() - registersAt == kRegistersTagSize + records * kRegistersRecordSize;
        for (std::size_t record = 0; whole && record < records; ++record) {
            whole = BaseAt(bytes, kStateMagicSize + record * kStateRecordSize) ==
                    BaseAt(bytes, registersAt + kRegistersTagSize + record * kRegistersRecordSize);
        }
        if (!whole) {
            error = "simulator state file " + path +
                    " is damaged: the registers kept after the memory are cut short or belong "
                    "to other devices (remove it to start afresh)";
            return false;
        }
    }
    std::lock_guard lock(mutex_);
    for (std::size_t record = 0; record < records; ++record) {
        const std::size_t at = kStateMagicSize + record * kStateRecordSize;
        SimEmulator* device = Find(BaseAt(bytes, at));
        if (!device) {
            continue;
        }
        std::memcpy(device->Memory().data(), bytes.data() + at + 2, SimEmulator::kMemorySize);
        if (registersKept) {
            const auto* kept = reinterpret_cast<const unsigned char*>(bytes.data()) + registersAt +
                               kRegistersTagSize + record * kRegistersRecordSize + 2;
            device->RestoreRegisters({kept[0], kept[1], kept[2], kept[3], kept[4]});
        }
    }
    return true;
}

std::string SimBus::StateBytes() {
    std::string contents(kStateMagic, kStateMagicSize);
    {
        std::lock_guard lock(mutex_);
        for (const auto& device : devices_) {
            contents.push_back(static_cast<char>(device->Base() & 0xFF));
            contents.push_back(static_cast<char>(device->Base() >> 8));
            contents.append(reinterpret_cast<const char*>(device->Memory().data()),
                            SimEmulator::kMemorySize);
        }
        contents.append(kRegistersTag, kRegistersTagSize);
        for (const auto& device : devices_) {
            const SimEmulator::Registers kept = device->SavedRegisters();
            for (const std::uint8_t byte :
                 {static_cast<std::uint8_t>(device->Base() & 0xFF),
                  static_cast<std::uint8_t>(device->Base() >> 8), kept.data, kept.control,
                  kept.config, kept.highAddress, kept.lowAddress}) {
                contents.push_back(static_cast<char>(byte));
            }
        }
    }
    return contents;
}

}  // namespace tarvex::sim
