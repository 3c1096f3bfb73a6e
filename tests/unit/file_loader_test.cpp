#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <numeric>
#include <optional>

#include <unistd.h>

#include "image/FileLoader.h"
#include "support/RecordingHost.h"

namespace tarvex {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::RecordingHost;

constexpr std::uint8_t kTelltale = 0xEE;  // the fill, so that stray stores show

// One Intel HEX record with its checksum and a line end.
std::string Rec(unsigned type, unsigned address, const std::vector<int>& data,
                const char* lineEnd = "\r\n") {
    static const char digits[] = "0123456789ABCDEF";
    std::string text = ":";
    unsigned sum = 0;
    auto put = [&](unsigned value) {
        text += digits[(value >> 4) & 15];
        text += digits[value & 15];
        sum += value;
    };
    put(static_cast<unsigned>(data.size()));
    put(address >> 8 & 0xFF);
    put(address & 0xFF);
    put(type);
    for (int byte : data) {
        put(static_cast<unsigned>(byte));
    }
    put((256 - (sum & 0xFF)) & 0xFF);
    return text + lineEnd;
}
std::string Data(unsigned address, const std::vector<int>& data, const char* end = "\r\n") {
    return Rec(0x00, address, data, end);
}
std::string Segment(unsigned value) {
    return Rec(0x02, 0, {int(value >> 8), int(value & 0xFF)});
}
std::string Linear(unsigned value) {
    return Rec(0x04, 0, {int(value >> 8), int(value & 0xFF)});
}
const std::string kEof = ":00000001FF\r\n";

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Files held in memory, with reads counted and failures on request.
class MemoryFiles : public FileSystem {
  public:
    std::map<std::string, std::string> files;
    std::size_t bytesRead = 0;
    std::size_t largestRead = 0;
    std::optional<std::size_t> failReadAt;  // an I/O error once this many bytes were read
    bool failClose = false;

    class Input : public InputFile {
      public:
        Input(MemoryFiles& owner, const std::string& content) : owner_(owner), text_(content) {}
        IoResult Read(void* data, std::size_t size) override {
            owner_.largestRead = std::max(owner_.largestRead, size);
            std::size_t count = std::min(size, text_.size() - position_);
            bool error = false;
            if (owner_.failReadAt && position_ + count > *owner_.failReadAt) {
                count = *owner_.failReadAt > position_ ? *owner_.failReadAt - position_ : 0;
                error = true;
            }
            std::copy_n(text_.data() + position_, count, static_cast<char*>(data));
            position_ += count;
            owner_.bytesRead += count;
            return {count, error};
        }
        bool Close() override { return !owner_.failClose; }

      private:
        MemoryFiles& owner_;
        const std::string& text_;
        std::size_t position_ = 0;
    };

    std::unique_ptr<InputFile> OpenForReading(const std::string& name) override {
        const auto found = files.find(name);
        if (found == files.end()) {
            return nullptr;
        }
        return std::make_unique<Input>(*this, found->second);
    }
    std::unique_ptr<OutputFile> CreateTemporary(const std::string&, std::string&) override {
        return nullptr;
    }
    bool Replace(const std::string&, const std::string&) override { return false; }
    void Remove(const std::string&) override {}
};

// Test names from the rows' own names.
struct CaseName {
    template <class Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& row) const {
        return row.param.name;
    }
};

struct Rig {
    explicit Rig(std::uint8_t fileType, std::uint32_t start = 0, std::uint32_t end = 0x1FFFF) {
        model->FillValue = kTelltale;
        model->SelectType(27010, 0x1FFFF);
        model->BufferStart = start;
        model->BufferEnd = end;
        model->FileType = fileType;
    }
    void Load(const std::string& text) {
        files.files["in.hex"] = text;
        loader.LoadFileToBuffer("in.hex");
    }
    std::unique_ptr<ImageModel> model = std::make_unique<ImageModel>();
    RecordingHost host;
    MemoryFiles files;
    FileLoader loader{*model, host, files};
};

// ---------------------------------------------------------------------------------------
// Every record check and every message path of a HEX load.

struct HexCase {
    const char* name;
    std::uint8_t fileType;
    std::string text;
    std::vector<std::string> messages;
    std::vector<std::pair<std::uint32_t, int>> bytes = {};  // buffer index, expected value
    std::uint32_t start = 0;
    std::uint32_t end = 0x1FFFF;
};
void PrintTo(const HexCase& row, std::ostream* out) {
    *out << row.name;
}

