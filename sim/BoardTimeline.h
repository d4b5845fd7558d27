// What happens to the board while quorvel-sim's command runs: an unplug at a
// set time, and after an unplug (timed, by a fault or by command) the same
// board plugged in again, power-cycled, as a new device; and the same events
// when commanded (quorvel-sim --control), as often as asked.
#ifndef SIM_BOARD_TIMELINE_H
#define SIM_BOARD_TIMELINE_H

#include "SimTestbed.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

namespace sim {

struct Timeline {
    int unplugAfterMs = -1; // from the start; -1: never
    int replugAfterMs = -1; // from the unplug; -1: never
};

class BoardTimeline {
public:
    enum class Command {
        Unplug, // as --unplug-after, now; nothing while unplugged
        Replug, // plugged in again, power-cycled; nothing while plugged in
        Glitch, // a power glitch: RAM takes the EEPROM values
    };

    // Counts from now; `device` is the board's in `testbed`.
    BoardTimeline(Testbed &testbed, int device, const DeviceSetup &setup, const Timeline &timeline);
    ~BoardTimeline(); // the events still to come are dropped
    BoardTimeline(const BoardTimeline &) = delete;
    BoardTimeline &operator=(const BoardTimeline &) = delete;

    // The board has been unplugged by a fault: the replug counts from now.
    void unplugged();
    // Carried out on the timeline's thread, in the order given.
    void command(Command command);

private:
    using Clock = std::chrono::steady_clock;

    std::optional<Clock::time_point> nextEvent() const;
    void run(const std::stop_token &stop);
    void carryOut(std::unique_lock<std::mutex> &lock, Command command);

    Testbed &testbed_;
    const DeviceSetup setup_;
    const Timeline timeline_;
    const Clock::time_point start_;

    std::mutex mutex_;
    std::condition_variable_any news_;
    int device_;
    bool plugged_ = true;
    Clock::time_point unpluggedAt_{};
    bool timedUnplugDone_ = false;
    bool timedReplugDone_ = false;
    std::deque<Command> commands_;
    unsigned long changes_ = 0; // news for the thread
    std::jthread thread_;       // last: starts once the rest is set
};

} // namespace sim

#endif
