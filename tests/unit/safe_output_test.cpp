// What a save does to the file it replaces: the cases a user meets (links, devices,
// descriptors, permissions, owners, odd names), each on real files in a scratch folder.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>

#include "image/SafeOutputFile.h"
#include "support/Files.h"

namespace tarvex {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using testing::ReadText;
using testing::WriteText;

constexpr unsigned kNobody = 65534;

// Saves "new" to `target`: empty when it worked, else the reason.
std::string Save(const std::string& target) {
    SafeOutputFile file;
    IoResult written{};
    const bool saved = file.Open(target) && (written = file.Write("new", 3)).count == 3 &&
                       !written.error && file.Close() && file.Commit();
    return saved ? "" : file.Error().empty() ? "failed" : file.Error();
}

// The same save by an unprivileged user, in a child process.
std::string SaveAsNobody(const std::string& target) {
    constexpr std::size_t kSize = 4096;
    auto* shared = static_cast<char*>(
        ::mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    std::snprintf(shared, kSize, "could not become nobody");  // also what a crash leaves
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(kNobody) == 0 && ::setuid(kNobody) == 0) {
            std::snprintf(shared, kSize, "%s", Save(target).c_str());
        }
        ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);
    const std::string result = shared;
    ::munmap(shared, kSize);
    return result;
}

// A file holding "old" with these mode bits; its name.
std::string Old(const fs::path& path, mode_t mode = 0644) {
    WriteText(path, "old");
    ::chmod(path.c_str(), mode);
    return path.string();
}

mode_t savedUmask = 0;

using F = const fs::path&;
struct SaveCase {
    const char* name;
    std::function<void(F folder)> setup;  // what the folder holds before the save
    std::string target;                   // the name saved to, in the folder
    std::string refusal;                  // empty: the save must work; else a part of its reason
    std::string file = {};                // then holds `contents`, with the mode bits `mode`
    std::string contents = "new";         // unless 0
    mode_t mode = 0;
    std::function<void(F folder)> check = [](F) {};
    bool needsRoot = false;
    bool asNobody = false;  // the save runs as an unprivileged user
};

class SafeOutputTest : public ::testing::TestWithParam<SaveCase> {
  protected:
    void SetUp() override {
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        fs::permissions(folder_, fs::perms::all);  // nobody works here too
    }
    void TearDown() override { fs::remove_all(folder_); }

    const fs::path folder_ =
        fs::path(::testing::TempDir()) / ("safe-output-" + std::to_string(::getpid()));
};

struct stat Info(const fs::path& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info;
}

TEST_P(SafeOutputTest, ReplacesOnlyWhatItMayAndLeavesNoTemporaryFile) {
    const SaveCase& row = GetParam();
    const bool root = ::geteuid() == 0;
    if (row.needsRoot && !root) {
        GTEST_SKIP() << "needs root";
    }
    row.setup(folder_);
    const std::string target = (folder_ / row.target).string();  // an absolute one stays
    const std::string result = row.asNobody && root ? SaveAsNobody(target) : Save(target);
    EXPECT_EQ(result.empty(), row.refusal.empty()) << result;
    EXPECT_THAT(result, HasSubstr(row.refusal));
    if (!row.file.empty()) {
        EXPECT_EQ(ReadText(folder_ / row.file), row.contents);
        EXPECT_TRUE(!row.mode || (Info(folder_ / row.file).st_mode & 07777) == row.mode);
    }
    row.check(folder_);
    for (const auto& entry : fs::recursive_directory_iterator(folder_)) {
        EXPECT_EQ(entry.path().filename().string().rfind(".tarvex-", 0), std::string::npos)
            << "left behind: " << entry.path();
    }
}

