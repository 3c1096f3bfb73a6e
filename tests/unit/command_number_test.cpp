#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "batch/CommandNumber.h"

namespace tarvex {
namespace {

struct NumberCase {
    const char* name;
    std::string text;
    std::optional<std::int64_t> value;  // nullopt: the text is refused
};

class CommandNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(CommandNumberTest, ReadsOrRefuses) {
    constexpr std::int64_t kUntouched = 0x5A5A5A5A5A;
    std::int64_t value = kUntouched;
    const bool accepted = ParseCommandNumber(GetParam().text, value);
    ASSERT_EQ(accepted, GetParam().value.has_value()) << '"' << GetParam().text << '"';
    EXPECT_EQ(value, GetParam().value.value_or(kUntouched));
}

INSTANTIATE_TEST_SUITE_P(
    Syntax, CommandNumberTest,
    ::testing::Values(
        NumberCase{"Decimal", "888", 888}, NumberCase{"DecimalZero", "0", 0},
        NumberCase{"LeadingZeros", "000027010", 27010}, NumberCase{"PlusSign", "+10000", 10000},
        NumberCase{"MinusSign", "-1", -1}, NumberCase{"MinusZero", "-0", 0},
        NumberCase{"LeadingBlanks", "   42", 42}, NumberCase{"Dollar", "$378", 0x378},
        NumberCase{"LowerX", "x3bc", 0x3BC}, NumberCase{"UpperX", "X3BC", 0x3BC},
        NumberCase{"ZeroLowerX", "0x278", 0x278}, NumberCase{"ZeroUpperX", "0X278", 0x278},
        NumberCase{"MixedCaseDigits", "$aBcD", 0xABCD},
        NumberCase{"BlanksBeforePrefix", "  $10", 16},
        NumberCase{"HexLeadingZerosBeyond32Bits", "0x0000000000000001", 1},
        NumberCase{"Int32Max", "2147483647", 2147483647},
        NumberCase{"Int32Min", "-2147483648", -2147483648LL},
        NumberCase{"HexAllOnesIsMinusOne", "$FFFFFFFF", -1},
        NumberCase{"HexSignBitIsInt32Min", "0x80000000", -2147483648LL},
        NumberCase{"HexInt32Max", "0x7FFFFFFF", 2147483647},
        NumberCase{"HexAboveSixteenBits", "0x10378", 0x10378},
        // refused
        NumberCase{"Empty", "", std::nullopt}, NumberCase{"BlanksOnly", "   ", std::nullopt},
        NumberCase{"TrailingBlank", "888 ", std::nullopt},
        NumberCase{"TrailingLetter", "12G", std::nullopt},
        NumberCase{"SignOnly", "-", std::nullopt}, NumberCase{"DollarOnly", "$", std::nullopt},
        NumberCase{"ZeroXOnly", "0x", std::nullopt}, NumberCase{"XOnly", "X", std::nullopt},
        NumberCase{"SignBeforePrefix", "-$10", std::nullopt},
        NumberCase{"PlusBeforePrefix", "+0x10", std::nullopt},
        NumberCase{"DoubleSign", "--1", std::nullopt},
        NumberCase{"HexDigitInDecimal", "12A", std::nullopt},
        NumberCase{"BlankAfterPrefix", "$ 10", std::nullopt},
        NumberCase{"InnerBlank", "1 0", std::nullopt},
        NumberCase{"LeadingTab", "\t10", std::nullopt},
        NumberCase{"DecimalPoint", "1.5", std::nullopt},
        NumberCase{"Int32MaxPlusOne", "2147483648", std::nullopt},
        NumberCase{"Int32MinMinusOne", "-2147483649", std::nullopt},
        NumberCase{"HexNeeds33Bits", "$100000000", std::nullopt},
        NumberCase{"HugeDecimal", "99999999999999999999999999", std::nullopt},
        NumberCase{"HugeHex", "0xFFFFFFFFFFFFFFFFFFFF", std::nullopt}),
    [](const auto& row) { return std::string(row.param.name); });

// The reset time reads decimals in 64 bits; hexadecimal keeps its 32-bit pattern.
TEST(CommandNumberWide, ReadsDecimalsInSixtyFourBits) {
    struct Row {
        std::string text;
        std::optional<std::int64_t> value;
    };
    const Row rows[] = {
        {"3000000000", 3000000000LL},           {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},    {"9223372036854775808", std::nullopt},
        {"99999999999999999999", std::nullopt}, {"$FFFFFFFF", -1},
        {"$100000000", std::nullopt},           {"10000 ", std::nullopt},
    };
    for (const Row& row : rows) {
        std::int64_t value = 7;
        ASSERT_EQ(ParseCommandNumber(row.text, value, true), row.value.has_value()) << row.text;
        EXPECT_EQ(value, row.value.value_or(7)) << row.text;
    }
}

struct PortCase {
    const char* name;
    std::string text;
    std::optional<std::uint16_t> base;
};

class PortAddressTest : public ::testing::TestWithParam<PortCase> {};

TEST_P(PortAddressTest, TakesTheLowSixteenBitsAndKeepsRoomForControl) {
    std::uint16_t base = 0x1234;
    const bool accepted = ParsePortAddress(GetParam().text, base);
    ASSERT_EQ(accepted, GetParam().base.has_value()) << '"' << GetParam().text << '"';
    EXPECT_EQ(base, GetParam().base.value_or(0x1234));
}

INSTANTIATE_TEST_SUITE_P(Addresses, PortAddressTest,
                         ::testing::Values(PortCase{"Dollar", "$378", 0x378},
                                           PortCase{"ZeroX", "0x378", 0x378},
                                           PortCase{"Decimal", "888", 0x378},
                                           PortCase{"HighBitsDropped", "0x10378", 0x378},
                                           PortCase{"LastUsable", "$FFFD", 0xFFFD},
                                           PortCase{"ControlWouldWrap", "$FFFE", std::nullopt},
                                           PortCase{"StatusWouldWrap", "65535", std::nullopt},
                                           PortCase{"MinusOneIsFFFF", "-1", std::nullopt},
                                           PortCase{"MinusThreeIsFFFD", "-3", 0xFFFD},
                                           PortCase{"NotANumber", "12G", std::nullopt}),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace tarvex
