#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "image/FileLoader.h"
#include "image/FileWriter.h"
#include "image/HexText.h"
#include "support/RecordingHost.h"

namespace tarvex {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::RecordingHost;

struct CaseName {
    template <class Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& row) const {
        return row.param.name;
    }
};

// The real files, with a disk that fills up, a close that fails or a rename that fails on
// request.
class FaultyFiles : public FileSystem {
  public:
    std::optional<std::size_t> spaceLeft;  // bytes the disk still takes
    bool failClose = false;
    bool failReplace = false;

    class Output : public OutputFile {
      public:
        Output(FaultyFiles& owner, std::unique_ptr<OutputFile> real)
            : owner_(owner), real_(std::move(real)) {}
        IoResult Write(const void* data, std::size_t size) override {
            std::size_t allowed = size;
            if (owner_.spaceLeft) {
                allowed = std::min(size, *owner_.spaceLeft);
                *owner_.spaceLeft -= allowed;
            }
            IoResult result = real_->Write(data, allowed);
            result.error = result.error || allowed < size;  // ENOSPC, as /dev/full gives
            return result;
        }
        bool Close() override { return real_->Close() && !owner_.failClose; }

      private:
        FaultyFiles& owner_;
        std::unique_ptr<OutputFile> real_;
    };

    std::unique_ptr<InputFile> OpenForReading(const std::string& name) override {
        return NativeFileSystem().OpenForReading(name);
    }
    std::unique_ptr<OutputFile> CreateTemporary(const std::string& target,
                                                std::string& temporaryName) override {
        auto real = NativeFileSystem().CreateTemporary(target, temporaryName);
        return real ? std::make_unique<Output>(*this, std::move(real)) : nullptr;
    }
    bool Replace(const std::string& temporaryName, const std::string& target) override {
        return !failReplace && NativeFileSystem().Replace(temporaryName, target);
    }
    void Remove(const std::string& name) override { NativeFileSystem().Remove(name); }
};

class WriterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::path(::testing::TempDir()) /
                  ("tarvex_writer_" + std::to_string(::getpid()) + "_" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    // Selects the type with a pattern in the image, then narrows the range.
    void Select(std::uint16_t type, std::uint32_t epromEnd, std::uint32_t start, std::uint32_t end,
                std::uint8_t fileType) {
        model_->SelectType(type, epromEnd);
        for (std::uint32_t i = 0; i < ImageModel::kBufferSize; ++i) {
            model_->DataBuffer[i] = static_cast<std::uint8_t>(i * 13 + (i >> 8));
        }
        model_->BufferStart = start;
        model_->BufferEnd = end;
        model_->FileType = fileType;
    }
    std::string Path(const char* name) const { return (folder_ / name).string(); }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static void Write(const std::string& path, const std::string& content) {
        std::ofstream(path, std::ios::binary) << content;
    }
    std::vector<std::string> FolderEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // The file's lines, each checked for CR LF and a zero byte sum.
    static std::vector<std::string> HexLines(const std::string& text) {
        std::vector<std::string> lines;
        std::size_t begin = 0;
        while (begin < text.size()) {
            const std::size_t end = text.find("\r\n", begin);
            EXPECT_NE(end, std::string::npos) << "last line without CR LF";
            if (end == std::string::npos) {
                break;
            }
            std::string line = text.substr(begin, end - begin);
            EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
            unsigned sum = 0;
            for (std::size_t i = 1; i + 1 < line.size(); i += 2) {
                sum += static_cast<unsigned>(std::stoul(line.substr(i, 2), nullptr, 16));
            }
            EXPECT_EQ(sum & 0xFF, 0u) << line;
            EXPECT_EQ(line.find_first_of("abcdef"), std::string::npos) << line;
            lines.push_back(std::move(line));
            begin = end + 2;
        }
        return lines;
    }

    fs::path folder_;
    std::unique_ptr<ImageModel> model_ = std::make_unique<ImageModel>();
    RecordingHost host_;
    FaultyFiles files_;
    FileWriter writer_{*model_, host_, files_};
};

