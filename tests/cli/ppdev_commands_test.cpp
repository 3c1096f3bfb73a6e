// tarvex's commands in process over the kernel-like ppdev stand-in (support/FakeParport.h).
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "support/FakeParport.h"

namespace tarvex {
namespace {

struct Case {
    const char* name;
    std::vector<std::string> args;
    std::uint16_t held;       // the port another program holds, or 0; the emulator hangs on 0x378
    int status, controlBit0;  // bit 0 of 0x378 afterwards: 1 target running, 0 held in RESET
    const char* said;         // on stdout when the command succeeds, else on stderr
    friend void PrintTo(const Case& row, std::ostream* out) { *out << row.name; }
};

class PpdevCommands : public ::testing::TestWithParam<Case> {};

TEST_P(PpdevCommands, LeaveTheTargetAsAskedAndSayWhy) {
    const Case& row = GetParam();
    const std::string file = ::testing::TempDir() + "ppdev" + std::to_string(::getpid()) + ".bin";
    std::ofstream(file, std::ios::binary) << std::string(0x2000, '\0');  // as the emulator's RAM
    auto kernel = std::make_shared<testing::FakeParport>();
    kernel->AttachEmulator(0x378);
    kernel->At(0x278).heldElsewhere = row.held == 0x278;
    kernel->At(0x378).heldElsewhere = row.held == 0x378;
    kernel->At(0x378).control = 0x05;  // the target ran before tarvex started
    std::vector<std::string> args = row.args;
    std::replace(args.begin(), args.end(), std::string("FILE"), file);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const int status = cli::Main(args, [&](const char*) {
        return std::make_unique<TIoPort>(MakePpdevBackend(kernel, "/proc"));
    });
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    std::remove(file.c_str());
    EXPECT_EQ(status, row.status) << err;
    EXPECT_EQ(kernel->Control(0x378) & 0x01, row.controlBit0);
    EXPECT_THAT(row.status == 0 ? out : err, ::testing::HasSubstr(row.said));
    EXPECT_EQ(kernel->busyClaims, row.held != 0 ? 1 : 0);  // bounded once, never again
    EXPECT_EQ(kernel->heldWhileWaiting, 0);
    EXPECT_EQ(kernel->OpenFiles(), 0);
}

const char* const kRunning = "; target running\n";
const char* const kHolding = "; target held in RESET\n";
const char* const kHeld =
    "0x0278: /dev/parport1 is in use by another program (another Tarvex32 "
    "or tarvex, or a printer job)";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Tarvex, PpdevCommands, ::testing::ValuesIn(std::vector<Case>{
    {"Detect", {"detect"}, 0, 0, 1, "emulator at 0x0378 (port access: ppdev); target running\n"},
    {"DetectHold", {"detect", "--leave", "hold"}, 0, 0, 0, kHolding},
    {"ReadRelease", {"read", "FILE", "--type=2764", "--leave=release"}, 0, 0, 1, kRunning},
    {"VerifyHold", {"verify", "FILE", "--type", "2764", "--leave", "hold"}, 0, 0, 0,
         "holds the 8192 bytes"},
    {"ToggleNeedsFrom", {"reset", "toggle"}, 0, 2, 1, "give --from hold or --from release"},
    {"ToggleReleases", {"reset", "toggle", "--from", "hold"}, 0, 0, 1, "target released"},
    {"ToggleHolds", {"reset", "toggle", "--from", "release"}, 0, 0, 0, "target held in RESET"},
    {"HeldPortPassedOverOnce", {"detect"}, 0x278, 0, 1, kRunning},
    {"HeldPortNamedWhenChosen", {"--port", "0x278", "detect"}, 0x278, 3, 1, kHeld},
    {"Busy", {"detect"}, 0x378, 3, 1, "0x0378: /dev/parport0 is in use by another program"}}));
// clang-format on

}  // namespace
}  // namespace tarvex
