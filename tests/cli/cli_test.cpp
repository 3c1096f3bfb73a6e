#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "link/Emulator.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using Bytes = std::vector<std::uint8_t>;
using Words = std::vector<std::string>;

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Bytes ReadBytes(const fs::path& path) {
    const std::string text = ReadText(path);
    return Bytes(text.begin(), text.end());
}

void WriteBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// One Intel HEX record line with its checksum.
std::string Record(unsigned type, unsigned address, const Bytes& data) {
    Bytes fields{static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(address >> 8),
                 static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(type)};
    fields.insert(fields.end(), data.begin(), data.end());
    unsigned sum = 0;
    std::string line = ":";
    char digits[3];
    for (const std::uint8_t byte : fields) {
        sum += byte;
        std::snprintf(digits, sizeof digits, "%02X", byte);
        line += digits;
    }
    std::snprintf(digits, sizeof digits, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + digits + "\r\n";
}

const std::string kEof = ":00000001FF\r\n";

Bytes RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(random());
    }
    return bytes;
}

// Every test gets a folder of its own: the working folder of the runs, the simulator's
// memory (kept between the runs of one test) and the captured output.
class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "." + info->name();
        for (char& c : name) {
            if (c == '/') {
                c = '_';
            }
        }
        base_ = fs::temp_directory_path() / ("tarvex-cli-" + std::to_string(getpid()) + "-" + name);
        work_ = base_ / "work";
        fs::remove_all(base_);
        fs::create_directories(work_);
        WriteBytes(work_ / "image.bin", RandomBytes(0x2000, 2764));
        fs::create_directories(work_ / "folder");
    }
    void TearDown() override { fs::remove_all(base_); }

    // Runs the shipped binary with TARVEX_IO = `io` (unset when null); any TARVEX_ variable
    // of the test's own environment is dropped.
    RunResult Run(const char* io, const Words& args, const Words& extraEnvironment = {}) {
        Words environment;
        for (char** entry = environ; *entry; ++entry) {
            if (std::string(*entry).rfind("TARVEX_", 0) != 0) {
                environment.emplace_back(*entry);
            }
        }
        if (io) {
            environment.push_back(std::string("TARVEX_IO=") + io);
        }
        environment.push_back("TARVEX_SIM_STATE=" + (base_ / "sim.state").string());
        environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
        Words words{TARVEX_CLI_PATH};
        words.insert(words.end(), args.begin(), args.end());

        auto pointers = [](Words& strings) {
            std::vector<char*> result;
            for (auto& text : strings) {
                result.push_back(text.data());
            }
            result.push_back(nullptr);
            return result;
        };
        std::vector<char*> argv = pointers(words);
        std::vector<char*> envp = pointers(environment);
        const std::string outPath = (base_ / "stdout.txt").string();
        const std::string errPath = (base_ / "stderr.txt").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, work_.c_str());
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        pid_t child = 0;
        const int spawned =
            posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        RunResult result;
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(spawned);
            return result;
        }
        int status = 0;
        waitpid(child, &status, 0);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.out = ReadText(outPath);
        result.err = ReadText(errPath);
        return result;
    }

    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(work_)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

    // The control register values the run wrote at 0x378, from a TARVEX_TRACE file.
    std::vector<std::string> ControlWrites(const fs::path& trace) {
        std::vector<std::string> writes;
        std::istringstream lines(ReadText(trace));
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("W 037A ", 0) == 0) {
                writes.push_back(line.substr(7));
            }
        }
        return writes;
    }

    fs::path base_;
    fs::path work_;
};

// ---------------------------------------------------------------------------------------
// One run, its exit status and what it says.

struct StatusCase {
    const char* name;
    const char* io;
    Words args;
    int status;
    Words stdoutHas;
    Words stderrHas;
};

class CliExitStatusTest : public CliTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(CliExitStatusTest, ExitsWithTheClassAndNamesTheCause) {
    const StatusCase& row = GetParam();
    const RunResult result = Run(row.io, row.args);
    EXPECT_EQ(result.status, row.status) << result.err;
    for (const auto& text : row.stdoutHas) {
        EXPECT_THAT(result.out, HasSubstr(text));
    }
    for (const auto& text : row.stderrHas) {
        EXPECT_THAT(result.err, HasSubstr(text));
    }
    if (row.status == 2) {
        EXPECT_THAT(result.err, HasSubstr("tarvex --help"));
    }
}

