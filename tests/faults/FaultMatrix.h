// What the fault matrices share: the kinds of fault, the board data they run
// on, and the requests each row of the field table sends.
#ifndef TESTS_FAULTS_FAULT_MATRIX_H
#define TESTS_FAULTS_FAULT_MATRIX_H

#include "SimBoard.h"

#include <cerrno>
#include <ostream>
#include <string>
#include <vector>

namespace faults {

enum class Kind { Stall, Timeout, Short, Unplug };

inline std::string kindName(Kind kind)
{
    switch (kind) {
    case Kind::Stall: return "Stall";
    case Kind::Timeout: return "Timeout";
    case Kind::Short: return "ShortReply";
    case Kind::Unplug: return "Unplug";
    }
    return {};
}

inline void PrintTo(Kind kind, std::ostream *os)
{
    *os << kindName(kind);
}

// The bytes a short reply carries at request `n`: 0 to 3, so that some or all
// of the bytes a read uses are left over from the request before.
inline int shortBytes(int n)
{
    return n % 4;
}

// The fault at the board's request number `at` (counted from the board's
// first request): a stall and a time-out (without its delay) fail only that
// request, an unplug fails it and every later one.
inline sim::Fault faultAt(Kind kind, int at)
{
    switch (kind) {
    case Kind::Stall: return {.kind = sim::Fault::Error, .at = at, .error = EPIPE};
    case Kind::Timeout: return {.kind = sim::Fault::Error, .at = at, .error = ETIMEDOUT};
    case Kind::Short: return {.kind = sim::Fault::Short, .at = at, .bytes = shortBytes(at)};
    case Kind::Unplug: return {.kind = sim::Fault::Unplug, .at = at};
    }
    return {};
}

// The result the host sees for the failing request.
inline int faultResult(Kind kind, int at)
{
    switch (kind) {
    case Kind::Stall: return -EPIPE;
    case Kind::Timeout: return -ETIMEDOUT;
    case Kind::Short: return shortBytes(at);
    case Kind::Unplug: return -ENODEV;
    }
    return 0;
}

// How many requests a row's field takes to move whole.
int requestsOfRow(int row);

} // namespace faults

#endif
