// quorvel-ctl's commands against the simulated board: what the user sees and
// exactly what the board receives.
#include "CtlRun.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <regex>

using testing::HasSubstr;
using testing::Not;

namespace {

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

TEST(CtlProbe, ListsEveryDeviceWithTheBoardsIdsAndTellsWhichIsTheBoard)
{
    const CtlRun run = runCtl({"probe"}, {"--extra-device"});
    EXPECT_EQ(run.status, 0);
    // The simulation numbers its devices as it can.
    EXPECT_EQ(std::regex_replace(run.out, std::regex("^001/[0-9]{3}  ", std::regex::multiline), "001/NNN  "),
              "001/NNN  16c0:05df  manufacturer \"Other Maker\"  product \"Gadget\"  "
              "not a Quorvel board\n"
              "001/NNN  16c0:05df  manufacturer \"quorvel.example\"  product \"Quorvel 1.2\"  "
              "Quorvel board\n");
    EXPECT_TRUE(run.requests.empty());
}

TEST(CtlProbe, TellsANotFoundBoardAndUnreadableStringsApartWithAHint)
{
    const CtlRun none = runCtl({"probe"}, {"--no-board"});
    EXPECT_EQ(none.status, 3);
    EXPECT_EQ(none.out, "");
    EXPECT_THAT(none.err, HasSubstr("hint: is the board plugged in?"));

    const CtlRun other = runCtl({"probe"}, {"--no-board", "--extra-device"});
    EXPECT_EQ(other.status, 3);
    EXPECT_THAT(other.out, HasSubstr("not a Quorvel board"));

    // libusb 0.1 opens a node it may not write; the string requests then fail.
    const CtlRun denied = runCtl({"probe"}, {"--string-error", "13"});
    EXPECT_EQ(denied.status, 4);
    EXPECT_THAT(denied.out, HasSubstr("manufacturer unreadable ("));
    EXPECT_THAT(denied.out, HasSubstr("strings unreadable"));
    EXPECT_THAT(denied.err, HasSubstr("udev rule"));
}

TEST(CtlOpen, TheOtherCommandsGiveTheSameStatusesWithoutABoard)
{
    EXPECT_EQ(runCtl({"show"}, {"--no-board"}).status, 3);
    const CtlRun denied = runCtl({"get", "ram.ps"}, {"--string-error", "13"});
    EXPECT_EQ(denied.status, 4);
    EXPECT_THAT(denied.err, HasSubstr("udev rule"));
    EXPECT_TRUE(denied.requests.empty());
}

TEST(CtlDevice, PicksTheBoardByBusAndDevice)
{
    // Each device at the place probe gives for it.
    const CtlRun run = runScript(R"sh(
        probe=$("$CTL" probe)
        board=$(echo "$probe" | sed -n 's/  .*  Quorvel board$//p')
        other=$(echo "$probe" | sed -n 's/  .*  not a Quorvel board$//p')
        "$CTL" --device "$board" get ram.pty; echo "board $?"
        "$CTL" --device "$(echo "$board" | sed 's|^0*||; s|/0*|/|')" get ram.ps; echo "board, short $?"
        "$CTL" --device "$other" get ram.pty; echo "other $?"
        "$CTL" --device 001/999 get ram.pty; echo "none $?"
        "$CTL" get ram.tp; echo "first board $?"
        "$CTL" --device 3 get ram.pty 2>&1; echo "bad $?"
    )sh",
                                 {"--extra-device"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "10\nboard 0\nQUORVEL \nboard, short 0\nother 3\nnone 3\n1\nfirst board 0\n"
                       "quorvel-ctl: --device takes BUS/DEV, as probe shows it (for example 001/007), "
                       "not \"3\"\nTry 'quorvel-ctl --help'.\nbad 2\n");
    EXPECT_EQ(run.requests,
              (std::vector<std::string>{request(0xA3), request(0xA1), request(0xA2), request(0xA4)}));
}

TEST(CtlShow, ShowsEveryFieldAsTheDialogWouldReadingEachOnceInTableOrder)
{
    const CtlRun run = runCtl({"show"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.requests, readAllRequests());
    EXPECT_THAT(run.out, testing::StartsWith("ram.ps          \"QUORVEL \"\n"
                                             "ram.rt          \"Quorvel RDS encoder - simulated board\"\n"
                                             "ram.pty         10\n"));
    EXPECT_THAT(run.out, HasSubstr("\neeprom.pi       0xC201\n"));
    EXPECT_THAT(run.out, HasSubstr("\neeprom.af00     87.6\n"));
    EXPECT_THAT(run.out, HasSubstr("\neeprom.af04     107.9\n"));
    EXPECT_THAT(run.out, testing::EndsWith("\neeprom.group2a  4\neeprom.stereo   1\n"));
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 43);
}

TEST(CtlShow, JsonIsOneObjectOfAllFieldsUnderTheirNames)
{
    const CtlRun run = runCtl({"show", "--json"});
    EXPECT_EQ(run.status, 0) << run.err;
    const nlohmann::ordered_json fields = nlohmann::ordered_json::parse(run.out);
    ASSERT_EQ(fields.size(), 43u);
    EXPECT_EQ(fields.begin().key(), "ram.ps");
    EXPECT_EQ((--fields.end()).key(), "eeprom.stereo");
    EXPECT_EQ(fields["ram.ps"], "QUORVEL ");
    EXPECT_EQ(fields["ram.pty"], 10);
    EXPECT_EQ(fields["eeprom.pi"], "0xC201");
    EXPECT_EQ(fields["eeprom.af01"], 98.5);
    EXPECT_EQ(fields["eeprom.af24"], 87.5);
}

TEST(CtlShow, AFailedReadIsAnErrorNamingTheFieldNeverAValue)
{
    const std::vector<CtlRun> runs = runSession({{"show"}, {"show", "--json"}, {"get", "ram.ps", "eeprom.pi"}},
                                            {"--fail-code", "0xE8"});
    const CtlRun &text = runs[0];
    EXPECT_EQ(text.status, 1);
    EXPECT_THAT(text.err, HasSubstr("eeprom.pi: read failed"));
    EXPECT_THAT(text.out, Not(HasSubstr("eeprom.pi ")));
    EXPECT_THAT(text.out, HasSubstr("eeprom.naf      5\n")); // the other fields are still read
    EXPECT_EQ(text.requests.size(), 75u);

    EXPECT_EQ(runs[1].status, 1);
    EXPECT_THAT(runs[1].out, Not(HasSubstr("{")));
    EXPECT_THAT(runs[1].err, HasSubstr("eeprom.pi: read failed"));

    EXPECT_EQ(runs[2].status, 1);
    EXPECT_THAT(runs[2].out, Not(HasSubstr("QUORVEL")));
}

TEST(CtlGet, PrintsTheValuesInTheOrderAskedReadingOnlyThoseFields)
{
    const CtlRun run = runCtl({"get", "eeprom.pi", "ram.ps", "eeprom.af03"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "0xC201\nQUORVEL \n104.3\n");
    EXPECT_EQ(run.requests, (std::vector<std::string>{request(0xE8), request(0xA1), request(0xA2),
                                                      request(0xEA, 3)}));
    EXPECT_EQ(runCtl({"get", "ram.nothing"}).status, 2);
}

TEST(CtlSet, WritesTheFieldsInTableOrderAndReportsEach)
{
    const CtlRun run = runCtl({"set", "eeprom.af07=98.5", "ram.pty=5", "eeprom.pi=c0de", "ram.ps=TEST"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.requests, (textWrite(0x21, "TEST") + std::vector<std::string>{
                                request(0x23, 5), request(0x68, 0xC0DE), request(0x6A, 110, 7)}));
    EXPECT_EQ(run.out, "wrote ram.ps \"TEST\"\nwrote ram.pty 5\nwrote eeprom.pi 0xC0DE\n"
                       "wrote eeprom.af07 98.5\n");
}

TEST(CtlSet, AValueOutOfRangeSendsNothingAtAllAndNamesTheFieldAndRange)
{
    const std::string rt65(65, 'x');
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"ram.pty=32", "ram.pty (RAM PTY): 32 is outside 0-31"},
        {"eeprom.pty=-1", "eeprom.pty (EEPROM PTY): -1 is outside 0-31"},
        {"ram.tp=2", "ram.tp (RAM TP): 2 is outside 0-1"},
        {"eeprom.ta=2", "outside 0-1"},
        {"ram.ms=2", "outside 0-1"},
        {"ram.di=16", "ram.di (RAM DI): 16 is outside 0-15"},
        {"eeprom.naf=26", "eeprom.naf (Used AF): 26 is outside 0-25"},
        {"eeprom.af00=108.0", "eeprom.af00 (AF00): 108.0 MHz is outside 87.6-107.9 MHz"},
        {"eeprom.af00=87.5", "outside 87.6-107.9 MHz"},
        {"eeprom.af00=98.55", "98.55 MHz is not in 0.1 MHz steps"},
        {"eeprom.pi=12345", "\"12345\" is not four hexadecimal digits"},
        {"eeprom.pi=PIZZA", "is not a hexadecimal number"},
        {"ram.ps=ABCDEFGHI", "a PS name of 9 characters, at most 8"},
        {"ram.rt=" + rt65, "a RadioText of 65 characters, at most 64"},
        {"ram.pty=5x", "\"5x\" is not a whole number"},
    };
    std::vector<Args> commands;
    for (const auto &c : cases)
        commands.push_back({"set", "ram.ta=1", c.first});
    const std::vector<CtlRun> runs = runSession(commands);
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(runs[i].status, 5) << cases[i].first;
        EXPECT_TRUE(runs[i].requests.empty()) << cases[i].first;
        EXPECT_THAT(runs[i].err, HasSubstr(cases[i].second));
        EXPECT_EQ(runs[i].out, "");
    }
}

