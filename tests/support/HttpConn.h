// A test's HTTP client over loopback: requests as bytes, and a connection
// whose every read and write gives up after 10 s.
#ifndef HTTP_CONN_H
#define HTTP_CONN_H

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>

#include <algorithm>
#include <array>
#include <sstream>
#include <string>
#include <vector>

using Headers = std::vector<std::pair<std::string, std::string>>;

// A reply as a client saw it; status 0 when none came.
struct Reply {
    int status = 0;
    boost::beast::http::fields headers;
    std::string body;
    std::string header(const std::string &name) const
    {
        const auto found = headers.find(name);
        return found == headers.end() ? std::string() : std::string(found->value());
    }
};

// A loopback connection to the door from `from` (127.0.0.x), whose every read
// and write runs on its own context and gives up after 10 s.
class Conn {
public:
    explicit Conn(int port, const char *from = "127.0.0.1") : socket(io)
    {
        namespace ip = boost::asio::ip;
        const ip::address source = ip::make_address(from);
        socket.open(source.is_v4() ? ip::tcp::v4() : ip::tcp::v6());
        socket.bind({source, 0});
        const ip::address to = source.is_v4() ? ip::address(ip::address_v4::loopback())
                                              : ip::address(ip::address_v6::loopback());
        boost::system::error_code error;
        socket.connect({to, static_cast<unsigned short>(port)}, error);
    }
    bool write(std::string_view bytes)
    {
        return !bounded(
            [&](auto done) { boost::asio::async_write(socket, boost::asio::buffer(bytes), done); });
    }
    // The next reply; `head`: to a HEAD request, without a body.
    Reply reply(bool head = false)
    {
        namespace http = boost::beast::http;
        http::response_parser<http::string_body> parser;
        parser.body_limit(1 << 20);
        parser.skip(head);
        if (bounded([&](auto done) { http::async_read(socket, buffer, parser, done); }))
            return {};
        auto message = parser.release();
        return {static_cast<int>(message.result_int()), message.base(), std::move(message.body())};
    }
    // What one read brings: empty once the door closed, or after 10 s.
    std::string some()
    {
        std::string bytes(65536, '\0');
        bounded([&](auto done) { socket.async_read_some(boost::asio::buffer(bytes), done); });
        bytes.resize(transferred);
        return bytes;
    }
    // Whether the door closes the connection (within 10 s of silence).
    bool closedByPeer()
    {
        std::array<char, 4096> bytes{};
        boost::system::error_code error;
        for (int reads = 0; reads < 1000 && !error; reads++)
            error = bounded(
                [&](auto done) { socket.async_read_some(boost::asio::buffer(bytes), done); });
        return error == boost::asio::error::eof || error == boost::asio::error::connection_reset;
    }

    boost::asio::io_context io;
    boost::asio::ip::tcp::socket socket;
    boost::beast::flat_buffer buffer;

private:
    // One operation, started with its completion handler, run for 10 s at most.
    template <class Start>
    boost::system::error_code bounded(Start start)
    {
        boost::system::error_code result = boost::asio::error::timed_out;
        bool done = false;
        transferred = 0;
        start([&](boost::system::error_code error, size_t n) {
            result = error;
            transferred = n;
            done = true;
        });
        io.restart();
        io.run_for(std::chrono::seconds(10));
        if (!done) {
            socket.cancel();
            io.restart();
            io.run();
            result = boost::asio::error::timed_out;
        }
        return result;
    }
    size_t transferred = 0;
};

// A request as bytes, its Host that of 127.0.0.1:port unless `headers` name one.
inline std::string requestText(int port, const std::string &method, const std::string &target,
                               const std::string &body = {}, const std::string &type = {},
                               const Headers &headers = {})
{
    namespace http = boost::beast::http;
    http::request<http::string_body> request(http::string_to_verb(method), target, 11);
    if (request.method() == http::verb::unknown)
        request.method_string(method);
    request.set(http::field::host, "127.0.0.1:" + std::to_string(port));
    for (const auto &[name, value] : headers)
        request.set(name, value);
    if (!type.empty())
        request.set(http::field::content_type, type);
    request.body() = body;
    const bool framed = std::any_of(headers.begin(), headers.end(), [](const auto &header) {
        return header.first == "Content-Length" || header.first == "Transfer-Encoding";
    });
    if (!framed && (!body.empty() || method == "POST" || method == "PATCH"))
        request.prepare_payload();
    std::ostringstream text;
    text << request.base();
    return text.str() + body;
}

#endif