// ---------------------------------------------------------------------------------------
// Record layout.

struct LayoutCase {
    const char* name;
    std::uint16_t type;
    std::uint32_t epromEnd;
    std::uint32_t start;
    std::uint32_t end;
    std::uint8_t fileType;
    std::size_t lineCount;
    // Line index (negative: from the end) and the text that line starts with.
    std::vector<std::pair<int, std::string>> lines;
};
void PrintTo(const LayoutCase& row, std::ostream* out) {
    *out << row.name;
}

class LayoutTest : public WriterTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(LayoutTest, RecordsAndSegments) {
    const LayoutCase& row = GetParam();
    Select(row.type, row.epromEnd, row.start, row.end, row.fileType);
    writer_.SaveBufferToFile(Path("out.hex"));
    EXPECT_THAT(host_.Texts(), ElementsAre());
    EXPECT_FALSE(writer_.SaveFailed());
    const std::vector<std::string> lines = HexLines(Read(Path("out.hex")));
    ASSERT_EQ(lines.size(), row.lineCount);
    EXPECT_EQ(lines.back(), ":00000001FF");
    for (const auto& [at, prefix] : row.lines) {
        const std::size_t index =
            at < 0 ? lines.size() + static_cast<std::size_t>(at) : static_cast<std::size_t>(at);
        EXPECT_EQ(lines[index].substr(0, prefix.size()), prefix) << "line " << index;
    }
    // Records follow each other without gaps; only the last and a cut one are short.
    std::uint32_t expected = row.start;
    std::uint32_t segment = 0;
    for (const std::string& line : lines) {
        const unsigned count = static_cast<unsigned>(std::stoul(line.substr(1, 2), nullptr, 16));
        const unsigned address = static_cast<unsigned>(std::stoul(line.substr(3, 4), nullptr, 16));
        const std::string type = line.substr(7, 2);
        if (type == "02") {
            segment = static_cast<std::uint32_t>(std::stoul(line.substr(9, 4), nullptr, 16));
            EXPECT_EQ(segment << 4, expected & 0xF0000u);
        } else if (type == "00") {
            EXPECT_EQ(segment * 16 + address, expected);
            EXPECT_LE(address + count, 0x10000u) << line;
            if (expected + count <= row.end && (expected + count) % 0x10000 != 0) {
                EXPECT_EQ(count, 32u) << line;
            }
            expected += count;
        }
    }
    EXPECT_EQ(expected, row.end + 1);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Writer, LayoutTest, ::testing::Values(
    LayoutCase{"Full2764", 2764, 0x1FFF, 0, 0x1FFF, 1, 257,
        {{0, ":20000000"}, {1, ":20002000"}, {255, ":201FE000"}}},
    LayoutCase{"ThirtyThreeBytes", 2764, 0x1FFF, 0, 0x20, 1, 3,
        {{0, ":20000000"}, {1, ":01002000"}}},
    LayoutCase{"Full27512PlainHexFits", 27512, 0xFFFF, 0, 0xFFFF, 1, 2049,
        {{-2, ":20FFE000"}}},
    LayoutCase{"Full27010Extended", 27010, 0x1FFFF, 0, 0x1FFFF, 2, 4098,
        {{0, ":20000000"}, {2047, ":20FFE000"}, {2048, ":020000021000EC"},
         {2049, ":20000000"}, {-2, ":20FFE000"}}},
    LayoutCase{"ExtendedBelow64KiBHasNoSegment", 27010, 0x1FFFF, 0x100, 0x1FF, 2, 9,
        {{0, ":20010000"}}},
    LayoutCase{"StartInSecondBlock", 27010, 0x1FFFF, 0x10010, 0x1FFFF, 2, 2050,
        {{0, ":020000021000EC"}, {1, ":20001000"}}},
    LayoutCase{"UnalignedAcrossBoundary", 27010, 0x1FFFF, 0xFFF5, 0x10020, 2, 5,
        {{0, ":0BFFF500"}, {1, ":020000021000EC"}, {2, ":20000000"}, {3, ":01002000"}}},
    LayoutCase{"UnalignedStart", 27256, 0x7FFF, 0x123, 0x1FF, 1, 8,
        {{0, ":20012300"}, {1, ":20014300"}, {6, ":1D01E300"}}},
    LayoutCase{"SingleByte", 27010, 0x1FFFF, 0x1FFFF, 0x1FFFF, 2, 3,
        {{0, ":020000021000EC"}, {1, ":01FFFF00"}}}),
    CaseName());
