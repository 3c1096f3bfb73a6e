// The two diagnostics on the simulated emulator, against the floor: the same accesses
// replayed straight on the simulator's bus.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/SimRig.h"
#include "diag/MemoryTest.h"
#include "diag/SignalsTest.h"
#include "image/ImageModel.h"
#include "link/Emulator.h"

namespace tarvex {
namespace {

constexpr std::uint16_t kBase = 0x378;
constexpr SignalLines kAllLines =
    kDataLines | kAutofeedLine | kInitLine | kSelectLine | kStrobeLine;

struct QuietView : MemoryTestView {
    bool allPassed = true;
    void ShowCounts(const MemoryTestCounts&, bool passed) override {
        allPassed = allPassed && passed;
    }
};

// One run of the test of argument-many passes, with its type selections (and their
// millisecond waits) and the save and restore of the image.
void MemoryTestRun(benchmark::State& state) {
    SimRig rig(27512);
    TestRandom random;
    QuietView view;
    const auto passes = static_cast<std::uint32_t>(state.range(0));
    for (auto _ : state) {
        RunMemoryTest(*rig.link, random, view, passes);
    }
    if (!view.allPassed) {
        state.SkipWithError("a pass failed on a clean simulator");
    }
    state.SetItemsProcessed(state.iterations() * passes);  // items/s: passes per second
}

void MemoryTestBareReplay(benchmark::State& state) {
    SimRig rig(27512);
    TestRandom random;
    QuietView view;
    const auto passes = static_cast<std::uint32_t>(state.range(0));
    const auto trace = rig.Record([&] { RunMemoryTest(*rig.link, random, view, passes); });
    for (auto _ : state) {
        rig.Replay(trace);
    }
    state.counters["accesses"] = static_cast<double>(trace.size());
    state.SetItemsProcessed(state.iterations() * passes);
}

// One iteration of the signals test with every line ticked.
void SignalsIteration(benchmark::State& state) {
    SimRig rig(27512);
    for (auto _ : state) {
        DriveSignalLines(*rig.port, kBase, kAllLines);
    }
    state.SetItemsProcessed(state.iterations());  // items/s: iterations per second
}

void SignalsBareReplay(benchmark::State& state) {
    SimRig rig(27512);
    const auto trace = rig.Record([&] { DriveSignalLines(*rig.port, kBase, kAllLines); });
    for (auto _ : state) {
        rig.Replay(trace);
    }
    state.counters["accesses"] = static_cast<double>(trace.size());
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(MemoryTestRun)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);
BENCHMARK(MemoryTestBareReplay)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);
BENCHMARK(SignalsIteration);
BENCHMARK(SignalsBareReplay);

}  // namespace
}  // namespace tarvex

BENCHMARK_MAIN();
