// The board worker against the simulated board through the real libusb: what
// the board receives for each thing asked, coalescing, failures, unplugs,
// hangs and verification.
#include "WorkerFixture.h"

#include <algorithm>
#include <cstring>
#include <future>

namespace {

using namespace std::chrono_literals;
using qd::BoardState;

using Asks = std::vector<std::pair<std::string, std::string>>;

std::string ramPs(const sim::Board &board)
{
    const sim::RdsData ram = board.ram();
    return std::string(reinterpret_cast<const char *>(ram.ps), 8);
}

std::string ramRt(const sim::Board &board)
{
    const sim::RdsData ram = board.ram();
    return std::string(reinterpret_cast<const char *>(ram.rt), 64);
}

TEST_F(WorkerTest, LoadIsTheSeventyFiveReadsInTableOrder)
{
    start(options());
    ASSERT_TRUE(waitFor([&] { return worker->status().loads == 1; }));
    EXPECT_EQ(board->log(), fullLoad());
    const qd::WorkerStatus status = worker->status();
    EXPECT_EQ(status.board, BoardState::Present);
    EXPECT_EQ(status.device, testbed->busDev(device));
    EXPECT_EQ(status.requestsSent, 75u);
    EXPECT_EQ(status.requestsFailed, 0u);
    EXPECT_EQ(status.pendingWrites, 0);

    const std::pair<const char *, std::string> held[] = {
        {"ram.ps", "QUORVEL "},     {"ram.rt", factoryRt},   {"ram.pty", "\x0A"},
        {"ram.ms", "\x01"},         {"eeprom.ps", "QUORVEL "}, {"eeprom.rt", factoryRt},
        {"eeprom.pi", "\xC2\x01"}, {"eeprom.naf", "\x05"},  {"eeprom.af00", "\x01"},
        {"eeprom.af01", "\x6E"},    {"eeprom.af04", "\xCC"}, {"eeprom.af05", std::string(1, '\0')},
        {"eeprom.group2a", "\x04"}, {"eeprom.stereo", "\x01"},
    };
    for (const auto &[name, image] : held) {
        const qd::FieldSnapshot f = fieldNamed(name);
        EXPECT_EQ(f.held, image) << name;
        EXPECT_FALSE(f.asked) << name;
    }
}

struct KindCase {
    const char *name;
    const char *value;
    Requests requests;
    uint64_t eepromWrites;
};

void PrintTo(const KindCase &c, std::ostream *os)
{
    *os << c.name << "=\"" << c.value << "\"";
}

class EachKind : public WorkerTest, public testing::WithParamInterface<KindCase> {};

// From the factory defaults: PS "QUORVEL ", RadioText "Quorvel RDS encoder -
// simulated board", PTY 10, TP 1, TA 0, MS 1, DI 1, PI C201, 5 AFs.
const KindCase kinds[] = {
    {"ram.ps", "NEWS", {ok(0x21, 0x4E45, 0x5753), ok(0x22, 0x2020, 0x2020)}, 0},
    {"ram.ps", "QUORDAB", {ok(0x22, 0x4441, 0x4220)}, 0},
    {"ram.rt", "Hello",
     {ok(0x30, 0x4865, 0x6C6C), ok(0x31, 0x6F0D, 0x0D0D), ok(0x32, 0x0D0D, 0x0D0D), ok(0x33, 0x0D0D, 0x0D0D),
      ok(0x34, 0x0D0D, 0x0D0D), ok(0x35, 0x0D0D, 0x0D0D), ok(0x36, 0x0D0D, 0x0D0D), ok(0x37, 0x0D0D, 0x0D0D),
      ok(0x38, 0x0D0D, 0x0D0D), ok(0x39, 0x0D0D, 0x0D0D)},
     0},
    {"ram.pty", "5", {ok(0x23, 5)}, 0},
    {"ram.tp", "0", {ok(0x24, 0)}, 0},
    {"ram.ta", "1", {ok(0x25, 1)}, 0},
    {"ram.ms", "0", {ok(0x26, 0)}, 0},
    {"eeprom.ps", "STATION", {ok(0x61, 0x5354, 0x4154), ok(0x62, 0x494F, 0x4E20)}, 2},
    {"eeprom.rt", "Quorvel RDS", {ok(0x72, 0x5244, 0x530D), ok(0x73, 0x0D0D, 0x0D0D), ok(0x74, 0x0D0D, 0x0D0D),
                                  ok(0x75, 0x0D0D, 0x0D0D), ok(0x76, 0x0D0D, 0x0D0D), ok(0x77, 0x0D0D, 0x0D0D),
                                  ok(0x78, 0x0D0D, 0x0D0D), ok(0x79, 0x0D0D, 0x0D0D)},
     8},
    {"eeprom.pty", "3", {ok(0x63, 3)}, 1},
    {"eeprom.tp", "0", {ok(0x64, 0)}, 1},
    {"eeprom.ta", "1", {ok(0x65, 1)}, 1},
    {"eeprom.ms", "0", {ok(0x66, 0)}, 1},
    {"eeprom.di", "2", {ok(0x67, 2)}, 1},
    {"eeprom.pi", "D3A1", {ok(0x68, 0xD3A1)}, 1},
    {"eeprom.naf", "2", {ok(0x69, 2)}, 1},
    {"eeprom.af00", "99.9", {ok(0x6A, 124, 0)}, 1},
    {"eeprom.af07", "87.6", {ok(0x6A, 1, 7)}, 1},
    {"eeprom.af24", "107.9", {ok(0x6A, 204, 24)}, 1},
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
    if (isRamField(RdsUsbFields[field(c.name)]))
        EXPECT_EQ(f.asked, image(c.name, c.value)) << "a RAM ask is kept";
    else
        EXPECT_FALSE(f.asked) << "an EEPROM ask is dropped once the board holds it";
}

INSTANTIATE_TEST_SUITE_P(Fields, EachKind, testing::ValuesIn(kinds));

TEST_F(WorkerTest, TextChangeSendsOnlyTheBlocksThatDiffer)
{
    startLoaded();
    ask({{"ram.rt", "Now: The Band - First Song"}});
    EXPECT_EQ(drained().size(), 10u);
    board->clearLog();
    ask({{"ram.rt", "Now: The Band - Other Song"}});
    EXPECT_EQ(drained(), (Requests{textWrite(0x34, "Othe"), textWrite(0x35, "r So")}));
    EXPECT_EQ(ramRt(*board), "Now: The Band - Other Song" + std::string(38, '\r'));
}

// The board's next request of `code` waits inside the board until released.
class Gate {
public:
    Gate(sim::Board &board, uint8_t code) : board_(board)
    {
        board.setListener([this, code](const sim::Request &r) {
            std::unique_lock lock(mutex_);
            if (r.code != code || entered_)
                return;
            entered_ = true;
            changed_.notify_all();
            changed_.wait(lock, [&] { return released_; });
        });
    }
    ~Gate()
    {
        release();
        board_.setListener(nullptr);
    }
    bool entered()
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return entered_; });
    }
    void release()
    {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    sim::Board &board_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false, released_ = false;
};

