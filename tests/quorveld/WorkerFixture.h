// A board worker in process against simulated boards served through umockdev
// to the real libusb, with what the tests assert on: the board's request log,
// the worker's fields and status, and its messages.
#ifndef WORKER_FIXTURE_H
#define WORKER_FIXTURE_H

#include "BoardWorker.h"
#include "FieldValues.h"
#include "SimFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Requests = std::vector<sim::Request>;

// A text write: four characters, the earlier ones high in wValue, then wIndex.
inline sim::Request textWrite(uint8_t code, const std::string &four)
{
    const auto at = [&](int i) { return static_cast<uint8_t>(four.at(i)); };
    return ok(code, at(0) << 8 | at(1), at(2) << 8 | at(3));
}

inline sim::Request failed(sim::Request r, int result = -32)
{
    r.result = result;
    return r;
}

inline Requests operator+(Requests a, const Requests &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The 75 reads of a load, in the order of the field table.
inline Requests fullLoad()
{
    Requests r{ok(0xA1), ok(0xA2)};
    for (int k = 0; k < 16; k++)
        r.push_back(ok(0xB0 + k));
    for (int code = 0xA3; code <= 0xA7; code++)
        r.push_back(ok(code));
    r.push_back(ok(0xE1));
    r.push_back(ok(0xE2));
    for (int k = 0; k < 16; k++)
        r.push_back(ok(0xF0 + k));
    for (int code = 0xE3; code <= 0xE9; code++)
        r.push_back(ok(code));
    for (int n = 0; n < 25; n++)
        r.push_back(ok(0xEA, n, 0));
    r.push_back(ok(0x82));
    r.push_back(ok(0x83));
    return r;
}

// The factory RadioText's image.
inline const std::string factoryRt = "Quorvel RDS encoder - simulated board" + std::string(27, '\r');

class WorkerTest : public testing::Test {
protected:
    using Clock = std::chrono::steady_clock;

    void SetUp() override
    {
        testbed = std::make_unique<sim::Testbed>();
        device = testbed->addDevice();
        board = testbed->board(device);
    }

    // The worker closes the board before the testbed goes.
    void TearDown() override { worker.reset(); }

    // Quick timers; no verification unless asked.
    qd::WorkerOptions options() const
    {
        qd::WorkerOptions o;
        o.verifySeconds = 0;
        o.searchMs = 20;
        o.retryMs = 20;
        return o;
    }

    void start(qd::WorkerOptions o, const std::vector<std::pair<std::string, std::string>> &asks = {})
    {
        o.logger = [this](const std::string &message) {
            {
                std::lock_guard lock(messagesMutex_);
                messages_.push_back(message);
            }
            std::lock_guard lock(mutex_);
            changed_.notify_all();
        };
        worker = std::make_unique<qd::BoardWorker>(o);
        worker->setListener([this, test = std::this_thread::get_id()] {
            EXPECT_NE(std::this_thread::get_id(), test) << "the listener runs on the worker's thread";
            std::lock_guard lock(mutex_);
            changed_.notify_all();
        });
        ask(asks);
        worker->start();
    }

    // Started, loaded, and the log cleared.
    void startLoaded(const qd::WorkerOptions &o)
    {
        start(o);
        ASSERT_TRUE(waitFor([&] { return worker->status().loads == 1; }));
        board->clearLog();
    }
    void startLoaded() { startLoaded(options()); }

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

    void ask(const std::vector<std::pair<std::string, std::string>> &values)
    {
        std::vector<std::pair<int, qd::Image>> images;
        for (const auto &[name, value] : values)
            images.emplace_back(field(name), image(name, value));
        worker->ask(images);
    }

    qd::FieldSnapshot fieldNamed(const std::string &name) const { return worker->fields()[field(name)]; }

    // Waits, at most 10 s, until `done` holds: it is checked whenever the
    // worker reports a change, and every 20 ms for changes outside it.
    bool waitFor(const std::function<bool()> &done)
    {
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
        std::unique_lock lock(mutex_);
        while (!done()) {
            if (Clock::now() > deadline)
                return false;
            changed_.wait_for(lock, std::chrono::milliseconds(20));
        }
        return true;
    }

    // The board is present, every field known, nothing asked for waits and
    // no EEPROM ask is left.
    bool settled() const
    {
        const qd::Snapshot fields = worker->fields();
        for (int i = 0; i < RDS_USB_FIELD_COUNT; ++i)
            if (!fields[i].held || fields[i].pending() || (!isRamField(RdsUsbFields[i]) && fields[i].asked))
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
        EXPECT_FALSE(log.empty());
        if (log.empty())
            return log;
        EXPECT_EQ(log.back(), ok(0x27, std::stoi(barrier_)));
        log.pop_back();
        return log;
    }

    std::vector<std::string> messagesSoFar()
    {
        std::lock_guard lock(messagesMutex_);
        return messages_;
    }

    std::unique_ptr<sim::Testbed> testbed;
    int device = 0;
    std::shared_ptr<sim::Board> board;
    std::unique_ptr<qd::BoardWorker> worker;

private:
    std::mutex mutex_, messagesMutex_;
    std::vector<std::string> messages_;
    std::condition_variable changed_;
    std::string barrier_;
};

#endif
