// What keeps the page honest, over loopback HTTP: a PATCH that names the
// values its client saw is refused whole when one is now another; the
// version follows the fields only; the change log names every door's asks.
#include "HttpApi.h"
#include "HttpAuth.h"
#include "HttpDoor.h"

namespace {

const char *const Fields = "/api/v1/fields";

Json body(const Reply &result) { return Json::parse(result.body, nullptr, false); }

class PageApi : public HttpDoor {
protected:
    // An ask from another door, on the loop as a client's would be.
    void other(const std::string &field, const std::string &value, qd::Protocol door,
               const char *client)
    {
        onLoop([&] {
            EXPECT_TRUE(station.set({{field, value}}, qd::Origin{door, client}).empty());
        });
        sent();
    }
    uint64_t version() { return body(send("GET", Fields))["version"].get<uint64_t>(); }
};

// Each row in turn: another door's ask first (when any), then a PATCH with
// `seen`: its status, the fields it names as changed and what they are now,
// and whether the board received anything.
TEST_F(PageApi, APatchWhoseSeenValueChangedIsRefusedWholeNamingTheDoor)
{
    const struct {
        const char *other[2]; // field, value, over ASCII from 127.0.0.9
        const char *patch;
        int status;
        Json conflicts; // [{"field", "value", "door"}]
    } rows[] = {
        // Seen as it is: applied. A number seen as text is the same value.
        {{}, R"({"ram.ps": "MINE", "seen": {"ram.ps": "QUORVEL ", "ram.pty": "10"}})", 202, {}},
        // Another door set the PS since: refused, the door and value named.
        {{"ram.ps", "THEIRS"},
         R"({"ram.ps": "LATE", "seen": {"ram.ps": "MINE    "}})",
         409,
         Json::array({{{"field", "ram.ps"}, {"value", "THEIRS  "}, {"door", "ascii"}}})},
        // A field seen but not sent counts too; the one sent is not applied.
        {{"ram.pty", "5"},
         R"({"ram.rt": "X", "seen": {"ram.pty": 10, "ram.ps": "THEIRS  "}})",
         409,
         Json::array({{{"field", "ram.pty"}, {"value", 5}, {"door", "ascii"}}})},
        // The AF list as a whole, and a field no door ever set.
        {{"af", "87.6,90.2"},
         R"({"ram.ta": 1, "seen": {"af": [87.6, 98.5], "eeprom.pi": "0x1"}})",
         409,
         Json::array({{{"field", "af"}, {"value", "87.6,90.2"}, {"door", "ascii"}},
                      {{"field", "eeprom.pi"}, {"value", "0xC201"}, {"door", nullptr}}})},
        // null: the client saw no value; no seen at all: a script's PATCH.
        {{}, R"({"ram.ta": 1, "seen": {"ram.tp": null, "af": "87.6,90.2"}})", 202, {}},
        {{}, R"({"ram.ta": 0})", 202, {}},
        // An unknown field seen, or seen that is not an object.
        {{}, R"({"ram.ta": 1, "seen": {"ram.nothing": 1}})", 422, {}},
        {{}, R"({"ram.ta": 1, "seen": [1]})", 400, {}},
        {{}, R"({"seen": {"ram.ta": 0}})", 400, {}},
    };
    for (const auto &row : rows) {
        if (row.other[0])
            other(row.other[0], row.other[1], qd::Protocol::Ascii, "127.0.0.9");
        board->clearLog();
        const Reply reply = send("PATCH", Fields, row.patch, JsonType);
        EXPECT_EQ(reply.status, row.status) << row.patch << reply.body;
        if (row.status == 409) {
            Json named = Json::array();
            const Json answer = body(reply);
            for (const Json &c : answer["conflicts"]) {
                named.push_back(
                    {{"field", c["field"]}, {"value", c["value"]}, {"door", c["door"]}});
                if (!c["door"].is_null()) {
                    EXPECT_EQ(c["client"], "127.0.0.9") << row.patch;
                }
            }
            EXPECT_EQ(named, row.conflicts) << row.patch;
        }
        EXPECT_EQ(sent().empty(), row.status != 202) << row.patch;
    }
}

// The version and last_change move with a field's held, asked or pending
// value, never for a connection, a read, a refusal or a client count.
TEST_F(PageApi, TheVersionChangesWithTheFieldsOnly)
{
    const struct {
        const char *what;
        std::function<void()> action;
        bool changes;
    } rows[] = {
        {"connections and reads",
         [&] {
             for (int i = 0; i < 5; i++)
                 send("GET", "/api/v1/status");
         },
         false},
        {"a client count", [&] { onLoop([&] { station.setClients("ascii-tcp x", 3); }); }, false},
        {"a refused value", [&] { send("PATCH", Fields, R"({"ram.pty": 40})", JsonType); }, false},
        {"a stale seen",
         [&] { send("PATCH", Fields, R"({"ram.pty": 1, "seen": {"ram.pty": 2}})", JsonType); },
         false},
        {"a new value", [&] { send("PATCH", Fields, R"({"ram.pty": 7})", JsonType); }, true},
        {"the same value again", [&] { send("PATCH", Fields, R"({"ram.pty": 7})", JsonType); },
         false},
        {"a field held asked for",
         [&] { send("PATCH", Fields, R"({"ram.ps": "QUORVEL"})", JsonType); }, true},
        {"stop asking", [&] { send("PATCH", Fields, R"({"ram.ps": null})", JsonType); }, true},
    };
    for (const auto &row : rows) {
        sent();
        const Json before = body(send("GET", "/api/v1/status"));
        row.action();
        sent();
        const Json after = body(send("GET", "/api/v1/status"));
        EXPECT_EQ(after["version"] != before["version"], row.changes) << row.what;
        if (!row.changes) {
            EXPECT_EQ(after["last_change"], before["last_change"]) << row.what;
        }
    }
}

// Every door's asks, newest first, with the values before and after; the
// scrolling PS name's steps are not asks. Past 200, the oldest leave.
TEST_F(PageApi, TheChangeLogListsEachAskWithItsDoorAndClient)
{
    send("PATCH", Fields, R"({"ram.pty": 12, "af": "87.6"})", JsonType);
    other("ram.ps", "ASCII", qd::Protocol::Ascii, "192.0.2.7");
    onLoop([&] { station.nowPlaying({"Song", {}, {}}, qd::Protocol::File); });
    onLoop([&] {
        station.scrollPs("A LONG NAME THAT SCROLLS", qd::Origin{qd::Protocol::Uecp, "::1"});
    });
    sent();
    Json changes = body(send("GET", "/api/v1/changes"))["changes"];
    Json seen = Json::array();
    for (const Json &c : changes)
        seen.push_back({c["field"], c["from"], c["to"], c["door"], c["client"]});
    EXPECT_EQ(seen, Json::parse(R"([
        ["ram.ps", "ASCII   ", "A LONG NAME THAT SCROLLS", "uecp", "::1"],
        ["ram.rt", "Quorvel RDS encoder - simulated board", "Song", "file", ""],
        ["ram.ps", "QUORVEL ", "ASCII   ", "ascii", "192.0.2.7"],
        ["af", "87.6,98.5,101.1,104.3,107.9", "87.6", "http", "127.0.0.1"],
        ["ram.pty", 10, 12, "http", "127.0.0.1"]])"));
    EXPECT_TRUE(changes[0]["time"].get<std::string>().ends_with("Z"));

    for (int i = 0; i < 205; i++)
        onLoop([&] { station.set({{"ram.pty", std::to_string(i % 2)}}, qd::Protocol::Uecp); });
    changes = body(send("GET", "/api/v1/changes"))["changes"];
    ASSERT_EQ(changes.size(), 200u);
    EXPECT_EQ(changes[0]["to"], 0);
    EXPECT_EQ(changes[199]["door"], "uecp");
}

// Kept across restarts: what is saved is read back; a file that is not a
// change log is refused.
TEST(ChangeLog, WhatIsSavedIsReadBack)
{
    TestDir dir;
    qd::ChangeLog log;
    log.add({"2026-12-07T03:02:11Z", "ram.ps", R"("OLD     ")", R"("NEW     ")", "ascii",
             "192.0.2.7", ""});
    log.add({"2026-12-07T03:02:12Z", "ram.pty", "10", "null", "http", "::1", "ops"});
    log.save(dir.path("changes.json"));
    EXPECT_EQ(qd::ChangeLog(dir.path("changes.json")).json(), log.json());
    EXPECT_EQ(log.json()[1]["from"], "OLD     ");
    EXPECT_EQ(log.json()[0]["from"], 10);
    EXPECT_TRUE(log.json()[0]["to"].is_null());
    EXPECT_EQ(qd::ChangeLog(dir.path("none.json")).json(), Json::array());
    std::ofstream(dir.path("bad.json")) << R"({"format": "quorveld state", "version": 1})";
    EXPECT_THROW(qd::ChangeLog(dir.path("bad.json")), std::runtime_error);
}

// Where a password is set, reading the log needs it as a change does.
TEST_F(PageApi, TheChangeLogNeedsThePasswordWhereOneIsSet)
{
    qd::HttpOptions options;
    options.passwordFile = file("pw", qd::hashPasswordLine("ops", "right", 1000) + "\n");
    serve(options);
    EXPECT_EQ(send("GET", "/api/v1/changes").status, 401);
    const Headers login{{"Authorization", "Basic " + qd::base64Encode("ops:right")}};
    EXPECT_EQ(send("PATCH", Fields, R"({"ram.pty": 3})", JsonType, login).status, 202);
    const Reply reply = send("GET", "/api/v1/changes", {}, {}, login);
    ASSERT_EQ(reply.status, 200);
    EXPECT_EQ(body(reply)["changes"][0]["user"], "ops");
}

} // namespace
