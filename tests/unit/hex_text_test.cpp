#include <gtest/gtest.h>

#include "image/HexText.h"
#include "image/ImageModel.h"

namespace tarvex {
namespace {

TEST(HexText, UpperCaseFixedWidth) {
    struct Row {
        std::uint32_t value;
        const char* byte;
        const char* word;
        const char* address;
    };
    const Row rows[] = {
        {0x00, "00", "0000", "00000"},    {0x0A, "0A", "000A", "0000A"},
        {0xFF, "FF", "00FF", "000FF"},    {0x1F0, "F0", "01F0", "001F0"},
        {0xABCD, "CD", "ABCD", "0ABCD"},  {0x12345, "45", "2345", "12345"},
        {0x1FFFF, "FF", "FFFF", "1FFFF"}, {0xFFF12345, "45", "2345", "12345"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(HexByte(static_cast<std::uint8_t>(row.value)), row.byte) << row.value;
        EXPECT_EQ(HexWord(row.value), row.word) << row.value;
        EXPECT_EQ(HexAddress(row.value), row.address) << row.value;
    }
}

TEST(ImageModel, StartsEmptyAndFillsOnlyTheSelectedType) {
    ImageModel model;
    EXPECT_EQ(model.BufferStart, 0u);
    EXPECT_EQ(model.BufferEnd, 0u);
    EXPECT_EQ(model.EpromEnd, 0u);
    EXPECT_EQ(model.FillValue, 0xFF);
    EXPECT_EQ(model.DataBuffer[0], 0x00);
    model.BufferStart = 0x100;
    model.FillValue = 0x42;
    model.SelectType(27128, 0x3FFF);
    EXPECT_EQ(model.BufferStart, 0u);
    EXPECT_EQ(model.BufferEnd, 0x3FFFu);
    EXPECT_EQ(model.DataBuffer[0x3FFF], 0x42);
    EXPECT_EQ(model.DataBuffer[0x4000], 0x00);
}

}  // namespace
}  // namespace tarvex
