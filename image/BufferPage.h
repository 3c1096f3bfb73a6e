#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tarvex {

// One page of the image as the hex dump shows it: 16 lines of 16 bytes, each line the
// five-digit address, " :", the bytes in hex and a character column.
inline constexpr std::uint32_t kPageBytes = 256;
inline constexpr std::size_t kPageLines = 16;
inline constexpr std::size_t kPageLineWidth = 74;
// Between the two digits of the page's first byte.
inline constexpr std::size_t kPageCaretOffset = 9;

// The number of the last page of an EPROM whose last address is `epromEnd`.
constexpr std::uint32_t LastPage(std::uint32_t epromEnd) {
    return epromEnd >> 8;
}

// The 16 lines of `page`, joined by '\n', without a break after the last. Empty when the
// page does not lie wholly inside `buffer`.
std::string BufferPageText(std::span<const std::uint8_t> buffer, std::uint32_t page);

// The first and the last address of `page`: "00000-000FF".
std::string PageRangeText(std::uint32_t page);

}  // namespace tarvex
