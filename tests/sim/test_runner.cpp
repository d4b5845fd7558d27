// quorvel-sim end to end: a libusb program run against the simulated board,
// what its requests read back, and quorvel-sim's options.
#include "TestDir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>

namespace {

struct Outcome {
    int status; // as a shell gives it
    std::string out;
};

// Runs quorvel-sim with `args` (its standard error too, unless they redirect
// it), sim_client's path in $C, outside the test's own umockdev environment
// (and, in a sanitizer build, without the ASan options that make it work).
Outcome runSim(const std::string &args)
{
    const std::string command = "env -u LD_PRELOAD -u UMOCKDEV_DIR -u ASAN_OPTIONS C=" SIM_CLIENT
                                " " QUORVEL_SIM " 2>&1 " +
                                args;
    FILE *pipe = popen(command.c_str(), "r");
    Outcome run{-1, ""};
    char buf[256];
    while (std::fgets(buf, sizeof buf, pipe))
        run.out += buf;
    const int status = pclose(pipe);
    run.status = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    return run;
}

} // namespace

// Each request logged with its result; --fail-at and --short-at by request number.
TEST(Runner, ServesTheBoardToTheCommandAndLogsEachRequest)
{
    const std::string log = testing::TempDir() + "quorvel-sim-test.log";
    const Outcome run = runSim("--extra-device --log " + log +
                               " --fail-at 2:5 --short-at 0x3:2 --fail-at 4 -- " SIM_CLIENT
                               " A1 21:5445:5354 E8 A1 A1");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "8 51554F5200000000\n-5\n2 C201\n-32\n8 51554F5200000000\n");
    EXPECT_EQ(readFile(log), "0xA1 value=0x0000 index=0x0000 result=8\n"
                             "0x21 value=0x5445 index=0x5354 result=-5\n"
                             "0xE8 value=0x0000 index=0x0000 result=2\n"
                             "0xA1 value=0x0000 index=0x0000 result=-32\n"
                             "0xA1 value=0x0000 index=0x0000 result=8\n");
    std::remove(log.c_str());
}

// The command's status, its own umockdev environment removed after it; bad options.
TEST(Runner, GivesTheCommandsExitStatusAndLeavesNoTestbedBehind)
{
    const Outcome run = runSim("-- sh -c 'echo $UMOCKDEV_DIR; echo $LD_PRELOAD; exit 3'");
    EXPECT_EQ(run.status, 3);
    const std::string root = run.out.substr(0, run.out.find('\n'));
    ASSERT_FALSE(root.empty());
    EXPECT_NE(access(root.c_str(), F_OK), 0) << root << " is still there";
    EXPECT_NE(run.out.find("libumockdev-preload.so.0"), std::string::npos) << run.out;
    EXPECT_EQ(runSim("--no-board -- " SIM_CLIENT).out, "no board\n");
    EXPECT_EQ(runSim("-- sh -c 'kill -KILL $$'").status, 128 + SIGKILL);
    for (const char *bad : {"--fail-at x -- true", "--log", "--short-at 3 -- true"})
        EXPECT_EQ(runSim(bad).status, 2) << bad;
    EXPECT_EQ(runSim("-- /nonexistent/command").status, 127);
}

namespace {

struct SimCase {
    const char *options;
    const char *script; // the shell's, with $C for sim_client
    int status;
    const char *out; // the end of standard output
};

// PS written "NEWS", read back, then read until it is the EEPROM's "QUOR"
// again: after a glitch, or after an unplug and a replug power-cycled.
const char *const untilEeprom = "$C 21:4E45:5753 A1; n=0; until $C A1 | grep -q ^8.5155; do "
                                "n=$((n+1)); [ $n -lt 3000 ] || exit 9; done; echo back";
// clang-format off
const SimCase cases[] = {
    {"--power-glitch-at 2", "$C 21:4E45:5753 A1", 0, "8 51554F5200000000\n"},
    {"--power-glitch-at 3", "$C 21:4E45:5753 A1", 0, "8 4E45575300000000\n"},
    {"--unplug-after 300 --replug-after 100", untilEeprom, 0, "back\n"},
    {"--unplug-at 2 --replug-after 100", untilEeprom, 0, "-19\nback\n"},
    {"--unplug-after 0 --replug-after 0x10 --power-glitch-at 3", "true", 0, ""},
    // Commands through the control pipe, as often as written.
    {"--control ctl-glitch", "$C 21:4E45:5753; echo glitch > ctl-glitch; n=0; until $C A1 | grep -q "
                             "^8.5155; do n=$((n+1)); [ $n -lt 3000 ] || exit 9; done; echo back", 0, "back\n"},
    {"--control ctl-plug", "for i in 1 2; do echo unplug > ctl-plug; n=0; until $C A1 | grep -q ^no; do "
                           "n=$((n+1)); [ $n -lt 3000 ] || exit 9; done; echo replug > ctl-plug; n=0; until "
                           "$C A1 | grep -q ^8; do n=$((n+1)); [ $n -lt 3000 ] || exit 9; done; done; echo back",
     0, "back\n"},
    {"--unplug-after -1", "true", 2, ""},
    {"--replug-after 1.5", "true", 2, ""},
    {"--power-glitch-at 0", "true", 2, ""},
    {"--help", "", 0, "--unplug-after MS\n--replug-after MS\n--power-glitch-at N\n--control FIFO"}, // listed
};
// clang-format on

void PrintTo(const SimCase &c, std::ostream *os) { *os << c.options; }

class SimOptions : public testing::TestWithParam<SimCase> {};

TEST_P(SimOptions, DoWhatTheySay)
{
    const SimCase &c = GetParam();
    const std::string script = *c.script ? " -- sh -c '" + std::string(c.script) + "'" : "";
    const Outcome run = runSim(c.options + script + " 2>/dev/null");
    EXPECT_EQ(run.status, c.status) << run.out;
    const bool help = std::string(c.options) == "--help";
    EXPECT_TRUE(help || run.out.ends_with(c.out)) << run.out;
    std::istringstream listed(help ? c.out : "");
    for (std::string option; std::getline(listed, option);)
        EXPECT_NE(run.out.find("  " + option + " "), std::string::npos) << option;
}

INSTANTIATE_TEST_SUITE_P(Sim, SimOptions, testing::ValuesIn(cases));

} // namespace
