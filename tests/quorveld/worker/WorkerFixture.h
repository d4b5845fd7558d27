// A board worker in process against simulated boards served through umockdev
// to the real libusb, with what the tests assert on: the board's request log,
// the worker's fields and status, and its messages.
#ifndef WORKER_FIXTURE_H
#define WORKER_FIXTURE_H

#include "BoardWorker.h"
#include "FieldRows.h"
#include "FieldValues.h"
#include "SimFixture.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

using Asks = std::vector<std::pair<std::string, std::string>>;

// Writes of "\r\r\r\r" blocks with the codes from `first` to `last`.
inline Requests crBlocks(int first, int last) { return each(first, last, 0x0D0D, 0x0D0D); }

// RAM RadioText "Hello" over the factory text, whose last six blocks hold
// carriage returns already.
inline const Requests helloRt = [] {
    Requests r = textWrite(0x30, "Hello");
    return r.resize(10), r;
}();

class WorkerTest : public SimBoardTest {
protected:
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
        const int index = fields::fieldIndex(name);
        EXPECT_GE(index, 0) << name;
        return index;
    }

    // The image of a value as quorvel-ctl's set takes it.
    static fields::Image image(const std::string &name, const std::string &value)
    {
        const T_R_FieldDef &f = RdsUsbFields[field(name)];
        return fields::checkValue(f, value, fields::Charset::Cp1252, false).image;
    }

    void ask(const Asks &values)
    {
        std::vector<std::pair<int, fields::Image>> images;
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
                (!fields::isRamField(RdsUsbFields[i]) && fields[i].asked))
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

    std::unique_ptr<qd::BoardWorker> worker;

private:
    std::mutex messagesMutex_;
    std::string messages_;
    std::string barrier_;
};

#endif
