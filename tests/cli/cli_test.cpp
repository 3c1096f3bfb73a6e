// End-to-end: the shipped tarvex binary against the simulated emulator, whose memory is
// kept between the runs of one test (TARVEX_SIM_STATE). And the transfers in process,
// watched for heap allocations.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "link/Emulator.h"
#include "link/IoPort.h"
#include "port/SimBackend.h"
#include "tests/support/Files.h"

static std::atomic<long> allocations{-1};  // counted while not negative

// Not inlined: g++ would then see free() on a pointer from operator new and warn.
[[gnu::noinline]] void* operator new(std::size_t size) {
    allocations += allocations.load() >= 0 ? 1 : 0;
    void* memory = std::malloc(size ? size : 1);
    return memory ? memory : throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* memory) noexcept {
    std::free(memory);
}
[[gnu::noinline]] void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

namespace {

// The per-byte loops must not allocate: 1 M port accesses per 128 KiB leave no room for it.
TEST(TransferAllocationTest, FullImageWriteReadAndVerifyAllocateNothing) {
    using namespace tarvex;
    std::string error;
    TIoPort port(sim::SimBackend::Create("", "", error));
    port.SetOpened(true);
    ImageModel model;
    SilentHost host;
    EmulatorLink link(port, model, host);
    link.DetectEmulator();
    ASSERT_TRUE(link.EmulatorPresent()) << error;
    link.SetEpromType(27010);
    const auto count = [](auto transfer) {
        allocations = 0;
        transfer();
        return allocations.exchange(-1);
    };
    EXPECT_EQ(count([&] { link.WriteEmulator(0, model.EpromEnd, 0); }), 0) << "write";
    EXPECT_EQ(count([&] { link.ReadEmulator(0, model.EpromEnd, 0); }), 0) << "read";
    bool verified = false;
    EXPECT_EQ(count([&] { verified = link.VerifyEmulator(0, model.EpromEnd, 0); }), 0);
    EXPECT_TRUE(verified);
}

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using Words = std::vector<std::string>;
using J = nlohmann::json;
using tarvex::testing::ReadText;
using tarvex::testing::WriteText;

struct RunResult {
    int status = -1;
    std::string out, err;
};

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(random()); });
    return bytes;
}

// How many lines of `text` hold `what`.
std::size_t Lines(const std::string& text, const std::string& what) {
    std::size_t seen = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        seen += line.find(what) != std::string::npos;
    }
    return seen;
}

// Each listing of differences shows the first 16 and counts the rest: together, all of them.
void ExpectListingsAddUp(const std::string& err) {
    const std::regex head(R"(.*\b(\d+) of \d+ bytes.* differ.*)"), entry(R"(    [0-9A-F]{5} .*)");
    std::vector<std::array<std::size_t, 3>> listings;  // differing, listed, counted
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (std::regex_match(line, match, head)) {
            listings.push_back({std::stoul(match[1]), 0, 0});
        } else if (!listings.empty() && std::regex_match(line, entry)) {
            ++listings.back()[1];
        } else if (!listings.empty() && line.rfind("  and ", 0) == 0) {
            listings.back()[2] = std::stoul(line.substr(6));
        }
    }
    for (const auto& [differing, listed, counted] : listings) {
        EXPECT_EQ(listed, std::min<std::size_t>(differing, 16)) << err;
        EXPECT_EQ(listed + counted, differing) << err;
    }
}

// The result event of a run that took `wall` seconds: its status, and its time in seconds.
void ExpectResult(const J& last, int status, double wall) {
    EXPECT_EQ(last["event"], "result") << last;
    EXPECT_EQ(last["status"], status) << last;
    ASSERT_TRUE(last["elapsed"].is_number() && last["bytes"].is_number()) << last;
    const double elapsed = last["elapsed"];
    EXPECT_TRUE(elapsed >= 0 && elapsed <= wall + 0.5 && elapsed >= wall / 4 - 1)
        << elapsed << " s of a run of " << wall << " s";
}