const char* kFileReadError = "File read error";
const char* kStructure1 = "Invalid file structure , line #1";

std::vector<HexCase> HexCases() {
    std::vector<int> ramp(255);
    std::iota(ramp.begin(), ramp.end(), 1);
    const std::vector<int> thirtyTwo(32, 0x5A);
    const std::vector<std::string> structure1 = {kStructure1, kFileReadError};
    const std::vector<std::string> structure2 = {"Invalid file structure , line #2",
                                                 kFileReadError};
    const std::vector<std::string> type1 = {"Invalid record type , line #1", kFileReadError};
    const std::string range0 = "Load range : 00000...00000";
    // clang-format off
    return {
        // Accepted files.
        {"OneRecord", 1, Data(0x100, {1, 2, 3}) + kEof, {"Load range : 00100...00102"},
            {{0xFF, kTelltale}, {0x100, 1}, {0x102, 3}, {0x103, kTelltale}}},
        {"LowerCaseDigits", 1, Lower(Data(0xABC, {0xAB, 0xCD}) + kEof),
            {"Load range : 00ABC...00ABD"}, {{0xABC, 0xAB}, {0xABD, 0xCD}}},
        {"LfLineEnds", 1, Data(0, {1}, "\n") + Data(1, {2}, "\n") + ":00000001FF\n",
            {"Load range : 00000...00001"}, {{1, 2}}},
        {"CrLineEnds", 1, Data(0, {1}, "\r") + Data(1, {2}, "\r") + ":00000001FF\r",
            {"Load range : 00000...00001"}},
        {"MixedLineEnds", 1, Data(0, {1}, "\n") + Data(1, {2}, "\r") + Data(2, {3}) + kEof,
            {"Load range : 00000...00002"}},
        {"NoLineEndAfterEof", 1, Data(0, {1}) + ":00000001FF", {range0}},
        {"SubAfterEofEndsTheFile", 1, Data(0, {1}) + kEof + "\x1A" + "garbage\r\n", {range0}},
        {"SubRightAfterEofRecord", 1, Data(0, {1}) + ":00000001FF\x1A\r\n", {range0}},
        {"LargestRecord", 1, Data(0x200, ramp) + kEof, {"Load range : 00200...002FE"},
            {{0x1FF, kTelltale}, {0x200, 1}, {0x2FE, 255}, {0x2FF, kTelltale}}},
        {"NoWrapAt64KiB", 2, Data(0xFFF0, thirtyTwo) + kEof, {"Load range : 0FFF0...1000F"},
            {{0xFFF0, 0x5A}, {0x1000F, 0x5A}, {0x10010, kTelltale}, {0x0000, kTelltale}}},
        {"SegmentAndLinearAdd", 2, Segment(0x0800) + Linear(0x0001) + Data(0, {0x77}) + kEof,
            {"Load range : 18000...18000"}, {{0x18000, 0x77}}},
        {"SegmentStaysUntilReplaced", 2,
            Segment(0x1000) + Data(0, {1}) + Data(0x10, {2}) + Segment(0) + Data(0, {3}) + kEof,
            {"Load range : 00000...10010"}, {{0x10000, 1}, {0x10010, 2}, {0, 3}}},
        {"StartAddressesIgnoredWhenExtended", 2,
            Data(0, {1}) + Rec(0x03, 0, {0x10, 0, 0x12, 0x34}) + Rec(0x05, 0, {0, 1, 0, 0}) + kEof,
            {range0}},
        {"ZeroLengthRecordSuppliesNothing", 1, Data(0x100, {}) + Data(0x10, {1}) + kEof,
            {"Load range : 00010...00010"}},
        {"BothRangeEndsInclusive", 1, Data(0x100, {1}) + Data(0x1FF, {2}) + kEof,
            {"Load range : 00100...001FF"}, {}, 0x100, 0x1FF},

        // The record checks, in order; no pending message means "Invalid file structure".
        {"TrailingSpace", 1, Data(0, {1}, " \r\n") + kEof, structure1},
        {"LeadingSpace", 1, " " + Data(0, {1}) + kEof, structure1},
        {"ShorterThanARecord", 1, ":00000001F\r\n", structure1},
        {"NoColon", 1, "X00000001FF\r\n", structure1},
        {"CountNotHex", 1, ":0G00000000\r\n", structure1},
        {"LengthDisagreesWithCount", 1, ":0200000001FD\r\n", structure1},
        {"AddressNotHex", 1, ":01000X0001FE\r\n", structure1},
        {"TypeNotHex", 1, ":010000X001FE\r\n", type1},
        {"Type06", 2, Rec(0x06, 0, {0, 0, 0, 0}) + kEof, type1},
        {"TypeFF", 2, Rec(0xFF, 0, {}) + kEof, type1},
        {"SegmentInPlainHex", 1, Data(0, {1}) + Segment(0x1000) + kEof,
            {"Invalid record type , line #2", kFileReadError}},
        {"LinearInPlainHex", 1, Linear(1) + kEof, type1},
        {"StartSegmentInPlainHex", 1, Rec(0x03, 0, {0, 0, 0x12, 0x34}) + kEof, type1},
        {"StartLinearInPlainHex", 1, Rec(0x05, 0, {0, 0, 0x12, 0x34}) + kEof, type1},
        {"DataByteNotHex", 1, ":020000000XFF00\r\n" + kEof, structure1},
        {"DataChecksumWrong", 1, ":0100000041BF\r\n" + kEof, structure1, {{0, 0x41}}},
        {"DataChecksumNotHex", 1, ":0100000041BG\r\n" + kEof, structure1},
        {"EofChecksumWrong", 1, Data(0, {1}) + ":00000001FE\r\n", structure2},
        {"EofWithAddress", 1, Data(0, {1}) + Rec(0x01, 0x10, {}), structure2},
        {"EofWithData", 1, Data(0, {1}) + Rec(0x01, 0, {0}), structure2},
        {"SegmentWithOneByte", 2, Rec(0x02, 0, {0x10}) + kEof, structure1},
        {"SegmentWithoutValue", 2, Rec(0x02, 0, {}) + kEof, structure1},
        {"SegmentWithAddress", 2, Rec(0x02, 0x10, {0x10, 0}) + kEof, structure1},
        {"SegmentChecksumWrong", 2, ":020000021000ED\r\n" + kEof, structure1},
        {"LinearValueNotHex", 2, ":02000004000XFA\r\n" + kEof, structure1},
        {"StartAddressWithThreeBytes", 2, Rec(0x05, 0, {0, 0x12, 0x34}) + kEof, structure1},
        {"StartAddressWithAddress", 2, Rec(0x03, 0x100, {0, 0, 0x12, 0x34}) + kEof, structure1},
        {"StartAddressChecksumWrong", 2, ":0400000500001234B2\r\n" + kEof, structure1},
        {"EmptyLineInside", 1, Data(0, {1}) + "\r\n" + kEof, structure2},
        {"CrCrIsTwoLineEnds", 1, Data(0, {1}, "\r\r") + kEof, structure2},

        // The end of the file.
        {"EmptyFile", 1, "", {"No EOF record found", "No data found", kFileReadError}},
        {"EofOnly", 1, kEof, {"No data found", kFileReadError}},
        {"MissingEof", 1, Data(0, {1, 2}),
            {"No EOF record found", "Load range : 00000...00001", kFileReadError}},
        {"SubBeforeEof", 1, Data(0, {1}) + "\x1A" + kEof,
            {"No EOF record found", range0, kFileReadError}},
        {"EmptyLineAfterEof", 1, Data(0, {1}) + kEof + "\r\n",
            {"Data after EOF record", range0, kFileReadError}},
        {"EofThenEmptyLineNoData", 1, kEof + "\r\n",
            {"Data after EOF record", "No data found", kFileReadError}},
        {"LfCrIsTwoLineEnds", 1, Data(0, {1}) + ":00000001FF\n\r",
            {"Data after EOF record", range0, kFileReadError}},
        {"RecordAfterEof", 1, Data(0, {1}) + kEof + Data(1, {2}),
            {"Data after EOF record", range0, kFileReadError}, {{1, kTelltale}}},

        // Overlaps: the second record stores up to the redefined byte, then fails.
        {"OverlapAtSecondRecord", 1, Data(0, {1, 2, 3, 4, 5, 6}) + Data(3, {7, 8, 9}) + kEof,
            {"Data buffer contents redefined at address 0003, line #2", kFileReadError},
            {{2, 3}, {3, 7}, {4, 5}}},
        {"AdjacentRecordsDoNotOverlap", 1, Data(0, {1}) + Data(1, {2}) + kEof,
            {"Load range : 00000...00001"}},
        {"UnalignedNeighboursDoNotOverlap", 1,
            Data(0x05, std::vector<int>(7, 1)) + Data(0x0C, std::vector<int>(20, 2)) +
                Data(0x00, std::vector<int>(5, 3)) + kEof,
            {"Load range : 00000...0001F"}, {{0x04, 3}, {0x05, 1}, {0x0B, 1}, {0x0C, 2}}},
        {"OverlapOnlyAtLastByte", 1, Data(0x17, {1}) + Data(0x08, std::vector<int>(16, 2)) + kEof,
            {"Data buffer contents redefined at address 0017, line #2", kFileReadError},
            {{0x16, 2}, {0x17, 2}}},
        {"OverlapInsideAWholeMapByte", 1,
            Data(0x10, {1}) + Data(0x03, std::vector<int>(32, 2)) + kEof,
            {"Data buffer contents redefined at address 0010, line #2", kFileReadError},
            {{0x0F, 2}, {0x10, 2}, {0x11, kTelltale}}},
        {"OverlapAbove64KiBShowsFiveDigits", 2,
            Segment(0x1000) + Data(0x10, {1, 2}) + Data(0, {0}) + Data(0x11, {9}) + kEof,
            {"Data buffer contents redefined at address 10011, line #4", kFileReadError},
            {{0x10011, 9}}},

        // The range, extended part of the address included; records before stay stored.
        {"BelowRange", 1, Data(0x100, {1}) + Data(0xF0, {2}) + kEof,
            {"Load address below first data buffer address , line #2", kFileReadError},
            {{0x100, 1}, {0xF0, kTelltale}}, 0x100, 0x1FF},
        {"EndsPastRange", 1, Data(0x1F8, thirtyTwo) + kEof,
            {"Load address above last data buffer address , line #1", kFileReadError},
            {{0x1F8, kTelltale}}, 0x100, 0x1FF},
        {"StartsAboveRange", 1, Data(0x200, {1}) + kEof,
            {"Load address above last data buffer address , line #1", kFileReadError},
            {}, 0x100, 0x1FF},
        {"BelowWithoutTheSegment", 2, Data(0xFFF0, {1}) + kEof,
            {"Load address below first data buffer address , line #1", kFileReadError},
            {}, 0x10000, 0x1FFFF},
        {"InsideWithTheSegment", 2, Segment(0x1000) + Data(0xFFF0, {1}) + kEof,
            {"Load range : 1FFF0...1FFF0"}, {}, 0x10000, 0x1FFFF},
        {"AboveWithLinear", 2, Linear(0x0002) + Data(0, {1}) + kEof,
            {"Load address above last data buffer address , line #2", kFileReadError}},
        {"AboveThe27010Image", 2, Segment(0x1000) + Data(0xFFFF, {1, 2}) + kEof,
            {"Load address above last data buffer address , line #2", kFileReadError}},
        // 0xFFFF0000 + 0x10000 wraps to 0 in 32 bits; the record lies far above the image.
        {"ExtendedAddressDoesNotWrap", 2, Linear(0xFFFF) + Segment(0x1000) + Data(0, {1}) + kEof,
            {"Load address above last data buffer address , line #3", kFileReadError},
            {{0, kTelltale}}},
        {"ZeroLengthRecordAtStartOfRange", 1, Data(0, {}) + kEof,
            {"No data found", kFileReadError}},
    };
    // clang-format on
}

