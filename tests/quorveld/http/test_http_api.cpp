// The JSON API: the order of the request checks, without sockets; the API,
// the now-playing webhook, the metrics and the page over loopback HTTP,
// asserting what the simulated board received.
#include "HttpApi.h"
#include "HttpAuth.h"
#include "HttpDoor.h"

namespace {

std::string basic(const std::string &pair) { return "Basic " + qd::base64Encode(pair); }

// A request failing several checks gets the first one's status; credentials
// not remembered are left to the password check, off the event loop.
TEST(HttpApi, TheChecksComeInOrderHostRouteMethodBodyPasswordType)
{
    const qd::Credentials password(qd::hashPasswordLine("ops", "pw", 10), "p");
    const qd::HttpPolicy policy{{"encoder"}, &password, nullptr, false};
    const auto request = [](std::string method, std::string path, std::string host,
                            std::string type, const std::string &authorization = {}) {
        qd::HttpRequest r{std::move(method),           std::move(path),       {},
                          {{"Host", std::move(host)}}, R"({"ram.pty": "3"})", "127.0.0.1"};
        r.headers.emplace("content-type", std::move(type));
        if (!authorization.empty())
            r.headers.emplace("authorization", authorization);
        return r;
    };
    const auto status = [&](const qd::HttpRequest &r) {
        const qd::HttpAction action = qd::decide(r, policy);
        const auto *response = std::get_if<qd::HttpResponse>(&action);
        return response ? response->status : std::holds_alternative<qd::CheckLogin>(action) ? 1 : 0;
    };
    EXPECT_EQ(status(request("PATCH", "/nothing", "evil", "text/plain")), 403);
    EXPECT_EQ(status(request("PATCH", "/nothing", "encoder", "text/plain")), 404);
    EXPECT_EQ(status(request("POST", "/api/v1/fields", "encoder", "text/plain")), 405);
    EXPECT_EQ(status(request("GET", "/api/v1/fields", "encoder", "text/plain")), 400);
    EXPECT_EQ(status(request("PATCH", "/api/v1/fields", "encoder", "text/plain")), 401);
    qd::HttpRequest login =
        request("PATCH", "/api/v1/fields", "127.0.0.1:80", "text/plain", basic("ops:pw"));
    EXPECT_EQ(status(login), 1);
    login.login = qd::Login::Failed;
    EXPECT_EQ(status(login), 401);
    login.login = qd::Login::Verified;
    EXPECT_EQ(status(login), 415);
    EXPECT_TRUE(password.verify(basic("ops:pw")));
    qd::HttpRequest json = request("PATCH", "/api/v1/fields", "encoder",
                                   "Application/JSON ; charset=utf-8", basic("ops:pw"));
    const qd::HttpAction set = qd::decide(json, policy); // remembered: no check again
    ASSERT_TRUE(std::holds_alternative<qd::SetFields>(set));
    EXPECT_EQ(std::get<qd::SetFields>(set).values,
              (std::vector<std::pair<std::string, std::string>>{{"ram.pty", "3"}}));
    EXPECT_TRUE(qd::isChange(json));
    json.method = "GET";
    json.body.clear();
    EXPECT_FALSE(qd::isChange(json));
}

// What a lax reading let through: Host headers not exactly ADDRESS[:PORT] or
// more than one, and JSON that cannot be held, the fuzzer's find among it.
TEST(HttpApi, HostsAndJsonThatCannotBeTakenAreRefused)
{
    const qd::HttpPolicy policy{{"encoder"}, nullptr, nullptr, false};
    const struct {
        std::vector<std::string> hosts;
        const char *path, *body;
        int status; // 0: passed
    } cases[] = {
        {{"127.0.0.1"}, "/api/v1/status", "", 0},
        {{"127.0.0.1:8080"}, "/api/v1/status", "", 0},
        {{"encoder:1"}, "/api/v1/status", "", 0},
        {{"127.0.0.1", "evil.example"}, "/api/v1/status", "", 400},
        {{"127.0.0.1", "127.0.0.1"}, "/api/v1/status", "", 400},
        {{"127.0.0.1:evil.example"}, "/api/v1/status", "", 403},
        {{"[127.0.0.1]"}, "/api/v1/status", "", 403},
        {{"127.0.0.1:"}, "/api/v1/status", "", 403},
        {{"127.0.0.1:65536"}, "/api/v1/status", "", 403},
        {{"127.0.0.1 evil"}, "/api/v1/status", "", 403},
        {{"encoder@evil"}, "/api/v1/status", "", 403},
        {{"127.0.0.1"}, "/api/v1/fields", R"({"ram.pty": 1e999})", 400},
        {{"127.0.0.1"}, "/api/v1/nowplaying", R"({"now_(playing":8612933377E07802630ongics,)", 400},
        {{"127.0.0.1"}, "/api/v1/nowplaying", R"({"text": -1e400})", 400},
    };
    for (const auto &c : cases) {
        qd::HttpRequest r{*c.body ? (std::string(c.path) == "/api/v1/fields" ? "PATCH" : "POST")
                                  : "GET",
                          c.path,
                          {},
                          {},
                          c.body,
                          "127.0.0.1"};
        for (const std::string &host : c.hosts)
            r.headers.emplace("Host", host);
        r.headers.emplace("Content-Type", "application/json");
        const qd::HttpAction action = qd::decide(r, policy);
        const auto *response = std::get_if<qd::HttpResponse>(&action);
        EXPECT_EQ(response ? response->status : 0, c.status) << c.hosts[0] << " " << c.body;
    }
}

const char *const Fields = "/api/v1/fields", *const NowPlaying = "/api/v1/nowplaying";
const char *const Form = "application/x-www-form-urlencoded";

Json body(const Reply &result) { return Json::parse(result.body, nullptr, false); }

// Reads give the board's fields in quorvel-ctl's JSON forms and send nothing.
TEST_F(HttpDoor, FieldsAreTheBoardsAsQuorvelCtlShowsThem)
{
    const auto all = send("GET", Fields);
    EXPECT_EQ(all.header("Content-Type"), "application/json");
    const Json fields = body(all)["fields"];
    EXPECT_EQ(fields.size(), 43u);
    for (const auto &[name, value] : std::vector<std::pair<const char *, Json>>{
             {"ram.ps", "QUORVEL "},
             {"ram.rt", "Quorvel RDS encoder - simulated board"},
             {"ram.pty", 10},
             {"ram.tp", 1},
             {"eeprom.pi", "0xC201"},
             {"eeprom.naf", 5},
             {"eeprom.af01", 98.5},
             {"eeprom.af04", 107.9},
             {"eeprom.group2a", 4}})
        EXPECT_EQ(fields[name], value) << name;
    EXPECT_EQ(body(all)["pending"], Json::object());
    EXPECT_TRUE(body(all)["version"].is_number_unsigned());
    EXPECT_EQ(body(send("GET", "/api/v1/fields/eeprom.pi")),
              (Json{{"field", "eeprom.pi"}, {"value", "0xC201"}}));
    EXPECT_EQ(send("GET", "/api/v1/fields/eeprom.nothing").status, 404);
    EXPECT_EQ(send("GET", "/api/v1/fields/").status, 404);
    EXPECT_TRUE(board->log().empty());
}

// The status and the metrics: board state, counts, connections being served.
TEST_F(HttpDoor, StatusAndMetricsTellTheBoardsStateAndTheCounts)
{
    const auto clients = [&] {
        const Json status = body(send("GET", "/api/v1/status"));
        return status["clients"]["http 127.0.0.1:" + std::to_string(port)];
    };
    const Json status = body(send("GET", "/api/v1/status"));
    EXPECT_EQ(status["board"], "present");
    EXPECT_EQ(status["pending_writes"], 0);
    EXPECT_EQ(status["state_unsaved"], false);
    EXPECT_EQ(clients(), 1);
    Conn kept(port);
    kept.write(requestText(port, "GET", "/api/v1/status"));
    ASSERT_EQ(kept.reply().status, 200);
    EXPECT_EQ(clients(), 2);
    kept.socket.close();
    EXPECT_TRUE(waitUntil([&] { return clients() == 1; }, 10)) << "the closed client counted";

    EXPECT_EQ(send("PATCH", Fields, R"({"ram.pty": 40})", JsonType).status, 422);
    EXPECT_EQ(send("PATCH", Fields, R"({"ram.pty": 3})", "text/plain").status, 415);
    EXPECT_EQ(send("PATCH", Fields, R"({"ram.pty": 3})", JsonType).status, 202);
    sent();
    const auto metrics = send("GET", "/metrics");
    EXPECT_EQ(metrics.header("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
    for (const char *line :
         {"quorveld_board_up 1\n", "quorveld_pending_writes 0\n", "quorveld_state_unsaved 0\n",
          "quorveld_commands_total{protocol=\"http\"} 3\n",
          "quorveld_refused_values_total{protocol=\"http\"} 2\n"})
        EXPECT_NE(metrics.body.find(line), std::string::npos) << line << metrics.body;
}

// A RadioText change writes only its changed blocks; the pending value shows;
// several fields in one PATCH each write their requests.
TEST_F(HttpDoor, APatchWritesOnlyWhatDiffers)
{
    const char *boat = "Quorvel RDS encoder - simulated boat";
    const auto reply = send("PATCH", Fields, Json{{"ram.rt", boat}}.dump(), JsonType);
    EXPECT_EQ(reply.status, 202);
    EXPECT_EQ(body(reply)["pending"]["ram.rt"], boat);
    // "boar" "d\r\r\r" become "boat" "\r\r\r\r": blocks 8 and 9.
    EXPECT_EQ(sent(), (Requests{ok(0x38, 0x626F, 0x6174), ok(0x39, 0x0D0D, 0x0D0D)}));
    EXPECT_EQ(body(send("GET", "/api/v1/fields/ram.rt")),
              (Json{{"field", "ram.rt"}, {"value", boat}, {"asked", boat}}));
    // null: asked no longer, the board keeps what it holds; nothing is sent.
    board->clearLog();
    EXPECT_EQ(send("PATCH", Fields, R"({"ram.rt": null})", JsonType).status, 202);
    EXPECT_EQ(body(send("GET", Fields))["asked"], Json::object());
    EXPECT_EQ(body(send("GET", "/api/v1/fields/ram.rt")),
              (Json{{"field", "ram.rt"}, {"value", boat}}));
    EXPECT_EQ(sent(), Requests{});

    // One PATCH of several fields, the AF list among them: each its requests.
    // AF00 is 87.6 already; AF01 becomes 90.2 (code 27), two in use.
    EXPECT_EQ(send("PATCH", Fields, R"({"ram.pty": 5, "ram.ps": "RADIO 1", "eeprom.pi": "0xD3A2",
                   "eeprom.group2a": "7", "af": [87.6, "90.2"]})",
                   "application/json; charset=utf-8")
                  .status,
              202);
    Requests log = sent();
    std::sort(log.begin(), log.end(), [](const auto &a, const auto &b) { return a.code < b.code; });
    EXPECT_EQ(log, (Requests{ok(0x02, 7), ok(0x21, 0x5241, 0x4449), ok(0x22, 0x4F20, 0x3120),
                             ok(0x23, 5), ok(0x68, 0xD3A2), ok(0x69, 2), ok(0x6A, 27, 1)}));
}

// One refused value of a PATCH: 422 naming each refused field and its range;
// nothing queued.
TEST_F(HttpDoor, ARefusedValueRefusesThePatchWhole)
{
    const struct {
        const char *body, *field, *says;
    } cases[] = {
        {R"({"ram.ps": "NEWNAME", "ram.pty": 40})", "ram.pty", "40 is outside 0-31"},
        {R"({"eeprom.af03": 108.5})", "eeprom.af03", "87.6-107.9 MHz"},
        {R"({"eeprom.pi": "C2"})", "eeprom.pi", "four hexadecimal digits"},
        {R"({"ram.rt": "\u2603"})", "ram.rt", "(U+2603) is not in the RDS character table"},
        {R"({"ram.ms": "1", "ram.tp": true})", "ram.tp", "neither a string nor a number"},
        {R"({"ram.tq": 1})", "ram.tq", "no such field"},
    };
    for (const auto &c : cases) {
        const auto reply = send("PATCH", Fields, c.body, JsonType);
        EXPECT_EQ(reply.status, 422) << c.body;
        const Json refused = body(reply)["refused"];
        ASSERT_EQ(refused.size(), 1u) << reply.body;
        EXPECT_EQ(refused[0]["field"], c.field);
        const std::string message = refused[0]["message"];
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
        EXPECT_EQ(message.find("--force"), std::string::npos) << message;
        EXPECT_EQ(body(send("GET", Fields))["pending"], Json::object());
    }
    EXPECT_EQ(sentBeforeMark(), Requests{});
}

// Malformed requests and wrong methods: their status, a message, nothing sent.
TEST_F(HttpDoor, AMalformedRequestIsRefusedWithItsStatusAndAMessage)
{
    const struct {
        const char *method, *target, *body, *type;
        int status;
        const char *says;
    } cases[] = {
        {"PATCH", Fields, R"({"ram.pty": )", JsonType, 400, "malformed JSON"},
        {"PATCH", Fields, "[1]", JsonType, 400, "object"},
        {"PATCH", Fields, "{}", JsonType, 400, "object"},
        {"PATCH", Fields, R"({"ram.pty": 3})", "text/plain", 415, "application/json"},
        {"PATCH", Fields, "ram.pty=3", Form, 415, "application/json"},
        {"PATCH", Fields, R"({"ram.pty": 3})", "", 415, "application/json"},
        {"POST", NowPlaying, "{\"text\": \"a\"", JsonType, 400, "malformed JSON"},
        {"POST", NowPlaying, R"({"song": "a"})", JsonType, 400, "no \"text\""},
        {"POST", NowPlaying, R"({"text": 5})", JsonType, 400, "not a string"},
        {"POST", NowPlaying, R"({"now_playing": {}})", JsonType, 400, "song"},
        {"POST", NowPlaying, "text=a", Form, 415, "text/plain"},
        {"POST", Fields, R"({"ram.pty": 3})", JsonType, 405, "POST"},
        {"PUT", Fields, R"({"ram.pty": 3})", JsonType, 405, "PUT"},
        {"PATCH", "/api/v1/status", R"({"ram.pty": 3})", JsonType, 405, "PATCH"},
        {"POST", "/metrics", "", "", 405, "POST"},
        // Without a token file, no plain-text or URL song.
        {"GET", NowPlaying, "", "", 403, "token"},
        {"POST", "/api/v1/nowplaying?token=x", "Song", "text/plain", 403, "--http-token-file"},
    };
    for (const auto &c : cases) {
        const auto reply = send(c.method, c.target, c.body, c.type);
        EXPECT_EQ(reply.status, c.status) << c.method << " " << c.target << " " << c.body;
        EXPECT_NE(body(reply)["error"].get<std::string>().find(c.says), std::string::npos)
            << reply.body;
    }
    EXPECT_EQ(send("HEAD", NowPlaying).status, 405);
    for (const auto &[method, target, allowed] : {std::tuple{"DELETE", Fields, "GET, HEAD, PATCH"},
                                                  {"POST", "/api/v1/status", "GET, HEAD"},
                                                  {"PATCH", NowPlaying, "GET, POST"}}) {
        const auto reply = send(method, target, "{}", JsonType);
        EXPECT_EQ(reply.status, 405);
        EXPECT_EQ(reply.header("Allow"), allowed);
    }
    EXPECT_EQ(send("TRACE", "/api/v1/status").status, 405);
    const Headers preflight = {{"Origin", "http://a.example"},
                               {"Access-Control-Request-Method", "PATCH"}};
    EXPECT_EQ(send("OPTIONS", Fields, {}, {}, preflight).status, 405);
    EXPECT_EQ(send("GET", "/api/v1/status", "abcd", "text/plain").status, 400);
    EXPECT_EQ(sentBeforeMark(), Requests{});
}

// Bodies up to 64 KB pass; longer ones, chunked or not, get 413.
TEST_F(HttpDoor, BodiesOverSixtyFourKilobytesAreRefused)
{
    std::string exact = R"({"ram.ps": "X"})";
    exact.insert(1, std::string(65536 - exact.size(), ' '));
    EXPECT_EQ(send("PATCH", Fields, exact, JsonType).status, 202);
    EXPECT_EQ(sent(), (Requests{ok(0x21, 0x5820, 0x2020), ok(0x22, 0x2020, 0x2020)}));
    board->clearLog();
    std::string over(65537, ' ');
    over.front() = '{';
    over.back() = '}';
    EXPECT_EQ(send("PATCH", Fields, over, JsonType).status, 413);
    EXPECT_EQ(send("POST", NowPlaying, over, JsonType).status, 413);
    Conn chunked(port);
    chunked.write(
        requestText(port, "PATCH", Fields, {}, JsonType, {{"Transfer-Encoding", "chunked"}}));
    for (int piece = 0; piece < 50 && chunked.write("1000\r\n" + std::string(4096, ' ') + "\r\n");)
        piece++;
    EXPECT_EQ(chunked.reply().status, 413);
    EXPECT_EQ(sentBeforeMark(), Requests{});
}

// Each form of a song sets the RAM RadioText, and only it.
TEST_F(HttpDoor, ASongInJsonSetsTheRamRadioText)
{
    for (const auto &[song, radioText] : std::vector<std::pair<const char *, const char *>>{
             {R"({"text": "Hello"})", "Hello"},
             {R"({"artist": "Mira Lind", "title": "Northbound"})", "Mira Lind - Northbound"},
             {R"({"now_playing": {"song": {"artist": "Ana", "title": "Tide",
                 "text": "Ana - Tide [live]"}}})",
              "Ana - Tide"},
             {R"({"now_playing": {"sh_id": 3, "song": {"text": "Jingle"}}, "station": {}})",
              "Jingle"},
             {R"({"text": "  first line  \nsecond"})", "first line"}}) {
        EXPECT_EQ(send("POST", NowPlaying, song, JsonType).status, 202);
        EXPECT_EQ(ramRt(), rtImage(radioText));
    }
    for (const sim::Request &r : board->log())
        EXPECT_TRUE(r.code >= 0x30 && r.code <= 0x3F) << std::hex << int(r.code);
}

