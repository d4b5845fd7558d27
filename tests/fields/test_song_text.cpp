// Song text on its way to the board: what the tables lack, transliterated;
// what is too long, cut; what is not UTF-8, read as Windows-1252.
#include "SongText.h"
#include "Transliteration.h"

#include <gtest/gtest.h>

using namespace fields;

namespace {

struct PlainCase {
    const char *given;
    Charset charset;
    const char *plain; // in UTF-8
};

constexpr Charset Rds = Charset::Rds, Cp = Charset::Cp1252;

// clang-format off
const PlainCase plainCases[] = {
    {"Guns N’ Roses ‘Live’ ‚x‛ 5′", Rds, "Guns N' Roses 'Live' 'x' 5'"},
    {"Don´t `stop` ʼem", Rds, "Don't 'stop' 'em"},
    {"“Hits” „Lo‟ 5″ «Nuit» ‹x›", Rds, "\"Hits\" \"Lo\" 5\" \"Nuit\" 'x'"},
    {"A – B — C − D ‐ E ‑ F ‒ G", Rds, "A - B - C - D - E - F - G"},
    {"Artist • Title · Live ~ Remix", Rds, "Artist - Title - Live - Remix"},
    {"Wait…", Rds, "Wait..."}, {"No\u00A0break\tTab", Rds, "No break Tab"},
    {"Ed Sheeran × Taylor Swift", Rds, "Ed Sheeran x Taylor Swift"},
    {"Łódź, București, Țară", Rds, "Lódź, Bucuresti, Tara"},
    {"Đorđe Balašević", Rds, "Dorđe Balašević"}, {"Nguyễn Ħal", Rds, "Nguyen Hal"},
    {"Dvořák Ærø Straße Çağrı Sigur Rós Beyoncé", Rds, "Dvořák Ærø Straße Çağrı Sigur Rós Beyoncé"},
    {"ǅemal ﬁre Ｆｕｌｌ Song™", Rds, "Džemal fire Full SongTM"},
    {"Cafe\u0301 s\u0326", Rds, "Café s"}, // combining marks
    {"Fire 🔥 Song", Rds, "Fire Song"}, {"🔥 Hot 🔥", Rds, "Hot"}, {"Love ❤️!", Rds, "Love !"},
    {"Мумий Тролль - Song", Rds, "- Song"}, {"Bell\a\x7F", Rds, "Bell"},
    {"Ω 5$ ½ ← ―", Rds, "5$ ½ ← ―"}, {"Up ^2", Rds, "Up 2"},
    {"Guns N’ Roses – Wait…", Cp, "Guns N’ Roses – Wait…"}, {"Łódź ―", Cp, "Lódz -"},
    {"Ærø Þór", Cp, "Ærø Þór"}, {"Ω", Cp, ""},
};
// clang-format on

class Plain : public testing::TestWithParam<PlainCase> {};

TEST_P(Plain, KeepsWhatTheTableHasAndReplacesOrDropsTheRest)
{
    const PlainCase &c = GetParam();
    EXPECT_EQ(encodeUtf8(transliterate(decodeUtf8(c.given, "t"), c.charset).text), c.plain);
}

INSTANTIATE_TEST_SUITE_P(Transliteration, Plain, testing::ValuesIn(plainCases));

struct CutCase {
    std::string given;
    SongField field;
    std::string onBoard; // in UTF-8
    bool cut;
};

const std::string x64(64, 'x');

// clang-format off
const CutCase cutCases[] = {
    {"Queen - Bohemian Rhapsody (Live at Wembley Stadium, 12 July 1986) [2011 Remaster]",
     SongField::RadioText, "Queen - Bohemian Rhapsody (Live at Wembley Stadium, 12 July", true},
    {"Ludwig van Beethoven - Symphony No. 9 in D minor, Op. 125 'Choral': IV. Presto",
     SongField::RadioText, "Ludwig van Beethoven - Symphony No. 9 in D minor, Op. 125", true},
    {std::string(47, 'x') + " " + std::string(30, 'y'), SongField::RadioText,
     std::string(47, 'x') + " " + std::string(16, 'y'), true}, // the blank is character 48
    {x64 + " and more", SongField::RadioText, x64, true},
    {x64, SongField::RadioText, x64, false},
    {std::string(62, 'x') + "…", SongField::RadioText, std::string(62, 'x') + "..", true},
    {"RADIO ONE FM", SongField::Ps, "RADIO ON", true}, {"RADIO 1", SongField::Ps, "RADIO 1", false},
    {std::string(130, 's'), SongField::ScrollingPs, std::string(128, 's'), true},
    {"Sigur Rós – Hoppípolla 🔥", SongField::RadioText, "Sigur Rós - Hoppípolla", false},
};
// clang-format on

class Cut : public testing::TestWithParam<CutCase> {};

TEST_P(Cut, CutsAfterTransliteratingAtAWordForARadioText)
{
    const CutCase &c = GetParam();
    const SongText song = songText(decodeUtf8(c.given, "t"), c.field, Charset::Rds);
    EXPECT_EQ(fromBoardText(song.boardText, Charset::Rds, "t"), c.onBoard);
    EXPECT_EQ(song.cut, c.cut);
}

INSTANTIATE_TEST_SUITE_P(SongText, Cut, testing::ValuesIn(cutCases));

} // namespace

// Each change named once, for the log.
TEST(Transliteration, NamesEachChangeOnce)
{
    EXPECT_EQ(transliterate(U"’a’ b… 🔥🔥 ❤", Charset::Rds).changes(),
              "written \"’\" as \"'\", \"…\" as \"...\"; dropped \"🔥\" (U+1F525), \"❤\" (U+2764)");
    EXPECT_EQ(transliterate(U"\a", Charset::Rds).changes(), "dropped U+0007");
    EXPECT_EQ(transliterate(U"plain", Charset::Rds).changes(), "");
}

// UTF-8 where it is UTF-8, else Windows-1252, byte for byte.
TEST(TextCodec, ReadsWhatIsNotUtf8AsWindows1252)
{
    EXPECT_EQ(decodeUtf8OrCp1252("Mot\xC3\xB6rhead"), U"Motörhead");
    EXPECT_EQ(decodeUtf8OrCp1252("Mot\xF6rhead \x93Hi\x94 \x85"), U"Motörhead “Hi” …");
    EXPECT_EQ(decodeUtf8OrCp1252("\xC3"), U"Ã");
}
