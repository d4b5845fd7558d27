// quorveld as a station's automation drives it: ASCII lines and UECP frames
// over loopback sockets, checked by the replies and by the requests the
// simulated board received.
#include "DaemonRun.h"
#include "UecpFrame.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <thread>

#include <unistd.h>

using testing::ElementsAreArray;
using testing::IsEmpty;
using testing::UnorderedElementsAreArray;

namespace {

struct Exchange {
    std::string send;
    std::string reply;
    std::vector<std::string> requests; // in any order
};

// Sends each line and checks its reply and, once the board has them, its requests.
void converse(DaemonRun &daemon, Client &client, const std::vector<Exchange> &exchanges)
{
    for (const Exchange &e : exchanges) {
        SCOPED_TRACE(e.send.substr(0, 40));
        const size_t before = daemon.requests().size();
        client.send(e.send);
        EXPECT_EQ(client.receive(e.reply.size()), e.reply);
        waitUntil([&] { return daemon.requests().size() >= before + e.requests.size(); });
        EXPECT_THAT(daemon.requests(before), UnorderedElementsAreArray(e.requests));
    }
}

std::string bytes(std::initializer_list<int> list)
{
    std::string text;
    for (int b : list)
        text += static_cast<char>(b);
    return text;
}

// A UECP frame to address 0 holding the message `msg`.
std::string frame(const std::string &msg, uint8_t sqc = 1, uint16_t address = 0)
{
    const std::vector<uint8_t> encoded = uecp::encodeFrame({address, sqc, {msg.begin(), msg.end()}});
    return {encoded.begin(), encoded.end()};
}

// The acknowledgement: `18 00` for OK, else `18 code sqc`.
std::string ack(uint8_t sqc, uint8_t code = 0)
{
    return frame(code ? bytes({0x18, code, sqc}) : bytes({0x18, 0x00}), sqc);
}

const std::string longLine(1025, 'A');

} // namespace

TEST(Ascii, EachCommandSendsExactlyItsRequests)
{
    DaemonRun daemon({"--ascii-tcp", "127.0.0.1:0"});
    Client client(daemon.port("ascii-tcp"));
    converse(daemon, client, {
        {"PS=RADIO1\r\n", "+\r\n", {request(0x21, 0x5241, 0x4449), request(0x22, 0x4F31, 0x2020)}},
        {"PS=RADIO2\n", "+\r\n", {request(0x22, 0x4F32, 0x2020)}},
        {"PTY=40\r", "-\r\n", {}},
        {"TA=1\r\n", "+\r\n", {request(0x25, 1)}},
        {"ta=1\r\n", "+\r\n", {}},
        {"*PTY=5\r\n", "+\r\n", {request(0x63, 5)}},
        {"PI=C2A1\r\n", "+\r\n", {request(0x68, 0xC2A1)}},
        {"AF=98.5,101.1\r\n", "+\r\n", {request(0x6A, 110, 0), request(0x6A, 136, 1), request(0x69, 2)}},
        {"eeprom.group2a=7\r\n", "+\r\n", {request(0x02, 7)}},
        {"RT=Hello\r\n", "+\r\n", {request(0x30, 0x4865, 0x6C6C), request(0x31, 0x6F0D, 0x0D0D),
                                   request(0x32, 0x0D0D, 0x0D0D), request(0x33, 0x0D0D, 0x0D0D),
                                   request(0x34, 0x0D0D, 0x0D0D), request(0x35, 0x0D0D, 0x0D0D),
                                   request(0x36, 0x0D0D, 0x0D0D), request(0x37, 0x0D0D, 0x0D0D),
                                   request(0x38, 0x0D0D, 0x0D0D), request(0x39, 0x0D0D, 0x0D0D)}},
        {"TEXT=Help\r\n", "+\r\n", {request(0x30, 0x4865, 0x6C70), request(0x31, 0x0D0D, 0x0D0D)}},
        {"FOO=1\r\n", "!\r\n", {}},
        {"PS?\r\n", "PS=RADIO2  \r\n", {}},
        {"AF?\r\n", "AF=98.5,101.1\r\n", {}},
    });
    client.send("??\r\n");
    std::vector<std::string> all;
    for (int i = 0; i < 43; i++)
        all.push_back(client.line());
    EXPECT_EQ(all[0], "ram.ps=RADIO2  \r\n");
    EXPECT_EQ(all[1], "ram.rt=Help\r\n");
    EXPECT_EQ(all[14], "eeprom.pi=0xC2A1\r\n");
    EXPECT_EQ(all[42], "eeprom.stereo=1\r\n");
    converse(daemon, client, {{longLine + "\r\nPTY=3\r\n", "-\r\n+\r\n", {request(0x23, 3)}}});
    // The board may have logged the last request before the worker heard its answer.
    EXPECT_TRUE(waitUntil([&] {
        client.send("STATUS?\r\n");
        return client.line() == "STATUS=present,pending=0,eeprom_writes=6\r\n";
    }));
}

