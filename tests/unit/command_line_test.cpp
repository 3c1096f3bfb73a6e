#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <tuple>

#include "app/StartupRules.h"
#include "batch/CommandNumber.h"

namespace tarvex {
namespace {

TEST(StartupRules, ArgumentsDecideModeAndExitStatus) {
    using enum StartMode;
    const int ok = kExitSuccess, failed = kExitFailure, usage = kExitUsage;
    // arguments, mode, help, exit status when the port opened and a batch run did not succeed
    // clang-format off
    const std::tuple<std::vector<std::string>, StartMode, bool, int> rows[] = {
        {{}, Interactive, false, ok}, {{"image.bin"}, Interactive, false, ok},
        {{""}, Interactive, false, ok}, {{"H"}, Interactive, false, ok},
        {{"/hh"}, Interactive, false, ok}, {{"help?"}, Usage, true, ok}, {{"/h"}, Usage, true, ok},
        {{"xH"}, Usage, true, ok}, {{"a", "b", "c"}, Batch, false, failed},
        {{"/h", "x"}, Batch, false, failed}, {{"a", "b", "c", "d"}, Batch, false, failed},
        {{"a", "b", "c", "d", "e"}, Usage, false, usage},
        {{"/?", "b", "c", "d", "e"}, Usage, false, usage}};
    // clang-format on
    for (const auto& [arguments, mode, help, exitStatus] : rows) {
        const CommandLineDecision decision = CheckCommandLine(arguments);
        const std::string shown = ::testing::PrintToString(arguments);
        EXPECT_EQ(decision.mode, mode) << shown;
        EXPECT_EQ(decision.helpRequested, help) << shown;
        EXPECT_EQ(ExitStatusFor({decision, false, false}), exitStatus) << shown;
    }
    EXPECT_EQ(ExitStatusFor({{Batch, false}, false, true}), kExitSuccess);
}

TEST(StartupRules, UsageTextIsExact) {  // the window test checks the second-instance question
    EXPECT_EQ(std::string(kUsageMessage),
              "Correct command line form:\r\r"
              "         Tarvex32  [data_file]\r or\r"
              "         Tarvex32  data_file  eprom_type\r or\r"
              "         Tarvex32  data_file  eprom_type  Centronics_address ($=hex)\r or\r"
              "         Tarvex32  data_file  eprom_type  Centronics_address  reset_time[ms]\r");
}

// What is at a lock folder's place before start-up.
enum class Place { Folder, Missing, File, HeldByOther, OpenToOthers, LinkToFolder };

// Makes `place` at `path`; a lock `other` holds stands for another process's (flock sees
// its own open file).
void Make(const std::filesystem::path& path, Place place, InstanceLock& other) {
    namespace fs = std::filesystem;
    const fs::path real = path.string() + ".real";
    if (place == Place::File) {
        std::ofstream(path) << "not a folder";
    } else if (place != Place::Missing) {
        const fs::path folder = place == Place::LinkToFolder ? real : path;
        fs::create_directory(folder);
        fs::permissions(folder,
                        place == Place::OpenToOthers ? fs::perms::all : fs::perms::owner_all);
    }
    if (place == Place::LinkToFolder) {
        fs::create_directory_symlink(real, path);
    } else if (place == Place::HeldByOther) {
        EXPECT_EQ(other.Acquire(path, false), LockOutcome::Acquired);
    }
}

// Only a lock that another holder has is another instance. A folder where no lock can be made
// is passed over; the fallback is made 0700 when missing and used only when it is private.
TEST(InstanceLock, OnlyALockHeldElsewhereIsAnotherInstance) {
    using enum Place;
    // runtime folder, fallback, alone (no other instance), held in: 0 the runtime folder, 1 the
    // fallback, -1 neither (unchecked)
    // clang-format off
    const std::tuple<Place, Place, bool, int> rows[] = {
        {Folder, Folder, true, 0}, {LinkToFolder, Folder, true, 0}, {HeldByOther, Folder, false, -1},
        {Missing, Missing, true, 1}, {File, Folder, true, 1}, {File, HeldByOther, false, -1},
        {File, File, true, -1}, {Missing, OpenToOthers, true, -1}, {Missing, LinkToFolder, true, -1}};
    // clang-format on
    for (const auto& [runtime, fallback, alone, heldIn] : rows) {
        SCOPED_TRACE(::testing::Message() << int(runtime) << " " << int(fallback));
        char name[] = "/tmp/tarvex-lock-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        const std::vector<std::string> folders{std::string(name) + "/runtime",
                                               std::string(name) + "/fallback"};
        InstanceLock other, lock;
        Make(folders[0], runtime, other);
        Make(folders[1], fallback, other);
        EXPECT_EQ(lock.Acquire(folders), alone);
        EXPECT_EQ(lock.Held(), heldIn >= 0);
        if (heldIn >= 0) {
            const std::string& folder = folders[static_cast<std::size_t>(heldIn)];
            InstanceLock second;  // the next copy finds it
            EXPECT_EQ(second.Acquire(folder, false), LockOutcome::HeldElsewhere);
            EXPECT_EQ(std::filesystem::status(folder).permissions(),
                      std::filesystem::perms::owner_all);
        }
        std::filesystem::remove_all(name);
    }
}

TEST(StartupRules, LockFoldersRuntimeThenFallback) {
    using Folders = std::vector<std::string>;
    EXPECT_EQ(InstanceLockDirectories(nullptr, 1000), Folders{"/tmp/runtime-1000"});
    EXPECT_EQ(InstanceLockDirectories("", 1000), Folders{"/tmp/runtime-1000"});
    EXPECT_EQ(InstanceLockDirectories("/run/user/7", 7),
              (Folders{"/run/user/7", "/tmp/runtime-7"}));
}

using Rows = std::vector<std::pair<std::string, std::optional<std::int64_t>>>;

// Reads each text as a command number (`wide`: the reset time) or a port base; a row without
// a value must be refused and leave the value alone.
void ExpectNumbers(const Rows& rows, bool wide = false, bool port = false) {
    for (const auto& [text, expected] : rows) {
        std::int64_t value = 0x5A5A;
        std::uint16_t base = 0x5A5A;
        EXPECT_EQ(port ? ParsePortAddress(text, base) : ParseCommandNumber(text, value, wide),
                  expected.has_value())
            << '"' << text;
        EXPECT_EQ(port ? base : value, expected.value_or(0x5A5A)) << '"' << text;
    }
}

TEST(CommandNumber, ReadsDecimalOrPrefixedHexadecimalAndPortAddresses) {
    // clang-format off
    ExpectNumbers({
        {"888", 888}, {"000027010", 27010}, {"+10000", 10000}, {"-1", -1}, {"   42", 42},
        {"$378", 0x378}, {"x3bc", 0x3BC}, {"X3BC", 0x3BC}, {"0x278", 0x278}, {"0X278", 0x278},
        {"$aBcD", 0xABCD}, {"  $10", 16}, {"0x10378", 0x10378}, {"0x0000000000000001", 1},
        {"2147483647", 2147483647}, {"$FFFFFFFF", -1}, {"-2147483648", -2147483648LL},
        {"", {}}, {"   ", {}}, {"888 ", {}}, {"12G", {}}, {"-", {}}, {"$", {}}, {"0x", {}},
        {"-$10", {}}, {"+0x10", {}}, {"--1", {}}, {"12A", {}}, {"$ 10", {}}, {"\t10", {}},
        {"1.5", {}}, {"2147483648", {}}, {"-2147483649", {}}, {"$100000000", {}},
        {"99999999999999999999", {}}});
    // The reset time reads decimals in 64 bits; hexadecimal keeps its 32-bit pattern.
    ExpectNumbers({
        {"3000000000", 3000000000LL}, {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN}, {"9223372036854775808", {}}, {"$FFFFFFFF", -1},
        {"$100000000", {}}}, true);
    // A port base takes the low 16 bits and keeps room for the control register at base + 2.
    ExpectNumbers({
        {"$378", 0x378}, {"0x10378", 0x378}, {"$FFFD", 0xFFFD}, {"-3", 0xFFFD}, {"$FFFE", {}},
        {"-1", {}}, {"12G", {}}}, false, true);
    // clang-format on
}

}  // namespace
}  // namespace tarvex
