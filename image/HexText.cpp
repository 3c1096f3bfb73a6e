#include "image/HexText.h"

namespace tarvex {
namespace {
constexpr char kDigits[] = "0123456789ABCDEF";
}

std::string HexByte(std::uint8_t value) {
    return {kDigits[value >> 4], kDigits[value & 0x0F]};
}

std::string HexWord(std::uint32_t value) {
    return HexByte(static_cast<std::uint8_t>(value >> 8)) +
           HexByte(static_cast<std::uint8_t>(value));
}

std::string HexAddress(std::uint32_t value) {
    return kDigits[(value >> 16) & 0x0F] + HexWord(value);
}

}  // namespace tarvex
