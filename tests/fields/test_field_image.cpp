// Field images: the bytes the board stores for a value, and the value shown
// for the bytes.
#include "FieldError.h"
#include "FieldImage.h"
#include "FieldRows.h"
#include "FieldValues.h"

#include <gtest/gtest.h>

using namespace fields;

namespace {

struct ImageCase {
    const char *field;
    std::string value; // as people give it
    std::string image;
    std::string shown; // as the front ends show it
};

void PrintTo(const ImageCase &c, std::ostream *os) { *os << c.field << '=' << c.value; }

class Images : public testing::TestWithParam<ImageCase> {};

const ImageCase images[] = {
    {"ram.ps", "NEWS", "NEWS    ", "NEWS    "},
    {"eeprom.ps", "Caf\xC3\xA9 FM", "Caf\xE9 FM ", "Caf\xC3\xA9 FM "},
    {"ram.rt", "Hello", "Hello" + std::string(59, '\r'), "Hello"},
    {"ram.rt", std::string(64, 'x'), std::string(64, 'x'), std::string(64, 'x')},
    {"eeprom.group2a", "255", "\xFF", "255"},
    {"eeprom.pi", "C201", "\xC2\x01", "0xC201"},
    {"eeprom.pi", "0x00ff", std::string("\0\xFF", 2), "0x00FF"},
    {"eeprom.af24", "107.9", "\xCC", "107.9"},
    {"eeprom.af03", "101.10", "\x88", "101.1"},
};

TEST_P(Images, OfACheckedValueAndShownBack)
{
    const ImageCase &c = GetParam();
    const T_R_FieldDef &field = RdsUsbFields[fieldIndex(c.field)];
    const Image image = checkValue(field, c.value, Charset::Cp1252, false).image;
    EXPECT_EQ(image, c.image);
    EXPECT_EQ(shownOf(field, image, Charset::Cp1252), c.shown);
}

INSTANTIATE_TEST_SUITE_P(Fields, Images, testing::ValuesIn(images));

// Texts from the board's bytes: padded or cut; control bytes show as blanks,
// a RadioText loses its trailing ones; the RDS table's 0x8D is "ß", 0x7F nothing.
TEST(FieldImage, TextsFromTheBoardsBytes)
{
    const T_R_FieldDef &ps = RdsUsbFields[fieldIndex("ram.ps")];
    const T_R_FieldDef &rt = RdsUsbFields[fieldIndex("eeprom.rt")];
    EXPECT_EQ(textImage(ps, "LONGER THAN EIGHT"), "LONGER T");
    EXPECT_EQ(textImage(rt, "Now"), "Now" + std::string(61, '\r'));
    // Adjacent literals end the hex escapes: a line per case.
    // clang-format off
    EXPECT_EQ(shownOf(ps, std::string("AB\0\x0D\x1F" "CDE", 8), Charset::Cp1252), "AB   CDE");
    EXPECT_EQ(shownOf(rt, "Now  " + std::string(59, '\r'), Charset::Cp1252), "Now");
    EXPECT_EQ(shownOf(ps, std::string("STRA\x8D" "E  "), Charset::Rds), "STRA\xC3\x9F" "E  ");
    // clang-format on
    EXPECT_THROW(shownOf(ps, std::string("ABC\x7F    "), Charset::Rds), Error);
    EXPECT_EQ(fieldIndex("ram.xx"), -1);
    EXPECT_EQ(fieldIndex("ram."), -1);
}

} // namespace
