#include "image/TextFormat.h"

namespace tarvex {
namespace {

int Digit(std::uint8_t c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                  : -1;
}

// The end of the run of hex digits from `from`, when a line end (or the end of the file)
// follows it; 0 otherwise.
std::size_t DigitsToLineEnd(const std::uint8_t* bytes, std::size_t size, std::size_t from) {
    std::size_t end = from;
    while (end < size && Digit(bytes[end]) >= 0) {
        ++end;
    }
    if (end < size && bytes[end] != '\r' && bytes[end] != '\n') {
        return 0;
    }
    return end;
}

unsigned ByteSum(const std::uint8_t* bytes, std::size_t from, std::size_t end) {
    unsigned sum = 0;
    for (std::size_t i = from; i + 1 < end; i += 2) {
        sum += static_cast<unsigned>(Digit(bytes[i]) * 16 + Digit(bytes[i + 1]));
    }
    return sum;
}

bool IsIntelHexLine(const std::uint8_t* bytes, std::size_t size) {
    if (size < 11 || bytes[0] != ':') {
        return false;
    }
    const std::size_t end = DigitsToLineEnd(bytes, size, 1);
    if (end < 11 || end % 2 == 0) {
        return false;
    }
    const auto count = static_cast<std::size_t>(Digit(bytes[1]) * 16 + Digit(bytes[2]));
    return end == 11 + 2 * count && (ByteSum(bytes, 1, end) & 0xFF) == 0;
}

bool IsSrecordLine(const std::uint8_t* bytes, std::size_t size) {
    if (size < 10 || bytes[0] != 'S' || bytes[1] < '0' || bytes[1] > '9' || bytes[1] == '4') {
        return false;
    }
    const std::size_t end = DigitsToLineEnd(bytes, size, 2);
    if (end < 10 || end % 2 != 0) {
        return false;
    }
    // The count covers the address, the data and the checksum; the sum with it is FFh.
    const auto count = static_cast<std::size_t>(Digit(bytes[2]) * 16 + Digit(bytes[3]));
    return end == 4 + 2 * count && (ByteSum(bytes, 2, end) & 0xFF) == 0xFF;
}

}  // namespace

std::optional<std::uint8_t> TextFormatOf(const std::uint8_t* bytes, std::size_t size) {
    if (IsIntelHexLine(bytes, size)) {
        return std::uint8_t{2};
    }
    if (IsSrecordLine(bytes, size)) {
        return std::uint8_t{3};
    }
    return std::nullopt;
}

}  // namespace tarvex
