// The HTTP door's defences over loopback: Host names, Basic authentication,
// TLS, the listener rules, and no file of the machine served.
#include "HttpAuth.h"
#include "HttpDoor.h"

#include <boost/asio/ssl.hpp>

#include <cstdlib>

namespace {

const char *const Fields = "/api/v1/fields", *const Pty7 = R"({"ram.pty": 7})";

qd::HttpOptions on(std::vector<std::string> listen)
{
    qd::HttpOptions options;
    options.listen = std::move(listen);
    return options;
}

// DNS rebinding: a Host naming neither the listener nor an --http-host is refused.
TEST_F(HttpDoor, AHostNamingNeitherTheListenerNorAGivenNameIsRefused)
{
    qd::HttpOptions options;
    options.hosts = {"Encoder.Site.example"};
    serve(options);
    const std::string p = std::to_string(port);
    for (const auto &[host, status] :
         std::vector<std::pair<std::string, int>>{{"127.0.0.1:" + p, 200},
                                                  {"127.0.0.1", 200},
                                                  {"localhost:" + p, 200},
                                                  {"LOCALHOST", 200},
                                                  {"encoder.site.example:8080", 200},
                                                  {"evil.example", 403},
                                                  {"127.0.0.1.evil.example", 403},
                                                  {"encoder.site.example.evil.example", 403},
                                                  {"[::1]:" + p, 403},
                                                  {"", 403}}) {
        EXPECT_EQ(send("GET", "/api/v1/status", {}, {}, {{"Host", host}}).status, status) << host;
        EXPECT_EQ(send("PATCH", Fields, Pty7, JsonType, {{"Host", host}}).status,
                  status == 200 ? 202 : 403)
            << host;
    }
    // An IPv6 listener is named by its bracketed address.
    serve(on({"[::1]:0"}));
    const std::string bound = server->addresses().at(0);
    ASSERT_TRUE(bound.starts_with("[::1]:")) << bound;
    EXPECT_EQ(send("GET", "/api/v1/status", {}, {}, {{"Host", bound}}, "::1").status, 200);
    EXPECT_EQ(send("GET", "/api/v1/status", {}, {}, {{"Host", "evil.example"}}, "::1").status, 403);
}

// Each listener logged as bound; off loopback only with a password; bad addresses refused.
TEST_F(HttpDoor, StartLogsEachListenerAndRefusesAnAddressOffLoopbackWithoutAPassword)
{
    testing::internal::CaptureStderr();
    serve(on({"127.0.0.1:0", "127.0.0.2:0"}));
    const std::string log = testing::internal::GetCapturedStderr();
    const std::vector<std::string> bound = server->addresses();
    ASSERT_EQ(bound.size(), 2u);
    for (const std::string &address : bound) {
        EXPECT_FALSE(address.ends_with(":0")) << address;
        EXPECT_NE(log.find("listening on http://" + address + "\n"), std::string::npos) << log;
    }
    const std::string refused[] = {"0.0.0.0:0", "[::]:0",       "192.0.2.1:8080", // off loopback
                                   "127.0.0.1", "localhost:80", "127.0.0.1:70000",
                                   "[::1:80",   bound[0]};
    const std::string token = file("token", "tok\n"); // a token is no password
    for (const std::string &where : refused) {
        qd::HttpOptions options = on({where});
        options.tokenFile = token;
        try {
            onLoop([&] {
                qd::HttpServer other(io, station, options);
                other.start();
            });
            ADD_FAILURE() << where << " started";
        } catch (const std::runtime_error &e) {
            const std::string message = e.what();
            EXPECT_EQ(message.find("needs --http-password-file") != std::string::npos,
                      &where < refused + 3)
                << message;
        }
    }
}

Headers basic(const std::string &pair, const char *token = nullptr)
{
    Headers headers = {{"Authorization", "Basic " + qd::base64Encode(pair)}};
    if (token)
        headers.emplace_back("X-Quorveld-Token", token);
    return headers;
}

// With a password: every change and the metrics need it, reads do not;
// --metrics-public opens only the metrics.
TEST_F(HttpDoor, EveryChangeNeedsThePasswordAndReadsDoNot)
{
    qd::HttpOptions options;
    options.passwordFile = file("pw", qd::hashPasswordLine("ops", "right horse", 1000) + "\n");
    options.tokenFile = file("token", "tok\n");
    serve(options);
    const Headers bearer = {{"Authorization", "Bearer right horse"}};
    for (const Headers &wrong : {Headers{}, basic("ops:wrong horse"), bearer}) {
        const auto patch = send("PATCH", Fields, Pty7, JsonType, wrong);
        EXPECT_EQ(patch.status, 401);
        EXPECT_EQ(patch.header("WWW-Authenticate"), "Basic realm=\"quorveld\", charset=\"UTF-8\"");
        EXPECT_EQ(send("POST", "/api/v1/nowplaying", R"({"text": "x"})", JsonType, wrong).status,
                  401);
        Headers withToken = wrong;
        withToken.emplace_back("X-Quorveld-Token", "tok");
        EXPECT_EQ(send("GET", "/api/v1/nowplaying?text=x", {}, {}, withToken).status, 401);
        EXPECT_EQ(send("GET", "/metrics", {}, {}, wrong).status, 401);
    }
    for (const char *read : {Fields, "/api/v1/status", "/"})
        EXPECT_EQ(send("GET", read).status, 200) << read;
    EXPECT_EQ(sent(), Requests{});

    EXPECT_EQ(send("PATCH", Fields, Pty7, JsonType, basic("ops:right horse")).status, 202);
    EXPECT_EQ(sent(), Requests{ok(0x23, 7)});
    // The remembered credentials let only the same pair in.
    EXPECT_EQ(send("PATCH", Fields, Pty7, JsonType, basic("ops:right hors")).status, 401);
    EXPECT_EQ(send("GET", "/metrics", {}, {}, basic("ops:right horse")).status, 200);
    const char *hi = "/api/v1/nowplaying?text=Hi";
    EXPECT_EQ(send("GET", hi, {}, {}, basic("ops:right horse", "tok")).status, 202);
    EXPECT_EQ(ramRt(), rtImage("Hi"));
    EXPECT_EQ(send("GET", hi, {}, {}, basic("ops:right horse")).status, 403);

    options.metricsPublic = true;
    serve(options);
    EXPECT_EQ(send("GET", "/metrics").status, 200);
    EXPECT_EQ(send("PATCH", Fields, Pty7, JsonType).status, 401);
}

// Only the page's own files: no path reaches the machine's files.
TEST_F(HttpDoor, NoFileOfTheMachineIsEverServed)
{
    for (const char *target :
         {"/etc/passwd", "/../../../../etc/passwd", "/%2e%2e/%2e%2e/%2e%2e/etc/passwd",
          "/app.js/../../../../etc/passwd", "/api/v1/fields/..%2f..%2f..%2fetc%2fpasswd",
          "/web/index.html", "/CMakeLists.txt", "/proc/self/environ", "/app.js?f=/etc/passwd/"}) {
        const auto reply = send("GET", target);
        const int expected = std::string(target).starts_with("/app.js?") ? 200 : 404;
        EXPECT_TRUE(reply.status == expected || reply.status == 400) << target << reply.status;
        EXPECT_EQ(reply.body.find("root:"), std::string::npos) << target;
        EXPECT_EQ(reply.body.find("PATH="), std::string::npos) << target;
    }
}

// One request over TLS, the certificate taken unchecked: the reply's status, 0 for none.
int overTls(int port, const std::string &request)
{
    namespace net = boost::asio;
    net::ssl::context context(net::ssl::context::tls_client);
    context.set_verify_mode(net::ssl::verify_none);
    Conn conn(port);
    net::ssl::stream<net::ip::tcp::socket &> stream(conn.socket, context);
    boost::system::error_code error;
    stream.handshake(net::ssl::stream_base::client, error);
    net::write(stream, net::buffer(request), error);
    boost::beast::http::response<boost::beast::http::string_body> reply;
    boost::beast::http::read(stream, conn.buffer, reply, error);
    return error ? 0 : static_cast<int>(reply.result_int());
}

// With a certificate and its key: HTTPS only; a missing or empty key refused.
TEST_F(HttpDoor, TlsServesHttpsOnly)
{
    qd::HttpOptions options = on({"127.0.0.1:0"});
    options.tlsCert = dir.path("cert.pem");
    options.tlsKey = dir.path("key.pem");
    const std::string make = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes "
                             "-days 1 -subj /CN=127.0.0.1 -out " +
                             options.tlsCert + " -keyout " + options.tlsKey + " 2>/dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0);
    testing::internal::CaptureStderr();
    serve(options);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("listening on https://127.0.0.1:"),
              std::string::npos);
    EXPECT_EQ(overTls(port, requestText(port, "PATCH", Fields, R"({"ram.pty": 9})", JsonType)),
              202);
    EXPECT_EQ(sent(), Requests{ok(0x23, 9)});
    Conn plain(port);
    plain.write(requestText(port, "GET", "/api/v1/status"));
    EXPECT_EQ(plain.reply().status, 0);
    for (const std::string &badKey : {std::string(), file("empty.pem", "")}) {
        options.tlsKey = badKey;
        EXPECT_THROW(onLoop([&] { qd::HttpServer(io, station, options).start(); }),
                     std::runtime_error)
            << badKey;
    }
}

} // namespace
