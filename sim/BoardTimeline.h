// What happens to the board at set times while quorvel-sim's command runs:
// an unplug, and after an unplug (timed, or by a fault) the same board plugged
// in again, power-cycled, as a new device.
#ifndef SIM_BOARD_TIMELINE_H
#define SIM_BOARD_TIMELINE_H

#include "SimTestbed.h"

#include <chrono>
#include <condition_variable>
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
    // Counts from now; `device` is the board's in `testbed`.
    BoardTimeline(Testbed &testbed, int device, const DeviceSetup &setup, const Timeline &timeline);
    ~BoardTimeline(); // the events still to come are dropped
    BoardTimeline(const BoardTimeline &) = delete;
    BoardTimeline &operator=(const BoardTimeline &) = delete;

    // The board has been unplugged by a fault: the replug counts from now.
    void unplugged();

private:
    using Clock = std::chrono::steady_clock;

    std::optional<Clock::time_point> nextEvent() const;
    void run(std::stop_token stop);
    void plugInAgain();

    Testbed &testbed_;
    const int device_;
    const DeviceSetup setup_;
    const Timeline timeline_;
    const Clock::time_point start_;

    std::mutex mutex_;
    std::condition_variable_any news_;
    std::optional<Clock::time_point> unpluggedAt_;
    bool replugged_ = false;
    std::jthread thread_; // last: starts once the rest is set
};

} // namespace sim

#endif