class HexLoadTest : public ::testing::TestWithParam<HexCase> {};

TEST_P(HexLoadTest, MessagesAndBuffer) {
    const HexCase& row = GetParam();
    Rig rig(row.fileType, row.start, row.end);
    rig.Load(row.text);
    EXPECT_THAT(rig.host.Texts(), ElementsAreArray(row.messages));
    const bool failed = row.messages.size() != 1 || row.messages[0].rfind("Load range", 0) != 0;
    EXPECT_EQ(rig.model->ReadError, failed);
    for (const auto& [index, value] : row.bytes) {
        EXPECT_EQ(rig.model->DataBuffer[index], value) << "index " << std::hex << index;
    }
}

INSTANTIATE_TEST_SUITE_P(Records, HexLoadTest, ::testing::ValuesIn(HexCases()), CaseName());

TEST(HexLoad, ErrorsAreCancelBoxesAndTheRangeIsInformation) {
    Rig rig(1);
    rig.Load(Data(0, {1}) + kEof + "\r\n");
    ASSERT_EQ(rig.host.messages.size(), 3u);
    for (const std::size_t i : {0u, 2u}) {
        EXPECT_EQ(rig.host.messages[i].kind, MessageKind::Error);
        EXPECT_EQ(rig.host.messages[i].buttons, MessageButtons::Cancel);
    }
    EXPECT_EQ(rig.host.messages[1].kind, MessageKind::Information);
    EXPECT_EQ(rig.host.messages[1].buttons, MessageButtons::Ok);
}

