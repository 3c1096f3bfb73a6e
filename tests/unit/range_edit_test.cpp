#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <ios>
#include <utility>

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

// Hex digits and Backspace reach the field, Enter and Escape vanish, everything else warns:
// blanks, other letters, control codes such as Ctrl+V (16h), Delete's code and 8-bit text.
TEST(RangeEdit, ClassifyHexKey) {
    const auto accept = HexKey::Accept, drop = HexKey::Drop, refuse = HexKey::Refuse;
    const std::pair<char32_t, HexKey> rows[] = {
        {U'0', accept}, {U'9', accept},      {U'A', accept},      {U'F', accept}, {U'a', accept},
        {U'f', accept}, {0x08, accept},      {0x0D, drop},        {0x1B, drop},   {U'G', refuse},
        {U'g', refuse}, {U'/', refuse},      {U':', refuse},      {U'@', refuse}, {U'`', refuse},
        {U' ', refuse}, {0x16, refuse},      {0x03, refuse},      {0x0A, refuse}, {0x7F, refuse},
        {0x00, refuse}, {U'\u00E9', refuse}, {U'\uFF21', refuse}, {0x130, refuse}};
    for (const auto& [character, expected] : rows) {
        EXPECT_EQ(ClassifyHexKey(character), expected) << std::hex << unsigned(character);
    }
}

}  // namespace
}  // namespace tarvex
