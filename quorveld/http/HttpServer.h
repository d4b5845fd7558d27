// The HTTP door: one server of the HTTP library per --http listener, each on
// threads of its own; whatever touches the station runs on the event loop,
// and the server's thread waits for it there.
#ifndef QUORVELD_HTTP_SERVER_H
#define QUORVELD_HTTP_SERVER_H

#include "HttpApi.h"
#include "HttpAuth.h"

#include <boost/asio/io_context.hpp>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qd {

class Station;

struct HttpOptions {
    std::vector<std::string> listen; // ADDR:PORT, [v6]:PORT; port 0 takes a free one
    std::string passwordFile, tokenFile, tlsCert, tlsKey;
    std::vector<std::string> hosts; // --http-host names
    bool metricsPublic = false;
};

class HttpServer {
public:
    HttpServer(boost::asio::io_context &io, Station &station, HttpOptions options);
    ~HttpServer(); // stop()
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Binds every listener and serves; logs "listening on http://ADDR:PORT"
    // (https:// with TLS). Throws std::runtime_error naming the listener or
    // file: an address off loopback without a password file, a file that
    // cannot be read, a certificate without its key, an address in use.
    void start();
    // Stops serving. May run on the event loop's thread: a request waiting
    // for the loop is then answered 503.
    void stop();
    // The listeners as bound, port 0 resolved: "127.0.0.1:8080", "[::1]:8080".
    std::vector<std::string> addresses() const;

private:
    struct Listener;
    void open(const std::string &where);
    HttpResponse answer(const HttpRequest &request, const HttpPolicy &policy);

    boost::asio::io_context &io_;
    Station &station_;
    HttpOptions options_;
    std::optional<Credentials> password_;
    std::optional<Token> token_;
    std::vector<std::unique_ptr<Listener>> listeners_;
    std::atomic<bool> stopping_ = false; // requests waiting for the loop give up
};

} // namespace qd

#endif
