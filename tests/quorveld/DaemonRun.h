// The real quorveld under the real quorvel-sim, as a station runs it, and
// loopback clients that talk to it.
#ifndef DAEMON_RUN_H
#define DAEMON_RUN_H

#include "ChildProcess.h"
#include "UecpFrame.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <gtest/gtest.h>

#include <algorithm>

inline const size_t loadSize = fullLoad().size();

// A UECP frame holding the message `msg`.
inline std::string frame(const std::string &msg, uint8_t sqc = 1, uint16_t address = 0)
{
    const auto encoded = uecp::encodeFrame({address, sqc, {msg.begin(), msg.end()}});
    return {encoded.begin(), encoded.end()};
}

// How often `part` is in `text`. The reloads a log tells the outcome of:
// count(log, "reloaded"), each "configuration reloaded" or "... not reloaded: why".
inline size_t count(const std::string &text, const std::string &part)
{
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        found++;
    return found;
}

class DaemonRun : public ChildProcess {
public:
    // Starts quorveld `args` under quorvel-sim `simArgs`, and waits until
    // every listener is open and, unless the sim has no board, it is loaded.
    explicit DaemonRun(Args args, const Args &simArgs = {})
    {
        args.insert(args.begin(), QUORVELD);
        start(simArgs, args);
        const bool board = std::find(simArgs.begin(), simArgs.end(), "--no-board") == simArgs.end();
        EXPECT_TRUE(waitUntil(
            [&] {
                return log().find("quorveld: ready") != std::string::npos &&
                       (!board || requests().size() >= loadSize);
            },
            10))
            << "quorveld did not start:\n"
            << log();
    }

    // The port of the listener of that kind ("ascii-tcp"...), as logged.
    unsigned short port(const std::string &kind) const
    {
        for (const std::string &line : lines(log()))
            if (line.find("listening on " + kind + " ") != std::string::npos ||
                line.find("listening on " + kind + "://") != std::string::npos)
                return static_cast<unsigned short>(std::stoi(line.substr(line.rfind(':') + 1)));
        ADD_FAILURE() << "no " << kind << " listener in:\n" << log();
        return 0;
    }

    std::string log() const { return err(); }
    // Sends the signal to quorvel-sim, which passes it on; the exit status.
    int stop(int signal)
    {
        this->signal(signal);
        return wait(10);
    }
};

// A TCP client of 127.0.0.1:port; each read waits 10 s at most.
class Client {
public:
    explicit Client(unsigned short port) : stream_("127.0.0.1", std::to_string(port)) {}
    void send(const std::string &bytes) { stream_ << bytes << std::flush; }
    // No more from this side: the stream ends here.
    void finish() { stream_.socket().shutdown(boost::asio::ip::tcp::socket::shutdown_send); }
    // What arrives until `count` bytes came, or the peer closed.
    std::string receive(size_t count)
    {
        std::string received(count, '\0');
        stream_.expires_after(std::chrono::seconds(10));
        stream_.read(received.data(), static_cast<std::streamsize>(count));
        received.resize(static_cast<size_t>(stream_.gcount()));
        stream_.clear();
        return received;
    }
    // Up to and with the next LF.
    std::string line()
    {
        std::string line;
        stream_.expires_after(std::chrono::seconds(10));
        std::getline(stream_, line);
        stream_.clear();
        return line + "\n";
    }
    bool closedByPeer()
    {
        stream_.expires_after(std::chrono::seconds(10));
        return stream_.peek() == EOF && stream_.error() != boost::asio::error::timed_out;
    }

private:
    boost::asio::ip::tcp::iostream stream_;
};

// One datagram from `from` to 127.0.0.1:port; the reply when one is expected
// (10 s at most).
inline std::string datagram(unsigned short port, const std::string &bytes, bool reply,
                            const char *from = "127.0.0.1")
{
    boost::asio::io_context io;
    boost::asio::ip::udp::socket socket(io, {boost::asio::ip::make_address_v4(from), 0});
    socket.send_to(boost::asio::buffer(bytes), {boost::asio::ip::address_v4::loopback(), port});
    std::string received(65536, '\0');
    if (!reply)
        return "";
    socket.async_receive(
        boost::asio::buffer(received),
        [&](boost::system::error_code error, size_t n) { received.resize(error ? 0 : n); });
    io.run_for(std::chrono::seconds(10));
    return received.size() == 65536 ? "" : received;
}

#endif
