// quorvel-ctl's commands against the simulated board: what the user sees and
// exactly what the board receives.
#include "CtlRun.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <regex>

using testing::HasSubstr;

namespace {

// A command, its exit status, the requests it sends, its standard output,
// and a part of its standard error (none when empty).
struct Step {
    Args args;
    int status;
    Requests requests;
    std::string out;
    std::string err = "";
};

// Runs the steps in one session; their runs for further checks.
std::vector<CtlRun> expectSteps(const std::vector<Step> &steps, const Args &sim = {})
{
    std::vector<Args> commands;
    for (const Step &s : steps)
        commands.push_back(s.args);
    const std::vector<CtlRun> runs = runSession(commands, sim);
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(testing::PrintToString(steps[i].args));
        EXPECT_EQ(runs[i].status, steps[i].status);
        EXPECT_EQ(runs[i].requests, steps[i].requests);
        EXPECT_EQ(runs[i].out, steps[i].out);
        if (steps[i].err.empty())
            EXPECT_EQ(runs[i].err, "");
        else
            EXPECT_THAT(runs[i].err, HasSubstr(steps[i].err));
    }
    return runs;
}

const std::string Ps8 = "ABCDEFGH", Rt65(65, 'x');

} // namespace

// probe lists every device with the board's ids; without a board, or with
// strings it cannot read, every command ends with its own status and a hint.
TEST(CtlProbe, ListsTheDevicesAndTellsANotFoundBoardFromAnUnreadableOne)
{
    const CtlRun two = runSession({{"probe"}}, {"--extra-device"})[0];
    EXPECT_EQ(two.status, 0);
    EXPECT_EQ(std::regex_replace(two.out, std::regex("^001/[0-9]{3}  ", std::regex::multiline),
                                 "001/NNN  "),
              "001/NNN  16c0:05df  manufacturer \"Other Maker\"  product \"Gadget\"  not a Quorvel "
              "board\n"
              "001/NNN  16c0:05df  manufacturer \"quorvel.example\"  product \"Quorvel 1.2\"  "
              "Quorvel board\n");
    EXPECT_TRUE(two.requests.empty());
    const std::string hint = "hint: is the board plugged in?";
    expectSteps({{{"probe"}, 3, {}, "", hint}, {{"show"}, 3, {}, "", hint}}, {"--no-board"});
    EXPECT_THAT(runSession({{"probe"}}, {"--no-board", "--extra-device"})[0].out,
                HasSubstr("not a Quorvel board"));
    // libusb 0.1 opens a node it may not write; the string requests then fail.
    expectSteps({{{"get", "ram.ps"}, 4, {}, "", "udev rule"}}, {"--string-error", "13"});
    const CtlRun probe = runSession({{"probe"}}, {"--string-error", "13"})[0];
    EXPECT_EQ(probe.status, 4);
    EXPECT_THAT(probe.out, HasSubstr("manufacturer unreadable ("));
    EXPECT_THAT(probe.out, HasSubstr("strings unreadable"));
    EXPECT_THAT(probe.err, HasSubstr("udev rule"));
}

// --device picks each device at the place probe gives for it.
TEST(CtlDevice, PicksTheBoardByBusAndDevice)
{
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
    EXPECT_EQ(run.out,
              "10\nboard 0\nQUORVEL \nboard, short 0\nother 3\nnone 3\n1\nfirst board 0\n"
              "quorvel-ctl: --device takes BUS/DEV, as probe shows it (for example 001/007), "
              "not \"3\"\nTry 'quorvel-ctl --help'.\nbad 2\n");
    EXPECT_EQ(run.requests, (Requests{ok(0xA3), ok(0xA1), ok(0xA2), ok(0xA4)}));
}