const Words kWrite{"write", "image.bin", "--type", "2764", "--reset-ms", "0"};
const auto kRowName = [](const auto& row) { return std::string(row.param.name); };

// clang-format off
INSTANTIATE_TEST_SUITE_P(Usage, CliExitStatusTest, ::testing::Values(
    StatusCase{"NoCommand", "sim", {}, 2, {}, {"no command given"}},
    StatusCase{"UnknownCommand", "sim", {"flash"}, 2, {}, {"unknown command 'flash'"}},
    StatusCase{"UnknownOption", "sim", {"detect", "--fast"}, 2, {}, {"'--fast'"}},
    StatusCase{"OptionWithoutValue", "sim", {"write", "image.bin", "--type"}, 2, {},
               {"--type needs a value"}},
    StatusCase{"WriteWithoutType", "sim", {"write", "image.bin"}, 2, {}, {"needs --type"}},
    StatusCase{"WriteWithoutFile", "sim", {"write", "--type", "2764"}, 2, {}, {"needs a FILE"}},
    StatusCase{"NotAType", "sim", {"write", "image.bin", "--type", "2816"}, 2, {},
               {"'2816' is not an EPROM type"}},
    StatusCase{"StartBeyondType", "sim", {"read", "out.bin", "--type", "2764", "--start", "2000"},
               2, {}, {"beyond the last address 01FFF"}},
    StatusCase{"StartAfterEnd", "sim", {"read", "out.bin", "--type=2764", "--start=100",
               "--end=FF"}, 2, {}, {"--start 00100 is after --end 000FF"}},
    StatusCase{"ResetTimeTooLong", "sim", {"write", "image.bin", "--type", "2764", "--reset-ms",
               "10001"}, 2, {}, {"longer than 10 s"}},
    StatusCase{"ResetTimeNegative", "sim", {"write", "image.bin", "--type", "2764", "--reset-ms",
               "-1"}, 2, {}, {"'-1' is negative"}},
    StatusCase{"PortNotANumber", "sim", {"--port", "12G", "detect"}, 2, {}, {"'12G'"}},
    StatusCase{"PortControlPastFFFF", "sim", {"--port", "$FFFE", "detect"}, 2, {},
               {"'$FFFE' is not a port base address"}},
    StatusCase{"NoVerifyOnlyForWrite", "sim", {"read", "out.bin", "--type", "2764",
               "--no-verify"}, 2, {}, {"--no-verify does not apply to read"}},
    StatusCase{"ResetUnknownAction", "sim", {"reset", "now"}, 2, {}, {"'now'"}},
    StatusCase{"ReleaseTakesNoTime", "sim", {"reset", "release", "5"}, 2, {},
               {"does not take '5'"}},
    StatusCase{"UnknownFormat", "sim", {"write", "image.bin", "--type", "2764", "--format",
               "srec"}, 2, {}, {"--format 'srec' is not a file format"}},
    StatusCase{"FormatCaseMatters", "sim", {"read", "out.hex", "--type", "2764", "--format=HEX"},
               2, {}, {"'HEX' is not a file format"}},
    StatusCase{"FormatNotForDetect", "sim", {"detect", "--format", "hex"}, 2, {},
               {"--format does not apply to detect"}}),
    kRowName);

