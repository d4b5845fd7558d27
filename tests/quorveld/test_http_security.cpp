// The HTTP door's defences over loopback: Host names, Basic authentication,
// TLS, the listener rules, and no file of the machine served.
#include "HttpAuth.h"
#include "HttpDoor.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>

namespace {

const char *const JsonType = "application/json";

TEST_F(HttpDoor, AHostNamingNeitherTheListenerNorAGivenNameIsRefused)
{
    qd::HttpOptions options;
    options.hosts = {"Encoder.Site.example"};
    serve(options);
    const std::string self = "127.0.0.1:" + std::to_string(port);
    const struct {
        std::string host;
        int status;
    } cases[] = {
        {self, 200},
        {"127.0.0.1", 200},
        {"localhost:" + std::to_string(port), 200},
        {"LOCALHOST", 200},
        {"encoder.site.example:8080", 200},
        {"evil.example", 403},
        {"127.0.0.1.evil.example", 403},
        {"encoder.site.example.evil.example", 403},
        {"[::1]:" + std::to_string(port), 403},
        {"", 403},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(send("GET", "/api/v1/status", {}, {}, {{"Host", c.host}})->status, c.status) << c.host;
        EXPECT_EQ(send("PATCH", "/api/v1/fields", R"({"ram.pty": 7})", JsonType, {{"Host", c.host}})->status,
                  c.status == 200 ? 202 : 403) << c.host;
    }
    EXPECT_EQ(raw("GET /api/v1/status HTTP/1.0\r\n\r\n"), 403);
}

TEST_F(HttpDoor, AnIpv6ListenerIsNamedByItsBracketedAddress)
{
    qd::HttpOptions options;
    options.listen = {"[::1]:0"};
    server = std::make_unique<qd::HttpServer>(io, *station, options);
    server->start();
    const std::string bound = server->addresses().at(0);
    ASSERT_TRUE(bound.starts_with("[::1]:")) << bound;
    httplib::Client client("::1", std::stoi(bound.substr(6)));
    EXPECT_EQ(client.Get("/api/v1/status", {{"Host", bound}})->status, 200);
    EXPECT_EQ(client.Get("/api/v1/status", {{"Host", "evil.example"}})->status, 403);
}

TEST_F(HttpDoor, StartLogsEachListenerAndRefusesAnAddressOffLoopbackWithoutAPassword)
{
    qd::HttpOptions options;
    options.listen = {"127.0.0.1:0", "127.0.0.2:0"};
    server = std::make_unique<qd::HttpServer>(io, *station, options);
    testing::internal::CaptureStderr();
    server->start();
    const std::string log = testing::internal::GetCapturedStderr();
    const std::vector<std::string> bound = server->addresses();
    ASSERT_EQ(bound.size(), 2u);
    for (const std::string &address : bound) {
        EXPECT_NE(address.find(":"), std::string::npos);
        EXPECT_FALSE(address.ends_with(":0")) << address;
        EXPECT_NE(log.find("listening on http://" + address + "\n"), std::string::npos) << log;
    }

    for (const char *where : {"0.0.0.0:0", "[::]:0", "192.0.2.1:8080"}) {
        qd::HttpServer open(io, *station, {{where}, {}, {}, {}, {}, {}, false});
        try {
            open.start();
            ADD_FAILURE() << where << " started";
        } catch (const std::runtime_error &e) {
            EXPECT_NE(std::string(e.what()).find("needs --http-password-file"), std::string::npos) << e.what();
        }
    }
    for (const char *where : {"127.0.0.1", "localhost:80", "127.0.0.1:70000", "[::1:80"}) {
        qd::HttpServer bad(io, *station, {{where}, {}, {}, {}, {}, {}, false});
        EXPECT_THROW(bad.start(), std::runtime_error) << where;
    }
    qd::HttpServer taken(io, *station, {{bound[0]}, {}, {}, {}, {}, {}, false});
    EXPECT_THROW(taken.start(), std::runtime_error);
}

class PasswordDoor : public HttpDoor {
protected:
    void serveWithPassword(bool metricsPublic)
    {
        qd::HttpOptions options;
        options.passwordFile = file("passwords", "# operators\n" + qd::hashPasswordLine("ops", "right horse", 1000) + "\n");
        options.tokenFile = file("token", "tok\n");
        options.metricsPublic = metricsPublic;
        serve(options);
    }
    static httplib::Headers basic(const std::string &pair)
    {
        return {{"Authorization", "Basic " + qd::base64Encode(pair)}};
    }
};

TEST_F(PasswordDoor, EveryChangeNeedsThePasswordAndReadsDoNot)
{
    serveWithPassword(false);
    for (const httplib::Headers &wrong :
         {httplib::Headers{}, basic("ops:wrong horse"), basic("root:right horse"), basic("ops:right horse "),
          httplib::Headers{{"Authorization", "Bearer right horse"}}, httplib::Headers{{"Authorization", "Basic !!!!"}}}) {
        const auto patch = send("PATCH", "/api/v1/fields", R"({"ram.pty": 7})", JsonType, wrong);
        EXPECT_EQ(patch->status, 401);
        EXPECT_EQ(patch->get_header_value("WWW-Authenticate"), "Basic realm=\"quorveld\", charset=\"UTF-8\"");
        EXPECT_EQ(send("POST", "/api/v1/nowplaying", R"({"text": "x"})", JsonType, wrong)->status, 401);
        httplib::Headers withToken = wrong;
        withToken.emplace("X-Quorveld-Token", "tok");
        EXPECT_EQ(send("GET", "/api/v1/nowplaying?text=x", {}, {}, withToken)->status, 401);
        EXPECT_EQ(send("GET", "/metrics", {}, {}, wrong)->status, 401);
    }
    EXPECT_EQ(send("GET", "/api/v1/fields")->status, 200);
    EXPECT_EQ(send("GET", "/api/v1/status")->status, 200);
    EXPECT_EQ(send("GET", "/")->status, 200);
    EXPECT_EQ(sent(), std::vector<sim::Request>{});

    const httplib::Headers right = basic("ops:right horse");
    EXPECT_EQ(send("PATCH", "/api/v1/fields", R"({"ram.pty": 7})", JsonType, right)->status, 202);
    EXPECT_EQ(sent(), std::vector{ok(0x23, 7)});
    // The remembered credentials let only the same pair in.
    EXPECT_EQ(send("PATCH", "/api/v1/fields", R"({"ram.pty": 8})", JsonType, basic("ops:right hors"))->status, 401);
    EXPECT_EQ(send("GET", "/metrics", {}, {}, right)->status, 200);
    httplib::Headers rightWithToken = right;
    rightWithToken.emplace("X-Quorveld-Token", "tok");
    EXPECT_EQ(send("GET", "/api/v1/nowplaying?text=Hi", {}, {}, rightWithToken)->status, 202);
    EXPECT_EQ(ramRt(), rtImage("Hi"));
    EXPECT_EQ(send("GET", "/api/v1/nowplaying?text=Ho", {}, {}, right)->status, 403);
}

TEST_F(PasswordDoor, MetricsPublicOpensOnlyTheMetrics)
{
    serveWithPassword(true);
    EXPECT_EQ(send("GET", "/metrics")->status, 200);
    EXPECT_EQ(send("PATCH", "/api/v1/fields", R"({"ram.pty": 7})", JsonType)->status, 401);
}

TEST_F(HttpDoor, NoFileOfTheMachineIsEverServed)
{
    serve();
    for (const char *target :
         {"/etc/passwd", "/../../../../etc/passwd", "/%2e%2e/%2e%2e/%2e%2e/etc/passwd", "//etc/passwd",
          "/app.js/../../../../etc/passwd", "/api/v1/fields/../../../../etc/passwd",
          "/api/v1/fields/..%2f..%2f..%2fetc%2fpasswd", "/web/index.html", "/web/app.js", "/CMakeLists.txt",
          "/proc/self/environ", "/index.html%00.js", "/.%2e/etc/passwd", "/app.js?file=/etc/passwd/"}) {
        const auto reply = send("GET", target);
        ASSERT_TRUE(reply) << target;
        if (std::string(target).starts_with("/app.js?"))
            EXPECT_EQ(reply->status, 200);
        else
            EXPECT_TRUE(reply->status == 404 || reply->status == 400) << target << " " << reply->status;
        EXPECT_EQ(reply->body.find("root:"), std::string::npos) << target;
        EXPECT_EQ(reply->body.find("PATH="), std::string::npos) << target;
    }
}

// A self-signed certificate and its key in PEM files.
void makeCertificate(const std::string &certPath, const std::string &keyPath)
{
    EVP_PKEY *key = EVP_EC_gen("P-256");
    X509 *cert = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
    X509_set_pubkey(cert, key);
    X509_NAME *name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509_sign(cert, key, EVP_sha256());
    FILE *out = std::fopen(certPath.c_str(), "w");
    PEM_write_X509(out, cert);
    std::fclose(out);
    out = std::fopen(keyPath.c_str(), "w");
    PEM_write_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(out);
    X509_free(cert);
    EVP_PKEY_free(key);
}

TEST_F(HttpDoor, TlsServesHttpsOnly)
{
    qd::HttpOptions options;
    options.tlsCert = dir + "/cert.pem";
    options.tlsKey = dir + "/key.pem";
    makeCertificate(options.tlsCert, options.tlsKey);
    testing::internal::CaptureStderr();
    serve(options);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("listening on https://127.0.0.1:"), std::string::npos);

    httplib::SSLClient secure("127.0.0.1", port);
    secure.enable_server_certificate_verification(false);
    const auto reply = secure.Patch("/api/v1/fields", R"({"ram.pty": 9})", JsonType);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 202);
    EXPECT_EQ(sent(), std::vector{ok(0x23, 9)});
    httplib::Client plain("127.0.0.1", port);
    plain.set_read_timeout(5);
    EXPECT_FALSE(plain.Get("/api/v1/status"));

    for (const auto &[cert, key] : {std::pair{options.tlsCert, std::string()},
                                    {options.tlsCert, file("empty.pem", "")}}) {
        qd::HttpServer bad(io, *station, {{"127.0.0.1:0"}, {}, {}, cert, key, {}, false});
        EXPECT_THROW(bad.start(), std::runtime_error) << key;
    }
}

} // namespace
