// The JSON API, the now-playing webhook, the metrics and the page over
// loopback HTTP, asserting what the simulated board received.
#include "HttpDoor.h"

namespace {

const char *const Patch = "PATCH";
const char *const JsonType = "application/json";

Json body(const httplib::Result &result)
{
    return Json::parse(result->body, nullptr, false);
}

TEST_F(HttpDoor, FieldsAreTheBoardsAsQuorvelCtlShowsThemAndReadingSendsNothing)
{
    serve();
    const auto all = send("GET", "/api/v1/fields");
    ASSERT_TRUE(all);
    EXPECT_EQ(all->status, 200);
    EXPECT_EQ(all->get_header_value("Content-Type"), "application/json");
    const Json fields = body(all)["fields"];
    EXPECT_EQ(fields.size(), 43u);
    EXPECT_EQ(fields["ram.ps"], "QUORVEL ");
    EXPECT_EQ(fields["ram.rt"], "Quorvel RDS encoder - simulated board");
    EXPECT_EQ(fields["ram.pty"], 10);
    EXPECT_EQ(fields["ram.tp"], 1);
    EXPECT_EQ(fields["eeprom.pi"], "0xC201");
    EXPECT_EQ(fields["eeprom.naf"], 5);
    EXPECT_EQ(fields["eeprom.af01"], 98.5);
    EXPECT_EQ(fields["eeprom.af04"], 107.9);
    EXPECT_EQ(fields["eeprom.group2a"], 4);
    EXPECT_EQ(body(all)["pending"], Json::object());
    EXPECT_TRUE(body(all)["version"].is_number_unsigned());

    const auto one = send("GET", "/api/v1/fields/eeprom.pi");
    EXPECT_EQ(one->status, 200);
    EXPECT_EQ(body(one), (Json{{"field", "eeprom.pi"}, {"value", "0xC201"}}));
    EXPECT_EQ(send("GET", "/api/v1/fields/eeprom.nothing")->status, 404);
    EXPECT_EQ(send("GET", "/api/v1/fields/")->status, 404);
    EXPECT_TRUE(board->log().empty());
}

TEST_F(HttpDoor, StatusAndMetricsTellTheBoardsStateAndTheCounts)
{
    serve();
    const auto status = send("GET", "/api/v1/status");
    EXPECT_EQ(status->status, 200);
    EXPECT_EQ(body(status)["board"], "present");
    EXPECT_EQ(body(status)["pending_writes"], 0);

    EXPECT_EQ(send(Patch, "/api/v1/fields", R"({"ram.pty": 40})", JsonType)->status, 422);
    EXPECT_EQ(send(Patch, "/api/v1/fields", R"({"ram.pty": 3})", "text/plain")->status, 415);
    EXPECT_EQ(send(Patch, "/api/v1/fields", R"({"ram.pty": 3})", JsonType)->status, 202);
    settle();
    const auto metrics = send("GET", "/metrics");
    EXPECT_EQ(metrics->status, 200);
    EXPECT_EQ(metrics->get_header_value("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
    for (const char *line : {"quorveld_board_up 1\n", "quorveld_commands_total{protocol=\"http\"} 3\n",
                             "quorveld_refused_values_total{protocol=\"http\"} 2\n",
                             "quorveld_pending_writes 0\n"})
        EXPECT_NE(metrics->body.find(line), std::string::npos) << line << metrics->body;
}

TEST_F(HttpDoor, TheStatusCountsTheConnectionsBeingServed)
{
    serve();
    const std::string listener = "http 127.0.0.1:" + std::to_string(port);
    const auto clients = [&] { return body(send("GET", "/api/v1/status"))["clients"][listener]; };
    EXPECT_EQ(clients(), 1);
    httplib::Client kept("127.0.0.1", port);
    kept.set_keep_alive(true);
    ASSERT_EQ(kept.Get("/api/v1/status")->status, 200);
    EXPECT_EQ(clients(), 2);
    kept.stop();
    for (int i = 0; i < 400 && clients() != 1; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(clients(), 1);
}

TEST_F(HttpDoor, ARadioTextChangeWritesOnlyTheBlocksThatDiffer)
{
    serve();
    const auto reply = send(Patch, "/api/v1/fields", R"({"ram.rt": "Quorvel RDS encoder - simulated boat"})", JsonType);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 202);
    EXPECT_EQ(body(reply)["pending"]["ram.rt"], "Quorvel RDS encoder - simulated boat");
    // "boar" "d\r\r\r" become "boat" "\r\r\r\r": blocks 8 and 9.
    EXPECT_EQ(sent(), (std::vector{ok(0x38, 0x626F, 0x6174), ok(0x39, 0x0D0D, 0x0D0D)}));
    EXPECT_EQ(body(send("GET", "/api/v1/fields/ram.rt")),
              (Json{{"field", "ram.rt"}, {"value", "Quorvel RDS encoder - simulated boat"}}));
}

TEST_F(HttpDoor, SeveralFieldsInOnePatchEachWriteTheirRequest)
{
    serve();
    EXPECT_EQ(send(Patch, "/api/v1/fields",
                   R"({"ram.pty": 5, "ram.ps": "RADIO 1", "eeprom.pi": "0xD3A2", "eeprom.group2a": "7"})",
                   "application/json; charset=utf-8")->status, 202);
    std::vector<sim::Request> log = sent();
    std::sort(log.begin(), log.end(), [](const auto &a, const auto &b) { return a.code < b.code; });
    EXPECT_EQ(log, (std::vector{ok(0x02, 7), ok(0x21, 0x5241, 0x4449), ok(0x22, 0x4F20, 0x3120),
                                ok(0x23, 5), ok(0x68, 0xD3A2)}));
}

TEST_F(HttpDoor, TheAfListSetsTheFrequenciesAndTheirNumber)
{
    serve();
    // AF00 is 87.6 already; AF01 becomes 90.2 (code 27), two in use.
    EXPECT_EQ(send(Patch, "/api/v1/fields", R"({"af": [87.6, "90.2"]})", JsonType)->status, 202);
    std::vector<sim::Request> log = sent();
    std::sort(log.begin(), log.end(), [](const auto &a, const auto &b) { return a.code < b.code; });
    EXPECT_EQ(log, (std::vector{ok(0x69, 2), ok(0x6A, 27, 1)}));
}

struct Refused {
    const char *body;
    const char *field;
    const char *says;
};

class RefusedPatch : public HttpDoor, public testing::WithParamInterface<Refused> {};

TEST_P(RefusedPatch, NamesTheFieldAndItsRangeAndSendsNothing)
{
    serve();
    const auto reply = send(Patch, "/api/v1/fields", GetParam().body, JsonType);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 422);
    const Json refused = body(reply)["refused"];
    ASSERT_EQ(refused.size(), 1u) << reply->body;
    EXPECT_EQ(refused[0]["field"], GetParam().field);
    const std::string message = refused[0]["message"];
    EXPECT_NE(message.find(GetParam().says), std::string::npos) << message;
    EXPECT_EQ(message.find("--force"), std::string::npos) << message;
    EXPECT_EQ(sentBeforeMark(), std::vector<sim::Request>{});
    EXPECT_EQ(body(send("GET", "/api/v1/fields"))["pending"], Json::object());
}

INSTANTIATE_TEST_SUITE_P(
    Values, RefusedPatch,
    testing::Values(Refused{R"({"ram.ps": "NEWNAME", "ram.pty": 40})", "ram.pty", "40 is outside 0-31"},
                    Refused{R"({"ram.di": 16, "ram.rt": "x"})", "ram.di", "0-15"},
                    Refused{R"({"ram.ps": "NINE CHAR"})", "ram.ps", "at most 8"},
                    Refused{R"({"eeprom.af03": 108.5})", "eeprom.af03", "87.6-107.9 MHz"},
                    Refused{R"({"eeprom.pi": "C2"})", "eeprom.pi", "four hexadecimal digits"},
                    Refused{R"({"eeprom.naf": 26})", "eeprom.naf", "0-25"},
                    Refused{R"({"ram.rt": "\u2603"})", "ram.rt", "ram.rt"},
                    Refused{R"({"ram.ms": "1", "ram.tp": true})", "ram.tp", "neither a string nor a number"},
                    Refused{R"({"ram.tq": 1})", "ram.tq", "no such field"}));

struct Malformed {
    const char *method, *target, *body, *type;
    int status;
    const char *says;
};

class MalformedRequest : public HttpDoor, public testing::WithParamInterface<Malformed> {};

TEST_P(MalformedRequest, IsRefusedWithItsStatusAndAMessageAndSendsNothing)
{
    serve();
    const Malformed &m = GetParam();
    const auto reply = send(m.method, m.target, m.body, m.type);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, m.status);
    if (std::string(m.method) != "HEAD") {
        EXPECT_NE(body(reply)["error"].get<std::string>().find(m.says), std::string::npos) << reply->body;
    }
    EXPECT_EQ(sentBeforeMark(), std::vector<sim::Request>{});
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, MalformedRequest,
    testing::Values(Malformed{"PATCH", "/api/v1/fields", R"({"ram.pty": )", "application/json", 400, "malformed JSON"},
                    Malformed{"PATCH", "/api/v1/fields", "[1]", "application/json", 400, "object"},
                    Malformed{"PATCH", "/api/v1/fields", "{}", "application/json", 400, "object"},
                    Malformed{"PATCH", "/api/v1/fields", R"({"ram.pty": 3})", "text/plain", 415, "application/json"},
                    Malformed{"PATCH", "/api/v1/fields", "ram.pty=3", "application/x-www-form-urlencoded", 415, "application/json"},
                    Malformed{"PATCH", "/api/v1/fields", R"({"ram.pty": 3})", "", 415, "application/json"},
                    Malformed{"POST", "/api/v1/nowplaying", "{\"text\": \"a\"", "application/json", 400, "malformed JSON"},
                    Malformed{"POST", "/api/v1/nowplaying", R"({"song": "a"})", "application/json", 400, "no \"text\""},
                    Malformed{"POST", "/api/v1/nowplaying", R"({"text": 5})", "application/json", 400, "not a string"},
                    Malformed{"POST", "/api/v1/nowplaying", R"({"now_playing": {}})", "application/json", 400, "song"},
                    Malformed{"POST", "/api/v1/nowplaying", "text=a", "application/x-www-form-urlencoded", 415, "text/plain"},
                    Malformed{"POST", "/api/v1/fields", R"({"ram.pty": 3})", "application/json", 405, "POST"},
                    Malformed{"PUT", "/api/v1/fields", R"({"ram.pty": 3})", "application/json", 405, "PUT"},
                    Malformed{"DELETE", "/api/v1/fields", "", "", 405, "DELETE"},
                    Malformed{"PATCH", "/api/v1/status", R"({"ram.pty": 3})", "application/json", 405, "PATCH"},
                    Malformed{"POST", "/metrics", "", "", 405, "POST"},
                    Malformed{"HEAD", "/api/v1/nowplaying", "", "", 405, ""},
                    Malformed{"GET", "/api/v1/nowplaying", "", "", 403, "token"}));

TEST_F(HttpDoor, AWrongMethodNamesTheAllowedOnes)
{
    serve();
    EXPECT_EQ(send("DELETE", "/api/v1/fields")->get_header_value("Allow"), "GET, HEAD, PATCH");
    EXPECT_EQ(send("POST", "/api/v1/status")->get_header_value("Allow"), "GET, HEAD");
    EXPECT_EQ(send("PATCH", "/api/v1/nowplaying", "{}", JsonType)->get_header_value("Allow"), "GET, POST");
    EXPECT_EQ(raw("TRACE /api/v1/status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"), 405);
    EXPECT_EQ(raw("OPTIONS /api/v1/fields HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: http://evil.example\r\n"
                  "Access-Control-Request-Method: PATCH\r\n\r\n"),
              405);
}

TEST_F(HttpDoor, BodiesOverSixtyFourKilobytesAreRefusedWholeChunkedOrNot)
{
    serve();
    // {"ram.ps": "X"} padded with blanks to exactly 64 KB passes.
    std::string exact = R"({"ram.ps": "X"})";
    exact.insert(1, std::string(65536 - exact.size(), ' '));
    EXPECT_EQ(send(Patch, "/api/v1/fields", exact, JsonType)->status, 202);
    EXPECT_EQ(ramPs(), "X       ");
    board->clearLog();

    const std::string over = std::string(65537 - 2, ' ').insert(0, "{") + "}";
    EXPECT_EQ(send(Patch, "/api/v1/fields", over, JsonType)->status, 413);
    EXPECT_EQ(send("POST", "/api/v1/nowplaying", over, JsonType)->status, 413);

    httplib::Client client("127.0.0.1", port);
    size_t given = 0;
    const auto chunked = client.Patch(
        "/api/v1/fields",
        [&given](size_t, httplib::DataSink &sink) {
            const std::string piece(4096, ' ');
            if (given < 200000) {
                sink.write(piece.data(), piece.size());
                given += piece.size();
            } else {
                sink.done();
            }
            return true;
        },
        "application/json");
    ASSERT_TRUE(chunked);
    EXPECT_EQ(chunked->status, 413);
    EXPECT_EQ(raw("GET /api/v1/status HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 4\r\n\r\nabcd"), 400);
    EXPECT_EQ(sentBeforeMark(), std::vector<sim::Request>{});
}

struct Song {
    const char *body;
    const char *radioText;
};

class NowPlayingJson : public HttpDoor, public testing::WithParamInterface<Song> {};

TEST_P(NowPlayingJson, SetsTheRamRadioText)
{
    serve();
    const auto reply = send("POST", "/api/v1/nowplaying", GetParam().body, JsonType);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 202);
    EXPECT_EQ(ramRt(), rtImage(GetParam().radioText));
    for (const sim::Request &r : board->log())
        EXPECT_TRUE(r.code >= 0x30 && r.code <= 0x3F) << std::hex << int(r.code);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, NowPlayingJson,
    testing::Values(Song{R"({"text": "Hello"})", "Hello"},
                    Song{R"({"artist": "Mira Lind", "title": "Northbound"})", "Mira Lind - Northbound"},
                    Song{R"({"now_playing": {"song": {"artist": "Ana", "title": "Tide", "text": "Ana - Tide [live]"}}})",
                         "Ana - Tide"},
                    Song{R"({"now_playing": {"sh_id": 3, "song": {"text": "Jingle"}}, "station": {}})", "Jingle"},
                    Song{R"({"text": "  first line  \nsecond"})", "first line"}));