INSTANTIATE_TEST_SUITE_P(NoEmulator, CliExitStatusTest, ::testing::Values(
    StatusCase{"NothingAnywhere", "sim:none", {"detect"}, 3, {},
               {"no emulator answered at 0x0278, 0x0378 or 0x03BC", "0x0378: no port"}},
    StatusCase{"WriteFindsNothing", "sim:none", kWrite, 3, {}, {"no emulator answered"}},
    StatusCase{"BogusBackend", "bogus", {"detect"}, 3, {}, {"TARVEX_IO=bogus", "sim:none"}},
    StatusCase{"IoOptionOverridesEnvironment", "sim", {"--io", "bogus", "detect"}, 3, {},
               {"bogus is not a port access method"}},
    StatusCase{"BadSimulatorOption", "sim:0x378/wobble", {"detect"}, 3, {},
               {"unknown simulator option 'wobble'"}},
    StatusCase{"GivenPortWithoutEmulator", "sim", {"--port", "0x278", "detect"}, 3, {},
               {"no emulator answered at 0x0278"}},
    StatusCase{"BarePort", "sim:0x378/nodevice", {"--port", "0x378", "detect"}, 3, {},
               {"0x0378: port present, no RESET feedback, nibble echo fails"}},
    StatusCase{"EchoWithoutResetFeedback", "sim:0x378/noreset", {"--port", "0x378", "detect"}, 3,
               {}, {"0x0378: port present, no RESET feedback, nibble echo\n"}},
    StatusCase{"StuckDataLineBreaksEcho", "sim:0x278/stuck1=1", {"detect"}, 3, {},
               {"0x0278: port present, RESET feedback, nibble echo fails (wrote 0, read 2)"}}),
    kRowName);

INSTANTIATE_TEST_SUITE_P(Files, CliExitStatusTest, ::testing::Values(
    StatusCase{"MissingInput", "sim", {"write", "missing.bin", "--type", "2764"}, 4, {},
               {"cannot open missing.bin: No such file or directory"}},
    StatusCase{"MissingInputBeforeNoEmulator", "sim:none", {"verify", "missing.bin", "--type",
               "2764"}, 4, {}, {"missing.bin"}},
    StatusCase{"InputIsAFolder", "sim", {"verify", "folder", "--type", "2764"}, 4, {},
               {"folder: Is a directory"}},
    StatusCase{"OutputFolderMissing", "sim", {"read", "nowhere/out.bin", "--type", "2764"}, 4,
               {}, {"cannot write nowhere/out.bin: No such file or directory"}},
    StatusCase{"OutputIsAFolder", "sim", {"read", "folder", "--type", "2764"}, 4, {},
               {"cannot write folder: Is a directory"}}),
    kRowName);

INSTANTIATE_TEST_SUITE_P(Success, CliExitStatusTest, ::testing::Values(
    StatusCase{"Help", nullptr, {"--help"}, 0, {"Usage: tarvex", "Exit status:"}, {}},
    StatusCase{"Detect", "sim", {"detect"}, 0, {"emulator at 0x0378"}, {}},
    StatusCase{"PortDollar", "sim", {"--port", "$378", "detect"}, 0, {"at 0x0378"}, {}},
    StatusCase{"PortZeroX", "sim", {"--port", "0x378", "detect"}, 0, {"at 0x0378"}, {}},
    StatusCase{"PortDecimal", "sim", {"--port", "888", "detect"}, 0, {"at 0x0378"}, {}},
    StatusCase{"PortX", "sim", {"--port=X378", "detect"}, 0, {"at 0x0378"}, {}},
    StatusCase{"PortHighBitsDropped", "sim", {"--port", "0x10378", "detect"}, 0, {"at 0x0378"},
               {}},
    StatusCase{"PortNonStandard", "sim:0xD010", {"detect", "--port", "0xD010"}, 0,
               {"at 0xD010"}, {}},
    StatusCase{"SearchNeedsNoResetFeedback", "sim:0x378/noreset", {"detect"}, 0, {"at 0x0378"},
               {}},
    StatusCase{"WriteReportsEachStep", "sim", kWrite, 0,
               {"wrote 8192 bytes of image.bin into the 2764 emulator at 0x0378, verified"},
               {"writing: 8192 bytes in", "verifying: 8192 bytes in", "holding RESET for 0 ms"}}),
    kRowName);
// clang-format on

// ---------------------------------------------------------------------------------------
// write, then read back what the emulator holds.

struct RoundTripCase {
    const char* name;
    std::uint16_t type;
    std::size_t fileSize;
    Words range;            // --start/--end
    std::size_t rangeSize;  // bytes read back
};

class CliRoundTripTest : public CliTest, public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(CliRoundTripTest, ReadReturnsWhatWriteLoaded) {
    const RoundTripCase& row = GetParam();
    const Bytes file = RandomBytes(row.fileSize, row.type);
    WriteBytes(work_ / "in.bin", file);
    const std::string type = std::to_string(row.type);

