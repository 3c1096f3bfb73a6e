#pragma once

#include <cstdint>
#include <vector>

#include "link/Emulator.h"

namespace tarvex {

// A stretch of buffer indexes, both ends included.
struct ByteRun {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    bool operator==(const ByteRun&) const = default;
};

// The stretches of [first, last] where `before` and `after` differ.
std::vector<ByteRun> ChangedRuns(const std::uint8_t* before, const std::uint8_t* after,
                                 std::uint32_t first, std::uint32_t last);

// Writes only `runs` of the range that starts at buffer index `rangeStart` and goes to the
// emulator from `emulatorStart`: each run exactly as WriteEmulator writes that stretch, its
// own common start and end included, so the register sequences stay the transfers' own.
void WriteRuns(EmulatorLink& link, const std::vector<ByteRun>& runs, std::uint32_t rangeStart,
               std::uint32_t emulatorStart);

// Verifies only `runs`, each as VerifyEmulator would; false at the first run that differs.
bool VerifyRuns(EmulatorLink& link, const std::vector<ByteRun>& runs, std::uint32_t rangeStart,
                std::uint32_t emulatorStart);

}  // namespace tarvex
