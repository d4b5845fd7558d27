// The Windows-1252 code page.
#include "cp1252.h"

#include <gtest/gtest.h>

namespace {

TEST(Cp1252, EveryByteRoundTripsThroughUnicode)
{
    for (int byte = 0x01; byte <= 0xFF; ++byte) {
        char32_t codePoint = Cp1252ToUnicode(static_cast<unsigned char>(byte));
        EXPECT_EQ(UnicodeToCp1252(codePoint), byte) << std::hex << byte;
    }
    std::string all;
    for (int byte = 0x01; byte <= 0xFF; ++byte)
        all.push_back(static_cast<char>(byte));
    EXPECT_EQ(UnicodeToCp1252(Cp1252ToUnicode(all)), all);
}

TEST(Cp1252, MapsTheCodePagesOwnCharacters)
{
    EXPECT_EQ(Cp1252ToUnicode('A'), U'A');
    EXPECT_EQ(Cp1252ToUnicode(0x80), U'\u20AC'); // euro sign
    EXPECT_EQ(Cp1252ToUnicode(0x85), U'\u2026'); // ellipsis
    EXPECT_EQ(Cp1252ToUnicode(0x8A), U'\u0160'); // S with caron
    EXPECT_EQ(Cp1252ToUnicode(0x93), U'\u201C'); // left double quotation mark
    EXPECT_EQ(Cp1252ToUnicode(0x99), U'\u2122'); // trade mark sign
    EXPECT_EQ(Cp1252ToUnicode(0x9F), U'\u0178'); // Y with diaeresis
    EXPECT_EQ(Cp1252ToUnicode(0xA0), U'\u00A0');
    EXPECT_EQ(Cp1252ToUnicode(0xE9), U'\u00E9');
    EXPECT_EQ(Cp1252ToUnicode(0xFF), U'\u00FF');
    EXPECT_EQ(UnicodeToCp1252(U'\u20AC'), 0x80);
    EXPECT_EQ(UnicodeToCp1252(U'\u0152'), 0x8C);
}

TEST(Cp1252, UndefinedBytesKeepTheirValueAsC1Controls)
{
    for (unsigned char byte : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
        EXPECT_EQ(Cp1252ToUnicode(byte), static_cast<char32_t>(byte));
        EXPECT_EQ(UnicodeToCp1252(static_cast<char32_t>(byte)), byte);
    }
}

TEST(Cp1252, CodePointsOutsideTheCodePageHaveNoByteAndBecomeQuestionMarks)
{
    for (char32_t codePoint : {U'\u0080', U'\u0082', U'\u009F', U'\u0100', U'\u0416', U'\u20AD',
                               U'\U0001F600'})
        EXPECT_EQ(UnicodeToCp1252(codePoint), -1) << std::hex << static_cast<uint32_t>(codePoint);
    EXPECT_EQ(UnicodeToCp1252(U"a\u0416\u20ACb\U0001F600"), "a?\x80" "b?");
}

} // namespace
