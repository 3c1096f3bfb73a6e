#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "image/BufferPage.h"
#include "image/ImageModel.h"

namespace tarvex {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines(1);
    for (const char c : text) {
        if (c == '\n') {
            lines.emplace_back();
        } else {
            lines.back().push_back(c);
        }
    }
    return lines;
}

struct PageCase {
    const char* name;
    std::uint32_t page;
    // Bytes put into the buffer before formatting: {index, value}.
    std::vector<std::pair<std::uint32_t, std::uint8_t>> bytes;
    // The lines expected, by their number on the page; every line is checked for width.
    std::vector<std::pair<std::size_t, std::string>> lines;
    std::string range;
};

void PrintTo(const PageCase& page, std::ostream* out) {
    *out << page.name;
}

class BufferPageTest : public ::testing::TestWithParam<PageCase> {};

// The buffer holds FFh everywhere except where a case puts bytes.
TEST_P(BufferPageTest, FormatsEachLineAndTheRange) {
    const PageCase& page = GetParam();
    ImageModel model;
    model.DataBuffer.fill(0xFF);
    for (const auto& [index, value] : page.bytes) {
        model.DataBuffer[index] = value;
    }
    const std::string text = BufferPageText(model.DataBuffer, page.page);
    const std::vector<std::string> lines = Lines(text);
    ASSERT_EQ(lines.size(), kPageLines) << text;
    for (const std::string& line : lines) {
        EXPECT_EQ(line.size(), kPageLineWidth) << '"' << line << '"';
    }
    for (const auto& [number, expected] : page.lines) {
        EXPECT_EQ(lines[number], expected) << "line " << number;
    }
    EXPECT_EQ(PageRangeText(page.page), page.range);
}

const std::string kErased = " FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF   ................";

INSTANTIATE_TEST_SUITE_P(
    Pages, BufferPageTest,
    ::testing::Values(
        PageCase{"ErasedFirstPage",
                 0,
                 {},
                 {{0, "00000 :" + kErased}, {1, "00010 :" + kErased}, {15, "000F0 :" + kErased}},
                 "00000-000FF"},
        // Digits and letters stand for themselves; blank, DEL, 8-bit and punctuation are dots.
        PageCase{
            "MixedBytes",
            1,
            {{0x100, 0x41},
             {0x101, 0x20},
             {0x102, 0x7F},
             {0x103, 0xE9},
             {0x104, 0x30},
             {0x105, 0x7A},
             {0x106, 0x5A},
             {0x107, 0x39},
             {0x108, 0x2E},
             {0x109, 0x00},
             {0x10A, 0x40},
             {0x10B, 0x5B},
             {0x10C, 0x60},
             {0x10D, 0x7B},
             {0x10E, 0x2F},
             {0x10F, 0x3A},
             {0x1FF, 0x61}},
            {{0, "00100 : 41 20 7F E9 30 7A 5A 39 2E 00 40 5B 60 7B 2F 3A   A...0zZ9........"},
             {15, "001F0 : FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF 61   ...............a"}},
            "00100-001FF"},
        PageCase{
            "LastPageOf27010",
            511,
            {{0x1FF00, 0x00}, {0x1FFFF, 0x4B}},
            {{0, "1FF00 : 00 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF   ................"},
             {15, "1FFF0 : FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF 4B   ...............K"}},
            "1FF00-1FFFF"}),
    [](const ::testing::TestParamInfo<PageCase>& row) { return std::string(row.param.name); });

// A page that runs past the end of the buffer yields nothing rather than reading beyond it.
TEST(BufferPage, PagesBeyondTheBufferAreEmpty) {
    const std::array<std::uint8_t, 0x300> buffer{};
    for (const std::uint32_t page : {3u, 4u, 0x01000000u, 0xFFFFFFFFu}) {
        EXPECT_EQ(BufferPageText(buffer, page), "") << page;
    }
    EXPECT_EQ(BufferPageText(std::span(buffer).first(0x2FF), 2), "");
    EXPECT_NE(BufferPageText(buffer, 2), "");
}

}  // namespace
}  // namespace tarvex
