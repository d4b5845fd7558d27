// The HTTP door against hostile and careless clients, over loopback: what a
// request may hold, how long it may take, how many may connect and from
// where, how often an address may fail to log in, and the event stream.
#include "HttpAuth.h"
#include "HttpDoor.h"

#include <boost/asio/ip/address.hpp>

#include <atomic>

namespace {

const char *const Fields = "/api/v1/fields";

std::string head(const std::string &first, const std::string &lines)
{
    return first + "\r\nHost: 127.0.0.1\r\n" + lines + "\r\n";
}

std::string repeated(const std::string &line, int times)
{
    std::string text;
    for (int i = 0; i < times; i++)
        text += line;
    return text;
}

// A counter of /metrics, by its name and labels.
uint64_t metric(const Reply &metrics, const std::string &name)
{
    const size_t at = metrics.body.find("\n" + name + " ");
    return at == std::string::npos ? ~0ULL : std::stoull(metrics.body.substr(at + name.size() + 2));
}

// Heads over 16 KB or 100 lines, bodies over 64 KB, and framings that two
// readers could take differently are refused before any of it is acted on.
TEST_F(HttpDoor, HeadsBodiesAndFramingsOverTheLimitsAreRefused)
{
    const std::string get = "GET /api/v1/status HTTP/1.1", patch = "PATCH /api/v1/fields HTTP/1.1";
    const std::string json = "Content-Type: application/json\r\n", pty = R"({"ram.pty": 3})";
    const struct {
        std::string bytes;
        int status;
    } cases[] = {
        {head(get, repeated("X-A: 1\r\n", 99)), 200},
        {head(get, repeated("X-A: 1\r\n", 100)), 431},
        {head(get, "X-A: " + std::string(16400, 'a') + "\r\n"), 431},
        {head(get, repeated("X-Flood: " + std::string(79, 'v') + "\r\n", 1000)), 431},
        {head(patch, json + "Content-Length: 70000\r\n"), 413},
        {head(patch, json + "Content-Length: 14\r\nContent-Length: 15\r\n") + pty, 400},
        {head(patch, json + "Content-Length: 14\r\nContent-Length: 14\r\n") + pty, 400},
        {head(patch, json + "Content-Length: 14\r\nTransfer-Encoding: chunked\r\n") + pty, 400},
        {head(patch, json + "Transfer-Encoding: gzip\r\nContent-Length: 14\r\n") + pty, 400},
        {head(patch, json + "Transfer-Encoding: gzip\r\n") + pty, 400},
        {head("GET http://127.0.0.1/api/v1/status HTTP/1.1", ""), 400},
        {head("GET /api/v1/%zzstatus HTTP/1.1", ""), 400},
        {head("GET /api/v1/status HTTP/2.0", ""), 400},
    };
    for (const auto &c : cases) {
        Conn conn(port);
        conn.write(c.bytes);
        EXPECT_EQ(conn.reply().status, c.status) << c.bytes.substr(0, 120);
    }
    // Expect: 100-continue is answered before the body is sent.
    Conn conn(port);
    conn.write(head(patch, json + "Expect: 100-continue\r\nContent-Length: 14\r\n"));
    EXPECT_EQ(conn.reply().status, 100);
    conn.write(pty);
    EXPECT_EQ(conn.reply().status, 202);
    EXPECT_EQ(sent(), Requests{ok(0x23, 3)});
}

// A request must arrive whole within the deadline of its first byte (of the
// accept for a new connection); a kept-alive connection may idle longer.
// Others are served meanwhile.
TEST_F(HttpDoor, SlowClientsAreClosedAndOthersServedMeanwhile)
{
    qd::HttpOptions options;
    options.limits.deadline = std::chrono::milliseconds(300);
    options.limits.idle = std::chrono::milliseconds(2000);
    serve(options);
    const struct {
        std::string first, each; // sent at once, then every 50 ms
    } slow[] = {
        {"", ""},
        {"GET /api/v1/status HTTP/1.1\r\n", "X-Slow: 1\r\n"},
        {head("PATCH /api/v1/fields HTTP/1.1", "Content-Length: 100\r\n"), "x"},
        {head("GET /api/v1/status HTTP/1.1", "") + "GET /api/v1/status HTTP/1.1\r\n", "X: 1\r\n"},
    };
    for (const auto &c : slow) {
        Conn conn(port, "127.0.0.2");
        conn.write(c.first);
        int sends = 0; // a second's worth, unless the door closes first
        while (sends < 20 && !c.each.empty() && conn.write(c.each)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            sends++;
        }
        EXPECT_LT(sends, 20) << c.first;
        EXPECT_TRUE(conn.closedByPeer()) << c.first;
        EXPECT_EQ(send("GET", "/api/v1/status").status, 200);
    }
    // Idle between requests for longer than the deadline, not than the idle time.
    Conn kept(port);
    for (int request = 0; request < 2; request++) {
        kept.write(requestText(port, "GET", "/api/v1/status"));
        EXPECT_EQ(kept.reply().status, 200) << request;
        std::this_thread::sleep_for(std::chrono::milliseconds(request == 0 ? 600 : 0));
    }
    EXPECT_TRUE(kept.closedByPeer());
    EXPECT_EQ(metric(send("GET", "/metrics"), "quorveld_http_deadlines_missed_total"), 4u);
}

// At most maxPerAddress from one address, refused at accept; at maxClients a
// newcomer takes the place of an idle connection of the address holding most.
TEST_F(HttpDoor, ConnectionsAreCappedInAllAndPerAddressIdleOnesMakingRoom)
{
    qd::HttpOptions options;
    options.limits.maxClients = 4;
    options.limits.maxPerAddress = 2;
    serve(options);
    std::vector<std::unique_ptr<Conn>> held;
    for (const char *from : {"127.0.0.2", "127.0.0.3", "127.0.0.3", "127.0.0.2"})
        held.push_back(std::make_unique<Conn>(port, from));
    Conn third(port, "127.0.0.2");
    EXPECT_TRUE(third.closedByPeer());
    EXPECT_EQ(send("GET", "/api/v1/status", {}, {}, {}, "127.0.0.4").status, 200);
    EXPECT_TRUE(held[0]->closedByPeer()); // the longest idle, of an address holding most
    const Reply metrics = send("GET", "/metrics", {}, {}, {}, "127.0.0.5");
    EXPECT_EQ(metric(metrics, "quorveld_http_connections_refused_total{reason=\"per_address\"}"),
              1u);
    EXPECT_GE(metric(metrics, "quorveld_http_connections_evicted_total"), 1u);
}

// --allow is asked at each accept: a refused client gets no byte.
TEST_F(HttpDoor, TheAllowCheckIsAskedAtEachAccept)
{
    std::atomic<bool> strangersToo = false;
    serve({}, [&](const boost::asio::ip::address &address) {
        return strangersToo || address == boost::asio::ip::make_address("127.0.0.2");
    });
    Conn stranger(port, "127.0.0.3");
    stranger.write(requestText(port, "GET", "/api/v1/status"));
    EXPECT_TRUE(stranger.closedByPeer());
    EXPECT_EQ(send("GET", "/api/v1/status", {}, {}, {}, "127.0.0.2").status, 200);
    strangersToo = true;
    EXPECT_EQ(send("GET", "/api/v1/status", {}, {}, {}, "127.0.0.3").status, 200);
}

// A reply goes out whole in one write: on a kept-alive connection its body
// never waits for the client's acknowledgement of its head.
TEST_F(HttpDoor, AReplyOnAKeptAliveConnectionComesInOneWrite)
{
    Conn kept(port);
    for (int value : {4, 5, 6}) {
        kept.write(requestText(port, "PATCH", Fields, Json{{"ram.pty", value}}.dump(), JsonType));
        const std::string first = kept.some();
        EXPECT_TRUE(first.starts_with("HTTP/1.1 202")) << first;
        EXPECT_TRUE(first.ends_with("}\n")) << value << ": " << first;
    }
}

Headers basic(const std::string &pair)
{
    return {{"Authorization", "Basic " + qd::base64Encode(pair)}};
}

// Failed logins are logged, rate-limited, with the address; an address that
// keeps failing waits (429) without a check; credentials that passed are not
// derived again.
TEST_F(HttpDoor, FailedLoginsAreLoggedAndAnAddressThatKeepsFailingWaits)
{
    qd::HttpOptions options;
    options.passwordFile = file("pw", qd::hashPasswordLine("ops", "right", 1000) + "\n");
    options.metricsPublic = true;
    serve(options);
    testing::internal::CaptureStderr();
    std::vector<int> statuses;
    for (int guess = 0; guess < 30 && (statuses.empty() || statuses.back() != 429); guess++) {
        const Reply reply = send("PATCH", Fields, R"({"ram.pty": 1})", JsonType,
                                 basic("ops:guess " + std::to_string(guess)));
        statuses.push_back(reply.status);
        if (reply.status == 429) {
            EXPECT_GE(std::stoi(reply.header("Retry-After")), 1);
        }
    }
    ASSERT_GE(statuses.size(), 7u);
    EXPECT_EQ(std::vector(statuses.begin(), statuses.begin() + 6), std::vector(6, 401));
    EXPECT_EQ(statuses.back(), 429);
    for (int poll = 0; poll < 3; poll++)
        EXPECT_EQ(
            send("PATCH", Fields, R"({"ram.pty": 2})", JsonType, basic("ops:right"), "127.0.0.2")
                .status,
            202);
    const Reply metrics = send("GET", "/metrics");
    EXPECT_EQ(metric(metrics, "quorveld_http_password_checks_total"), statuses.size());
    EXPECT_EQ(metric(metrics, "quorveld_http_failed_logins_total"), statuses.size() - 1);
    onLoop([this] { server.reset(); }); // the lines counted meanwhile go out
    const std::string line = "quorveld: http: failed login as \"ops\" from 127.0.0.1";
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              line + "\n" + "quorveld: http 127.0.0.2 (ops): ram.pty 10 -> 2\n" + line + " (" +
                  std::to_string(statuses.size() - 2) + " more like it)\n");
}

