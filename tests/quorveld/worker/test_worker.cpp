// The board worker against the simulated board through the real libusb: what
// the board receives for each thing asked, coalescing, failures, unplugs,
// hangs and verification.
#include "WorkerFixture.h"

#include <future>

namespace {

using namespace std::chrono_literals;
using qd::BoardState;

struct KindCase {
    const char *name;
    const char *value;
    Requests requests;
    uint64_t eepromWrites;
};

void PrintTo(const KindCase &c, std::ostream *os) { *os << c.name << '=' << c.value; }

class EachKind : public WorkerTest, public testing::WithParamInterface<KindCase> {};

// From the factory defaults: PS "QUORVEL ", RadioText "Quorvel RDS encoder -
// simulated board", PTY 10, TP 1, TA 0, MS 1, DI 1, PI C201, 5 AFs.
const KindCase kinds[] = {
    {"ram.ps", "NEWS", {ok(0x21, 0x4E45, 0x5753), ok(0x22, 0x2020, 0x2020)}, 0},
    {"ram.ps", "QUORDAB", {ok(0x22, 0x4441, 0x4220)}, 0}, // only the block that differs
    {"ram.rt", "Hello", helloRt, 0},
    {"ram.pty", "5", {ok(0x23, 5)}, 0},
    {"ram.ta", "1", {ok(0x25, 1)}, 0},
    {"ram.ms", "0", {ok(0x26, 0)}, 0},
    {"eeprom.ps", "STATION", {ok(0x61, 0x5354, 0x4154), ok(0x62, 0x494F, 0x4E20)}, 2},
    {"eeprom.rt", "Quorvel RDS", Requests{ok(0x72, 0x5244, 0x530D)} + crBlocks(0x73, 0x79), 8},
    {"eeprom.pty", "3", {ok(0x63, 3)}, 1},
    {"eeprom.ta", "1", {ok(0x65, 1)}, 1},
    {"eeprom.di", "2", {ok(0x67, 2)}, 1},
    {"eeprom.pi", "D3A1", {ok(0x68, 0xD3A1)}, 1},
    {"eeprom.naf", "2", {ok(0x69, 2)}, 1},
    {"eeprom.af00", "99.9", {ok(0x6A, 124, 0)}, 1},
    {"eeprom.af07", "87.6", {ok(0x6A, 1, 7)}, 1},
    {"eeprom.group2a", "7", {ok(0x02, 7)}, 1},
    {"eeprom.stereo", "0", {ok(0x03, 0)}, 1},
    // What the board holds already: a RAM ask is kept, an EEPROM one dropped.
    {"ram.pty", "10", {}, 0},
    {"ram.rt", "Quorvel RDS encoder - simulated board", {}, 0},
    {"eeprom.pty", "10", {}, 0},
    {"eeprom.pi", "C201", {}, 0},
    {"eeprom.af01", "98.5", {}, 0},
};

TEST_P(EachKind, GivesExactlyItsRequests)
{
    const KindCase &c = GetParam();
    startLoaded();
    ask({{c.name, c.value}});
    EXPECT_EQ(drained(), c.requests);
    EXPECT_EQ(worker->status().eepromWrites, c.eepromWrites);
    const qd::FieldSnapshot f = fieldNamed(c.name);
    EXPECT_EQ(f.held, image(c.name, c.value));
    EXPECT_EQ(f.asked, fields::isRamField(RdsUsbFields[field(c.name)]) ? f.held : std::nullopt)
        << "a RAM ask is kept, an EEPROM one dropped once the board holds it";
}

INSTANTIATE_TEST_SUITE_P(Fields, EachKind, testing::ValuesIn(kinds));

// The board's first request of `code` waits inside the board until released.
struct Gate {
    Gate(sim::Board &board, uint8_t code) : board(board)
    {
        board.setListener([this, code, first = true](const sim::Request &r) mutable {
            if (r.code == code && std::exchange(first, false)) {
                inside.set_value();
                open.wait();
            }
        });
    }
    ~Gate()
    {
        release();
        board.setListener(nullptr);
    }
    bool entered() { return inside.get_future().wait_for(10s) == std::future_status::ready; }
    void release()
    {
        std::call_once(released, [&] { opener.set_value(); });
    }

