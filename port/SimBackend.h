#pragma once

#include <memory>
#include <optional>
#include <string>

#include "port/PortBackend.h"
#include "sim/SimEmulator.h"

namespace tarvex::sim {

// The simulated emulator as a port backend: TARVEX_IO=sim[:DEVICES].
//   sim               one emulator at 0x378
//   sim:none          no emulator and no port anywhere
//   sim:0x278,0x3BC   emulators at these bases
//   sim:0x378/OPTS    options and faults after the base, e.g. 0x378/noreset/stuck1=5
// With a state path (TARVEX_SIM_STATE) the emulators' memory is loaded at open and kept
// at close, so separate runs see the same memory.
class SimBackend : public PortBackend {
  public:
    explicit SimBackend(std::shared_ptr<SimBus> bus, std::string statePath = {});
    ~SimBackend() override;

    // `devices` is what follows "sim:" (empty for plain "sim"). On a bad description
    // returns nullptr and fills `error`.
    static std::unique_ptr<SimBackend> Create(const std::string& devices,
                                              const std::string& statePath, std::string& error);

    bool Open(OpenFailure& failure) override;
    void Close() override;
    std::uint8_t Read(std::uint16_t port, std::uint32_t& error) override;
    void Write(std::uint16_t port, std::uint8_t value, std::uint32_t& error) override;
    std::optional<bool> HasPort(std::uint16_t base) const override;
    std::string FailureHint() const override;
    std::string Name() const override { return "sim"; }
    std::string Problem() const override { return saveError_; }

    SimBus& Bus() { return *bus_; }
    const std::shared_ptr<SimBus>& SharedBus() const { return bus_; }
    // The last failure to keep the state file at close; empty when none.
    const std::string& SaveError() const { return saveError_; }

  private:
    // Two runs on one state file take turns: each holds a lock on STATE.lock from open to
    // close, so neither loses what the other wrote.
    bool Lock(std::string& error);
    void Unlock();

    std::shared_ptr<SimBus> bus_;
    std::string statePath_;
    std::string saveError_;
    int lock_ = -1;
};

}  // namespace tarvex::sim