TEST(Ascii, OkRepliesAndUdp)
{
    DaemonRun daemon({"--ascii-udp", "127.0.0.1:0", "--ascii-replies", "ok"});
    const unsigned short port = daemon.port("ascii-udp");
    EXPECT_EQ(datagram(port, "PTY=7", true), "OK\r\n");
    EXPECT_EQ(datagram(port, "PTY=77\r\n", true), "NO\r\n");
    EXPECT_EQ(datagram(port, "HELLO\r\n", true), "NO\r\n");
    waitUntil([&] { return daemon.requests().size() > fullLoad; });
    EXPECT_THAT(daemon.requests(fullLoad), ElementsAreArray({request(0x23, 7)}));
}

TEST(Ascii, ABurstEndsWithTheLastTextInAFewWrites)
{
    DaemonRun daemon({"--ascii-tcp", "127.0.0.1:0"});
    Client client(daemon.port("ascii-tcp"));
    std::string burst;
    for (int i = 0; i < 1000; i++)
        burst += "RT=Song number " + std::to_string(i) + "\r\n";
    client.send(burst);
    EXPECT_EQ(client.receive(3000), [] {
        std::string replies;
        for (int i = 0; i < 1000; i++)
            replies += "+\r\n";
        return replies;
    }());
    ASSERT_TRUE(waitUntil([&] {
        client.send("STATUS?\r\n");
        return client.line().find("pending=0") != std::string::npos;
    }));
    const std::vector<std::string> writes = daemon.requests(fullLoad);
    EXPECT_LT(writes.size(), 100u);
    // "Song number 999": its last block "999\r" went last to 0x33.
    EXPECT_EQ(writes.back().substr(0, 3), "0x3");
    EXPECT_NE(std::find(writes.begin(), writes.end(), request(0x33, 0x3939, 0x390D)), writes.end());
}

