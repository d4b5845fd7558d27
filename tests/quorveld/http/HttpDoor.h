// The HTTP door in process: a simulated board served to the real libusb, the
// board worker, the station on an event loop of its own thread, and the HTTP
// server on a loopback port, with clients that check what goes over the wire.
#ifndef HTTP_DOOR_H
#define HTTP_DOOR_H

#include "BoardWorker.h"
#include "HttpServer.h"
#include "SimFixture.h"
#include "Station.h"
#include "TestDir.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <future>

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
        server.reset();
        work.reset();
        io.stop();
        if (loop.joinable())
            loop.join();
        worker.stop();
    }

    // (Re)starts the server, on 127.0.0.1:0 unless `options` names listeners.
    void serve(qd::HttpOptions options = {})
    {
        if (options.listen.empty())
            options.listen = {"127.0.0.1:0"};
        server.reset();
        server = std::make_unique<qd::HttpServer>(io, station, options);
        server->start();
        const std::string bound = server->addresses().at(0);
        port = std::stoi(bound.substr(bound.rfind(':') + 1));
    }

    // A file of the test's own directory with that content; its path.
    std::string file(const std::string &name, const std::string &content)
    {
        std::ofstream(dir.path(name)) << content;
        return dir.path(name);
    }

    // A request, its response checked for what none may lack (nosniff, no
    // framing) or carry (CORS headers).
    httplib::Result send(const std::string &method, const std::string &target,
                         const std::string &body = {}, const std::string &type = {},
                         httplib::Headers headers = {})
    {
        httplib::Request request;
        request.method = method;
        request.path = target;
        request.headers = std::move(headers);
        request.body = body;
        if (!type.empty())
            request.set_header("Content-Type", type);
        httplib::Result result = httplib::Client("127.0.0.1", port).send(request);
        if (!result) {
            ADD_FAILURE() << method << " " << target << ": no answer";
            return result;
        }
        for (const auto &[name, value] : result->headers)
            EXPECT_FALSE(name.starts_with("Access-Control-")) << target << ": " << name;
        EXPECT_EQ(result->get_header_value("X-Content-Type-Options"), "nosniff");
        const std::string policy = result->get_header_value("Content-Security-Policy");
        EXPECT_NE(policy.find("frame-ancestors 'none'"), std::string::npos) << policy;
        return result;
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
        EXPECT_EQ(send("PATCH", "/api/v1/fields", mark, JsonType)->status, 202);
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
