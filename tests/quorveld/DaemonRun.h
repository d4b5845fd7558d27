// The real quorveld under the real quorvel-sim, as a station runs it, and
// loopback clients that talk to it.
#ifndef DAEMON_RUN_H
#define DAEMON_RUN_H

#include "ChildProcess.h"

#include <asio/ip/tcp.hpp>

class DaemonRun {
public:
    // Starts quorveld `args` under quorvel-sim `simArgs`, and waits until
    // every listener is open and, unless the sim has no board, it is loaded.
    explicit DaemonRun(const Args &args, const Args &simArgs = {});
    // The port of the listener of that kind ("ascii-tcp"...), as logged.
    unsigned short port(const std::string &kind) const;
    std::string log() const { return readFile(dir_.path("err")); }
    // quorvel-sim's request log from the `from`th line on.
    std::vector<std::string> requests(size_t from = 0) const;
    void signalDaemon(int signal) { child_.signalProgram(signal); }
    // Sends the signal to quorvel-sim, which passes it on; the exit status.
    int stop(int signal);

private:
    TestDir dir_;
    ChildProcess child_;
};

// A TCP client of 127.0.0.1:port; each read waits 10 s at most.
class Client {
public:
    explicit Client(unsigned short port) : stream_("127.0.0.1", std::to_string(port)) {}
    void send(const std::string &bytes) { stream_ << bytes << std::flush; }
    // What arrives until `count` bytes came, or the peer closed.
    std::string receive(size_t count);
    std::string line(); // up to and with the next LF
    bool closedByPeer();

private:
    asio::ip::tcp::iostream stream_;
};

// One datagram to 127.0.0.1:port; the reply when one is expected (10 s at most).
std::string datagram(unsigned short port, const std::string &bytes, bool reply);

// A log line of quorvel-sim: "0x21 value=0x5241 index=0x4449 result=8".
std::string request(int code, int value = 0, int index = 0);
// The 75 requests of a full load.
inline constexpr size_t fullLoad = 75;

#endif