TEST(HexLoad, LineNumbersDoNotWrapAt65536) {
    std::string text;
    for (unsigned i = 0; i < 70000; ++i) {
        text += Data(i & 0xFFFF, {int(i & 0xFF)});
        if ((i & 0xFFFF) == 0xFFFF) {
            text += Segment(0x1000);
        }
    }
    text += Data(5, {0});  // redefines 10005h under the segment 1000h
    Rig rig(2);
    rig.Load(text);
    EXPECT_THAT(rig.host.Texts(),
                ElementsAre("Data buffer contents redefined at address 10005, line #70002",
                            kFileReadError));
}

TEST(HexLoad, LongLineIsCutWithoutReadingTheWholeFile) {
    Rig rig(1);
    rig.Load(std::string(2 * 1024 * 1024, '0'));
    EXPECT_THAT(rig.host.Texts(), ElementsAre(kStructure1, kFileReadError));
    EXPECT_LT(rig.files.bytesRead, 200u * 1024);
}

TEST(HexLoad, OverlongRecordAfterGoodLinesNamesItsLine) {
    // A record as long as the longest plus one character fails like a length mismatch.
    std::vector<int> full(255, 0x11);
    Rig rig(1);
    std::string line = Data(0, full, "");
    rig.Load(Data(0x300, {1}) + line + "0\r\n" + kEof);
    EXPECT_THAT(rig.host.Texts(), ElementsAre("Invalid file structure , line #2", kFileReadError));
}

