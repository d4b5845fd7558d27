// Station traffic: what each family of playout software sends, byte for byte,
// replayed at quorveld under quorvel-sim, and what a receiver then shows: the
// RAM PS name and RadioText as the board's request log leaves them, read with
// the RDS table.
#include "DaemonRun.h"
#include "TestDir.h"
#include "TextCodec.h"

#include <gmock/gmock.h>

#include <csignal>
#include <fstream>

using namespace std::string_literals;

namespace {

enum class Door {
    Datagram, // one UDP datagram per command (UECP frames to the UECP port)
    Once,     // a TCP connection per command, closed without reading
    Kept,     // one TCP connection, a reply read after each line
    Http,     // a request, the status line read
    File,     // the now-playing file rewritten in place
};

struct Traffic {
    Door door;
    std::string bytes, reply; // Kept and Http: what comes back first
    std::string rt, ps;       // on air afterwards; empty: not looked at
    Requests requests = {};   // when given, exactly the requests it costs
};

// The RAM PS name and RadioText after the writes of `log` (the board copies
// EEPROM texts into RAM), read with the RDS table; '?' where never written.
std::pair<std::string, std::string> onAir(const Requests &log)
{
    std::string ps(8, '?'), rt(64, '?');
    for (const sim::Request &r : log) {
        const std::string four{char(r.value >> 8), char(r.value), char(r.index >> 8),
                               char(r.index)};
        const int ram = r.code & ~0x40;
        if (ram == 0x21 || ram == 0x22)
            ps.replace((ram - 0x21) * 4, 4, four);
        if (ram >= 0x30 && ram <= 0x3F)
            rt.replace((ram - 0x30) * 4, 4, four);
    }
    rt.erase(std::min(rt.find('\r'), rt.size()));
    return {fields::fromBoardText(ps, fields::Charset::Rds, "PS"),
            fields::fromBoardText(rt, fields::Charset::Rds, "RadioText")};
}

unsigned short httpPort(const DaemonRun &daemon)
{
    const std::string log = daemon.log(), mark = "listening on http://127.0.0.1:";
    return static_cast<unsigned short>(std::stoi(log.substr(log.find(mark) + mark.size())));
}

// Sends each row through its door and waits for its text on air.
void replay(DaemonRun &daemon, const std::string &follow, const std::vector<Traffic> &rows)
{
    std::optional<Client> kept;
    for (const Traffic &t : rows) {
        SCOPED_TRACE(t.bytes.substr(0, 60));
        const size_t before = daemon.requests().size();
        std::string reply;
        const auto exchange = [&](auto &&client) {
            client.send(t.bytes);
            reply = client.line();
        };
        switch (t.door) {
        case Door::Datagram:
            datagram(daemon.port(t.bytes[0] == '\xFE' ? "uecp-udp" : "ascii-udp"), t.bytes, false);
            break;
        case Door::Once: Client(daemon.port("ascii-tcp")).send(t.bytes); break;
        case Door::Kept: exchange(kept ? *kept : kept.emplace(daemon.port("ascii-tcp"))); break;
        case Door::Http: exchange(Client(httpPort(daemon))); break;
        case Door::File: std::ofstream(follow, std::ios::trunc) << t.bytes; break;
        }
        EXPECT_EQ(reply, t.reply);
        std::pair<std::string, std::string> shown;
        const auto costs = testing::UnorderedElementsAreArray(t.requests);
        EXPECT_TRUE(waitUntil(
            [&] {
                shown = onAir(daemon.requests());
                return (t.ps.empty() || shown.first == t.ps) &&
                       (t.rt.empty() || shown.second == t.rt) &&
                       (t.requests.empty() || testing::Matches(costs)(daemon.requests(before)));
            },
            10))
            << "PS \"" << shown.first << "\", RadioText \"" << shown.second << "\"";
    }
}

// A request to the now-playing door, as the families send it.
std::string post(const std::string &json)
{
    return "POST /api/v1/nowplaying HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
           "application/json\r\nContent-Length: " +
           std::to_string(json.size()) + "\r\nConnection: close\r\n\r\n" + json;
}

std::string get(const std::string &query)
{
    return "GET /api/v1/nowplaying?" + query +
           "&token=T0KEN HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
}

const char *const Accepted = "HTTP/1.1 202 Accepted\r\n";

} // namespace