    Words write{"write", "in.bin", "--type", type, "--reset-ms", "0"};
    write.insert(write.end(), row.range.begin(), row.range.end());
    const RunResult written = Run("sim", write);
    ASSERT_EQ(written.status, 0) << written.err;

    Words read{"read", "out.bin", "--type", type};
    read.insert(read.end(), row.range.begin(), row.range.end());
    const RunResult readBack = Run("sim", read);
    ASSERT_EQ(readBack.status, 0) << readBack.err;

    // The loader's rule: a short file leaves FF, a long one is cut at the range.
    Bytes expected(row.rangeSize, 0xFF);
    std::copy_n(file.begin(), std::min(file.size(), expected.size()), expected.begin());
    EXPECT_EQ(ReadBytes(work_ / "out.bin"), expected);

    Words verify{"verify", "in.bin", "--type", type};
    verify.insert(verify.end(), row.range.begin(), row.range.end());
    EXPECT_EQ(Run("sim", verify).status, 0);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(EveryType, CliRoundTripTest, ::testing::Values(
    RoundTripCase{"Type2764", 2764, 0x2000, {}, 0x2000},
    RoundTripCase{"Type27128", 27128, 0x4000, {}, 0x4000},
    RoundTripCase{"Type27256", 27256, 0x8000, {}, 0x8000},
    RoundTripCase{"Type27512", 27512, 0x10000, {}, 0x10000},
    RoundTripCase{"Type27010", 27010, 0x20000, {}, 0x20000},
    RoundTripCase{"ShortFileLeavesFF", 27256, 1000, {}, 0x8000},
    RoundTripCase{"LongFileIsCut", 2764, 0x20000, {}, 0x2000},
    RoundTripCase{"EmptyFile", 2764, 0, {}, 0x2000},
    RoundTripCase{"NarrowRange", 27010, 0x100, {"--start", "1FF00", "--end", "1FFFF"}, 0x100},
    RoundTripCase{"OneByte", 2764, 1, {"--start", "0x5", "--end", "$5"}, 1}),
    kRowName);
// clang-format on

// ---------------------------------------------------------------------------------------
// A fault in the emulator: verify fails and the differences are listed.

struct FaultCase {
    const char* name;
    const char* io;
    Words args;
    Words stderrHas;
};

class CliFaultTest : public CliTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(CliFaultTest, VerifyFailsAndListsTheDifferences) {
    WriteBytes(work_ / "in.bin", RandomBytes(0x20000, 27010));
    const RunResult result = Run(GetParam().io, GetParam().args, {"TARVEX_TRACE=trace.txt"});
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_THAT(result.err, HasSubstr("address  image  emulator"));
    for (const auto& text : GetParam().stderrHas) {
        EXPECT_THAT(result.err, HasSubstr(text));
    }
    EXPECT_THAT(result.out, Not(HasSubstr("wrote")));
    // A target must not run an image the emulator does not hold: no release (control 0x0B).
    EXPECT_THAT(ControlWrites(work_ / "trace.txt"), Not(::testing::Contains("0B")));
}

std::string Row(std::uint32_t address, std::uint8_t image, std::uint8_t emulator) {
    char text[64];
    std::snprintf(text, sizeof text, "    %05X     %02X        %02X", address, image, emulator);
    return text;
}

const Bytes kFaultImage = RandomBytes(0x20000, 27010);

std::string BadCellRow(std::uint32_t address) {
    return Row(address, kFaultImage[address], static_cast<std::uint8_t>(kFaultImage[address] ^ 1));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Faults, CliFaultTest, ::testing::Values(
    FaultCase{"BadCell", "sim:0x378/bad=0x123", {"write", "in.bin", "--type", "27010"},
              {"1 of 131072 bytes in the 27010 emulator at 0x0378 differ from in.bin",
               BadCellRow(0x123)}},
    FaultCase{"BadCellAboveSixtyFourK", "sim:0x378/bad=0x1FFFF",
              {"write", "in.bin", "--type", "27010"}, {"1 of 131072 bytes", BadCellRow(0x1FFFF)}},
    FaultCase{"StuckDataLine", "sim:0x378/stuck1=5", {"write", "in.bin", "--type", "2764"},
              {"bytes in the 2764 emulator", "more"}},
    FaultCase{"CablePulled", "sim:0x378/pull=20000", {"write", "in.bin", "--type", "2764"},
              {"bytes in the 2764 emulator"}},
    FaultCase{"FlakyNibbles", "sim:0x378/flaky=5", {"write", "in.bin", "--type", "27512"},
              {"verify failed"}}),
    kRowName);
// clang-format on

TEST_F(CliTest, VerifyCommandFindsWhatAnUnverifiedWriteLeftBehind) {
    const Bytes image = RandomBytes(0x2000, 1);
    WriteBytes(work_ / "in.bin", image);
    // The state file carries the bad cell's content from the first run into the second.
    ASSERT_EQ(Run("sim:0x378/bad=0x1A5",
                  {"write", "in.bin", "--type", "2764", "--no-verify", "--reset-ms", "0"})
                  .status,
              0);
    const RunResult result = Run("sim", {"verify", "in.bin", "--type", "2764"});
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, HasSubstr("1 of 8192 bytes"));
    EXPECT_THAT(result.err,
                HasSubstr(Row(0x1A5, image[0x1A5], static_cast<std::uint8_t>(image[0x1A5] ^ 1))));
}

