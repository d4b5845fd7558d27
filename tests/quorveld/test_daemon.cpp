// quorveld as a station's automation drives it: ASCII lines and UECP frames
// over loopback sockets, checked by the replies and by the requests the
// simulated board received.
#include "DaemonRun.h"
#include "UecpFrame.h"

#include <boost/asio/local/datagram_protocol.hpp>

#include <gmock/gmock.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>

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
        {"*PTY=5\r\n", "+\r\n", {ok(0x63, 5)}},
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
    DaemonRun refused(
        {"--ascii-tcp", "127.0.0.1:0", "--ascii-udp", "127.0.0.1:0", "--allow", "127.0.0.2"});
    Client stranger(refused.port("ascii-tcp"));
    stranger.send("PS=NOPE\r\n");
    EXPECT_TRUE(stranger.closedByPeer());
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

// --idle-timeout: a client that sends a line now and then stays past the
// idle time; one silent that long is closed.
TEST(Limits, AnIdleClientIsClosedAnActiveOneStays)
{
    DaemonRun daemon({"--ascii-tcp", "127.0.0.1:0", "--idle-timeout", "2"}, {"--no-board"});
    Client active(daemon.port("ascii-tcp")), silent(daemon.port("ascii-tcp"));
    for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
         std::chrono::steady_clock::now() < until;) {
        active.send("PTY=1\r\n");
        ASSERT_EQ(active.receive(3), "+\r\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(silent.closedByPeer());
    EXPECT_TRUE(active.closedByPeer()) << "once silent too";
}

// A board that hangs is found and lost again and again: each of the two lines
// is written once and its repeats counted, the count written at the stop.
TEST(Board, AHangingBoardIsLoggedOnceThenCounted)
{
    ChildProcess daemon;
    daemon.start({"--hang-at", "1:100"}, {QUORVELD});
    const auto count = [&](const std::string &part) {
        const std::vector<std::string> all = lines(daemon.err());
        return std::count_if(all.begin(), all.end(),
                             [&](const std::string &line) { return contains(line, part); });
    };
    ASSERT_TRUE(waitUntil([&] { return daemon.requests().size() >= 3; }, 20)) << "three hangs";
    EXPECT_EQ(count("board found at"), 1);
    EXPECT_EQ(count("not answering (-110)"), 1);
    daemon.signal(SIGTERM);
    EXPECT_EQ(daemon.wait(10), 0);
    EXPECT_EQ(count("more like it)"), 2) << daemon.err();
}

// SIGHUP reloads all or nothing: a configuration that cannot be read, names a
// FIFO or has a listener that cannot be bound leaves the running one whole,
// and the next SIGHUP tries again; a listener that stays keeps its clients;
// a narrowed --allow closes those it no longer takes. SIGINT ends cleanly.
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
    std::string heard; // every message, each line ended
    const auto hear = [&] {
        char message[4096];
        while (systemd.available() > 0)
            heard += std::string(message, systemd.receive(boost::asio::buffer(message))) + "\n";
        return heard;
    };
    EXPECT_TRUE(waitUntil([&] { return contains(daemon.log(), "no board found"); }, 10));
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
        {stays + taken + "\n", "configuration reloaded", "+\r\n"}, // the port freed
    };
    for (const auto &reload : reloads) {
        SCOPED_TRACE(reload.config);
        if (&reload == &reloads[4])
            busy.close();
        const size_t before = outcomes(daemon.log()).size();
        std::ofstream(config) << reload.config;
        daemon.signalProgram(SIGHUP);
        ASSERT_TRUE(waitUntil([&] { return outcomes(daemon.log()).size() > before; }, 10));
        EXPECT_THAT(outcomes(daemon.log()).back(), HasSubstr(reload.outcome));
        if (contains(reload.outcome, "not reloaded")) { // and the status line says why
            EXPECT_TRUE(waitUntil([&] { return contains(hear(), reload.outcome); }, 10)) << heard;
        }
        client.send("PTY=2\r\n"); // the ASCII listener stayed open, and so did the client
        EXPECT_EQ(client.receive(reload.reply.size()), reload.reply);
    }
    EXPECT_THAT(daemon.log(), HasSubstr("listening on " + taken));
    std::ofstream(config) << stays << "allow 10.0.0.0/8\n";
    daemon.signalProgram(SIGHUP);
    EXPECT_TRUE(client.closedByPeer()) << "no longer allowed";
    Client newcomer(port);
    EXPECT_TRUE(newcomer.closedByPeer());
    EXPECT_EQ(daemon.stop(SIGINT), 0);
}

// A FIFO or a device named as the now-playing or the state file would block
// quorveld at its opening: refused at start.
TEST(Signals, AFifoForAFileEndsTheStartAtOnce)
{
    TestDir dir;
    const std::string fifo = dir.path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const char *option : {"--follow", "--state"}) {
        ChildProcess run;
        run.start({"--no-board"}, {QUORVELD, option, fifo});
        EXPECT_EQ(run.wait(10), 1) << option;
        EXPECT_THAT(run.err(),
                    HasSubstr(std::string(option) + ": " + fifo + " is not a regular file"));
    }
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
