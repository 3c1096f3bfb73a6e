#pragma once

#include <cstdint>
#include <string>

namespace tarvex {

// Upper-case hexadecimal without prefix: a byte (2 digits), 16 bits (4 digits) and an
// address (5 digits, bits 0-19).
std::string HexByte(std::uint8_t value);
std::string HexWord(std::uint32_t value);
std::string HexAddress(std::uint32_t value);

}  // namespace tarvex