    sim::Board &board;
    std::promise<void> inside, opener;
    std::shared_future<void> open = opener.get_future().share();
    std::once_flag released;
};

// Asking, fields and status never wait for a request that hangs; a burst of
// RadioTexts asked meanwhile ends with the last one, only its blocks written.
TEST_F(WorkerTest, BurstWhileARequestHangsEndsWithTheLastTextOnly)
{
    startLoaded();
    Gate gate(*board, 0x23);
    ask({{"ram.pty", "3"}});
    ASSERT_TRUE(gate.entered());
    auto burst = std::async(std::launch::async, [&] {
        for (int i = 1; i <= 1000; ++i)
            ask({{"ram.rt", "Song number " + std::to_string(10000 + i).substr(1)}});
        return std::pair(worker->fields(), worker->status());
    });
    const std::future_status returned = burst.wait_for(10s);
    gate.release();
    ASSERT_EQ(returned, std::future_status::ready);
    const auto [fields, status] = burst.get();
    EXPECT_EQ(fields[field("ram.pty")].asked, "\x03");
    EXPECT_EQ(status.pendingWrites, 2);
    EXPECT_EQ(status.requestsSent, 76u);
    const Requests last = {block(0x30, "Song"), block(0x31, " num"), block(0x32, "ber "),
                           block(0x33, "1000")};
    EXPECT_EQ(drained(), Requests{ok(0x23, 3)} + last + crBlocks(0x34, 0x39));
}

// An EEPROM text is RAM's too: known there unread, and a RAM ask of what RAM
// held before it is written after the EEPROM one.
TEST_F(WorkerTest, EepromTextWriteIsWhatRamHoldsToo)
{
    startLoaded();
    ask({{"eeprom.ps", "STATION"}});
    EXPECT_EQ(drained(), (Requests{block(0x61, "STAT"), block(0x62, "ION ")}));
    EXPECT_EQ(fieldNamed("ram.ps").held, "STATION ");

    board->clearLog();
    ask({{"eeprom.ps", "QUORVEL"}, {"ram.ps", "STATION"}});
    EXPECT_EQ(drained(), (Requests{block(0x61, "QUOR"), block(0x62, "VEL "), block(0x21, "STAT"),
                                   block(0x22, "ION ")}));
    EXPECT_EQ(worker->status().eepromWrites, 4u);
}

struct RetryCase {
    const char *what;
    sim::Fault fault;
    Asks asks, during; // before the start, and while the faulty request is made
    Requests afterLoad;
};

void PrintTo(const RetryCase &c, std::ostream *os) { *os << c.what; }

class Retry : public WorkerTest, public testing::WithParamInterface<RetryCase> {};

// Request numbers count from 1 at the load's first.
const Asks hello = {{"ram.rt", "Hello"}};
const Asks factoryRt = {{"ram.rt", "Quorvel RDS encoder - simulated board"}};
// clang-format off
const RetryCase retries[] = {
    {"a failed block write is written again", {.at = 77}, hello, {},
     Requests{helloRt[0], failed(helloRt[1])} + Requests(helloRt.begin() + 1, helloRt.end())},
    {"a block whose write failed is written though asked back", {.at = 77}, hello, factoryRt,
     {helloRt[0], failed(helloRt[1]), block(0x30, "Quor"), block(0x31, "vel ")}},
    {"a block whose read failed is written though asked as it was", {.at = 3}, factoryRt, {},
     {block(0x30, "Quor")}},
    {"a block whose read failed and nobody asked for is read again", {.at = 3}, {}, {}, {ok(0xB0)}},
    {"a short reply is a failed read", {.kind = sim::Fault::Short, .at = 3, .bytes = 2}, {}, {},
     {ok(0xB0)}},
    {"a failed number write is written again", {.at = 76}, {{"eeprom.pty", "4"}}, {},
     {failed(ok(0x63, 4)), ok(0x63, 4)}},
};
// clang-format on

TEST_P(Retry, FailedRequestIsMadeAgain)
{
    const RetryCase &c = GetParam();
    board->addFault(c.fault);
    board->setListener([&](const sim::Request &r) {
        if (r.result != 8 && !c.during.empty())
            ask(c.during);
    });
    start(options(), c.asks);
    Requests load = fullLoad();
    if (c.fault.at <= 75)
        load[c.fault.at - 1].result = c.fault.kind == sim::Fault::Short ? c.fault.bytes : -32;
    EXPECT_EQ(drained(), load + c.afterLoad);
    EXPECT_EQ(worker->status().requestsFailed, 1u);
    EXPECT_TRUE(said(c.fault.at <= 75 ? "reading of ram.rt (block 0) failed: " : "failed: -32"));
}

INSTANTIATE_TEST_SUITE_P(Failures, Retry, testing::ValuesIn(retries));

// Unplugged: seen by its node's going, without a request; nothing known,
// looked for again; back power-cycled as another device, loaded and given
// the RAM asks again, not an EEPROM one it holds. Not answering: the same
// once it answers again.
TEST_F(WorkerTest, LostBoardIsReloadedAndGivenTheRamAsksAgain)
{
    startLoaded();
    ask({{"ram.ps", "NEWS"}, {"ram.rt", "Hello"}, {"eeprom.pty", "5"}});
    ASSERT_TRUE(waitFor([&] { return settled(); }));

    board->clearLog();
    testbed->unplug(device);
    ASSERT_TRUE(waitFor([&] { return worker->status().board == BoardState::Absent; }));
    EXPECT_EQ(board->log(), Requests{}) << "no request is needed to see the board gone";
    ask({{"ram.ta", "1"}});
    EXPECT_EQ(worker->status().device, "");
    EXPECT_FALSE(fieldNamed("ram.ps").held) << "nothing is known of an absent board";
    EXPECT_EQ(fieldNamed("ram.ps").asked, "NEWS    ");
    EXPECT_TRUE(waitFor([&] { return said(" gone (-19); looking again every 20 ms"); }));

    sim::Eeprom eeprom = board->eeprom(); // changed meanwhile
    eeprom.pty = 7;
    board->setEeprom(eeprom);
    board->powerCycle();
    board->clearLog();
    const int again = testbed->addDevice({}, board);
    ASSERT_TRUE(waitFor([&] { return worker->status().loads == 2 && settled(); }));
    const Requests reapplied = Requests{block(0x21, "NEWS"), block(0x22, "    ")} + helloRt;
    EXPECT_EQ(drained(), fullLoad() + reapplied + Requests{ok(0x25, 1)});
    EXPECT_EQ(worker->status().device, testbed->busDev(again));
    EXPECT_EQ(fieldNamed("eeprom.pty").held, "\x07") << "an EEPROM ask held is not made again";

    board->powerCycle(); // unseen: the board then times out
    board->clearLog();
    board->addFault({.kind = sim::Fault::Hang, .code = 0x23, .delayMs = 5});
    ask({{"ram.pty", "3"}});
    ASSERT_TRUE(waitFor([&] { return worker->status().board == BoardState::NotAnswering; }));
    EXPECT_EQ(board->log().front(), failed(ok(0x23, 3), -110));
    EXPECT_FALSE(fieldNamed("ram.pty").held);
    EXPECT_TRUE(waitFor([&] { return said(" not answering (-110)"); }));
    board->clearFaults();
    ASSERT_TRUE(waitFor([&] { return worker->status().loads == 3 && settled(); }));
    const Requests log = board->log();
    EXPECT_EQ(Requests(log.end() - 90, log.end()), // ram.di: drained()'s ask
              (fullLoad() + reapplied + Requests{ok(0x23, 3), ok(0x25, 1), ok(0x27, 15)}));
}

// No board: looked for until one is plugged in, then loaded (the 75 reads in
// table order) and written.
TEST_F(WorkerTest, AbsentBoardIsLookedForUntilPluggedInAndLoaded)
{
    board.reset();
    testbed.reset();
    testbed = std::make_unique<sim::Testbed>(); // no board
    start(options(), {{"ram.pty", "3"}});
    ASSERT_TRUE(waitFor([&] { return said("no board found; looking again every 20 ms"); }));
    EXPECT_EQ(worker->status().board, BoardState::Absent);

    device = testbed->addDevice();
    board = testbed->board(device);
    ASSERT_TRUE(waitFor([&] { return settled(); }));
    EXPECT_EQ(board->log(), fullLoad() + Requests{ok(0x23, 3)});
    const qd::WorkerStatus s = worker->status();
    EXPECT_EQ(std::tuple(s.device, s.loads, s.requestsSent, s.requestsFailed, s.eepromWrites),
              std::tuple(testbed->busDev(device), 1u, 76u, 0u, 0u));
    EXPECT_EQ(s.pendingWrites, 0);
}

// The device option takes the board at BUS/DEV; a device that is no BUS/DEV
// and an ask that is no field image are refused.
TEST_F(WorkerTest, DeviceOptionAndAsksAreChecked)
{
    const int second = testbed->addDevice();
    qd::WorkerOptions o = options();
    o.device = testbed->busDev(second);
    startLoaded(o);
    EXPECT_EQ(worker->status().device, o.device);
    EXPECT_TRUE(testbed->board(device)->log().empty());

    for (const char *bad : {"1", "a/b", "1/", "/2", "1/2x", "0/1", "1/-2"}) {
        o.device = bad;
        EXPECT_THROW(qd::BoardWorker{o}, std::invalid_argument) << bad;
    }
    for (const auto &values : std::vector<std::vector<std::pair<int, fields::Image>>>{
             {{field("ram.pty"), "\x03"}, {field("ram.ps"), "NEWS"}},
             {{-1, "\x03"}},
             {{RDS_USB_FIELD_COUNT, "\x03"}},
             {{field("eeprom.pi"), "\x03"}}})
        EXPECT_THROW(worker->ask(values), std::invalid_argument);
    EXPECT_FALSE(fieldNamed("ram.pty").asked) << "nothing of a refused ask is kept";
}

// Verification reads the RAM back: after a power glitch, an asked value is
// written again as soon as it is read changed, an unasked one taken as read.
TEST_F(WorkerTest, VerificationReappliesAskedRamAndAdoptsTheRest)
{
    qd::WorkerOptions o = options();
    o.verifyMs = 20;
    sim::Eeprom eeprom = board->eeprom();
    eeprom.pty = 3;
    board->setEeprom(eeprom);
    board->addFault({.kind = sim::Fault::Glitch, .at = 78}); // the first read after the writes
    start(o, {{"ram.ps", "NEWS"}});
    const Requests load = fullLoad(), news = {block(0x21, "NEWS"), block(0x22, "    ")};
    const Requests expected = load + news + Requests{ok(0xA1), news[0], ok(0xA2), news[1]} +
                              Requests(load.begin() + 2, load.begin() + 23) + Requests{ok(0xA1)};
    ASSERT_TRUE(waitFor([&] { return board->log().size() >= expected.size(); }));
    const Requests log = board->log();
    EXPECT_EQ(Requests(log.begin(), log.begin() + expected.size()), expected);
    EXPECT_EQ(fieldNamed("ram.pty").held, "\x03");
}

} // namespace
