#include "HttpDoor.h"

#include <asio/post.hpp>

#include <asio/ip/tcp.hpp>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>

void HttpDoor::SetUp()
{
    testbed = std::make_unique<sim::Testbed>();
    board = testbed->board(testbed->addDevice());
    qd::WorkerOptions options;
    options.verifySeconds = 0;
    worker = std::make_unique<qd::BoardWorker>(options);
    station = std::make_unique<qd::Station>(io, *worker, qd::StationOptions{});
    worker->start();
    work = std::make_unique<asio::executor_work_guard<asio::io_context::executor_type>>(io.get_executor());
    loop = std::thread([this] { io.run(); });
    for (int i = 0; i < 4000 && worker->status().loads == 0; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(worker->status().board, qd::BoardState::Present);
    board->clearLog();
    char name[] = "/tmp/test_http.XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir = name;
    serve();
}

void HttpDoor::TearDown()
{
    server.reset();
    work.reset();
    io.stop();
    if (loop.joinable())
        loop.join();
    worker->stop();
    station.reset();
    worker.reset();
    std::filesystem::remove_all(dir);
}

void HttpDoor::serve(qd::HttpOptions options)
{
    if (options.listen.empty())
        options.listen = {"127.0.0.1:0"};
    server.reset();
    server = std::make_unique<qd::HttpServer>(io, *station, options);
    server->start();
    const std::string bound = server->addresses().at(0);
    port = std::stoi(bound.substr(bound.rfind(':') + 1));
}

std::string HttpDoor::file(const std::string &name, const std::string &content)
{
    std::ofstream(dir + "/" + name) << content;
    return dir + "/" + name;
}

httplib::Result HttpDoor::send(const std::string &method, const std::string &target, const std::string &body,
                               const std::string &type, httplib::Headers headers)
{
    httplib::Client client("127.0.0.1", port);
    httplib::Request request;
    request.method = method;
    request.path = target;
    request.headers = std::move(headers);
    request.body = body;
    if (!type.empty())
        request.set_header("Content-Type", type);
    httplib::Result result = client.send(request);
    if (result) {
        for (const auto &[name, value] : result->headers)
            EXPECT_FALSE(name.starts_with("Access-Control-")) << method << " " << target << ": " << name;
        EXPECT_EQ(result->get_header_value("X-Content-Type-Options"), "nosniff");
        EXPECT_NE(result->get_header_value("Content-Security-Policy").find("frame-ancestors 'none'"),
                  std::string::npos);
    }
    return result;
}

int HttpDoor::raw(const std::string &request)
{
    asio::ip::tcp::iostream stream("127.0.0.1", std::to_string(port));
    stream.expires_after(std::chrono::seconds(10));
    stream << request << std::flush;
    std::string version;
    int status = 0;
    stream >> version >> status;
    return version == "HTTP/1.1" ? status : 0;
}

Log HttpDoor::sent()
{
    // The station hands what it was asked to the worker on a later turn of
    // the loop: a turn queued now runs after it.
    std::promise<void> turn;
    asio::post(io, [&turn] { turn.set_value(); });
    turn.get_future().wait();
    for (int i = 0; i < 4000 && worker->status().pendingWrites > 0; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(worker->status().pendingWrites, 0);
    return board->log();
}

std::string HttpDoor::ramRt()
{
    sent();
    const sim::RdsData ram = board->ram();
    return std::string(reinterpret_cast<const char *>(ram.rt), sizeof ram.rt);
}

Log HttpDoor::sentBeforeMark()
{
    const bool on = board->ram().ta != 0;
    EXPECT_EQ(send("PATCH", "/api/v1/fields", on ? R"({"ram.ta": 0})" : R"({"ram.ta": 1})", JsonType)->status, 202);
    Log log = sent();
    EXPECT_EQ(log.empty() ? sim::Request{} : log.back(), ok(0x25, on ? 0 : 1)) << "no mark";
    if (!log.empty())
        log.pop_back();
    return log;
}
