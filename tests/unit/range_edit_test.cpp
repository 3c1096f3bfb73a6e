#include <gtest/gtest.h>

#include <limits>
#include <optional>

#include "image/RangeEdit.h"

namespace tarvex {
namespace {

TEST(RangeEdit, ParseHexField) {
    constexpr std::uint64_t kTooLarge = std::numeric_limits<std::uint64_t>::max();
    const std::pair<const char*, std::optional<std::uint64_t>> rows[] = {
        {"0", 0},
        {"1ff", 0x1FF},
        {"1FfF", 0x1FFF},
        {"abcdef", 0xABCDEF},
        {"FFFFFFFF", 0xFFFFFFFF},
        {"100000000", 0x100000000},
        {"00000000000000000000001", 1},  // long, but small
        {"10000000000000000", kTooLarge},
        {"100000000000000001FF", kTooLarge},  // must not wrap to 1FF
        {"", std::nullopt},
        {"0x10", std::nullopt},
        {"$10", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"-1", std::nullopt},
        {"+1", std::nullopt},
        {"G", std::nullopt},
        {"10000000000000000000G", std::nullopt},  // saturation does not skip the check
    };
    for (const auto& [text, value] : rows) {
        EXPECT_EQ(ParseHexField(text), value) << '"' << text << '"';
    }
}

struct FieldCase {
    const char* name;
    RangeField field;
    const char* text;
    std::uint32_t start;  // the model before the edit (type 2764, EpromEnd 1FFF)
    std::uint32_t end;
    bool accepted;
    std::uint32_t value;  // the field's value afterwards
};
void PrintTo(const FieldCase& row, std::ostream* out) {
    *out << row.name;
}

class RangeFieldTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(RangeFieldTest, CommitsOnlyValidValues) {
    const FieldCase& row = GetParam();
    auto model = std::make_unique<ImageModel>();
    model->SelectType(2764, 0x1FFF);
    model->BufferStart = row.start;
    model->BufferEnd = row.end;
    const auto image = model->DataBuffer;
    EXPECT_EQ(ApplyRangeField(*model, row.field, row.text), row.accepted);
    const std::uint32_t actual = row.field == RangeField::BufferStart ? model->BufferStart
                                 : row.field == RangeField::BufferEnd ? model->BufferEnd
                                                                      : model->FillValue;
    EXPECT_EQ(actual, row.value);
    EXPECT_LE(model->BufferStart, model->BufferEnd);
    EXPECT_LE(model->BufferEnd, model->EpromEnd);
    EXPECT_EQ(model->DataBuffer, image);  // a new fill value waits for the next type selection
}

using F = RangeField;
INSTANTIATE_TEST_SUITE_P(
    Options, RangeFieldTest,
    ::testing::Values(
        FieldCase{"StartAtEnd", F::BufferStart, "1FFF", 0, 0x1FFF, true, 0x1FFF},
        FieldCase{"StartPastEprom", F::BufferStart, "2000", 0, 0x1FFF, false, 0},
        FieldCase{"StartPastEnd", F::BufferStart, "100", 0, 0xFF, false, 0},
        FieldCase{"StartLeadingZeros", F::BufferStart, "00100", 0, 0x1FFF, true, 0x100},
        FieldCase{"StartEmpty", F::BufferStart, "", 0x10, 0x1FFF, false, 0x10},
        FieldCase{"EndPastEprom", F::BufferEnd, "2000", 0, 0x1FFF, false, 0x1FFF},
        FieldCase{"EndLowerCase", F::BufferEnd, "1ff", 0, 0x1FFF, true, 0x1FF},
        FieldCase{"EndBelowStart", F::BufferEnd, "FF", 0x100, 0x1FFF, false, 0x1FFF},
        FieldCase{"EndAtStart", F::BufferEnd, "100", 0x100, 0x1FFF, true, 0x100},
        FieldCase{"EndHuge", F::BufferEnd, "100000000000001FF", 0, 0x1FFF, false, 0x1FFF},
        FieldCase{"FillTooLarge", F::FillValue, "100", 0, 0x1FFF, false, 0xFF},
        FieldCase{"FillOneDigit", F::FillValue, "5", 0, 0x1FFF, true, 0x05},
        FieldCase{"FillLeadingZero", F::FillValue, "0a", 0, 0x1FFF, true, 0x0A},
        FieldCase{"FillEmpty", F::FillValue, "", 0, 0x1FFF, false, 0xFF}),
    [](const ::testing::TestParamInfo<FieldCase>& row) { return std::string(row.param.name); });

TEST(RangeEdit, MessagesNameTheField) {
    EXPECT_STREQ(RangeFieldMessage(F::BufferStart), "Incorrect buffer start selected!");
    EXPECT_STREQ(RangeFieldMessage(F::BufferEnd), "Incorrect buffer end selected!");
    EXPECT_STREQ(RangeFieldMessage(F::FillValue), "Incorrect buffer fill value selected!");
}

}  // namespace
}  // namespace tarvex
