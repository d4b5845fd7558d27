// The daemon's log: one line per event on standard error (the journal under
// systemd), from any thread.
#ifndef QUORVELD_LOG_H
#define QUORVELD_LOG_H

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace qd {

void logLine(const std::string &line);
// Only with --verbose: every command.
void logVerbose(const std::string &line);
void setVerbose(bool verbose);

// Lines that may repeat without end (a board that keeps failing, refused
// clients, failed logins), grouped by kind: the first line of a kind is
// written at once; the lines of that kind within `quiet` of the last one
// written are only counted. The count goes out with the next line of the
// kind written, or alone once the kind has been quiet that long (flush()).
// Thread-safe. At most `maxKinds` kinds are remembered (kinds may be client
// addresses, which can be forged): past it, the one written longest ago is
// flushed and forgotten.
class LogLimiter {
public:
    using Clock = std::chrono::steady_clock;
    using Sink = std::function<void(const std::string &)>;

    explicit LogLimiter(std::chrono::milliseconds quiet = std::chrono::seconds(10),
                        Sink sink = logLine, size_t maxKinds = 1024);

    void log(const std::string &kind, const std::string &line,
             Clock::time_point now = Clock::now());
    // Writes the counts of the kinds quiet for `quiet`, and forgets them.
    // Call it now and then (once a second, say).
    void flush(Clock::time_point now = Clock::now());
    // When flush() next has a count to write: the end of the earliest quiet
    // period of a kind with lines counted; nothing while none is counted.
    std::optional<Clock::time_point> due() const;

private:
    struct Kind {
        Clock::time_point written; // the last line written
        std::string line;          // and its text
        unsigned long held = 0;    // lines counted since
    };

    static void counted(const Kind &kind, std::vector<std::string> &out);

    const std::chrono::milliseconds quiet_;
    const Sink sink_;
    const size_t maxKinds_;
    mutable std::mutex mutex_;
    std::map<std::string, Kind> kinds_;
};

} // namespace qd

#endif
