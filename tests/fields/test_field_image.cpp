// Field images: the bytes the board stores for a value, and the value shown
// for the bytes.
#include "FieldError.h"
#include "FieldImage.h"
#include "FieldRows.h"
#include "FieldValues.h"

#include <gtest/gtest.h>

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
    const T_R_FieldDef &field = RdsUsbFields[fields::fieldIndex(c.field)];
    const fields::Image image =
        fields::checkValue(field, c.value, fields::Charset::Cp1252, false).image;
    EXPECT_EQ(image, c.image);
    EXPECT_EQ(fields::shownOf(field, image, fields::Charset::Cp1252), c.shown);
}

INSTANTIATE_TEST_SUITE_P(Fields, Images, testing::ValuesIn(images));

// Texts from the board's bytes: padded or cut; control bytes show as blanks,
// a RadioText loses its trailing ones; the RDS table's 0x8D is "ß", 0x7F nothing.
TEST(FieldImage, TextsFromTheBoardsBytes)
{
    const T_R_FieldDef &ps = RdsUsbFields[fields::fieldIndex("ram.ps")];
    const T_R_FieldDef &rt = RdsUsbFields[fields::fieldIndex("eeprom.rt")];
    EXPECT_EQ(fields::textImage(ps, "LONGER THAN EIGHT"), "LONGER T");
    EXPECT_EQ(fields::textImage(rt, "Now"), "Now" + std::string(61, '\r'));
    EXPECT_EQ(fields::shownOf(ps,
                              std::string("AB\0\x0D\x1F"
                                          "CDE",
                                          8),
                              fields::Charset::Cp1252),
              "AB   CDE");
    EXPECT_EQ(fields::shownOf(rt, "Now  " + std::string(59, '\r'), fields::Charset::Cp1252), "Now");
    EXPECT_EQ(fields::shownOf(ps,
                              std::string("STRA\x8D"
                                          "E  "),
                              fields::Charset::Rds),
              "STRA\xC3\x9F"
              "E  ");
    EXPECT_THROW(fields::shownOf(ps, std::string("ABC\x7F    "), fields::Charset::Rds),
                 fields::Error);
    EXPECT_EQ(fields::fieldIndex("ram.xx"), -1);
    EXPECT_EQ(fields::fieldIndex("ram."), -1);
}

} // namespace