// One check at a time, a short queue behind it: past it, 503 at once, and
// other requests are answered meanwhile.
TEST_F(HttpDoor, PasswordChecksWaitInAShortQueue)
{
    qd::HttpOptions options;
    options.passwordFile = file("pw", qd::hashPasswordLine("ops", "right", 2'000'000) + "\n");
    options.limits.loginQueue = 1;
    serve(options);
    std::vector<std::unique_ptr<Conn>> guessers;
    for (const char *from : {"127.0.0.11", "127.0.0.12", "127.0.0.13", "127.0.0.14"}) {
        guessers.push_back(std::make_unique<Conn>(port, from));
        guessers.back()->write(
            requestText(port, "PATCH", Fields, "{}", JsonType, basic(std::string("ops:") + from)));
    }
    EXPECT_EQ(send("GET", "/api/v1/status").status, 200);
    std::map<int, int> statuses;
    for (const auto &guesser : guessers) {
        const Reply reply = guesser->reply();
        statuses[reply.status]++;
        if (reply.status == 503) {
            EXPECT_EQ(reply.header("Retry-After"), "1");
        }
    }
    EXPECT_EQ(statuses[401] + statuses[503], 4);
    EXPECT_GE(statuses[503], 2);
    EXPECT_GE(statuses[401], 1);
}

