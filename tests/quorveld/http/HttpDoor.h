// The HTTP door in process: a simulated board served to the real libusb, the
// board worker, the station on an event loop of its own thread, and the HTTP
// server on a loopback port, with clients that check what goes over the wire.
// The server is started and stopped on the loop's thread, as the daemon does.
#ifndef HTTP_DOOR_H
#define HTTP_DOOR_H

#include "BoardWorker.h"
#include "HttpConn.h"
#include "HttpServer.h"
#include "SimFixture.h"
#include "Station.h"
#include "TestDir.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <nlohmann/json.hpp>

#include <fstream>
#include <future>
#include <optional>

using Json = nlohmann::json;
inline const char *const JsonType = "application/json";

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

    // `run` on the loop's thread; what it throws comes back as a new error
    // made here, so that no exception object is shared between threads.
    template <class Run>
    void onLoop(Run run)
    {
        std::promise<std::optional<std::string>> done;
        boost::asio::post(io, [&] {
            try {
                run();
                done.set_value(std::nullopt);
            } catch (const std::exception &e) {
                done.set_value(std::string(e.what()));
            }
        });
        if (const std::optional<std::string> thrown = done.get_future().get())
            throw std::runtime_error(*thrown);
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
