#include "diag/MemoryTest.h"

#include <memory>

namespace tarvex {

MemoryTestCounts RunMemoryTest(EmulatorLink& link, TestRandom& random, MemoryTestView& view,
                               std::uint32_t passLimit) {
    ImageModel& model = link.Model();
    MemoryTestCounts counts;
    link.StopRequest = 0;

    const auto savedBuffer = std::make_unique<decltype(model.DataBuffer)>(model.DataBuffer);
    const struct {
        std::uint16_t type;
        std::uint32_t start, end, emulatorStart, hexBase;
    } saved{model.CurrentEpromType, model.BufferStart, model.BufferEnd, model.EmulatorStart,
            model.HexBase};

    // The largest type: the test always covers all of the emulator's memory.
    link.SetEpromType(27010);

    while (counts.executed < passLimit && link.StopRequest == 0) {
        for (std::uint32_t index = 0; index <= model.EpromEnd; ++index) {
            model.DataBuffer[index] = random.Next();
        }
        view.ShowPhase(MemoryTestPhase::Write);
        link.WriteEmulator(0, model.BufferEnd, 0);
        view.ShowPhase(MemoryTestPhase::Verify);
        const bool same = link.VerifyEmulator(0, model.BufferEnd, 0);
        if (!same && link.StopRequest != 0) {
            break;
        }
        ++(same ? counts.passed : counts.failed);
        ++counts.executed;
        view.ShowCounts(counts, same);
    }

    model.CurrentEpromType = saved.type;
    // With no type ever chosen the emulator stays set for the 27010; only the ranges return.
    if (!link.InvalidEpromType()) {
        link.SetEpromType(saved.type);
    }
    model.BufferStart = saved.start;
    model.BufferEnd = saved.end;
    model.EmulatorStart = saved.emulatorStart;
    model.HexBase = saved.hexBase;
    model.DataBuffer = *savedBuffer;
    return counts;
}

}  // namespace tarvex
