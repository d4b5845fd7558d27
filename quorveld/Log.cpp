#include "Log.h"

#include <atomic>
#include <cstdio>
#include <mutex>

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

} // namespace qd
