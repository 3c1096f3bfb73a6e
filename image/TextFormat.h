#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace tarvex {

// The text format that the first bytes of a file plainly are, as a FileType: 2 when its first
// line is an Intel HEX record (taken as extended, which reads both flavours), 3 when it is a
// Motorola S-record; nothing when the first line is neither (a binary image, or text that only
// resembles one). A record counts only when its count, length and checksum agree, so a binary
// image that happens to start with ':' or 'S' is not mistaken for text.
std::optional<std::uint8_t> TextFormatOf(const std::uint8_t* bytes, std::size_t size);

// Enough of a file's start for TextFormatOf: the longest record of either format and its line
// end.
inline constexpr std::size_t kTextFormatProbe = 600;

}  // namespace tarvex