const std::string kLongest(255, 'n');
const auto none = [](F) {};
// clang-format off
INSTANTIATE_TEST_SUITE_P(Targets, SafeOutputTest, ::testing::Values(
    SaveCase{"NewFileGetsWhatTheUmaskLeaves", [](F) { savedUmask = ::umask(002); }, "new.bin", "",
        "new.bin", "new", 0664, [](F) { ::umask(savedUmask); }},
    SaveCase{"KeepsPermissionBitsButNeverSetuidSetgidOrSticky", [](F f) { Old(f / "dump", 07754); },
        "dump", "", "dump", "new", 0754},
    SaveCase{"ForeignOwnerAndGroupAreKept", [](F f) {
            EXPECT_EQ(::chown(Old(f / "theirs").c_str(), kNobody, kNobody), 0);
            ::chmod((f / "theirs").c_str(), 06640); },  // after chown, which clears set-id bits
        "theirs", "", "theirs", "new", 0640, [](F f) {
            EXPECT_EQ(std::pair(Info(f / "theirs").st_uid, Info(f / "theirs").st_gid),
                      std::pair(kNobody, kNobody)); }, true},
    SaveCase{"FileThatCannotKeepItsOwnerIsNotTaken", [](F f) { Old(f / "roots.bin", 0666); },
        "roots.bin", "could not keep its owner and group", "roots.bin", "old", 0,
        [](F f) { EXPECT_EQ(Info(f / "roots.bin").st_uid, 0u); }, true, true},
    SaveCase{"ReadOnlyFolderIsNamedNotTheWritableFile", [](F f) {
            fs::create_directory(f / "ro");
            Old(f / "ro" / "fw.bin", 0666);
            ::chmod((f / "ro").c_str(), 0555); }, "ro/fw.bin",
        "cannot create a temporary file in its folder", "ro/fw.bin", "old", 0,
        [](F f) { ::chmod((f / "ro").c_str(), 0755); }, false, true},
    SaveCase{"LinkIsFollowedAndStaysALink", [](F f) {
            fs::create_directory(f / "real");
            Old(f / "real" / "fw.bin");
            fs::create_symlink("real/fw.bin", f / "link"); }, "link", "", "real/fw.bin", "new", 0,
        [](F f) { EXPECT_TRUE(fs::is_symlink(f / "link")); }},
    SaveCase{"DanglingLinkIsRefused", [](F f) { fs::create_symlink("missing", f / "dangling"); },
        "dangling", "dangling symbolic link", {}, {}, 0, [](F f) {
            EXPECT_TRUE(fs::is_symlink(f / "dangling"));
            EXPECT_FALSE(fs::exists(f / "missing")); }},
    SaveCase{"LinkLoopIsRefused", [](F f) {
            fs::create_symlink("b", f / "a");
            fs::create_symlink("a", f / "b"); }, "a", "Too many levels of symbolic links", {}, {},
        0, [](F f) { EXPECT_TRUE(fs::is_symlink(f / "a")); }},
    SaveCase{"HardLinksAllSeeTheNewContents", [](F f) {
            WriteText(f / "one", "old and longer");
            fs::create_hard_link(f / "one", f / "two"); }, "one", "", "two", "new", 0,
        [](F f) { EXPECT_EQ(Info(f / "one").st_ino, Info(f / "two").st_ino); }},
    SaveCase{"FolderIsRefused", none, ".", "Is a directory"},
    SaveCase{"LongestLegalNameFits", none, kLongest, "", kLongest},
    // Written where the descriptor stands: appending, as the shell's >> opened it.
    SaveCase{"DescriptorIsWrittenWhereItStandsAppendingAsRedirected", [](F f) {
            WriteText(f / "app.bin", "HEADER");
            const int descriptor = ::open((f / "app.bin").c_str(), O_WRONLY | O_APPEND);
            ::dup2(descriptor, 100);
            ::close(descriptor); }, "/dev/fd/100", "", "app.bin", "HEADERnew"}),
    [](const auto& row) { return std::string(row.param.name); });
// clang-format on

// A program that ends on a signal removes what it was writing, from the handler.
using SafeOutputSignals = SafeOutputTest;
TEST_F(SafeOutputSignals, TemporaryFilesAreRemovedAtOnceAndTheTargetIsKept) {
    WriteText(folder_ / "fw.bin", "old");
    SafeOutputFile file;
    ASSERT_TRUE(file.Open((folder_ / "fw.bin").string()));
    file.Write("new", 3);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), {}), 2);
    RemoveTemporaryFilesNow();
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), {}), 1);
    EXPECT_EQ(ReadText(folder_ / "fw.bin"), "old");
}

TEST(PrintableName, ControlCharactersCannotGarbleAMessage) {
    EXPECT_EQ(PrintableName("a\nb\tc\x1b[2Jd\x7f.bin"), "a\\nb\\tc\\x1B[2Jd\\x7F.bin");
}

}  // namespace
}  // namespace tarvex