TEST(HexLoad, LinesAcrossReadBlocksAreJoined) {
    // Enough records that lines and CR LF pairs straddle the reader's block boundaries.
    std::string text;
    std::vector<int> bytes(32);
    for (unsigned address = 0; address < 0x20000; address += 32) {
        std::iota(bytes.begin(), bytes.end(), int(address / 32));
        for (int& b : bytes) {
            b &= 0xFF;
        }
        if ((address & 0xFFFF) == 0) {
            text += Segment(address >> 4);
        }
        text += Data(address & 0xFFFF, bytes);
    }
    text += kEof;
    Rig rig(2);
    rig.Load(text);
    EXPECT_THAT(rig.host.Texts(), ElementsAre("Load range : 00000...1FFFF"));
    for (std::uint32_t i = 0; i < 0x20000; ++i) {
        ASSERT_EQ(rig.model->DataBuffer[i], ((i / 32) + (i % 32)) & 0xFF) << i;
    }
}

TEST(HexLoad, EveryLineEndPositionAgainstTheReadBlocks) {
    // Shifting the text one character at a time puts a CR, its LF and a record's first and
    // last characters on each side of the reader's block boundary in turn.
    std::string body;
    std::vector<int> bytes(32, 0x3C);
    for (unsigned address = 0x100; address < 0x100 + 1800 * 32; address += 32) {
        body += Data(address, bytes);
    }
    body += kEof;
    for (int shift = 0; shift < 80; ++shift) {
        std::vector<int> first(static_cast<std::size_t>(shift / 2), 0x11);
        Rig rig(1);
        rig.Load(Data(0, first, shift % 2 ? "\n" : "\r\n") + body);
        EXPECT_THAT(rig.host.Texts(), ElementsAre(shift < 2 ? "Load range : 00100...0E1FF"
                                                            : "Load range : 00000...0E1FF"))
            << "shift " << shift;
    }
}

TEST(HexLoad, ReadErrorShowsOnlyFileReadError) {
    Rig rig(1);
    rig.files.failReadAt = 20;
    rig.Load(Data(0, {1, 2, 3, 4}) + Data(4, {5}) + kEof);
    EXPECT_THAT(rig.host.Texts(), ElementsAre(kFileReadError));
    EXPECT_TRUE(rig.model->ReadError);
}