TEST(CtlSet, ForceSendsAValueOutOfRangeAsTheDialogWould)
{
    const CtlRun run = runCtl({"set", "--force", "ram.pty=32", "ram.ps=ABCDEFGHIJ", "eeprom.pi=123"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.requests, (textWrite(0x21, "ABCDEFGH") +
                             std::vector<std::string>{request(0x23, 32), request(0x68, 0x0123)}));
    // An AF outside the band has no code: not even --force sends it.
    EXPECT_EQ(runCtl({"set", "--force", "eeprom.af00=108.0"}).status, 5);
}

TEST(CtlSet, WarnsOfAPiCodeWithCountryCodeZero)
{
    const CtlRun run = runCtl({"set", "eeprom.pi=0x0123"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.requests, std::vector<std::string>{request(0x68, 0x0123)});
    EXPECT_THAT(run.err, HasSubstr("warning: eeprom.pi (PI Code): 0x0123 has country code 0"));
}

TEST(CtlSet, AFailedRequestIsAnErrorAndTheRestIsNotSent)
{
    const CtlRun run = runCtl({"set", "ram.tp=1", "ram.pty=3", "ram.ps=AB"}, {"--fail-code", "0x23"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.requests, (textWrite(0x21, "AB") + std::vector<std::string>{request(0x23, 3, 0, -32)}));
    EXPECT_EQ(run.out, "wrote ram.ps \"AB\"\nError RdsUsbWritePTY 35 sendUSBVendorCmd -32\n");
    EXPECT_THAT(run.err, HasSubstr("ram.pty: write failed; not written: ram.tp"));
}

TEST(CtlSet, RefusesWhatIsNotNameEqualsValue)
{
    EXPECT_EQ(runCtl({"set", "ram.ps"}).status, 2);
    EXPECT_EQ(runCtl({"set", "ram.ps=A", "ram.ps=B"}).status, 2);
    const CtlRun unknown = runCtl({"set", "ram.colour=red"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_THAT(unknown.err, HasSubstr("unknown field \"ram.colour\""));
}

TEST(CtlCharset, Cp1252SendsTheDialogsBytesAndRdsTheReceiversTable)
{
    const std::vector<CtlRun> runs = runSession({
        {"set", "ram.ps=Café"},
        {"set", "--charset", "rds", "ram.ps=Café"},
        {"get", "--charset", "rds", "ram.ps"},
        {"get", "ram.ps"}, // 0x82 in Windows-1252
        {"set", "--charset", "rds", "eeprom.ps=5$ 5€"},
        {"set", "ram.ps=Győr"},
        {"set", "--charset", "rds", "ram.ps=Győr"},
        {"set", "--charset", "rds", "ram.ps=Ωmega"},
    });
    EXPECT_EQ(runs[0].requests, textWrite(0x21, "Caf\xE9"));
    EXPECT_EQ(runs[1].requests, textWrite(0x21, "Caf\x82"));
    EXPECT_EQ(runs[2].out, "Café\n");
    EXPECT_EQ(runs[3].out, "Caf‚\n");
    EXPECT_EQ(runs[4].requests, textWrite(0x61, "5\xAB 5\xA9"));

    EXPECT_EQ(runs[5].status, 5);
    EXPECT_TRUE(runs[5].requests.empty());
    EXPECT_THAT(runs[5].err, HasSubstr("\"ő\" (U+0151) is not in Windows-1252"));
    EXPECT_EQ(runs[6].requests, textWrite(0x21, "Gy\xA7r"));
    EXPECT_EQ(runs[7].status, 5);
    EXPECT_THAT(runs[7].err, HasSubstr("\"Ω\" (U+03A9) is not in the RDS character table"));
}

TEST(CtlReset, SendsTheResetOnlyWhenConfirmed)
{
    const std::vector<CtlRun> runs = runSession({{"reset", "--yes"}, {"reset"}});
    EXPECT_EQ(runs[0].status, 0);
    EXPECT_EQ(runs[0].requests, std::vector<std::string>{request(0x04)});
    EXPECT_EQ(runs[0].out, "EEPROM data reset to the board's defaults\n");
    // Standard input is not a terminal: no prompt, no reset.
    EXPECT_EQ(runs[1].status, 7);
    EXPECT_TRUE(runs[1].requests.empty());
    EXPECT_THAT(runs[1].err, HasSubstr("--yes"));
}

TEST(CtlRt, WritesTheRadioTextOnce)
{
    const std::vector<CtlRun> runs = runSession({
        {"rt", "HELLO"},
        {"rt", "--eeprom", "Now: Artist - Title"},
        {"rt", std::string(65, 'x')},
    });
    EXPECT_EQ(runs[0].status, 0);
    EXPECT_EQ(runs[0].requests, textWrite(0x30, "HELLO"));
    EXPECT_EQ(runs[0].requests[1], request(0x31, 0x4F0D, 0x0D0D));
    EXPECT_EQ(runs[0].out, "wrote ram.rt \"HELLO\"\n");
    EXPECT_EQ(runs[1].requests, textWrite(0x70, "Now: Artist - Title"));
    EXPECT_EQ(runs[2].status, 5);
    EXPECT_TRUE(runs[2].requests.empty());
}

TEST(CtlUsage, MistakesOnTheCommandLineSendNothing)
{
    for (const Args &args : std::vector<Args>{{}, {"frobnicate"}, {"set", "--json", "ram.ps=A"},
                                              {"rt"}, {"rt", "--follow", "f", "text"},
                                              {"show", "--charset", "ebcdic"}, {"reset", "now"}}) {
        const CtlRun run = runCtl(args);
        EXPECT_EQ(run.status, 2) << testing::PrintToString(args);
        EXPECT_TRUE(run.requests.empty());
        EXPECT_THAT(run.err, HasSubstr("--help"));
    }
    const CtlRun help = runCtl({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("Exit status:"));
}
