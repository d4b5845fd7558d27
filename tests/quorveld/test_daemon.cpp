// quorveld as a station's automation drives it: ASCII lines and UECP frames
// over loopback sockets, checked by the replies and by the requests the
// simulated board received.
#include "DaemonRun.h"
#include "UecpFrame.h"

#include <gmock/gmock.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <sys/resource.h>
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

// A UECP frame holding the message `msg`.
std::string frame(const std::string &msg, uint8_t sqc = 1, uint16_t address = 0)
{
    const auto encoded = uecp::encodeFrame({address, sqc, {msg.begin(), msg.end()}});
    return {encoded.begin(), encoded.end()};
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
    EXPECT_EQ(datagram(ascii, "PTY=7", true), "OK\r\n");
    EXPECT_EQ(datagram(ascii, "PTY=77\r\n", true), "NO\r\n");
    EXPECT_EQ(datagram(ascii, "HELLO\r\n", true), "NO\r\n");
    waitUntil([&] { return daemon.requests().size() >= loadSize + 2; }, 10);
    EXPECT_THAT(daemon.requests(loadSize), UnorderedElementsAreArray({ok(0x27, 8), ok(0x23, 7)}));
}

// Replies never wait for a board whose every request hangs for a second.
TEST(Board, AHungBoardNeverSlowsAReply)
{
    DaemonRun daemon({"--ascii-tcp", "127.0.0.1:0"}, {"--hang-at", "76:1000"});
    Client client(daemon.port("ascii-tcp"));
    std::string replies;
    for (int i = 0; i < 20; i++) {
        client.send("PS=HUNG" + std::to_string(i % 10) + "\r\n");
        replies += client.receive(3);
    }
    EXPECT_EQ(replies.size(), 60u);
    client.send("PS?\r\n"); // what was asked, not what the board holds yet
    EXPECT_EQ(client.line(), "PS=HUNG9   \r\n");
    // Twenty replies came while the board took at most a few requests.
    EXPECT_LT(daemon.requests().size(), loadSize + 10);
}

// The asked-for values, saved on SIGTERM, are applied to a new board on start.
TEST(Board, TheStateFileCarriesAskedValuesAcrossARestart)
{
    TestDir dir;
    {
        DaemonRun first({"--ascii-tcp", "127.0.0.1:0", "--state", dir.path("state")});
        Client client(first.port("ascii-tcp"));
        client.send("PS=SAVED 1\r\nRT=Kept\r\n");
        EXPECT_EQ(client.receive(6), "+\r\n+\r\n");
        EXPECT_EQ(first.stop(SIGTERM), 0);
        EXPECT_THAT(first.log(), HasSubstr("stopped"));
    }
    DaemonRun second({"--state", dir.path("state")}); // a new board, at its defaults
    ASSERT_TRUE(waitUntil([&] { return second.requests().size() >= loadSize + 4; }, 10));
    EXPECT_THAT(second.requests(loadSize),
                IsSupersetOf({ok(0x21, 0x5341, 0x5645), ok(0x22, 0x4420, 0x3120),
                              ok(0x30, 0x4B65, 0x7074)}));
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

// SIGHUP re-reads the configuration, a bad one is kept out; SIGINT ends cleanly.
TEST(Signals, HangupRereadsTheConfiguration)
{
    TestDir dir;
    const std::string config = dir.path("conf");
    std::ofstream(config) << "# a station's settings\nascii-tcp 127.0.0.1:0\nascii-replies=plus\n";
    DaemonRun daemon({"--config", config}, {"--no-board"});
    const unsigned short port = daemon.port("ascii-tcp");
    Client client(port);
    client.send("PTY=1\r\n");
    EXPECT_EQ(client.receive(3), "+\r\n");
    EXPECT_THAT(daemon.log(), HasSubstr("no board found"));
    for (const auto &[text, logged] :
         {std::pair{"ascii-tcp 127.0.0.1:0\n--ascii-replies ok\nallow 10.0.0.0/8\n",
                    "configuration reloaded"},
          {"ascii-tcp 127.0.0.1:0\nascii-replies maybe\n", "not reloaded"}}) {
        std::ofstream(config) << text;
        daemon.signalProgram(SIGHUP);
        ASSERT_TRUE(waitUntil([&] { return daemon.log().find(logged) != std::string::npos; }, 10));
        client.send("PTY=2\r\n"); // the listener stayed open, and so did the client
        EXPECT_EQ(client.receive(4), "OK\r\n");
    }
    Client newcomer(port); // refused by the reloaded --allow
    EXPECT_TRUE(newcomer.closedByPeer());
    EXPECT_EQ(daemon.stop(SIGINT), 0);
}

// --verify: the RAM read back (23 reads) just after a power glitch; each
// asked field written again.
TEST(Board, APowerGlitchGetsTheAskedRamValuesBackUnderVerify)
{
    DaemonRun daemon({"--ascii-tcp", "127.0.0.1:0", "--verify", "1"}, {"--power-glitch-at", "79"});
    Client client(daemon.port("ascii-tcp"));
    client.send("PS=BACK 1\r\nPTY=3\r\n");
    EXPECT_EQ(client.receive(6), "+\r\n+\r\n");
    ASSERT_TRUE(waitUntil([&] { return daemon.requests().size() >= 78 + 23 + 3; }, 10));
    EXPECT_THAT(daemon.requests(78),
                IsSupersetOf({ok(0x21, 0x4241, 0x434B), ok(0x22, 0x2031, 0x2020), ok(0x23, 3)}));
}

// --follow feeds the RadioText; appended UECP texts take turns each --rt-cycle.
TEST(Sources, NowPlayingFileAndRotatingRadioTexts)
{
    TestDir dir;
    const std::string file = dir.path("np");
    std::ofstream(file) << "Artist - One\n";
    DaemonRun daemon({"--follow", file, "--uecp-tcp", "127.0.0.1:0", "--rt-cycle", "1"});
    ASSERT_TRUE(waitUntil([&] { return daemon.requests().size() >= loadSize + 10; }, 10));
    EXPECT_THAT(daemon.requests(loadSize),
                UnorderedElementsAreArray(rtBlocks("Artist - One", 0, 10)));
    std::ofstream(file + ".new") << "Artist - Two\n";
    std::rename((file + ".new").c_str(), file.c_str());
    ASSERT_TRUE(waitUntil([&] { return daemon.requests().size() >= loadSize + 11; }, 10));
    EXPECT_EQ(daemon.requests().back(), ok(0x32, 0x2054, 0x776F));

    // Flush with "AAAA", append "BBBB".
    Client client(daemon.port("uecp-tcp"));
    const size_t before = daemon.requests().size();
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
