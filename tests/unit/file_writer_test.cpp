#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "image/FileLoader.h"
#include "image/FileWriter.h"
#include "support/Files.h"
#include "support/RecordingHost.h"

namespace tarvex {
namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

// The real files, with a disk that fills up, a close or a rename that fails on request.
struct FaultyFiles : FileSystem {
    std::size_t spaceLeft = SIZE_MAX;
    bool failClose = false, failReplace = false;
    struct Output : OutputFile {
        Output(FaultyFiles& f, std::unique_ptr<OutputFile> r) : files(f), real(std::move(r)) {}
        IoResult Write(const void* data, std::size_t size) override {
            IoResult result = real->Write(data, std::min(size, files.spaceLeft));
            files.spaceLeft -= result.count;
            result.error = result.error || result.count < size;
            return result;
        }
        bool Close() override { return real->Close() && !files.failClose; }
        bool Commit() override { return !files.failReplace && real->Commit(); }
        FaultyFiles& files;
        std::unique_ptr<OutputFile> real;
    };
    std::unique_ptr<InputFile> OpenForReading(const std::string&) override { return nullptr; }
    std::unique_ptr<OutputFile> CreateOutput(const std::string& target) override {
        auto real = NativeFileSystem().CreateOutput(target);
        return real ? std::make_unique<Output>(*this, std::move(real)) : nullptr;
    }
};

class Writer : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(dir_);
        for (std::uint32_t i = 0; i < ImageModel::kBufferSize; ++i) {
            model_->DataBuffer[i] = static_cast<std::uint8_t>(i * 13 + (i >> 8));
        }
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Save(std::uint32_t start, std::uint32_t end, int fileType,
                     const std::string& name = "out") {
        model_->BufferStart = start;
        model_->BufferEnd = end;
        model_->FileType = static_cast<std::uint8_t>(fileType);
        writer_.SaveBufferToFile((dir_ / name).string());
        return testing::ReadText(dir_ / name);
    }
    long Entries() const { return std::distance(fs::directory_iterator(dir_), {}); }

    const fs::path dir_ = fs::path(::testing::TempDir()) / ("writer" + std::to_string(::getpid()));
    std::unique_ptr<ImageModel> model_ = std::make_unique<ImageModel>();
    testing::RecordingHost host_;
    FaultyFiles files_;
    FileWriter writer_{*model_, host_, files_};
};

