#pragma once

#include <cstdint>
#include <string>

namespace tarvex {

// Reads a number as the command line writes it: optional leading blanks, then either an
// optional sign and decimal digits, or one of the prefixes "$", "x", "X", "0x", "0X" and
// hexadecimal digits in either case. Nothing may follow the digits.
//
// A decimal value must fit in a signed 32-bit integer. A hexadecimal value may use up to
// 32 bits and stands for its 32-bit pattern read as a signed 32-bit integer, so "$FFFFFFFF"
// gives -1 and "$80000000" gives -2147483648; leading zeros do not count towards the 32
// bits. On success `value` is therefore always within the signed 32-bit range; on failure
// it is left alone. `wide` lets a decimal value use the signed 64-bit range instead (the
// reset time); hexadecimal keeps its 32-bit rule.
bool ParseCommandNumber(const std::string& text, std::int64_t& value, bool wide = false);

// A Centronics base address given on the command line: a command number whose low 16 bits
// name the data register. Refused when the control register (base + 2) would pass 0xFFFF.
bool ParsePortAddress(const std::string& text, std::uint16_t& base);

}  // namespace tarvex