TEST(Ascii, DpsScrollsThePsNameEightCharactersAStep)
{
    DaemonRun daemon({"--ascii-tcp", "127.0.0.1:0", "--dps-step", "1"});
    Client client(daemon.port("ascii-tcp"));
    client.send("DPS=Now on air\r\n");
    EXPECT_EQ(client.receive(3), "+\r\n");
    // "Now on a", then "ir      ", then again "Now on a".
    const std::vector<std::string> steps = {
        request(0x21, 0x4E6F, 0x7720), request(0x22, 0x6F6E, 0x2061),
        request(0x21, 0x6972, 0x2020), request(0x22, 0x2020, 0x2020),
        request(0x21, 0x4E6F, 0x7720), request(0x22, 0x6F6E, 0x2061)};
    ASSERT_TRUE(waitUntil([&] { return daemon.requests().size() >= fullLoad + 6; }));
    EXPECT_THAT(daemon.requests(fullLoad), testing::IsSupersetOf(steps));
    const size_t before = daemon.requests().size();
    client.send("PS=STOPPED\r\n");
    EXPECT_EQ(client.receive(3), "+\r\n");
    ASSERT_TRUE(waitUntil([&] { return daemon.requests().size() >= before + 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500)); // a step would be due
    const std::vector<std::string> after = daemon.requests(before);
    EXPECT_EQ(after.back(), request(0x22, 0x5045, 0x4420)); // "PPED", no scrolling since
}

TEST(Uecp, EachElementSendsExactlyItsRequestsAndIsAcknowledged)
{
    DaemonRun daemon({"--uecp-tcp", "127.0.0.1:0"});
    Client client(daemon.port("uecp-tcp"));
    const std::string ps = bytes({0x02, 0x00, 0x00}) + "RADIO 3 ";
    converse(daemon, client, {
        {frame(bytes({0x2C, 0x01}), 1), ack(1), {}},
        {frame(ps, 2), ack(2), {request(0x21, 0x5241, 0x4449), request(0x22, 0x4F20, 0x3320)}},
        {frame(bytes({0x07, 0x00, 0x00, 0x05}), 3), ack(3), {request(0x23, 5)}},
        {frame(bytes({0x03, 0xFF, 0x01, 0x03}), 4), ack(4), {request(0x25, 1)}},
        {frame(bytes({0x04, 0x00, 0x00, 0x08}), 5), ack(5), {request(0x27, 8)}},
        {frame(bytes({0x05, 0x00, 0x00, 0x00}), 6), ack(6), {request(0x26, 0)}},
        {frame(bytes({0x01, 0x00, 0x00, 0xC2, 0x02}), 7), ack(7), {request(0x68, 0xC202)}},
        {frame(bytes({0x13, 0x00, 0x01, 0x07, 0x00, 0x00, 0xE2, 0x15, 0x27, 0xCD, 0x00}), 8), ack(8),
         {request(0x6A, 21, 0), request(0x6A, 39, 1), request(0x69, 2)}},
        // "Quor" is on the board already: its block is not sent again.
        {frame(bytes({0x0A, 0x00, 0x00, 0x06, 0x00}) + "Quorx", 9), ack(9), {request(0x31, 0x780D, 0x0D0D),
         request(0x32, 0x0D0D, 0x0D0D), request(0x33, 0x0D0D, 0x0D0D), request(0x34, 0x0D0D, 0x0D0D),
         request(0x35, 0x0D0D, 0x0D0D), request(0x36, 0x0D0D, 0x0D0D), request(0x37, 0x0D0D, 0x0D0D),
         request(0x38, 0x0D0D, 0x0D0D), request(0x39, 0x0D0D, 0x0D0D)}},
        {frame(bytes({0x07, 0x00, 0x00, 40}), 10), ack(10, 6), {}},
        {frame(bytes({0x07, 0x03, 0x00, 4}), 11), ack(11, 4), {}},
        {frame(bytes({0x07, 0x00, 0x07, 4}), 12), ack(12, 5), {}},
        {frame(bytes({0x99, 0x07, 0x00, 0x00, 0x04}), 13), ack(13, 3), {}},
        {frame(bytes({0x17, 0x01, 0x02}), 14), frame(ps, 14) + ack(14), {}},
        {frame(bytes({0x2C, 0x00}), 15), "", {}}, // one-way from now on
        {frame(bytes({0x07, 0x00, 0x00, 0x09}), 16), "", {request(0x23, 9)}},
    });
}

TEST(Uecp, FramesOnlyForThisEncodersAddresses)
{
    DaemonRun daemon({"--uecp-udp", "127.0.0.1:0", "--site", "837", "--encoder", "18"});
    const unsigned short port = daemon.port("uecp-udp");
    EXPECT_EQ(datagram(port, frame(bytes({0x2C, 0x01}), 0x2A), true), ack(0x2A));
    // The standard's example: site 837, encoder 18, data set 3: not this encoder's.
    EXPECT_EQ(datagram(port, bytes({0xFE, 0xD1, 0x52, 0x01, 0x0B, 0x02, 0x03, 0x06, 0x20, 0x50, 0x53,
                                    0x20, 0x52, 0x44, 0x53, 0x20, 0x25, 0xF4, 0xFF}), true),
              ack(1, 4));
    // Site 5: not ours, no reply; a bad CRC.
    EXPECT_EQ(datagram(port, frame(bytes({0x07, 0x00, 0x00, 0x02}), 3, 5 << 6 | 18), false), "");
    std::string bad = frame(bytes({0x07, 0x00, 0x00, 0x02}), 4, 837 << 6 | 18);
    bad[bad.size() - 2] ^= 0x01;
    EXPECT_EQ(datagram(port, bad, true), ack(4, 1));
    EXPECT_EQ(datagram(port, frame(bytes({0x07, 0x00, 0x00, 0x03}), 5, 837 << 6 | 18), true), ack(5));
    waitUntil([&] { return daemon.requests().size() > fullLoad; });
    EXPECT_THAT(daemon.requests(fullLoad), ElementsAreArray({request(0x23, 3)}));
}

TEST(Uecp, TcpStreamReframesAfterGarbageAndSplits)
{
    DaemonRun daemon({"--uecp-tcp", "127.0.0.1:0"});
    Client client(daemon.port("uecp-tcp"));
    const std::string stream = "garbage" + frame(bytes({0x2C, 0x01}), 1) + "\x01\x02" +
                               frame(bytes({0x07, 0x00, 0x00, 0x0C}), 2);
    for (char c : stream) // one byte at a time
        client.send(std::string(1, c));
    EXPECT_EQ(client.receive(2 * ack(1).size()), ack(1) + ack(2));
    waitUntil([&] { return daemon.requests().size() > fullLoad; });
    EXPECT_THAT(daemon.requests(fullLoad), ElementsAreArray({request(0x23, 12)}));
}

TEST(Board, AHungBoardNeverSlowsAReply)
{
    // From the first request after the load, each request hangs for a second.
    DaemonRun daemon({"--ascii-tcp", "127.0.0.1:0"}, {"--hang-at", "76:1000"});
    Client client(daemon.port("ascii-tcp"));
    std::string replies;
    for (int i = 0; i < 20; i++) {
        client.send("PS=HUNG" + std::to_string(i % 10) + "\r\n");
        replies += client.receive(3);
    }
    EXPECT_EQ(replies.size(), 60u);
    // Twenty replies came while the board took at most a few requests.
    EXPECT_LT(daemon.requests().size(), fullLoad + 10);
}

TEST(Board, TheStateFileCarriesAskedValuesAcrossARestart)
{
    const std::string state = testing::TempDir() + "quorveld-state-" + std::to_string(getpid());
    std::remove(state.c_str());
    {
        DaemonRun first({"--ascii-tcp", "127.0.0.1:0", "--state", state});
        Client client(first.port("ascii-tcp"));
        client.send("PS=SAVED 1\r\nRT=Kept\r\n");
        EXPECT_EQ(client.receive(6), "+\r\n+\r\n");
        EXPECT_EQ(first.stop(SIGTERM), 0);
        EXPECT_THAT(first.log(), testing::HasSubstr("stopped"));
    }
    DaemonRun second({"--state", state}); // a new board, at its defaults
    ASSERT_TRUE(waitUntil([&] { return second.requests().size() >= fullLoad + 4; }));
    EXPECT_THAT(second.requests(fullLoad),
                testing::IsSupersetOf({request(0x21, 0x5341, 0x5645), request(0x22, 0x4420, 0x3120),
                                       request(0x30, 0x4B65, 0x7074)}));
    std::remove(state.c_str());
}

TEST(Limits, AllowListClientsAndLines)
{
    DaemonRun refused({"--ascii-tcp", "127.0.0.1:0", "--allow", "10.0.0.0/8"});
    Client stranger(refused.port("ascii-tcp"));
    stranger.send("PS=NOPE\r\n");
    EXPECT_TRUE(stranger.closedByPeer());

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
    EXPECT_TRUE(waitUntil([&] {
        Client next(port);
        next.send("PTY=2\r\n");
        return next.receive(3) == "+\r\n";
    }));
}

TEST(Signals, HangupRereadsTheConfiguration)
{
    const std::string config = testing::TempDir() + "quorveld-conf-" + std::to_string(getpid());
    std::ofstream(config) << "# a station's settings\nascii-tcp 127.0.0.1:0\nascii-replies=plus\n";
    DaemonRun daemon({"--config", config}, {"--no-board"});
    Client client(daemon.port("ascii-tcp"));
    client.send("PTY=1\r\n");
    EXPECT_EQ(client.receive(3), "+\r\n");
    EXPECT_THAT(daemon.log(), testing::HasSubstr("no board found"));

    std::ofstream(config) << "ascii-tcp 127.0.0.1:0\n--ascii-replies ok\n";
    daemon.signalDaemon(SIGHUP);
    ASSERT_TRUE(waitUntil([&] { return daemon.log().find("configuration reloaded") != std::string::npos; }));
    client.send("PTY=2\r\n"); // the listener stayed open, and so did the client
    EXPECT_EQ(client.receive(4), "OK\r\n");

    std::ofstream(config) << "ascii-tcp 127.0.0.1:0\nascii-replies maybe\n";
    daemon.signalDaemon(SIGHUP);
    ASSERT_TRUE(waitUntil([&] { return daemon.log().find("not reloaded") != std::string::npos; }));
    client.send("PTY=3\r\n");
    EXPECT_EQ(client.receive(4), "OK\r\n");
    EXPECT_EQ(daemon.stop(SIGINT), 0);
    std::remove(config.c_str());
}

TEST(Board, AReplugOrAPowerGlitchGetsTheAskedRamValuesBack)
{
    const std::vector<std::string> psAndPty = {request(0x21, 0x4241, 0x434B), request(0x22, 0x2031, 0x2020),
                                               request(0x23, 3)};
    {
        // Request 78 finds the board gone; it comes back power-cycled.
        DaemonRun daemon({"--ascii-tcp", "127.0.0.1:0"}, {"--unplug-at", "78", "--replug-after", "300"});
        Client client(daemon.port("ascii-tcp"));
        client.send("PS=BACK 1\r\nPTY=3\r\n");
        EXPECT_EQ(client.receive(6), "+\r\n+\r\n");
        ASSERT_TRUE(waitUntil([&] { return daemon.requests().size() >= 78 + fullLoad + 3; }))
            << daemon.log();
        const std::vector<std::string> after = daemon.requests(78 + fullLoad);
        EXPECT_THAT(after, UnorderedElementsAreArray(psAndPty));
        EXPECT_THAT(daemon.log(), testing::HasSubstr(" gone (-19)"));
    }
    {
        // With --verify 1, the RAM read back just after a glitch.
        DaemonRun daemon({"--ascii-tcp", "127.0.0.1:0", "--verify", "1"}, {"--power-glitch-at", "79"});
        Client client(daemon.port("ascii-tcp"));
        client.send("PS=BACK 1\r\nPTY=3\r\n");
        EXPECT_EQ(client.receive(6), "+\r\n+\r\n");
        const size_t ramReads = 23;
        ASSERT_TRUE(waitUntil([&] { return daemon.requests().size() >= 78 + ramReads + 3; }));
        // Each field written again right after its read.
        EXPECT_THAT(daemon.requests(78), testing::IsSupersetOf(psAndPty));
    }
}

TEST(Sources, NowPlayingFileAndRotatingRadioTexts)
{
    const std::string file = testing::TempDir() + "quorveld-np-" + std::to_string(getpid());
    std::ofstream(file) << "Artist - One\n";
    DaemonRun daemon({"--follow", file, "--uecp-tcp", "127.0.0.1:0", "--rt-cycle", "1"});
    // "Arti" "st -" " One" "\r\r\r\r"...: blocks 0-9 differ from the board's text.
    ASSERT_TRUE(waitUntil([&] { return daemon.requests().size() >= fullLoad + 10; }));
    EXPECT_THAT(daemon.requests(fullLoad),
                testing::IsSupersetOf({request(0x30, 0x4172, 0x7469), request(0x32, 0x204F, 0x6E65)}));
    std::ofstream(file + ".new") << "Artist - Two\n";
    std::rename((file + ".new").c_str(), file.c_str());
    ASSERT_TRUE(waitUntil([&] { return daemon.requests().size() >= fullLoad + 11; }));
    EXPECT_EQ(daemon.requests().back(), request(0x32, 0x2054, 0x776F));

    // UECP: flush with "AAAA", append "BBBB": the two take turns each second.
    Client client(daemon.port("uecp-tcp"));
    const size_t before = daemon.requests().size();
    client.send(frame(bytes({0x0A, 0x00, 0x00, 0x05, 0x00}) + "AAAA") +
                frame(bytes({0x0A, 0x00, 0x00, 0x05, 0x40}) + "BBBB"));
    ASSERT_TRUE(waitUntil([&] {
        const std::vector<std::string> sent = daemon.requests(before);
        return std::count(sent.begin(), sent.end(), request(0x30, 0x4141, 0x4141)) >= 2;
    }));
    const std::vector<std::string> sent = daemon.requests(before);
    EXPECT_NE(std::find(sent.begin(), sent.end(), request(0x30, 0x4242, 0x4242)), sent.end());
    std::remove(file.c_str());
}
