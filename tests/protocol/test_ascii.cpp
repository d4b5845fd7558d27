// ASCII command lines: line endings and the length limit, names and aliases,
// replies.
#include "AsciiCommand.h"
#include "AsciiLines.h"
#include "AsciiReply.h"

#include <gtest/gtest.h>

using namespace ascii;

namespace {

struct SplitCase {
    const char *name;
    std::vector<std::string> feeds;
    std::vector<Line> lines;
    std::optional<Line> rest;
};

Line tooLong()
{
    return Line{"", true};
}

const std::string x1024(1024, 'x');

const SplitCase splitCases[] = {
    {"Endings", {"PS=A\rRT=B\nTA=1\r\nTP=0\r\n"}, {{"PS=A"}, {"RT=B"}, {"TA=1"}, {"TP=0"}}, {}},
    {"CrLfAcrossFeeds", {"PS=A\r", "\nRT=B\r", "", "\n"}, {{"PS=A"}, {"RT=B"}}, {}},
    {"EmptyLines", {"\r\r\n\n", "\n\r"}, {{""}, {""}, {""}, {""}, {""}}, {}},
    {"LineAcrossFeeds", {"TEX", "T=Artist - T", "itle\n"}, {{"TEXT=Artist - Title"}}, {}},
    {"Unended", {"PS=A\nRT=B"}, {{"PS=A"}}, Line{"RT=B"}},
    {"Longest", {x1024 + "\n"}, {{x1024}}, {}},
    {"OneByteTooLong", {x1024 + "y\nPS=A\n"}, {tooLong(), {"PS=A"}}, {}},
    {"TooLongOnceAcrossFeeds", {x1024, "yyyy", std::string(5000, 'z'), "\r", "\nPS=A\r"}, {tooLong(), {"PS=A"}}, {}},
    {"TooLongUnended", {x1024 + "yyyy"}, {tooLong()}, {}},
    {"LongestUnended", {x1024}, {}, Line{x1024}},
};

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
    EXPECT_EQ(splitter.feed("\nDI=1\n"), (std::vector<Line>{{""}, {"DI=1"}})); // afresh after finish
}

INSTANTIATE_TEST_SUITE_P(Ascii, Split, testing::ValuesIn(splitCases),
                         [](const auto &info) { return info.param.name; });

struct ParseCase {
    std::string line;
    Command command;
};

class Parse : public testing::TestWithParam<ParseCase> {};

TEST_P(Parse, Command)
{
    EXPECT_EQ(parseLine(GetParam().line), GetParam().command);
}

INSTANTIATE_TEST_SUITE_P(
    Ascii, Parse,
    testing::Values(ParseCase{"", Empty{}}, ParseCase{"PS=RADIO 1", Set{"ram.ps", "RADIO 1"}},
                    ParseCase{"ps= Radio  ", Set{"ram.ps", " Radio  "}},
                    ParseCase{"RT=Artist - Title", Set{"ram.rt", "Artist - Title"}},
                    ParseCase{"TEXT=Caf\xc3\xa9", Set{"ram.rt", "Caf\xc3\xa9"}},
                    ParseCase{"Rt1=a=b", Set{"ram.rt", "a=b"}}, ParseCase{"PTY=10", Set{"ram.pty", "10"}},
                    ParseCase{"tp=1", Set{"ram.tp", "1"}}, ParseCase{"TA=0", Set{"ram.ta", "0"}},
                    ParseCase{"MS=1", Set{"ram.ms", "1"}}, ParseCase{"DI=9", Set{"ram.di", "9"}},
                    ParseCase{"*PS=STATION", Set{"eeprom.ps", "STATION"}},
                    ParseCase{"*rt=", Set{"eeprom.rt", ""}}, ParseCase{"*TEXT=T", Set{"eeprom.rt", "T"}},
                    ParseCase{"*RT1=T", Set{"eeprom.rt", "T"}}, ParseCase{"*PTY=3", Set{"eeprom.pty", "3"}},
                    ParseCase{"*TP=1", Set{"eeprom.tp", "1"}}, ParseCase{"*TA=1", Set{"eeprom.ta", "1"}},
                    ParseCase{"*MS=0", Set{"eeprom.ms", "0"}}, ParseCase{"*DI=1", Set{"eeprom.di", "1"}},
                    ParseCase{"PI=C201", Set{"eeprom.pi", "C201"}}, ParseCase{"*pi=c201", Set{"eeprom.pi", "c201"}},
                    ParseCase{"AF=89.6,91.4", Set{"af", "89.6,91.4"}}, ParseCase{"AF=", Set{"af", ""}},
                    ParseCase{"eeprom.group2a=4", Set{"eeprom.group2a", "4"}},
                    ParseCase{"EEPROM.AF03=98.1", Set{"eeprom.af03", "98.1"}},
                    ParseCase{"Ram.Ps=X", Set{"ram.ps", "X"}}, ParseCase{"DPS=Now: Song", Scroll{"Now: Song"}},
                    ParseCase{"dps=", Scroll{""}}, ParseCase{"PS?", Query{"ram.ps"}},
                    ParseCase{"text?", Query{"ram.rt"}}, ParseCase{"*PS?", Query{"eeprom.ps"}},
                    ParseCase{"PI?", Query{"eeprom.pi"}}, ParseCase{"AF?", Query{"af"}},
                    ParseCase{"ram.ps?", Query{"ram.ps"}}, ParseCase{"eeprom.stereo?", Query{"eeprom.stereo"}},
                    ParseCase{"??", QueryAll{}}, ParseCase{"STATUS?", Status{}}, ParseCase{"status?", Status{}},
                    ParseCase{"PS", Unknown{}}, ParseCase{"XYZ=1", Unknown{}}, ParseCase{"=1", Unknown{}},
                    ParseCase{"?", Unknown{}}, ParseCase{"???", Unknown{}}, ParseCase{"ram.=1", Unknown{}},
                    ParseCase{"eeprom.?", Unknown{}}, ParseCase{"*ram.ps=X", Unknown{}},
                    ParseCase{"*DPS=X", Unknown{}}, ParseCase{"*STATUS?", Unknown{}},
                    ParseCase{"DPS?", Unknown{}}, ParseCase{"PS?=X", Unknown{}}, ParseCase{" PS=X", Unknown{}},
                    ParseCase{"ramps=X", Unknown{}}, ParseCase{"PS =X", Unknown{}}));

TEST(AsciiReply, EachOutcomeInEachStyle)
{
    EXPECT_EQ(reply(Outcome::Done, Style::Plus), "+\r\n");
    EXPECT_EQ(reply(Outcome::Refused, Style::Plus), "-\r\n");
    EXPECT_EQ(reply(Outcome::Unknown, Style::Plus), "!\r\n");
    EXPECT_EQ(reply(Outcome::Done, Style::Ok), "OK\r\n");
    EXPECT_EQ(reply(Outcome::Refused, Style::Ok), "NO\r\n");
    EXPECT_EQ(reply(Outcome::Unknown, Style::Ok), "NO\r\n");
    EXPECT_EQ(answer("PS", "RADIO 1 "), "PS=RADIO 1 \r\n");
    EXPECT_EQ(answer("eeprom.af00", ""), "eeprom.af00=\r\n");
}

} // namespace
