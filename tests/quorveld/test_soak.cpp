// A year of a station's life, compressed: the real quorveld under quorvel-sim
// takes song changes at once over ASCII TCP and UDP, UECP, HTTP and its
// now-playing file (each song through every door, as a station's several
// playout systems send it), a scrolling PS, a reload every few seconds that
// adds, removes and keeps listeners (some refused), unplugs, replugs and power
// glitches of the board, clients past the limits, clients that vanish
// mid-line or fall silent, and its state folder away for a while. At the end,
// once the scrolling PS is stopped and the writes have had their time: no
// sanitizer report and no crash, the last value accepted for each field on
// the board (as --verify reads it back) and in the state file, no EEPROM
// write, the descriptors back at their level after warm-up. It prints what it
// did and the resident memory.
//
// QUORVEL_SOAK_SECONDS (default 600) and QUORVEL_SOAK_SEED (default: a new
// seed, printed) choose the run; CTest runs it shorter.
#include "DaemonRun.h"
#include "HttpConn.h"

#include <boost/asio/write.hpp>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using namespace std::string_literals;
namespace fs = std::filesystem;

TEST(Soak, AYearOfStationLife)
{
    const char *length = std::getenv("QUORVEL_SOAK_SECONDS"),
               *given = std::getenv("QUORVEL_SOAK_SEED");
    const unsigned long seconds = length ? std::stoul(length) : 600,
                        seed = given ? std::stoul(given) : std::random_device{}();
    std::cout << "soak: " << seconds << " s, QUORVEL_SOAK_SEED=" << seed << std::endl;
    std::mt19937 rng(static_cast<unsigned>(seed));
    const auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
    TestDir dir;
    const std::string config = dir.path("conf"), control = dir.path("control"),
                      playing = dir.path("nowplaying.txt");
    const fs::path folder = dir.path("state"), away = dir.path("away");
    fs::create_directory(folder);
    const std::string base = "allow 127.0.0.0/8\nascii-tcp 127.0.0.1:0\nascii-udp 127.0.0.1:0\n"
                             "uecp-tcp 127.0.0.1:0\nuecp-udp 127.0.0.1:0\nhttp 127.0.0.1:0\n"
                             "follow " +
                             playing + "\n";
    std::ofstream(config) << base;
    DaemonRun daemon({"--config", config, "--state", (folder / "state.json").string(), "--verify",
                      "1", "--dps-step", "1", "--idle-timeout", "2"},
                     {"--control", control});
    const std::string proc = "/proc/" + std::to_string(daemon.program()) + "/";
    const auto descriptors = [&] { return std::distance(fs::directory_iterator(proc + "fd"), {}); };
    const auto resident = [&] { // kB
        const std::string status = readFile(proc + "status");
        return std::stol(status.substr(status.find("VmRSS:") + 6));
    };
    const unsigned short asciiUdp = daemon.port("ascii-udp"), uecpUdp = daemon.port("uecp-udp");
    const std::string web = daemon.log().substr(daemon.log().find("listening on http://"));
    const int httpPort = std::stoi(web.substr(web.find(':', 20) + 1));
    const auto http = [&](const char *method, const char *target, const std::string &json = {}) {
        Conn conn(httpPort);
        conn.write(
            requestText(httpPort, method, target, json, json.empty() ? "" : "application/json"));
        return conn.reply();
    };
    // Warm-up: a reload to every extra listener and back.
    const std::string extras[] = {"ascii-udp 127.0.0.2:0\n", "uecp-tcp 127.0.0.2:0\n",
                                  "ascii-tcp [::1]:0\n"};
    std::map<std::string, int> did; // what it did, how often
    const auto reload = [&](const std::string &text) {
        std::ofstream(config) << text;
        const size_t before = count(daemon.log(), "reloaded");
        daemon.signalProgram(SIGHUP);
        ASSERT_TRUE(waitUntil([&] { return count(daemon.log(), "reloaded") > before; }, 20));
    };
    reload(base + extras[0] + extras[1] + extras[2]);
    reload(base);
    const long fdsAtStart = descriptors(), rssAtStart = resident();
    // Clients that talk every round stay past --idle-timeout; a silent one goes.
    Client ascii(daemon.port("ascii-tcp")), uecp(daemon.port("uecp-tcp"));
    Client silent(daemon.port("ascii-tcp"));

    std::string song;
    bool unplugged = false;
    const auto play = [&](const std::string &text) { // as playout software replaces the file
        std::ofstream(playing + ".new") << text << "\n";
        fs::rename(playing + ".new", playing);
        song = text;
    };
    const auto sendSong = [&](const std::string &text) {
        play(text);
        ascii.send("TEXT=" + text + "\r\n");
        datagram(asciiUdp, "RT=" + text + "\r\n", true);
        const std::string rt = frame("\x0A\x00\x00"s + char(text.size() + 1) + '\x00' + text, 0);
        uecp.send(rt);
        datagram(uecpUdp, rt, false);
        const Reply posted =
            http("POST", "/api/v1/nowplaying", nlohmann::json{{"text", text}}.dump());
        ASSERT_EQ(posted.status, 202) << text;
        ASSERT_EQ(ascii.receive(3), "+\r\n");
        did["song changes"]++;
    };
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    auto nextReload = Clock::now();
    for (int round = 0; Clock::now() < end && !testing::Test::HasFailure(); round++) {
        sendSong("Artist " + std::to_string(round % 97) + " - Title " + std::to_string(round));
        if (chance(10)) { // the station's name, static or scrolling
            ascii.send(chance(50) ? "PS=NEWS " + std::to_string(round % 100) + "\r\n"
                                  : "DPS=Your station for the whole region\r\n");
            ASSERT_EQ(ascii.receive(3), "+\r\n");
        }
        if (chance(10)) {
            uecp.send(frame("\x07\x00\x00"s + char(rng() % 32), 0));
        }
        if (chance(3)) { // the board
            const char *what = unplugged ? "replug" : chance(50) ? "unplug" : "glitch";
            std::ofstream(control) << what << "\n";
            unplugged = std::string(what) == "unplug";
            did[what]++;
        }
        // Datagrams at an extra listener, due as a reload may close it.
        const size_t extra = daemon.log().rfind("listening on ascii-udp 127.0.0.2:");
        for (int i = 0; extra != std::string::npos && i < 10; i++)
            datagram(std::stoi(daemon.log().substr(daemon.log().find(':', extra + 30) + 1)),
                     "STATUS?\r\n", false, "127.0.0.2");
        if (Clock::now() >= nextReload) { // listeners added, removed and kept; now and then refused
            std::string text = base;
            for (const std::string &extra : extras)
                text += chance(50) ? extra : "";
            const bool refused = chance(20);
            reload(refused ? text + "ascii-replies maybe\n" : text);
            did[refused ? "refused reloads" : "reloads"]++;
            nextReload = Clock::now() + std::chrono::milliseconds(1000 + rng() % 4000);
        }
        if (chance(2)) { // more clients than a listener takes
            std::vector<std::unique_ptr<Client>> crowd;
            for (int i = 0; i < 66; i++)
                crowd.push_back(std::make_unique<Client>(daemon.port("ascii-tcp")));
            did["crowds past the limit"] += crowd.back()->closedByPeer();
        }
        if (chance(5)) { // a client gone mid-line: its partial line is never taken
            boost::asio::io_context io;
            boost::asio::ip::tcp::socket vanishing(io);
            vanishing.connect({boost::asio::ip::address_v4::loopback(), daemon.port("ascii-tcp")});
            boost::asio::write(vanishing, boost::asio::buffer("TEXT=Never on air"s));
            vanishing.set_option(boost::asio::socket_base::linger(true, 0));
            vanishing.close(); // a reset, not an end (a destructor would end it)
            did["clients gone mid-line"]++;
        }
        if (chance(1) && !fs::exists(away)) { // the state folder away for a while
            fs::rename(folder, away);
            did["state folder away"]++;
        } else if (chance(10) && fs::exists(away)) {
            fs::rename(away, folder);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 50));
    }
    ASSERT_FALSE(testing::Test::HasFailure());

    // The last of everything, on a board that stays.
    if (unplugged)
        std::ofstream(control) << "replug\n";
    if (fs::exists(away))
        fs::rename(away, folder);
    reload(base);
    ascii.send("PS=FINAL\r\n");
    ASSERT_EQ(ascii.receive(3), "+\r\n");
    play("Last artist - Last title");         // through the file alone
    uecp.send(frame("\x07\x00\x00\x0B"s, 0)); // PTY 11
    const auto onBoard = [&] { // what waits, and what the worker holds of the three fields
        const Reply got = http("GET", "/api/v1/fields");
        nlohmann::json f = got.status ? nlohmann::json::parse(got.body) : nlohmann::json::object();
        return nlohmann::json::array(
            {f["pending"], f["fields"]["ram.ps"], f["fields"]["ram.rt"], f["fields"]["ram.pty"]});
    };
    const auto last = nlohmann::json::array({nlohmann::json::object(), "FINAL   ", song, 11});
    size_t settledAt = 0;
    EXPECT_TRUE(
        waitUntil([&] { return settledAt = daemon.requests().size(), onBoard() == last; }, 60))
        << onBoard();
    // After a whole verification pass more (23 reads), what it read is what the board holds.
    EXPECT_TRUE(waitUntil([&] { return daemon.requests().size() >= settledAt + 46; }, 30));
    EXPECT_EQ(onBoard(), last);
    for (const sim::Request &r : daemon.requests()) {
        ASSERT_FALSE(r.code < 0x80 && (r.code < 0x21 || r.code > 0x3F)) << "an EEPROM write";
        ASSERT_NE(r, block(0x30, "Neve")) << "a line cut by a reset went on air";
    }
    EXPECT_TRUE(silent.closedByPeer());
    EXPECT_TRUE(waitUntil([&] { return descriptors() == fdsAtStart; }, 20))
        << descriptors() << " descriptors, " << fdsAtStart << " after warm-up";
    const long rssAtEnd = resident();
    std::cout << "soak:";
    for (const auto &[what, count] : did)
        std::cout << " " << count << " " << what << ",";
    std::cout << " " << fdsAtStart << " descriptors; resident " << rssAtStart
              << " kB after warm-up, " << rssAtEnd << " kB at the end" << std::endl;
#if !defined(__SANITIZE_ADDRESS__) &&                                                              \
    !defined(__SANITIZE_THREAD__) // their memory is kept on purpose
    EXPECT_LT(rssAtEnd - rssAtStart, 8 * 1024) << "kB grown";
#endif
    EXPECT_EQ(daemon.stop(SIGTERM), 0);
    for (const char *report : {"Sanitizer", "runtime error"})
        EXPECT_EQ(daemon.log().find(report), std::string::npos) << daemon.log();
    const nlohmann::json kept = nlohmann::json::parse(readFile(folder / "state.json"))["asked"];
    std::string rt = "4C61737420617274697374202D204C617374207469746C65"; // its song
    while (rt.size() < 128)
        rt += "0D";
    EXPECT_EQ(kept,
              (nlohmann::json{{"ram.ps", "46494E414C202020"}, {"ram.rt", rt}, {"ram.pty", "0B"}}));
}

} // namespace