// clang-format on

TEST_F(WriterTest, ErasedRecordHasChecksumZero) {
    Select(2764, 0x1FFF, 0, 0x1F, 1);
    std::fill_n(model_->DataBuffer.begin(), 0x20, 0xFF);
    writer_.SaveBufferToFile(Path("erased.hex"));
    EXPECT_EQ(Read(Path("erased.hex")),
              ":20000000" + std::string(64, 'F') + "00\r\n:00000001FF\r\n");
}

TEST_F(WriterTest, BinaryIsExactlyTheRange) {
    Select(27010, 0x1FFFF, 0x1234, 0x1ABCD, 0);
    writer_.SaveBufferToFile(Path("out.bin"));
    const std::string content = Read(Path("out.bin"));
    ASSERT_EQ(content.size(), 0x1ABCDu - 0x1234 + 1);
    EXPECT_TRUE(
        std::equal(content.begin(), content.end(), model_->DataBuffer.begin() + 0x1234,
                   [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }));
    EXPECT_THAT(host_.Texts(), ElementsAre());
}

// ---------------------------------------------------------------------------------------
// Save, then load with the same FileType: the same bytes at the same indices.

struct RoundTripCase {
    const char* name;
    std::uint16_t type;
    std::uint32_t epromEnd;
    std::uint32_t start;
    std::uint32_t end;
};
void PrintTo(const RoundTripCase& row, std::ostream* out) {
    *out << row.name;
}

class RoundTripTest : public WriterTest,
                      public ::testing::WithParamInterface<std::tuple<RoundTripCase, int>> {};

TEST_P(RoundTripTest, LoadRestoresTheRange) {
    const auto& [row, fileType] = GetParam();
    Select(row.type, row.epromEnd, row.start, row.end, static_cast<std::uint8_t>(fileType));
    const auto saved = model_->DataBuffer;
    writer_.SaveBufferToFile(Path("trip"));
    ASSERT_FALSE(writer_.SaveFailed());

    model_->DataBuffer.fill(0xEE);
    FileLoader loader(*model_, host_);
    loader.LoadFileToBuffer(Path("trip"));
    EXPECT_FALSE(model_->ReadError);
    if (fileType == 0) {
        EXPECT_THAT(host_.Texts(), ElementsAre());
    } else {
        EXPECT_THAT(host_.Texts(), ElementsAre("Load range : " + HexAddress(row.start) + "..." +
                                               HexAddress(row.end)));
    }
    for (std::uint32_t i = 0; i < ImageModel::kBufferSize; ++i) {
        const bool inRange = i >= row.start && i <= row.end;
        ASSERT_EQ(model_->DataBuffer[i], inRange ? saved[i] : 0xEE) << i;
    }
}

