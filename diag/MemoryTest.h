#pragma once

#include <cstdint>

#include "link/Emulator.h"

namespace tarvex {

// The pseudo-random bytes of the memory test: a 32-bit linear congruential generator whose
// byte is the top 8 bits of the new seed. One per program run, never reseeded, so every pass
// and every run of the test gets new data.
class TestRandom {
  public:
    static constexpr std::uint32_t kMultiplier = 134775813;  // 0x08088405

    std::uint8_t Next() {
        seed_ = seed_ * kMultiplier + 1;
        return static_cast<std::uint8_t>(seed_ >> 24);
    }

  private:
    std::uint32_t seed_ = 0;
};

inline constexpr std::uint32_t kMemoryTestPassLimit = 1000000;

struct MemoryTestCounts {
    std::uint32_t executed = 0;
    std::int32_t passed = 0;
    std::int32_t failed = 0;
};

enum class MemoryTestPhase { Write, Verify };

// What the memory test shows while it runs.
class MemoryTestView {
  public:
    virtual ~MemoryTestView() = default;
    virtual void ShowPhase(MemoryTestPhase /*phase*/) {}
    // After every finished pass; `passed` is that pass's verify result. The model's
    // DataBuffer still holds the pass's data here.
    virtual void ShowCounts(const MemoryTestCounts& /*counts*/, bool /*passed*/) {}
};

// Fills the whole 128 KiB with random data, writes and verifies it, pass after pass, until
// StopRequest is set or `passLimit` passes are done. The image, its ranges and the type are
// the user's again afterwards; the emulator keeps the last pass's data. A pass cut short by
// StopRequest is not counted: it says nothing about the memory.
MemoryTestCounts RunMemoryTest(EmulatorLink& link, TestRandom& random, MemoryTestView& view,
                               std::uint32_t passLimit = kMemoryTestPassLimit);

}  // namespace tarvex
