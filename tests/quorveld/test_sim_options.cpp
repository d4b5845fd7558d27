// quorvel-sim's unplug, replug and power glitch, seen by sim_client: what its
// requests read back from the board's RAM, and quorvel-sim's checks of them.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <sstream>
#include <string>

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
const SimCase cases[] = {
    {"--power-glitch-at 2", "$C 21:4E45:5753 A1", 0, "8 51554F5200000000\n"},
    {"--power-glitch-at 3", "$C 21:4E45:5753 A1", 0, "8 4E45575300000000\n"},
    {"--unplug-after 300 --replug-after 100", untilEeprom, 0, "back\n"},
    {"--unplug-at 2 --replug-after 100", untilEeprom, 0, "-19\nback\n"},
    {"--unplug-after 0 --replug-after 0x10 --power-glitch-at 3", "true", 0, ""},
    {"--unplug-after -1", "true", 2, ""},
    {"--replug-after 1.5", "true", 2, ""},
    {"--power-glitch-at 0", "true", 2, ""},
    {"--help", "", 0, "--unplug-after MS\n--replug-after MS\n--power-glitch-at N"}, // listed
};

void PrintTo(const SimCase &c, std::ostream *os) { *os << c.options; }

class SimOptions : public testing::TestWithParam<SimCase> {};

TEST_P(SimOptions, DoWhatTheySay)
{
    const SimCase &c = GetParam();
    const std::string script = *c.script ? " -- sh -c '" + std::string(c.script) + "'" : "";
    const std::string command = "env -u LD_PRELOAD -u UMOCKDEV_DIR -u ASAN_OPTIONS C=" SIM_CLIENT
                                " " QUORVEL_SIM " " + (c.options + script) + " 2>/dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe))
        out += buffer;
    const int status = pclose(pipe);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.status) << out;
    const bool help = std::string(c.options) == "--help";
    EXPECT_TRUE(help || out.ends_with(c.out)) << out;
    std::istringstream listed(help ? c.out : "");
    for (std::string option; std::getline(listed, option);)
        EXPECT_NE(out.find("  " + option + " "), std::string::npos) << option;
}

INSTANTIATE_TEST_SUITE_P(Sim, SimOptions, testing::ValuesIn(cases));

} // namespace
