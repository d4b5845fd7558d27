#include "EepromBudget.h"

#include <algorithm>
#include <climits>

namespace qd {

int64_t EepromBudget::hourOf(Time t)
{
    return std::chrono::duration_cast<std::chrono::hours>(t.time_since_epoch()).count();
}

// Rounded up: a write's next turn is never early.
int64_t EepromBudget::msOf(Time t)
{
    return std::chrono::ceil<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

void EepromBudget::prune(Account &account, int64_t hour) const
{
    auto &hours = account.record.hours;
    hours.erase(hours.begin(), hours.lower_bound(hour - windowHours + 1));
}

int EepromBudget::limit(Asker asker) const
{
    if (options_.perDay <= 0)
        return INT_MAX;
    const int kept = (options_.perDay * options_.keptPercent + 99) / 100;
    return asker == Asker::Operator ? options_.perDay : std::max(0, options_.perDay - kept);
}

int EepromBudget::used(int field, Time now) const
{
    const auto found = accounts_.find(field);
    if (found == accounts_.end())
        return 0;
    int count = 0;
    for (const auto &[hour, writes] : found->second.record.hours)
        if (hour > hourOf(now) - windowHours)
            count += writes;
    return count;
}

EepromBudget::Reservation EepromBudget::reserve(int field, Time now, Asker asker)
{
    Account &account = accounts_[field];
    BudgetRecord &record = account.record;
    if (record.reserved)
        return {true, true, due(field), {}};
    prune(account, hourOf(now));
    int used = 0;
    for (const auto &[hour, writes] : record.hours)
        used += writes;
    if (used >= limit(asker)) {
        // Until enough of the oldest writes leave the count.
        int64_t freed = hourOf(now);
        for (const auto &[hour, writes] : record.hours) {
            used -= writes;
            freed = hour;
            if (used < limit(asker))
                break;
        }
        const auto at = std::chrono::hours(freed + windowHours);
        const auto wait =
            std::chrono::duration_cast<std::chrono::seconds>(at - now.time_since_epoch());
        return {false, false, {}, std::max(wait, std::chrono::seconds(1))};
    }
    const Time earliest = Time(std::chrono::milliseconds(record.lastMs)) + options_.interval;
    const Time due = record.lastMs > 0 ? std::max(now, earliest) : now;
    account.reservedHour = hourOf(now);
    record.hours[account.reservedHour]++;
    account.lastBefore = record.lastMs;
    record.lastMs = msOf(due);
    record.reserved = true;
    return {true, false, due, {}};
}

bool EepromBudget::reserved(int field) const
{
    const auto found = accounts_.find(field);
    return found != accounts_.end() && found->second.record.reserved;
}

EepromBudget::Time EepromBudget::due(int field) const
{
    const auto found = accounts_.find(field);
    return found == accounts_.end() ? Time{}
                                    : Time(std::chrono::milliseconds(found->second.record.lastMs));
}

void EepromBudget::started(int field, Time now)
{
    BudgetRecord &record = accounts_[field].record;
    record.reserved = false;
    record.lastMs = msOf(now);
}

void EepromBudget::refund(int field)
{
    const auto found = accounts_.find(field);
    if (found == accounts_.end() || !found->second.record.reserved)
        return;
    Account &account = found->second;
    auto &hours = account.record.hours;
    if (const auto hour = hours.find(account.reservedHour);
        hour != hours.end() && --hour->second <= 0)
        hours.erase(hour);
    account.record.lastMs = account.lastBefore;
    account.record.reserved = false;
}

std::map<int, BudgetRecord> EepromBudget::records() const
{
    std::map<int, BudgetRecord> records;
    for (const auto &[field, account] : accounts_)
        if (!account.record.hours.empty() || account.record.reserved || account.record.lastMs)
            records[field] = account.record;
    return records;
}

void EepromBudget::restore(const std::map<int, BudgetRecord> &records, Time now)
{
    for (const auto &[field, record] : records) {
        Account &account = accounts_[field];
        account.record = record;
        prune(account, hourOf(now));
        account.reservedHour =
            record.hours.empty() ? hourOf(now) : std::prev(record.hours.end())->first;
        account.lastBefore = record.lastMs;
    }
}

} // namespace qd