std::vector<std::tuple<RoundTripCase, int>> RoundTrips() {
    const RoundTripCase ranges[] = {
        {"Whole2764", 2764, 0x1FFF, 0, 0x1FFF},
        {"Narrow27256", 27256, 0x7FFF, 0x123, 0x4567},
        {"Last27512Byte", 27512, 0xFFFF, 0xFFFF, 0xFFFF},
        {"Across64KiB", 27010, 0x1FFFF, 0xFFF0, 0x1000F},
        {"Whole27010", 27010, 0x1FFFF, 0, 0x1FFFF},
        {"Upper27010", 27010, 0x1FFFF, 0x10010, 0x1FFFE},
    };
    std::vector<std::tuple<RoundTripCase, int>> rows;
    for (const RoundTripCase& range : ranges) {
        for (int fileType = 0; fileType <= 2; ++fileType) {
            if (fileType != 1 || range.end <= 0xFFFF) {
                rows.emplace_back(range, fileType);
            }
        }
    }
    return rows;
}

struct RoundTripName {
    std::string operator()(
        const ::testing::TestParamInfo<std::tuple<RoundTripCase, int>>& row) const {
        static const char* formats[] = {"Binary", "Hex", "ExtendedHex"};
        return std::string(std::get<0>(row.param).name) + formats[std::get<1>(row.param)];
    }
};

INSTANTIATE_TEST_SUITE_P(Writer, RoundTripTest, ::testing::ValuesIn(RoundTrips()), RoundTripName());

// Plain HEX cannot hold addresses above FFFFh; those rows are the writer's refusals.
TEST_F(WriterTest, PlainHexAboveFFFFhLeavesTheTargetAlone) {
    Select(27010, 0x1FFFF, 0, 0x1FFFF, 1);
    Write(Path("old.hex"), "old content");
    writer_.SaveBufferToFile(Path("old.hex"));
    writer_.SaveBufferToFile(Path("new.hex"));
    EXPECT_THAT(host_.Texts(),
                ElementsAre("Target address above FFFFh", "Target address above FFFFh"));
    EXPECT_TRUE(writer_.SaveFailed());
    EXPECT_EQ(Read(Path("old.hex")), "old content");
    EXPECT_THAT(FolderEntries(), ElementsAre("old.hex"));
}

// ---------------------------------------------------------------------------------------
// Failures: the old file stays, the temporary file goes, the messages come in order.

enum class Fault { DiskFull, DiskFillsUp, CloseFails, RenameFails };

struct FaultCase {
    const char* name;
    std::uint8_t fileType;
    Fault fault;
    std::vector<std::string> messages;
};
void PrintTo(const FaultCase& row, std::ostream* out) {
    *out << row.name;
}

class FaultTest : public WriterTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultTest, OldFileSurvives) {
    const FaultCase& row = GetParam();
    Select(27010, 0x1FFFF, 0, 0x1FFFF, row.fileType);
    switch (row.fault) {
        case Fault::DiskFull:
            files_.spaceLeft = 0;
            break;
        case Fault::DiskFillsUp:
            files_.spaceLeft = 40000;
            break;
        case Fault::CloseFails:
            files_.failClose = true;
            break;
        case Fault::RenameFails:
            files_.failReplace = true;
            break;
    }
    Write(Path("target"), "the old file");
    writer_.SaveBufferToFile(Path("target"));
    EXPECT_THAT(host_.Texts(), ElementsAreArray(row.messages));
    for (const auto& message : host_.messages) {
        EXPECT_EQ(message.kind, MessageKind::Error);
        EXPECT_EQ(message.buttons, MessageButtons::Cancel);
    }
    EXPECT_TRUE(writer_.SaveFailed());
    EXPECT_EQ(Read(Path("target")), "the old file");
    EXPECT_THAT(FolderEntries(), ElementsAre("target"));
}

const char* kDiskSpace = "I/O error , insufficient disk space";
const char* kWriteError = "File write error";

