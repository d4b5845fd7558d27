#include "HttpDoor.h"

#include <asio/post.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
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
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    const timeval timeout{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    char reply[64] = {};
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size()) ||
        read(fd, reply, sizeof reply - 1) <= 12 || !std::string(reply).starts_with("HTTP/1.1 "))
        reply[9] = 0;
    close(fd);
    return std::atoi(reply + 9);
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
    const auto mark = send("PATCH", "/api/v1/fields", on ? R"({"ram.ta": 0})" : R"({"ram.ta": 1})", JsonType);
    EXPECT_EQ(mark ? mark->status : 0, 202);
    Log log = sent();
    EXPECT_FALSE(log.empty());
    if (!log.empty()) {
        EXPECT_EQ(log.back(), ok(0x25, on ? 0 : 1));
        log.pop_back();
    }
    return log;
}
