// The field model's values: UTF-8 and the 8-bit tables, value checks, the
// now-playing line.
#include "FieldError.h"
#include "FieldValues.h"
#include "NowPlaying.h"
#include "TextCodec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace fields;
using testing::HasSubstr;

namespace {

const T_R_FieldDef &field(const char *name) { return *RdsUsbFindField(name); }

// The error a call throws; none when it throws nothing.
Error errorOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const Error &e) {
        return e;
    }
    return {};
}

CheckedValue check(const char *name, const std::string &value, bool force = false,
                   Charset charset = Charset::Cp1252)
{
    return checkValue(field(name), value, charset, force);
}

std::string refusal(const char *name, const std::string &value, Charset charset = Charset::Cp1252)
{
    const Error e = errorOf([&] { check(name, value, false, charset); });
    EXPECT_EQ(e.field, e.message.empty() ? "" : name);
    return e.message;
}

} // namespace

// UTF-8 to the chosen table's bytes and back; malformed UTF-8 is named.
TEST(TextCodec, TurnsUtf8IntoTheChosenTablesBytesAndBack)
{
    const std::u32string text = decodeUtf8("Café €5 ‘’", "t");
    EXPECT_EQ(toBoardText(text, Charset::Cp1252, "t"), "Caf\xE9 \x80"
                                                       "5 \x91\x92");
    EXPECT_EQ(fromBoardText("Caf\x82 \xA9"
                            "5",
                            Charset::Rds, "t"),
              "Café €5");
    const char *const widths = "a\u07FF\u0800\U0001F600z"; // one to four bytes
    EXPECT_EQ(encodeUtf8(decodeUtf8(widths, "t")), widths);
    for (const char *bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\x80"})
        EXPECT_THAT(errorOf([bad] { decodeUtf8(bad, "arg"); }).message,
                    HasSubstr("arg: invalid UTF-8"));
}

// Numbers within their RDS ranges, named with the dialog's label.
TEST(FieldValues, NumbersWithinTheirRdsRanges)
{
    // clang-format off
    const std::tuple<const char *, const char *, int, int> ranges[] = {
        {"ram.pty", "RAM PTY", 0, 31}, {"eeprom.pty", "EEPROM PTY", 0, 31}, {"ram.tp", "RAM TP", 0, 1},
        {"eeprom.ta", "EEPROM TA", 0, 1}, {"ram.ms", "RAM MS", 0, 1}, {"eeprom.ms", "EEPROM MS", 0, 1},
        {"ram.di", "RAM DI", 0, 15}, {"eeprom.di", "EEPROM DI", 0, 15}, {"eeprom.naf", "Used AF", 0, 25},
        {"eeprom.group2a", "2A Group", 0, 255}, {"eeprom.stereo", "Stereo", 0, 255}};
    // clang-format on
    for (const auto &[name, label, min, max] : ranges) {
        for (int n : {min, max})
            EXPECT_EQ(check(name, std::to_string(n)).boardText, std::to_string(n)) << name;
        for (int n : {min - 1, max + 1})
            EXPECT_THAT(refusal(name, std::to_string(n)),
                        HasSubstr(std::string(name) + " (" + label + "): " + std::to_string(n) +
                                  " is outside " + std::to_string(min) + "-" +
                                  std::to_string(max)));
    }
    EXPECT_EQ(check("ram.pty", " +07 ").shown, "7");
    for (const char *bad : {"", "12abc", "1.5", "0x10", "--1", "+", "5x"})
        EXPECT_THAT(refusal("ram.pty", bad), HasSubstr("is not a whole number")) << bad;
    EXPECT_THAT(refusal("ram.pty", "99999999999"), HasSubstr("is outside 0-31"));
    EXPECT_EQ(check("ram.pty", "40", true).boardText, "40");
}

// AFs, PI code and texts: what passes, as shown and as sent, and what is refused.
TEST(FieldValues, FrequenciesPiCodeAndTexts)
{
    // clang-format off
    const std::tuple<const char *, std::string, bool, std::string, std::string> accepted[] = {
        {"eeprom.af00", "87.6", false, "87.6", "87.6"},   {"eeprom.af00", "107.9", false, "107.9", "107.9"},
        {"eeprom.af00", " 98.50", false, "98.50", "98.5"}, {"eeprom.af00", "100", false, "100", "100.0"},
        {"eeprom.af00", "98.75", true, "98.75", "98.8"}, // rounded as the dialog does
        {"eeprom.pi", "c201", false, "0xc201", "0xC201"}, {"eeprom.pi", "12345", true, "0x12345", "0x2345"},
        {"ram.ps", "ÉÉÉÉÉÉÉÉ", false, std::string(8, '\xC9'), "ÉÉÉÉÉÉÉÉ"},
        {"ram.ps", "ABCDEFGHI", true, "ABCDEFGH", "ABCDEFGH"},
        {"ram.ps", " AB ", false, " AB ", " AB "}, // a PS name keeps its blanks
        {"ram.rt", std::string(64, 'r'), false, std::string(64, 'r'), std::string(64, 'r')},
        {"eeprom.rt", "On air  ", false, "On air  ", "On air"}, // read back with blanks for padding
    };
    // clang-format on
    for (const auto &[name, value, force, boardText, shown] : accepted) {
        const CheckedValue v = check(name, value, force);
        EXPECT_EQ(v.boardText, boardText) << value;
        EXPECT_EQ(v.shown, shown) << value;
        EXPECT_EQ(v.warning, "") << value;
    }
    EXPECT_THAT(check("eeprom.pi", "0X0FFF").warning, HasSubstr("0x0FFF has country code 0"));
    // clang-format off
    const std::tuple<const char *, std::string, std::string> refused[] = {
        {"eeprom.af00", "87.5", "eeprom.af00 (AF00): 87.5 MHz is outside 87.6-107.9 MHz"},
        {"eeprom.af00", "108.0", "108.0 MHz is outside 87.6-107.9 MHz"},
        {"eeprom.af00", "98.55", "98.55 MHz is not in 0.1 MHz steps"},
        {"eeprom.pi", "C20", "eeprom.pi (PI Code): \"C20\" is not four hexadecimal digits"},
        {"eeprom.pi", "0x12345", "not four hexadecimal digits"},
        {"eeprom.pi", "0x", "is not a hexadecimal number"}, {"eeprom.pi", "PIZZA", "is not a hexadecimal number"},
        {"eeprom.ps", "ABCDEFGHI", "eeprom.ps (EEPROM PS Name): a PS name of 9 characters, at most 8"},
        {"ram.rt", std::string(65, 'r'), "a RadioText of 65 characters, at most 64"},
        {"ram.ps", "Ωmega", "ram.ps (RAM PS Name): \"Ω\" (U+03A9) is not in Windows-1252"},
        {"ram.ps", "ABCDEFG‥", "a PS name of 9 characters, at most 8"}, // counted once plain
        {"ram.ps", "A\x7F", "control character U+007F is not allowed"},
    };
    // clang-format on
    for (const auto &[name, value, message] : refused)
        EXPECT_THAT(refusal(name, value), HasSubstr(message)) << value;
    for (const char *bad : {"98,7", "-98.7", "98.", "1e2", "FM"})
        EXPECT_THAT(refusal("eeprom.af00", bad), HasSubstr("is not a frequency in MHz")) << bad;
    EXPECT_EQ(refusal("ram.ps", "Győr", Charset::Rds), "");
    const CheckedValue plain = check("ram.ps", "Győr’s", false, Charset::Cp1252);
    EXPECT_EQ(plain.boardText, "Gyor\x92s");
    EXPECT_EQ(plain.warning, "ram.ps (RAM PS Name): written \"ő\" as \"o\"");
}

// The now-playing line: the first, trimmed, without a BOM, Windows-1252 where
// it is not UTF-8; its cut is the field's.
TEST(NowPlaying, TakesTheFirstLineTrimmed)
{
    EXPECT_EQ(nowPlayingText("  Artist - Title \t\r\nAlbum\n"), "Artist - Title");
    EXPECT_EQ(nowPlayingText("\xEF\xBB\xBFWith BOM"), "With BOM");
    EXPECT_EQ(nowPlayingText(""), "");
    EXPECT_EQ(nowPlayingText("Mot\xF6rhead\r\n"), "Motörhead");
    EXPECT_EQ(nowPlayingText(std::string(70, 'x')), std::string(70, 'x'));
}
