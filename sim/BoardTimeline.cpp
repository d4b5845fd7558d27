#include "BoardTimeline.h"

#include <cstdio>
#include <exception>

namespace sim {

using std::chrono::milliseconds;

BoardTimeline::BoardTimeline(Testbed &testbed, int device, const DeviceSetup &setup,
                             const Timeline &timeline)
    : testbed_(testbed), setup_(setup), timeline_(timeline), start_(Clock::now()), device_(device),
      thread_([this](const std::stop_token &stop) { run(stop); })
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
        if (!plugged_)
            return;
        plugged_ = false;
        unpluggedAt_ = Clock::now();
        timedUnplugDone_ = true; // the unplug that was to come has happened
        ++changes_;
    }
    news_.notify_all();
}

void BoardTimeline::command(Command command)
{
    {
        std::lock_guard lock(mutex_);
        commands_.push_back(command);
        ++changes_;
    }
    news_.notify_all();
}

std::optional<BoardTimeline::Clock::time_point> BoardTimeline::nextEvent() const
{
    if (plugged_ && !timedUnplugDone_ && timeline_.unplugAfterMs >= 0)
        return start_ + milliseconds(timeline_.unplugAfterMs);
    if (!plugged_ && !timedReplugDone_ && timeline_.replugAfterMs >= 0)
        return unpluggedAt_ + milliseconds(timeline_.replugAfterMs);
    return std::nullopt;
}

void BoardTimeline::run(const std::stop_token &stop)
{
    std::unique_lock lock(mutex_);
    while (!stop.stop_requested()) {
        if (!commands_.empty()) {
            const Command next = commands_.front();
            commands_.pop_front();
            carryOut(lock, next);
            continue;
        }
        const std::optional<Clock::time_point> due = nextEvent();
        const unsigned long seen = changes_;
        const auto news = [&] { return changes_ != seen; };
        if (!due) {
            news_.wait(lock, stop, news);
        } else if (Clock::now() < *due) {
            news_.wait_until(lock, stop, *due, news);
        } else if (plugged_) {
            timedUnplugDone_ = true;
            carryOut(lock, Command::Unplug);
        } else {
            timedReplugDone_ = true;
            carryOut(lock, Command::Replug);
        }
    }
}

// Called and returns with the lock held; the testbed is called without it,
// since umockdev's thread may be waiting for the lock in unplugged().
void BoardTimeline::carryOut(std::unique_lock<std::mutex> &lock, Command command)
{
    const int device = device_;
    const std::shared_ptr<Board> board = testbed_.board(device);
    switch (command) {
    case Command::Unplug:
        if (!plugged_)
            return;
        plugged_ = false;
        unpluggedAt_ = Clock::now();
        lock.unlock();
        testbed_.unplug(device);
        break;
    case Command::Replug:
        if (plugged_)
            return;
        plugged_ = true;
        lock.unlock();
        board->powerCycle();
        try {
            const int added = testbed_.addDevice(setup_, board);
            lock.lock();
            device_ = added;
            return;
        } catch (const std::exception &e) {
            std::fprintf(stderr, "quorvel-sim: plugging the board in again: %s\n", e.what());
        }
        break;
    case Command::Glitch:
        lock.unlock();
        board->powerGlitch();
        break;
    }
    lock.lock();
}

} // namespace sim