TEST_F(HttpDoor, APlainTextOrUrlSongNeedsTheTokenFromTheQueryOrTheHeader)
{
    qd::HttpOptions options;
    options.tokenFile = file("token", "s3cret-token\n");
    serve(options);
    EXPECT_EQ(send("POST", "/api/v1/nowplaying", "Plain song", "text/plain")->status, 403);
    EXPECT_EQ(send("POST", "/api/v1/nowplaying?token=wrong", "Plain song", "text/plain")->status, 403);
    EXPECT_EQ(send("GET", "/api/v1/nowplaying?text=By+URL")->status, 403);
    EXPECT_EQ(send("GET", "/api/v1/nowplaying?text=By+URL", {}, {}, {{"X-Quorveld-Token", "s3cret"}})->status, 403);
    EXPECT_EQ(sentBeforeMark(), std::vector<sim::Request>{});

    EXPECT_EQ(send("POST", "/api/v1/nowplaying?token=s3cret-token", "Plain song\r\n", "text/plain; charset=utf-8")->status, 202);
    EXPECT_EQ(ramRt(), rtImage("Plain song"));
    EXPECT_EQ(send("GET", "/api/v1/nowplaying?text=By%20URL&token=s3cret-token")->status, 202);
    EXPECT_EQ(ramRt(), rtImage("By URL"));
    EXPECT_EQ(send("GET", "/api/v1/nowplaying?artist=Ana&title=Tide", {}, {}, {{"X-Quorveld-Token", "s3cret-token"}})->status, 202);
    EXPECT_EQ(ramRt(), rtImage("Ana - Tide"));
    EXPECT_EQ(send("GET", "/api/v1/nowplaying?token=s3cret-token")->status, 400);
}

