#include "DaemonRun.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

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
    : child_(dir_, simArgs, [&] {
          Args command = {QUORVELD};
          command.insert(command.end(), args.begin(), args.end());
          return command;
      }())
{
    const bool board = std::find(simArgs.begin(), simArgs.end(), "--no-board") == simArgs.end();
    EXPECT_TRUE(waitUntil([&] {
        return log().find("quorveld: ready") != std::string::npos && (!board || requests().size() >= fullLoad);
    }, 10)) << "quorveld did not start:\n" << log();
}

unsigned short DaemonRun::port(const std::string &kind) const
{
    for (const std::string &line : lines(log()))
        if (line.find("listening on " + kind + " ") != std::string::npos)
            return static_cast<unsigned short>(std::stoi(line.substr(line.rfind(':') + 1)));
    ADD_FAILURE() << "no " << kind << " listener in:\n" << log();
    return 0;
}

std::vector<std::string> DaemonRun::requests(size_t from) const
{
    const std::vector<std::string> all = lines(readFile(dir_.path("log")));
    return {all.begin() + static_cast<long>(std::min(from, all.size())), all.end()};
}

int DaemonRun::stop(int signal)
{
    child_.signal(signal);
    return child_.wait(10);
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

std::string Client::receive(size_t count, const std::string &end)
{
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (received.size() < count && (end.empty() || !received.ends_with(end)) &&
           std::chrono::steady_clock::now() < deadline) {
        char byte;
        if (!readable(fd_, 100))
            continue;
        if (recv(fd_, &byte, 1, 0) <= 0)
            break;
        received += byte;
    }
    return received;
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
    char buffer[65536];
    const ssize_t n = reply && readable(fd, 10000) ? recv(fd, buffer, sizeof buffer, 0) : 0;
    close(fd);
    return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

std::string request(int code, int value, int index)
{
    char line[64];
    std::snprintf(line, sizeof line, "0x%02X value=0x%04X index=0x%04X result=8", code, value, index);
    return line;
}