// Every file loads back into exactly the saved range. HEX: 32-byte records, none across a
// 64 KiB boundary, a segment record before each block above the first. S-records: the
// narrowest records for the last file address, the count of data records and the termination
// that matches them.
TEST_F(Writer, LayoutAndLoadBack) {
    const auto saved = model_->DataBuffer;
    // start, end, file type, file base, the first lines (their starts) and the end of the text
    // clang-format off
    const std::tuple<std::uint32_t, std::uint32_t, int, unsigned, Texts, const char*> rows[] = {
        {0x123, 0x4567, 0, 0, {}, ""}, {0x123, 0x4567, 1, 0, {}, ""}, {0, 0x1FFFF, 0, 0, {}, ""},
        {0xFFF5, 0x10020, 2, 0, {":0BFFF500", ":020000021000EC\r", ":20000000", ":01002000"}, ""},
        {0x1FFFF, 0x1FFFF, 2, 0, {":020000021000EC\r", ":01FFFF00"}, ""},
        {0, 0x1FFFF, 2, 0, {}, ""}, {0x123, 0x4567, 3, 0, {"S0030000FC\r", "S1230123"}, ""},
        {0, 0x1FFFF, 3, 0, {"S0030000FC\r", "S224000000", "S224000020"}, ""},
        {0, 0x1F, 3, 0xFFE0, {"S0030000FC", "S123FFE0"}, "S5030001FB\r\nS9030000FC\r\n"},
        {0, 0x20, 3, 0xFFE0, {"S0030000FC", "S22400FFE0", "S205010000"},
            "S5030002FA\r\nS804000000FB\r\n"},
        {0x10, 0x2F, 3, 0xFFFFFFD0, {"S0030000FC", "S325FFFFFFE0"},
            "S5030001FB\r\nS70500000000FA\r\n"},
        {0, 0x1FFFF, 3, 0x12340000, {"S0030000FC", "S32512340000"}, ""}};
    // clang-format on
    for (const auto& [start, end, fileType, base, head, tail] : rows) {
        SCOPED_TRACE(::testing::Message() << start << " " << fileType << " " << base);
        model_->HexBase = base;
        const std::string text = Save(start, end, fileType);
        EXPECT_TRUE(fileType || text == std::string(&saved[start], &saved[end] + 1));
        const auto lines = std::ranges::count(text, '\n');
        EXPECT_TRUE(fileType != 3 || lines == (end - start + 32) / 32 + 3) << lines;
        std::istringstream in(text);
        std::string line;
        for (const std::string& expected : head) {
            EXPECT_TRUE(std::getline(in, line) && line.starts_with(expected)) << line;
        }
        EXPECT_TRUE(text.ends_with(tail)) << text.substr(text.size() - 40);
        model_->DataBuffer.fill(0xEE);  // what is outside the range must stay so
        FileLoader(*model_, host_).LoadFileToBuffer((dir_ / "out").string());
        EXPECT_FALSE(model_->ReadError);
        for (std::uint32_t i = 0; i < ImageModel::kBufferSize; ++i) {
            ASSERT_EQ(model_->DataBuffer[i], i >= start && i <= end ? saved[i] : 0xEE) << i;
        }
        model_->DataBuffer = saved;
    }
    model_->HexBase = 0;
    model_->DataBuffer.fill(0xFF);
    EXPECT_EQ(Save(0, 0x1F, 1), ":20000000" + std::string(64, 'F') + "00\r\n:00000001FF\r\n");
    EXPECT_EQ(Save(0, 0x1F, 3), "S0030000FC\r\nS1230000" + std::string(64, 'F') +
                                    "FC\r\nS5030001FB\r\nS9030000FC\r\n");
}

// A failed save keeps the old file and removes its temporary one; the messages in order.
TEST_F(Writer, FailuresKeepTheOldFile) {
    const std::string full = "I/O error , insufficient disk space", write = "File write error";
    // clang-format off
    const std::tuple<int, std::size_t, bool, bool, Texts> rows[] = {
        {0, 0, false, false, {full, write}}, {0, 40000, false, false, {full, write}},
        {2, 40000, false, false, {write}}, {3, 40000, false, false, {write}},
        {0, SIZE_MAX, true, false, {write}}, {0, SIZE_MAX, false, true, {"File creation error"}}};
    // clang-format on
    for (const auto& [fileType, spaceLeft, failClose, failReplace, messages] : rows) {
        std::ofstream(dir_ / "old") << "old";
        std::tie(files_.spaceLeft, files_.failClose, files_.failReplace) =
            std::tie(spaceLeft, failClose, failReplace);
        host_.messages.clear();
        Save(0, 0x1FFFF, fileType, "old");
        EXPECT_EQ(host_.Texts(), messages);
        EXPECT_TRUE(writer_.SaveFailed());
        EXPECT_EQ(testing::ReadText(dir_ / "old"), "old");
        EXPECT_EQ(Entries(), 1);
    }
}

// A device node must stay one: a new file renamed over it would destroy it.
TEST_F(Writer, DeviceIsWrittenInPlace) {
    if (::mknod((dir_ / "null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) != 0) {
        GTEST_SKIP() << "cannot make a device node here";
    }
    for (int fileType : {0, 1, 2, 3}) {
        Save(0, 0xF, fileType, "null");
        EXPECT_TRUE(fs::is_character_file(dir_ / "null")) << fileType;
    }
    EXPECT_TRUE(host_.Texts().empty());
    EXPECT_EQ(Entries(), 1);
}

}  // namespace
}  // namespace tarvex
