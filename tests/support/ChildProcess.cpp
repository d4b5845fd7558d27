#include "ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

extern char **environ;

void ChildProcess::start(const Args &simArgs, const Args &command)
{
    Args args = {QUORVEL_SIM, "--log", path("log")};
    args.insert(args.end(), simArgs.begin(), simArgs.end());
    args.push_back("--");
    args.insert(args.end(), command.begin(), command.end());
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const std::string out = path("out"), err = path("err");
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int error = posix_spawn(&pid_, argv[0], &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    EXPECT_EQ(error, 0) << "cannot start " << QUORVEL_SIM;
    if (error != 0)
        pid_ = -1;
}

ChildProcess::~ChildProcess()
{
    if (pid_ > 0) {
        signal(SIGTERM);
        wait();
    }
}

Requests ChildProcess::requests(size_t from) const
{
    const Requests all = parseLog(readFile(path("log")));
    return {all.begin() + static_cast<long>(std::min(from, all.size())), all.end()};
}

void ChildProcess::signal(int signal) const { kill(pid_, signal); }

void ChildProcess::signalProgram(int signal) const
{
    const pid_t pid = program();
    ASSERT_GT(pid, 0) << "the program under quorvel-sim is not running";
    kill(pid, signal);
}

pid_t ChildProcess::program() const
{
    const std::string id = std::to_string(pid_);
    const std::string children = readFile("/proc/" + id + "/task/" + id + "/children");
    return children.empty() ? -1 : std::stoi(children);
}

int ChildProcess::wait(int seconds)
{
    if (pid_ <= 0)
        return -1;
    int status = 0;
    const pid_t program = this->program();
    if (!waitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, seconds)) {
        ADD_FAILURE() << "the program under quorvel-sim did not end within " << seconds << " s";
        if (program > 0)
            kill(program, SIGKILL);
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return -1;
    }
    pid_ = -1;
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

Requests parseLog(const std::string &log)
{
    Requests requests;
    for (const std::string &line : lines(log)) {
        unsigned code, value, index;
        int result;
        if (std::sscanf(line.c_str(), "0x%X value=0x%X index=0x%X result=%d", &code, &value, &index,
                        &result) != 4)
            ADD_FAILURE() << "not a request: " << line;
        else
            requests.push_back({static_cast<uint8_t>(code), static_cast<uint16_t>(value),
                                static_cast<uint16_t>(index), result});
    }
    return requests;
}