// ---------------------------------------------------------------------------------------

TEST_F(CliTest, QuietPrintsNothingOnSuccess) {
    const std::vector<Words> commands{
        {"-q", "detect"},
        {"--quiet", "write", "image.bin", "--type", "2764", "--reset-ms", "0"},
        {"verify", "image.bin", "--type", "2764", "--quiet"},
        {"-q", "read", "out.bin", "--type", "2764"},
        {"-q", "reset", "toggle"},
        {"-q", "read", "out.hex", "--type", "2764", "--format", "xhex"},
        {"-q", "write", "out.hex", "--type", "2764", "--format", "xhex", "--reset-ms", "0"},
        {"-q", "verify", "out.hex", "--type", "2764", "--format=xhex"},
    };
    for (const Words& command : commands) {
        const RunResult result = Run("sim", command);
        EXPECT_EQ(result.status, 0) << command[1];
        EXPECT_THAT(result.out, IsEmpty()) << command[1];
        EXPECT_THAT(result.err, IsEmpty()) << command[1];
    }
}

class CliFormatTest : public CliTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(CliFormatTest, FailedReadKeepsTheOldFile) {
    WriteBytes(work_ / "out.bin", Bytes{'o', 'l', 'd'});
    const auto before = Names();
    EXPECT_EQ(Run("sim:none", {"read", "out.bin", "--type", "2764", "--format", GetParam()}).status,
              3);
    EXPECT_EQ(ReadText(work_ / "out.bin"), "old");
    EXPECT_EQ(Names(), before) << "temporary file left behind";
}

