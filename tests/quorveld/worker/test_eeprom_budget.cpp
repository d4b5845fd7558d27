// The EEPROM budget on its own, at given times: the interval between writes,
// folding into a reserved write, refunds, the daily count in hours, the
// operator's share, and its records across a restart; then in the board
// worker, by what the simulated board receives.
#include "EepromBudget.h"
#include "WorkerFixture.h"

#include <gtest/gtest.h>

#include <sstream>

#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using qd::Asker;
using qd::EepromBudget;

// A whole hour, so that the cases read in hours from it.
const EepromBudget::Time t0{1800000000s};

EepromBudget::Time at(double seconds)
{
    return t0 + std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::duration<double>(seconds));
}

// r: a client reserves, o: the operator, s: the write starts, f: a refund;
// each with what it gives: "due 10" (seconds after t0), "folded", "refused
// 3600" (retry after), or the count of writes for s and f.
struct Step {
    char what;
    double at;
    std::string gives;
};

struct BudgetCase {
    const char *name;
    qd::EepromBudgetOptions options;
    std::vector<Step> steps;
};

void PrintTo(const BudgetCase &c, std::ostream *os) { *os << c.name; }

class Budget : public testing::TestWithParam<BudgetCase> {};

const BudgetCase cases[] = {
    {"interval",
     {10s, 0, 10},
     {{'r', 0, "due 0"},
      {'s', 0, "1"},
      {'r', 1, "due 10"},
      {'r', 2, "folded"},
      {'s', 10.5, "2"},
      {'r', 11, "due 20.5"}}},
    {"refund",
     {10s, 0, 10},
     {{'r', 0, "due 0"}, {'s', 0, "1"}, {'r', 1, "due 10"}, {'f', 2, "1"}, {'r', 30, "due 30"}}},
    {"operator's share",
     {0s, 3, 10},
     {{'r', 0, "due 0"},
      {'s', 0, "1"},
      {'r', 100, "due 100"},
      {'s', 100, "2"},
      {'r', 200, "refused 89800"},
      {'o', 200, "due 200"},
      {'s', 200, "3"},
      {'o', 300, "refused 89700"}}},
    {"rolling day in hours",
     {0s, 2, 0},
     {{'r', 1800, "due 1800"},
      {'s', 1800, "1"},
      {'r', 7200, "due 7200"},
      {'s', 7200, "2"},
      {'r', 86400, "refused 3600"},
      {'r', 90000, "due 90000"}}},
};

TEST_P(Budget, GivesWhatEachStepSays)
{
    const BudgetCase &c = GetParam();
    EepromBudget budget(c.options);
    const int field = 7;
    for (const Step &step : c.steps) {
        std::string gave;
        if (step.what == 'r' || step.what == 'o') {
            const auto r = budget.reserve(field, at(step.at),
                                          step.what == 'o' ? Asker::Operator : Asker::Client);
            const auto due = std::chrono::duration<double>(r.due - t0).count();
            std::ostringstream text;
            text << (!r.granted ? "refused " + std::to_string(r.retryAfter.count())
                     : r.folded ? std::string("folded")
                                : "due ");
            if (r.granted && !r.folded)
                text << due;
            gave = text.str();
        } else {
            if (step.what == 's')
                budget.started(field, at(step.at));
            else
                budget.refund(field);
            gave = std::to_string(budget.used(field, at(step.at)));
        }
        EXPECT_EQ(gave, step.gives) << step.what << " at " << step.at;
    }
    EXPECT_EQ(budget.used(field + 1, at(0)), 0) << "other fields count on their own";
}

INSTANTIATE_TEST_SUITE_P(Cases, Budget, testing::ValuesIn(cases));

// The limits of the default: 24 a day, three of them the operator's.
TEST(BudgetDefault, KeepsATenthForTheOperator)
{
    const EepromBudget budget({10s, 24, 10});
    EXPECT_EQ(budget.limit(Asker::Client), 21);
    EXPECT_EQ(budget.limit(Asker::Operator), 24);
}

class WorkerBudget : public WorkerTest {
protected:
    static qd::WorkerOptions limited(std::chrono::seconds interval, int perDay = 0)
    {
        qd::WorkerOptions o = options();
        o.budget = {interval, perDay, 10};
        return o;
    }

    std::vector<qd::BudgetRefusal> askAs(const Asks &values, Asker asker)
    {
        std::vector<std::pair<int, fields::Image>> images;
        for (const auto &[name, value] : values)
            images.emplace_back(field(name), image(name, value));
        return worker->ask(images, asker);
    }

    // The board holds `value`, and nothing more is on its way.
    bool landed(const std::string &name, const std::string &value) const
    {
        const qd::FieldSnapshot f = fieldNamed(name);
        return f.held == image(name, value) && !f.pending();
    }
};

