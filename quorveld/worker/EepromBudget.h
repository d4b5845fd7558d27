// How often each EEPROM field may be written: at most one write per interval,
// and at most a number of writes over a rolling day, counted in hours (a
// write counts for 24 to 25 hours). A share of that number is kept for the
// operator, so that a flooding client cannot lock the station out. A write is
// reserved when its value is asked, never refused when it is due: once
// reserved, a later ask folds into it until it starts. Times are the wall
// clock's, so that the counts mean the same after a restart. Not thread-safe:
// its owner guards it.
#ifndef QUORVELD_EEPROM_BUDGET_H
#define QUORVELD_EEPROM_BUDGET_H

#include <chrono>
#include <cstdint>
#include <map>
#include <vector>

namespace qd {

struct EepromBudgetOptions {
    std::chrono::seconds interval{0}; // between the starts of two writes of a field
    int perDay = 0;                   // writes of a field in a rolling day; 0: no limit
    int keptPercent = 10;             // of perDay, usable by the operator only
};

enum class Asker { Client, Operator }; // Operator: an authenticated HTTP request

// A field's account, as the state file keeps it.
struct BudgetRecord {
    std::map<int64_t, int> hours; // writes by hour (Unix seconds / 3600), the last 25 hours
    int64_t lastMs = 0;           // start of the latest write, or its due time while reserved
    bool reserved = false;        // a write is reserved and has not started
};

class EepromBudget {
public:
    using Time = std::chrono::system_clock::time_point;
    static constexpr int windowHours = 25;

    struct Reservation {
        bool granted = false;
        bool folded = false;               // into a write already reserved
        Time due{};                        // when the write may start
        std::chrono::seconds retryAfter{}; // when refused: until a write leaves the count
    };

    explicit EepromBudget(EepromBudgetOptions options = {}) : options_(options) {}
    const EepromBudgetOptions &options() const { return options_; }

    // A write of `field` for a value asked at `now`.
    Reservation reserve(int field, Time now, Asker asker);
    bool reserved(int field) const;
    Time due(int field) const;
    // The reserved write started at `now`: asks from now on need another.
    void started(int field, Time now);
    // The reserved write is not needed after all: it no longer counts.
    void refund(int field);
    // Writes counted for `field` at `now`.
    int used(int field, Time now) const;
    // How many writes an asker may have counted before it is refused.
    int limit(Asker asker) const;

    std::map<int, BudgetRecord> records() const;
    // A reserved record from the state file is kept reserved: its write was
    // accepted and must land.
    void restore(const std::map<int, BudgetRecord> &records, Time now);

private:
    struct Account {
        BudgetRecord record;
        int64_t reservedHour = 0; // where the reserved write is counted
        int64_t lastBefore = 0;   // lastMs before the reservation
    };

    static int64_t hourOf(Time t);
    static int64_t msOf(Time t);
    void prune(Account &account, int64_t hour) const;

    EepromBudgetOptions options_;
    std::map<int, Account> accounts_;
};

} // namespace qd

#endif
