// The HTTP door in process: a simulated board served to the real libusb, the
// board worker, the station on an event loop of its own thread, and the HTTP
// server on a loopback port, with clients that check what goes over the wire.
#ifndef HTTP_DOOR_H
#define HTTP_DOOR_H

#include "BoardWorker.h"
#include "HttpServer.h"
#include "SimFixture.h"
#include "Station.h"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <thread>
#include <vector>

using Json = nlohmann::json;
using Log = std::vector<sim::Request>;
inline const char *const JsonType = "application/json";

class HttpDoor : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // (Re)starts the server, on 127.0.0.1:0 unless `options` names listeners;
    // SetUp serves with no options.
    void serve(qd::HttpOptions options = {});
    // A file of the test's own directory with that content; its path.
    std::string file(const std::string &name, const std::string &content);
    // A request, its response checked for what none may lack (nosniff, no
    // framing) or carry (CORS headers).
    httplib::Result send(const std::string &method, const std::string &target, const std::string &body = {},
                         const std::string &type = {}, httplib::Headers headers = {});
    // The status code answering the bytes of a raw request.
    int raw(const std::string &request);
    // The board's request log once the worker has written all it was asked.
    Log sent();
    // The board's RAM RadioText, as stored, once written.
    std::string ramRt();
    // What the board received before a write of RAM TA sent now as a mark.
    Log sentBeforeMark();

    std::unique_ptr<sim::Testbed> testbed;
    std::shared_ptr<sim::Board> board;
    asio::io_context io;
    std::unique_ptr<asio::executor_work_guard<asio::io_context::executor_type>> work;
    std::thread loop;
    std::unique_ptr<qd::BoardWorker> worker;
    std::unique_ptr<qd::Station> station;
    std::unique_ptr<qd::HttpServer> server;
    int port = 0;
    std::string dir;
};

// A RadioText as the board holds it: the text, then carriage returns to 64.
inline std::string rtImage(const std::string &text)
{
    return text + std::string(64 - text.size(), '\r');
}

#endif