// A flood of alternating PI codes: every ask is taken, folded into the write
// reserved for the field; one write is made at once, the next no sooner than
// a minute later, with the last value.
TEST_F(WorkerBudget, AFloodIsOneWriteAndTheLastValueWaitsItsTurn)
{
    startLoaded(limited(60s));
    for (int i = 0; i < 1000; ++i)
        EXPECT_TRUE(askAs({{"eeprom.pi", i % 2 ? "D3A1" : "D3A2"}}, Asker::Client).empty());
    ASSERT_TRUE(waitFor([&] { return board->log().size() == 1; }));
    EXPECT_EQ(board->log()[0].code, 0x68);
    EXPECT_EQ(fieldNamed("eeprom.pi").effective(), image("eeprom.pi", "D3A1"));
    const auto used = worker->status().eepromBudgetUsed;
    ASSERT_EQ(used.size(), 1u);
    EXPECT_LE(used[0].second, 2) << "one write made, at most one reserved";
}

// A pass writes each block once: asked while it is under way, a new value
// of a block it wrote waits for the next pass, a whole interval later. The
// board copies an EEPROM PS block into its RAM: the RAM name asked after the
// new value is written again once that lands.
TEST_F(WorkerBudget, APassWritesEachBlockOnceAndTheLaterRamTextIsWrittenAgain)
{
    startLoaded(limited(1s));
    bool first = true;
    std::vector<std::chrono::steady_clock::time_point> at;
    board->setListener([&](const sim::Request &r) {
        if (r.code == 0x61)
            at.push_back(std::chrono::steady_clock::now());
        if (r.code == 0x62 && std::exchange(first, false))
            ask({{"eeprom.ps", "CCCCBBBB"}, {"ram.ps", "LIVE"}});
    });
    ask({{"eeprom.ps", "AAAABBBB"}});
    const Requests passes = {block(0x61, "AAAA"), block(0x62, "BBBB"), block(0x21, "LIVE"),
                             block(0x22, "    "), block(0x61, "CCCC"), block(0x21, "LIVE")};
    EXPECT_EQ(drained(), passes);
    board->setListener(nullptr);
    ASSERT_EQ(at.size(), 2u);
    EXPECT_GE(at[1] - at[0], 1s);
    EXPECT_EQ(fieldNamed("ram.ps").held, "LIVE    ");
}

// A reserved write that is no longer needed gives its count back.
TEST_F(WorkerBudget, AWriteNoLongerNeededIsNotCounted)
{
    startLoaded(limited(60s));
    ask({{"eeprom.pi", "D3A1"}});
    ASSERT_TRUE(waitFor([&] { return landed("eeprom.pi", "D3A1"); }));
    ask({{"eeprom.pi", "D3A2"}});
    ask({{"eeprom.pi", "D3A1"}});
    const std::vector<std::pair<int, int>> one = {{field("eeprom.pi"), 1}};
    EXPECT_TRUE(waitFor([&] { return worker->status().eepromBudgetUsed == one; }));
    EXPECT_EQ(drained(), Requests{ok(0x68, 0xD3A1)});
}

// Past the clients' share only the operator's asks are taken; a refused ask
// asks nothing, RAM values with it included.
TEST_F(WorkerBudget, RefusesPastTheShareAndAsksNothingThen)
{
    startLoaded(limited(0s, 3)); // 2 for clients, 1 more for the operator
    EXPECT_TRUE(askAs({{"eeprom.pi", "D3A1"}}, Asker::Client).empty());
    ASSERT_TRUE(waitFor([&] { return landed("eeprom.pi", "D3A1"); }));
    EXPECT_TRUE(askAs({{"eeprom.pi", "D3A2"}}, Asker::Client).empty());
    ASSERT_TRUE(waitFor([&] { return landed("eeprom.pi", "D3A2"); }));
    const auto refused = askAs({{"ram.pty", "5"}, {"eeprom.pi", "D3A3"}}, Asker::Client);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].field, field("eeprom.pi"));
    EXPECT_EQ(refused[0].limit, 2);
    EXPECT_GT(refused[0].retryAfter, 24h);
    EXPECT_TRUE(askAs({{"eeprom.pi", "D3A2"}}, Asker::Client).empty()) << "what it holds: no write";
    EXPECT_TRUE(askAs({{"eeprom.pi", "D3A4"}}, Asker::Operator).empty());
    ASSERT_TRUE(waitFor([&] { return landed("eeprom.pi", "D3A4"); }));
    EXPECT_FALSE(askAs({{"eeprom.pi", "D3A5"}}, Asker::Operator).empty());
    EXPECT_EQ(drained(), (Requests{ok(0x68, 0xD3A1), ok(0x68, 0xD3A2), ok(0x68, 0xD3A4)}));
}

} // namespace
