#include "CtlRun.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <thread>

extern char **environ;

namespace {

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

std::string shellQuoted(const std::string &arg)
{
    std::string quoted = "'";
    for (char c : arg)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Starts quorvel-sim --log LOG simOptions -- command, its output to the files
// OUT and ERR.
pid_t startSim(const Args &simOptions, const Args &command, const std::string &log,
               const std::string &out, const std::string &err)
{
    Args args = {QUORVEL_SIM, "--log", log};
    args.insert(args.end(), simOptions.begin(), simOptions.end());
    args.push_back("--");
    args.insert(args.end(), command.begin(), command.end());
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    EXPECT_EQ(error, 0) << "cannot start " << QUORVEL_SIM;
    return error == 0 ? pid : -1;
}

int waitStatus(pid_t pid)
{
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

} // namespace

TestDir::TestDir()
{
    std::string pattern = testing::TempDir() + "quorvel-ctl-XXXXXX";
    dir_ = mkdtemp(pattern.data()) ? pattern : "";
    EXPECT_FALSE(dir_.empty()) << "cannot make a test directory";
}

TestDir::~TestDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::vector<CtlRun> runSession(const std::vector<Args> &commands, const Args &simOptions)
{
    TestDir dir;
    // Each command's output, status and the log as it stood after it.
    std::string script;
    for (size_t i = 0; i < commands.size(); ++i) {
        const std::string n = std::to_string(i);
        script += shellQuoted(QUORVEL_CTL);
        for (const std::string &arg : commands[i])
            script += " " + shellQuoted(arg);
        script += " </dev/null >" + dir.path("out." + n) + " 2>" + dir.path("err." + n) +
                  "; echo $? >" + dir.path("status." + n) + "; cp " + dir.path("log") + " " +
                  dir.path("log." + n) + "\n";
    }
    writeFile(dir.path("script"), script);
    const pid_t pid = startSim(simOptions, {"/bin/sh", dir.path("script")}, dir.path("log"),
                               dir.path("sim.out"), dir.path("sim.err"));
    EXPECT_EQ(waitStatus(pid), 0) << readFile(dir.path("sim.err"));

    std::vector<CtlRun> runs;
    size_t logged = 0;
    for (size_t i = 0; i < commands.size(); ++i) {
        const std::string n = std::to_string(i);
        CtlRun run;
        run.out = readFile(dir.path("out." + n));
        run.err = readFile(dir.path("err." + n));
        const std::string status = readFile(dir.path("status." + n));
        run.status = status.empty() ? -1 : std::stoi(status);
        const std::vector<std::string> log = lines(readFile(dir.path("log." + n)));
        run.requests.assign(log.begin() + static_cast<std::ptrdiff_t>(std::min(logged, log.size())), log.end());
        logged = log.size();
        runs.push_back(run);
    }
    return runs;
}

CtlRun runCtl(const Args &command, const Args &simOptions)
{
    return runSession(std::vector<Args>{command}, simOptions)[0];
}

CtlRun runScript(const std::string &script, const Args &simOptions)
{
    TestDir dir;
    writeFile(dir.path("script"), "CTL=" + shellQuoted(QUORVEL_CTL) + "\n" + script);
    const pid_t pid = startSim(simOptions, {"/bin/sh", dir.path("script")}, dir.path("log"),
                               dir.path("out"), dir.path("err"));
    CtlRun run;
    run.status = waitStatus(pid);
    run.out = readFile(dir.path("out"));
    run.err = readFile(dir.path("err"));
    run.requests = lines(readFile(dir.path("log")));
    return run;
}

BackgroundCtl::BackgroundCtl(const Args &command, const Args &simOptions)
{
    Args ctl = {QUORVEL_CTL};
    ctl.insert(ctl.end(), command.begin(), command.end());
    pid_ = startSim(simOptions, ctl, dir_.path("log"), dir_.path("out"), dir_.path("err"));
}

BackgroundCtl::~BackgroundCtl()
{
    if (pid_ > 0) // a test that failed before stopping it; SIGTERM reaches quorvel-ctl too
        stop(SIGTERM);
}

std::vector<std::string> BackgroundCtl::requests() const
{
    return lines(readFile(dir_.path("log")));
}

namespace {

bool waitUntil(const std::function<bool()> &done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace

bool BackgroundCtl::waitForRequests(size_t count) const
{
    return waitUntil([&] { return requests().size() >= count; });
}

bool BackgroundCtl::waitForError(const std::string &text) const
{
    return waitUntil([&] { return readFile(dir_.path("err")).find(text) != std::string::npos; });
}

CtlRun BackgroundCtl::stop(int signal)
{
    CtlRun run;
    kill(pid_, signal);
    run.status = waitStatus(pid_);
    pid_ = -1;
    run.out = readFile(dir_.path("out"));
    run.err = readFile(dir_.path("err"));
    run.requests = requests();
    return run;
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const std::string &path, const std::string &content)
{
    std::ofstream(path, std::ios::binary) << content;
}

std::string request(int code, int value, int index, int result)
{
    char line[64];
    std::snprintf(line, sizeof line, "0x%02X value=0x%04X index=0x%04X result=%d", code, value,
                  index, result);
    return line;
}

std::vector<std::string> textWrite(int firstCode, const std::string &bytes)
{
    const bool psName = (firstCode & 0x3F) == 0x21; // 0x21 or 0x61
    std::string text = bytes;
    text.resize(psName ? 8 : 64, psName ? '\0' : '\r');
    std::vector<std::string> requests;
    for (size_t at = 0; at < text.size(); at += 4) {
        const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
        requests.push_back(request(firstCode + static_cast<int>(at / 4), byte(0) << 8 | byte(1),
                                   byte(2) << 8 | byte(3)));
    }
    return requests;
}

std::vector<std::string> readAllRequests()
{
    std::vector<std::string> requests;
    const auto store = [&](int ps, int rt, int small) {
        requests.push_back(request(ps));
        requests.push_back(request(ps + 1));
        for (int k = 0; k < 16; ++k)
            requests.push_back(request(rt + k));
        for (int k = 0; k < 5; ++k)
            requests.push_back(request(small + k));
    };
    store(0xA1, 0xB0, 0xA3);
    store(0xE1, 0xF0, 0xE3);
    requests.push_back(request(0xE8));
    requests.push_back(request(0xE9));
    for (int n = 0; n < 25; ++n)
        requests.push_back(request(0xEA, n));
    requests.push_back(request(0x82));
    requests.push_back(request(0x83));
    return requests;
}
