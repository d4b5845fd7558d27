// The HTTP door: every --http listener served on the daemon's event loop
// through Boost.Beast, TLS through Asio's SSL stream. What a client may hold
// is bounded: its request head in bytes and lines, its body, the time the
// request takes to arrive (TLS handshake included), the time a kept-alive
// connection stays idle; connections are capped in all and per client
// address, and refused at accept when --allow does not take the address.
// Password checks run on a thread of their own, one at a time, behind a short
// queue; an address that keeps failing them waits. GET /api/v1/events streams
// the station's changes.
#ifndef QUORVELD_HTTP_SERVER_H
#define QUORVELD_HTTP_SERVER_H

#include "HttpApi.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qd {

class Station;

struct HttpLimits {
    int maxClients = 256;                 // connections of every HTTP listener together
    int maxPerAddress = 8;                // from one client address (IPv6: one /64)
    int maxStreams = 32;                  // event streams, among the connections
    size_t headBytes = size_t{16} * 1024; // request line and header lines (431 past them)
    size_t headLines = 100;
    // From a request's first byte to its last (for a connection's first
    // request, from the accept, TLS handshake included).
    std::chrono::milliseconds deadline{10'000};
    std::chrono::milliseconds idle{30'000};      // a kept-alive connection between requests
    std::chrono::milliseconds sendTime{10'000};  // for a client to take a reply or an event
    std::chrono::milliseconds heartbeat{15'000}; // a comment line on every event stream
    std::chrono::milliseconds eventGap{250};     // events at most this often
    size_t loginQueue = 8; // password checks waiting behind the one under way (503 past them)
};

struct HttpOptions {
    std::vector<std::string> listen; // ADDR:PORT, [v6]:PORT; port 0 takes a free one
    std::string passwordFile, tokenFile, tlsCert, tlsKey;
    std::vector<std::string> hosts; // --http-host names
    bool metricsPublic = false;
    HttpLimits limits;
};

// Whether a client of that address may connect; asked at each accept.
using AddressCheck = std::function<bool(const boost::asio::ip::address &)>;

class HttpServer {
public:
    HttpServer(boost::asio::io_context &io, Station &station, HttpOptions options,
               AddressCheck allowed = {});
    ~HttpServer(); // stop()
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Binds every listener and serves; logs "listening on http://ADDR:PORT"
    // (https:// with TLS). Throws std::runtime_error naming the listener or
    // file: an address off loopback without a password file, a file that
    // cannot be read, a certificate without its key, an address in use.
    void start();
    // Closes the listeners and every connection, event streams too, and
    // waits for a password check under way. On the event loop's thread, or
    // once the loop has stopped.
    void stop();
    // The listeners as bound, port 0 resolved: "127.0.0.1:8080", "[::1]:8080".
    std::vector<std::string> addresses() const;

    struct Door;
    struct Acceptor;

private:
    boost::asio::io_context &io_;
    Station &station_;
    HttpOptions options_;
    AddressCheck allowed_;
    std::shared_ptr<Door> door_;
    std::vector<std::shared_ptr<Acceptor>> acceptors_;
};

} // namespace qd

#endif
