#include "batch/CommandNumber.h"

#include <cstddef>
#include <limits>

namespace tarvex {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

bool ParseCommandNumber(const std::string& text, std::int64_t& value, bool wide) {
    std::size_t at = 0;
    while (at < text.size() && text[at] == ' ') {
        ++at;
    }
    bool hexadecimal = false;
    bool negative = false;
    if (at < text.size() && (text[at] == '$' || text[at] == 'x' || text[at] == 'X')) {
        hexadecimal = true;
        at += 1;
    } else if (at + 1 < text.size() && text[at] == '0' &&
               (text[at + 1] == 'x' || text[at + 1] == 'X')) {
        hexadecimal = true;
        at += 2;
    } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        at += 1;
    }
    if (at == text.size()) {
        return false;  // empty, or a sign or prefix without digits
    }
    // Checked after every digit against the widest value allowed, so no input can overflow.
    const bool wideDecimal = wide && !hexadecimal;
    const std::uint64_t largest = wideDecimal ? std::uint64_t{1} << 63 : 0xFFFFFFFFull;
    std::uint64_t magnitude = 0;
    for (; at < text.size(); ++at) {
        const int digit = HexDigit(text[at]);
        if (digit < 0 || (!hexadecimal && digit > 9)) {
            return false;
        }
        const unsigned radix = hexadecimal ? 16 : 10;
        if (magnitude > (largest - static_cast<unsigned>(digit)) / radix) {
            return false;
        }
        magnitude = magnitude * radix + static_cast<unsigned>(digit);
    }
    if (hexadecimal) {
        value = static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
        return true;
    }
    const std::uint64_t positiveLimit =
        wideDecimal ? std::uint64_t{std::numeric_limits<std::int64_t>::max()}
                    : std::uint64_t{std::numeric_limits<std::int32_t>::max()};
    if (magnitude > positiveLimit + (negative ? 1 : 0)) {
        return false;
    }
    value =
        negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
    return true;
}

bool ParsePortAddress(const std::string& text, std::uint16_t& base) {
    std::int64_t number = 0;
    if (!ParseCommandNumber(text, number)) {
        return false;
    }
    const auto low = static_cast<std::uint16_t>(static_cast<std::uint64_t>(number) & 0xFFFF);
    if (low > 0xFFFD) {
        return false;  // the status and control registers must have 16-bit addresses too
    }
    base = low;
    return true;
}

}  // namespace tarvex
