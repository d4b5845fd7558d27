#include "BoardTimeline.h"

#include <cstdio>
#include <exception>

namespace sim {

using std::chrono::milliseconds;

BoardTimeline::BoardTimeline(Testbed &testbed, int device, const DeviceSetup &setup,
                             const Timeline &timeline)
    : testbed_(testbed), device_(device), setup_(setup), timeline_(timeline), start_(Clock::now()),
      thread_([this](std::stop_token stop) { run(stop); })
{
}

BoardTimeline::~BoardTimeline()
{
    thread_.request_stop();
    thread_.join();
}

void BoardTimeline::unplugged()
{
    {
        std::lock_guard lock(mutex_);
        if (unpluggedAt_)
            return;
        unpluggedAt_ = Clock::now();
    }
    news_.notify_all();
}

std::optional<BoardTimeline::Clock::time_point> BoardTimeline::nextEvent() const
{
    if (!unpluggedAt_ && timeline_.unplugAfterMs >= 0)
        return start_ + milliseconds(timeline_.unplugAfterMs);
    if (unpluggedAt_ && !replugged_ && timeline_.replugAfterMs >= 0)
        return *unpluggedAt_ + milliseconds(timeline_.replugAfterMs);
    return std::nullopt;
}

void BoardTimeline::run(std::stop_token stop)
{
    std::unique_lock lock(mutex_);
    while (!stop.stop_requested()) {
        const std::optional<Clock::time_point> due = nextEvent();
        const bool wasUnplugged = unpluggedAt_.has_value();
        const auto news = [&] { return unpluggedAt_.has_value() != wasUnplugged; };
        if (!due) {
            news_.wait(lock, stop, news);
        } else if (Clock::now() < *due) {
            news_.wait_until(lock, stop, *due, news);
        } else {
            // umockdev's thread may be waiting for the lock in unplugged().
            const bool replug = wasUnplugged;
            if (replug)
                replugged_ = true;
            else
                unpluggedAt_ = Clock::now();
            lock.unlock();
            if (replug)
                plugInAgain();
            else
                testbed_.unplug(device_);
            lock.lock();
        }
    }
}

void BoardTimeline::plugInAgain()
{
    const std::shared_ptr<Board> board = testbed_.board(device_);
    board->powerCycle();
    try {
        testbed_.addDevice(setup_, board);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "quorvel-sim: plugging the board in again: %s\n", e.what());
    }
}

} // namespace sim
