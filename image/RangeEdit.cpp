#include "image/RangeEdit.h"

#include <limits>

namespace tarvex {

std::optional<std::uint64_t> ParseHexField(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    constexpr std::uint64_t kTooLarge = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    for (const char c : text) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else {
            return std::nullopt;
        }
        // Saturate instead of wrapping, so that leading zeros stay harmless and a long
        // number never comes back small. The rest of the text must still be digits.
        value = value > (kTooLarge >> 4) ? kTooLarge : (value << 4 | digit);
    }
    return value;
}

bool IsValidRangeValue(const ImageModel& model, RangeField field, std::uint64_t value) {
    switch (field) {
        case RangeField::BufferStart:
            return value <= model.EpromEnd && value <= model.BufferEnd;
        case RangeField::BufferEnd:
            return value <= model.EpromEnd && value >= model.BufferStart;
        case RangeField::FillValue:
            return value <= 0xFF;
    }
    return false;
}

bool ApplyRangeField(ImageModel& model, RangeField field, std::string_view text) {
    const std::optional<std::uint64_t> value = ParseHexField(text);
    if (!value || !IsValidRangeValue(model, field, *value)) {
        return false;
    }
    switch (field) {
        case RangeField::BufferStart:
            model.BufferStart = static_cast<std::uint32_t>(*value);
            break;
        case RangeField::BufferEnd:
            model.BufferEnd = static_cast<std::uint32_t>(*value);
            break;
        case RangeField::FillValue:
            model.FillValue = static_cast<std::uint8_t>(*value);
            break;
    }
    return true;
}

const char* RangeFieldMessage(RangeField field) {
    switch (field) {
        case RangeField::BufferStart:
            return "Incorrect buffer start selected!";
        case RangeField::BufferEnd:
            return "Incorrect buffer end selected!";
        case RangeField::FillValue:
            return "Incorrect buffer fill value selected!";
    }
    return "";
}

HexKey ClassifyHexKey(char32_t character) {
    constexpr char32_t kBackspace = 8, kEnter = 13, kEscape = 27;
    if (character == kEnter || character == kEscape) {
        return HexKey::Drop;
    }
    const bool hexDigit = (character >= U'0' && character <= U'9') ||
                          (character >= U'A' && character <= U'F') ||
                          (character >= U'a' && character <= U'f');
    return hexDigit || character == kBackspace ? HexKey::Accept : HexKey::Refuse;
}

}  // namespace tarvex
