#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "image/ImageModel.h"

namespace tarvex {

// The three range values the user may type in hex: the Options window's editable fields
// and the command line's --start, --end and --fill.
enum class RangeField { BufferStart, BufferEnd, FillValue };

// Reads an unsigned hexadecimal number: one or more of 0-9, A-F, a-f and nothing else.
// Null for anything else, the empty text included. A value beyond 32 bits comes back as
// the largest 64-bit value, which every limit refuses.
std::optional<std::uint64_t> ParseHexField(std::string_view text);

// Whether `value` may be stored in `field`: start at most EpromEnd and BufferEnd, end at
// most EpromEnd and at least BufferStart, fill value at most FFh.
bool IsValidRangeValue(const ImageModel& model, RangeField field, std::uint64_t value);

// Stores the value of `text` in the model when it is valid and returns true; otherwise
// leaves the model as it was and returns false (RangeFieldMessage tells why).
bool ApplyRangeField(ImageModel& model, RangeField field, std::string_view text);

// The error message for an invalid value of `field`.
const char* RangeFieldMessage(RangeField field);

// What a range field does with a typed character: hex digits and Backspace reach the field,
// Enter and Escape vanish (they neither close the window nor commit), anything else is
// refused with kHexKeyWarning.
enum class HexKey { Accept, Drop, Refuse };
HexKey ClassifyHexKey(char32_t character);
inline constexpr const char* kHexKeyWarning = "Please use 0..9 and A..F keys only!";

}  // namespace tarvex
