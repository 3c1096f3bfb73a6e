#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "image/RangeEdit.h"

namespace tarvex {
namespace {

// Before each edit: 2764 (EpromEnd 1FFF), the range 100..1FF, fill FFh. A valid value is stored
// in its field; an invalid one ({}) leaves the model as it was. Long texts: leading zeros are
// harmless, a huge value must not wrap round to a small one, and the digits are still checked.
TEST(RangeEdit, ApplyRangeField) {
    const auto start = RangeField::BufferStart, end = RangeField::BufferEnd;
    const auto fill = RangeField::FillValue;
    // clang-format off
    const std::tuple<RangeField, const char*, std::optional<std::uint32_t>> rows[] = {
        {start, "1Ff", 0x1FF}, {start, "200", {}}, {start, "00000000000000000000001", 1},
        {start, "", {}}, {start, "0x1", {}}, {start, " 1", {}}, {start, "1 ", {}},
        {start, "-1", {}}, {end, "2000", {}}, {end, "1FFF", 0x1FFF}, {end, "FF", {}},
        {end, "100", 0x100}, {end, "100001FFF", {}}, {end, "100000000000000001FF", {}},
        {end, "10000000000000000000G", {}}, {fill, "100", {}}, {fill, "0a", 0x0A}};
    // clang-format on
    for (const auto& [field, text, stored] : rows) {
        ImageModel model;
        model.SelectType(2764, 0x1FFF);
        model.BufferStart = 0x100;
        model.BufferEnd = 0x1FF;
        std::array<std::uint32_t, 3> expected = {0x100, 0x1FF, 0xFF};  // in RangeField's order
        expected[static_cast<int>(field)] = stored.value_or(expected[static_cast<int>(field)]);
        EXPECT_EQ(ApplyRangeField(model, field, text), stored.has_value()) << '"' << text << '"';
        const std::array<std::uint32_t, 3> actual = {model.BufferStart, model.BufferEnd,
                                                     model.FillValue};
        EXPECT_EQ(actual, expected) << '"' << text << '"';
    }
    EXPECT_STREQ(RangeFieldMessage(start), "Incorrect buffer start selected!");
    EXPECT_STREQ(RangeFieldMessage(end), "Incorrect buffer end selected!");
    EXPECT_STREQ(RangeFieldMessage(fill), "Incorrect buffer fill value selected!");
}

}  // namespace
}  // namespace tarvex