// show reads every field once in table order, as text or as one JSON object;
// get reads only the fields asked for, in the order asked.
TEST(CtlShow, ShowsEveryFieldOrTheOnesAskedFor)
{
    // clang-format off
    expectSteps({
        {{"get", "eeprom.pi", "ram.ps", "eeprom.af03"}, 0,
         {ok(0xE8), ok(0xA1), ok(0xA2), ok(0xEA, 3)}, "0xC201\nQUORVEL \n104.3\n"},
        {{"get", "ram.p"}, 2, {}, "", "unknown field \"ram.p\""}, // no prefix of a name
    });
    // clang-format on
    const std::vector<CtlRun> show = runSession({{"show"}, {"show", "--json"}});
    EXPECT_EQ(show[0].requests, fullLoad());
    EXPECT_THAT(show[0].out,
                testing::StartsWith("ram.ps          \"QUORVEL \"\n"
                                    "ram.rt          \"Quorvel RDS encoder - simulated board\"\n"
                                    "ram.pty         10\n"));
    EXPECT_THAT(show[0].out, HasSubstr("\neeprom.pi       0xC201\n"));
    EXPECT_THAT(show[0].out, HasSubstr("\neeprom.af00     87.6\n"));
    EXPECT_THAT(show[0].out, testing::EndsWith(
                                 "\neeprom.af24     87.5\neeprom.group2a  4\neeprom.stereo   1\n"));
    EXPECT_EQ(std::count(show[0].out.begin(), show[0].out.end(), '\n'), 43);
    EXPECT_EQ(show[1].requests, fullLoad());
    const nlohmann::ordered_json fields = nlohmann::ordered_json::parse(show[1].out);
    ASSERT_EQ(fields.size(), 43u);
    EXPECT_EQ(fields.begin().key(), "ram.ps");
    EXPECT_EQ((--fields.end()).key(), "eeprom.stereo");
    EXPECT_EQ(fields["ram.ps"], "QUORVEL ");
    EXPECT_EQ(fields["ram.pty"], 10);
    EXPECT_EQ(fields["eeprom.pi"], "0xC201");
    EXPECT_EQ(fields["eeprom.af01"], 98.5);
}