// The event stream: the version at once, a change event after each change, a
// comment line as heartbeat, no head deadline; its own cap; ended at stop.
TEST_F(HttpDoor, AnEventStreamTellsOfChangesBeatsAndEndsAtStop)
{
    qd::HttpOptions options;
    options.limits.maxStreams = 1;
    options.limits.deadline = std::chrono::milliseconds(100);
    options.limits.heartbeat = std::chrono::milliseconds(300);
    serve(options);
    Conn stream(port);
    stream.write(requestText(port, "GET", "/api/v1/events"));
    std::string got;
    const auto until = [&](const std::string &text) { // each read 10 s at most
        std::string more = "-";
        for (int reads = 0; reads < 50 && !more.empty() && got.find(text) == std::string::npos;)
            got += more = stream.some(), reads++;
        return got.find(text) != std::string::npos;
    };
    ASSERT_TRUE(until("}\n\n")) << got;
    EXPECT_TRUE(got.starts_with("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n")) << got;
    const size_t data = got.find("\r\n\r\nretry: 5000\n\nevent: change\ndata: {\"version\":");
    ASSERT_NE(data, std::string::npos) << got;
    const uint64_t version = std::stoull(got.substr(got.find("\"version\":") + 10));
    EXPECT_EQ(send("GET", "/api/v1/events").status, 503);
    EXPECT_EQ(send("PATCH", Fields, R"({"ram.pty": 8})", JsonType).status, 202);
    got.clear();
    ASSERT_TRUE(until("}\n\n")) << got;
    EXPECT_GT(std::stoull(got.substr(got.find("\"version\":") + 10)), version) << got;
    got.clear();
    EXPECT_TRUE(until(":\n\n")) << got;
    onLoop([this] { server.reset(); });
    EXPECT_TRUE(stream.closedByPeer());
}

