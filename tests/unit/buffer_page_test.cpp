#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "image/BufferPage.h"
#include "image/ImageModel.h"

namespace tarvex {
namespace {

const std::string kErased = " FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF   ................";

// The buffer holds FFh everywhere except the bytes a row puts at `at`; the lines are checked
// by their number on the page, every line for its width.
TEST(BufferPage, FormatsEachLineAndTheRange) {
    struct Row {
        const char* name;
        std::uint32_t page, at;
        std::string bytes;
        std::vector<std::pair<std::size_t, std::string>> lines;
        const char* range;
    };
    const Row rows[] = {
        {"erased first page",
         0,
         0,
         "",
         {{0, "00000 :" + kErased}, {1, "00010 :" + kErased}, {15, "000F0 :" + kErased}},
         "00000-000FF"},
        // Digits and letters stand for themselves; blank, DEL, 8-bit and punctuation are dots.
        {"mixed bytes",
         1,
         0x100,
         std::string("\x41\x20\x7F\xE9\x30\x7A\x5A\x39\x2E\0\x40\x5B\x60"
                     "\x7B\x2F\x3A",
                     16) +
             std::string(239, '\xFF') + "a",
         {{0, "00100 : 41 20 7F E9 30 7A 5A 39 2E 00 40 5B 60 7B 2F 3A   A...0zZ9........"},
          {15, "001F0 : FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF 61   ...............a"}},
         "00100-001FF"},
        {"last page of 27010",
         511,
         0x1FF00,
         std::string(1, '\0') + std::string(254, '\xFF') + "K",
         {{0, "1FF00 : 00 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF   ................"},
          {15, "1FFF0 : FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF 4B   ...............K"}},
         "1FF00-1FFFF"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ImageModel model;
        model.DataBuffer.fill(0xFF);
        std::copy(row.bytes.begin(), row.bytes.end(), model.DataBuffer.begin() + row.at);
        std::istringstream text(BufferPageText(model.DataBuffer, row.page));
        std::vector<std::string> lines;
        for (std::string line; std::getline(text, line);) {
            EXPECT_EQ(line.size(), kPageLineWidth) << '"' << line << '"';
            lines.push_back(line);
        }
        ASSERT_EQ(lines.size(), kPageLines);
        EXPECT_NE(text.str().back(), '\n') << "no break after the last line";
        for (const auto& [number, expected] : row.lines) {
            EXPECT_EQ(lines[number], expected) << "line " << number;
        }
        EXPECT_EQ(PageRangeText(row.page), row.range);
    }
}

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
