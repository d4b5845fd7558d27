// The HTTP door in process: a simulated board served to the real libusb, the
// board worker, the station on an event loop of its own thread, and the HTTP
// server on a loopback port, with clients that check what goes over the wire.
// The server is started and stopped on the loop's thread, as the daemon does.
#ifndef HTTP_DOOR_H
#define HTTP_DOOR_H

#include "BoardWorker.h"
#include "HttpServer.h"
#include "SimFixture.h"
#include "Station.h"
#include "TestDir.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <future>
#include <sstream>

using Json = nlohmann::json;
inline const char *const JsonType = "application/json";
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

class HttpDoor : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        worker.start();
        loop = std::thread([this] { io.run(); });
        waitUntil([this] { return worker.status().loads > 0; });
        ASSERT_EQ(worker.status().board, qd::BoardState::Present);
        board->clearLog();
        serve();
    }

    void TearDown() override
    {
        onLoop([this] { server.reset(); });
        work.reset();
        io.stop();
        if (loop.joinable())
            loop.join();
        worker.stop();
    }

    // (Re)starts the server, on 127.0.0.1:0 unless `options` names listeners.
    void serve(qd::HttpOptions options = {}, qd::AddressCheck allowed = {})
    {
        if (options.listen.empty())
            options.listen = {"127.0.0.1:0"};
        onLoop([&] {
            server.reset();
            server = std::make_unique<qd::HttpServer>(io, station, options, allowed);
            server->start();
        });
        const std::string bound = server->addresses().at(0);
        port = std::stoi(bound.substr(bound.rfind(':') + 1));
    }

    // `run` on the loop's thread, its exception rethrown here.
    template <class Run>
    void onLoop(Run run)
    {
        std::promise<void> done;
        boost::asio::post(io, [&] {
            try {
                run();
                done.set_value();
            } catch (...) {
                done.set_exception(std::current_exception());
            }
        });
        done.get_future().get();
    }

    // A file of the test's own directory with that content; its path.
    std::string file(const std::string &name, const std::string &content)
    {
        std::ofstream(dir.path(name)) << content;
        return dir.path(name);
    }

    // A request, its response checked for what none may lack (nosniff, no
    // framing) or carry (CORS headers).
    Reply send(const std::string &method, const std::string &target, const std::string &body = {},
               const std::string &type = {}, const Headers &headers = {},
               const char *from = "127.0.0.1")
    {
        Conn conn(port, from);
        conn.write(requestText(port, method, target, body, type, headers));
        return checked(conn.reply(method == "HEAD"), method + " " + target);
    }

    static Reply checked(Reply reply, const std::string &what)
    {
        if (reply.status == 0)
            ADD_FAILURE() << what << ": no answer";
        for (const auto &field : reply.headers)
            EXPECT_FALSE(field.name_string().starts_with("Access-Control-")) << what;
        EXPECT_EQ(reply.header("X-Content-Type-Options"), "nosniff") << what;
        const std::string policy = reply.header("Content-Security-Policy");
        EXPECT_NE(policy.find("frame-ancestors 'none'"), std::string::npos) << what;
        return reply;
    }

    // The board's request log once the worker has written all it was asked:
    // the station hands requests on to it on a later turn of the loop.
    Requests sent()
    {
        std::promise<void> turn;
        boost::asio::post(io, [&turn] { turn.set_value(); });
        turn.get_future().wait();
        waitUntil([this] { return worker.status().pendingWrites == 0; });
        EXPECT_EQ(worker.status().pendingWrites, 0);
        return board->log();
    }

    // The board's RAM RadioText, as stored, once written.
    std::string ramRt()
    {
        sent();
        const sim::RdsData ram = board->ram();
        return std::string(reinterpret_cast<const char *>(ram.rt), sizeof ram.rt);
    }

    // What the board received before a write of RAM TA sent now as a mark.
    Requests sentBeforeMark()
    {
        const bool on = board->ram().ta != 0;
        const char *mark = on ? R"({"ram.ta": 0})" : R"({"ram.ta": 1})";
        EXPECT_EQ(send("PATCH", "/api/v1/fields", mark, JsonType).status, 202);
        Requests log = sent();
        EXPECT_EQ(log.empty() ? sim::Request{} : log.back(), ok(0x25, on ? 0 : 1)) << "no mark";
        if (!log.empty())
            log.pop_back();
        return log;
    }

    boost::asio::io_context io;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work{
        io.get_executor()};
    std::thread loop;
    qd::BoardWorker worker{[] {
        qd::WorkerOptions options;
        options.verifySeconds = 0;
        return options;
    }()};
    qd::Station station{io, worker, qd::StationOptions{}};
    std::unique_ptr<qd::HttpServer> server;
    int port = 0;
    TestDir dir;
};

// A RadioText as the board holds it: the text, then carriage returns to 64.
inline std::string rtImage(const std::string &text)
{
    return text + std::string(64 - text.size(), '\r');
}

#endif
