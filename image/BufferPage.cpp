#include "image/BufferPage.h"

#include "image/HexText.h"

namespace tarvex {
namespace {

constexpr std::uint32_t kLinesPerPage = static_cast<std::uint32_t>(kPageLines);

// Only ASCII digits and letters stand for themselves: blanks, punctuation, control codes
// and everything above 7Fh would shift or garble the column.
char ShownCharacter(std::uint8_t byte) {
    const bool digit = byte >= '0' && byte <= '9';
    const bool upper = byte >= 'A' && byte <= 'Z';
    const bool lower = byte >= 'a' && byte <= 'z';
    return digit || upper || lower ? static_cast<char>(byte) : '.';
}

}  // namespace

std::string BufferPageText(std::span<const std::uint8_t> buffer, std::uint32_t page) {
    const std::size_t first = static_cast<std::size_t>(page) * kPageBytes;
    if (page > buffer.size() / kPageBytes || first + kPageBytes > buffer.size()) {
        return {};
    }
    std::string text;
    text.reserve(kPageLines * (kPageLineWidth + 1));
    for (std::uint32_t row = 0; row < kPageLines; ++row) {
        const std::uint32_t line = page * kLinesPerPage + row;
        const std::span<const std::uint8_t> bytes = buffer.subspan(first + row * 16, 16);
        if (row > 0) {
            text += '\n';
        }
        text += HexWord(line);
        text += "0 :";
        for (const std::uint8_t byte : bytes) {
            text += ' ';
            text += HexByte(byte);
        }
        text += "   ";
        for (const std::uint8_t byte : bytes) {
            text += ShownCharacter(byte);
        }
    }
    return text;
}

std::string PageRangeText(std::uint32_t page) {
    const std::uint32_t line = page * kLinesPerPage;
    return HexWord(line) + "0-" + HexWord(line + kLinesPerPage - 1) + "F";
}

}  // namespace tarvex
