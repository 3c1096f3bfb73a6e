// One cycle of the edit loop on a 27010: what changed is written, then verified (all of the
// range, or only what was written), against a full write and verify. The port accesses are
// the figure that matters on a real port, where one takes about 1 us: the counter
// real_port_ms gives that time. The measured time is the simulator's.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/SimRig.h"
#include "image/ImageModel.h"
#include "link/Differential.h"
#include "link/Emulator.h"

namespace tarvex {
namespace {

constexpr double kRealPortMicroseconds = 1.0;

// A 27010 whose image the emulator holds already.
struct Rig : SimRig {
    Rig() : SimRig(27010) {
        FillImage();
        link->WriteEmulator(0, model->EpromEnd, 0);
    }
};

// Arguments: the bytes changed (from 0x1000 on), and 1 to verify only what was written.
void EditCycle27010(benchmark::State& state) {
    Rig rig;
    const auto changed = static_cast<std::uint32_t>(state.range(0));
    const bool verifyChanged = state.range(1) != 0;
    const std::uint32_t last = rig.model->EpromEnd;
    ImageModel before = *rig.model;
    std::uint64_t accesses = 0;
    bool verified = true;
    for (auto _ : state) {
        state.PauseTiming();
        // The next edit: the bytes flip back and forth, so every cycle changes as many.
        ImageModel& image = *rig.model;
        for (std::uint32_t i = 0; i < changed; ++i) {
            const std::uint32_t at = (0x1000 + i) % (last + 1);
            image.DataBuffer[at] = static_cast<std::uint8_t>(~image.DataBuffer[at]);
        }
        const std::vector<ByteRun> runs =
            ChangedRuns(before.DataBuffer.data(), image.DataBuffer.data(), 0, last);
        rig.bus->ResetCounters();
        state.ResumeTiming();
        WriteRuns(*rig.link, runs, 0, 0);
        verified = (verifyChanged ? VerifyRuns(*rig.link, runs, 0, 0)
                                  : rig.link->VerifyEmulator(0, last, 0)) &&
                   verified;
        state.PauseTiming();
        accesses = rig.bus->ReadCount() + rig.bus->WriteCount();
        before = image;
        state.ResumeTiming();
    }
    if (!verified) {
        state.SkipWithError("verify failed");
    }
    state.counters["accesses"] = static_cast<double>(accesses);
    state.counters["real_port_ms"] = static_cast<double>(accesses) * kRealPortMicroseconds / 1000;
}

// The floor the edit loop is measured against: the whole range written and verified.
void FullWriteAndVerify27010(benchmark::State& state) {
    Rig rig;
    const std::uint32_t last = rig.model->EpromEnd;
    std::uint64_t accesses = 0;
    for (auto _ : state) {
        rig.bus->ResetCounters();
        rig.link->WriteEmulator(0, last, 0);
        benchmark::DoNotOptimize(rig.link->VerifyEmulator(0, last, 0));
        accesses = rig.bus->ReadCount() + rig.bus->WriteCount();
    }
    state.counters["accesses"] = static_cast<double>(accesses);
    state.counters["real_port_ms"] = static_cast<double>(accesses) * kRealPortMicroseconds / 1000;
}

BENCHMARK(EditCycle27010)
    ->ArgNames({"changed", "verify_changed"})
    ->Args({16, 0})
    ->Args({16, 1})
    ->Args({4096, 0})
    ->Args({4096, 1})
    ->Args({0x20000, 0})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(FullWriteAndVerify27010)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarvex

BENCHMARK_MAIN();
