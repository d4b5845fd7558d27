// Field images: the bytes the board stores for a value, and the value shown
// for the bytes.
#include "CtlStatus.h"
#include "FieldImage.h"
#include "FieldValues.h"

#include <gtest/gtest.h>

namespace {

struct ImageCase {
    const char *field;
    std::string value; // as quorvel-ctl's set takes it
    std::string image;
    std::string shown; // as quorvel-ctl shows it
};

void PrintTo(const ImageCase &c, std::ostream *os)
{
    *os << c.field << "=\"" << c.value << "\"";
}

class Images : public testing::TestWithParam<ImageCase> {};

const ImageCase images[] = {
    {"ram.ps", "NEWS", "NEWS    ", "NEWS    "},
    {"eeprom.ps", "Caf\xC3\xA9 FM", "Caf\xE9 FM ", "Caf\xC3\xA9 FM "},
    {"ram.rt", "Hello", "Hello" + std::string(59, '\r'), "Hello"},
    {"eeprom.rt", "", std::string(64, '\r'), ""},
    {"ram.rt", std::string(64, 'x'), std::string(64, 'x'), std::string(64, 'x')},
    {"ram.pty", "31", "\x1F", "31"},
    {"ram.di", "0", std::string(1, '\0'), "0"},
    {"eeprom.group2a", "255", "\xFF", "255"},
    {"eeprom.naf", "25", "\x19", "25"},
    {"eeprom.pi", "C201", "\xC2\x01", "0xC201"},
    {"eeprom.pi", "0x00ff", std::string("\0\xFF", 2), "0x00FF"},
    {"eeprom.af00", "87.6", "\x01", "87.6"},
    {"eeprom.af12", "98.5", "\x6E", "98.5"},
    {"eeprom.af24", "107.9", "\xCC", "107.9"},
    {"eeprom.af03", "101.10", "\x88", "101.1"},
};

TEST_P(Images, OfACheckedValueAndShownBack)
{
    const ImageCase &c = GetParam();
    const int index = qd::fieldIndex(c.field);
    ASSERT_GE(index, 0);
    const T_R_FieldDef &field = RdsUsbFields[index];
    const qd::Image image = qd::imageOf(field, checkValue(field, c.value, Charset::Cp1252, false).boardText);
    EXPECT_EQ(image, c.image);
    EXPECT_EQ(image.size(), qd::imageSize(field));
    EXPECT_EQ(qd::shownOf(field, image, Charset::Cp1252), c.shown);
}

INSTANTIATE_TEST_SUITE_P(Fields, Images, testing::ValuesIn(images));

TEST(FieldImage, NamesSizesAndBlocks)
{
    struct Row {
        const char *name;
        int index;
        size_t size;
        int blocks;
        size_t blockSize;
    };
    const Row rows[] = {
        {"ram.ps", 0, 8, 2, 4},          {"ram.rt", 1, 64, 16, 4},      {"ram.di", 6, 1, 1, 1},
        {"eeprom.ps", 7, 8, 2, 4},       {"eeprom.rt", 8, 64, 16, 4},   {"eeprom.pi", 14, 2, 1, 2},
        {"eeprom.naf", 15, 1, 1, 1},     {"eeprom.af00", 16, 1, 1, 1},  {"eeprom.af24", 40, 1, 1, 1},
        {"eeprom.stereo", 42, 1, 1, 1},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        ASSERT_EQ(qd::fieldIndex(r.name), r.index);
        const T_R_FieldDef &field = RdsUsbFields[r.index];
        EXPECT_EQ(qd::imageSize(field), r.size);
        EXPECT_EQ(qd::blockCount(field), r.blocks);
        EXPECT_EQ(qd::blockSize(field), r.blockSize);
    }
    EXPECT_EQ(qd::fieldIndex("ram.xx"), -1);
    EXPECT_EQ(qd::fieldIndex(""), -1);
}

TEST(FieldImage, TextsFromTheBoardsBytes)
{
    const T_R_FieldDef &ps = RdsUsbFields[qd::fieldIndex("ram.ps")];
    const T_R_FieldDef &rt = RdsUsbFields[qd::fieldIndex("eeprom.rt")];
    EXPECT_EQ(qd::textImage(ps, " PS RDS "), " PS RDS ");
    EXPECT_EQ(qd::textImage(ps, "RADIO"), "RADIO   ");
    EXPECT_EQ(qd::textImage(ps, "LONGER THAN EIGHT"), "LONGER T");
    EXPECT_EQ(qd::textImage(rt, "Now"), "Now" + std::string(61, '\r'));
    EXPECT_EQ(qd::textImage(rt, std::string(70, 'y')), std::string(64, 'y'));

    // Control bytes show as blanks; a RadioText loses its trailing ones.
    EXPECT_EQ(qd::shownOf(ps, std::string("AB\0\x0D\x1F" "CDE", 8), Charset::Cp1252), "AB   CDE");
    EXPECT_EQ(qd::shownOf(rt, "Now  " + std::string(59, '\r'), Charset::Cp1252), "Now");
    // In the RDS table 0x8D is "ß" and 0x7F nothing.
    EXPECT_EQ(qd::shownOf(ps, std::string("STRA\x8D" "E  "), Charset::Rds), "STRA\xC3\x9F" "E  ");
    EXPECT_THROW(qd::shownOf(ps, std::string("ABC\x7F    "), Charset::Rds), CtlError);
}

} // namespace
