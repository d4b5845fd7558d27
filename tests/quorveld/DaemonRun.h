// The real quorveld under the real quorvel-sim, as a station runs it, and
// loopback clients that talk to it.
#ifndef DAEMON_RUN_H
#define DAEMON_RUN_H

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

using Args = std::vector<std::string>;

class DaemonRun {
public:
    // Starts quorvel-sim --log LOG simArgs -- quorveld args in a directory of
    // its own, and waits until every listener is open and, unless the sim has
    // no board, the board is loaded.
    explicit DaemonRun(const Args &args, const Args &simArgs = {});
    ~DaemonRun();
    DaemonRun(const DaemonRun &) = delete;
    DaemonRun &operator=(const DaemonRun &) = delete;

    // The port of the listener of that kind ("ascii-tcp"...), as logged.
    unsigned short port(const std::string &kind) const;
    std::string path(const std::string &name) const { return dir_ + "/" + name; }
    std::string log() const; // what quorveld wrote on standard error
    // quorvel-sim's request log: "0x21 value=0x5241 index=0x4449 result=8".
    std::vector<std::string> requests() const;
    // The requests after the first `from`.
    std::vector<std::string> requestsAfter(size_t from) const;
    // Waits at most 10 s for the condition.
    static bool waitUntil(const std::function<bool()> &condition);
    // Sends the signal to quorveld itself, without waiting.
    void signalDaemon(int signal) const;
    // Sends the signal to quorvel-sim, which passes it on; the exit status.
    int stop(int signal);

private:
    std::string dir_;
    pid_t pid_ = -1;
};

// A TCP client of 127.0.0.1:port.
class Client {
public:
    explicit Client(unsigned short port);
    ~Client();
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;
    void send(const std::string &bytes);
    // What arrives until `count` bytes came, the peer closed, or 10 s passed.
    std::string receive(size_t count);
    // What arrives up to and with the next CRLF (10 s at most).
    std::string receiveLine();
    // Whether the peer closed the connection (within 10 s).
    bool closedByPeer();

private:
    int fd_ = -1;
};

// One datagram to 127.0.0.1:port; the reply when one is expected (10 s at most).
std::string datagram(unsigned short port, const std::string &bytes, bool reply);

// A log line of quorvel-sim: "0x21 value=0x5241 index=0x4449 result=8".
std::string request(int code, int value = 0, int index = 0);
// The 75 requests of a full load.
inline constexpr size_t fullLoad = 75;

#endif
