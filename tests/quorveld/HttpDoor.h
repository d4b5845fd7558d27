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

class HttpDoor : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the server on 127.0.0.1:0 unless `options` names listeners.
    void serve(qd::HttpOptions options = {});
    // A file of the test's own directory with that content; its path.
    std::string file(const std::string &name, const std::string &content);

    // A request to the server, checked for what no response may carry (CORS
    // headers, a missing security header).
    httplib::Result send(const std::string &method, const std::string &target,
                         const std::string &body = {}, const std::string &type = {},
                         httplib::Headers headers = {});
    // The bytes of a raw request, and the status line's code of the answer.
    int raw(const std::string &request);

    // Waits until the worker has written everything asked for.
    void settle();
    // The board's request log, after settling.
    std::vector<sim::Request> sent();
    // The board's RAM RadioText and PS name, as stored, after settling.
    std::string ramRt();
    std::string ramPs();
    // A write of RAM TA that marks the end of what a test sent: the requests
    // before it are exactly what came before.
    std::vector<sim::Request> sentBeforeMark();

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

// The text of a RadioText image: the text, then carriage returns to 64.
std::string rtImage(const std::string &text);

#endif
