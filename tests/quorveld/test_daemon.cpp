// quorveld as a station's automation drives it: ASCII lines and UECP frames
// over loopback sockets, checked by the replies and by the requests the
// simulated board received.
#include "DaemonRun.h"

#include <boost/asio/local/datagram_protocol.hpp>

#include <gmock/gmock.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::string_literals;
using testing::HasSubstr;
using testing::IsSupersetOf;
using testing::UnorderedElementsAreArray;

namespace {

struct Exchange {
    std::string send, reply;
    Requests requests; // in any order
};

// Sends each line and checks its reply and, once the board has them, its requests.
void converse(DaemonRun &daemon, Client &client, const std::vector<Exchange> &exchanges)
{
    for (const Exchange &e : exchanges) {
        SCOPED_TRACE(e.send.substr(0, 40));
        const size_t before = daemon.requests().size();
        client.send(e.send);
        EXPECT_EQ(client.receive(e.reply.size()), e.reply);
        waitUntil([&] { return daemon.requests().size() >= before + e.requests.size(); }, 10);
        EXPECT_THAT(daemon.requests(before), UnorderedElementsAreArray(e.requests));
    }
}

// The writes of RadioText blocks [from, to) of `text` (carriage returns after it).
Requests rtBlocks(const std::string &text, int from, int to)
{
    const Requests all = textWrite(0x30, text);
    return {all.begin() + from, all.begin() + to};
}

// The acknowledgement: `18 00` for OK, else `18 code sqc`.
std::string ack(uint8_t sqc, char code = 0)
{
    return frame(code ? "\x18"s + code + char(sqc) : "\x18\x00"s, sqc);
}

// Every ASCII command its requests and reply; queries; line limit; status;
// DPS scrolling until a PS name.
TEST(Ascii, EachCommandSendsExactlyItsRequests)
{
    DaemonRun daemon({"--ascii-tcp", "127.0.0.1:0", "--dps-step", "1"});
    Client client(daemon.port("ascii-tcp"));
    // clang-format off
    converse(daemon, client, {
        {"PS=RADIO1\r\n", "+\r\n", {ok(0x21, 0x5241, 0x4449), ok(0x22, 0x4F31, 0x2020)}},
        {"PS=RADIO2\n", "+\r\n", {ok(0x22, 0x4F32, 0x2020)}},
        {"PTY=40\r", "-\r\n", {}},
        {"TA=1\r\n", "+\r\n", {ok(0x25, 1)}},
        {"ta=1\r\n", "+\r\n", {}},
        {"*PTY=5\r\n", "+\r\n", {ok(0x63, 5), ok(0x23, 5)}},
        {"PI=C2A1\r\n", "+\r\n", {ok(0x68, 0xC2A1)}},
        {"AF=98.5,101.1\r\n", "+\r\n",
         {ok(0x6A, 110, 0), ok(0x6A, 136, 1), ok(0x69, 2)}},
        {"eeprom.group2a=7\r\n", "+\r\n", {ok(0x02, 7)}},
        {"RT=Hello\r\n", "+\r\n", rtBlocks("Hello", 0, 10)},
        {"TEXT=Help\r\n", "+\r\n", rtBlocks("Help", 0, 2)},
        {"FOO=1\r\n", "!\r\n", {}},
        {"PS?\r\n", "PS=RADIO2  \r\n", {}},
        {"AF?\r\n", "AF=98.5,101.1\r\n", {}},
        {std::string(1025, 'A') + "\r\nPTY=3\r\n", "-\r\n+\r\n", {ok(0x23, 3)}},
        {"PTY=6\r\nPTY=7\r\n", "+\r\n+\r\n", {ok(0x23, 7)}}, // one read: the last value only
    });
    // clang-format on
    client.send("??\r\n");
    std::vector<std::string> all;
    for (int i = 0; i < 43; i++)
        all.push_back(client.line());
    EXPECT_EQ(all[0] + all[1] + all[14] + all[42],
              "ram.ps=RADIO2  \r\nram.rt=Help\r\neeprom.pi=0xC2A1\r\neeprom.stereo=1\r\n");
    // The board may have logged the last request before the worker heard its answer.
    EXPECT_TRUE(waitUntil(
        [&] {
            client.send("STATUS?\r\n");
            return client.line() == "STATUS=present,pending=0,eeprom_writes=6\r\n";
        },
        10));

    size_t before = daemon.requests().size();
    client.send("DPS=Now on air\r\n");
    EXPECT_EQ(client.receive(3), "+\r\n");
    // "Now on a", then "ir      ", then again "Now on a".
    ASSERT_TRUE(waitUntil([&] { return daemon.requests().size() >= before + 6; }, 10));
    EXPECT_THAT(daemon.requests(before),
                IsSupersetOf({ok(0x21, 0x4E6F, 0x7720), ok(0x22, 0x6F6E, 0x2061),
                              ok(0x21, 0x6972, 0x2020), ok(0x22, 0x2020, 0x2020)}));
    before = daemon.requests().size();
    client.send("PS=STOPPED\r\n");
    EXPECT_EQ(client.receive(3), "+\r\n");
    ASSERT_TRUE(waitUntil([&] { return daemon.requests().size() >= before + 2; }, 10));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // a step would be due
    EXPECT_EQ(daemon.requests().back(), ok(0x22, 0x5045, 0x4420)); // "PPED", no scroll since

    Client last(daemon.port("ascii-tcp")); // a last line without its ending, then the stream's end
    before = daemon.requests().size();
    last.send("PS=LAST");
    last.finish();
    ASSERT_TRUE(waitUntil([&] { return daemon.requests().size() >= before + 2; }, 10));
    EXPECT_THAT(daemon.requests(before),
                UnorderedElementsAreArray({ok(0x21, 0x4C41, 0x5354), ok(0x22, 0x2020, 0x2020)}));
}

// Every UECP element its requests and acknowledgement, errors, comm mode;
// a TCP stream re-framed after garbage and split frames.
TEST(Uecp, EachElementSendsExactlyItsRequestsAndIsAcknowledged)
{
    DaemonRun daemon({"--uecp-tcp", "127.0.0.1:0"});
    Client client(daemon.port("uecp-tcp"));
    const std::string ps = "\x02\x00\x00"s + "RADIO 3 ";
    // clang-format off
    converse(daemon, client, {
        {frame("\x2C\x01", 1), ack(1), {}},
        {frame(ps, 2), ack(2), {ok(0x21, 0x5241, 0x4449), ok(0x22, 0x4F20, 0x3320)}},
        {frame("\x07\x00\x00\x05"s, 3), ack(3), {ok(0x23, 5)}},
        {frame("\x03\xFF\x01\x03"s, 4), ack(4), {ok(0x25, 1)}},
        {frame("\x04\x00\x00\x08"s, 5), ack(5), {ok(0x27, 8)}},
        {frame("\x05\x00\x00\x00"s, 6), ack(6), {ok(0x26, 0)}},
        {frame("\x01\x00\x00\xC2\x02"s, 7), ack(7), {ok(0x68, 0xC202)}},
        {frame("\x13\x00\x01\x07\x00\x00\xE2\x15\x27\xCD\x00"s, 8), ack(8),
         {ok(0x6A, 21, 0), ok(0x6A, 39, 1), ok(0x69, 2)}},
        // "Quor" is on the board already: its block is not sent again.
        {frame("\x0A\x00\x00\x06\x00"s + "Quorx", 9), ack(9), rtBlocks("Quorx", 1, 10)},
        {frame("\x07\x03\x00\x04"s, 10), ack(10, 4), {}},
        {frame("\x99\x07\x00\x00\x04"s, 11), ack(11, 3), {}},
        {frame("\x17\x01\x02", 12), frame(ps, 12) + ack(12), {}},
    });
    // clang-format on
    // One byte at a time: MS 1, PTY 9 after garbage; one-way from frame 16 on.
    const std::string stream = "garbage" + frame("\x05\x00\x00\x01"s, 15) + "\x01\x02" +
                               frame("\x2C\x00"s, 16) + frame("\x07\x00\x00\x09"s, 17);
    const size_t before = daemon.requests().size();
    for (char c : stream)
        client.send(std::string(1, c));
    EXPECT_EQ(client.receive(ack(15).size()), ack(15));
    waitUntil([&] { return daemon.requests().size() >= before + 2; }, 10);
    EXPECT_THAT(daemon.requests(before), UnorderedElementsAreArray({ok(0x26, 1), ok(0x23, 9)}));
    client.send(frame("\x2C\x01", 18));
    EXPECT_EQ(client.receive(ack(18).size()), ack(18)); // not an acknowledgement of 16 or 17
}

// UDP: the encoder's addresses only, CRC errors; ASCII with OK/NO replies.
TEST(Uecp, FramesOnlyForThisEncodersAddressesAndAsciiOkOverUdp)
{
    DaemonRun daemon({"--uecp-udp", "127.0.0.1:0", "--site", "837", "--encoder", "18",
                      "--ascii-udp", "127.0.0.1:0", "--ascii-replies", "ok"});
    const unsigned short port = daemon.port("uecp-udp"), ascii = daemon.port("ascii-udp");
    const uint16_t ours = 837 << 6 | 18;
    EXPECT_EQ(datagram(port, frame("\x2C\x01", 0x2A), true), ack(0x2A));
    // The standard's example: site 837, encoder 18, data set 3: not this encoder's.
    const char *example = "\xFE\xD1\x52\x01\x0B\x02\x03\x06\x20\x50\x53"
                          "\x20\x52\x44\x53\x20\x25\xF4\xFF";
    EXPECT_EQ(datagram(port, example, true), ack(1, 4));
    // Site 5: not ours: no reply, and MS stays as the board has it; a bad CRC.
    EXPECT_EQ(datagram(port, frame("\x05\x00\x00\x00"s, 3, 5 << 6 | 18), false), "");
    std::string bad = frame("\x07\x00\x00\x02"s, 4, ours);
    bad[bad.size() - 2] ^= 0x01;
    EXPECT_EQ(datagram(port, bad, true), ack(4, 1));
    EXPECT_EQ(datagram(port, frame("\x04\x00\x00\x08"s, 5, ours), true), ack(5));
    EXPECT_EQ(datagram(ascii, "PTY=6\r\nPTY=7", true),
              "OK\r\nOK\r\n"); // the last reaches the board
    EXPECT_EQ(datagram(ascii, "PTY=77\r\n", true), "NO\r\n");
    EXPECT_EQ(datagram(ascii, "HELLO\r\n", true), "NO\r\n");
    waitUntil([&] { return daemon.requests().size() >= loadSize + 2; }, 10);
    EXPECT_THAT(daemon.requests(loadSize), UnorderedElementsAreArray({ok(0x27, 8), ok(0x23, 7)}));
}

// A board that hangs from the first write on: replies never wait for it, and
// a query answers what was asked. Found and lost again and again, each of the
// two lines is written once, its repeats counted (the count at the stop).
TEST(Board, AHungBoardSlowsNoReplyAndIsLoggedOnce)
{
    DaemonRun daemon({"--ascii-tcp", "127.0.0.1:0"}, {"--hang-at", "76:100"});
    Client client(daemon.port("ascii-tcp"));
    for (int i = 0; i < 20; i++) {
        client.send("PS=HUNG" + std::to_string(i % 10) + "\r\n");
        ASSERT_EQ(client.receive(3), "+\r\n");
    }
    client.send("PS?\r\n"); // what was asked, not what the board holds yet
    EXPECT_EQ(client.line(), "PS=HUNG9   \r\n");
    // Twenty replies came while the board took at most a few requests.
    EXPECT_LT(daemon.requests().size(), loadSize + 10);
    ASSERT_TRUE(waitUntil([&] { return daemon.requests().size() >= loadSize + 3; }, 20));
    EXPECT_EQ(count(daemon.log(), "board found at"), 1);
    EXPECT_EQ(count(daemon.log(), "not answering (-110)"), 1);
    EXPECT_EQ(daemon.stop(SIGTERM), 0);
    EXPECT_EQ(count(daemon.log(), "more like it)"), 2) << daemon.log();
}

// --allow over TCP and UDP, and at most 64 clients per listener.
TEST(Limits, AllowListAndClients)
{
    DaemonRun refused({"--ascii-tcp", "127.0.0.1:0", "--ascii-udp", "127.0.0.1:0", "--http",
                       "127.0.0.1:0", "--allow", "127.0.0.2"});
    for (const auto &[kind, bytes] :
         {std::pair{"ascii-tcp", "PS=NOPE\r\n"},
          {"http", "GET /api/v1/status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"}}) {
        Client stranger(refused.port(kind));
        stranger.send(bytes);
        EXPECT_TRUE(stranger.closedByPeer()) << kind;
    }
    const unsigned short udp = refused.port("ascii-udp");
    datagram(udp, "PTY=9\r\n", false); // dropped, so the next one asks the board's
    EXPECT_EQ(datagram(udp, "PTY?\r\n", true, "127.0.0.2"), "PTY=10\r\n");

    DaemonRun daemon({"--ascii-tcp", "127.0.0.1:0", "--allow", "127.0.0.0/8", "--allow", "::1"});
    const unsigned short port = daemon.port("ascii-tcp");
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 64; i++) {
        clients.push_back(std::make_unique<Client>(port));
        clients.back()->send("PTY=1\r\n");
        EXPECT_EQ(clients.back()->receive(3), "+\r\n");
    }
    Client oneTooMany(port);
    EXPECT_TRUE(oneTooMany.closedByPeer());
    clients.pop_back();
    EXPECT_TRUE(waitUntil(
        [&] {
            Client next(port);
            next.send("PTY=2\r\n");
            return next.receive(3) == "+\r\n";
        },
        10));
}