TEST_F(WorkerTest, BurstOfAsksEndsWithTheLastTextAndOnlyItsBlocks)
{
    startLoaded();
    Gate gate(*board, 0x23);
    ask({{"ram.pty", "3"}});
    ASSERT_TRUE(gate.entered());
    for (int i = 1; i <= 1000; ++i) {
        char text[32];
        std::snprintf(text, sizeof text, "Song number %04d", i);
        ask({{"ram.rt", text}});
    }
    gate.release();
    Requests expected{ok(0x23, 3),
                      textWrite(0x30, "Song"),
                      textWrite(0x31, " num"),
                      textWrite(0x32, "ber "),
                      textWrite(0x33, "1000")};
    for (int k = 4; k <= 9; ++k)
        expected.push_back(ok(0x30 + k, 0x0D0D, 0x0D0D));
    EXPECT_EQ(drained(), expected);
    EXPECT_EQ(ramRt(*board), "Song number 1000" + std::string(48, '\r'));
}

TEST_F(WorkerTest, AskFieldsAndStatusReturnWhileARequestHangs)
{
    startLoaded();
    Gate gate(*board, 0x23);
    ask({{"ram.pty", "3"}});
    ASSERT_TRUE(gate.entered());
    // The worker is inside the request: none of these may wait for it.
    auto asked = std::async(std::launch::async, [&] { ask({{"ram.ps", "NEWS"}}); });
    auto fields = std::async(std::launch::async, [&] { return worker->fields(); });
    auto status = std::async(std::launch::async, [&] { return worker->status(); });
    ASSERT_EQ(asked.wait_for(10s), std::future_status::ready);
    ASSERT_EQ(fields.wait_for(10s), std::future_status::ready);
    ASSERT_EQ(status.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(fields.get()[field("ram.pty")].asked, "\x03");
    EXPECT_EQ(fieldNamed("ram.ps").asked, "NEWS    ");
    EXPECT_EQ(worker->status().pendingWrites, 2);
    EXPECT_EQ(status.get().requestsSent, 76u);
    gate.release();
    EXPECT_EQ(drained(), (Requests{ok(0x23, 3), textWrite(0x21, "NEWS"), textWrite(0x22, "    ")}));
}

TEST_F(WorkerTest, EepromTextWriteIsWhatRamHoldsToo)
{
    startLoaded();
    ask({{"eeprom.ps", "STATION"}});
    EXPECT_EQ(drained(), (Requests{textWrite(0x61, "STAT"), textWrite(0x62, "ION ")}));
    EXPECT_EQ(fieldNamed("ram.ps").held, "STATION ") << "known without reading it back";

    // A RAM ask of what RAM held before is written again after the EEPROM one.
    board->clearLog();
    ask({{"eeprom.ps", "QUORVEL"}, {"ram.ps", "STATION"}});
    EXPECT_EQ(drained(), (Requests{textWrite(0x61, "QUOR"), textWrite(0x62, "VEL "), textWrite(0x21, "STAT"),
                                   textWrite(0x22, "ION ")}));
    EXPECT_EQ(ramPs(*board), "STATION ");
    EXPECT_EQ(worker->status().eepromWrites, 4u);
}

struct RetryCase {
    const char *what;
    int failAt; // request number, from 1 at the load's first
    Asks asks;  // before the start
    Requests afterLoad;
};

void PrintTo(const RetryCase &c, std::ostream *os)
{
    *os << c.what;
}

class Retry : public WorkerTest, public testing::WithParamInterface<RetryCase> {};

const Requests helloRt = {textWrite(0x30, "Hell"), textWrite(0x31, "o\r\r\r"), ok(0x32, 0x0D0D, 0x0D0D),
                          ok(0x33, 0x0D0D, 0x0D0D), ok(0x34, 0x0D0D, 0x0D0D), ok(0x35, 0x0D0D, 0x0D0D),
                          ok(0x36, 0x0D0D, 0x0D0D), ok(0x37, 0x0D0D, 0x0D0D), ok(0x38, 0x0D0D, 0x0D0D),
                          ok(0x39, 0x0D0D, 0x0D0D)};

const RetryCase retries[] = {
    {"a failed block write is written again", 77, {{"ram.rt", "Hello"}},
     Requests{helloRt[0], failed(helloRt[1]), helloRt[1]} + Requests(helloRt.begin() + 2, helloRt.end())},
    {"a block whose read failed is written though asked as it was", 3,
     {{"ram.rt", "Quorvel RDS encoder - simulated board"}}, {textWrite(0x30, "Quor")}},
    {"a block whose read failed and nobody asked for is read again", 3, {}, {ok(0xB0)}},
    {"a failed number write is written again", 76, {{"eeprom.pty", "4"}}, {failed(ok(0x63, 4)), ok(0x63, 4)}},
};

TEST_P(Retry, FailedRequestIsMadeAgain)
{
    const RetryCase &c = GetParam();
    board->addFault({.kind = sim::Fault::Error, .at = c.failAt});
    start(options(), c.asks);
    Requests load = fullLoad();
    if (c.failAt <= 75)
        load[c.failAt - 1].result = -32;
    EXPECT_EQ(drained(), load + c.afterLoad);
    EXPECT_EQ(worker->status().requestsFailed, 1u);
    EXPECT_EQ(worker->fields()[field("ram.rt")].held, ramRt(*board));
}

INSTANTIATE_TEST_SUITE_P(Failures, Retry, testing::ValuesIn(retries));

TEST_F(WorkerTest, BlockWhoseWriteFailedIsWrittenThoughAskedBackAsItWas)
{
    startLoaded();
    board->addFault({.kind = sim::Fault::Error, .at = 77});
    {
        Gate gate(*board, 0x31); // the failing write
        ask({{"ram.rt", "Hello"}});
        ASSERT_TRUE(gate.entered());
        ask({{"ram.rt", "Quorvel RDS encoder - simulated board"}});
    }
    EXPECT_EQ(drained(), (Requests{textWrite(0x30, "Hell"), failed(textWrite(0x31, "o\r\r\r")),
                                   textWrite(0x30, "Quor"), textWrite(0x31, "vel ")}));
}

TEST_F(WorkerTest, IdleWorkerFindsTheBoardReplacedAtItsNextRequest)
{
    startLoaded();
    ask({{"ram.ps", "NEWS"}});
    ASSERT_TRUE(waitFor([&] { return settled(); }));
    testbed->unplug(device);
    board->powerCycle();
    const int again = testbed->addDevice({}, board);
    board->clearLog();
    ask({{"ram.ta", "1"}}); // fails on the old device, unseen by the board
    ASSERT_TRUE(waitFor([&] { return worker->status().loads == 2 && settled(); }));
    EXPECT_EQ(drained(), (fullLoad() + Requests{textWrite(0x21, "NEWS"), textWrite(0x22, "    "), ok(0x25, 1)}));
    EXPECT_EQ(worker->status().device, testbed->busDev(again));
}

TEST_F(WorkerTest, UnplugThenReplugReloadsAndReappliesTheRamAsksOnly)
{
    startLoaded();
    ask({{"ram.ps", "NEWS"}, {"ram.rt", "Hello"}, {"eeprom.pty", "5"}});
    ASSERT_TRUE(waitFor([&] { return settled(); }));

    testbed->unplug(device);
    ask({{"ram.ta", "1"}}); // the request that finds the board gone
    ASSERT_TRUE(waitFor([&] { return worker->status().board == BoardState::Absent; }));
    EXPECT_EQ(board->log().back(), failed(ok(0x25, 1), -19));
    EXPECT_EQ(worker->status().device, "");
    EXPECT_FALSE(fieldNamed("ram.ps").held) << "nothing is known of an absent board";
    EXPECT_EQ(fieldNamed("ram.ps").asked, "NEWS    ");

    // Back power-cycled, as another device; its EEPROM changed meanwhile.
    sim::Eeprom eeprom = board->eeprom();
    eeprom.pty = 7;
    board->setEeprom(eeprom);
    board->powerCycle();
    board->clearLog();
    const int again = testbed->addDevice({}, board);
    ASSERT_TRUE(waitFor([&] { return worker->status().loads == 2 && settled(); }));
    EXPECT_EQ(drained(), (fullLoad() + Requests{textWrite(0x21, "NEWS"), textWrite(0x22, "    ")} + helloRt +
                          Requests{ok(0x25, 1)}));
    EXPECT_EQ(worker->status().device, testbed->busDev(again));
    EXPECT_EQ(board->eeprom().pty, 7) << "an EEPROM ask the board held is not applied again";
    EXPECT_EQ(fieldNamed("eeprom.pty").held, "\x07");
}

TEST_F(WorkerTest, TimeOutsMakeTheBoardNotAnsweringUntilItAnswers)
{
    startLoaded();
    board->addFault({.kind = sim::Fault::Hang, .at = 76, .delayMs = 5});
    ask({{"ram.pty", "3"}});
    ASSERT_TRUE(waitFor([&] { return worker->status().board == BoardState::NotAnswering; }));
    EXPECT_EQ(board->log().front(), failed(ok(0x23, 3), -110));
    EXPECT_FALSE(fieldNamed("ram.pty").held);

    board->clearFaults();
    ASSERT_TRUE(waitFor([&] { return worker->status().loads == 2 && settled(); }));
    EXPECT_EQ(board->ram().pty, 3);
    const Requests log = board->log();
    EXPECT_EQ(Requests(log.end() - 76, log.end()), fullLoad() + Requests{ok(0x23, 3)});
    const std::vector<std::string> said = messagesSoFar();
    EXPECT_NE(std::find_if(said.begin(), said.end(),
                           [](const std::string &m) { return m.find("not answering (-110)") != std::string::npos; }),
              said.end());
}

TEST_F(WorkerTest, AbsentBoardIsLookedForUntilPluggedIn)
{
    board.reset();
    testbed.reset();
    testbed = std::make_unique<sim::Testbed>(); // no board
    start(options(), {{"ram.pty", "3"}});
    ASSERT_TRUE(waitFor([&] { return !messagesSoFar().empty(); }));
    EXPECT_EQ(messagesSoFar()[0], "no board found; looking again every 20 ms");
    EXPECT_EQ(worker->status().board, BoardState::Absent);

    device = testbed->addDevice();
    board = testbed->board(device);
    ASSERT_TRUE(waitFor([&] { return settled(); }));
    EXPECT_EQ(board->log(), fullLoad() + Requests{ok(0x23, 3)});
    EXPECT_EQ(worker->status().device, testbed->busDev(device));
}

TEST_F(WorkerTest, DeviceOptionTakesTheBoardAtBusDev)
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
}