// Every family's texts, of any length and character, go on air cut and
// transliterated.
TEST(StationTraffic, EachFamilysBytesPutTheirTextOnAir)
{
    TestDir dir;
    const std::string follow = dir.path("nowplaying.txt");
    std::ofstream(dir.path("token")) << "T0KEN\n";
    DaemonRun daemon({"--ascii-udp", "127.0.0.1:0", "--ascii-tcp", "127.0.0.1:0", "--uecp-udp",
                      "127.0.0.1:0", "--http", "127.0.0.1:0", "--http-token-file",
                      dir.path("token"), "--follow", follow, "--dps-step", "600", "--ascii-replies",
                      "ok"});
    // clang-format off
    replay(daemon, follow, {
        // A Linux playout system's output to hardware RDS encoders, UDP mode:
        // DPS=, PS=, TEXT= from templates, each its own datagram, UTF-8, CR LF.
        {Door::Datagram, "DPS=Sigur Rós - Hoppípolla\r\n", "", "", "Sigur Ró"},
        {Door::Datagram, "PS=RADIO ONE FM\r\n", "", "", "RADIO ON"},
        {Door::Datagram, "TEXT=Queen - Bohemian Rhapsody (Live at Wembley Stadium, 12 July 1986) "
                         "[2011 Remaster]\r\n", "",
         "Queen - Bohemian Rhapsody (Live at Wembley Stadium, 12 July", ""},
        // The same, TCP mode: a connection per command, closed unread.
        {Door::Once, "TEXT=Guns N’ Roses – Sweet Child O’ Mine…\r\n", "",
         "Guns N' Roses - Sweet Child O' Mine...", ""},
        {Door::Once, "TEXT=Beyoncé - Halo 🔥\r\n", "", "Beyoncé - Halo", ""},
        // Older Windows automation: the same line in Windows-1252.
        {Door::Once, "TEXT=Mot\xF6rhead \x96 Ace of Spades\r\n", "", "Motörhead - Ace of Spades",
         ""},
        // A metadata bridge keeping one connection, waiting for OK after each
        // line; it sends ASCII only, dropping what is not.
        {Door::Kept, "TEXT=Daft Punk - One More Time\r\n", "OK\r\n", "Daft Punk - One More Time", ""},
        {Door::Kept, "TEXT=Florence + The Machine - Dog Days Are Over (Live at the Royal Albert Hall)\r\n",
         "OK\r\n", "Florence + The Machine - Dog Days Are Over (Live at the Royal", ""},
        // Encoders' command sets with '*': set and store, no RAM write back.
        {Door::Kept, "*PS=NEWNAME\r\n", "OK\r\n", "", "NEWNAME ",
         {block(0x61, "NEWN"), block(0x62, "AME ")}},
        // A web-radio suite's now-playing webhook: its API document, with the
        // escapes of PHP's JSON (\u for all but ASCII, \/).
        {Door::Http, post(R"({"station":{"name":"Radio"},"now_playing":{"song":{"text":)"
                          R"("Sigur R\u00f3s - Hopp\u00edpolla \ud83c\udfb5","artist":"Sigur R\u00f3s",)"
                          R"("title":"Hopp\u00edpolla \/ Live \ud83c\udfb5","album":"Takk\u2026"}}})"),
         Accepted, "Sigur Rós - Hoppípolla / Live", ""},
        {Door::Http, post("{\"artist\": \"Mot\xF6rhead\", \"title\": \"Overkill\"}"), Accepted,
         "Motörhead - Overkill", ""}, // from older Windows automation, in Windows-1252
        // URL calls: the song in the query, UTF-8 escapes, or Windows-1252 ones.
        {Door::Http, get("artist=Bj%C3%B6rk&title=All%20Is%20Full%20of%20Love%20(Live%20at%20Royal"
                         "%20Opera%20House%2C%20London%202001)"),
         Accepted, "Björk - All Is Full of Love (Live at Royal Opera House, London", ""},
        {Door::Http, get("artist=Mot%F6rhead&title=Ace%20of%20Spades"), Accepted,
         "Motörhead - Ace of Spades", ""},
        // Files: `%t by %a` and CR LF, rewritten in place; UTF-8 or Windows-1252.
        {Door::File, "Hoppípolla by Sigur Rós\r\n", "", "Hoppípolla by Sigur Rós", ""},
        {Door::File, "Caf\xE9 del Mar \x85\r\n", "", "Café del Mar ...", ""},
        // UECP: an AF list whose unused places are 00 (89.6 and 91.4 MHz).
        {Door::Datagram, "\xFE\x00\x00\x01\x0C\x13\x00\x00\x08\x00\x00\xE2\x15\x27\x00\x00\x00\xBA\x45\xFF"s, "", "", "",
         {ok(0x69, 2), ok(0x6A, 0x15, 0), ok(0x6A, 0x27, 1)}},
    });
    // clang-format on
    Client metrics(httpPort(daemon));
    metrics.send("GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    const std::string counters = metrics.receive(1 << 16);
    for (const char *cut : {"{protocol=\"ascii\"} 3\n", "{protocol=\"http\"} 1\n"})
        EXPECT_THAT(counters, testing::HasSubstr("quorveld_cut_texts_total"s + cut));
    daemon.stop(SIGTERM);
    EXPECT_THAT(daemon.log(), testing::HasSubstr("ascii: ram.rt: written \"’\" as \"'\", \"–\" as "
                                                 "\"-\", \"…\" as \"...\"\n"));
}
