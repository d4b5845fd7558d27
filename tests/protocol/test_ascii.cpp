// ASCII command lines: line endings and the length limit, names and aliases.
// The replies are the daemon tests'.
#include "AsciiCommand.h"
#include "AsciiLines.h"

#include <gtest/gtest.h>

using namespace ascii;

namespace {

struct SplitCase {
    const char *name;
    std::vector<std::string> feeds;
    std::vector<Line> lines;
    std::optional<Line> rest;
};

Line tooLong() { return Line{"", true}; }

const std::string x1024(1024, 'x');

// clang-format off
const SplitCase splitCases[] = {
    {"Endings", {"PS=A\rRT=B\nTA=1\r\nTP=0\r\n"}, {{"PS=A"}, {"RT=B"}, {"TA=1"}, {"TP=0"}}, {}},
    {"CrLfAcrossFeeds", {"PS=A\r", "\nRT=B\r", "", "\n"}, {{"PS=A"}, {"RT=B"}}, {}},
    {"EmptyLines", {"\r\r\n\n", "\n\r"}, {{""}, {""}, {""}, {""}, {""}}, {}},
    {"LineAcrossFeeds", {"TEX", "T=Artist - T", "itle\n"}, {{"TEXT=Artist - Title"}}, {}},
    {"Unended", {"PS=A\nRT=B"}, {{"PS=A"}}, Line{"RT=B"}},
    {"Longest", {x1024 + "\n"}, {{x1024}}, {}},
    {"OneByteTooLong", {x1024 + "y\nPS=A\n"}, {tooLong(), {"PS=A"}}, {}},
    {"TooLongOnceAcrossFeeds", {x1024, "yyyy", std::string(5000, 'z'), "\r", "\nPS=A\r"},
     {tooLong(), {"PS=A"}}, {}},
    {"TooLongUnended", {x1024 + "yyyy"}, {tooLong()}, {}},
    {"LongestUnended", {x1024}, {}, Line{x1024}},
};
// clang-format on

class Split : public testing::TestWithParam<SplitCase> {};

TEST_P(Split, LinesAndRest)
{
    LineSplitter splitter;
    std::vector<Line> lines;
    for (const std::string &feed : GetParam().feeds) {
        for (Line &line : splitter.feed(feed))
            lines.push_back(std::move(line));
    }
    EXPECT_EQ(lines, GetParam().lines);
    EXPECT_EQ(splitter.finish(), GetParam().rest);
    // Afresh after finish.
    EXPECT_EQ(splitter.feed("\nDI=1\n"), (std::vector<Line>{{""}, {"DI=1"}}));
}

INSTANTIATE_TEST_SUITE_P(Ascii, Split, testing::ValuesIn(splitCases),
                         [](const auto &info) { return info.param.name; });

struct ParseCase {
    std::string line;
    Command command;
};

// clang-format off
const ParseCase parseCases[] = {
    {"", Empty{}}, {"PS=RADIO 1", Set{"ram.ps", "RADIO 1"}},
    {"ps= Radio  ", Set{"ram.ps", " Radio  "}},
    {"RT=Artist - Title", Set{"ram.rt", "Artist - Title"}},
    {"TEXT=Caf\xc3\xa9", Set{"ram.rt", "Caf\xc3\xa9"}}, {"Rt1=a=b", Set{"ram.rt", "a=b"}},
    {"PTY=10", Set{"ram.pty", "10"}}, {"tp=1", Set{"ram.tp", "1"}}, {"TA=0", Set{"ram.ta", "0"}},
    {"MS=1", Set{"ram.ms", "1"}}, {"DI=9", Set{"ram.di", "9"}},
    {"*PS=STATION", Set{"ram.ps", "STATION", "eeprom.ps"}}, {"*rt=", Set{"ram.rt", "", "eeprom.rt"}},
    {"*TEXT=T", Set{"ram.rt", "T", "eeprom.rt"}}, {"*RT1=T", Set{"ram.rt", "T", "eeprom.rt"}},
    {"*PTY=3", Set{"ram.pty", "3", "eeprom.pty"}}, {"*TP=1", Set{"ram.tp", "1", "eeprom.tp"}},
    {"*TA=1", Set{"ram.ta", "1", "eeprom.ta"}}, {"*MS=0", Set{"ram.ms", "0", "eeprom.ms"}},
    {"*DI=1", Set{"ram.di", "1", "eeprom.di"}}, {"PI=C201", Set{"eeprom.pi", "C201"}},
    {"*pi=c201", Set{"eeprom.pi", "c201"}}, {"AF=89.6,91.4", Set{"af", "89.6,91.4"}},
    {"AF=", Set{"af", ""}}, {"eeprom.group2a=4", Set{"eeprom.group2a", "4"}},
    {"EEPROM.AF03=98.1", Set{"eeprom.af03", "98.1"}}, {"Ram.Ps=X", Set{"ram.ps", "X"}},
    {"DPS=Now: Song", Scroll{"Now: Song"}}, {"dps=", Scroll{""}}, {"PS?", Query{"ram.ps"}},
    {"text?", Query{"ram.rt"}}, {"*PS?", Query{"eeprom.ps"}}, {"PI?", Query{"eeprom.pi"}},
    {"AF?", Query{"af"}}, {"ram.ps?", Query{"ram.ps"}}, {"eeprom.stereo?", Query{"eeprom.stereo"}},
    {"??", QueryAll{}}, {"STATUS?", Status{}}, {"status?", Status{}}, {"PS", Unknown{}},
    {"XYZ=1", Unknown{}}, {"=1", Unknown{}}, {"?", Unknown{}}, {"???", Unknown{}},
    {"ram.=1", Unknown{}}, {"eeprom.?", Unknown{}}, {"*ram.ps=X", Unknown{}}, {"*DPS=X", Unknown{}},
    {"*STATUS?", Unknown{}}, {"DPS?", Unknown{}}, {"PS?=X", Unknown{}}, {" PS=X", Unknown{}},
    {"ramps=X", Unknown{}}, {"ram.ps?x", Unknown{}}, {"PS =X", Unknown{}},
};
// clang-format on

class Parse : public testing::TestWithParam<ParseCase> {};

TEST_P(Parse, Command) { EXPECT_EQ(parseLine(GetParam().line), GetParam().command); }

INSTANTIATE_TEST_SUITE_P(Ascii, Parse, testing::ValuesIn(parseCases));

} // namespace
