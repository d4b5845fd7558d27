// The parts of quorvel-ctl that need no board: character tables, value
// checks, the backup format, the now-playing line and the command line.
#include "Backup.h"
#include "CtlOptions.h"
#include "CtlStatus.h"
#include "FieldValues.h"
#include "NowPlaying.h"
#include "TextCodec.h"
#include "rdsG0.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

using testing::HasSubstr;

namespace {

const T_R_FieldDef &field(const char *name)
{
    return *RdsUsbFindField(name);
}

CheckedValue check(const char *name, std::string_view value, bool force = false)
{
    return checkValue(field(name), value, Charset::Cp1252, force);
}

// The message of the refusal, or "" when the value passes.
std::string refusal(const char *name, std::string_view value, Charset charset = Charset::Cp1252)
{
    try {
        checkValue(field(name), value, charset, false);
        return "";
    } catch (const CtlError &e) {
        EXPECT_EQ(e.status, CtlRefused);
        return e.message;
    }
}

CtlOptions parse(std::vector<const char *> args)
{
    args.insert(args.begin(), "quorvel-ctl");
    return parseCommandLine(static_cast<int>(args.size()), args.data());
}

int usageStatus(std::vector<const char *> args)
{
    try {
        parse(std::move(args));
        return CtlOk;
    } catch (const CtlError &e) {
        return e.status;
    }
}

} // namespace

TEST(CtlRdsG0, RoundTripsEveryCodeItDefines)
{
    int defined = 0;
    for (int byte = 0; byte < 256; ++byte) {
        const std::optional<char32_t> c = RdsG0ToUnicode(static_cast<unsigned char>(byte));
        if (!c)
            continue;
        ++defined;
        EXPECT_EQ(UnicodeToRdsG0(*c), byte) << std::hex << byte;
    }
    // 0x20-0x7E and 0x80-0xFE: the controls, 0x7F and 0xFF have no character.
    EXPECT_EQ(defined, 95 + 127);
    for (int byte : {0x00, 0x0A, 0x0D, 0x1F, 0x7F, 0xFF})
        EXPECT_FALSE(RdsG0ToUnicode(static_cast<unsigned char>(byte))) << byte;
}

TEST(CtlRdsG0, PlacesCharactersWhereReceiversShowThem)
{
    EXPECT_EQ(UnicodeToRdsG0(U'A'), 0x41);
    EXPECT_EQ(UnicodeToRdsG0(U'é'), 0x82);
    EXPECT_EQ(UnicodeToRdsG0(U'ß'), 0x8D);
    EXPECT_EQ(UnicodeToRdsG0(U'ñ'), 0x9A);
    EXPECT_EQ(UnicodeToRdsG0(U'€'), 0xA9);
    EXPECT_EQ(UnicodeToRdsG0(U'$'), 0xAB);
    EXPECT_EQ(UnicodeToRdsG0(U'¤'), 0x24);
    EXPECT_EQ(UnicodeToRdsG0(U'Ž'), 0xCD);
    EXPECT_EQ(UnicodeToRdsG0(U'ŧ'), 0xFE);
    EXPECT_EQ(UnicodeToRdsG0(U'~'), -1); // 0x7E is the macron
    EXPECT_EQ(UnicodeToRdsG0(U'Ω'), -1);
    EXPECT_EQ(UnicodeToRdsG0(0), -1);
}

TEST(CtlTextCodec, TurnsUtf8IntoTheChosenTablesBytesAndBack)
{
    const std::u32string text = decodeUtf8("Café €5", "t");
    EXPECT_EQ(toBoardText(text, Charset::Cp1252, "t"), "Caf\xE9 \x80" "5");
    EXPECT_EQ(toBoardText(text, Charset::Rds, "t"), "Caf\x82 \xA9" "5");
    EXPECT_EQ(fromBoardText("Caf\x82 \xA9" "5", Charset::Rds, "t"), "Café €5");
    EXPECT_EQ(fromBoardText("Caf\xE9", Charset::Cp1252, "t"), "Café");
    EXPECT_EQ(encodeUtf8(decodeUtf8("a\U0001F600z", "t")), "a\U0001F600z");
}

