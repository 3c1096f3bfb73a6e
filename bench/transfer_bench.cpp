// Port accesses and block transfers on the simulated emulator, against the floor: the
// same access sequence replayed straight on the simulator's bus.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "bench/SimRig.h"
#include "image/ImageModel.h"
#include "link/Emulator.h"

namespace {
std::atomic<bool> countingAllocations{false};
std::atomic<long> allocations{0};
}  // namespace

// Counted while a transfer runs: the per-byte loops must not allocate.
[[gnu::noinline]] void* operator new(std::size_t size) {
    if (countingAllocations.load(std::memory_order_relaxed)) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
    if (void* memory = std::malloc(size ? size : 1)) {
        return memory;
    }
    throw std::bad_alloc();
}
// Not inlined: g++ would then see free() on a pointer from operator new and warn.
[[gnu::noinline]] void operator delete(void* memory) noexcept {
    std::free(memory);
}
[[gnu::noinline]] void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

namespace tarvex {
namespace {

constexpr std::uint16_t kBase = 0x378;

// The core on a simulated emulator at 0x378, configured for a 27010 with a full image.
struct Rig : SimRig {
    Rig() : SimRig(27010) { FillImage(); }
};

void PortAccessThroughTIoPort(benchmark::State& state) {
    Rig rig;
    constexpr int kPairs = 1024;
    for (auto _ : state) {
        for (int i = 0; i < kPairs; ++i) {
            rig.port->WritePort(kBase + 2, control::kLow);
            benchmark::DoNotOptimize(rig.port->ReadPort(kBase + 1));
        }
    }
    state.SetItemsProcessed(state.iterations() * kPairs * 2);
}

void PortAccessOnBareBus(benchmark::State& state) {
    Rig rig;
    constexpr int kPairs = 1024;
    for (auto _ : state) {
        for (int i = 0; i < kPairs; ++i) {
            rig.bus->Write(kBase + 2, control::kLow);
            benchmark::DoNotOptimize(rig.bus->Read(kBase + 1));
        }
    }
    state.SetItemsProcessed(state.iterations() * kPairs * 2);
}

template <bool Verify>
void TransferFull27010(benchmark::State& state) {
    Rig rig;
    rig.link->WriteEmulator(0, rig.model->EpromEnd, 0);
    const std::size_t accesses = rig.Record([&] {
                                        if (Verify) {
                                            rig.link->VerifyEmulator(0, rig.model->EpromEnd, 0);
                                        } else {
                                            rig.link->WriteEmulator(0, rig.model->EpromEnd, 0);
                                        }
                                    })
                                     .size();
    allocations = 0;
    bool verified = true;
    for (auto _ : state) {
        countingAllocations = true;
        if (Verify) {
            verified = rig.link->VerifyEmulator(0, rig.model->EpromEnd, 0) && verified;
        } else {
            rig.link->WriteEmulator(0, rig.model->EpromEnd, 0);
        }
        countingAllocations = false;
    }
    if (!verified) {
        state.SkipWithError("verify failed");
    }
    if (allocations != 0) {
        state.SkipWithError("the transfer allocated memory");
    }
    state.counters["accesses"] = static_cast<double>(accesses);
    state.counters["allocations"] = static_cast<double>(allocations.load());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(accesses));
    state.SetBytesProcessed(state.iterations() * (rig.model->EpromEnd + 1));
}

// The window's read runs to its end; the command line's looks at StopRequest before each
// byte (argument 1).
void ReadEmulator27010(benchmark::State& state) {
    Rig rig;
    const bool stoppable = state.range(0) != 0;
    for (auto _ : state) {
        rig.link->ReadEmulator(0, rig.model->EpromEnd, 0, stoppable);
    }
    state.SetBytesProcessed(state.iterations() * (rig.model->EpromEnd + 1));
}

// The floor: the recorded sequence of one transfer, straight on the bus, no core code.
template <bool Verify>
void BareReplayFull27010(benchmark::State& state) {
    Rig rig;
    rig.link->WriteEmulator(0, rig.model->EpromEnd, 0);
    const std::vector<sim::Access> trace = rig.Record([&] {
        if (Verify) {
            rig.link->VerifyEmulator(0, rig.model->EpromEnd, 0);
        } else {
            rig.link->WriteEmulator(0, rig.model->EpromEnd, 0);
        }
    });
    sim::SimBus& bus = *rig.bus;
    for (auto _ : state) {
        for (const sim::Access& access : trace) {
            if (access.write) {
                bus.Write(access.port, access.value);
            } else {
                benchmark::DoNotOptimize(bus.Read(access.port));
            }
        }
    }
    state.counters["accesses"] = static_cast<double>(trace.size());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(trace.size()));
    state.SetBytesProcessed(state.iterations() * (rig.model->EpromEnd + 1));
}

BENCHMARK(PortAccessThroughTIoPort);
BENCHMARK(PortAccessOnBareBus);
BENCHMARK(TransferFull27010<false>)->Name("WriteEmulator27010")->Unit(benchmark::kMillisecond);
BENCHMARK(BareReplayFull27010<false>)->Name("BareReplayWrite27010")->Unit(benchmark::kMillisecond);
BENCHMARK(ReadEmulator27010)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(TransferFull27010<true>)->Name("VerifyEmulator27010")->Unit(benchmark::kMillisecond);
BENCHMARK(BareReplayFull27010<true>)->Name("BareReplayVerify27010")->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarvex

BENCHMARK_MAIN();
