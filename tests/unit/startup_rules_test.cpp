#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/StartupRules.h"

namespace tarvex {
namespace {

struct CommandLineCase {
    const char* name;
    std::vector<std::string> arguments;
    StartMode mode;
    bool helpRequested;
    int exitStatus;  // when nothing else goes wrong
};

class CommandLineTest : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLineTest, DecidesModeAndExitStatus) {
    const auto& row = GetParam();
    const CommandLineDecision decision = CheckCommandLine(row.arguments);
    EXPECT_EQ(decision.mode, row.mode);
    EXPECT_EQ(decision.helpRequested, row.helpRequested);
    EXPECT_EQ(decision.BatchRequested(), row.mode == StartMode::Batch);
    // A requested batch run that never succeeded must not end with success.
    EXPECT_EQ(ExitStatusFor({decision, false, false}), row.exitStatus);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLineTest,
    ::testing::Values(
        CommandLineCase{"NoArguments", {}, StartMode::Interactive, false, kExitSuccess},
        CommandLineCase{"OneFileName", {"image.bin"}, StartMode::Interactive, false, kExitSuccess},
        CommandLineCase{"SlashQuestion", {"/?"}, StartMode::Usage, true, kExitSuccess},
        CommandLineCase{"DashQuestion", {"-?"}, StartMode::Usage, true, kExitSuccess},
        CommandLineCase{"AnyTextEndingInQuestion", {"x?"}, StartMode::Usage, true, kExitSuccess},
        CommandLineCase{
            "LongTextEndingInQuestion", {"help?"}, StartMode::Usage, true, kExitSuccess},
        CommandLineCase{"SlashSmallH", {"/h"}, StartMode::Usage, true, kExitSuccess},
        CommandLineCase{"DashCapitalH", {"-H"}, StartMode::Usage, true, kExitSuccess},
        CommandLineCase{"TwoCharactersEndingInH", {"xh"}, StartMode::Usage, true, kExitSuccess},
        CommandLineCase{"SingleH", {"H"}, StartMode::Interactive, false, kExitSuccess},
        CommandLineCase{"SlashHH", {"/hh"}, StartMode::Interactive, false, kExitSuccess},
        CommandLineCase{"HFirstOfTwo", {"/h", "x"}, StartMode::Batch, false, kExitFailure},
        CommandLineCase{"EmptyArgument", {""}, StartMode::Interactive, false, kExitSuccess},
        CommandLineCase{"TwoArguments", {"a.bin", "27010"}, StartMode::Batch, false, kExitFailure},
        CommandLineCase{
            "ThreeArguments", {"a.bin", "2764", "$378"}, StartMode::Batch, false, kExitFailure},
        CommandLineCase{"FourArguments",
                        {"a.bin", "2764", "$378", "500"},
                        StartMode::Batch,
                        false,
                        kExitFailure},
        CommandLineCase{
            "FiveArguments", {"a", "b", "c", "d", "e"}, StartMode::Usage, false, kExitUsage},
        CommandLineCase{
            "FiveWithQuestion", {"/?", "b", "c", "d", "e"}, StartMode::Usage, false, kExitUsage}),
    [](const auto& row) { return std::string(row.param.name); });

struct ExitCase {
    const char* name;
    RunOutcome outcome;
    int status;
};

class ExitStatusTest : public ::testing::TestWithParam<ExitCase> {};

TEST_P(ExitStatusTest, ReportsTheFirstCauseOfFailure) {
    EXPECT_EQ(ExitStatusFor(GetParam().outcome), GetParam().status);
}

const CommandLineDecision kInteractive{StartMode::Interactive, false};
const CommandLineDecision kBatch{StartMode::Batch, false};
const CommandLineDecision kHelp{StartMode::Usage, true};
const CommandLineDecision kWrongCount{StartMode::Usage, false};

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ExitStatusTest,
    ::testing::Values(ExitCase{"InteractiveEnd", {kInteractive, false, false}, kExitSuccess},
                      ExitCase{"PortAccessFailed", {kInteractive, true, false}, kExitFailure},
                      ExitCase{"BatchSucceeded", {kBatch, false, true}, kExitSuccess},
                      ExitCase{"BatchNotSucceeded", {kBatch, false, false}, kExitFailure},
                      ExitCase{"BatchWithoutPortAccess", {kBatch, true, false}, kExitFailure},
                      ExitCase{"HelpEvenWithoutPortAccess", {kHelp, true, false}, kExitSuccess},
                      ExitCase{
                          "WrongCountWinsOverPortAccess", {kWrongCount, true, false}, kExitUsage}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(StartupTexts, UsageMessageLinesEachEndWithCarriageReturn) {
    const std::string expected =
        std::string("Correct command line form:\r") + "\r" + "         Tarvex32  [data_file]\r" +
        " or\r" + "         Tarvex32  data_file  eprom_type\r" + " or\r" +
        "         Tarvex32  data_file  eprom_type  Centronics_address ($=hex)\r" + " or\r" +
        "         Tarvex32  data_file  eprom_type  Centronics_address  reset_time[ms]\r";
    EXPECT_EQ(kUsageMessage, expected);
}

TEST(StartupTexts, SecondInstanceQuestionHasFiveLines) {
    const std::string expected = std::string("The author of Tarvex Loader appreciates\r") +
                                 "the fact, that  you  want to have more\r" +
                                 "then one copy running simultaneously.\r" + "\r" +
                                 "But don't you think one  _is_  enough?";
    EXPECT_EQ(kSecondInstanceQuestion, expected);
}

struct DirectoryCase {
    const char* name;
    const char* xdgRuntimeDir;
    unsigned userId;
    const char* expected;
};

class LockDirectoryTest : public ::testing::TestWithParam<DirectoryCase> {};

TEST_P(LockDirectoryTest, PrefersTheRuntimeDirectory) {
    const auto& row = GetParam();
    EXPECT_EQ(InstanceLockDirectory(row.xdgRuntimeDir, row.userId), row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Environment, LockDirectoryTest,
    ::testing::Values(DirectoryCase{"RuntimeDirSet", "/run/user/1000", 1000, "/run/user/1000"},
                      DirectoryCase{"RuntimeDirUnset", nullptr, 1000, "/tmp/runtime-1000"},
                      DirectoryCase{"RuntimeDirEmpty", "", 0, "/tmp/runtime-0"}),
    [](const auto& row) { return std::string(row.param.name); });

class InstanceLockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarvex-lock-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        directory_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(directory_); }

    std::string directory_;
};

TEST_F(InstanceLockTest, SecondHolderIsRefusedUntilTheFirstLetsGo) {
    InstanceLock first;
    InstanceLock second;
    ASSERT_TRUE(first.Acquire(directory_));
    EXPECT_TRUE(std::filesystem::exists(directory_ + "/Tarvex_2_Mutex.lock"));
    // A separate open of the same file conflicts even inside one process.
    EXPECT_FALSE(second.Acquire(directory_));
    EXPECT_FALSE(second.Held());
    first.Release();
    EXPECT_TRUE(second.Acquire(directory_));
}

TEST_F(InstanceLockTest, EndOfLifeReleases) {
    {
        InstanceLock scoped;
        ASSERT_TRUE(scoped.Acquire(directory_));
    }
    InstanceLock later;
    EXPECT_TRUE(later.Acquire(directory_));
}

TEST_F(InstanceLockTest, MissingDirectoryIsCreatedPrivate) {
    const std::string runtime = directory_ + "/runtime-1000";
    InstanceLock lock;
    ASSERT_TRUE(lock.Acquire(runtime));
    struct stat info {};
    ASSERT_EQ(::stat(runtime.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(InstanceLockTest, UnusableDirectoryCountsAsAnotherInstance) {
    // A plain file where the directory should be: neither mkdir nor open can succeed.
    const std::string blocker = directory_ + "/not-a-directory";
    std::FILE* file = std::fopen(blocker.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    InstanceLock lock;
    EXPECT_FALSE(lock.Acquire(blocker));
    EXPECT_FALSE(lock.Acquire(blocker + "/below"));
    EXPECT_FALSE(lock.Held());
}

TEST_F(InstanceLockTest, LockDescriptorIsNotInherited) {
    InstanceLock lock;
    ASSERT_TRUE(lock.Acquire(directory_));
    // Find the descriptor of the lock file among the open ones.
    bool found = false;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const auto target = std::filesystem::read_symlink(entry.path(), error);
        if (!error && target.filename() == "Tarvex_2_Mutex.lock") {
            const int fd = std::stoi(entry.path().filename().string());
            EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
            found = true;
        }
    }
    EXPECT_TRUE(found);
}

}  // namespace
}  // namespace tarvex
