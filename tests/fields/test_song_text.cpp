// Song text on its way to the board: what the tables lack, transliterated;
// what is too long, cut; what is not UTF-8, read as Windows-1252.
#include "SongText.h"

#include <gtest/gtest.h>

using namespace fields;

namespace {

struct SongCase {
    std::string given;
    Charset charset;
    std::string onBoard; // in UTF-8
    SongField field = SongField::ScrollingPs;
    bool cut = false;
};

constexpr Charset Rds = Charset::Rds, Cp = Charset::Cp1252;
constexpr SongField Rt = SongField::RadioText;
const std::string x64(64, 'x');

// clang-format off
const SongCase songCases[] = {
    {"Guns N’ Roses ‘Live’ ‚x‛ 5′", Rds, "Guns N' Roses 'Live' 'x' 5'"},
    {"Don´t `stop` ʼem", Rds, "Don't 'stop' 'em"},
    {"“Hits” „Lo‟ 5″ «Nuit» ‹x›", Rds, "\"Hits\" \"Lo\" 5\" \"Nuit\" 'x'"},
    {"A – B — C − D ‐ E ‑ F ‒ G", Rds, "A - B - C - D - E - F - G"},
    {"Artist • Title · Live ~ Remix × 2", Rds, "Artist - Title - Live - Remix x 2"},
    {"Wait…", Rds, "Wait..."}, {"No\u00A0break\tTab", Rds, "No break Tab"},
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
    // Too long: a RadioText cut at a word, else after 64; a PS name after 8, a scrolling one after 128.
    {"Ludwig van Beethoven - Symphony No. 9 in D minor, Op. 125 'Choral': IV. Presto", Rds,
     "Ludwig van Beethoven - Symphony No. 9 in D minor, Op. 125", Rt, true},
    {std::string(47, 'x') + " " + std::string(30, 'y'), Rds,
     std::string(47, 'x') + " " + std::string(16, 'y'), Rt, true}, // the blank is character 48
    {x64 + " and more", Rds, x64, Rt, true}, {x64, Rds, x64, Rt, false},
    {std::string(62, 'x') + "…", Rds, std::string(62, 'x') + "..", Rt, true},
    {"RADIO ONE FM", Rds, "RADIO ON", SongField::Ps, true},
    {std::string(130, 's'), Rds, std::string(128, 's'), SongField::ScrollingPs, true},
};
// clang-format on

class Song : public testing::TestWithParam<SongCase> {};

// What the table has stays; what it lacks is replaced or dropped; then the cut.
TEST_P(Song, TransliteratedThenCut)
{
    const SongCase &c = GetParam();
    const SongText song = songText(decodeUtf8(c.given, "t"), c.field, c.charset);
    EXPECT_EQ(fromBoardText(song.boardText, c.charset, "t"), c.onBoard);
    EXPECT_EQ(song.cut, c.cut);
}

INSTANTIATE_TEST_SUITE_P(SongText, Song, testing::ValuesIn(songCases));

} // namespace