TEST(HexLoad, CloseErrorFailsAnOtherwiseGoodLoad) {
    Rig rig(1);
    rig.files.failClose = true;
    rig.Load(Data(0, {1}) + kEof);
    EXPECT_THAT(rig.host.Texts(), ElementsAre("Load range : 00000...00000", kFileReadError));
    EXPECT_TRUE(rig.model->ReadError);
}

TEST(HexLoad, EachLoadStartsAfresh) {
    Rig rig(2);
    rig.Load(Segment(0x1000) + Data(0, {1}) + kEof);
    rig.host.messages.clear();
    // Same byte again: no overlap across loads, and the segment is gone.
    rig.Load(Data(0, {2}) + kEof);
    EXPECT_THAT(rig.host.Texts(), ElementsAre("Load range : 00000...00000"));
    EXPECT_EQ(rig.model->DataBuffer[0x10000], 1);
    EXPECT_EQ(rig.model->DataBuffer[0], 2);
}

// ---------------------------------------------------------------------------------------
// Names, dispatch and the binary image.

TEST(FileNames, DeviceNamesAndEmptyAreRefused) {
    for (const char* name :
         {"", "PRN", "lpt1", "Lpt2", "LPT3", "aux", "COM1", "com2", "COM3", "com4", "nul", "CON"}) {
        EXPECT_FALSE(FileLoader::IsValidFileName(name)) << name;
    }
    for (const char* name : {"con.hex", "COM5", "LPT4", "./NUL", "PRN ", "a"}) {
        EXPECT_TRUE(FileLoader::IsValidFileName(name)) << name;
    }
}

struct DispatchCase {
    const char* name;
    std::string fileName;
    std::uint8_t fileType;
    std::vector<std::string> messages;
    bool readErrorBefore;
    bool readErrorAfter;
};
void PrintTo(const DispatchCase& row, std::ostream* out) {
    *out << row.name;
}

class DispatchTest : public ::testing::TestWithParam<DispatchCase> {};

