// The Windows-1252 code page.
#include "cp1252.h"

#include <gtest/gtest.h>

namespace {

// Bytes and code points as the code page's table gives them: ASCII and
// Latin-1 as themselves, 0x80-0x9F its own characters, the five undefined
// bytes as the C1 controls of their value; every byte survives a round trip.
TEST(Cp1252, MapsEveryByteBothWaysAndOtherCodePointsToQuestionMarks)
{
    const std::pair<int, char32_t> table[] = {
        {'A', U'A'},       {0x80, U'\u20AC'}, {0x81, 0x81},      {0x85, U'\u2026'},
        {0x8A, U'\u0160'}, {0x8C, U'\u0152'}, {0x8D, 0x8D},      {0x8F, 0x8F},
        {0x90, 0x90},      {0x93, U'\u201C'}, {0x99, U'\u2122'}, {0x9D, 0x9D},
        {0x9F, U'\u0178'}, {0xA0, U'\u00A0'}, {0xE9, U'\u00E9'}, {0xFF, U'\u00FF'}};
    for (auto [byte, codePoint] : table) {
        EXPECT_EQ(Cp1252ToUnicode(static_cast<unsigned char>(byte)), codePoint) << std::hex << byte;
        EXPECT_EQ(UnicodeToCp1252(codePoint), byte) << std::hex << byte;
    }
    std::string all;
    for (int byte = 0x01; byte <= 0xFF; ++byte)
        all.push_back(static_cast<char>(byte));
    EXPECT_EQ(UnicodeToCp1252(Cp1252ToUnicode(all)), all);
    for (char32_t outside :
         {U'\u0080', U'\u0082', U'\u009F', U'\u0100', U'\u0416', U'\u20AD', U'\U0001F600'})
        EXPECT_EQ(UnicodeToCp1252(outside), -1) << std::hex << static_cast<uint32_t>(outside);
    EXPECT_EQ(UnicodeToCp1252(U"a\u0416\u20ACb\U0001F600"), "a?\x80"
                                                            "b?");
}

} // namespace
