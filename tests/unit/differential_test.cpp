// Writing only what changed: the runs found, what reaches the emulator, and the exact
// register sequences of each run.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "link/Differential.h"
#include "support/SimRig.h"

namespace tarvex {
namespace {

using testing::Ready;

struct DiffCase {
    const char* name;
    std::uint16_t type;
    std::uint32_t start, end;            // the range
    std::vector<std::uint32_t> changed;  // buffer indexes that get a new byte
    std::vector<ByteRun> runs;
};

class DifferentialTest : public ::testing::TestWithParam<DiffCase> {};

// The emulator ends up holding the new image, written run by run with the transfer's own
// sequences; nothing outside the runs is touched.
TEST_P(DifferentialTest, WritesOnlyTheChangedRunsWithTheTransfersOwnSequences) {
    const DiffCase& row = GetParam();
    auto rig = Ready(row.type, "", false);
    std::ranges::generate(rig->model.DataBuffer, [random = std::mt19937(row.type)]() mutable {
        return static_cast<std::uint8_t>(random());
    });
    rig->link.WriteEmulator(row.start, row.end, 0);
    const auto before = rig->model.DataBuffer;
    for (const std::uint32_t index : row.changed) {
        rig->model.DataBuffer[index] = static_cast<std::uint8_t>(~before[index]);
    }
    const std::vector<ByteRun> runs =
        ChangedRuns(before.data(), rig->model.DataBuffer.data(), row.start, row.end);
    EXPECT_EQ(runs, row.runs);

    // What each run must look like on the cable: a lone WriteEmulator of that stretch on a
    // second emulator.
    std::string expected;
    auto alone = Ready(row.type);
    alone->model.DataBuffer = rig->model.DataBuffer;
    for (const ByteRun& run : runs) {
        alone->link.WriteEmulator(run.first, run.last, run.first - row.start);
        expected += (expected.empty() ? "" : " ") + alone->Trace();
    }
    rig->bus->SetTracing(true);
    WriteRuns(rig->link, runs, row.start, 0);
    EXPECT_EQ(rig->Trace(), expected);
    EXPECT_TRUE(rig->link.VerifyEmulator(row.start, row.end, 0));
    EXPECT_TRUE(VerifyRuns(rig->link, runs, row.start, 0));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Changes, DifferentialTest, ::testing::Values(
    DiffCase{"NothingChanged", 2764, 0, 0x1FFF, {}, {}},
    DiffCase{"AcrossAddressBit16", 27010, 0, 0x1FFFF, {0xFFFF, 0x10000, 0x10001},
             {{0xFFFF, 0x10001}}},
    DiffCase{"RunAbove64KiB", 27010, 0, 0x1FFFF, {0x10005}, {{0x10005, 0x10005}}},
    DiffCase{"SeveralRunsInANarrowedRange", 27512, 0x100, 0x1FF, {0x100, 0x102, 0x103, 0x1FF},
             {{0x100, 0x100}, {0x102, 0x103}, {0x1FF, 0x1FF}}}),
    [](const auto& row) { return std::string(row.param.name); });
// clang-format on

TEST(Differential, AStopRequestedWritesNothingMore) {
    auto rig = Ready(27010);
    rig->link.StopRequest = 1;
    WriteRuns(rig->link, {{0x10005, 0x10005}}, 0, 0);
    EXPECT_EQ(rig->Trace(), "");
}

}  // namespace
}  // namespace tarvex