// A failed read is an error naming the field, never a value: show goes on
// with the other fields, --json, get and export give nothing. A failed write
// is an error too, and the fields after it are not sent; so is a failed reset.
TEST(CtlFailures, AFailedRequestEndsWithStatus1)
{
    TestDir dir;
    const std::string old = dir.path("old.json");
    writeFile(old, "old backup\n");
    Requests failedRead = fullLoad();
    failedRead[46] = failed(ok(0xE8));
    const std::string readFailed = "eeprom.pi: read failed",
                      piError = "Error RdsUsbReadPIE2p sendUSBVendorCmd -32\n";
    // clang-format off
    expectSteps({
        {{"show", "--json"}, 1, failedRead, piError, readFailed},
        {{"get", "ram.ps", "eeprom.pi"}, 1, {ok(0xA1), ok(0xA2), failed(ok(0xE8))},
         piError, readFailed},
        {{"export", old}, 1, failedRead, piError, "nothing exported"},
        {{"set", "ram.tp=1", "ram.pty=3", "ram.ps=AB"}, 1,
         textWrite(0x21, "AB") + Requests{failed(ok(0x23, 3))},
         "wrote ram.ps \"AB\"\nError RdsUsbWritePTY 35 sendUSBVendorCmd -32\n",
         "ram.pty: write failed; not written: ram.tp"},
        {{"rt", "Song"}, 0, textWrite(0x30, "Song"), "wrote ram.rt \"Song\"\n"},
        {{"reset", "--yes"}, 1, {failed(ok(0x04))}, "Error RdsUsbResetE2p sendUSBVendorCmd -32\n",
         "reset failed"},
    }, {"--fail-code", "0xE8", "--fail-code", "0x23", "--fail-code", "0x04"});
    EXPECT_EQ(readFile(old), "old backup\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path("")), {}), 1);
    const CtlRun show = runSession({{"show"}}, {"--fail-code", "0xE8"})[0];
    EXPECT_EQ(show.status, 1);
    EXPECT_EQ(show.requests, failedRead);
    EXPECT_THAT(show.err, HasSubstr(readFailed));
    EXPECT_THAT(show.out, testing::Not(HasSubstr("eeprom.pi ")));
    EXPECT_THAT(show.out, HasSubstr("eeprom.naf      5\n")); // the other fields are still read
}

// set, rt and reset: values checked before anything is sent, written in table
// order; the charset chooses the bytes; --force sends what the dialog would.
TEST(CtlWrite, SendsExactlyTheCheckedValues)
{
    const std::string utf8Ps = "Café";
    expectSteps({
        {{"set", "eeprom.af07=98.5", "ram.pty=5", "eeprom.pi=c0de", "ram.ps=TEST"}, 0,
         textWrite(0x21, "TEST") + Requests{ok(0x23, 5), ok(0x68, 0xC0DE), ok(0x6A, 110, 7)},
         "wrote ram.ps \"TEST\"\nwrote ram.pty 5\nwrote eeprom.pi 0xC0DE\nwrote eeprom.af07 98.5\n"},
        {{"set", "ram.ta=1", "ram.pty=32"}, 5, {}, "", "ram.pty (RAM PTY): 32 is outside 0-31"},
        {{"set", "--force", "ram.pty=32", "ram.ps=ABCDEFGHIJ", "eeprom.pi=123"}, 0,
         textWrite(0x21, Ps8) + Requests{ok(0x23, 32), ok(0x68, 0x0123)},
         "wrote ram.ps \"ABCDEFGH\"\nwrote ram.pty 32\nwrote eeprom.pi 0x0123\n",
         "warning: eeprom.pi (PI Code): 0x0123 has country code 0"},
        {{"set", "--force", "eeprom.af00=108.0"}, 5, {}, "", "108.0 MHz is outside"}, // no code for it
        {{"set", "ram.ps"}, 2, {}, "", "--help"},
        {{"set", "ram.ps=A", "ram.ps=B"}, 2, {}, "", "ram.ps given twice"},
        {{"set", "ram.colour=red"}, 2, {}, "", "unknown field \"ram.colour\""},
        {{"set", "ram.ps=" + utf8Ps}, 0, textWrite(0x21, "Caf\xE9"), "wrote ram.ps \"Café\"\n"},
        {{"set", "--charset", "rds", "ram.ps=Café"}, 0, textWrite(0x21, "Caf\x82"), "wrote ram.ps \"Café\"\n"},
        {{"get", "--charset", "rds", "ram.ps"}, 0, {ok(0xA1), ok(0xA2)}, "Café\n"},
        {{"get", "ram.ps"}, 0, {ok(0xA1), ok(0xA2)}, "Caf‚\n"}, // 0x82 in Windows-1252
        {{"set", "--charset", "rds", "eeprom.ps=5$ 5€"}, 0, textWrite(0x61, "5\xAB 5\xA9"),
         "wrote eeprom.ps \"5$ 5€\"\n"},
        {{"set", "--charset", "rds", "ram.ps=Győr"}, 0, textWrite(0x21, "Gy\xA7r"), "wrote ram.ps \"Győr\"\n"},
        {{"set", "--charset", "rds", "ram.ps=Ωmega"}, 5, {}, "", "\"Ω\" (U+03A9) is not in the RDS character table"},
        {{"rt", "tab\there"}, 5, {}, "", "control character U+0009 is not allowed"},
        {{"set", "ram.ps=ÿ"}, 0, textWrite(0x21, "\xFF"), "wrote ram.ps \"ÿ\"\n"},
        {{"get", "--charset", "rds", "ram.ps"}, 5, {ok(0xA1), ok(0xA2)}, "",
         "byte 0xFF has no character in the RDS character table"},
        {{"set", "ram.ps=\xC3"}, 5, {}, "", "invalid UTF-8"},
        {{"rt", "HELLO"}, 0, textWrite(0x30, "HELLO"), "wrote ram.rt \"HELLO\"\n"},
        {{"rt", "--follow", "/dev/null"}, 6, {}, "", "/dev/null: not a regular file"},
        {{"rt", "--eeprom", "Now: Artist - Title"}, 0, textWrite(0x70, "Now: Artist - Title"),
         "wrote eeprom.rt \"Now: Artist - Title\"\n"},
        {{"rt", Rt65}, 5, {}, "", "at most 64"},
        {{"reset", "--yes"}, 0, {ok(0x04)}, "EEPROM data reset to the board's defaults\n"},
        {{"reset"}, 7, {}, "", "--yes"}, // standard input is not a terminal: no prompt, no reset
        {{}, 2, {}, "", "Try 'quorvel-ctl --help'"},
        {{"frobnicate"}, 2, {}, "", "--help"},
    });
    // clang-format on
    const CtlRun help = runSession({{"--help"}})[0];
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("Exit status:"));
}
