#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <tuple>

#include "support/FakeParport.h"
#include "support/Files.h"
#include "support/SimRig.h"

namespace tarvex {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using testing::ReadText;
using testing::Ready;
using testing::SimRig;

struct StateFolder {
    StateFolder() { std::filesystem::create_directories(path); }
    ~StateFolder() { std::filesystem::remove_all(path); }
    std::string File(const std::string& name) const { return (path / name).string(); }
    const std::filesystem::path path = std::filesystem::path(::testing::TempDir()) /
                                       ("tarvex_sim_regs_" + std::to_string(::getpid()));
};

using Registers = sim::SimEmulator::Registers;

// What a run left on each device's registers and memory, the RESET line above all, is there
// for the next run. A file of the memory alone, as kept before the registers were, still
// loads. Registers cut short or not matching the memory refuse the file, and so does any
// other file; a refused file stays as it was.
TEST(SimState, RegistersAndMemoryOutliveTheRunPerBaseAndDamagedOrForeignFilesAreRefused) {
    const StateFolder folder;
    const std::string written = folder.File("written");
    // data, control (target released), configuration, high and low address
    const Registers left{0x5A, 0x0B, 0x08, 0x12, 0x34};
    {
        SimRig run("0x278,0x378", written);
        run.Device(0x378)->RestoreRegisters(left);
        run.Device(0x378)->Memory()[0x1FFFF] = 0x42;
    }
    const std::string kept = ReadText(written);
    const std::size_t registersSize = 4 + 2 * 7;  // "REGS", each base and its five registers
    ASSERT_GT(kept.size(), 2 * 0x20000 + registersSize);
    const std::string memory = kept.substr(0, kept.size() - registersSize);
    std::string otherBase = kept, untagged = kept;
    otherBase[memory.size() + 4] ^= 0x01;  // 0x279 or 0x379
    untagged[memory.size()] = 'X';
    const std::string foreign = "is not a state file written by this program";
    const std::string damaged = "is damaged";
    // clang-format off
    const std::pair<std::string, std::string> rows[] = {  // contents, refusal (empty: loads)
        {memory, ""}, {kept, ""}, {kept.substr(0, kept.size() - 1), damaged},
        {memory + "REGS", damaged}, {otherBase, damaged}, {untagged, foreign},
        {"TARVEX-SIM-STATE 1\n\x78xx", foreign}};
    // clang-format on
    for (const auto& [contents, refusal] : rows) {
        SCOPED_TRACE(contents.substr(0, 20) + "... " + std::to_string(contents.size()));
        const std::string state = folder.File("sim.state");
        std::ofstream(state, std::ios::binary | std::ios::trunc) << contents;
        {
            SimRig rig("0x3BC,0x378,0x278", state);  // another order, and a base the file lacks
            if (refusal.empty()) {
                ASSERT_TRUE(rig.port->Opened()) << rig.port->OpenErrorDetail();
                const bool held = contents == memory;  // no registers: the power-on state
                EXPECT_EQ(rig.Device(0x378)->SavedRegisters(), held ? Registers{} : left);
                EXPECT_EQ(rig.Device(0x278)->SavedRegisters(), Registers{});
                EXPECT_EQ((rig.bus->Read(0x379) & 0x80) != 0, held);  // RESET feedback
                EXPECT_EQ(std::tuple(rig.Device(0x378)->Memory()[0x1FFFF],
                                     rig.Device(0x278)->Memory()[0x1FFFF],
                                     rig.Device(0x3BC)->Memory()[0x1FFFF]),
                          std::tuple(0x42, 0, 0));
                continue;
            }
            EXPECT_FALSE(rig.port->Opened());
            EXPECT_THAT(rig.port->OpenErrorDetail(),
                        AllOf(HasSubstr(state), HasSubstr(refusal), HasSubstr("remove it")));
        }
        EXPECT_EQ(ReadText(state), contents) << "a refused file is kept";
    }
    for (const std::string& path :
         {folder.path.string(), std::string("/dev/zero"), folder.File("no/sim.state")}) {
        SimRig rig("", path);
        EXPECT_FALSE(rig.port->Opened()) << path;
        EXPECT_THAT(rig.port->OpenErrorDetail(),
                    AllOf(HasSubstr(path), HasSubstr(path.find("/no/") != path.npos
                                                         ? "cannot open simulator lock file"
                                                         : foreign)));
    }
}

TEST(SimBus, LatchesStoreOnTheRisingStrobeOnlyAndOverlapsAreRefused) {
    sim::SimBus bus;
    sim::SimEmulator& device = bus.AddDevice(0x378);
    // High address 0x12 (0x34 not: no rising edge), low 0x34, configuration 0x08, data 0x5A.
    const std::pair<std::uint16_t, std::uint8_t> writes[] = {
        {0x378, 0x12}, {0x37A, 0x02}, {0x37A, 0x0A}, {0x378, 0x34}, {0x37A, 0x0A},
        {0x37A, 0x04}, {0x37A, 0x0C}, {0x378, 0x08}, {0x37A, 0x00}, {0x37A, 0x08},
        {0x378, 0x5A}, {0x37A, 0x06}, {0x37A, 0x0E}};
    for (auto [port, value] : writes) {
        bus.Write(port, value);
    }
    EXPECT_EQ(device.LatchedAddress(), 0x11234u);
    EXPECT_EQ(device.Memory()[0x11234], 0x5A);
    std::string error;
    for (const char* devices : {"0x378,0x379", "0x378,0x376", "0x378,888", "0x378/x"}) {
        EXPECT_FALSE(sim::SimBackend::Create(devices, "", error)) << devices;
    }
}

// Nibble k of the echo: its write, then (after `between`) the status read with RESET feedback.
std::string Echo(int k, const char* between = " ") {
    char text[40];
    std::snprintf(text, sizeof text, " D%02X%sS%02X", k, between, 0x87 | k << 3);
    return text;
}

TEST(Detect, FindsTheFirstAnsweringStandardAddressInAnExactSequence) {
    // clang-format off
    const std::tuple<const char*, bool, std::uint16_t> rows[] = {
        {"0x378", true, 0x378}, {"0x378,0x278", true, 0x278}, {"0x3BC", true, 0x3BC},
        {"none", false, 0x278}, {"0x378/noreset", true, 0x378},  // the echo is enough here
        {"0x378/stuck1=2", false, 0x278}, {"0xD010", false, 0x278}};
    // clang-format on
    for (const auto& [devices, present, port] : rows) {
        SimRig rig(devices);
        rig.link.DetectEmulator();
        EXPECT_EQ(rig.link.EmulatorPresent(), present) << devices;
        EXPECT_EQ(rig.link.PortAddress(), port) << devices;
    }
    SimRig rig("0x278");
    rig.bus->SetTracing(true);
    rig.link.DetectEmulator();
    std::string expected = "R00 C0C";
    for (int k = 0; k < 16; ++k) {
        expected += Echo(k);
    }
    EXPECT_EQ(rig.Trace(0x278), expected + " R0C C04");  // ends with the strobe cleared

    SimRig bare("0x278/nodevice,0x3BC/nodevice");  // nothing answers: control is put back
    bare.bus->Write(0x27A, 0x2B);
    bare.bus->Write(0x3BE, 0x2C);
    bare.link.DetectEmulator();
    EXPECT_EQ(std::tuple(bare.bus->Read(0x27A), bare.bus->Read(0x3BE)), std::tuple(0x2B, 0x2C));
}

// Over the kernel's ppdev: ports without an emulator go back to the system (a printer there
// keeps printing) and the emulator's port stays claimed.
TEST(Detect, OverPpdevLetsGoOfPortsThatDidNotAnswerAndKeepsTheEmulatorsPort) {
    auto kernel = std::make_shared<testing::FakeParport>();
    kernel->AttachEmulator(0x378);
    auto port = testing::FakePpdevPort(kernel);
    ImageModel model;
    testing::RecordingHost host;
    EmulatorLink link(*port, model, host);
    link.DetectEmulator();
    EXPECT_TRUE(link.EmulatorPresent());
    EXPECT_EQ(kernel->At(0x278).claimedBy, -1);
    EXPECT_GE(kernel->At(0x378).claimedBy, 0);
    EXPECT_EQ(kernel->OpenFiles(), 1);
    // Detection leaves the emulator's target held in RESET, as the claim did before it.
    EXPECT_EQ(kernel->Control(0x378) & 0x01, 0);
}

// Every step is a read-modify-write of the control register, so bits 4-7 survive it.
TEST(CheckPort, NeedsResetFeedbackAndTheEchoInAnExactSequence) {
    const std::string start = "RF1 CF0 S87 RF0 RF0 CF0 RF0 CF4 RF4 CF4 RF4 CFC";
    std::string answered = start;
    for (int k = 0; k < 16; ++k) {
        answered += " RFC CF4" + Echo(k, " RF4 CFC ");
    }
    answered += " CF0";  // the saved value back
    const std::tuple<const char*, std::uint16_t, std::string> rows[] = {
        {"0x378", 0x378, answered},
        {"0xD010", 0xD010, answered},
        {"0x378/stuck1=2", 0x378, start + " RFC CF4 D00 RF4 CFC SA7 CF0"},  // fails at nibble 0
        {"0x378/noreset", 0x378, "RF1 CF0 S07"},          // the echo alone is not enough here
        {"0x378,0x278/nodevice", 0x278, "RF1 CF0 S7F"}};  // a bare port
    for (const auto& [devices, base, expected] : rows) {
        SimRig rig(devices);
        rig.link.SetPortAddress(base);
        rig.bus->Write(base + 2, 0xF1);
        rig.bus->SetTracing(true);
        rig.link.CheckEmulatorPort(base);
        EXPECT_EQ(rig.Trace(base), expected) << devices;  // and leaves the target in RESET
        EXPECT_EQ(rig.link.EmulatorPresent(), expected == answered) << devices;
    }
}

TEST(SetEpromType, ConfiguresTheEmulatorAndFillsTheRangeOrShowsNotSetThenRelease) {
    SimRig rig("0x378");
    rig.link.DetectEmulator();
    rig.model.FillValue = 0x5A;
    rig.bus->SetTracing(true);
    rig.link.SetEpromType(27010);
    EXPECT_EQ(rig.Trace(), "D08 C08 C00 C04 D00");
    EXPECT_EQ(rig.host.epromTypeText, "  27010");

    rig.link.SetEmulatorPresent(false);
    rig.model.DataBuffer.fill(0x11);
    rig.link.SetEpromType(27512);
    EXPECT_EQ(rig.Trace(), "");
    EXPECT_EQ(rig.host.epromTypeText, "  not set");
    EXPECT_EQ(rig.model.DataBuffer[0xFFFF], 0x5A);
    EXPECT_EQ(rig.model.DataBuffer[0x10000], 0x11);  // above the type: untouched

    rig.link.ReleaseEmulator();
    EXPECT_EQ(rig.Trace(), "D00 C03 C0B");
    EXPECT_FALSE(rig.Device()->TargetInReset());
}

TEST(Transfers, ExactWriteAndReadSequencesAcrossAPageBoundary) {
    auto rig = Ready(27010);
    rig->model.DataBuffer[0x10] = 0xA5;
    rig->model.DataBuffer[0x11] = 0x3C;
    rig->link.WriteEmulator(0x10, 0x11, 0xFFFF);
    // start: configuration 00, high latch | 0xFFFF: low latch, memory write | 0x10000: low
    // latch, new page (high latch, configuration 08), memory write | end: configuration 08
    EXPECT_EQ(rig->Trace(),
              "D00 C08 C00 C02 DFF C0A C02 C04 DFF C0C C04 C06 DA5 C0E C06 C04 D00 C0C C04 D00 C02 "
              "C0A C02 C00 D08 C08 C00 C06 D3C C0E C06 C04 D08 C00 C08 C00");

    rig = Ready(2764);
    rig->Device()->Memory()[0x1FF] = 0x9E;
    rig->Device()->Memory()[0x200] = 0x4B;
    rig->link.ReadEmulator(0x1FF, 0x200, 0x1FF);
    // the nibbles: 9 and E, then 4 and B after the new page
    EXPECT_EQ(rig->Trace(),
              "D16 C08 C00 C02 D01 C0A C02 C04 DFF C0C C04 C02 SCF C04 SF7 D00 C0C C04 C02 D02 C0A "
              "C02 C00 D16 C08 C00 C02 SA7 C04 SDF D16 C00 C08 C00");
    EXPECT_EQ(rig->model.DataBuffer[0x1FF], 0x9E);
    EXPECT_EQ(rig->model.DataBuffer[0x200], 0x4B);
}

TEST(Transfers, ProgressStepsOncePerPageAndEndsAtZero) {
    const std::tuple<std::uint32_t, std::uint32_t, int, std::vector<int>> rows[] = {
        {0, 0xFE, 0, {0, 0}}, {0x10, 0x11F, 1, {0, 1, 0}}, {0, 0x3FF, 3, {0, 1, 2, 3, 4, 0}}};
    for (const char transfer : {'W', 'R', 'V'}) {
        for (const auto& [first, last, maximum, positions] : rows) {
            SCOPED_TRACE(::testing::Message() << transfer << last);
            auto rig = Ready(2764);  // erased memory and an erased image: verify passes
            rig->model.DataBuffer.fill(0);
            if (transfer == 'W') {
                rig->link.WriteEmulator(first, last, 0);
            } else if (transfer == 'R') {
                rig->link.ReadEmulator(first, last, 0);
            } else {
                EXPECT_TRUE(rig->link.VerifyEmulator(first, last, 0));
            }
            EXPECT_EQ(rig->host.progressMaximum, maximum);
            EXPECT_EQ(rig->host.progressPositions, positions);
        }
    }
}

TEST(Transfers, AStopAlreadyRequestedSendsOnlyTheCommonStartAndEnd) {
    auto rig = Ready(27128);
    rig->link.StopRequest = 1;
    rig->link.WriteEmulator(0, 0x3FFF, 0);
    const std::string startAndEnd = "D12 C08 C00 C02 D00 C0A C02 C04 D12 C00 C08 C00";
    EXPECT_EQ(rig->Trace(), startAndEnd);
    EXPECT_FALSE(rig->link.VerifyEmulator(0, 0x3FFF, 0));
    EXPECT_EQ(rig->Trace(), startAndEnd);
    rig->link.ReadEmulator(0, 0x3FFF, 0, true);  // the command line's stoppable read
    EXPECT_EQ(rig->Trace(), startAndEnd);
    rig->link.ReadEmulator(0, 0xF, 0);  // the window's Read runs to its end
    EXPECT_GT(rig->Trace().size(), startAndEnd.size() + 16 * 7 * 4);
}

// Buffer index `first` goes to emulator address 0; nothing outside the range is written, read
// or compared. Verify must fail on each faulty device.
TEST(Transfers, RoundTripForEveryTypeAndVerifyCatchesInjectedFaults) {
    std::vector<std::tuple<std::string, std::uint16_t, std::uint32_t, std::uint32_t>> rows = {
        {"", 27010, 0x123, 0x10456}, {"", 27128, 0x100, 0x1FF}};
    for (const auto& type : kEpromTypes) {
        rows.emplace_back("", type.number, 0, type.epromEnd);
    }
    for (const char* fault : {"stuck1=6", "flip=5", "bad=0x1ABCD", "flaky=2", "pull=99999"}) {
        rows.emplace_back(std::string("0x378/") + fault, 27010, 0, 0x1FFFF);
    }
    for (const auto& [devices, type, first, last] : rows) {
        SCOPED_TRACE(devices + " " + std::to_string(type) + " " + std::to_string(first));
        auto rig = Ready(type, devices);
        std::ranges::generate(rig->model.DataBuffer, [random = std::mt19937(type)]() mutable {
            return static_cast<std::uint8_t>(random());
        });
        const auto image = rig->model.DataBuffer;
        rig->link.WriteEmulator(first, last, 0);
        EXPECT_EQ(rig->link.VerifyEmulator(first, last, 0), devices.empty());
        if (!devices.empty()) {
            continue;
        }
        std::uint8_t* memory = rig->Device()->Memory().data();
        const std::uint32_t size = last - first + 1;
        EXPECT_TRUE(std::equal(memory, memory + size, image.begin() + first));
        EXPECT_EQ(std::count(memory + size, memory + 0x20000, 0), 0x20000 - size);
        rig->model.DataBuffer.fill(0);
        rig->link.ReadEmulator(first, last, 0);
        auto expected = decltype(image){};
        std::copy(image.begin() + first, image.begin() + last + 1, expected.begin() + first);
        EXPECT_TRUE(rig->model.DataBuffer == expected);
        memory[size - 1] ^= 0x80;
        EXPECT_FALSE(rig->link.VerifyEmulator(first, last, 0));  // the last byte differs
        EXPECT_TRUE(rig->link.VerifyEmulator(first, last - 1, 0));
    }
}

}  // namespace
}  // namespace tarvex
