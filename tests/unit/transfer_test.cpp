#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "support/SimRig.h"

namespace tarvex {
namespace {

using ::testing::ElementsAreArray;
using testing::SimRig;

// A rig with the emulator found and a type selected.
std::unique_ptr<SimRig> Ready(std::uint16_t type, const std::string& devices = "") {
    auto rig = std::make_unique<SimRig>(devices);
    rig->link->DetectEmulator();
    rig->link->SetEpromType(type);
    rig->bus->SetTracing(true);
    return rig;
}

std::size_t Count(const std::vector<std::string>& trace, const std::string& line) {
    return static_cast<std::size_t>(std::count(trace.begin(), trace.end(), line));
}

// Every data-register write that directly precedes a configuration strobe.
std::vector<std::string> ConfigBytes(const std::vector<std::string>& trace) {
    std::vector<std::string> bytes;
    std::string lastData;
    for (const auto& line : trace) {
        if (line.rfind("W 0378 ", 0) == 0) {
            lastData = line.substr(7);
        } else if (line == "W 037A 08") {
            bytes.push_back(lastData);
        }
    }
    return bytes;
}

TEST(WriteEmulator, ExactSequenceAcrossAPageBoundary) {
    auto rig = Ready(27010);
    rig->model.DataBuffer[0x10] = 0xA5;
    rig->model.DataBuffer[0x11] = 0x3C;
    rig->link->WriteEmulator(0x10, 0x11, 0xFF);
    const std::vector<std::string> expected = {
        // common start at address 0x00FF
        "W 0378 00", "W 037A 08", "W 037A 00", "W 037A 02", "W 0378 00", "W 037A 0A", "W 037A 02",
        "W 037A 04",
        // 0x00FF: low latch, memory write
        "W 0378 FF", "W 037A 0C", "W 037A 04", "W 037A 06", "W 0378 A5", "W 037A 0E", "W 037A 06",
        "W 037A 04",
        // 0x0100: low latch, new page (high latch, configuration), memory write
        "W 0378 00", "W 037A 0C", "W 037A 04", "W 0378 01", "W 037A 02", "W 037A 0A", "W 037A 02",
        "W 037A 00", "W 0378 00", "W 037A 08", "W 037A 00", "W 037A 06", "W 0378 3C", "W 037A 0E",
        "W 037A 06", "W 037A 04",
        // common end: the type's own configuration byte
        "W 0378 08", "W 037A 00", "W 037A 08", "W 037A 00"};
    EXPECT_THAT(rig->Trace(), ElementsAreArray(expected));
    rig->bus->WithDevice(0x378, [](sim::SimEmulator* device) {
        EXPECT_EQ(device->Memory()[0xFF], 0xA5);
        EXPECT_EQ(device->Memory()[0x100], 0x3C);
        EXPECT_EQ(device->Control(), 0x00);  // target left in RESET
    });
}

TEST(ReadEmulator, ExactSequenceAndNibbleAssembly) {
    auto rig = Ready(2764);
    rig->bus->WithDevice(0x378, [](sim::SimEmulator* device) { device->Memory()[0x1FF] = 0x9E; });
    rig->bus->SetTracing(true);
    rig->link->ReadEmulator(0x1FF, 0x1FF, 0x1FF);
    const std::vector<std::string> expected = {
        "W 0378 16", "W 037A 08", "W 037A 00", "W 037A 02", "W 0378 01", "W 037A 0A", "W 037A 02",
        "W 037A 04", "W 0378 FF", "W 037A 0C", "W 037A 04", "W 037A 02", "R 0379 CF", "W 037A 04",
        "R 0379 F7", "W 0378 16", "W 037A 00", "W 037A 08", "W 037A 00"};
    EXPECT_THAT(rig->Trace(), ElementsAreArray(expected));
    EXPECT_EQ(rig->model.DataBuffer[0x1FF], 0x9E);
}

TEST(WriteEmulator, A27010CarriesAddressBit16InTheConfigurationByte) {
    auto rig = Ready(27010);
    rig->link->WriteEmulator(0, 0x1FFFF, 0);
    const auto configs = ConfigBytes(rig->Trace());
    ASSERT_EQ(configs.size(), 1u + 512 + 1);
    EXPECT_EQ(configs.front(), "00");
    EXPECT_EQ(std::count(configs.begin() + 1, configs.begin() + 257, "00"), 256);
    EXPECT_EQ(std::count(configs.begin() + 257, configs.begin() + 513, "08"), 256);
    EXPECT_EQ(configs.back(), "08");
}

TEST(WriteEmulator, A27512StrobesTheHighLatch257TimesAndNeverSetsBit3) {
    auto rig = Ready(27512);
    rig->link->WriteEmulator(0, 0xFFFF, 0);
    const auto trace = rig->Trace();
    EXPECT_EQ(Count(trace, "W 037A 0A"), 257u);
    for (const auto& config : ConfigBytes(trace)) {
        EXPECT_EQ(config, "00");
    }
    // 8 writes a byte, 8 more a page, 8 at the start and 4 at the end.
    EXPECT_EQ(trace.size(), 0x10000u * 8 + 256 * 8 + 8 + 4);
}

TEST(Transfers, AccessCountsPerByteAndPage) {
    auto rig = Ready(27256);
    rig->link->ReadEmulator(0, 0x7FFF, 0);
    EXPECT_EQ(rig->bus->ReadCount() + rig->bus->WriteCount() > 0, true);
    const auto trace = rig->Trace();
    const auto reads =
        std::count_if(trace.begin(), trace.end(), [](const auto& l) { return l[0] == 'R'; });
    EXPECT_EQ(reads, 0x8000 * 2);
    EXPECT_EQ(trace.size() - reads, 0x8000u * 5 + 128 * 8 + 8 + 4);
}

TEST(Transfers, ProgressStepsOncePerPageAndEndsAtZero) {
    struct Row {
        std::uint32_t first, last;
        int maximum;
        std::size_t steps;
    };
    for (const Row& row : {Row{0, 0x1FFF, 31, 32}, Row{0, 0xFE, 0, 0}, Row{0x10, 0x11F, 1, 1}}) {
        auto rig = Ready(2764);
        rig->link->WriteEmulator(row.first, row.last, 0);
        EXPECT_EQ(rig->host.progressMaximum, row.maximum) << row.last;
        ASSERT_EQ(rig->host.progressPositions.size(), row.steps + 2) << row.last;
        EXPECT_EQ(rig->host.progressPositions.back(), 0);
        EXPECT_EQ(rig->host.progressPositions[row.steps], static_cast<int>(row.steps));
    }
}

TEST(Transfers, NarrowedRangeStartsAtEmulatorAddressZero) {
    auto rig = Ready(27128);
    for (std::uint32_t i = 0x100; i <= 0x1FF; ++i) {
        rig->model.DataBuffer[i] = static_cast<std::uint8_t>(i * 7);
    }
    rig->link->WriteEmulator(0x100, 0x1FF, 0);
    rig->bus->WithDevice(0x378, [](sim::SimEmulator* device) {
        EXPECT_EQ(device->Memory()[0x00], 0x00);
        EXPECT_EQ(device->Memory()[0x01], 0x07);
        EXPECT_EQ(device->Memory()[0xFF], static_cast<std::uint8_t>(0x1FF * 7));
        EXPECT_EQ(device->Memory()[0x100], 0x00);  // nothing past the range
    });
    EXPECT_TRUE(rig->link->VerifyEmulator(0x100, 0x1FF, 0));
}

TEST(Transfers, StopAlreadySetWritesNothingAndFailsVerify) {
    auto rig = Ready(2764);
    rig->model.DataBuffer.fill(0x42);
    rig->link->StopRequest = 1;
    rig->link->WriteEmulator(0, 0x1FFF, 0);
    auto trace = rig->Trace();
    EXPECT_EQ(Count(trace, "W 037A 0E"), 0u);
    EXPECT_EQ(trace.size(), 8u + 4);  // common start and end only
    EXPECT_FALSE(rig->link->VerifyEmulator(0, 0x1FFF, 0));
    trace = rig->Trace();
    EXPECT_EQ(trace.size(), 8u + 4);
    // Read ignores the stop flag.
    rig->link->ReadEmulator(0, 0xFF, 0);
    EXPECT_EQ(rig->model.DataBuffer[0], 0x00);
}

TEST(VerifyEmulator, ComparesOnlyTheRange) {
    auto rig = Ready(2764);
    rig->link->WriteEmulator(0, 0x1FFF, 0);
    rig->bus->WithDevice(0x378, [](sim::SimEmulator* device) { device->Memory()[0x1FFF] ^= 0x80; });
    EXPECT_FALSE(rig->link->VerifyEmulator(0, 0x1FFF, 0));  // the last index differs
    EXPECT_TRUE(rig->link->VerifyEmulator(0, 0x1FFE, 0));   // only outside the range
    EXPECT_TRUE(rig->link->VerifyEmulator(5, 4, 0));        // empty range: nothing differed
}

struct RoundTrip {
    const char* name;
    std::uint16_t type;
    std::uint32_t first, last;
};

class RoundTripTest : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(RoundTripTest, WriteReadBackVerify) {
    const RoundTrip& row = GetParam();
    auto rig = Ready(row.type);
    rig->bus->SetTracing(false);
    std::mt19937 random(row.type);
    for (auto& byte : rig->model.DataBuffer) {
        byte = static_cast<std::uint8_t>(random());
    }
    const auto image = rig->model.DataBuffer;
    rig->link->WriteEmulator(row.first, row.last, 0);
    EXPECT_TRUE(rig->link->VerifyEmulator(row.first, row.last, 0));
    std::fill(rig->model.DataBuffer.begin(), rig->model.DataBuffer.end(), 0);
    rig->link->ReadEmulator(row.first, row.last, 0);
    EXPECT_TRUE(std::equal(image.begin() + row.first, image.begin() + row.last + 1,
                           rig->model.DataBuffer.begin() + row.first));
    if (row.last + 1 < ImageModel::kBufferSize) {
        EXPECT_EQ(rig->model.DataBuffer[row.last + 1], 0);  // nothing read past the range
    }
}

INSTANTIATE_TEST_SUITE_P(Types, RoundTripTest,
                         ::testing::Values(RoundTrip{"Full2764", 2764, 0, 0x1FFF},
                                           RoundTrip{"Full27128", 27128, 0, 0x3FFF},
                                           RoundTrip{"Full27256", 27256, 0, 0x7FFF},
                                           RoundTrip{"Full27512", 27512, 0, 0xFFFF},
                                           RoundTrip{"Full27010", 27010, 0, 0x1FFFF},
                                           RoundTrip{"Narrow2764", 2764, 0x100, 0x1FF},
                                           RoundTrip{"OddRange27010", 27010, 0x123, 0x10456},
                                           RoundTrip{"OneByte", 27512, 0x7777, 0x7777}),
                         [](const auto& row) { return std::string(row.param.name); });

struct Fault {
    const char* name;
    const char* devices;
};

class FaultTest : public ::testing::TestWithParam<Fault> {};

TEST_P(FaultTest, VerifyCatchesIt) {
    auto rig = Ready(27010, GetParam().devices);
    ASSERT_TRUE(rig->link->EmulatorPresent());
    rig->bus->SetTracing(false);
    std::mt19937 random(7);
    for (auto& byte : rig->model.DataBuffer) {
        byte = static_cast<std::uint8_t>(random());
    }
    rig->link->WriteEmulator(0, 0x1FFFF, 0);
    EXPECT_FALSE(rig->link->VerifyEmulator(0, 0x1FFFF, 0));
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultTest,
                         ::testing::Values(Fault{"StuckHighDataLine", "0x378/stuck1=6"},
                                           Fault{"StuckLowDataLine", "0x378/stuck0=7"},
                                           Fault{"FlippedDataLine", "0x378/flip=5"},
                                           Fault{"BadCell", "0x378/bad=0x1ABCD"},
                                           Fault{"FlakyNibbles", "0x378/flaky=2"},
                                           Fault{"CablePulled", "0x378/pull=100000"}),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace tarvex
