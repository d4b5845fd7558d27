// quorvel-sim's unplug, replug and power glitch, seen by a board worker in a
// program of its own (worker_run) through the log of the board's requests.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace {

using Lines = std::vector<std::string>;

Lines linesOf(const std::string &path)
{
    std::ifstream in(path);
    Lines lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string line(int code, int value = 0, int index = 0, int result = 8)
{
    char text[64];
    std::snprintf(text, sizeof text, "0x%02X value=0x%04X index=0x%04X result=%d", code, value, index, result);
    return text;
}

Lines loadLines()
{
    Lines r{line(0xA1), line(0xA2)};
    for (int k = 0; k < 16; k++)
        r.push_back(line(0xB0 + k));
    for (int code = 0xA3; code <= 0xA7; code++)
        r.push_back(line(code));
    r.push_back(line(0xE1));
    r.push_back(line(0xE2));
    for (int k = 0; k < 16; k++)
        r.push_back(line(0xF0 + k));
    for (int code = 0xE3; code <= 0xE9; code++)
        r.push_back(line(code));
    for (int n = 0; n < 25; n++)
        r.push_back(line(0xEA, n));
    r.push_back(line(0x82));
    r.push_back(line(0x83));
    return r;
}

const std::string newsFirst = line(0x21, 0x4E45, 0x5753), newsSecond = line(0x22, 0x2020, 0x2020);

// worker_run --verify-ms 20 --search-ms 20 ram.ps=NEWS under quorvel-sim with
// `simOptions`, outside the test's own umockdev environment, until the log
// holds what `enough` wants (at most 20 s); then its standard input ends.
struct SimRun {
    explicit SimRun(const std::vector<std::string> &simOptions)
    {
        std::string pattern = testing::TempDir() + "quorveld-sim-XXXXXX";
        dir = mkdtemp(pattern.data()) ? pattern : "";
        std::vector<std::string> args = {"/usr/bin/env", "-u", "LD_PRELOAD", "-u", "UMOCKDEV_DIR", "-u",
                                         "ASAN_OPTIONS", QUORVEL_SIM, "--log", log()};
        args.insert(args.end(), simOptions.begin(), simOptions.end());
        for (const char *arg : {"--", WORKER_RUN, "--verify-ms", "20", "--search-ms", "20", "ram.ps=NEWS"})
            args.push_back(arg);
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        int fds[2];
        EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
        input = fds[1];
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_adddup2(&files, fds[0], 0);
        posix_spawn_file_actions_addopen(&files, 1, (dir + "/out").c_str(), O_WRONLY | O_CREAT, 0644);
        posix_spawn_file_actions_addopen(&files, 2, (dir + "/err").c_str(), O_WRONLY | O_CREAT, 0644);
        EXPECT_EQ(posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&files);
        close(fds[0]);
    }

    ~SimRun()
    {
        finish();
        std::filesystem::remove_all(dir);
    }

    std::string log() const { return dir + "/log"; }

    // What went wrong: the program's messages and the last requests.
    std::string report() const
    {
        std::ifstream err(dir + "/err");
        std::stringstream text;
        text << err.rdbuf();
        const Lines requests = linesOf(log());
        for (size_t i = requests.size() > 10 ? requests.size() - 10 : 0; i < requests.size(); ++i)
            text << requests[i] << "\n";
        return text.str();
    }

    bool waitFor(const std::function<bool(const Lines &)> &enough) const
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!enough(linesOf(log()))) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    // Ends worker_run: its exit status and what it printed.
    std::pair<int, std::string> finish()
    {
        if (input >= 0)
            close(input);
        input = -1;
        int status = -1;
        if (pid > 0)
            waitpid(pid, &status, 0);
        pid = -1;
        std::ifstream out(dir + "/out");
        std::stringstream text;
        text << out.rdbuf();
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text.str()};
    }

    std::string dir;
    int input = -1;
    pid_t pid = -1;
};

class Replug : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(Replug, BoardComesBackPowerCycledAndIsLoadedAndWrittenAgain)
{
    SimRun run(GetParam());
    const auto gone = [](const std::string &l) { return l.ends_with(" result=-19"); };
    const auto unplugged = [&](const Lines &log) { return std::find_if(log.begin(), log.end(), gone); };
    ASSERT_TRUE(run.waitFor([&](const Lines &log) {
        return std::find(unplugged(log), log.end(), newsFirst) != log.end();
    })) << run.report();
    EXPECT_EQ(run.finish(), (std::pair<int, std::string>{0, "present loads=2\n"}));

    // One request fails on the unplugged board; then the board again, with
    // the PS name of its EEPROM, loaded and written.
    const Lines log = linesOf(run.log());
    const auto at = unplugged(log);
    EXPECT_EQ(std::count_if(log.begin(), log.end(), gone), 1);
    Lines expected = loadLines();
    expected.insert(expected.end(), {newsFirst, newsSecond});
    ASSERT_GE(log.end() - at, static_cast<long>(expected.size()) + 1);
    EXPECT_EQ(Lines(at + 1, at + 1 + expected.size()), expected);
}

INSTANTIATE_TEST_SUITE_P(Sim, Replug,
                         testing::Values(std::vector<std::string>{"--unplug-at", "78", "--replug-after", "100"},
                                         std::vector<std::string>{"--unplug-after", "500", "--replug-after", "100"}));

TEST(PowerGlitch, RamTakesTheEepromValuesAndTheVerificationWritesAgain)
{
    // The load and the writes; the verification's first read, just after the
    // glitch, finds the EEPROM's PS name: each block is written again as
    // soon as it is read back different.
    const Lines load = loadLines();
    Lines expected = load;
    expected.insert(expected.end(), {newsFirst, newsSecond, line(0xA1), newsFirst, line(0xA2), newsSecond});
    expected.insert(expected.end(), load.begin() + 2, load.begin() + 23);

    SimRun run({"--power-glitch-at", "78"});
    ASSERT_TRUE(run.waitFor([&](const Lines &log) { return log.size() >= expected.size(); })) << run.report();
    EXPECT_EQ(run.finish(), (std::pair<int, std::string>{0, "present loads=1\n"}));
    const Lines log = linesOf(run.log());
    EXPECT_EQ(Lines(log.begin(), log.begin() + expected.size()), expected);
}

// quorvel-sim's exit status and standard output.
std::pair<int, std::string> runSim(const std::string &args)
{
    FILE *pipe = popen(("env -u LD_PRELOAD -u UMOCKDEV_DIR " QUORVEL_SIM " " + args + " 2>/dev/null").c_str(), "r");
    std::string out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe))
        out += buffer;
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

TEST(SimOptions, TimesAndGlitchesAreCheckedAndListed)
{
    for (const char *bad : {"--unplug-after x -- true", "--unplug-after -1 -- true", "--replug-after 1.5 -- true",
                            "--power-glitch-at 0 -- true", "--replug-after"})
        EXPECT_EQ(runSim(bad).first, 2) << bad;
    EXPECT_EQ(runSim("--unplug-after 0 --replug-after 0x10 --power-glitch-at 3 -- true").first, 0);
    const std::string help = runSim("--help").second;
    for (const char *option : {"--power-glitch-at N", "--unplug-after MS", "--replug-after MS"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
}

} // namespace
