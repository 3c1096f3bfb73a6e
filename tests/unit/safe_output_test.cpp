// What a save does to the file it replaces: the cases a user meets (links, devices,
// descriptors, permissions, owners, odd names), each on real files in a scratch folder.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "image/SafeOutputFile.h"

namespace tarvex {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

constexpr unsigned kNobody = 65534;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Saves "new" to `target`: empty when it worked, else the reason.
std::string Save(const std::string& target) {
    SafeOutputFile file;
    if (!file.Open(target)) {
        return file.Error();
    }
    const IoResult written = file.Write("new", 3);
    if (written.error || written.count != 3 || !file.Close() || !file.Commit()) {
        return file.Error().empty() ? "failed" : file.Error();
    }
    return {};
}

// The same save by an unprivileged user, in a child process.
std::string SaveAsNobody(const std::string& target) {
    constexpr std::size_t kSize = 4096;
    auto* shared = static_cast<char*>(
        ::mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
            ::_exit(1);
        }
        std::snprintf(shared, kSize, "%s", Save(target).c_str());
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    const std::string result =
        WIFEXITED(status) && WEXITSTATUS(status) == 0 ? shared : "could not become nobody";
    ::munmap(shared, kSize);
    return result;
}

// A file holding "old" with these mode bits; its name.
std::string Old(const fs::path& path, mode_t mode = 0644) {
    WriteText(path, "old");
    ::chmod(path.c_str(), mode);
    return path.string();
}

struct SaveCase {
    const char* name;
    // Makes what the folder holds before the save; returns the name saved to.
    std::function<std::string(const fs::path& folder)> setup;
    std::string refusal;  // empty: the save must work; else a part of its reason
    std::function<void(const fs::path& folder)> check = [](const fs::path&) {};
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

TEST_P(SafeOutputTest, ReplacesOnlyWhatItMayAndLeavesNoTemporaryFile) {
    const SaveCase& row = GetParam();
    const bool root = ::geteuid() == 0;
    if (row.needsRoot && !root) {
        GTEST_SKIP() << "needs root";
    }
    const std::string target = row.setup(folder_);
    const std::string result = row.asNobody && root ? SaveAsNobody(target) : Save(target);
    if (row.refusal.empty()) {
        EXPECT_EQ(result, "");
    } else {
        EXPECT_THAT(result, HasSubstr(row.refusal));
    }
    row.check(folder_);
    for (const auto& entry : fs::recursive_directory_iterator(folder_)) {
        EXPECT_EQ(entry.path().filename().string().rfind(".tarvex-", 0), std::string::npos)
            << "left behind: " << entry.path();
    }
}

struct stat Info(const fs::path& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info;
}

using F = const fs::path&;
// clang-format off
INSTANTIATE_TEST_SUITE_P(Targets, SafeOutputTest, ::testing::Values(
    SaveCase{"NewFileGetsWhatTheUmaskLeaves", [](F f) { return (f / "new.bin").string(); }, "",
        [](F f) {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            EXPECT_EQ(ReadText(f / "new.bin"), "new");
            EXPECT_EQ(Info(f / "new.bin").st_mode & 07777, 0666 & ~mask);
        }},
    SaveCase{"KeepsPermissionBitsButNeverSetuidSetgidOrSticky", [](F f) {
            return Old(f / "dump.bin", 07754); }, "", [](F f) {
            EXPECT_EQ(ReadText(f / "dump.bin"), "new");
            EXPECT_EQ(Info(f / "dump.bin").st_mode & 07777, 0754u); }},
    SaveCase{"WriteProtectedFileIsRefusedEvenForRoot", [](F f) { return Old(f / "ro.bin", 0440); },
        ": write-protected", [](F f) { EXPECT_EQ(ReadText(f / "ro.bin"), "old"); }},
    SaveCase{"ForeignOwnerAndGroupAreKept", [](F f) {
            const std::string file = Old(f / "theirs.bin");
            EXPECT_EQ(::chown(file.c_str(), kNobody, kNobody), 0);
            ::chmod(file.c_str(), 06640);  // after chown, which clears the set-id bits
            return file; }, "", [](F f) {
            EXPECT_EQ(ReadText(f / "theirs.bin"), "new");
            EXPECT_EQ(Info(f / "theirs.bin").st_uid, kNobody);
            EXPECT_EQ(Info(f / "theirs.bin").st_gid, kNobody);
            EXPECT_EQ(Info(f / "theirs.bin").st_mode & 07777, 0640u); }, true},
    SaveCase{"FileThatCannotKeepItsOwnerIsNotTaken", [](F f) { return Old(f / "roots.bin", 0666); },
        "could not keep its owner and group", [](F f) {
            EXPECT_EQ(ReadText(f / "roots.bin"), "old");
            EXPECT_EQ(Info(f / "roots.bin").st_uid, 0u); }, true, true},
    SaveCase{"ReadOnlyFolderIsNamedNotTheWritableFile", [](F f) {
            fs::create_directory(f / "ro");
            const std::string file = Old(f / "ro" / "fw.bin", 0666);
            ::chmod((f / "ro").c_str(), 0555);
            return file; }, "cannot create a temporary file in its folder", [](F f) {
            EXPECT_EQ(ReadText(f / "ro" / "fw.bin"), "old");
            ::chmod((f / "ro").c_str(), 0755); }, false, true},
    SaveCase{"LinkIsFollowedAndStaysALink", [](F f) {
            fs::create_directory(f / "real");
            Old(f / "real" / "fw.bin");
            fs::create_symlink("real/fw.bin", f / "link");
            return (f / "link").string(); }, "", [](F f) {
            EXPECT_TRUE(fs::is_symlink(f / "link"));
            EXPECT_EQ(ReadText(f / "real" / "fw.bin"), "new"); }},
    SaveCase{"DanglingLinkIsRefused", [](F f) {
            fs::create_symlink("missing", f / "dangling");
            return (f / "dangling").string(); }, "dangling symbolic link", [](F f) {
            EXPECT_TRUE(fs::is_symlink(f / "dangling"));
            EXPECT_FALSE(fs::exists(f / "missing")); }},
    SaveCase{"LinkLoopIsRefused", [](F f) {
            fs::create_symlink("b", f / "a");
            fs::create_symlink("a", f / "b");
            return (f / "a").string(); }, "Too many levels of symbolic links",
        [](F f) { EXPECT_TRUE(fs::is_symlink(f / "a")); }},
    SaveCase{"HardLinksAllSeeTheNewContents", [](F f) {
            WriteText(f / "one", "old and longer");
            fs::create_hard_link(f / "one", f / "two");
            return (f / "one").string(); }, "", [](F f) {
            EXPECT_EQ(ReadText(f / "one") + ReadText(f / "two"), "newnew");
            EXPECT_EQ(Info(f / "one").st_ino, Info(f / "two").st_ino); }},
    SaveCase{"FolderIsRefused", [](F f) { return f.string(); }, "Is a directory"},
    SaveCase{"MissingFolderIsNamed", [](F f) { return (f / "no" / "fw.bin").string(); },
        "No such file or directory"},
    SaveCase{"LongestLegalNameFits", [](F f) { return (f / std::string(255, 'n')).string(); }, "",
        [](F f) { EXPECT_EQ(ReadText(f / std::string(255, 'n')), "new"); }},
    SaveCase{"DeviceStaysADevice", [](F f) {
            EXPECT_EQ(::mknod((f / "null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0);
            return (f / "null").string(); }, "",
        [](F f) { EXPECT_TRUE(fs::is_character_file(f / "null")); }, true},
    SaveCase{"DescriptorIsWrittenWhereItStandsAppendingAsRedirected", [](F f) {
            WriteText(f / "app.bin", "HEADER");
            static int descriptor = -1;
            if (descriptor >= 0) {
                ::close(descriptor);
            }
            descriptor = ::open((f / "app.bin").c_str(), O_WRONLY | O_APPEND);
            return "/dev/fd/" + std::to_string(descriptor); }, "",
        [](F f) { EXPECT_EQ(ReadText(f / "app.bin"), "HEADERnew"); }}),
    [](const auto& row) { return std::string(row.param.name); });
// clang-format on

// A program that ends on a signal removes what it was writing, from the handler.
TEST(SafeOutputSignals, TemporaryFilesAreRemovedAtOnceAndTheTargetIsKept) {
    const fs::path folder =
        fs::path(::testing::TempDir()) / ("safe-signal-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    WriteText(folder / "fw.bin", "old");
    SafeOutputFile file;
    ASSERT_TRUE(file.Open((folder / "fw.bin").string()));
    file.Write("new", 3);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 2);
    RemoveTemporaryFilesNow();
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 1);
    EXPECT_EQ(ReadText(folder / "fw.bin"), "old");
    fs::remove_all(folder);
}

TEST(PrintableName, ControlCharactersCannotGarbleAMessage) {
    EXPECT_EQ(PrintableName("a\nb\tc\x1b[2Jd\x7f.bin"), "a\\nb\\tc\\x1B[2Jd\\x7F.bin");
}

}  // namespace
}  // namespace tarvex