// Arguments of tarvex are one line of bash words: '$378' and '' need their quotes.
const std::string kWrite = "write image.bin --type 2764 --reset-ms 0";
const auto kRowName = [](const auto& row) { return std::string(row.param.name); };

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::remove_all(base_);
        fs::create_directories(work_);
        // A full 2764 image with a known byte where a bad cell is simulated.
        WriteText(work_ / "image.bin", RandomBytes(0x123, 1) + '\x5A' + RandomBytes(0x1EDC, 2));
        WriteText(work_ / "old.bin", "old");
        // The third record has a stray space after its checksum.
        WriteText(work_ / "broken.hex",
                  ":0100000001FE\r\n:0100010002FC\r\n:0100020003FA \r\n:00000001FF\r\n");
        for (const char* name : {"good.hex", "good.txt", "hextext.bin"}) {
            WriteText(work_ / name, ":0100000001FE\r\n:00000001FF\r\n");
        }
        WriteText(work_ / "broken.s19", "S104000001FA\nS4030000FC\n");
        WriteText(work_ / "good.S28", "S20500000001F9\n");
        WriteText(work_ / "empty.bin", "");
        WriteText(work_ / "zero.bin", std::string(0x2000, '\0'));
        fs::create_directory(work_ / "folder");
        WriteText(work_ / "ro.bin", "old");
        fs::permissions(work_ / "ro.bin", fs::perms::owner_read);
    }
    void TearDown() override { fs::remove_all(base_); }

    // Starts `script` under bash in work_ ($T is tarvex) with TARVEX_IO=`io` (unset when
    // null), traced into `trace` when given; stdout and stderr go to ../NAME.out, ../NAME.err.
    pid_t Spawn(const char* io, const std::string& script, const char* trace = nullptr,
                const std::string& name = "run") const {
        io ? setenv("TARVEX_IO", io, 1) : unsetenv("TARVEX_IO");
        trace ? setenv("TARVEX_TRACE", trace, 1) : unsetenv("TARVEX_TRACE");
        setenv("TARVEX_SIM_STATE", (base_ / "sim.state").c_str(), 1);
        setenv("T", TARVEX_CLI_PATH, 1);
        const std::string command = "cd '" + work_.string() + "' && " + script;
        const std::string out = (base_ / (name + ".out")), err = (base_ / (name + ".err"));
        const pid_t child = fork();
        if (child == 0) {
            if (!freopen("/dev/null", "r", stdin) || !freopen(out.c_str(), "w", stdout) ||
                !freopen(err.c_str(), "w", stderr)) {
                _exit(126);
            }
            execl("/bin/bash", "bash", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return child;
    }
    // tarvex with `args`, then the shell's `redirect`.
    RunResult Run(const char* io, const std::string& args, const char* trace = nullptr,
                  const std::string& redirect = "") const {
        const int status = Wait(Spawn(io, "exec \"$T\" " + args + redirect, trace));
        return {status, ReadText(base_ / "run.out"), ReadText(base_ / "run.err")};
    }
    RunResult Expect(const char* io, const std::string& args, int status,
                     const std::string& out = "", const std::string& err = "") const {
        RunResult result = Run(io, args);
        EXPECT_EQ(result.status, status) << args << '\n' << result.err;
        EXPECT_THAT(result.out, HasSubstr(out)) << args;
        EXPECT_THAT(result.err, HasSubstr(err)) << args;
        return result;
    }
    // `bytes` as the file `name`, in the format its name says.
    void Convert(const std::string& bytes, const std::string& name) const {
        WriteText(work_ / "edit.bin", bytes);
        Expect(nullptr, "convert edit.bin " + name + " --type 2764", 0);
    }
    pid_t Start(const char* io, const std::string& args) const {
        return Spawn(io, "exec \"$T\" " + args, nullptr, "started");
    }
    // The exit status, or 128 + the signal that ended the process; -1 when it was still
    // running after a minute (it is killed then).
    static int Wait(pid_t child) {
        int status = 0;
        for (int tick = 0; waitpid(child, &status, WNOHANG) == 0; ++tick) {
            if (tick == 6000) {
                kill(child, SIGKILL);
                waitpid(child, &status, 0);
                return -1;
            }
            usleep(10000);
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    // Until `child` catches SIGINT (bit 1 of SigCgt), at most ten seconds: a busy machine may
    // start it late, and a signal before its handlers would end it unannounced.
    static void WaitUntilItCatchesSignals(pid_t child) {
        const std::string proc = "/proc/" + std::to_string(child) + "/";
        for (int tick = 0; tick < 1000; ++tick, usleep(10000)) {
            // A shell that execs tarvex is waited past: only tarvex's own handlers count.
            const std::string status = ReadText(proc + "status");
            const std::size_t at = status.find("SigCgt:");
            if (ReadText(proc + "comm") == "tarvex\n" && at != std::string::npos &&
                (std::stoull(status.substr(at + 7), nullptr, 16) & 0x2) != 0) {
                return;
            }
        }
    }
    // Waits up to 30 s until the started run's stdout has `count` lines holding `what`.
    bool WaitFor(const std::string& what, std::size_t count) const {
        for (int tick = 0; tick < 3000 && Started(what) < count; ++tick) {
            usleep(10000);
        }
        return Started(what) >= count;
    }
    std::size_t Started(const std::string& what) const {
        return Lines(ReadText(base_ / "started.out"), what);
    }

    std::set<fs::path> Names() const {
        return {fs::directory_iterator(work_), fs::directory_iterator()};
    }
    // Whether a traced run released the target (bit 0 of the control register at 0x37A):
    // at any time, and at the end.
    std::pair<bool, bool> Released() const {
        bool ever = false, last = false;
        std::istringstream lines(ReadText(work_ / "trace.txt"));
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("W 037A ", 0) == 0) {
                last = (std::stoul(line.substr(7), nullptr, 16) & 1) != 0;
                ever = ever || last;
            }
        }
        return {ever, last};
    }

    const fs::path base_ = fs::temp_directory_path() / ("tarvex-cli-" + std::to_string(getpid()));
    const fs::path work_ = base_ / "work";
};

struct RoundTripCase {
    const char* name;
    unsigned type;
    std::string format;
    std::string range;
    std::size_t size;  // of the range
};

class CliRoundTripTest : public CliTest, public ::testing::WithParamInterface<RoundTripCase> {};

// The write is traced: a traced run keeps the simulator's state too.
TEST_P(CliRoundTripTest, ReadReturnsWhatWriteLoadedAndVerifyAgrees) {
    const RoundTripCase& row = GetParam();
    const std::string image = RandomBytes(row.size, row.type), in = "in." + row.format;
    WriteText(work_ / "in.bin", image);
    const std::string type = " --type " + std::to_string(row.type) + row.range;
    if (row.format != "bin") {
        ASSERT_EQ(Run("sim", "convert in.bin " + in + " --to " + row.format + type).status, 0);
    }
    const RunResult written =
        Run("sim", "write " + in + " --format " + row.format + " --reset-ms 0" + type, "trace.txt");
    ASSERT_EQ(written.status, 0) << written.err;
    ASSERT_EQ(Run("sim", "read out.raw" + type).status, 0);
    EXPECT_EQ(ReadText(work_ / "out.raw"), image);
    ASSERT_EQ(Run("sim", "read out --format=" + row.format + type).status, 0);
    EXPECT_EQ(ReadText(work_ / "out"), ReadText(work_ / in));
    EXPECT_EQ(Run("sim", "verify out --format " + row.format + type).status, 0);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Images, CliRoundTripTest, ::testing::Values(
    RoundTripCase{"BinRange", 27010, "bin", " --start 1FF00 --end 1FFFF", 0x100},
    RoundTripCase{"Hex2764", 2764, "hex", "", 0x2000},
    RoundTripCase{"Xhex27010", 27010, "xhex", "", 0x20000},
    RoundTripCase{"XhexRangeAbove64K", 27010, "xhex", " --start 10010 --end 1003F", 0x30},
    RoundTripCase{"Srec27010", 27010, "srec", "", 0x20000},
    RoundTripCase{"SrecRangeAbove64K", 27010, "srec", " --start FFF0 --end 1000F", 0x20}),
    kRowName);
// clang-format on

// One run each; the simulated target starts held in RESET.
struct StatusCase {
    std::string name;
    const char* io;
    std::string args;
    int status;
    std::string out;  // for a success, empty: nothing at all is printed
    Words err = {};
    bool released = false;  // the target, by the end of the run
    bool usage = false;     // a wrong command line, told as U says
};

// A wrong command line: exit 2 before the port is opened, one line naming the word and why,
// then where to read more. The row is named after its words.
StatusCase U(const std::string& args, const std::string& why) {
    const std::string name = std::regex_replace(" " + args, std::regex("[^A-Za-z0-9]+"), "_");
    return {"Usage" + name, "sim", args, 2, "", {why}, false, true};
}

class CliStatusTest : public CliTest, public ::testing::WithParamInterface<StatusCase> {};
using S = StatusCase;

TEST_P(CliStatusTest, ExitsWithItsClassSaysWhyAndLeavesResetAsItShould) {
    const StatusCase& row = GetParam();
    const auto before = Names();
    const RunResult result = Run(row.io, row.args, "trace.txt");
    EXPECT_EQ(result.status, row.status) << result.err;
    EXPECT_THAT(result.out, HasSubstr(row.out));
    for (const auto& text : row.err) {
        EXPECT_THAT(result.err, HasSubstr(text));
    }
    ExpectListingsAddUp(result.err);
    EXPECT_TRUE(row.status != 0 || !row.out.empty() || result.out + result.err == "") << result.out;
    EXPECT_THAT(result.err, Not(HasSubstr("warning")));
    if (row.status != 3) {  // with no emulator, the port's control register is meaningless
        EXPECT_EQ(Released(), std::pair(row.released, row.released));
    }
    // Usage and file errors are found out before the port is opened. No failure leaves a
    // file behind or touches the old one.
    EXPECT_FALSE(fs::remove(work_ / "trace.txt") && (row.status == 2 || row.status == 4));
    EXPECT_TRUE(row.status == 0 || Names() == before) << "a file was left behind";
    EXPECT_EQ(ReadText(work_ / "old.bin"), "old");
    if (row.usage) {  // one line, then the help of the command given, if any
        std::smatch command;
        std::regex_search(
            row.args, command,
            std::regex("(^| )(detect|write|read|verify|dump|reset|test|convert)( |$)"));
        const std::string help = command.empty() ? "" : command[2].str() + " ";
        EXPECT_EQ(result.out, "");
        EXPECT_THAT(result.err, ::testing::MatchesRegex("tarvex: [^\n]+\nTry 'tarvex " + help +
                                                        "--help' for more information\\.\n"));
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Runs, CliStatusTest, ::testing::Values(
    S{"Help", nullptr, "--help", 0, "Usage: tarvex"},
    S{"TestMemoryCleanPasses", "sim", "test memory --passes 2", 0, "2 passes, 2 O.K., 0 bad",
      {"pass 1 ok ", "pass 2 ok "}},
    S{"TestMemoryNamesTheBadCell", "sim:0x378/bad=0x123", "test memory --passes 2 --type 27512", 1,
      "2 passes, 0 O.K., 2 bad", {"pass 2 bad ", "1 of 131072 bytes differ", "\n    00123    "}},
    S{"TestMemoryStuckBit", "sim:0x378/stuck0=7", "test memory --passes 1", 1,
      "1 pass, 0 O.K., 1 bad", {"bytes differ", "and "}},
    S{"PortNonStandard", "sim:0xD010", "detect --port 0xD010", 0, "at 0xD010"},
    S{"CommandHelp", nullptr, "reset --help", 0,
      "Usage: tarvex [--io BACKEND] [--port ADDR] [--quiet] [--json] reset [OPTION...] ACTION [MS]"},
    S{"HelpCommand", nullptr, "help convert", 0, "Usage: tarvex convert"},
    S{"QuietConvert", nullptr, "-q convert good.hex new.bin --type 2764 --from xhex", 0, ""},
    S{"ConvertQuietAfter", nullptr, "convert good.hex new.bin --type 2764 --from xhex --quiet", 0,
      ""},
    S{"QuietConvertStillSaysWhy", nullptr, "-q convert broken.hex new.bin --type 2764 --from xhex",
      4, "", {"Error: Invalid file structure , line #3"}},
    S{"HelpCommandAlone", nullptr, "help", 0, "Exit status:\n  0      success"},
    S{"NumbersInAnyFormOptionsAnywhere", "sim:0x278,0x378",
      "read new.bin --port 888 --type '$ACC' --end 0x1FFF --quiet", 0, ""},
    S{"NoVerifyWritesOverABadCell", "sim:0x378/bad=0x123", kWrite + " --no-verify", 0,
      "not verified", {}, true},
    S{"QuietResetToggle", "sim", "-q reset toggle", 0, "", {}, true},
    S{"ResetPulse", "sim", "reset pulse '$5'", 0, "target reset and released", {}, true},
    S{"BadCell", "sim:0x378/bad=0x123", kWrite, 1, "",
      {"verify failed: 1 of 8192 bytes in the 2764 emulator at 0x0378 differ from "
      "image.bin\n  address  image  emulator\n    00123     5A        5B\n"}},
    // Addresses are the emulator's, from 0.
    S{"SixteenDifferencesListedTheRestCounted", "sim:0x378/stuck1=7",
      "write zero.bin --type 2764 --start 100 --end 1FF", 1, "", {"verify failed: 256 of "
      "256 bytes in the 2764 emulator at 0x0378 differ from zero.bin\n  address  image  "
      "emulator\n    00000     00        80\n", "\n    0000F     00        80\n  and 240 more\n"}},
    S{"StartAfterEnd", "sim", "read new.bin --type=2764 --start=100 --end=FF", 2, "",
      {"--start 00100 is after --end 000FF"}},
    S{"NoEmulator", "sim:none", "detect", 3, "",
      {"no emulator answered at 0x0278, 0x0378 or 0x03BC", "0x0378: no port"}},
    S{"BogusBackend", "bogus", "detect", 3, "", {"TARVEX_IO=bogus", "sim:none"}},
    S{"EchoFails", "sim:0x278/stuck1=1", "detect", 3, "",
      {"0x0278: port present, RESET feedback, nibble echo fails (wrote 0, read 2)"}},
    S{"UnwritableOutput", "sim", "read nowhere/new.bin --type 2764", 4, "",
      {"cannot write nowhere/new.bin: No such file or directory"}},
    S{"BrokenHex", "sim", "write broken.hex --type 2764 --format hex", 4, "",
      {"tarvex: broken.hex: Invalid file structure , line #3\n"
      "tarvex: broken.hex: File read error\n"}},
    S{"PlainHexAbove64K", "sim", "read old.bin --type 27010 --format hex", 4, "",
      {"tarvex: old.bin: Target address above FFFFh\n"}},
    // The limits themselves are allowed.
    S{"ResetTimeOfTenSeconds", "sim", "write missing.bin --type 2764 --reset-ms 10000", 4, "",
      {"cannot open missing.bin: No such file or directory"}},
    S{"PlainHexOfAWhole27512", "sim", "-q read new.hex --type 27512 --format hex", 0, ""},
    S{"EmptyTypeInConvert", nullptr, "convert image.bin o.bin --type ''", 2, "",
      {"--type: '' is not an EPROM type"}},
    S{"PreviousInAFormatOfItsOwn", "sim", "write good.hex --type 2764 --changed-only image.bin "
      "--reset-ms 0", 0, "wrote good.hex into the 2764 emulator at 0x0378: rewrote the whole "
      "range (8192 bytes) after a failed verify of the changes since image.bin, verified",
      {"writing and verifying the whole range once more"}, true},
    S{"HexTextLoadedAsBinary", "sim", "write hextext.bin --type 2764", 2, "",
      {"hextext.bin looks like Intel HEX text", "--format"}},
    S{"HexTextOfAnotherNameLoadsAsHex", "sim", "write good.txt --type 2764 --reset-ms 0", 0,
      "wrote 8192 bytes", {"good.txt: Intel HEX text, loaded as xhex"}, true},
    S{"DevNull", "sim", "verify /dev/null --type 2764", 4, "",
      {"/dev/null is empty (give --allow-empty"}},
    S{"EmptyFileAllowed", "sim", "-q write empty.bin --type 2764 --allow-empty --reset-ms 0", 0, "",
      {}, true},
    S{"FolderInConvert", nullptr, "convert folder o.bin --type 2764", 4, "",
      {"cannot open folder: Is a directory"}},
    S{"ControlCharacterInName", "sim", "write 'a\x1b[2Jb.bin' --type 2764", 4, "",
      {"cannot open a\\x1B[2Jb.bin: No such file"}},
    S{"WriteProtectedTarget", "sim", "read ro.bin --type 2764", 4, "",
      {"cannot write ro.bin: write-protected"}},
    // A dead link is not a success, and not the image's fault.
    S{"CablePulledDuringRead", "sim:0x378/pull=5000", "read old.bin --type 2764", 3, "",
      {"stopped answering during the read (cable or power?)"}},
    S{"CablePulledDuringWrite", "sim:0x378/pull=5000", "write image.bin --type 2764 --no-verify",
      3, "", {"stopped answering during the write"}},
    S{"CablePulledDuringVerify", "sim:0x378/pull=80000", kWrite, 3, "",
      {"stopped answering during the verify"}},
    S{"ResetHeldWithoutFeedback", "sim:0x378/noreset", "reset hold", 3, "",
      {"does not confirm the target held in RESET"}},
    S{"UnreliableLink", "sim:0x378/flaky=40/seed=3", "write image.bin --type 2764 --end 7", 1, "",
      {"the connection is unreliable"}},
    // dump: a file is loaded without a port; the emulator is read and left as found.
    S{"DumpEmulatorLeavesResetHeld", "sim", "dump --emulator --type 2764 --page 31", 0,
      "01FF0 : "},
    S{"DumpEmulatorLeaveRelease", "sim", "dump --emulator --type 2764 --page 0 --leave release", 0,
      "00000 : ", {"target running"}, true},
    S{"DumpMissingFile", "sim", "dump missing.bin --type 2764", 4, "",
      {"cannot open missing.bin: No such file or directory"}}),
    kRowName);
// clang-format on

struct DumpCase {
    const char* name;
    bool written;      // page.bin written into the simulated emulator first
    std::string args;  // after "dump"
    std::size_t lineCount;
    std::vector<std::pair<std::size_t, std::string>> lines;
};

class CliDumpTest : public CliTest, public ::testing::WithParamInterface<DumpCase> {};

const std::string kFilled = " FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF   ................";
const std::string kText = " 54 61 72 76 65 78 20 49 49 20 4C 6F 61 64 65 72   Tarvex.II.Loader";

// Each page is its 16 lines, each line ends in a line break, nothing else is printed.
TEST_P(CliDumpTest, PrintsThePagesAsTheWindowShowsThem) {
    const DumpCase& row = GetParam();
    WriteText(work_ / "page.bin", "Tarvex II Loader");
    if (row.written) {
        ASSERT_EQ(Run("sim", "write page.bin --type 27010 --reset-ms 0").status, 0);
    }
    const RunResult result = Run("sim", "dump " + row.args);
    ASSERT_EQ(result.status, 0) << result.err;
    ASSERT_TRUE(result.out.ends_with("\n"));
    std::vector<std::string> lines;
    std::istringstream out(result.out);
    for (std::string line; std::getline(out, line); lines.push_back(line)) {
        EXPECT_EQ(line.size(), 74u) << '"' << line << '"';
    }
    ASSERT_EQ(lines.size(), row.lineCount);
    for (const auto& [number, text] : row.lines) {
        EXPECT_EQ(lines[number], text) << "line " << number;
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Dumps, CliDumpTest, ::testing::Values(
    DumpCase{"EveryPageOfA2764", false, "page.bin --type 2764", 512,
             {{0, "00000 :" + kText}, {16, "00100 :" + kFilled}, {511, "01FF0 :" + kFilled}}},
    DumpCase{"NarrowedRangeLoadsAsWriteDoes", false, "page.bin --type 2764 --start 10 --end 1F "
             "--page 0", 16, {{0, "00000 :" + kFilled}, {1, "00010 :" + kText},
             {2, "00020 :" + kFilled}}},
    DumpCase{"Emulator", true, "--emulator --type 27010 --page 0", 16, {{0, "00000 :" + kText}}},
    DumpCase{"EmulatorEveryPage", true, "--emulator --type 27010", 8192,
             {{8191, "1FFF0 :" + kFilled}}}),
    kRowName);
// clang-format on

// The signals test drives the lines asked for, as often as asked (their sequences: see the
// diagnostics tests), and needs no emulator.
TEST_F(CliTest, SignalsTestDrivesTheLinesAskedForAndNeedsNoEmulator) {
    const RunResult result = Run("sim", "test signals --lines data,init --count 3", "trace.txt");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_THAT(result.out, HasSubstr("CD40106 pin 1 -> 2"));
    EXPECT_THAT(result.out, HasSubstr("\n3 iterations in "));
    std::string trace = ReadText(work_ / "trace.txt");
    trace.erase(0, trace.find("W 0378 55\n"));            // the detection's accesses
    EXPECT_EQ(Lines(trace, "W 0378 "), 3u * 4) << trace;  // four steps of data an iteration
    EXPECT_EQ(Lines(trace, "W 037A "), 3u * 4) << trace;  // and of Init-, which is bit 2
    EXPECT_THAT(trace, HasSubstr("W 037A 00\nR 037A 00\nW 037A 04\n"));
    const RunResult alone = Run("sim:none", "test signals --lines data --count 2", "trace.txt");
    EXPECT_EQ(alone.status, 0) << alone.err;
    EXPECT_THAT(alone.out, HasSubstr("at 0x0278 (no emulator answered)"));
    const std::string data = "W 0278 55\nW 0278 AA\nW 0278 00\nW 0278 FF\n";
    EXPECT_THAT(ReadText(work_ / "trace.txt"), ::testing::EndsWith(data + data));
}

// Output to a descriptor goes into that descriptor: appended where the shell redirected it.
TEST_F(CliTest, StandardOutputIsWrittenInPlace) {
    WriteText(work_ / "app.bin", "HEADER");
    ASSERT_EQ(Run("sim", "-q read /dev/stdout --type 2764", nullptr, " >>app.bin").status, 0);
    const RunResult dash = Expect("sim", "read - --type 2764", 0);
    EXPECT_EQ(ReadText(work_ / "app.bin"), "HEADER" + dash.out);
    EXPECT_EQ(dash.out.size(), 0x2000u);
    EXPECT_FALSE(fs::exists(work_ / "-"));
}

TEST_F(CliTest, ClosedStandardDescriptorsGetNoFileOfTheRun) {
    ASSERT_EQ(Run("sim", "-q " + kWrite).status, 0);
    for (const char* closed : {" 2>&-", " >&-", " >&- 2>&-", " <&-"}) {
        for (const std::string json : {"", "--json "}) {
            SCOPED_TRACE(closed + json);
            fs::remove(work_ / "back.bin");
            EXPECT_EQ(Run("sim", json + "read back.bin --type 2764", nullptr, closed).status, 0);
            EXPECT_EQ(ReadText(work_ / "back.bin"), ReadText(work_ / "image.bin"));
        }
    }
}

TEST_F(CliTest, TwoRunsOnOneSimulatorStateTakeTurns) {
    WriteText(work_ / "a.bin", std::string(0x400, '\xAA'));
    WriteText(work_ / "b.bin", std::string(0x400, '\xBB'));
    const std::string range = " --type 2764 --end 3FF", quick = range + " --reset-ms 0 -q";
    // The old fixed temporary name, planted as a link: nothing may be written through it.
    WriteText(work_ / "victim", "victim");
    fs::create_symlink(work_ / "victim", base_ / "sim.state.tmp");
    const pid_t slow = Start("sim:0x378/slow=20", "write a.bin" + quick);
    usleep(200000);
    EXPECT_EQ(Run("sim", "write b.bin" + quick).status, 0);
    EXPECT_EQ(Wait(slow), 0);
    EXPECT_EQ(Run("sim", "verify b.bin" + range).status, 0)
        << "the first run's memory was saved over the second's";
    EXPECT_EQ(ReadText(work_ / "victim"), "victim");
}

// --json: every line of stdout is one JSON event, the last one the result; the human text
// stays on stderr (none with --quiet). Each `expected` object must match some event in all its
// fields; `shape` is a regex of the event names in order, a transfer as its phase's name once.
struct JsonCase {
    const char* name;
    const char* io;
    std::string setup, args;
    int status;
    std::string shape;
    std::vector<J> expected;
    std::string err;  // in stderr; empty: stderr is empty
};

class CliJsonTest : public CliTest, public ::testing::WithParamInterface<JsonCase> {};

TEST_P(CliJsonTest, EveryLineIsAnEventAndTheLastTheResult) {
    const JsonCase& row = GetParam();
    if (!row.setup.empty()) {
        ASSERT_EQ(Run(row.io, row.setup).status, 0);
    }
    const auto began = std::chrono::steady_clock::now();
    const RunResult result = Run(row.io, row.args);
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - began;
    EXPECT_EQ(result.status, row.status) << result.err;
    std::vector<J> events;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        events.push_back(J::parse(line, nullptr, false));
        ASSERT_TRUE(events.back().is_object() && events.back().contains("event")) << line;
    }
    ASSERT_FALSE(events.empty());
    ExpectResult(events.back(), row.status, wall.count());
    std::string shape;
    const J* phase = nullptr;  // the last progress event of the phase under way
    for (const J& event : events) {
        if (event["event"] != "progress") {
            shape += event["event"].get<std::string>() + " ";
            continue;
        }
        // A phase starts at 0, rises below its total and ends once, at its total when finished.
        SCOPED_TRACE(event.dump());
        const std::uint64_t done = event["done"], total = event["total"];
        EXPECT_LE(done, total);
        if (phase == nullptr) {
            shape += event["phase"].get<std::string>() + " ";
            EXPECT_EQ(done, 0u);
            EXPECT_FALSE(event.contains("finished"));
        } else {
            EXPECT_EQ(event["phase"], (*phase)["phase"]);
            EXPECT_EQ(event["total"], (*phase)["total"]);
            EXPECT_GE(done, (*phase)["done"].get<std::uint64_t>());
            EXPECT_TRUE(event.contains("finished") || done < total)
                << "at the total before its end";
            EXPECT_TRUE(!event.value("finished", false) || done == total);
        }
        phase = event.contains("finished") ? nullptr : &event;
    }
    EXPECT_EQ(phase, nullptr) << "a phase did not end";
    EXPECT_THAT(shape, ::testing::MatchesRegex(row.shape)) << result.out;
    for (const J& wanted : row.expected) {
        // An event holds every field of `wanted` when they change nothing in it.
        EXPECT_TRUE(std::any_of(events.begin(), events.end(),
                                [&](const J& event) {
                                    J merged = event;
                                    merged.update(wanted);
                                    return merged == event;
                                }))
            << "no event like " << wanted.dump();
    }
    EXPECT_TRUE(row.err.empty() ? result.err.empty()
                                : result.err.find(row.err) != std::string::npos)
        << result.err;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Runs, CliJsonTest, ::testing::Values(
    JsonCase{"Write", "sim", "", kWrite + " --json", 0, "(detection )+writing verifying result ",
        {J{{"event", "detection"}, {"address", 0x378}, {"port", "0x0378"}, {"found", true}},
         J{{"phase", "writing"}, {"done", 0x2000}, {"total", 0x2000}, {"finished", true}},
         J{{"phase", "verifying"}, {"done", 0x2000}, {"finished", true}},
         J{{"event", "result"}, {"command", "write"}, {"class", "success"}, {"bytes", 0x2000}}},
        "wrote 8192 bytes of image.bin"},
    JsonCase{"QuietWriteOfSRecords", "sim", "", "--json -q write good.S28 --type 2764 --reset-ms 0 "
        "--end FF", 0, "(message )+(detection )+writing verifying result ",
        {J{{"event", "message"}, {"caption", "Information"}, {"text", "good.S28: Load range : "
           "00000...00000"}}, J{{"command", "write"}, {"bytes", 0x100}}}, ""},
    JsonCase{"FailedVerify", "sim:0x378/stuck1=7", "-q write zero.bin --type 2764 --no-verify "
        "--start 100 --end 1FF --reset-ms 0", "verify zero.bin --json --type 2764 --start 100 "
        "--end 1FF", 1, "(detection )+verifying reading (mismatch ){256}(error )+result ",
        {J{{"phase", "verifying"}, {"finished", false}},
         J{{"phase", "reading"}, {"done", 0x100}, {"finished", true}},
         J{{"event", "mismatch"}, {"address", 0xFF}, {"image", 0}, {"emulator", 0x80}},
         J{{"event", "result"}, {"command", "verify"}, {"class", "mismatch"}, {"bytes", 0x100}}},
        "verify failed: 256 of 256 bytes"},
    // A name that is no UTF-8 keeps its bytes beside the text that shows it.
    JsonCase{"NameBytes", "sim", "", "verify \xFF.bin --type 2764 --json", 4, "(error )+result ",
        {J{{"event", "error"}, {"text_bytes", "63616E6E6F74206F70656E20FF2E62696E3A204E6F2073756368"
        "2066696C65206F72206469726563746F7279"}}}, "cannot open"},
    JsonCase{"FailedLoad", "sim", "", "write broken.s19 --type 2764 --json", 4,
        "(message ){2}result ",
        {J{{"caption", "Error"}, {"text", "broken.s19: Invalid record type , line #2"}},
         J{{"caption", "Error"}, {"text", "broken.s19: File read error"}},
         J{{"command", "write"}, {"class", "file-error"}, {"status", 4}}},
        "tarvex: broken.s19: Invalid record type , line #2"},
    JsonCase{"NoEmulator", "sim:none", "", "detect --json", 3, "(detection ){3}(error )+result ",
        {J{{"address", 0x278}, {"found", false}, {"detail", "no port, status reads FF, nibble "
           "echo fails (wrote 0, read F)"}},
         J{{"command", "detect"}, {"class", "no-emulator"}, {"bytes", 0}}},
        "no emulator answered"},
    JsonCase{"UsageError", "sim", "", "--json write image.bin --type 9", 2, "(error )+result ",
        {J{{"text", "write: --type: '9' is not an EPROM type (use 2764, 27128, 27256, 27512 or "
           "27010)"}}, J{{"command", "write"}, {"class", "usage"}}}, "Try 'tarvex write --help'"},
    JsonCase{"Convert", nullptr, "", "convert good.S28 new.hex --type 2764 --from srec --to xhex "
        "--json", 0, "(message )+result ",
        {J{{"caption", "Information"}, {"text", "Load range : 00000...00000"}},
         J{{"command", "convert"}, {"class", "success"}, {"bytes", 0x2000}}},
        "Information: Load range"},
    JsonCase{"MemoryTest", "sim", "", "test memory --passes 2 --json -q", 0,
        "(detection )+(pass ){2}result ",
        {J{{"event", "pass"}, {"pass", 2}, {"ok", true}, {"passed", 2}, {"failed", 0}},
         J{{"command", "test"}, {"class", "success"}, {"bytes", 0}}}, ""},
    JsonCase{"MemoryTestBadCell", "sim:0x378/bad=0x123", "", "test memory --passes 1 --json -q", 1,
        "(detection )+mismatch (pass )+result ",
        {J{{"event", "mismatch"}, {"address", 0x123}},
         J{{"event", "pass"}, {"pass", 1}, {"ok", false}, {"failed", 1}},
         J{{"command", "test"}, {"class", "mismatch"}}}, "pass 1 bad"},
    JsonCase{"Dump", nullptr, "", "dump good.S28 --type 2764 --json --page 1", 0,
        "(message )+page result ", {J{{"event", "page"}, {"page", 1}}}, "Load range"},
    JsonCase{"ReadToStandardOutput", "sim", "", "read - --type 2764 --json", 2, "(error )+result ",
        {J{{"class", "usage"}}}, "FILE cannot be - (standard output)"}),
    kRowName);
// clang-format on

// clang-format off
INSTANTIATE_TEST_SUITE_P(BadForms, CliStatusTest, ::testing::Values(
    U("", "no command given"),
    U("flash", "unknown command 'flash'"),
    U("help flash", "help: unknown command 'flash'"),
    U("--bogus detect", "unknown option '--bogus'"),
    U("--port '$FFFE' detect", "'$FFFE' is not a port base address"),
    U("--io '' detect", "--io: '' is not a port access method"),
    U("detect 0x378", "detect does not take '0x378'"),
    U("detect --type 2764", "option --type does not apply to detect"),
    U("write --type 2764", "FILE is required"),
    U("write image.bin", "--type is required"),
    U("write image.bin --type", "--type: 1 required T missing"),
    U("write image.bin --type 2764 --verity", "unknown option '--verity'"),
    U("write image.bin --type 2764 --verify changed",
      "--verify applies with --watch or --changed-only"),
    U("write image.bin --type 2764 --watch --verify some",
      "'some' is not a verify mode (use all or changed)"),
    U("write - --type 2764 --watch", "--watch needs a FILE to watch"),
    U("write - --type 2764 --changed-only -", "FILE and --changed-only PREVIOUS cannot both be -"),
    U("write a.bin --type 2764 --previous-format bin",
      "--previous-format applies with --changed-only"),
    U("write image.bin --type 2764 --watch --changed-only old.bin",
      "--watch excludes --changed-only"),
    U("read image.bin --type 2764 --hex-base E000", "--hex-base applies to HEX and S-record files"),
    U("read x.hex --type 27010 --hex-base F0000", "do not fit Intel HEX extended segment records"),
    U("convert a.hex b.hex --type 2764 --hex-base E00G", "'E00G' is not a hexadecimal address"),
    U("write image.bin --type 2764 --reset-ms 10001", "'10001' is longer than 10 s (10000 ms)"),
    U("write image.bin --type 2764 --start 2000",
      "--start '2000' is beyond the last address 01FFF of the 2764"),
    U("write image.bin --type 2764 --end 12G", "'12G' is not a hexadecimal address"),
    U("write image.bin old.bin --type 2764", "write does not take 'old.bin'"),
    U("read new.bin --type 2764 --reset-ms 5", "option --reset-ms does not apply to read"),
    U("read new.bin --type 2764 --format s19",
      "'s19' is not a file format (use bin, hex, xhex or srec)"),
    U("read '' --type 2764", "FILE: must not be empty"),
    U("verify image.bin --type 2764 --no-verify", "option --no-verify does not apply to verify"),
    U("reset", "ACTION is required"),
    U("reset now", "'now' is not a RESET action (use hold, release, toggle or pulse)"),
    U("reset hold 5", "reset hold does not take '5'"),
    U("reset pulse -5", "'-5' is negative"),
    U("reset pulse '$2711'", "'$2711' is longer than 10 s"),
    U("reset hold --format hex", "option --format does not apply to reset"),
    U("test cpu", "'cpu' is not a test (use memory or signals)"),
    U("test signals", "test signals needs --lines"),
    U("test signals --lines data,busy", "'busy' is not a line"),
    U("test signals --lines data,", "'' is not a line"),
    U("test signals --lines data --passes 2", "test signals does not take --passes"),
    U("test signals --lines data --count 2 --seconds 1", "excludes"),
    U("test signals --lines data --seconds 0", "'0' is not a number of seconds"),
    U("test memory --lines data", "test memory does not take --lines"),
    U("test memory --passes 1000001", "'1000001' is not a number of passes from 1 to 1000000"),
    U("convert image.bin --type 2764", "OUTPUT is required"),
    U("convert image.bin o.bin --type '$10000'", "'$10000' is not an EPROM type"),
    U("convert image.bin o.hex --type 2764 --to mot", "'mot' is not a file format"),
    U("convert image.bin o.bin --type 2764 --port '$378'",
      "option --port does not apply to convert"),
    U("--io sim convert image.bin o.bin --type 2764", "--io and --port do not apply to convert"),
    U("dump image.bin --type 2764 --leave hold", "option --leave applies to dump --emulator only"),
    U("dump image.bin --type 2764 --page 32", "--page '32' is beyond the last page 31 of the 2764"),
    U("dump image.bin --type 2764 --page '$1'", "'$1' is not a page number (decimal, 0 to 31)"),
    U("dump image.bin --emulator --type 2764",
      "dump --emulator takes no FILE, but got 'image.bin'"),
    U("dump --emulator --type 2764 --end FF", "option --end does not apply to dump --emulator"),
    U("dump image.bin", "dump: --type is required"),
    U("write image.bin --type 2764 --page 1", "option --page does not apply to write"),
    U("convert image.bin o.hex --type 2764 --format hex",
      "option --format does not apply to convert")),
    kRowName);
// clang-format on

// The edit loop: each change of the file reaches the emulator once, whether the file is
// written in place or replaced by rename; a file that does not load leaves the emulator alone;
// Ctrl-C ends the loop with the last cycle's outcome.
TEST_F(CliTest, WatchPutsEveryEditIntoTheEmulatorAndNoBrokenOne) {
    std::string bytes = RandomBytes(0x2000, 5);
    const auto flip = [&](std::size_t from, std::size_t to) {
        for (std::size_t at = from; at < to; ++at) {
            bytes[at] = static_cast<char>(~bytes[at]);
        }
    };
    Convert(bytes, "fw.hex");
    const pid_t watch = Start("sim", "write fw.hex --type 2764 --watch --reset-ms 0");
    ASSERT_TRUE(WaitFor("watching", 1));
    flip(0x100, 0x110);  // written in place
    Convert(bytes, "next.hex");
    WriteText(work_ / "fw.hex", ReadText(work_ / "next.hex"));
    ASSERT_TRUE(WaitFor(" fw.hex: ", 1)) << ReadText(base_ / "started.err");
    flip(0x1000, 0x2000);  // replaced by rename
    Convert(bytes, "fw.hex");
    ASSERT_TRUE(WaitFor(" fw.hex: ", 2)) << ReadText(base_ / "started.err");
    std::string broken = ReadText(work_ / "fw.hex");  // a checksum off by one
    broken[42] = broken[42] == '0' ? '1' : '0';
    WriteText(work_ / "fw.hex", broken);
    ASSERT_TRUE(WaitFor(" fw.hex: ", 3)) << ReadText(base_ / "started.err");
    usleep(1000000);  // a quiet second: no edit, no cycle
    kill(watch, SIGINT);
    EXPECT_EQ(Wait(watch), 1) << "the last cycle failed";
    const std::string out = ReadText(base_ / "started.out");
    EXPECT_EQ(Lines(out, " fw.hex: "), 3u) << out;
    EXPECT_THAT(out, HasSubstr("fw.hex: 16 bytes changed in 1 run, "));
    EXPECT_THAT(out, HasSubstr("fw.hex: 4096 bytes changed in 1 run, "));
    EXPECT_THAT(out, HasSubstr("written and verified, target released\n"));
    EXPECT_THAT(out, HasSubstr("fw.hex: does not load; the emulator keeps the last image written"));
    EXPECT_THAT(ReadText(base_ / "started.err"),
                HasSubstr("fw.hex: Invalid file structure , line #1"));
    Expect("sim", "verify edit.bin --type 2764", 0);  // the last image that loaded
}

// The edit loop against a slow emulator: an edit made during the first write is not lost, a
// file written in two steps is loaded once, whole, and each cycle is an event.
TEST_F(CliTest, WatchLosesNoEditAndLoadsNoHalfFile) {
    std::string bytes = RandomBytes(0x2000, 11);
    Convert(bytes, "first.s19");
    bytes[0x40] = static_cast<char>(~bytes[0x40]);
    Convert(bytes, "second.s19");
    WriteText(work_ / "fw.s19", ReadText(work_ / "first.s19"));
    // A few microseconds an access (more as the sleeps go): the first write and verify take
    // seconds.
    const pid_t watch = Start("sim:0x378/slow=3",
                              "--json write fw.s19 --type 2764 --watch "
                              "--reset-ms 0 --verify changed");
    ASSERT_TRUE(WaitFor("\"phase\":\"writing\"", 1)) << ReadText(base_ / "started.err");
    WriteText(work_ / "fw.s19", ReadText(work_ / "second.s19"));
    ASSERT_TRUE(WaitFor("\"event\":\"cycle\"", 1)) << ReadText(base_ / "started.err");
    // Now the first half of the new file, no end record: valid as it stands; the rest follows
    // after a pause shorter than the watch's.
    const std::string whole = ReadText(work_ / "first.s19");
    const std::size_t half = whole.find('\n', whole.size() / 2) + 1;
    WriteText(work_ / "fw.s19", whole.substr(0, half));
    usleep(200000);
    std::ofstream(work_ / "fw.s19", std::ios::app) << whole.substr(half);
    ASSERT_TRUE(WaitFor("\"event\":\"cycle\"", 2)) << ReadText(base_ / "started.err");
    usleep(600000);
    kill(watch, SIGINT);
    EXPECT_EQ(Wait(watch), 0) << ReadText(base_ / "started.err");
    EXPECT_EQ(Started("\"event\":\"cycle\""), 2u) << "the half file was loaded";
    EXPECT_THAT(ReadText(base_ / "started.out"),
                HasSubstr("{\"event\":\"cycle\",\"file\":\"fw.s19\",\"changed\":1,"
                          "\"runs\":1,\"written\":\"changes\",\"verified\":true,\"status\":0"));
    Expect("sim", "verify first.s19 --type 2764", 0);
}

// Runs a user ends or starves: a full disk or a closed pipe, signals at once or twice, a read,
// a test or an edit loop ended by a signal. Each ends with its class of status and says why
// once, keeps the old file and leaves no temporary one; under --json its last line is a
// result with that same status.
struct HostileCase {
    const char* name;
    const char* io;
    std::string script;                        // for bash, in work_; T is the tarvex binary
    std::vector<std::pair<int, int>> signals;  // after so many ms, this signal
    int status;
    std::string err;      // in stderr, once; empty: no error at all
    bool result = false;  // stdout ends with a result line of the same status
};

class CliHostileTest : public CliTest, public ::testing::WithParamInterface<HostileCase> {};
using H = HostileCase;

TEST_P(CliHostileTest, EndsWithItsStatusAndSaysIt) {
    const HostileCase& row = GetParam();
    const auto began = std::chrono::steady_clock::now();
    const pid_t child = Spawn(row.io, row.script);
    if (!row.signals.empty()) {
        WaitUntilItCatchesSignals(child);
    }
    for (const auto& [ms, signal] : row.signals) {
        usleep(static_cast<useconds_t>(ms) * 1000);
        kill(child, signal);
    }
    EXPECT_EQ(Wait(child), row.status);
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - began;
    const std::string err = ReadText(base_ / "run.err"), out = ReadText(base_ / "run.out");
    if (row.err.empty()) {
        EXPECT_THAT(err, Not(HasSubstr("tarvex:")));
    } else {
        EXPECT_THAT(err, HasSubstr(row.err));
        EXPECT_EQ(err.find(row.err), err.rfind(row.err)) << "said twice: " << err;
    }
    EXPECT_EQ(ReadText(work_ / "old.bin"), "old");
    for (const fs::path& name : Names()) {
        EXPECT_FALSE(name.filename().string().starts_with(".tarvex-")) << name;
    }
    if (row.result) {
        const std::size_t last = out.rfind('\n', out.size() - 2);  // of the last line
        ExpectResult(J::parse(out.substr(last + 1), nullptr, false), row.status, wall.count());
    }
}

const char* const kSlow = "sim:0x378/slow=20";
const std::string kT = "exec \"$T\" ", kSlowRead = kT + "read old.bin --type 27010 --format xhex";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Runs, CliHostileTest, ::testing::Values(
    H{"JsonDumpToAFullDisk", "sim", kT + "--json dump image.bin --type 2764 >/dev/full", {}, 4,
      "cannot write the JSON events: No space left on device"},
    H{"DumpToAFullDisk", "sim", kT + "dump image.bin --type 27010 >/dev/full", {}, 4,
      "cannot write the dump: No space left on device"},
    // A reader that stops early (head, a pager) is no error: the status of SIGPIPE, quietly.
    H{"JsonDumpIntoHead", "sim", "\"$T\" --json dump --emulator --type 2764 | head -1 "
      ">/dev/null; exit ${PIPESTATUS[0]}", {}, 141, ""},
    H{"DumpIntoHead", "sim", "\"$T\" dump image.bin --type 27010 | head -c 10 "
      ">/dev/null; exit ${PIPESTATUS[0]}", {}, 141, ""},
    H{"TraceToAFullDisk", "sim", "TARVEX_TRACE=/dev/full " + kT + kWrite, {}, 4,
      "cannot write trace file /dev/full (TARVEX_TRACE): No space"},
    H{"TraceOverTheImage", "sim", "TARVEX_TRACE=old.bin " + kT + "write old.bin --type 2764", {}, 2,
      "TARVEX_TRACE names old.bin"},
    // A signal stops a read at the next byte; a second one ends the run at once.
    H{"ReadInterrupted", kSlow, kSlowRead, {{500, SIGINT}}, 130, "interrupted"},
    H{"ReadTerminated", kSlow, kSlowRead, {{500, SIGTERM}}, 143, "terminated"},
    H{"ReadHungUp", kSlow, kSlowRead, {{500, SIGHUP}}, 129, "hung up"},
    H{"ReadInterruptedTwice", kSlow, kSlowRead, {{500, SIGINT}, {0, SIGINT}}, 130,
      "reading: 0% (0 of"},
    H{"ReadGetsAUserSignal", kSlow, kSlowRead, {{500, SIGUSR1}}, 128 + SIGUSR1, ""},
    // A FIFO nobody writes to does not hold the run hostage.
    H{"FifoNobodyWrites", "sim", "mkfifo fifo && " + kT + "write fifo --type 2764", {{100, SIGINT}},
      130, "interrupted; nothing was changed"},
    // Ctrl-C is a test's normal end (after a pass, even on a busy machine): the totals, the
    // type given back, exit 0.
    H{"MemoryTestInterrupted", "sim", kT + "test memory --type 2764 >&2", {{4000, SIGINT}}, 0,
      ", 0 bad, stopped ("},
    H{"SignalsTestInterrupted", "sim", kT + "test signals --lines strobe >&2", {{1500, SIGINT}}, 0,
      " iterations per second, stopped"},
    // 50 ms an access: the second Ctrl-C comes while the test gives the type back.
    H{"SecondCtrlCStillEndsWithTheResult", "sim:0x378/slow=50000", kT + "--json test memory "
      "--type 2764", {{500, SIGINT}, {100, SIGINT}}, 130, "", true},
    H{"MemoryTestStoppedInItsFirstPass", "sim:0x378/slow=50", kT + "--json test memory",
      {{500, SIGINT}}, 1, "no pass completed", true},
    H{"MemoryTestTerminated", "sim", kT + "test memory", {{600, SIGTERM}}, 143, "terminated"},
    H{"IdleWatchTerminated", "sim", kT + "--json " + kWrite + " --watch", {{1500, SIGTERM}}, 143,
      "terminated", true},
    H{"IdleWatchHungUp", "sim", kT + kWrite + " --watch", {{1500, SIGHUP}}, 129, "hung up"},
    H{"WatchNeedsARegularFile", "sim", kT + "write /dev/null --type 2764 --watch", {}, 2,
      "/dev/null is not a regular file"}),
    kRowName);
// clang-format on

// An emulator that turns out not to hold PREVIOUS: see PreviousInAFormatOfItsOwn.
TEST_F(CliTest, ChangedOnlyWritesTheDifference) {
    std::string next = ReadText(work_ / "image.bin");
    next[0x10] = static_cast<char>(~next[0x10]);
    next[0x1FFF] = static_cast<char>(~next[0x1FFF]);
    WriteText(work_ / "next.bin", next);
    Expect("sim", "-q " + kWrite, 0);
    Expect("sim", "write next.bin --type 2764 --changed-only image.bin", 0,
           "wrote 2 bytes of next.bin into the 2764 emulator at 0x0378 (what changed since "
           "image.bin, 2 runs), verified");
    Expect("sim", "verify next.bin --type 2764", 0);
}

}  // namespace