// An address that keeps failing waits for a time that doubles from 1 s to
// 5 minutes after five failures; a success or 15 quiet minutes forget it;
// the table holds a bounded number of addresses.
TEST(LoginThrottle, WaitsDoubleAfterFiveFailuresAndAreForgotten)
{
    using std::chrono::minutes, std::chrono::seconds;
    const qd::LoginThrottle::Clock::time_point t0{};
    qd::LoginThrottle throttle(2);
    std::vector<int64_t> waits;
    for (int failure = 1; failure <= 16; failure++) {
        throttle.failed("a", t0 + seconds(failure));
        waits.push_back(throttle.wait("a", t0 + seconds(failure)).count());
    }
    EXPECT_EQ(waits,
              (std::vector<int64_t>{0, 0, 0, 0, 0, 1, 2, 4, 8, 16, 32, 64, 128, 256, 300, 300}));
    EXPECT_EQ(throttle.wait("a", t0 + seconds(16 + 299)).count(), 1);
    EXPECT_EQ(throttle.wait("a", t0 + seconds(16 + 300)).count(), 0);
    throttle.failed("a", t0 + seconds(16) + minutes(15)); // quiet long enough: counted anew
    EXPECT_EQ(throttle.wait("a", t0 + seconds(16) + minutes(15)).count(), 0);
    for (int failure = 0; failure < 6; failure++)
        throttle.failed("b", t0);
    throttle.succeeded("b");
    EXPECT_EQ(throttle.wait("b", t0).count(), 0);
    for (const char *address : {"b", "c", "d"})
        throttle.failed(address, t0 + minutes(20));
    EXPECT_EQ(throttle.size(), 2u);
}

// Verified credentials are remembered for five minutes, others never.
TEST(Credentials, PassedCredentialsAreRememberedForFiveMinutes)
{
    const qd::Credentials password(qd::hashPasswordLine("ops", "pw", 10), "p");
    const qd::Credentials::Clock::time_point t0{};
    const std::string right = "Basic " + qd::base64Encode("ops:pw");
    const std::string wrong = "Basic " + qd::base64Encode("ops:px");
    EXPECT_FALSE(password.remembered(right, t0));
    EXPECT_FALSE(password.verify(wrong, t0));
    EXPECT_TRUE(password.verify(right, t0));
    EXPECT_EQ(password.derivations(), 2u);
    for (const auto &[authorization, after, remembered] :
         {std::tuple{right, std::chrono::seconds(299), true},
          {right, std::chrono::seconds(300), false},
          {wrong, std::chrono::seconds(1), false}})
        EXPECT_EQ(password.remembered(authorization, t0 + after), remembered) << after.count();
    EXPECT_TRUE(password.verify(right, t0 + std::chrono::seconds(1)));
    EXPECT_EQ(password.derivations(), 2u);
    EXPECT_EQ(qd::Credentials::userOf("Basic " + qd::base64Encode("o\x01ps:x")), "o?ps");
}

} // namespace
