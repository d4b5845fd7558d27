// A year of a station's life, compressed: the real quorveld under quorvel-sim
// takes song changes at once over ASCII TCP and UDP, UECP and HTTP (each song
// through every door, as a station's several playout systems send it), a
// scrolling PS, a reload every few seconds that adds, removes and keeps
// listeners (some refused), unplugs, replugs and power glitches of the board,
// clients past the limits and clients that vanish mid-line, and its state
// folder away for a while. At the end, once the scrolling PS is stopped and
// the writes have had their time: no sanitizer report and no crash, the last
// value accepted for each field on the board (as --verify reads it back) and
// in the state file, no EEPROM write, the descriptors back at their level
// after warm-up. It prints what it did and the resident memory.
//
// QUORVEL_SOAK_SECONDS (default 600) and QUORVEL_SOAK_SEED (default: a new
// seed, printed) choose the run; CTest runs it shorter.
#include "DaemonRun.h"
#include "UecpFrame.h"

#include <boost/asio/write.hpp>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <random>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using namespace std::string_literals;
namespace fs = std::filesystem;

unsigned long envNumber(const char *name, unsigned long fallback)
{
    const char *value = std::getenv(name);
    return value && *value ? std::strtoul(value, nullptr, 10) : fallback;
}

// "/proc/PID/status"'s line `key`, in kB.
long procStatus(pid_t pid, const std::string &key)
{
    for (const std::string &line : lines(readFile("/proc/" + std::to_string(pid) + "/status")))
        if (line.starts_with(key + ":"))
            return std::stol(line.substr(key.size() + 1));
    return -1;
}

long descriptors(pid_t pid)
{
    const fs::path fds = "/proc/" + std::to_string(pid) + "/fd";
    return std::distance(fs::directory_iterator(fds), {});
}

std::string uecpFrame(const std::string &msg)
{
    const auto bytes = uecp::encodeFrame({0, 0, {msg.begin(), msg.end()}});
    return {bytes.begin(), bytes.end()};
}

std::string hexOf(const std::string &bytes)
{
    std::string hex;
    char two[3];
    for (const unsigned char c : bytes)
        hex += (std::snprintf(two, sizeof two, "%02X", c), two);
    return hex;
}

struct Counts {
    int songs = 0, reloads = 0, refusedReloads = 0, unplugs = 0, glitches = 0, clients = 0,
        pastLimit = 0, vanished = 0, folderAway = 0;
};