TEST_F(WorkerTest, AskRefusesWhatIsNoFieldImage)
{
    startLoaded();
    const std::vector<std::vector<std::pair<int, qd::Image>>> bad = {
        {{field("ram.pty"), "\x03"}, {field("ram.ps"), "NEWS"}},
        {{-1, "\x03"}},
        {{RDS_USB_FIELD_COUNT, "\x03"}},
        {{field("eeprom.pi"), "\x03"}},
    };
    for (const auto &values : bad)
        EXPECT_THROW(worker->ask(values), std::invalid_argument);
    EXPECT_FALSE(fieldNamed("ram.pty").asked) << "nothing of a refused ask is kept";
}

TEST_F(WorkerTest, VerificationReappliesAskedRamAndAdoptsTheRest)
{
    qd::WorkerOptions o = options();
    o.verifyMs = 20;
    startLoaded(o);
    ask({{"ram.ps", "NEWS"}});
    ASSERT_TRUE(waitFor([&] { return settled(); }));

    board->clearLog();
    sim::RdsData ram = board->ram(); // changed behind the worker's back
    std::memcpy(ram.ps, "XXXXXXXX", 8);
    ram.pty = 3;
    board->setRam(ram);
    // Until the pass that wrote the PS name again has ended.
    const auto passEnded = [&] {
        const Requests log = board->log();
        const auto written = std::find(log.begin(), log.end(), textWrite(0x22, "    "));
        return std::find(written, log.end(), ok(0xA7)) != log.end();
    };
    ASSERT_TRUE(waitFor([&] { return passEnded() && fieldNamed("ram.pty").held == "\x03"; }));
    worker.reset();

    const Requests load = fullLoad();
    const Requests verify(load.begin(), load.begin() + 23);
    Requests writes, reads;
    for (const sim::Request &r : board->log())
        (r.code & 0x80 ? reads : writes).push_back(r);
    EXPECT_EQ(writes, (Requests{textWrite(0x21, "NEWS"), textWrite(0x22, "    ")}));
    for (const sim::Request &r : reads)
        EXPECT_TRUE((r.code >= 0xA1 && r.code <= 0xA7) || (r.code >= 0xB0 && r.code <= 0xBF)) << "a RAM read";
    EXPECT_NE(std::search(reads.begin(), reads.end(), verify.begin(), verify.end()), reads.end())
        << "the RAM's 23 reads in table order";
    EXPECT_EQ(ramPs(*board), "NEWS    ");
    EXPECT_EQ(board->ram().pty, 3) << "a field nobody asked for takes the board's value";
}

} // namespace
