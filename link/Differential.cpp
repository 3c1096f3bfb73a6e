#include "link/Differential.h"

namespace tarvex {

std::vector<ByteRun> ChangedRuns(const std::uint8_t* before, const std::uint8_t* after,
                                 std::uint32_t first, std::uint32_t last) {
    std::vector<ByteRun> runs;
    for (std::uint64_t index = first; index <= last; ++index) {
        if (before[index] == after[index]) {
            continue;
        }
        const auto at = static_cast<std::uint32_t>(index);
        if (!runs.empty() && runs.back().last + 1 == at) {
            runs.back().last = at;
        } else {
            runs.push_back({at, at});
        }
    }
    return runs;
}

void WriteRuns(EmulatorLink& link, const std::vector<ByteRun>& runs, std::uint32_t rangeStart,
               std::uint32_t emulatorStart) {
    for (const ByteRun& run : runs) {
        if (link.StopRequest.load() != 0) {
            return;
        }
        link.WriteEmulator(run.first, run.last, emulatorStart + (run.first - rangeStart));
    }
}

bool VerifyRuns(EmulatorLink& link, const std::vector<ByteRun>& runs, std::uint32_t rangeStart,
                std::uint32_t emulatorStart) {
    for (const ByteRun& run : runs) {
        if (!link.VerifyEmulator(run.first, run.last, emulatorStart + (run.first - rangeStart))) {
            return false;
        }
    }
    return true;
}

}  // namespace tarvex
