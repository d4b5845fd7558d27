// The one owner of the board: a thread that finds, opens and loads it, keeps
// what it holds beside what was asked for, and writes only the difference.
// Nothing else issues board requests; asking never waits for the board. The
// open board's device node is watched: an unplug is seen when it goes, without
// waiting for a request to fail.
#ifndef QUORVELD_BOARD_WORKER_H
#define QUORVELD_BOARD_WORKER_H

#include "FieldSnapshot.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qd {

enum class BoardState { Absent, Present, NotAnswering };
// "absent", "present", "not answering"
const char *boardStateName(BoardState state);

struct WorkerStatus {
    BoardState board = BoardState::Absent;
    std::string device;        // BUS/DEV of the open board
    int pendingWrites = 0;     // fields asked for and not yet on the board
    uint64_t requestsSent = 0; // board requests issued
    uint64_t requestsFailed = 0;
    uint64_t eepromWrites = 0; // write requests to EEPROM codes
    uint64_t loads = 0;        // complete loads of the board
    bool stateUnsaved = false; // a save of the state file failed; retried until one succeeds
};

struct WorkerOptions {
    // BUS/DEV ("001/007" or "1/7"), else the constructor throws
    // std::invalid_argument; empty: the first board found.
    std::string device;
    int verifySeconds = 60; // read the RAM back this often; 0: never
    int verifyMs = -1;      // the same in milliseconds, instead (tests); -1: verifySeconds
    int searchMs = 2000;    // look for an absent board this often
    int retryMs = 100;      // wait after a failed request, doubled after each (up to 30 s)
    std::string stateFile;  // the asked-for values across restarts; empty: none
    int saveRetryMs = 1000; // after a failed save, doubled after each (up to 16 times)
    // Messages for people (the state file read, a board lost or found), from
    // the worker's thread, start() and stop().
    std::function<void(const std::string &)> logger;
    // Those that may repeat without end, by kind ("board found", "board not
    // answering", "board gone", "request failed", "state file"); unset: the
    // logger takes them.
    std::function<void(const std::string &kind, const std::string &line)> repeating;
};

class BoardWorker {
public:
    // Throws std::runtime_error when it cannot make its eventfd (no descriptor left).
    explicit BoardWorker(WorkerOptions options);
    ~BoardWorker(); // stop()
    BoardWorker(const BoardWorker &) = delete;
    BoardWorker &operator=(const BoardWorker &) = delete;

    // Reads the state file (its values are asked for again, unless asked for
    // since the construction; a value out of its field's range or length is
    // logged and left out) and starts the thread.
    void start();
    // Ends the thread after the request in progress and saves the state file
    // (a last try when saves have failed).
    void stop();

    // The images asked for, by index in RdsUsbFields; the latest asking wins.
    // Thread-safe; never waits for the board. An index out of range or an
    // image of the wrong size throws std::invalid_argument (nothing is asked).
    void ask(const std::vector<std::pair<int, fields::Image>> &values);
    // Stops asking for these fields (indices in RdsUsbFields): the board keeps
    // what it holds, and a replug or restart no longer writes them. Thread-safe.
    void unask(const std::vector<int> &fields);

    Snapshot fields() const;
    WorkerStatus status() const;

    // Called on the worker's thread whenever what the board holds, what is
    // asked for, or the board's state changes. Set before start().
    void setListener(std::function<void()> listener);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace qd

#endif