TEST(CtlTextCodec, RefusesWhatTheBoardCannotHoldNamingIt)
{
    const auto message = [](auto convert) {
        try {
            convert();
        } catch (const CtlError &e) {
            EXPECT_EQ(e.status, CtlRefused);
            return e.message;
        }
        return std::string();
    };
    EXPECT_EQ(message([] { toBoardText(U"tab\there", Charset::Cp1252, "ram.rt"); }),
              "ram.rt: control character U+0009 is not allowed");
    EXPECT_EQ(message([] { toBoardText(U"x\u2603", Charset::Cp1252, "ram.ps"); }),
              "ram.ps: \"☃\" (U+2603) is not in Windows-1252");
    EXPECT_EQ(message([] { fromBoardText("a\xFF", Charset::Rds, "ram.ps"); }),
              "ram.ps: byte 0xFF has no character in the RDS character table");
    for (const char *bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\x80"})
        EXPECT_THAT(message([bad] { decodeUtf8(bad, "arg"); }), HasSubstr("arg: invalid UTF-8"));
}

TEST(CtlValues, NumbersWithinTheirRdsRanges)
{
    const std::vector<std::tuple<const char *, int, int>> ranges = {
        {"ram.pty", 0, 31}, {"eeprom.pty", 0, 31}, {"ram.tp", 0, 1},     {"eeprom.ta", 0, 1},
        {"ram.ms", 0, 1},   {"eeprom.di", 0, 15},  {"eeprom.naf", 0, 25}, {"eeprom.group2a", 0, 255},
        {"eeprom.stereo", 0, 255},
    };
    for (const auto &[name, min, max] : ranges) {
        EXPECT_EQ(check(name, std::to_string(min)).boardText, std::to_string(min)) << name;
        EXPECT_EQ(check(name, std::to_string(max)).boardText, std::to_string(max)) << name;
        EXPECT_THAT(refusal(name, std::to_string(max + 1)),
                    HasSubstr("is outside " + std::to_string(min) + "-" + std::to_string(max)));
        EXPECT_THAT(refusal(name, std::to_string(min - 1)), HasSubstr("is outside"));
    }
    EXPECT_EQ(check("ram.pty", " +07 ").shown, "7");
    for (const char *bad : {"", "12abc", "1.5", "0x10", "--1", "+"})
        EXPECT_THAT(refusal("ram.pty", bad), HasSubstr("is not a whole number")) << bad;
    EXPECT_THAT(refusal("ram.pty", "99999999999"), HasSubstr("is outside 0-31"));
    EXPECT_EQ(check("ram.pty", "40", true).boardText, "40");
}

TEST(CtlValues, AlternativeFrequenciesInTheBandInTenths)
{
    EXPECT_EQ(check("eeprom.af00", "87.6").shown, "87.6");
    EXPECT_EQ(check("eeprom.af00", "107.9").shown, "107.9");
    EXPECT_EQ(check("eeprom.af00", " 98.50").shown, "98.5");
    EXPECT_EQ(check("eeprom.af00", "100").shown, "100.0");
    EXPECT_THAT(refusal("eeprom.af00", "87.5"), HasSubstr("outside 87.6-107.9 MHz"));
    EXPECT_THAT(refusal("eeprom.af00", "108.0"), HasSubstr("outside 87.6-107.9 MHz"));
    EXPECT_THAT(refusal("eeprom.af00", "98.55"), HasSubstr("not in 0.1 MHz steps"));
    EXPECT_EQ(check("eeprom.af00", "98.75", true).shown, "98.8"); // rounded as the dialog does
    for (const char *bad : {"98,7", "-98.7", "98.", "1e2", "FM"})
        EXPECT_THAT(refusal("eeprom.af00", bad), HasSubstr("is not a frequency in MHz")) << bad;
}

TEST(CtlValues, PiCodeOfFourHexDigitsWarningOfCountryZero)
{
    const CheckedValue pi = check("eeprom.pi", "c201");
    EXPECT_EQ(pi.boardText, "0xc201");
    EXPECT_EQ(pi.shown, "0xC201");
    EXPECT_EQ(pi.warning, "");
    EXPECT_THAT(check("eeprom.pi", "0X0FFF").warning, HasSubstr("country code 0"));
    EXPECT_THAT(refusal("eeprom.pi", "C20"), HasSubstr("not four hexadecimal digits"));
    EXPECT_THAT(refusal("eeprom.pi", "0x12345"), HasSubstr("not four hexadecimal digits"));
    EXPECT_THAT(refusal("eeprom.pi", "0x"), HasSubstr("not a hexadecimal number"));
    EXPECT_EQ(check("eeprom.pi", "12345", true).shown, "0x2345");
}

TEST(CtlValues, TextsUpToTheirLengthInCharacters)
{
    EXPECT_EQ(check("ram.ps", "ÉÉÉÉÉÉÉÉ").boardText, std::string(8, '\xC9'));
    EXPECT_THAT(refusal("eeprom.ps", "ABCDEFGHI"), HasSubstr("a PS name of 9 characters, at most 8"));
    EXPECT_EQ(check("ram.ps", "ABCDEFGHI", true).boardText, "ABCDEFGH");
    EXPECT_EQ(check("ram.ps", " AB ").shown, " AB "); // a PS name keeps its blanks
    EXPECT_EQ(check("ram.rt", std::string(64, 'r')).boardText, std::string(64, 'r'));
    EXPECT_THAT(refusal("ram.rt", std::string(65, 'r')), HasSubstr("at most 64"));
    EXPECT_EQ(check("eeprom.rt", "On air  ").shown, "On air"); // read back with blanks for padding
    EXPECT_THAT(refusal("ram.ps", "Győr"), HasSubstr("(U+0151) is not in Windows-1252"));
    EXPECT_EQ(refusal("ram.ps", "Győr", Charset::Rds), "");
}

TEST(CtlValues, ShowsTheBoardsTextsAsTheDialogReadsThem)
{
    EXPECT_EQ(shownValue(field("eeprom.af00"), " 87.6", Charset::Cp1252), "87.6");
    EXPECT_EQ(shownValue(field("ram.rt"), "Hello" + std::string(59, ' '), Charset::Cp1252), "Hello");
    EXPECT_EQ(shownValue(field("ram.ps"), "Caf\x82    ", Charset::Rds), "Café    ");
    EXPECT_EQ(shownValue(field("ram.ps"), "Caf\x82", Charset::Cp1252), "Caf‚");
    EXPECT_EQ(quotedValue(field("ram.ps"), "A "), "\"A \"");
    EXPECT_EQ(quotedValue(field("eeprom.pi"), "0xC201"), "0xC201");
}

TEST(CtlValues, EepromTextsCopiedIntoRamByTheBoard)
{
    EXPECT_EQ(ramCopyOf(field("eeprom.ps")), &field("ram.ps"));
    EXPECT_EQ(ramCopyOf(field("eeprom.rt")), &field("ram.rt"));
    EXPECT_EQ(ramCopyOf(field("eeprom.pty")), nullptr);
    EXPECT_EQ(ramCopyOf(field("ram.ps")), nullptr);
    int ram = 0;
    for (const T_R_FieldDef &f : RdsUsbFields)
        ram += isRamField(f);
    EXPECT_EQ(ram, 7);
}

TEST(CtlBackupFormat, ParsesWhatItWrites)
{
    const FieldList shown = {{&field("ram.ps"), "Café"}, {&field("ram.pty"), "10"},
                             {&field("eeprom.pi"), "0xC201"}, {&field("eeprom.af00"), "87.6"}};
    const std::string document = backupDocument(shown, Charset::Rds);
    EXPECT_THAT(document, HasSubstr("\"eeprom.af00\": 87.6"));
    EXPECT_THAT(document, HasSubstr("\"ram.pty\": 10"));
    const BackupFile parsed = parseBackup(document, "f");
    EXPECT_EQ(parsed.charset, Charset::Rds);
    EXPECT_EQ(parsed.values, shown);
}

TEST(CtlBackupFormat, RefusesWhatIsNotABackup)
{
    const auto message = [](const std::string &text) {
        try {
            parseBackup(text, "f.json");
        } catch (const CtlError &e) {
            EXPECT_EQ(e.status, CtlFileError);
            return e.message;
        }
        return std::string();
    };
    const auto document = [](const std::string &rest) {
        return "{\"format\": \"quorvel-ctl backup\", " + rest + "}";
    };
    EXPECT_EQ(message("[1, 2"), "f.json: not JSON");
    EXPECT_EQ(message("{\"format\": 3}"), "f.json: not a quorvel-ctl backup");
    EXPECT_EQ(message(document("\"charset\": \"rds\", \"fields\": {}")),
              "f.json: format version null is not 1");
    EXPECT_EQ(message(document("\"version\": 1, \"charset\": \"utf8\", \"fields\": {}")),
              "f.json: unknown charset \"utf8\"");
    EXPECT_EQ(message(document("\"version\": 1, \"charset\": \"rds\", \"fields\": []")),
              "f.json: no \"fields\" object");
    EXPECT_EQ(message(document("\"version\": 1, \"charset\": \"rds\", \"fields\": {\"ram.pty\": null}")),
              "f.json: ram.pty: null is neither a string nor a number");
    EXPECT_EQ(message(document("\"version\": 1, \"charset\": \"rds\", \"fields\": {\"ram.pty\": 3}")), "");
}

TEST(CtlNowPlaying, TakesTheFirstLineTrimmedAndCutTo64Characters)
{
    EXPECT_EQ(nowPlayingText("  Artist - Title \t\r\nAlbum\n", "f"), "Artist - Title");
    EXPECT_EQ(nowPlayingText("\xEF\xBB\xBFWith BOM", "f"), "With BOM");
    EXPECT_EQ(nowPlayingText("", "f"), "");
    std::string seventy;
    for (int i = 0; i < 70; ++i)
        seventy += "é";
    std::string sixtyFour;
    for (int i = 0; i < 64; ++i)
        sixtyFour += "é";
    EXPECT_EQ(nowPlayingText(seventy, "f"), sixtyFour);
    EXPECT_THROW(nowPlayingText("bad \xFF", "f"), CtlError);
}

TEST(CtlCommandLine, TakesOptionsAnywhereAndChecksThemAgainstTheCommand)
{
    const CtlOptions o = parse({"set", "ram.ps=A", "--charset=rds", "--device", "1/7", "--force"});
    EXPECT_EQ(o.command, "set");
    EXPECT_EQ(o.operands, std::vector<std::string>{"ram.ps=A"});
    EXPECT_EQ(o.charset, Charset::Rds);
    EXPECT_EQ(o.device, "1/7");
    EXPECT_TRUE(o.force);
    EXPECT_EQ(parse({"rt", "--", "-starts with a dash"}).operands[0], "-starts with a dash");
    EXPECT_EQ(parse({"rt", "--follow", "f", "--eeprom"}).follow, "f");
    EXPECT_TRUE(parse({"help"}).help);

    for (const auto &args : std::vector<std::vector<const char *>>{
             {}, {"bogus"}, {"show", "--yes"}, {"probe", "--device", "1/2"}, {"get"},
             {"export", "a", "b"}, {"import"}, {"rt"}, {"rt", "--follow", "f", "t"},
             {"show", "--nope"}, {"show", "--device"}, {"show", "--device", "1-2"},
             {"show", "--json=yes"}, {"show", "--charset", "latin1"}})
        EXPECT_EQ(usageStatus(args), CtlUsage) << testing::PrintToString(args);

    const DeviceLocation at = parseDeviceLocation("001/017");
    EXPECT_EQ(at.bus, 1);
    EXPECT_EQ(at.device, 17);
}
