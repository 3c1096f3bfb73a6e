#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "diag/MemoryTest.h"
#include "diag/SignalsTest.h"
#include "support/SimRig.h"

namespace tarvex {
namespace {

using testing::Ready;
using testing::SimRig;

constexpr auto RowName = [](const auto& row) { return std::string(row.param.name); };

// Counts the phases and can pull the Stop button at a chosen moment.
struct ScriptedMemoryView : MemoryTestView {
    explicit ScriptedMemoryView(EmulatorLink& testedLink) : link(testedLink) {}
    void ShowPhase(MemoryTestPhase phase) override {
        phases.push_back(phase);
        if (stopAtPhase == phases.size()) {
            link.StopRequest = 1;
        }
    }
    void ShowCounts(const MemoryTestCounts& counts, bool passed) override {
        shown.push_back(counts);
        results.push_back(passed);
    }
    EmulatorLink& link;
    std::size_t stopAtPhase = 0;  // 1-based; 0: never
    std::vector<MemoryTestPhase> phases;
    std::vector<MemoryTestCounts> shown;
    std::vector<bool> results;
};

struct MemoryCase {
    const char* name;
    const char* devices;  // the simulator at 0x378 and its faults
    std::uint16_t type;   // selected before the test; 0: never
    std::uint32_t start, end, passes;
    std::int32_t passed, failed;
    std::uint32_t epromEndAfter;
    std::uint8_t configAfter;  // the emulator's configuration latch afterwards
};

class MemoryTestRun : public ::testing::TestWithParam<MemoryCase> {};

TEST_P(MemoryTestRun, CountsPassesAndGivesBackImageRangesAndType) {
    const MemoryCase& row = GetParam();
    auto rig = Ready(row.type, row.devices, false);
    ASSERT_TRUE(rig->link.EmulatorPresent());
    rig->model.BufferStart = row.start;
    rig->model.BufferEnd = row.end;
    std::generate(rig->model.DataBuffer.begin(), rig->model.DataBuffer.end(),
                  [i = 0]() mutable { return static_cast<std::uint8_t>(i++ * 13 + 7); });
    const auto image = rig->model.DataBuffer;

    TestRandom random;
    ScriptedMemoryView view(rig->link);
    const MemoryTestCounts counts = RunMemoryTest(rig->link, random, view, row.passes);

    EXPECT_EQ(std::tuple(counts.executed, counts.passed, counts.failed),
              std::tuple(row.passes, row.passed, row.failed));
    ASSERT_EQ(view.shown.size(), row.passes);
    EXPECT_EQ(view.shown.back().executed, row.passes);
    EXPECT_EQ(std::count(view.results.begin(), view.results.end(), false), row.failed);
    EXPECT_EQ(std::tuple(rig->model.CurrentEpromType, rig->model.BufferStart, rig->model.BufferEnd,
                         rig->model.EpromEnd),
              std::tuple(row.type, row.start, row.end, row.epromEndAfter));
    EXPECT_EQ(rig->Device()->ConfigLatch(), row.configAfter);
    EXPECT_TRUE(rig->model.DataBuffer == image) << "the user's image was not given back";
    // The emulator keeps the random data, all 128 KiB of it, whatever the type was: a good
    // one holds the last pass's bytes in every cell, the last one too.
    if (row.failed == 0) {
        TestRandom replay;
        std::vector<std::uint8_t> last(0x20000);
        for (std::uint32_t pass = 0; pass < row.passes; ++pass) {
            std::generate(last.begin(), last.end(), [&] { return replay.Next(); });
        }
        EXPECT_TRUE(std::equal(last.begin(), last.end(), rig->Device()->Memory().begin()));
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, MemoryTestRun, ::testing::Values(
    MemoryCase{"CleanDeviceOnly0k", "0x378", 27010, 0, 0x1FFFF, 3, 3, 0, 0x1FFFF, 0x08},
    MemoryCase{"BadCellFailsEveryPassAndGoesOn", "0x378/bad=0x123", 27010, 0, 0x1FFFF, 3, 0, 3,
               0x1FFFF, 0x08},
    MemoryCase{"NarrowedRangeOf2764ComesBack", "0x378", 2764, 0x100, 0x1FF, 1, 1, 0, 0x1FFF, 0x16},
    MemoryCase{"NoTypeLeavesThe27010ButGivesBackRanges", "0x378", 0, 0x10, 0x20, 1, 1, 0, 0x1FFFF,
               0x08}), RowName);
// clang-format on

TEST(MemoryTest, ASecondRunCarriesOnWithTheGenerator) {
    auto rig = Ready(0, "", false);
    TestRandom random;
    ScriptedMemoryView view(rig->link);
    RunMemoryTest(rig->link, random, view, 1);
    const auto firstPass = rig->Device()->Memory();
    RunMemoryTest(rig->link, random, view, 1);
    EXPECT_FALSE(rig->Device()->Memory() == firstPass);
}

// A pass the user cuts short proves nothing either way, and a stop ends the run at once.
TEST(MemoryTest, CutPassIsNotCountedAndNoPassFollows) {
    // stop at this phase (see ScriptedMemoryView), passes counted
    const std::tuple<const char*, std::size_t, std::uint32_t> rows[] = {
        {"in the first write", 1, 0}, {"in the first verify", 2, 0}, {"in the third write", 5, 2}};
    for (const auto& [name, stopAtPhase, executed] : rows) {
        SCOPED_TRACE(name);
        auto rig = Ready(27256, "", false);
        TestRandom random;
        ScriptedMemoryView view(rig->link);
        view.stopAtPhase = stopAtPhase;
        const MemoryTestCounts counts = RunMemoryTest(rig->link, random, view, 10);
        EXPECT_EQ(std::pair(counts.executed, counts.failed), std::pair(executed, 0));
        EXPECT_EQ(view.phases.size(), stopAtPhase + (stopAtPhase % 2));
        EXPECT_EQ(rig->model.EpromEnd, 0x7FFFu);
    }
}

TEST(SignalsTest, EachStepIsOneWriteAndOtherBitsKeepTheirState) {
    // Autofeed, select and strobe go clear, set, clear, set; init (inverted) set, clear, ...
    // clang-format off
    const std::tuple<SignalLines, std::uint8_t, const char*, std::uint8_t> rows[] = {
        // ticked, control before, trace, control after
        {0, 0x04, "", 0x04}, {kDataLines, 0x04, "D55 DAA D00 DFF", 0x04},
        {kAutofeedLine, 0x0F, "R0F C0D R0D C0F R0F C0D R0D C0F", 0x0F},
        {kInitLine, 0x09, "R09 C0D R0D C09 R09 C0D R0D C09", 0x09},
        {kSelectLine, 0x00, "R00 C00 R00 C08 R08 C00 R00 C08", 0x08},
        {kStrobeLine, 0x0E, "R0E C0E R0E C0F R0F C0E R0E C0F", 0x0F},
        {kDataLines | kAutofeedLine | kInitLine | kSelectLine | kStrobeLine, 0x04,  // fixed order
         "D55 DAA D00 DFF R04 C04 R04 C06 R06 C04 R04 C06 R06 C06 R06 C02 R02 C06 R06 C02 R02 C02 "
         "R02 C0A R0A C02 R02 C0A R0A C0A R0A C0B R0B C0A R0A C0B", 0x0B}};
    // clang-format on
    for (const auto& [lines, before, trace, after] : rows) {
        SimRig rig("0x378");
        rig.port->WritePort(0x37A, before);
        rig.bus->SetTracing(true);
        DriveSignalLines(*rig.port, 0x378, lines);
        EXPECT_EQ(rig.Trace(), trace);
        EXPECT_EQ(rig.Device()->Control(), after) << trace;
    }
}

const std::string kOff = "suspended", kEmpty = "running, empty", kTrace = "running, trace";

// Plays the user: each event pass runs the next action of the script; the window closes
// when the script is used up.
struct ScriptedSignalsView : SignalsTestView {
    using Action = std::function<void(ScriptedSignalsView&)>;
    ScriptedSignalsView(EmulatorLink& testedLink, std::vector<Action> script)
        : link(testedLink), actions(std::move(script)) {}

    bool Visible() const override { return visible; }
    SignalLines Ticked() const override { return ticked; }
    void ProcessEvents(bool wait) override {
        waits.push_back(wait);
        next < actions.size() ? actions[next++](*this) : void(visible = false);  // or "&Exit"
    }
    void ShowSuspended() override { shown.push_back(kOff); }
    void ShowRunning(bool driving) override { shown.push_back(driving ? kTrace : kEmpty); }

    EmulatorLink& link;
    std::vector<Action> actions;
    std::size_t next = 0;
    bool visible = true;
    SignalLines ticked = 0;
    std::vector<bool> waits;
    std::vector<std::string> shown;
};

using Action = ScriptedSignalsView::Action;
const Action kIdle = [](auto&) {};
const Action kRun = [](auto& view) { view.link.StopRequest = 0; };
const Action kStop = [](auto& view) { view.link.StopRequest = 1; };
Action Tick(SignalLines lines) {
    return [lines](auto& view) { view.ticked = lines; };
}

struct LoopCase {
    const char* name;
    std::vector<Action> script;
    std::vector<std::string> shown;
    std::vector<bool> waits;
    std::ptrdiff_t dataWrites;
    std::uint16_t type = 0;  // selected before, with a narrowed range; 0: none
};

class SignalsLoop : public ::testing::TestWithParam<LoopCase> {};

TEST_P(SignalsLoop, DrivesOnlyWhileRunningAndSleepsWhileSuspended) {
    const LoopCase& row = GetParam();
    auto rig = Ready(row.type);
    if (row.type != 0) {
        rig->model.BufferStart = 0x100;
        rig->model.BufferEnd = 0x1FF;
        rig->model.DataBuffer[0x150] = 0x12;
    }
    ScriptedSignalsView view(rig->link, row.script);
    RunSignalsTest(rig->link, view);
    EXPECT_EQ(view.shown, row.shown);
    EXPECT_EQ(view.waits, row.waits);
    const auto trace = rig->bus->TakeTrace();
    EXPECT_EQ(std::ranges::count_if(trace, [](auto& at) { return at.write && at.port == 0x378; }),
              row.dataWrites);  // with no type nothing is selected at the end
    EXPECT_EQ(rig->link.StopRequest, 0);
    if (row.type != 0) {  // selected again: the strobe pulses latched the data pattern
        EXPECT_EQ(rig->Device()->ConfigLatch(), 0x00);
        EXPECT_EQ(std::pair(rig->model.BufferStart, rig->model.BufferEnd), std::pair(0u, 0xFFFFu));
        EXPECT_EQ(rig->model.DataBuffer[0x150], rig->model.FillValue);
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, SignalsLoop, ::testing::Values(
    LoopCase{"NothingBeforeRun", {Tick(kDataLines), kIdle, kIdle}, {kOff, kOff, kOff, kOff},
             {false, true, true, true}, 0},
    LoopCase{"RunWithNothingTickedWritesNothing", {kRun, kIdle}, {kEmpty, kEmpty, kEmpty},
             {false, false, false}, 0},
    LoopCase{"DataEveryIterationUntilStopped", {Tick(kDataLines), kRun, kIdle, kStop, kIdle},
             {kOff, kTrace, kTrace, kOff, kOff, kOff}, {false, true, false, false, true, true}, 8},
    // "&Exit" while running: the iteration in progress still drives the lines.
    LoopCase{"ExitWhileRunningFinishesTheIterationAndSelectsTheTypeAgain",
             {kRun, Tick(kStrobeLine | kDataLines)}, {kEmpty, kTrace, kTrace},
             {false, false, false}, 8 + 2, 27512}), RowName);
// clang-format on

}  // namespace
}  // namespace tarvex
