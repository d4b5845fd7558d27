#include "DaemonRun.h"

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

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

std::string Client::receive(size_t count)
{
    std::string received(count, '\0');
    stream_.expires_after(std::chrono::seconds(10));
    stream_.read(received.data(), static_cast<std::streamsize>(count));
    received.resize(static_cast<size_t>(stream_.gcount()));
    stream_.clear();
    return received;
}

std::string Client::line()
{
    std::string line;
    stream_.expires_after(std::chrono::seconds(10));
    std::getline(stream_, line);
    stream_.clear();
    return line + "\n";
}

bool Client::closedByPeer()
{
    stream_.expires_after(std::chrono::seconds(10));
    return stream_.peek() == EOF && stream_.error() != asio::error::timed_out;
}

std::string datagram(unsigned short port, const std::string &bytes, bool reply)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    char buffer[65536];
    pollfd events{fd, POLLIN, 0};
    const ssize_t n = reply && poll(&events, 1, 10000) > 0 ? recv(fd, buffer, sizeof buffer, 0) : 0;
    close(fd);
    return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

std::string request(int code, int value, int index)
{
    char line[64];
    std::snprintf(line, sizeof line, "0x%02X value=0x%04X index=0x%04X result=8", code, value, index);
    return line;
}