// The process's CPU time so far, in seconds.
double cpuSeconds(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; i++)
        if (i >= 14)
            ticks += std::stod(field);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Out of descriptors, the HTTP door pauses its accepts rather than spin on
// them, and serves again once descriptors are free.
TEST(Limits, AnHttpDoorOutOfDescriptorsPausesItsAccepts)
{
#ifdef QUORVEL_SANITIZE
    // UBSan probes memory through a pipe; with no descriptor left it reports
    // every unchecked virtual call as an invalid vptr and ends the daemon.
    GTEST_SKIP() << "needs a build without sanitizers";
#endif
    rlimit mine{};
    getrlimit(RLIMIT_NOFILE, &mine);
    rlimit few = mine;
    few.rlim_cur = 48; // quorveld's, inherited
    setrlimit(RLIMIT_NOFILE, &few);
    DaemonRun daemon({"--http", "127.0.0.1:0", "--http-max-per-address", "100"});
    setrlimit(RLIMIT_NOFILE, &mine);
    const unsigned short port = daemon.port("http");
    std::vector<std::unique_ptr<Client>> flood;
    for (int i = 0; i < 60; i++)
        flood.push_back(std::make_unique<Client>(port));
    ASSERT_TRUE(
        waitUntil([&] { return daemon.log().find("cannot accept") != std::string::npos; }, 10))
        << daemon.log();
    const double before = cpuSeconds(daemon.program());
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_LT(cpuSeconds(daemon.program()) - before, 0.5);
    flood.clear();
    EXPECT_TRUE(waitUntil(
        [&] {
            Client client(port);
            client.send("GET /api/v1/status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
            return client.receive(12) == "HTTP/1.1 200";
        },
        10))
        << daemon.log();
}

// SIGHUP reloads all or nothing: a configuration that cannot be read, names a
// FIFO or has a listener that cannot be bound leaves the running one whole
// (and systemd's status line says why), and the next SIGHUP tries again; a
// listener that stays keeps its clients; a narrowed --allow closes those it
// no longer takes. SIGINT ends cleanly.
TEST(Signals, HangupReloadsAllOrNothing)
{
    TestDir dir;
    const std::string config = dir.path("conf"), fifo = dir.path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string stays = "# a station's settings\nascii-tcp 127.0.0.1:0\n";
    std::ofstream(config) << stays;
    // What systemd would hear (sd_notify), from a socket of the test's own.
    boost::asio::io_context io;
    boost::asio::local::datagram_protocol::socket systemd(io, {dir.path("notify")});
    setenv("NOTIFY_SOCKET", dir.path("notify").c_str(), 1);
    DaemonRun daemon({"--config", config}, {"--no-board"});
    unsetenv("NOTIFY_SOCKET");
    std::string message(65536, '\0'), told; // heard, each read as it came (its queue is short)
    const auto hear = [&] {
        while (systemd.available() > 0)
            told += message.substr(0, systemd.receive(boost::asio::buffer(message)));
    };
    EXPECT_TRUE(
        waitUntil([&] { return daemon.log().find("no board found") != std::string::npos; }, 10));
    const unsigned short port = daemon.port("ascii-tcp");
    Client client(port);
    boost::asio::ip::tcp::acceptor busy(io, {boost::asio::ip::address_v4::loopback(), 0});
    const std::string taken = "uecp-tcp 127.0.0.1:" + std::to_string(busy.local_endpoint().port());
    const struct {
        std::string config, outcome, reply;
    } reloads[] = {
        {stays + "ascii-replies=ok\n", "configuration reloaded", "OK\r\n"},
        {stays + "ascii-replies maybe\n", "not reloaded: --ascii-replies: \"maybe\"", "OK\r\n"},
        {stays + "follow " + fifo + "\n", "not reloaded: --follow: " + fifo + " is not a regular",
         "OK\r\n"},
        {stays + taken + "\n", "not reloaded: " + taken + ": Address already in use", "OK\r\n"},
        {stays + taken + "\n", "configuration reloaded", "+\r\n"},      // the port freed
        {stays + "allow 10.0.0.0/8\n", "configuration reloaded", "\n"}, // closed: not allowed
    };
    for (const auto &reload : reloads) {
        if (&reload == &reloads[4])
            busy.close();
        const size_t before = count(daemon.log(), "reloaded");
        std::ofstream(config) << reload.config;
        daemon.signalProgram(SIGHUP);
        ASSERT_TRUE(waitUntil([&] { return count(daemon.log(), "reloaded") > before; }, 10));
        EXPECT_THAT(daemon.log().substr(daemon.log().rfind("configuration")),
                    HasSubstr(reload.outcome));
        client.send("PTY=2\r\n"); // the ASCII listener stayed open, and so did the client
        EXPECT_EQ(client.line(), reload.reply) << reload.config;
        hear();
    }
    EXPECT_THAT(daemon.log(), HasSubstr("listening on " + taken));
    for (const auto &reload : reloads) // the status lines said why a reload was refused
        EXPECT_TRUE(!reload.outcome.starts_with("not") || told.find(reload.outcome) != told.npos)
            << reload.outcome << " in " << told;
    Client newcomer(port);
    EXPECT_TRUE(newcomer.closedByPeer());
    EXPECT_EQ(daemon.stop(SIGINT), 0);
}

// Appended UECP texts take turns each --rt-cycle.
TEST(Sources, RotatingRadioTexts)
{
    DaemonRun daemon({"--uecp-tcp", "127.0.0.1:0", "--rt-cycle", "1"});
    Client client(daemon.port("uecp-tcp"));
    const size_t before = daemon.requests().size(); // flush with "AAAA", append "BBBB"
    client.send(frame("\x0A\x00\x00\x05\x00"s + "AAAA") + frame("\x0A\x00\x00\x05\x40"s + "BBBB"));
    ASSERT_TRUE(waitUntil(
        [&] {
            const Requests sent = daemon.requests(before);
            return std::count(sent.begin(), sent.end(), ok(0x30, 0x4141, 0x4141)) >= 2;
        },
        10));
    EXPECT_THAT(daemon.requests(before), testing::Contains(ok(0x30, 0x4242, 0x4242)));
}

} // namespace