INSTANTIATE_TEST_SUITE_P(
    Writer, FaultTest,
    ::testing::Values(
        FaultCase{"BinaryOnFullDisk", 0, Fault::DiskFull, {kDiskSpace, kWriteError}},
        FaultCase{"BinaryFillsTheDisk", 0, Fault::DiskFillsUp, {kDiskSpace, kWriteError}},
        FaultCase{"BinaryCloseFails", 0, Fault::CloseFails, {kWriteError}},
        FaultCase{"BinaryRenameFails", 0, Fault::RenameFails, {"File creation error"}},
        FaultCase{"ExtendedOnFullDisk", 2, Fault::DiskFull, {kWriteError}},
        FaultCase{"ExtendedFillsTheDisk", 2, Fault::DiskFillsUp, {kWriteError}},
        FaultCase{"ExtendedCloseFails", 2, Fault::CloseFails, {kWriteError}},
        FaultCase{"ExtendedRenameFails", 2, Fault::RenameFails, {"File creation error"}}),
    CaseName());

TEST_F(WriterTest, NamesThatSaveNothing) {
    Select(2764, 0x1FFF, 0, 0x1FFF, 0);
    writer_.SaveBufferToFile("");
    EXPECT_TRUE(writer_.SaveFailed());
    writer_.SaveBufferToFile("com1");
    EXPECT_TRUE(writer_.SaveFailed());
    writer_.SaveBufferToFile(Path("missing/folder.bin"));
    EXPECT_TRUE(writer_.SaveFailed());
    fs::create_directory(Path("adir"));
    writer_.SaveBufferToFile(Path("adir"));
    EXPECT_TRUE(writer_.SaveFailed());
    model_->FileType = 3;
    writer_.SaveBufferToFile(Path("other"));
    EXPECT_TRUE(writer_.SaveFailed());
    EXPECT_THAT(host_.Texts(),
                ElementsAre("Invalid file name", "File creation error", "File creation error"));
    EXPECT_THAT(FolderEntries(), ElementsAre("adir"));
}

TEST_F(WriterTest, ReadOnlyTargetIsNotReplaced) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root may write anything";
    }
    Select(2764, 0x1FFF, 0, 0x1FFF, 0);
    Write(Path("locked.bin"), "keep");
    fs::permissions(Path("locked.bin"), fs::perms::owner_read);
    writer_.SaveBufferToFile(Path("locked.bin"));
    EXPECT_THAT(host_.Texts(), ElementsAre("File creation error"));
    EXPECT_EQ(Read(Path("locked.bin")), "keep");
}

TEST_F(WriterTest, ReplacementKeepsPermissionsAndFollowsLinks) {
    Select(2764, 0x1FFF, 0, 0xF, 0);
    Write(Path("real.bin"), "old");
    ::chmod(Path("real.bin").c_str(), 0640);
    fs::create_symlink("real.bin", Path("link.bin"));
    writer_.SaveBufferToFile(Path("link.bin"));
    EXPECT_THAT(host_.Texts(), ElementsAre());
    EXPECT_TRUE(fs::is_symlink(Path("link.bin")));
    EXPECT_EQ(Read(Path("real.bin")).size(), 16u);
    struct stat info {};
    ASSERT_EQ(::stat(Path("real.bin").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_THAT(FolderEntries(), ElementsAre("link.bin", "real.bin"));
}

// A device node must stay a device: renaming a new file over it would destroy it.
TEST_F(WriterTest, DeviceIsWrittenInPlace) {
    Select(2764, 0x1FFF, 0, 0xF, 0);
    const std::string node = Path("null");
    if (::mknod(node.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) != 0) {
        GTEST_SKIP() << "cannot make a device node here";
    }
    for (std::uint8_t type : {0, 1, 2}) {
        model_->FileType = type;
        writer_.SaveBufferToFile(node);
        struct stat info {};
        ASSERT_EQ(::stat(node.c_str(), &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode)) << int(type);
    }
    EXPECT_THAT(host_.Texts(), ElementsAre());
    EXPECT_THAT(FolderEntries(), ElementsAre("null"));
}

}  // namespace
}  // namespace tarvex