// A link is saved through and the file keeps its permissions, whatever the format.
TEST_P(CliFormatTest, ReadReplacesTheLinkedFileAndKeepsItsMode) {
    WriteText(work_ / "real.out", "old");
    fs::permissions(work_ / "real.out",
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("real.out", work_ / "link.out");
    const auto before = Names();
    const RunResult result =
        Run("sim", {"read", "link.out", "--type", "2764", "--format", GetParam()});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(fs::is_symlink(work_ / "link.out"));
    EXPECT_EQ(fs::status(work_ / "real.out").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(ReadBytes(work_ / "real.out").size(),
              std::string(GetParam()) == "bin" ? 0x2000u : 256 * 77 + 13u);
    EXPECT_EQ(Names(), before);
}

// A pipe is written in place, not replaced by a regular file.
TEST_P(CliFormatTest, ReadWritesIntoAPipe) {
    ASSERT_EQ(Run("sim", {"read", "file.out", "--type", "2764", "--format", GetParam()}).status, 0);
    ASSERT_EQ(mkfifo((work_ / "pipe").c_str(), 0600), 0);
    // Opened first without waiting, so the writer finds a reader; the whole file (at most
    // 20 KiB) fits in the pipe's buffer.
    const int reader = open((work_ / "pipe").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const RunResult result = Run("sim", {"read", "pipe", "--type", "2764", "--format", GetParam()});
    std::string received;
    char block[4096];
    for (ssize_t got; (got = read(reader, block, sizeof block)) > 0;) {
        received.append(block, static_cast<std::size_t>(got));
    }
    close(reader);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(received, ReadText(work_ / "file.out"));
    EXPECT_EQ(fs::status(work_ / "pipe").type(), fs::file_type::fifo);
}

TEST_P(CliFormatTest, FullDiskFails) {
    // A node of our own when we may make one: a save that wrongly replaced the node must
    // not take the system's /dev/full with it.
    fs::path full = work_ / "full";
    if (mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
        full = "/dev/full";
    }
    const RunResult result =
        Run("sim", {"read", full.string(), "--type", "2764", "--format", GetParam()});
    EXPECT_EQ(result.status, 4);
    EXPECT_THAT(result.err,
                HasSubstr("cannot write " + full.string() + ": No space left on device"));
    EXPECT_THAT(result.out, IsEmpty());
    EXPECT_EQ(fs::status(full).type(), fs::file_type::character);
}

INSTANTIATE_TEST_SUITE_P(Formats, CliFormatTest, ::testing::Values("bin", "hex", "xhex"),
                         [](const auto& row) { return std::string(row.param); });

// ---------------------------------------------------------------------------------------
// A HEX file written by convert: written into the emulator, read back in both formats,
// verified.

struct HexImageCase {
    const char* name;
    std::uint16_t type;
    const char* format;
    Words range;
    std::size_t rangeSize;
    std::string loadRange;
};

class CliHexImageTest : public CliTest, public ::testing::WithParamInterface<HexImageCase> {
  protected:
    RunResult RunWith(Words args) {
        const HexImageCase& row = GetParam();
        args.insert(args.end(), {"--type", std::to_string(row.type)});
        args.insert(args.end(), row.range.begin(), row.range.end());
        return Run("sim", args);
    }
};

TEST_P(CliHexImageTest, RoundTripsThroughTheEmulator) {
    const HexImageCase& row = GetParam();
    const Bytes image = RandomBytes(row.rangeSize, row.type);
    WriteBytes(work_ / "in.bin", image);
    ASSERT_EQ(RunWith({"convert", "in.bin", "in.hex", "--to", row.format}).status, 0);

    const RunResult written =
        RunWith({"write", "in.hex", "--format", row.format, "--reset-ms", "0"});
    ASSERT_EQ(written.status, 0) << written.err;
    EXPECT_THAT(written.err, HasSubstr("in.hex: Load range : " + row.loadRange + "\n"));
    ASSERT_EQ(RunWith({"read", "out.bin"}).status, 0);
    EXPECT_EQ(ReadBytes(work_ / "out.bin"), image);

    const RunResult saved = RunWith({"read", "out.hex", "--format=" + std::string(row.format)});
    ASSERT_EQ(saved.status, 0) << saved.err;
    EXPECT_EQ(ReadText(work_ / "out.hex"), ReadText(work_ / "in.hex"));
    EXPECT_EQ(RunWith({"verify", "out.hex", "--format", row.format}).status, 0);

    WriteBytes(work_ / "other.bin", RandomBytes(row.rangeSize, row.type + 1u));
    ASSERT_EQ(RunWith({"write", "other.bin", "--no-verify", "--reset-ms", "0"}).status, 0);
    const RunResult changed = RunWith({"verify", "out.hex", "--format", row.format});
    EXPECT_EQ(changed.status, 1);
    EXPECT_THAT(changed.err, HasSubstr("differ from out.hex"));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Images, CliHexImageTest, ::testing::Values(
    HexImageCase{"PlainHex2764", 2764, "hex", {}, 0x2000, "00000...01FFF"},
    HexImageCase{"PlainHex27010UpToFFFF", 27010, "hex", {"--end", "FFFF"}, 0x10000,
                 "00000...0FFFF"},
    HexImageCase{"Extended27010", 27010, "xhex", {}, 0x20000, "00000...1FFFF"},
    HexImageCase{"ExtendedRangeAbove64K", 27010, "xhex", {"--start", "10010", "--end", "1003F"},
                 0x30, "10010...1003F"}),
    kRowName);
// clang-format on

// ---------------------------------------------------------------------------------------
// HEX files that supply only some bytes: those land at their addresses, the rest of the
// range is FF, even where the emulator held something else.

struct HexRecordsCase {
    const char* name;
    std::uint16_t type;
    const char* format;
    Words range;
    std::uint32_t start;  // first buffer index of the range
    std::size_t rangeSize;
    std::string file;
    std::vector<std::pair<std::uint32_t, Bytes>> supplied;  // buffer index, bytes
    std::string loadRange;
};

class CliHexRecordsTest : public CliTest, public ::testing::WithParamInterface<HexRecordsCase> {};

TEST_P(CliHexRecordsTest, WriteStoresWhatTheFileSupplies) {
    const HexRecordsCase& row = GetParam();
    const std::string type = std::to_string(row.type);
    WriteBytes(work_ / "old.bin", RandomBytes(0x20000, 7));
    ASSERT_EQ(Run("sim", {"write", "old.bin", "--type", type, "--reset-ms", "0"}).status, 0);
    WriteText(work_ / "in.hex", row.file);

    Words write{"write", "in.hex", "--type", type, "--format", row.format, "--reset-ms", "0"};
    write.insert(write.end(), row.range.begin(), row.range.end());
    const RunResult written = Run("sim", write);
    ASSERT_EQ(written.status, 0) << written.err;
    EXPECT_THAT(written.err, HasSubstr("in.hex: Load range : " + row.loadRange + "\n"));

    Words read{"read", "out.bin", "--type", type};
    read.insert(read.end(), row.range.begin(), row.range.end());
    ASSERT_EQ(Run("sim", read).status, 0);
    Bytes expected(row.rangeSize, 0xFF);
    for (const auto& [index, bytes] : row.supplied) {
        std::copy(bytes.begin(), bytes.end(), expected.begin() + (index - row.start));
    }
    EXPECT_EQ(ReadBytes(work_ / "out.bin"), expected);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Files, CliHexRecordsTest, ::testing::Values(
    HexRecordsCase{"PlainSparse", 2764, "hex", {}, 0, 0x2000,
                   Record(0, 0x0100, {1, 2, 3}) + Record(0, 0x1FFE, {4, 5}) + kEof,
                   {{0x0100, {1, 2, 3}}, {0x1FFE, {4, 5}}}, "00100...01FFF"},
    HexRecordsCase{"SegmentRecord", 27010, "xhex", {}, 0, 0x20000,
                   Record(2, 0, {0x10, 0x00}) + Record(0, 0x0010, {0xAA, 0xBB}) + kEof,
                   {{0x10010, {0xAA, 0xBB}}}, "10010...10011"},
    HexRecordsCase{"NarrowRange", 27010, "xhex", {"--start", "1FF00", "--end", "1FFFF"}, 0x1FF00,
                   0x100, Record(4, 0, {0x00, 0x01}) + Record(0, 0xFF80, {9, 8, 7}) + kEof,
                   {{0x1FF80, {9, 8, 7}}}, "1FF80...1FF82"}),
    kRowName);
// clang-format on

// ---------------------------------------------------------------------------------------
// Files that fail to load or cannot be saved: exit 4 with the loader's or the writer's
// message, found out before the port is opened, and nothing left behind.

struct FileFailureCase {
    const char* name;
    Words args;
    Words stderrHas;
};

class CliFileFailureTest : public CliTest, public ::testing::WithParamInterface<FileFailureCase> {};

TEST_P(CliFileFailureTest, FailsBeforeTouchingThePort) {
    WriteText(work_ / "broken.hex",
              Record(0, 0, {1}) + Record(0, 1, {2}) + Record(0, 2, {3}).insert(13, " ") + kEof);
    WriteText(work_ / "segment.hex", Record(2, 0, {0x10, 0x00}) + Record(0, 0x10, {1, 2}) + kEof);
    const auto before = Names();
    const RunResult result = Run("sim", GetParam().args, {"TARVEX_TRACE=trace.txt"});
    EXPECT_EQ(result.status, 4) << result.err;
    for (const auto& text : GetParam().stderrHas) {
        EXPECT_THAT(result.err, HasSubstr(text));
    }
    EXPECT_THAT(result.out, IsEmpty());
    EXPECT_EQ(Names(), before) << "a file was created or the port was opened";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Hex, CliFileFailureTest, ::testing::Values(
    FileFailureCase{"BrokenLineOnWrite", {"write", "broken.hex", "--type", "2764", "--format",
                    "hex"}, {"tarvex: broken.hex: Invalid file structure , line #3\n"
                             "tarvex: broken.hex: File read error\n"}},
    FileFailureCase{"ExtendedRecordInPlainHex", {"write", "segment.hex", "--type", "27010",
                    "--format", "hex"}, {"segment.hex: Invalid record type , line #1"}},
    FileFailureCase{"BelowTheRange", {"write", "segment.hex", "--type", "27010", "--format",
                    "xhex", "--start", "10100"},
                    {"Load address below first data buffer address , line #2"}},
    FileFailureCase{"AboveTheRange", {"verify", "segment.hex", "--type", "2764", "--format",
                    "xhex"}, {"Load address above last data buffer address , line #2"}},
    FileFailureCase{"MissingInput", {"write", "missing.hex", "--type", "2764", "--format",
                    "xhex"}, {"cannot open missing.hex: No such file or directory"}},
    FileFailureCase{"InputIsAFolder", {"verify", "folder", "--type", "2764", "--format", "hex"},
                    {"cannot open folder: Is a directory"}},
    FileFailureCase{"PlainHexAbove64K", {"read", "out.hex", "--type", "27010", "--format",
                    "hex"}, {"tarvex: out.hex: Target address above FFFFh\n"}},
    FileFailureCase{"OutputIsAFolder", {"read", "folder", "--type", "2764", "--format", "xhex"},
                    {"cannot write folder: Is a directory"}},
    FileFailureCase{"DeviceNameRefused", {"read", "con", "--type", "2764", "--format", "xhex"},
                    {"con: Invalid file name"}}),
    kRowName);
// clang-format on

TEST_F(CliTest, UsageErrorTouchesNoPort) {
    const RunResult result =
        Run("sim", {"write", "image.bin", "--type", "2816"}, {"TARVEX_TRACE=trace.txt"});
    EXPECT_EQ(result.status, 2);
    EXPECT_FALSE(fs::exists(work_ / "trace.txt"));
}

struct ResetCase {
    const char* name;
    Words args;
    std::string saying;
    std::string lastControl;  // the control register's last value at 0x378
};

class CliResetTest : public CliTest, public ::testing::WithParamInterface<ResetCase> {};

TEST_P(CliResetTest, LeavesTheLineAsAsked) {
    const RunResult result = Run("sim", GetParam().args, {"TARVEX_TRACE=trace.txt"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_THAT(result.out, HasSubstr(GetParam().saying));
    EXPECT_THAT(result.err, Not(HasSubstr("warning")));
    const auto writes = ControlWrites(work_ / "trace.txt");
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back(), GetParam().lastControl);
}

// The simulator starts with the target held (control 0), so toggle releases it, and
// detect and read leave it held.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Lines, CliResetTest, ::testing::Values(
    ResetCase{"Hold", {"reset", "hold"}, "target held in RESET", "04"},
    ResetCase{"Release", {"reset", "release"}, "target released", "0B"},
    ResetCase{"Toggle", {"reset", "toggle"}, "target released", "0B"},
    ResetCase{"Pulse", {"reset", "pulse", "$5"}, "target reset and released", "0B"},
    ResetCase{"WriteReleasesAfterVerify", kWrite, "verified", "0B"},
    ResetCase{"DetectLeavesItHeld", {"detect"}, "emulator at", "04"},
    ResetCase{"ReadLeavesItHeld", {"read", "out.bin", "--type", "2764"}, "read 8192", "00"}),
    kRowName);
// clang-format on

TEST_F(CliTest, StateIsKeptWhenTheRunIsTraced) {
    // The trace backend wraps the simulator; the state file must still be kept.
    ASSERT_EQ(Run("sim", kWrite, {"TARVEX_TRACE=trace.txt"}).status, 0);
    const RunResult result = Run("sim", {"read", "out.bin", "--type", "2764"});
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(ReadBytes(work_ / "out.bin"), ReadBytes(work_ / "image.bin"));
}

}  // namespace