TEST_P(DispatchTest, NameAndFileTypeDecide) {
    const DispatchCase& row = GetParam();
    Rig rig(row.fileType);
    rig.files.files["image.bin"] = kEof;
    rig.model->ReadError = row.readErrorBefore;
    rig.loader.LoadFileToBuffer(row.fileName);
    EXPECT_THAT(rig.host.Texts(), ElementsAreArray(row.messages));
    EXPECT_EQ(rig.model->ReadError, row.readErrorAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Loader, DispatchTest,
    ::testing::Values(DispatchCase{"EmptyNameDoesNothing", "", 0, {}, true, true},
                      DispatchCase{"DeviceName", "PRN", 1, {"Invalid file name"}, false, true},
                      DispatchCase{"MissingBinary", "none.bin", 0, {"File not found"}, false, true},
                      DispatchCase{"MissingHex", "none.hex", 2, {"File not found"}, false, true},
                      DispatchCase{"HexTextAsBinaryIsBytes", "image.bin", 0, {}, true, false},
                      DispatchCase{"UnknownFileTypeDoesNothing", "image.bin", 3, {}, true, true}),
    CaseName());

struct BinaryCase {
    const char* name;
    std::size_t fileSize;
    std::uint32_t start;
    std::uint32_t end;
};
void PrintTo(const BinaryCase& row, std::ostream* out) {
    *out << row.name;
}

class BinaryLoadTest : public ::testing::TestWithParam<BinaryCase> {};

TEST_P(BinaryLoadTest, FileByteKLandsAtStartPlusK) {
    const BinaryCase& row = GetParam();
    Rig rig(0, row.start, row.end);
    std::string content(row.fileSize, '\0');
    for (std::size_t k = 0; k < content.size(); ++k) {
        content[k] = static_cast<char>(k * 7 + 3);
    }
    rig.files.files["image.bin"] = content;
    rig.loader.LoadFileToBuffer("image.bin");
    EXPECT_THAT(rig.host.Texts(), ElementsAre());
    EXPECT_FALSE(rig.model->ReadError);
    const std::size_t rangeSize = row.end - row.start + 1;
    const std::size_t loaded = std::min(rangeSize, row.fileSize);
    EXPECT_EQ(rig.files.bytesRead, loaded);
    EXPECT_LE(rig.files.largestRead, 32768u);
    for (std::uint32_t i = 0; i < ImageModel::kBufferSize; ++i) {
        const bool supplied = i >= row.start && i < row.start + loaded;
        const auto expected =
            supplied ? static_cast<std::uint8_t>((i - row.start) * 7 + 3) : kTelltale;
        ASSERT_EQ(rig.model->DataBuffer[i], expected) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Image, BinaryLoadTest,
                         ::testing::Values(BinaryCase{"ExactWholeImage", 0x20000, 0, 0x1FFFF},
                                           BinaryCase{"LongerThanRange", 0x300, 0x100, 0x1FF},
                                           BinaryCase{"ShorterThanRange", 0x50, 0x100, 0x1FF},
                                           BinaryCase{"EmptyFile", 0, 0, 0x1FFFF},
                                           BinaryCase{"ChunkPlusOne", 32769, 0x10, 0x1FFFF},
                                           BinaryCase{"OneByteRange", 10, 0x1FFFF, 0x1FFFF}),
                         CaseName());

TEST(BinaryLoad, ReadAndCloseErrorsShowFileReadError) {
    for (const bool closeFails : {false, true}) {
        Rig rig(0);
        rig.files.files["image.bin"] = std::string(0x10000, 'x');
        if (closeFails) {
            rig.files.failClose = true;
        } else {
            rig.files.failReadAt = 40000;
        }
        rig.loader.LoadFileToBuffer("image.bin");
        EXPECT_THAT(rig.host.Texts(), ElementsAre(kFileReadError)) << closeFails;
        EXPECT_TRUE(rig.model->ReadError);
    }
}

TEST(BinaryLoad, ReadImageWithoutAnOpenFileFails) {
    Rig rig(0);
    rig.loader.ReadImage(0, 0xFF);
    EXPECT_TRUE(rig.model->ReadError);
    EXPECT_EQ(rig.model->DataBuffer[0], kTelltale);
}

// ---------------------------------------------------------------------------------------
// The operating system's files.

class DiskFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = std::filesystem::path(::testing::TempDir()) /
                  ("tarvex_loader_" + std::to_string(::getpid()) + "_" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }
    std::string Write(const std::string& name, const std::string& content) {
        const std::string path = (folder_ / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    std::filesystem::path folder_;
};

TEST_F(DiskFiles, CanOpenInputFile) {
    EXPECT_FALSE(FileLoader::CanOpenInputFile(""));
    EXPECT_FALSE(FileLoader::CanOpenInputFile((folder_ / "missing").string()));
    EXPECT_TRUE(FileLoader::CanOpenInputFile(Write("there.bin", "x")));
}

TEST_F(DiskFiles, LfHexAndBinaryLoadFromDisk) {
    auto model = std::make_unique<ImageModel>();
    model->SelectType(27010, 0x1FFFF);
    RecordingHost host;
    FileLoader loader(*model, host);
    model->FileType = 2;
    loader.LoadFileToBuffer(Write("lf.hex", ":020000021000EC\n:0100100042AD\n:00000001FF\n"));
    model->FileType = 0;
    loader.LoadFileToBuffer(Write("image.bin", "AB"));
    EXPECT_THAT(host.Texts(), ElementsAre("Load range : 10010...10010"));
    EXPECT_EQ(model->DataBuffer[0x10010], 0x42);
    EXPECT_EQ(model->DataBuffer[0], 'A');
    EXPECT_EQ(model->DataBuffer[1], 'B');
    EXPECT_EQ(model->DataBuffer[2], 0xFF);
}

TEST_F(DiskFiles, BatchRoutinesReadTheImage) {
    auto model = std::make_unique<ImageModel>();
    model->SelectType(2764, 0x1FFF);
    RecordingHost host;
    FileLoader loader(*model, host);
    ASSERT_FALSE(loader.OpenImageFile((folder_ / "missing").string()));
    ASSERT_TRUE(loader.OpenImageFile(Write("image.bin", std::string(0x3000, 'z'))));
    loader.ReadImage(0, 0x1FFF);
    EXPECT_FALSE(model->ReadError);
    EXPECT_EQ(model->DataBuffer[0x1FFF], 'z');
    EXPECT_EQ(model->DataBuffer[0x2000], 0x00);  // past the range: untouched
    EXPECT_THAT(host.Texts(), ElementsAre());
}

}  // namespace
}  // namespace tarvex
