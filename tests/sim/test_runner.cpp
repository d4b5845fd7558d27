// quorvel-sim end to end: a libusb program run against the simulated board.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Outcome {
    int status; // as a shell gives it
    std::string out;
};

// Runs quorvel-sim with `args`, outside the test's own umockdev environment
// (and, in a sanitizer build, without the ASan options that make it work).
Outcome runSim(const std::string &args)
{
    const std::string command =
        "env -u LD_PRELOAD -u UMOCKDEV_DIR -u ASAN_OPTIONS " QUORVEL_SIM " " + args + " 2>&1";
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
    const Outcome run = runSim("--extra-device --log " + log + " --fail-at 2:5 --short-at 0x3:2 --fail-at 4 -- "
                               SIM_CLIENT " A1 21:5445:5354 E8 A1 A1");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "8 51554F5200000000\n-5\n2 C201\n-32\n8 51554F5200000000\n");
    std::ifstream in(log);
    std::stringstream logged;
    logged << in.rdbuf();
    EXPECT_EQ(logged.str(), "0xA1 value=0x0000 index=0x0000 result=8\n"
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