TEST_F(HttpDoor, WithoutATokenFileThePlainTextAndUrlFormsAreOff)
{
    serve();
    const auto reply = send("POST", "/api/v1/nowplaying?token=x", "Plain song", "text/plain");
    EXPECT_EQ(reply->status, 403);
    EXPECT_NE(body(reply)["error"].get<std::string>().find("--http-token-file"), std::string::npos);
    EXPECT_EQ(sentBeforeMark(), std::vector<sim::Request>{});
}

TEST_F(HttpDoor, ASongWithACharacterTheTableLacksIsRefusedAtTheRadioText)
{
    serve();
    const auto reply = send("POST", "/api/v1/nowplaying", R"({"text": "Snow \u2603"})", JsonType);
    EXPECT_EQ(reply->status, 422);
    EXPECT_EQ(body(reply)["refused"][0]["field"], "ram.rt");
    EXPECT_EQ(sentBeforeMark(), std::vector<sim::Request>{});
}

TEST_F(HttpDoor, ThePageIsServedFromTheProgramUnderOneHundredKilobytes)
{
    serve();
    size_t weight = 0;
    for (const auto &[path, type] : {std::pair{"/", "text/html; charset=utf-8"},
                                     {"/app.js", "text/javascript; charset=utf-8"},
                                     {"/app.css", "text/css; charset=utf-8"}}) {
        const auto reply = send("GET", path);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, 200) << path;
        EXPECT_EQ(reply->get_header_value("Content-Type"), type) << path;
        EXPECT_EQ(reply->get_header_value("X-Frame-Options"), "DENY");
        weight += reply->body.size();
    }
    EXPECT_NE(send("GET", "/")->body.find("<title>Quorvel RDS encoder</title>"), std::string::npos);
    EXPECT_LT(weight, 100u * 1024);
    // Nothing from elsewhere: every reference is local.
    for (const char *path : {"/", "/app.js", "/app.css"})
        EXPECT_EQ(send("GET", path)->body.find("://"), std::string::npos) << path;
    const auto head = send("HEAD", "/api/v1/status");
    EXPECT_EQ(head->status, 200);
    EXPECT_TRUE(head->body.empty());
}

} // namespace
