// A board worker in process against simulated boards served through umockdev
// to the real libusb, with what the tests assert on: the board's request log,
// the worker's fields and status, and its messages.
#ifndef WORKER_FIXTURE_H
#define WORKER_FIXTURE_H

#include "BoardWorker.h"
#include "FieldValues.h"
#include "SimFixture.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

using Requests = std::vector<sim::Request>;
using Asks = std::vector<std::pair<std::string, std::string>>;

// A text write: four characters, the earlier ones high in wValue, then wIndex.
inline sim::Request textWrite(uint8_t code, const std::string &four)
{
    const auto at = [&](int i) { return static_cast<uint8_t>(four.at(i)); };
    return ok(code, at(0) << 8 | at(1), at(2) << 8 | at(3));
}

inline sim::Request failed(sim::Request r, int result = -32)
{
    return {r.code, r.value, r.index, result};
}

inline Requests operator+(Requests a, const Requests &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Requests answered in full, with the codes from `first` to `last`.
inline Requests each(int first, int last, uint16_t value = 0, uint16_t index = 0)
{
    Requests r;
    for (int code = first; code <= last; ++code)
        r.push_back(ok(code, value, index));
    return r;
}

// Writes of "\r\r\r\r" blocks with the codes from `first` to `last`.
inline Requests crBlocks(int first, int last)
{
    return each(first, last, 0x0D0D, 0x0D0D);
}

// The 75 reads of a load, in the order of the field table.
inline Requests fullLoad()
{
    Requests r = each(0xA1, 0xA2) + each(0xB0, 0xBF) + each(0xA3, 0xA7) + each(0xE1, 0xE2) +
                 each(0xF0, 0xFF) + each(0xE3, 0xE9);
    for (int n = 0; n < 25; ++n)
        r.push_back(ok(0xEA, n));
    return r + Requests{ok(0x82), ok(0x83)};
}

// RAM RadioText "Hello" over the factory text.
inline const Requests helloRt =
    Requests{textWrite(0x30, "Hell"), textWrite(0x31, "o\r\r\r")} + crBlocks(0x32, 0x39);

class WorkerTest : public testing::Test {
protected:
    void SetUp() override
    {
        testbed = std::make_unique<sim::Testbed>();
        device = testbed->addDevice();
        board = testbed->board(device);
    }

    // The worker closes the board before the testbed goes.
    void TearDown() override { worker.reset(); }

    // Quick timers; no verification unless asked.
    static qd::WorkerOptions options()
    {
        qd::WorkerOptions o;
        o.verifySeconds = 0;
        o.searchMs = o.retryMs = 20;
        return o;
    }

    void start(qd::WorkerOptions o, const Asks &asks = {})
    {
        o.logger = [this](const std::string &message) {
            std::lock_guard lock(messagesMutex_);
            messages_ += message + "\n";
        };
        worker = std::make_unique<qd::BoardWorker>(o);
        worker->setListener([test = std::this_thread::get_id()] {
            EXPECT_NE(std::this_thread::get_id(), test) << "the listener runs on the worker's";
        });
        ask(asks);
        worker->start();
    }

    // Started, loaded, and the log cleared.
    void startLoaded(const qd::WorkerOptions &o = options())
    {
        start(o);
        ASSERT_TRUE(waitFor([&] { return worker->status().loads == 1; }));
        board->clearLog();
    }

    static int field(const std::string &name)
    {
        const int index = qd::fieldIndex(name);
        EXPECT_GE(index, 0) << name;
        return index;
    }

    // The image of a value as quorvel-ctl's set takes it.
    static qd::Image image(const std::string &name, const std::string &value)
    {
        const T_R_FieldDef &f = RdsUsbFields[field(name)];
        return qd::imageOf(f, checkValue(f, value, Charset::Cp1252, false).boardText);
    }

    void ask(const Asks &values)
    {
        std::vector<std::pair<int, qd::Image>> images;
        for (const auto &[name, value] : values)
            images.emplace_back(field(name), image(name, value));
        worker->ask(images);
    }

    qd::FieldSnapshot fieldNamed(const std::string &n) const { return worker->fields()[field(n)]; }

    // Waits, at most 10 s, until `done` holds.
    static bool waitFor(const std::function<bool()> &done) { return waitUntil(done, 10); }

    // The board is present, every field known, nothing asked for waits and
    // no EEPROM ask is left.
    bool settled() const
    {
        const qd::Snapshot fields = worker->fields();
        for (int i = 0; i < RDS_USB_FIELD_COUNT; ++i)
            if (!fields[i].held || fields[i].pending() ||
                (!isRamField(RdsUsbFields[i]) && fields[i].asked))
                return false;
        return worker->status().board == qd::BoardState::Present;
    }

    // The requests since the log was cleared, once the worker has settled:
    // ram.di, the last field written, is asked for last, so any request the
    // worker still had to make comes before its write, which is left out.
    Requests drained()
    {
        EXPECT_TRUE(waitFor([&] { return settled(); }));
        barrier_ = barrier_ == "15" ? "14" : "15";
        ask({{"ram.di", barrier_}});
        EXPECT_TRUE(waitFor([&] { return settled(); }));
        Requests log = board->log();
        if (log.empty() || log.back() != ok(0x27, std::stoi(barrier_)))
            ADD_FAILURE() << "the board did not get the last ask";
        else
            log.pop_back();
        return log;
    }

    // Some message of the worker's holds `text`.
    bool said(const std::string &text)
    {
        std::lock_guard lock(messagesMutex_);
        return messages_.find(text) != std::string::npos;
    }

    std::unique_ptr<sim::Testbed> testbed;
    int device = 0;
    std::shared_ptr<sim::Board> board;
    std::unique_ptr<qd::BoardWorker> worker;

private:
    std::mutex messagesMutex_;
    std::string messages_;
    std::string barrier_;
};

#endif
