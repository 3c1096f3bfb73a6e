#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "image/BufferPage.h"
#include "image/ImageModel.h"

namespace tarvex {
namespace {

// The buffer holds FFh everywhere except a row's bytes from the start of its page; the lines
// are checked by their number on the page, every line for its width.
TEST(BufferPage, FormatsEachLineAndTheRange) {
    using Lines = std::vector<std::pair<std::size_t, std::string>>;  // number on the page, text
    // clang-format off
    const std::tuple<std::uint32_t, std::string, Lines, const char*> rows[] = {
        // Digits and letters stand for themselves; blank, DEL, 8-bit and punctuation are dots.
        {1, std::string("\x41\x20\x7F\xE9\x30\x7A\x5A\x39\x2E\0\x40\x5B\x60\x7B\x2F\x3A", 16) +
             std::string(239, '\xFF') + "a",
         {{0, "00100 : 41 20 7F E9 30 7A 5A 39 2E 00 40 5B 60 7B 2F 3A   A...0zZ9........"},
          {15, "001F0 : FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF 61   ...............a"}},
         "00100-001FF"},
        {511, std::string(1, '\0') + std::string(254, '\xFF') + "K",
         {{0, "1FF00 : 00 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF   ................"},
          {15, "1FFF0 : FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF 4B   ...............K"}},
         "1FF00-1FFFF"}};
    // clang-format on
    for (const auto& [page, bytes, expectedLines, range] : rows) {
        SCOPED_TRACE(range);
        ImageModel model;
        model.DataBuffer.fill(0xFF);
        std::copy(bytes.begin(), bytes.end(), model.DataBuffer.begin() + page * kPageBytes);
        std::istringstream text(BufferPageText(model.DataBuffer, page));
        std::vector<std::string> lines;
        for (std::string line; std::getline(text, line);) {
            EXPECT_EQ(line.size(), kPageLineWidth) << '"' << line << '"';
            lines.push_back(line);
        }
        ASSERT_EQ(lines.size(), kPageLines);
        EXPECT_NE(text.str().back(), '\n') << "no break after the last line";
        for (const auto& [number, expected] : expectedLines) {
            EXPECT_EQ(lines[number], expected) << "line " << number;
        }
        EXPECT_EQ(PageRangeText(page), range);
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
