#include "Log.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

namespace qd {

namespace {
std::mutex mutex;
std::atomic<bool> verboseLog{false};
} // namespace

void logLine(const std::string &line)
{
    const std::lock_guard lock(mutex);
    std::fprintf(stderr, "quorveld: %s\n", line.c_str());
    std::fflush(stderr);
}

void logVerbose(const std::string &line)
{
    if (verboseLog)
        logLine(line);
}

void setVerbose(bool verbose)
{
    verboseLog = verbose;
}

LogLimiter::LogLimiter(std::chrono::milliseconds quiet, Sink sink, size_t maxKinds)
    : quiet_(quiet), sink_(std::move(sink)), maxKinds_(std::max<size_t>(maxKinds, 1))
{
}

// The line that tells of the lines counted since `kind`'s last was written.
void LogLimiter::counted(const Kind &kind, std::vector<std::string> &out)
{
    if (kind.held > 0)
        out.push_back(kind.line + " (" + std::to_string(kind.held) + " more like it)");
}

void LogLimiter::log(const std::string &kind, const std::string &line, Clock::time_point now)
{
    std::vector<std::string> out;
    {
        const std::lock_guard lock(mutex_);
        const auto found = kinds_.find(kind);
        if (found != kinds_.end() && now - found->second.written < quiet_) {
            found->second.held++;
            return;
        }
        if (found != kinds_.end()) {
            counted(found->second, out);
        } else if (kinds_.size() >= maxKinds_) {
            const auto oldest =
                std::min_element(kinds_.begin(), kinds_.end(), [](const auto &a, const auto &b) {
                    return a.second.written < b.second.written;
                });
            counted(oldest->second, out);
            kinds_.erase(oldest);
        }
        kinds_[kind] = Kind{now, line, 0};
        out.push_back(line);
    }
    for (const std::string &text : out)
        sink_(text);
}

void LogLimiter::flush(Clock::time_point now)
{
    std::vector<std::string> out;
    {
        const std::lock_guard lock(mutex_);
        std::erase_if(kinds_, [&](const auto &entry) {
            if (now - entry.second.written < quiet_)
                return false;
            counted(entry.second, out);
            return true;
        });
    }
    for (const std::string &text : out)
        sink_(text);
}

std::optional<LogLimiter::Clock::time_point> LogLimiter::due() const
{
    const std::lock_guard lock(mutex_);
    std::optional<Clock::time_point> earliest;
    for (const auto &[name, kind] : kinds_)
        if (kind.held > 0 && (!earliest || kind.written + quiet_ < *earliest))
            earliest = kind.written + quiet_;
    return earliest;
}

} // namespace qd
