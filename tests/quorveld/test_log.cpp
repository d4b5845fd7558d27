// The rate-limited log: what reaches the journal from lines that repeat.
#include "Log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = qd::LogLimiter::Clock;

struct Line {
    int atMs;         // -1: flush() at the time of the line before
    const char *kind; // nullptr: flush() at atMs
    const char *text;
};

struct LimiterCase {
    const char *name;
    std::vector<Line> lines;
    std::vector<std::string> written;
    int dueMs; // when flush() next has a count to write; -1: never
};

void PrintTo(const LimiterCase &c, std::ostream *os) { *os << c.name; }

class Limiter : public testing::TestWithParam<LimiterCase> {};

// A quiet period of 10 s, at most 2 kinds remembered.
TEST_P(Limiter, WritesOnceThenCounts)
{
    std::vector<std::string> written;
    qd::LogLimiter limiter(
        10s, [&](const std::string &line) { written.push_back(line); }, 2);
    const Clock::time_point start{};
    for (const Line &line : GetParam().lines) {
        const Clock::time_point at = start + std::chrono::milliseconds(line.atMs);
        if (line.kind)
            limiter.log(line.kind, line.text, at);
        else
            limiter.flush(at);
    }
    EXPECT_EQ(written, GetParam().written);
    const auto due = limiter.due();
    EXPECT_EQ(due ? (*due - start) / 1ms : -1, GetParam().dueMs);
}

// clang-format off
const LimiterCase limiterCases[] = {
    {"KindsApart", {{0, "a", "a1"}, {1, "b", "b1"}, {2, "a", "a2"}},
     {"a1", "b1"}, 10000},
    {"CountWithTheNextLineAfterTheQuietPeriod",
     {{0, "a", "a1"}, {5000, "a", "a2"}, {9999, "a", "a3"}, {10000, "a", "a4"}, {10001, "a", "a5"}},
     {"a1", "a1 (2 more like it)", "a4"}, 20000},
    {"CountAloneOnceQuiet",
     {{0, "a", "a1"}, {3000, "a", "a2"}, {9999, nullptr, ""}, {10000, nullptr, ""}, {10001, "a", "a3"}},
     {"a1", "a1 (1 more like it)", "a3"}, -1},
    {"NothingCountedNothingMore", {{0, "a", "a1"}, {20000, nullptr, ""}, {20001, "a", "a2"}},
     {"a1", "a2"}, -1},
    {"ThirdKindFlushesTheOldest",
     {{0, "a", "a1"}, {1, "a", "a2"}, {2, "b", "b1"}, {3, "c", "c1"}, {4, "a", "a3"}},
     {"a1", "b1", "a1 (1 more like it)", "c1", "a3"}, -1},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Log, Limiter, testing::ValuesIn(limiterCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
