#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <tuple>

#include "image/FileLoader.h"
#include "image/HexText.h"
#include "support/RecordingHost.h"

namespace tarvex {
namespace {

constexpr int kFill = 0xEE;  // so that stray stores show
const std::string kReadError = "File read error", kEof = ":00000001FF\r\n";
const std::string range0 = "Load range : 00000...00000";
const std::string above = "Load address above last data buffer address , line #";
const std::string below = "Load address below first data buffer address , line #";
const std::vector<std::string> bad1 = {"Invalid file structure , line #1", kReadError};
const std::vector<std::string> bad2 = {"Invalid file structure , line #2", kReadError};
const std::vector<std::string> after = {"Data after EOF record", range0, kReadError};
const std::string redefined = "Data buffer contents redefined at address ";

std::string Hex(const std::vector<int>& bytes) {
    std::string text;
    for (int byte : bytes) {
        text += HexByte(static_cast<std::uint8_t>(byte));
    }
    return text;
}

// One Intel HEX record with its checksum and a line end.
std::string Rec(unsigned type, unsigned at, std::vector<int> data, const char* end = "\r\n") {
    data.insert(data.begin(), {int(data.size()), int(at >> 8), int(at & 0xFF), int(type)});
    data.push_back(-std::accumulate(data.begin(), data.end(), 0) & 0xFF);
    return ":" + Hex(data) + end;
}

struct LoadCase {
    std::uint8_t fileType = 1;
    std::string text = {};
    std::vector<std::string> messages = {};
    std::vector<std::pair<std::uint32_t, int>> bytes = {};  // buffer index, value afterwards
    std::uint32_t start = 0, end = 0x1FFFF;
    std::size_t failReadAt = SIZE_MAX, maxRead = SIZE_MAX;
    bool failClose = false;
    const char* name = "in.hex";
    std::uint32_t hexBase = 0;
    LoadOptions options = {};  // what the command line asks beyond the window
    std::vector<std::pair<std::uint64_t, std::uint64_t>> leftOut = {};
    std::optional<std::pair<std::uint64_t, std::uint64_t>> extent = std::nullopt;  // unchecked
    std::optional<StartAddress> startAddress = std::nullopt;                       // unchecked
};

// A loader whose one file, "in.hex", is the row's text, read and closed as the row says.
struct Rig : FileSystem {
    struct Input : InputFile {
        explicit Input(Rig& owner) : rig(owner) {}
        IoResult Read(void* data, std::size_t size) override {
            const std::size_t count = rig.row->text.copy(
                static_cast<char*>(data), std::min(size, rig.row->failReadAt - rig.bytesRead),
                rig.bytesRead);
            rig.bytesRead += count;
            return {count, rig.bytesRead == rig.row->failReadAt};
        }
        bool Close() override { return !rig.row->failClose; }
        Rig& rig;
    };
    std::unique_ptr<InputFile> OpenForReading(const std::string& name) override {
        return name == "in.hex" ? std::make_unique<Input>(*this) : nullptr;
    }
    std::unique_ptr<OutputFile> CreateOutput(const std::string&) override { return nullptr; }
    std::vector<std::string> Load(const LoadCase& loadCase) {
        row = &loadCase;
        bytesRead = 0;
        model->DataBuffer.fill(kFill);
        std::tie(model->BufferStart, model->BufferEnd, model->FileType, model->HexBase) =
            std::tie(row->start, row->end, row->fileType, row->hexBase);
        loader.SetOptions(row->options);
        loader.LoadFileToBuffer(row->name);
        return host.Texts();
    }
    const LoadCase* row = nullptr;
    std::size_t bytesRead = 0;
    std::unique_ptr<ImageModel> model = std::make_unique<ImageModel>();
    testing::RecordingHost host;
    FileLoader loader{*model, host, *this};
};

// Every row's messages, its failure flag, how far it read, the bytes it names and the report.
void CheckEach(const std::vector<LoadCase>& rows) {
    for (const LoadCase& row : rows) {
        SCOPED_TRACE(row.text.substr(0, 100));
        Rig rig;
        EXPECT_EQ(rig.Load(row), row.messages);
        const bool failed = !row.messages.empty() && row.messages.back().rfind("Load", 0) != 0;
        EXPECT_EQ(rig.model->ReadError, failed);
        EXPECT_LE(rig.bytesRead, row.maxRead);
        for (const auto& [index, value] : row.bytes) {
            EXPECT_EQ(rig.model->DataBuffer[index], value) << std::hex << index;
        }
        const LoadReport& report = rig.loader.Report();
        std::vector<std::pair<std::uint64_t, std::uint64_t>> leftOut;
        std::uint64_t leftOutBytes = 0;
        for (const AddressSpan& span : report.leftOut) {
            leftOut.emplace_back(span.first, span.last);
            leftOutBytes += span.last - span.first + 1;
        }
        EXPECT_EQ(leftOut, row.leftOut);
        EXPECT_EQ(report.leftOutBytes, leftOutBytes);
        if (row.extent) {
            EXPECT_EQ(std::pair(report.extent.value().first, report.extent->last), row.extent);
        }
        EXPECT_TRUE(!row.startAddress || report.start == row.startAddress);
    }
}

// Every record check in its order and every message path of a load.
TEST(FileLoad, MessagesAndBuffer) {
    const std::vector<int> full(255, 0x11), many(32, 0x5A);
    std::string body;  // 1800 records; also a binary file
    for (unsigned address = 0x100; address < 0xE200; address += 32) {
        body += Rec(0, address, std::vector<int>(32, 0x3C));
    }
    std::string manyLines;  // line numbers past 65535: 65536 records, a segment, 4464 more
    for (unsigned i = 0; i < 70000; ++i) {
        manyLines += Rec(0, i & 0xFFFF, {1}) + (i == 0xFFFF ? Rec(2, 0, {0x10, 0}) : "");
    }
    const std::vector<std::string> type1 = {"Invalid record type , line #1", kReadError};
    const std::string seg1000 = Rec(2, 0, {0x10, 0}), one = Rec(0, 0, {1});
    // clang-format off
    std::vector<LoadCase> rows = {
        {1, ":03010000ab01cd83\r\n" + kEof, {"Load range : 00100...00102"},
            {{0xFF, kFill}, {0x100, 0xAB}, {0x102, 0xCD}, {0x103, kFill}}},
        {1, Rec(0, 0, {1}, "\n") + Rec(0, 1, {2}, "\r") + Rec(0, 2, {3}) + ":00000001FF",
            {"Load range : 00000...00002"}, {{1, 2}, {2, 3}}},
        {1, one + ":00000001FF\x1A" + "junk\r\n", {range0}},
        {1, Rec(0, 0x200, full) + kEof, {"Load range : 00200...002FE"}, {{0x2FE, 0x11}}},
        {2, Rec(0, 0xFFF0, many) + kEof, {"Load range : 0FFF0...1000F"}, {{0x1000F, 0x5A}}},
        {2, Rec(2, 0, {8, 0}) + Rec(4, 0, {0, 1}) + Rec(0, 0, {7}) + kEof,
            {"Load range : 18000...18000"}},
        // The record checks in order: length and colon, count, address, type, checksum.
        {1, Rec(0, 0, {1}, " \r\n") + kEof, bad1}, {1, "X00000001FF\r\n", bad1},
        {1, ":00000001F\r\n", bad1}, {1, ":0G00000000\r\n", bad1}, {1, ":0200000601FD\r\n", bad1},
        {1, ":01000XX001FE\r\n", bad1}, {1, ":020000000XFF00\r\n" + kEof, bad1},
        {1, Rec(0, 0x300, {1}) + Rec(0, 0, full, "0\r\n") + kEof, bad2},
        {1, ":010000X001FE\r\n", type1}, {2, ":0000000600\r\n", type1},
        {1, Rec(5, 0, {0, 0, 0x12, 0x34}) + kEof, type1},
        {1, one + seg1000 + kEof, {"Invalid record type , line #2", kReadError}},
        {1, ":0100000041BF\r\n" + kEof, bad1, {{0, 0x41}}}, {1, one + ":00000001FE\r\n", bad2},
        {1, one + Rec(1, 0x10, {}), bad2}, {2, Rec(2, 0, {0x10}) + kEof, bad1},
        {2, ":020000021000ED\r\n" + kEof, bad1}, {2, ":0400000500001234B2\r\n" + kEof, bad1},
        {1, Rec(0, 0, {1}, "\r\r") + kEof, bad2},
        // The end of the file.
        {1, "", {"No EOF record found", "No data found", kReadError}},
        {1, Rec(0, 0, {}) + kEof, {"No data found", kReadError}},
        {1, Rec(0, 0, {1}, ""), {"No EOF record found", range0, kReadError}},
        {1, one + "\x1A" + kEof, {"No EOF record found", range0, kReadError}},
        {1, one + kEof + "\r\n", after}, {1, one + kEof + Rec(0, 1, {2}), after, {{1, kFill}}},
        // Overlaps: the bytes up to the redefined one stay stored.
        {1, Rec(0, 0, {1, 2, 3, 4, 5, 6}) + Rec(0, 3, {7, 8, 9}) + kEof,
            {redefined + "0003, line #2", kReadError}, {{2, 3}, {3, 7}, {4, 5}}},
        {2, manyLines + Rec(0, 5, {0}), {redefined + "10005, line #70002", kReadError}},
        {1, Rec(0, 0x10, {1}) + Rec(0, 3, many) + kEof, {redefined + "0010, line #2", kReadError},
            {{0x10, 0x5A}, {0x11, kFill}}},
        {1, Rec(0, 5, {1, 1, 1, 1, 1, 1, 1}) + Rec(0, 12, many) + Rec(0, 0, {3, 3, 3, 3, 3}) + kEof,
            {"Load range : 00000...0002B"}, {{4, 3}, {5, 1}, {11, 1}, {12, 0x5A}}},
        // The range, extended address included; records before a failure stay stored.
        {1, Rec(0, 0x100, {1}) + Rec(0, 0xF0, {2}) + kEof, {below + "2", kReadError}, {{0x100, 1}},
            0x100},
        {1, Rec(0, 0x1F8, many) + kEof, {above + "1", kReadError}, {{0x1F8, kFill}}, 0x100, 0x1FF},
        {2, seg1000 + Rec(0, 0xFFF0, {1}) + kEof, {"Load range : 1FFF0...1FFF0"}, {}, 0x10000},
        {2, Rec(4, 0, {0, 2}) + one + kEof, {above + "2", kReadError}},
        {2, Rec(4, 0, {0xFF, 0xFF}) + seg1000 + one + kEof, {above + "3", kReadError}},
        // Names, reading and closing.
        {.messages = {"Invalid file name"}, .name = "com1"},
        {.fileType = 2, .messages = {"File not found"}, .name = "none.hex"},
        {.fileType = 0, .messages = {"File not found"}, .name = "none.bin"},
        {.text = Rec(0, 0, {1, 2, 3, 4}) + kEof, .messages = {kReadError}, .failReadAt = 20},
        {.fileType = 0, .text = "abc", .messages = {kReadError}, .failReadAt = 2},
        {.text = std::string(2 << 20, '0'), .messages = bad1, .maxRead = 200 << 10},  // no line end
        {.text = one + kEof, .messages = {range0, kReadError}, .failClose = true},
        {.fileType = 0, .text = "abc", .messages = {kReadError}, .failClose = true},
        // A binary file: byte k lands at BufferStart + k, inside the range only.
        {0, body, {}, {{0xFF, kFill}, {0x100, body[0]}, {0x1FF, body[0xFF]}, {0x200, kFill}},
            0x100, 0x1FF},
        {0, body.substr(0, 0x50), {}, {{0x14F, body[0x4F]}, {0x150, kFill}}, 0x100},
        {0, body.substr(0, 0x8001), {}, {{0x8010, body[0x8000]}, {0x8011, kFill}}, 0x10},
    };
    // clang-format on
    for (int shift = 0; shift < 80; ++shift) {  // line ends on each side of the read blocks
        const std::string first =
            Rec(0, 0, std::vector<int>(shift / 2 + 1, 1), shift % 2 ? "\n" : "\r\n");
        rows.push_back({1, first + body + kEof, {"Load range : 00000...0E1FF"}});
    }
    CheckEach(rows);
}

// One S-record: type, count, address in the type's width, data, checksum, line end.
std::string S(int type, std::uint32_t at, const std::vector<int>& data, const char* end = "\n") {
    const int width = "2234423432"[type] - '0';  // address bytes of S0 to S9
    std::vector<int> bytes = {width + int(data.size()) + 1};
    for (int i = width - 1; i >= 0; --i) {
        bytes.push_back(int(at >> (8 * i)) & 0xFF);
    }
    bytes.insert(bytes.end(), data.begin(), data.end());
    bytes.push_back(~std::accumulate(bytes.begin(), bytes.end(), 0) & 0xFF);
    return "S" + std::to_string(type) + Hex(bytes) + end;
}

// S-records go through the HEX loader's rules: the same messages, line numbers, range,
// overlap and end-of-file checks; a file without a termination record is complete.
TEST(FileLoad, SRecords) {
    const std::string head = S(0, 0, {'h', 'd', 'r'}), s9 = S(9, 0, {}), one = S(1, 0, {1});
    const std::vector<std::string> type2 = {"Invalid record type , line #2", kReadError};
    std::string many;  // 70000 data records: more than an S5 count holds
    for (unsigned i = 0; i < 70000; ++i) {
        many += S(2, i, {1});
    }
    // clang-format off
    CheckEach({
        // Each data width, each line end, each termination.
        {3, head + S(1, 0x100, {0xAB, 0xCD}) + S(5, 1, {}) + s9, {"Load range : 00100...00101"},
            {{0xFF, kFill}, {0x100, 0xAB}, {0x101, 0xCD}, {0x102, kFill}}},
        {3, S(2, 0x1FFFF, {7}, "\r\n") + S(8, 0, {}, "\r"), {"Load range : 1FFFF...1FFFF"},
            {{0x1FFFF, 7}}},
        {3, S(3, 0x10, {1, 2}) + S(7, 0x12345678, {}, ""), {"Load range : 00010...00011"}},
        // Files srec_cat writes: no termination, with or without a count.
        {3, one + S(1, 1, {2}), {"Load range : 00000...00001"}, {{1, 2}}},
        {3, many + S(6, 70000, {}), {"Load range : 00000...1116F"}},
        // Counts are checked when present.
        {3, one + S(5, 2, {}) + s9, bad2}, {3, head + S(5, 0, {}) + one + S(5, 1, {}), {range0}},
        {3, many + S(5, 70000 & 0xFFFF, {}), {"Invalid file structure , line #70001", kReadError}},
        {3, one + S(5, 1, {9}), bad2},
        // The record checks: 'S', type, count, length, digits, checksum.
        {3, "s1040000010A\n", bad1}, {3, one + "S4040000010A\n", type2},
        {3, one + "SX040000010A\n", type2}, {3, one + "S\n", bad2}, {3, "S1G40000010A\n", bad1},
        {3, "S10500000106\n", bad1}, {3, "S1020001FC\n", bad1}, {3, "S3040000010A\n", bad1},
        {3, "S10400X0010A\n", bad1}, {3, "S104000001XA\n", bad1},
        {3, "S104000001fb\n", bad1, {{0, 1}}}, {3, S(1, 0, {1}, " \n"), bad1},
        {3, one + S(9, 0, {1}), bad2}, {3, one + "S9030000FB\n", bad2},
        {3, one + "S0030000FB\n", bad2}, {3, one + "\n" + s9, bad2},
        // The end of the file.
        {3, "", {"No data found", kReadError}},
        {3, head + S(1, 0, {}) + s9, {"No data found", kReadError}},
        {3, one + s9 + S(1, 1, {2}), after, {{1, kFill}}}, {3, one + s9 + S(5, 1, {}), after},
        {3, one + s9 + "\x1A", {range0}},
        // Range, overlap and the file base.
        {3, S(1, 0, {1, 2, 3}) + S(1, 2, {9}), {redefined + "0002, line #2", kReadError}, {{2, 9}}},
        {3, S(1, 0x100, {1}) + S(1, 0xF0, {2}), {below + "2", kReadError}, {{0x100, 1}}, 0x100},
        {3, S(2, 0x20000, {1}), {above + "1", kReadError}},
        {3, S(3, 0xFFFFFFFF, {1}), {above + "1", kReadError}},
        {.fileType = 3, .text = S(2, 0xFFFFFF, {1}),
            .messages = {"Load range : 00FFFFFF...00FFFFFF"}, .bytes = {{0x1FFFF, 1}},
            .hexBase = 0xFE0000},
        {.fileType = 3, .text = S(3, 0x12340000, {5}) + S(3, 0x1235FFFF, {6}),
            .messages = {"Load range : 12340000...1235FFFF"}, .bytes = {{0, 5}, {0x1FFFF, 6}},
            .hexBase = 0x12340000},
        {.fileType = 3, .text = S(1, 0xDFFF, {5}), .messages = {below + "1", kReadError},
            .hexBase = 0xE000},
        {3, std::string(600, '1') + "\n", bad1},
        {3, S(1, 0, std::vector<int>(252, 3)), {"Load range : 00000...000FB"}},
    });
    // clang-format on
}

TEST(FileLoad, EachLoadStartsAfresh) {
    Rig rig;
    rig.Load({2, Rec(2, 0, {0x10, 0}) + Rec(0, 0, {1}) + kEof});
    // No overlap with the first load, and no segment left.
    const std::string again = Rec(0, 0, {2}) + Rec(2, 0, {0x10, 0}) + Rec(0, 0, {3}) + kEof;
    EXPECT_EQ(rig.Load({2, again}).at(1), "Load range : 00000...10000");
    EXPECT_EQ(rig.model->DataBuffer[0], 2);
}

// --crop, --survey (where the records lie) and the start address.
TEST(FileLoad, CropSurveyAndStartAddress) {
    // avr-objcopy's layout: flash, then .eeprom at 810000 in a linear segment of its own.
    const std::string avr =
        Rec(0, 0, {1, 2}) + Rec(4, 0, {0x00, 0x81}) + Rec(0, 0, {7, 8, 9}) + Rec(0, 3, {6}) + kEof;
    const std::string high = Rec(0, 0xE000, {1}) + Rec(0, 0xFFFF, {2}) + kEof;
    const LoadOptions crop{true, false}, survey{false, true};
    // clang-format off
    CheckEach({
        // A record above is left out and its neighbours join.
        {.fileType = 2, .text = avr, .messages = {"Load range : 00000...00001"}, .options = crop,
            .leftOut = {{0x810000, 0x810003}}, .extent = std::pair{0, 0x810003}},
        // The inside of a record is kept across both ends.
        {.fileType = 2, .text = Rec(0, 0xFE, {1, 2, 3, 4, 5}) + kEof,
            .messages = {"Load range : 00100...00101"},
            .bytes = {{0xFF, kFill}, {0x100, 3}, {0x101, 4}, {0x102, kFill}}, .start = 0x100,
            .end = 0x101, .options = crop, .leftOut = {{0xFE, 0xFF}, {0x102, 0x102}}},
        // What is left out still has its checksum checked.
        {.fileType = 2, .text = ":02010000FFFFFE\r\n" + kEof, .messages = bad1, .end = 0xFF,
            .options = crop, .leftOut = {{0x100, 0x101}}},
        {.fileType = 3, .text = S(2, 0x810000, {1}), .messages = {"No data found", kReadError},
            .end = 0xFF, .options = crop, .leftOut = {{0x810000, 0x810000}}},
        {.fileType = 2, .text = avr, .messages = {above + "3", kReadError}, .options = survey,
            .extent = std::pair{0, 0x810003}},
        // The survey reads on to the last record, and ignores the count of the failed one.
        {.fileType = 2, .text = high, .messages = {above + "1", kReadError}, .end = 0x1FFF,
            .options = survey, .extent = std::pair{0xE000, 0xFFFF}},
        {.fileType = 3, .text = S(1, 0xE000, {1}) + S(1, 0xFFFF, {2}) + S(5, 2, {}) +
            S(9, 0xE000, {}), .messages = {below + "1", kReadError}, .end = 0x1FFF,
            .hexBase = 0xF000, .options = survey, .extent = std::pair{0xE000, 0xFFFF},
            .startAddress = StartAddress{false, 0xE000}},
        {.fileType = 2, .text = high, .messages = {above + "1", kReadError}, .end = 0x1FFF,
            .extent = std::pair{0xE000, 0xE000}},
        {.fileType = 2, .text = Rec(0, 0, {1}) + Rec(3, 0, {0xF0, 0, 0xFF, 0xF0}) + kEof,
            .messages = {range0}, .extent = std::pair{0, 0},
            .startAddress = StartAddress{true, 0xF000FFF0}},
        {.fileType = 2, .text = Rec(0, 0, {1}) + Rec(5, 0, {0, 0, 0xE0, 0}) + kEof,
            .messages = {range0}, .startAddress = StartAddress{false, 0xE000}},
        {.fileType = 3, .text = S(1, 0, {1}) + S(9, 0xE000, {}), .messages = {range0},
            .startAddress = StartAddress{false, 0xE000}},
    });
    // clang-format on
}

}  // namespace
}  // namespace tarvex