TEST(Soak, AYearOfStationLife)
{
    const auto seconds = envNumber("QUORVEL_SOAK_SECONDS", 600);
    const auto seed = envNumber("QUORVEL_SOAK_SEED", std::random_device{}());
    std::cout << "soak: " << seconds << " s, QUORVEL_SOAK_SEED=" << seed << std::endl;
    std::mt19937 rng(static_cast<unsigned>(seed));
    const auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
    TestDir dir;
    const std::string config = dir.path("conf"), control = dir.path("control");
    const fs::path folder = dir.path("state"), away = dir.path("away");
    fs::create_directory(folder);
    const std::string base = "allow 127.0.0.0/8\nascii-tcp 127.0.0.1:0\nascii-udp 127.0.0.1:0\n"
                             "uecp-tcp 127.0.0.1:0\nuecp-udp 127.0.0.1:0\nhttp 127.0.0.1:0\n";
    std::ofstream(config) << base;
    DaemonRun daemon({"--config", config, "--state", (folder / "state.json").string(), "--verify",
                      "1", "--dps-step", "1"},
                     {"--control", control});
    const pid_t pid = daemon.program();
    Client ascii(daemon.port("ascii-tcp")), uecp(daemon.port("uecp-tcp"));
    const unsigned short asciiUdp = daemon.port("ascii-udp"), uecpUdp = daemon.port("uecp-udp");
    const std::string web = daemon.log().substr(daemon.log().find("listening on http://"));
    httplib::Client http("127.0.0.1", std::stoi(web.substr(web.find(':', 20) + 1)));
    // Warm-up: a reload to every extra listener and back.
    const std::string extras[] = {"ascii-udp 127.0.0.2:0\n", "uecp-tcp 127.0.0.2:0\n",
                                  "ascii-tcp [::1]:0\n"};
    Counts did;
    const auto reload = [&](const std::string &text) {
        std::ofstream(config) << text;
        const size_t before = outcomes(daemon.log()).size();
        daemon.signalProgram(SIGHUP);
        ASSERT_TRUE(waitUntil([&] { return outcomes(daemon.log()).size() > before; }, 20));
    };
    reload(base + extras[0] + extras[1] + extras[2]);
    reload(base);
    const long fdsAtStart = descriptors(pid), rssAtStart = procStatus(pid, "VmRSS");

    std::string song, ps = "QUORVEL ", pty = "10";
    bool unplugged = false;
    const auto sendSong = [&](const std::string &text) {
        song = text;
        ascii.send("TEXT=" + text + "\r\n");
        datagram(asciiUdp, "RT=" + text + "\r\n", true);
        uecp.send(uecpFrame("\x0A\x00\x00"s + char(text.size() + 1) + '\x00' + text));
        datagram(uecpUdp, uecpFrame("\x0A\x00\x00"s + char(text.size() + 1) + '\x00' + text),
                 false);
        const auto posted = http.Post("/api/v1/nowplaying", nlohmann::json{{"text", text}}.dump(),
                                      "application/json");
        ASSERT_TRUE(posted && posted->status == 202) << text;
        ASSERT_EQ(ascii.receive(3), "+\r\n");
        did.songs++;
    };
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    auto nextReload = Clock::now();
    for (int round = 0; Clock::now() < end && !testing::Test::HasFailure(); round++) {
        sendSong("Artist " + std::to_string(round % 97) + " - Title " + std::to_string(round));
        if (chance(10)) { // the station's name, static or scrolling
            ps = chance(50) ? "NEWS " + std::to_string(round % 100) : "";
            ascii.send(ps.empty() ? "DPS=Your station for the whole region\r\n"
                                  : "PS=" + ps + "\r\n");
            ASSERT_EQ(ascii.receive(3), "+\r\n");
        }
        if (chance(10)) {
            pty = std::to_string(rng() % 32);
            uecp.send(uecpFrame("\x07\x00\x00"s + char(std::stoi(pty))));
        }
        if (chance(3)) { // the board
            const char *what = unplugged ? "replug" : chance(50) ? "unplug" : "glitch";
            std::ofstream(control) << what << "\n";
            unplugged = std::string(what) == "unplug";
            did.unplugs += unplugged;
            did.glitches += std::string(what) == "glitch";
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
            (refused ? did.refusedReloads : did.reloads)++;
            nextReload = Clock::now() + std::chrono::milliseconds(1000 + rng() % 4000);
        }
        if (chance(2)) { // more clients than a listener takes
            std::vector<std::unique_ptr<Client>> crowd;
            for (int i = 0; i < 66; i++)
                crowd.push_back(std::make_unique<Client>(daemon.port("ascii-tcp")));
            did.clients += 66;
            did.pastLimit += crowd.back()->closedByPeer();
        }
        if (chance(5)) { // a client gone mid-line: its partial line is never taken
            boost::asio::io_context io;
            boost::asio::ip::tcp::socket vanishing(io);
            vanishing.connect({boost::asio::ip::address_v4::loopback(), daemon.port("ascii-tcp")});
            boost::asio::write(vanishing, boost::asio::buffer("TEXT=Never on air"s));
            vanishing.set_option(boost::asio::socket_base::linger(true, 0));
            vanishing.close(); // a reset, not an end (a destructor would end it)
            did.clients++, did.vanished++;
        }
        if (chance(1) && !fs::exists(away)) { // the state folder away for a while
            fs::rename(folder, away);
            did.folderAway++;
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
    ps = "FINAL";
    ascii.send("PS=FINAL\r\n");
    ASSERT_EQ(ascii.receive(3), "+\r\n");
    sendSong("Last artist - Last title");
    const auto fieldsNow = [&] {
        const auto got = http.Get("/api/v1/fields");
        return got ? nlohmann::json::parse(got->body) : nlohmann::json();
    };
    size_t settledAt = 0;
    EXPECT_TRUE(waitUntil(
        [&] {
            const nlohmann::json f = fieldsNow();
            settledAt = daemon.requests().size();
            return !f.is_null() && f["pending"].empty() && f["fields"]["ram.ps"] == "FINAL   " &&
                   f["fields"]["ram.rt"] == song;
        },
        60))
        << fieldsNow().dump();
    // A whole verification pass (23 reads) after: what it read is what the board holds.
    EXPECT_TRUE(waitUntil([&] { return daemon.requests().size() >= settledAt + 46; }, 30));
    const nlohmann::json held = fieldsNow()["fields"];
    EXPECT_EQ(held["ram.ps"], "FINAL   ");
    EXPECT_EQ(held["ram.rt"], song);
    EXPECT_EQ(held["ram.pty"], std::stoi(pty));
    const std::string rtHex = hexOf(song + std::string(64 - song.size(), '\r'));
    EXPECT_TRUE(waitUntil(
        [&] {
            const std::string state = readFile((folder / "state.json").string());
            return state.find(hexOf("FINAL   ")) != std::string::npos &&
                   state.find(rtHex) != std::string::npos;
        },
        40))
        << "the state file holds the last values";
    for (const sim::Request &r : daemon.requests()) {
        ASSERT_FALSE(r.code < 0x80 && (r.code < 0x21 || r.code > 0x3F)) << "an EEPROM write";
        ASSERT_NE(r, block(0x30, "Neve")) << "a line cut by a reset went on air";
    }
    EXPECT_TRUE(waitUntil([&] { return descriptors(pid) == fdsAtStart; }, 20))
        << descriptors(pid) << " descriptors, " << fdsAtStart << " after warm-up";
    const long rssAtEnd = procStatus(pid, "VmRSS");
    std::cout << "soak: " << did.songs << " song changes, " << did.reloads << " reloads and "
              << did.refusedReloads << " refused, " << did.unplugs << " unplugs and replugs, "
              << did.glitches << " power glitches, " << did.clients << " clients (" << did.pastLimit
              << " crowds past the limit, " << did.vanished << " gone mid-line), state folder away "
              << did.folderAway << " times; " << fdsAtStart << " descriptors; resident "
              << rssAtStart << " kB after warm-up, " << rssAtEnd << " kB at the end" << std::endl;
#if !defined(__SANITIZE_ADDRESS__) &&                                                              \
    !defined(__SANITIZE_THREAD__) // their memory is kept on purpose
    EXPECT_LT(rssAtEnd - rssAtStart, 8 * 1024) << "kB grown";
#endif
    EXPECT_EQ(daemon.stop(SIGTERM), 0);
    for (const char *report : {"Sanitizer", "runtime error"})
        EXPECT_EQ(daemon.log().find(report), std::string::npos) << daemon.log();
}

} // namespace
