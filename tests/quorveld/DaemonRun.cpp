#include "DaemonRun.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char **environ;

namespace {

std::string readFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

sockaddr_in loopback(unsigned short port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool readable(int fd, int ms)
{
    pollfd events{fd, POLLIN, 0};
    return poll(&events, 1, ms) > 0;
}

} // namespace

DaemonRun::DaemonRun(const Args &args, const Args &simArgs)
{
    std::string pattern = testing::TempDir() + "quorveld-XXXXXX";
    dir_ = mkdtemp(pattern.data()) ? pattern : "";
    EXPECT_FALSE(dir_.empty()) << "cannot make a test directory";
    Args all = {QUORVEL_SIM, "--log", path("requests.log")};
    all.insert(all.end(), simArgs.begin(), simArgs.end());
    all.insert(all.end(), {"--", QUORVELD});
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    const std::string err = path("stderr");
    posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int error = posix_spawn(&pid_, argv[0], &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    EXPECT_EQ(error, 0) << "cannot start " << QUORVEL_SIM;

    const bool board = std::find(simArgs.begin(), simArgs.end(), "--no-board") == simArgs.end();
    const bool ready = waitUntil([&] {
        return log().find("quorveld: ready") != std::string::npos &&
               (!board || requests().size() >= fullLoad);
    });
    EXPECT_TRUE(ready) << "quorveld did not start:\n" << log();
}

DaemonRun::~DaemonRun()
{
    if (pid_ > 0)
        stop(SIGTERM);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

unsigned short DaemonRun::port(const std::string &kind) const
{
    for (const std::string &line : lines(log())) {
        const size_t at = line.find("listening on " + kind + " ");
        if (at != std::string::npos)
            return static_cast<unsigned short>(std::stoi(line.substr(line.rfind(':') + 1)));
    }
    ADD_FAILURE() << "no " << kind << " listener in:\n" << log();
    return 0;
}

std::string DaemonRun::log() const
{
    return readFile(path("stderr"));
}

std::vector<std::string> DaemonRun::requests() const
{
    return lines(readFile(path("requests.log")));
}

std::vector<std::string> DaemonRun::requestsAfter(size_t from) const
{
    const std::vector<std::string> all = requests();
    return {all.begin() + static_cast<long>(std::min(from, all.size())), all.end()};
}

bool DaemonRun::waitUntil(const std::function<bool()> &condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void DaemonRun::signalDaemon(int signal) const
{
    const std::string children =
        readFile("/proc/" + std::to_string(pid_) + "/task/" + std::to_string(pid_) + "/children");
    ASSERT_FALSE(children.empty()) << "quorveld is not running";
    kill(std::stoi(children), signal);
}

// A daemon that does not end within 10 s is killed, and so is the sim.
int DaemonRun::stop(int signal)
{
    const std::string children =
        readFile("/proc/" + std::to_string(pid_) + "/task/" + std::to_string(pid_) + "/children");
    kill(pid_, signal);
    int status = 0;
    const bool ended = waitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; });
    if (!ended) {
        ADD_FAILURE() << "quorveld did not stop on signal " << signal;
        if (!children.empty())
            kill(std::stoi(children), SIGKILL);
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

Client::Client(unsigned short port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    const sockaddr_in address = loopback(port);
    EXPECT_EQ(connect(fd_, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0)
        << "cannot connect to port " << port;
}

Client::~Client()
{
    close(fd_);
}

void Client::send(const std::string &bytes)
{
    for (size_t sent = 0; sent < bytes.size();) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<size_t>(n);
    }
}

std::string Client::receive(size_t count)
{
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    char buffer[4096];
    while (received.size() < count && std::chrono::steady_clock::now() < deadline) {
        if (!readable(fd_, 100))
            continue;
        const ssize_t n = recv(fd_, buffer, std::min(sizeof buffer, count - received.size()), 0);
        if (n <= 0)
            break;
        received.append(buffer, static_cast<size_t>(n));
    }
    return received;
}

std::string Client::receiveLine()
{
    std::string line;
    while (!line.ends_with("\r\n")) {
        const std::string next = receive(1);
        if (next.empty())
            break;
        line += next;
    }
    return line;
}

bool Client::closedByPeer()
{
    char byte;
    return readable(fd_, 10000) && recv(fd_, &byte, 1, 0) <= 0;
}

std::string datagram(unsigned short port, const std::string &bytes, bool reply)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopback(port);
    sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    std::string received;
    if (reply && readable(fd, 10000)) {
        char buffer[65536];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        received.assign(buffer, n > 0 ? static_cast<size_t>(n) : 0);
    }
    close(fd);
    return received;
}

std::string request(int code, int value, int index)
{
    char line[64];
    std::snprintf(line, sizeof line, "0x%02X value=0x%04X index=0x%04X result=8", code, value, index);
    return line;
}