// A plain-text or URL song needs the token, from the query or the header.
TEST_F(HttpDoor, APlainTextOrUrlSongNeedsTheToken)
{
    qd::HttpOptions options;
    options.tokenFile = file("token", "s3cret-token\n");
    serve(options);
    EXPECT_EQ(send("POST", NowPlaying, "Plain song", "text/plain").status, 403);
    EXPECT_EQ(send("POST", "/api/v1/nowplaying?token=wrong", "Song", "text/plain").status, 403);
    EXPECT_EQ(send("GET", "/api/v1/nowplaying?text=By+URL").status, 403);
    EXPECT_EQ(send("GET", "/api/v1/nowplaying?text=By+URL", {}, {}, {{"X-Quorveld-Token", "s3cr"}})
                  .status,
              403);
    EXPECT_EQ(sentBeforeMark(), Requests{});
    EXPECT_EQ(send("POST", "/api/v1/nowplaying?token=s3cret-token", "Plain song\r\n",
                   "text/plain; charset=utf-8")
                  .status,
              202);
    EXPECT_EQ(ramRt(), rtImage("Plain song"));
    EXPECT_EQ(send("GET", "/api/v1/nowplaying?text=By%20URL&token=s3cret-token").status, 202);
    EXPECT_EQ(ramRt(), rtImage("By URL"));
    EXPECT_EQ(send("GET", "/api/v1/nowplaying?artist=Ana&title=Tide", {}, {},
                   {{"X-Quorveld-Token", "s3cret-token"}})
                  .status,
              202);
    EXPECT_EQ(ramRt(), rtImage("Ana - Tide"));
    EXPECT_EQ(send("GET", "/api/v1/nowplaying?token=s3cret-token").status, 400);
}

// The page comes from the program, whole under 100 KB, nothing from elsewhere.
TEST_F(HttpDoor, ThePageIsServedFromTheProgramUnderOneHundredKilobytes)
{
    size_t weight = 0;
    for (const auto &[path, type] : {std::pair{"/", "text/html; charset=utf-8"},
                                     {"/app.js", "text/javascript; charset=utf-8"},
                                     {"/app.css", "text/css; charset=utf-8"}}) {
        const auto reply = send("GET", path);
        EXPECT_EQ(reply.status, 200) << path;
        EXPECT_EQ(reply.header("Content-Type"), type) << path;
        EXPECT_EQ(reply.header("X-Frame-Options"), "DENY");
        EXPECT_EQ(reply.body.find("://"), std::string::npos) << path;
        weight += reply.body.size();
    }
    EXPECT_NE(send("GET", "/").body.find("<title>Quorvel RDS encoder</title>"), std::string::npos);
    EXPECT_LT(weight, 100u * 1024);
    const auto head = send("HEAD", "/api/v1/status");
    EXPECT_EQ(head.status, 200);
    EXPECT_TRUE(head.body.empty());
}

} // namespace
