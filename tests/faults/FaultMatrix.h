// What the fault matrices and the soak share: the kinds of fault, and what a
// run of requests becomes when one of them fails.
#ifndef TESTS_FAULTS_FAULT_MATRIX_H
#define TESTS_FAULTS_FAULT_MATRIX_H

#include "SimFixture.h"

#include <cerrno>
#include <string>
#include <vector>

namespace faults {

using Requests = std::vector<sim::Request>;

enum class Kind { Stall, Timeout, Short, Unplug };
inline const char *const KindNames[] = {"Stall", "Timeout", "ShortReply", "Unplug"};

// How many requests a row of the field table takes to move whole: the PS
// names 2, the RadioTexts 16, every other field 1.
inline int requestsOfRow(int row)
{
    return row == 0 || row == 7 ? 2 : row == 1 || row == 8 ? 16 : 1;
}

// The fault at the board's request number `at`, and the result the host
// sees for it: a stall and a time-out (without its delay) fail only that
// request, a short reply carries 0 to 3 bytes, an unplug fails it and every
// later one.
inline sim::Fault faultAt(Kind kind, int at)
{
    switch (kind) {
    case Kind::Stall: return {.kind = sim::Fault::Error, .at = at, .error = EPIPE};
    case Kind::Timeout: return {.kind = sim::Fault::Error, .at = at, .error = ETIMEDOUT};
    case Kind::Short: return {.kind = sim::Fault::Short, .at = at, .bytes = at % 4};
    case Kind::Unplug: return {.kind = sim::Fault::Unplug, .at = at};
    }
    return {};
}
inline int faultResult(Kind kind, int at)
{
    const int results[] = {-EPIPE, -ETIMEDOUT, at % 4, -ENODEV};
    return results[static_cast<int>(kind)];
}

// A fault-free run's requests, row by row.
inline std::vector<Requests> byRow(const Requests &sent)
{
    std::vector<Requests> rows;
    for (auto it = sent.begin(); rows.size() < 43 && sent.end() - it >= requestsOfRow(rows.size());)
        rows.emplace_back(it, it + requestsOfRow(rows.size())), it += rows.back().size();
    return rows;
}

// That run with its request `failing` (from 1), the board's request `at`,
// failing with `kind`: a failed request ends its row's requests.
struct Faulted {
    std::vector<Requests> rows;
    std::vector<int> failed; // the rows
    Requests log() const
    {
        Requests all;
        for (const Requests &row : rows)
            all.insert(all.end(), row.begin(), row.end());
        return all;
    }
};
inline Faulted withFault(const std::vector<Requests> &clean, Kind kind, int failing, int at)
{
    Faulted run;
    int sent = 0;
    bool gone = false;
    for (int row = 0; row < static_cast<int>(clean.size()); row++) {
        run.rows.emplace_back();
        for (sim::Request r : clean[row]) {
            if (gone)
                r.result = -ENODEV;
            else if (++sent == failing)
                r.result = faultResult(kind, at), gone = kind == Kind::Unplug;
            run.rows.back().push_back(r);
            if (r.result < 0) {
                run.failed.push_back(row);
                break;
            }
        }
    }
    return run;
}

} // namespace faults

#endif
