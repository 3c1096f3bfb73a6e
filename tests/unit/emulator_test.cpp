#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "support/SimRig.h"

namespace tarvex {
namespace {

using ::testing::ElementsAre;
using testing::SimRig;

struct DetectCase {
    const char* name;
    const char* devices;
    bool present;
    std::uint16_t port;
};

class DetectTest : public ::testing::TestWithParam<DetectCase> {};

TEST_P(DetectTest, FindsTheFirstAnsweringStandardAddress) {
    SimRig rig(GetParam().devices);
    rig.link->DetectEmulator();
    EXPECT_EQ(rig.link->EmulatorPresent(), GetParam().present);
    EXPECT_EQ(rig.link->PortAddress(), GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, DetectTest,
    ::testing::Values(DetectCase{"At378After278Failed", "0x378", true, 0x378},
                      DetectCase{"At278WhenBothAnswer", "0x378,0x278", true, 0x278},
                      DetectCase{"At3BC", "0x3BC", true, 0x3BC},
                      DetectCase{"NoneAnswers", "none", false, 0x278},
                      DetectCase{"BarePortsOnly", "0x278/nodevice,0x378/nodevice", false, 0x278},
                      DetectCase{"EchoWithoutResetFeedbackPasses", "0x378/noreset", true, 0x378},
                      DetectCase{"EchoBrokenByStuckLine", "0x378/stuck1=2", false, 0x278},
                      DetectCase{"NonStandardBaseIgnored", "0xD010", false, 0x278}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(Detect, SequenceAtAnAnsweringPortEndsWithStrobeCleared) {
    SimRig rig("0x278");
    rig.bus->SetTracing(true);
    rig.link->DetectEmulator();
    auto trace = rig.Trace();
    ASSERT_EQ(trace.size(), 2u + 16 * 2 + 2);
    EXPECT_EQ(trace[0], "R 027A 00");
    EXPECT_EQ(trace[1], "W 027A 0C");
    for (int k = 0; k < 16; ++k) {
        char write[16], read[16];
        std::snprintf(write, sizeof write, "W 0278 %02X", k);
        std::snprintf(read, sizeof read, "R 0279 %02X", 0x80 | (k << 3) | 0x07);
        EXPECT_EQ(trace[2 + 2 * k], write);
        EXPECT_EQ(trace[3 + 2 * k], read);
    }
    EXPECT_EQ(trace[34], "R 027A 0C");
    EXPECT_EQ(trace[35], "W 027A 04");
}

TEST(Detect, RestoresControlRegistersWhereNothingAnswers) {
    SimRig rig("0x278/nodevice,0x378/nodevice,0x3BC/nodevice");
    for (std::uint16_t base : kStandardPorts) {
        rig.bus->Write(base + 2, static_cast<std::uint8_t>(0x20 | (base & 0x0F)));
    }
    rig.link->DetectEmulator();
    for (std::uint16_t base : kStandardPorts) {
        EXPECT_EQ(rig.bus->Read(base + 2), 0x20 | (base & 0x0F)) << std::hex << base;
    }
    EXPECT_FALSE(rig.link->EmulatorPresent());
}

struct CheckCase {
    const char* name;
    const char* devices;
    std::uint16_t base;
    bool present;
};

class CheckPortTest : public ::testing::TestWithParam<CheckCase> {};

TEST_P(CheckPortTest, NeedsResetFeedbackAndTheEcho) {
    SimRig rig(GetParam().devices);
    rig.link->SetPortAddress(GetParam().base);
    rig.bus->Write(GetParam().base + 2, 0x0B);
    rig.link->CheckEmulatorPort(GetParam().base);
    EXPECT_EQ(rig.link->EmulatorPresent(), GetParam().present);
    EXPECT_EQ(rig.link->PortAddress(), GetParam().base);  // never moved by the check
    // RESET stays asserted after the check either way.
    EXPECT_EQ(rig.bus->Read(GetParam().base + 2) & 0x01, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Ports, CheckPortTest,
    ::testing::Values(CheckCase{"Answers", "0x378", 0x378, true},
                      CheckCase{"NonStandardAddress", "0xD010", 0xD010, true},
                      CheckCase{"EchoWithoutResetFeedbackFails", "0x378/noreset", 0x378, false},
                      CheckCase{"BarePort", "0x378/nodevice", 0x378, false},
                      CheckCase{"BarePortBesideEmulator", "0x378,0x278/nodevice", 0x278, false}),
    [](const auto& row) { return std::string(row.param.name); });

// Every step is a read-modify-write of the control register, so bits 4-7 survive it.
TEST(CheckPort, ExactSequenceKeepsTheUpperControlBits) {
    SimRig rig("0x378");
    rig.link->SetPortAddress(0x378);
    rig.bus->Write(0x37A, 0xF1);
    rig.bus->SetTracing(true);
    rig.link->CheckEmulatorPort(0x378);
    EXPECT_TRUE(rig.link->EmulatorPresent());
    std::vector<std::string> expected = {"R 037A F1", "W 037A F0", "R 0379 87", "R 037A F0",
                                         "R 037A F0", "W 037A F0", "R 037A F0", "W 037A F4",
                                         "R 037A F4", "W 037A F4", "R 037A F4", "W 037A FC"};
    for (int k = 0; k < 16; ++k) {
        char data[16], status[16];
        std::snprintf(data, sizeof data, "W 0378 %02X", k);
        std::snprintf(status, sizeof status, "R 0379 %02X", 0x80 | (k << 3) | 0x07);
        const std::string lines[] = {"R 037A FC", "W 037A F4", data,
                                     "R 037A F4", "W 037A FC", status};
        expected.insert(expected.end(), std::begin(lines), std::end(lines));
    }
    expected.push_back("W 037A F0");  // the saved value back
    EXPECT_THAT(rig.Trace(), ::testing::ElementsAreArray(expected));

    // A failed echo leaves the loop at once and still puts the saved value back.
    SimRig broken("0x378/stuck1=2");
    broken.link->SetPortAddress(0x378);
    broken.bus->Write(0x37A, 0xF1);
    broken.bus->SetTracing(true);
    broken.link->CheckEmulatorPort(0x378);
    EXPECT_FALSE(broken.link->EmulatorPresent());
    const auto trace = broken.Trace();
    ASSERT_EQ(trace.size(), 12u + 6 + 1);
    EXPECT_EQ(trace[17], "R 0379 A7");
    EXPECT_EQ(trace.back(), "W 037A F0");
}

TEST(CheckPort, ClosedPortFindsNothing) {
    SimRig rig("0x378");
    rig.port->SetOpened(false);
    rig.link->CheckEmulatorPort(0x378);
    EXPECT_FALSE(rig.link->EmulatorPresent());
    rig.link->DetectEmulator();
    EXPECT_FALSE(rig.link->EmulatorPresent());
    EXPECT_EQ(rig.port->LastError(), TIoPort::kErrorInvalidHandle);
}

TEST(SetEpromType, ConfiguresTheEmulatorAndFillsTheRange) {
    SimRig rig("0x378");
    rig.link->DetectEmulator();
    rig.model.FillValue = 0x5A;
    rig.bus->SetTracing(true);
    rig.link->SetEpromType(27010);
    EXPECT_THAT(rig.Trace(),
                ElementsAre("W 0378 08", "W 037A 08", "W 037A 00", "W 037A 04", "W 0378 00"));
    EXPECT_EQ(rig.host.epromTypeText, "  27010");
    EXPECT_EQ(rig.model.BufferEnd, 0x1FFFFu);
    EXPECT_EQ(rig.link->ConfigByte(), 0x08);
    EXPECT_TRUE(std::all_of(rig.model.DataBuffer.begin(), rig.model.DataBuffer.end(),
                            [](auto b) { return b == 0x5A; }));
    rig.bus->WithDevice(0x378,
                        [](sim::SimEmulator* device) { EXPECT_EQ(device->ConfigLatch(), 0x08); });
}

TEST(SetEpromType, WithoutEmulatorTouchesNoPortAndShowsNotSet) {
    SimRig rig("0x378");
    rig.bus->SetTracing(true);
    rig.model.DataBuffer.fill(0x11);
    rig.link->SetEpromType(27512);
    EXPECT_TRUE(rig.Trace().empty());
    EXPECT_EQ(rig.host.epromTypeText, "  not set");
    EXPECT_EQ(rig.model.BufferStart, 0u);
    EXPECT_EQ(rig.model.BufferEnd, 0xFFFFu);
    EXPECT_EQ(rig.model.DataBuffer[0xFFFF], 0xFF);
    EXPECT_EQ(rig.model.DataBuffer[0x10000], 0x11);  // above the type: untouched
}

TEST(SetEpromType, SmallerTypeKeepsBytesAboveIt) {
    SimRig rig;
    rig.link->SetEpromType(27010);
    rig.model.FillValue = 0x00;
    rig.link->SetEpromType(2764);
    EXPECT_EQ(rig.model.BufferEnd, 0x1FFFu);
    EXPECT_EQ(rig.model.DataBuffer[0x1FFF], 0x00);
    EXPECT_EQ(rig.model.DataBuffer[0x2000], 0xFF);
}

TEST(InvalidEpromType, KnowsTheFiveTypes) {
    SimRig rig;
    for (std::uint16_t type : {0, 2716, 2816, 27011, 65535}) {
        rig.model.CurrentEpromType = type;
        EXPECT_TRUE(rig.link->InvalidEpromType()) << type;
    }
    for (const auto& type : kEpromTypes) {
        rig.model.CurrentEpromType = type.number;
        EXPECT_FALSE(rig.link->InvalidEpromType()) << type.number;
    }
}

TEST(ReleaseEmulator, LeavesTheTargetRunning) {
    SimRig rig("0x378");
    rig.link->SetPortAddress(0x378);
    rig.bus->SetTracing(true);
    rig.link->ReleaseEmulator();
    EXPECT_THAT(rig.Trace(), ElementsAre("W 0378 00", "W 037A 03", "W 037A 0B"));
    rig.bus->WithDevice(0x378,
                        [](sim::SimEmulator* device) { EXPECT_FALSE(device->TargetInReset()); });
}

TEST(Delay, LetsEventsThroughWhileWaiting) {
    SimRig rig;
    rig.link->Delay(0);
    EXPECT_EQ(rig.host.eventPasses, 0);
    const auto start = std::chrono::steady_clock::now();
    rig.link->Delay(20);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
    EXPECT_GT(rig.host.eventPasses, 0);
}

}  // namespace
}  // namespace tarvex
