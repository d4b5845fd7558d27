// quorveld's own costs, in process: the board worker, the station and the
// listeners on their event loop, against a simulated board served through
// umockdev to the real libusb.
//  latency  a UDP datagram (an ASCII line, or a UECP frame) to the board's
//           first request, next to the bare control transfer of that request;
//  burst    RadioText lines over one TCP connection: how fast they are taken
//           (up to the last reply), and the board writes they became;
//  song     the requests of a RadioText change, a song's title against every
//           block;
//  unplug   from an unplug to the board told absent, with no request to it.
// Writes the figures as JSON. Re-executes itself under umockdev's preload
// library when started without. No figure is checked: it measures only.
#include "Conversations.h"
#include "Listeners.h"
#include "Preload.h"
#include "SimTestbed.h"
#include "Station.h"
#include "UecpFrame.h"
#include "usbInterface.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/executor_work_guard.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

constexpr int VendorIn = USB_TYPE_VENDOR | USB_RECIP_DEVICE | USB_ENDPOINT_IN;
constexpr uint8_t PtyWrite = 0x23;                  // ram.pty's write request
constexpr auto Patience = std::chrono::seconds(10); // for what should come at once

// The calling thread's voluntary context switches so far: its wake-ups.
long wakeups()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw;
}

double micros(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

// Median, 90th and 99th percentiles (nearest rank) and the extremes.
json summary(std::vector<double> samples)
{
    if (samples.empty())
        return {{"count", 0}};
    std::sort(samples.begin(), samples.end());
    const auto rank = [&](double p) {
        const size_t k = static_cast<size_t>(std::ceil(p * static_cast<double>(samples.size())));
        return samples[std::max<size_t>(k, 1) - 1];
    };
    return {{"count", samples.size()}, {"min", samples.front()}, {"median", rank(0.5)},
            {"p90", rank(0.9)},        {"p99", rank(0.99)},      {"max", samples.back()}};
}

bool waitUntil(const std::function<bool()> &done)
{
    const Clock::time_point deadline = Clock::now() + Patience;
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    return true;
}

[[noreturn]] void fail(const std::string &what)
{
    throw std::runtime_error(what);
}

// When the board handled its first and its last request since arm(), stamped
// on the thread that handled them.
class RequestTimes {
public:
    void arm()
    {
        std::lock_guard lock(mutex_);
        first_.reset();
        last_.reset();
    }
    void seen()
    {
        const Clock::time_point now = Clock::now();
        std::lock_guard lock(mutex_);
        last_ = now;
        if (!first_) {
            first_ = now;
            cv_.notify_all();
        }
    }
    Clock::time_point first()
    {
        std::unique_lock lock(mutex_);
        if (!cv_.wait_for(lock, Patience, [&] { return first_.has_value(); }))
            fail("the board received no request");
        return *first_;
    }
    Clock::time_point last()
    {
        first();
        std::lock_guard lock(mutex_);
        return *last_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::optional<Clock::time_point> first_, last_;
};

// quorveld's parts as its daemon wires them: the worker, the station and an
// ASCII UDP, a UECP UDP and an ASCII TCP listener on one event loop thread.
class Daemon {
public:
    Daemon() : worker_(workerOptions()), station_(io_, worker_, {}), work_(io_.get_executor())
    {
        const qd::ListenAddress loopback{boost::asio::ip::make_address("127.0.0.1"), 0};
        listeners_.push_back(qd::listenUdp(
            io_, "ascii-udp", loopback,
            [this] { return qd::asciiConversation(station_, talk_, false); }, settings_));
        listeners_.push_back(qd::listenUdp(
            io_, "uecp-udp", loopback,
            [this] { return qd::uecpConversation(station_, mode_, talk_, false); }, settings_));
        listeners_.push_back(qd::listenTcp(
            io_, "ascii-tcp", loopback,
            [this] { return qd::asciiConversation(station_, talk_, true); }, settings_,
            [this](const std::string &name, int count) { station_.setClients(name, count); }));
        worker_.start();
        loop_ = std::thread([this] { io_.run(); });
    }

    ~Daemon()
    {
        work_.reset();
        io_.stop();
        loop_.join();
        listeners_.clear();
        worker_.stop();
    }

    // The port a listener of that kind got ("ascii-udp 127.0.0.1:40000").
    unsigned short port(const std::string &kind) const
    {
        for (const auto &listener : listeners_) {
            const std::string name = listener->name();
            if (name.rfind(kind + " ", 0) == 0)
                return static_cast<unsigned short>(std::stoi(name.substr(name.rfind(':') + 1)));
        }
        fail("no " + kind + " listener");
    }

    bool loaded() const { return worker_.status().loads == 1; }
    qd::WorkerStatus status() const { return worker_.status(); }
    // Fields asked for that the board does not hold yet.
    int pending() const { return worker_.status().pendingWrites; }
    bool idle() const { return pending() == 0; }

private:
    static qd::WorkerOptions workerOptions()
    {
        qd::WorkerOptions o;
        o.verifySeconds = 0;
        o.logger = [](const std::string &message) { std::cerr << "quorveld: " << message << "\n"; };
        return o;
    }

    boost::asio::io_context io_;
    qd::BoardWorker worker_;
    qd::Station station_;
    const qd::LiveRef<qd::ConversationSettings> talk_ =
        std::make_shared<qd::LiveSettings<qd::ConversationSettings>>();
    const std::shared_ptr<qd::UecpMode> mode_ = std::make_shared<qd::UecpMode>();
    const qd::LiveRef<qd::ListenerSettings> settings_ =
        std::make_shared<qd::LiveSettings<qd::ListenerSettings>>();
    std::vector<std::unique_ptr<qd::Listener>> listeners_;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_;
    std::thread loop_;
};

// A loopback client socket, connected (UDP too).
class Client {
public:
    Client(int type, unsigned short port) : fd_(socket(AF_INET, type, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0)
            fail(std::string("cannot connect: ") + strerror(errno));
    }
    ~Client() { close(fd_); }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    void send(const std::string &bytes) const
    {
        if (::send(fd_, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
            fail("a send fell short");
    }

    // What one read brings, within Patience.
    std::string receive() const
    {
        pollfd events{fd_, POLLIN, 0};
        if (poll(&events, 1, static_cast<int>(std::chrono::milliseconds(Patience).count())) <= 0)
            fail("no reply");
        char buffer[4096];
        const ssize_t got = recv(fd_, buffer, sizeof(buffer), 0);
        if (got <= 0)
            fail("the connection ended");
        return {buffer, static_cast<size_t>(got)};
    }

    // Sends `bytes` while reading the replies, until `expected` bytes came
    // back; when the last one came.
    Clock::time_point exchange(const std::string &bytes, size_t expected,
                               std::string &replies) const
    {
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
        size_t sent = 0;
        Clock::time_point last{};
        const Clock::time_point deadline = Clock::now() + Patience;
        while (replies.size() < expected) {
            if (Clock::now() > deadline)
                fail("the replies did not all come");
            pollfd events{fd_, static_cast<short>(POLLIN | (sent < bytes.size() ? POLLOUT : 0)), 0};
            poll(&events, 1, 100);
            if (events.revents & POLLOUT) {
                const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, 0);
                if (n > 0)
                    sent += static_cast<size_t>(n);
            }
            if (events.revents & POLLIN) {
                char buffer[65536];
                const ssize_t n = recv(fd_, buffer, sizeof(buffer), 0);
                if (n <= 0)
                    fail("the connection ended");
                replies.append(buffer, static_cast<size_t>(n));
                last = Clock::now();
            }
        }
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
        return last;
    }

private:
    int fd_;
};

std::string uecpPty(int pty)
{
    const std::vector<uint8_t> frame =
        uecp::encodeFrame({0, 0, {0x07, 0x00, 0x00, static_cast<uint8_t>(pty)}});
    return {frame.begin(), frame.end()};
}

// The board holds what was asked for, and the worker knows it.
bool settled(const Daemon &daemon, sim::Board &board,
             const std::function<bool(const sim::RdsData &)> &holds)
{
    return waitUntil([&] { return holds(board.ram()) && daemon.idle(); });
}

// The board holds that RadioText, the rest of its 64 characters CRs.
bool holdsRadioText(const Daemon &daemon, sim::Board &board, const std::string &text)
{
    std::string image = text;
    image.resize(sizeof(sim::RdsData::rt), '\r');
    return settled(daemon, board, [&](const sim::RdsData &ram) {
        return std::equal(image.begin(), image.end(), ram.rt);
    });
}

// The PTY set alternately to 1 and 2 by an ASCII datagram and by a UECP
// datagram; the floor: the bare write request on a handle of our own, with
// the value the board holds, so that the worker's view stays true. The three
// take turns, the order turned every round.
json latency(Daemon &daemon, sim::Board &board, RequestTimes &times, usb_dev_handle *bare,
             int count)
{
    const Client ascii(SOCK_DGRAM, daemon.port("ascii-udp"));
    const Client uecp(SOCK_DGRAM, daemon.port("uecp-udp"));
    std::vector<double> floorToBoard, floorTransfer, asciiToBoard, asciiReply, uecpToBoard;
    size_t extraRequests = 0;               // beyond the one write each datagram should bring
    long floorWakeups = 0;                  // of the thread making the bare transfers
    int pty = board.ram().pty == 1 ? 1 : 2; // each datagram asks for the other value

    const auto viaDatagram = [&](const Client &client, const std::string &bytes,
                                 std::vector<double> &toBoard, std::vector<double> *reply) {
        board.clearLog();
        times.arm();
        const Clock::time_point sent = Clock::now();
        client.send(bytes);
        if (reply) {
            if (client.receive() != "+\r\n")
                fail("the datagram was refused");
            reply->push_back(micros(Clock::now() - sent));
        }
        try {
            toBoard.push_back(micros(times.first() - sent));
        } catch (const std::runtime_error &e) {
            fail(std::string(e.what()) + " after " + (reply ? "an ASCII" : "a UECP") +
                 " datagram asking PTY " + std::to_string(pty) + "; the board holds " +
                 std::to_string(board.ram().pty) + ", " + std::to_string(daemon.pending()) +
                 " fields wait for it");
        }
        if (!settled(daemon, board, [&](const sim::RdsData &ram) { return ram.pty == pty; }))
            fail("the PTY did not reach the board");
        extraRequests += board.log().size() - 1;
    };
    const std::function<void()> kinds[] = {
        [&] {
            board.clearLog();
            times.arm();
            const int held = board.ram().pty;
            char reply[8];
            const long wakeupsBefore = wakeups();
            const Clock::time_point sent = Clock::now();
            const int result = usb_control_msg(bare, VendorIn, PtyWrite, held, 0, reply,
                                               sizeof(reply), USB_TIMEOUT_MS);
            const Clock::time_point returned = Clock::now();
            floorWakeups += wakeups() - wakeupsBefore;
            if (result != sizeof(reply))
                fail("the bare request failed: " + std::to_string(result));
            floorToBoard.push_back(micros(times.first() - sent));
            floorTransfer.push_back(micros(returned - sent));
        },
        [&] {
            pty = 3 - pty;
            viaDatagram(ascii, "PTY=" + std::to_string(pty) + "\r\n", asciiToBoard, &asciiReply);
        },
        [&] {
            pty = 3 - pty;
            viaDatagram(uecp, uecpPty(pty), uecpToBoard, nullptr);
        },
    };
    const int warmup = std::min(count, 20);
    for (int round = -warmup; round < count; round++) {
        if (round == 0) {
            for (std::vector<double> *samples :
                 {&floorToBoard, &floorTransfer, &asciiToBoard, &asciiReply, &uecpToBoard})
                samples->clear();
            extraRequests = 0;
            floorWakeups = 0;
        }
        for (int k = 0; k < 3; k++) {
            kinds[(round + warmup + k) % 3]();
            // Each comes to an idle daemon.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return {{"datagrams", count},
            {"floor_to_board_us", summary(floorToBoard)},
            {"floor_transfer_us", summary(floorTransfer)},
            {"ascii_to_board_us", summary(asciiToBoard)},
            {"ascii_reply_us", summary(asciiReply)},
            {"uecp_to_board_us", summary(uecpToBoard)},
            {"extra_requests", extraRequests},
            {"floor_wakeups_per_transfer", static_cast<double>(floorWakeups) / count}};
}

// `lines` RadioText lines sent at once over one connection, `rounds` times.
json burst(Daemon &daemon, sim::Board &board, RequestTimes &times, int lines, int rounds)
{
    const Client client(SOCK_STREAM, daemon.port("ascii-tcp"));
    std::vector<double> perSecond, toLastReply, toBoard, writes;
    for (int round = 0; round < rounds; round++) {
        std::string bytes, last;
        for (int k = 1; k <= lines; k++) {
            char text[64];
            snprintf(text, sizeof(text), "Now playing: song %d of burst %d", k, round + 1);
            last = text;
            bytes += "RT=" + last + "\r\n";
        }
        board.clearLog();
        times.arm();
        std::string replies;
        const Clock::time_point start = Clock::now();
        const Clock::time_point replied = client.exchange(bytes, 3 * size_t(lines), replies);
        if (!holdsRadioText(daemon, board, last))
            fail("the burst's last RadioText did not reach the board");
        const Clock::time_point onBoard = times.last();
        std::string expected;
        for (int k = 0; k < lines; k++)
            expected += "+\r\n";
        if (replies != expected)
            fail("a line of the burst was not taken");
        const double seconds = std::chrono::duration<double>(replied - start).count();
        perSecond.push_back(lines / seconds);
        toLastReply.push_back(seconds * 1e3);
        toBoard.push_back(std::chrono::duration<double, std::milli>(onBoard - start).count());
        writes.push_back(static_cast<double>(board.log().size()));
    }
    return {{"lines", lines},
            {"rounds", rounds},
            {"commands_per_second", summary(perSecond)},
            {"last_reply_ms", summary(toLastReply)},
            {"last_text_on_board_ms", summary(toBoard)},
            {"board_writes", summary(writes)}};
}

struct TextChange {
    const char *key;
    std::string from, to;
};

// Each change's requests, as the board's log has them.
json songChanges(Daemon &daemon, sim::Board &board)
{
    const Client client(SOCK_STREAM, daemon.port("ascii-tcp"));
    const TextChange changes[] = {
        {"title", "Artist - Title one", "Artist - Title two"},
        {"song", "The Beatles - Let It Be", "The Beatles - Yesterday"},
        {"artist_and_title", "The Beatles - Yesterday", "Pink Floyd - Money"},
        {"every_block", std::string(64, 'A'), std::string(64, 'B')},
    };
    json result = json::object();
    for (const TextChange &change : changes) {
        std::vector<std::string> codes;
        for (const std::string *text : {&change.from, &change.to}) {
            board.clearLog();
            client.send("RT=" + *text + "\r\n");
            if (client.receive() != "+\r\n")
                fail("RT=" + *text + " was refused");
            if (!holdsRadioText(daemon, board, *text))
                fail("the RadioText did not reach the board");
        }
        for (const sim::Request &r : board.log()) {
            char code[8];
            snprintf(code, sizeof(code), "0x%02X", r.code);
            codes.emplace_back(code);
        }
        result[change.key] = {
            {"from", change.from}, {"to", change.to}, {"requests", codes.size()}, {"codes", codes}};
    }
    return result;
}

// From the unplug (its device node gone) to the worker telling the board
// absent, with no traffic to the board meanwhile; the board is plugged in
// again (a new device, power-cycled) and loaded between two.
json unplugs(Daemon &daemon, sim::Testbed &testbed, int &device,
             const std::shared_ptr<sim::Board> &board, int count)
{
    std::vector<double> samples;
    uint64_t requests = 0;
    for (int i = 0; i < count; i++) {
        const uint64_t loads = daemon.status().loads;
        board->clearLog();
        const Clock::time_point unplugged = Clock::now();
        testbed.unplug(device);
        if (!waitUntil([&] { return daemon.status().board == qd::BoardState::Absent; }))
            fail("the unplugged board was not seen absent");
        samples.push_back(micros(Clock::now() - unplugged) / 1000);
        requests += board->log().size();
        board->powerCycle();
        device = testbed.addDevice({}, board);
        if (!waitUntil([&] { return daemon.status().loads > loads && daemon.idle(); }))
            fail("the board plugged in again was not loaded");
    }
    return {{"to_absent_ms", summary(samples)}, {"requests_meanwhile", requests}};
}

int number(const char *text)
{
    char *end = nullptr;
    const long value = strtol(text, &end, 10);
    if (!*text || *end || value <= 0 || value > 1000000)
        fail(std::string("not a count: ") + text);
    return static_cast<int>(value);
}

} // namespace

int main(int argc, char **argv)
{
    reexecWithPreload(argv);
    int datagrams = 2000, lines = 10000, rounds = 5, unplugCount = 20;
    std::string out;
    try {
        for (int i = 1; i < argc; i++) {
            const std::string option = argv[i];
            if (i + 1 >= argc)
                fail("usage: bench_daemon [--datagrams N] [--burst LINES] [--rounds N] "
                     "[--unplugs N] [--out FILE]");
            const char *value = argv[++i];
            if (option == "--datagrams")
                datagrams = number(value);
            else if (option == "--burst")
                lines = number(value);
            else if (option == "--rounds")
                rounds = number(value);
            else if (option == "--unplugs")
                unplugCount = number(value);
            else if (option == "--out")
                out = value;
            else
                fail("unknown option " + option);
        }

        sim::Testbed testbed; // before libusb's first scan
        int device = testbed.addDevice();
        const std::shared_ptr<sim::Board> board = testbed.board(device);
        RequestTimes times;
        board->setListener([&times](const sim::Request &) { times.seen(); });
        // The floor's own handle, opened before the worker scans the bus.
        usb_dev_handle *bare = nullptr;
        if (usbOpenDevice(&bare, sim::boardVendor, sim::boardManufacturer, sim::boardProduct,
                          sim::boardProductName) != USB_OPEN_OK)
            fail("the simulated board could not be opened");
        json result;
        {
            Daemon daemon;
            if (!waitUntil([&] { return daemon.loaded(); }))
                fail("the worker did not load the board");
            result["latency"] = latency(daemon, *board, times, bare, datagrams);
            result["burst"] = burst(daemon, *board, times, lines, rounds);
            result["song"] = songChanges(daemon, *board);
            result["unplug"] = unplugs(daemon, testbed, device, board, unplugCount);
        }
        usbCloseDevice(bare);
        if (out.empty()) {
            std::cout << result.dump(2) << "\n";
        } else {
            std::ofstream file(out);
            file << result.dump(2) << "\n";
            if (!file)
                fail("cannot write " + out);
        }
    } catch (const std::exception &e) {
        fprintf(stderr, "bench_daemon: %s\n", e.what());
        return 1;
    }
    return 0;
}
