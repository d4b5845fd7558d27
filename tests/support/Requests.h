// The requests a test expects the board to receive, as the simulated board
// logs them, and what the board layer makes of texts and of a whole load.
#ifndef REQUESTS_H
#define REQUESTS_H

#include "SimBoard.h"

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace sim {
inline bool operator==(const Request &a, const Request &b)
{
    return a.code == b.code && a.value == b.value && a.index == b.index && a.result == b.result;
}
inline void PrintTo(const Request &r, std::ostream *os)
{
    char line[64];
    std::snprintf(line, sizeof line, "0x%02X value=0x%04X index=0x%04X result=%d", r.code, r.value,
                  r.index, r.result);
    *os << line;
}
} // namespace sim

using Requests = std::vector<sim::Request>;

// A request the board answered in full; the same failing with `result`.
inline sim::Request ok(int code, int value = 0, int index = 0)
{
    return {static_cast<uint8_t>(code), static_cast<uint16_t>(value), static_cast<uint16_t>(index),
            8};
}
inline sim::Request failed(sim::Request r, int result = -32)
{
    r.result = result;
    return r;
}

inline Requests operator+(Requests a, const Requests &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Requests answered in full, with the codes from `first` to `last`.
inline Requests each(int first, int last, int value = 0, int index = 0)
{
    Requests r;
    for (int code = first; code <= last; ++code)
        r.push_back(ok(code, value, index));
    return r;
}

// Four characters in one request, the earlier ones high in wValue, then wIndex.
inline sim::Request block(int code, const std::string &four)
{
    const auto at = [&](int i) { return static_cast<uint8_t>(four.at(i)); };
    return ok(code, at(0) << 8 | at(1), at(2) << 8 | at(3));
}

// A text written whole from `firstCode` on: a PS name (0x21, 0x61) in 8
// characters, zero bytes after it; a RadioText in 64, carriage returns after.
inline Requests textWrite(int firstCode, std::string text)
{
    const bool psName = (firstCode & 0x3F) == 0x21;
    text.resize(psName ? 8 : 64, psName ? '\0' : '\r');
    Requests r;
    for (size_t at = 0; at < text.size(); at += 4)
        r.push_back(block(firstCode + static_cast<int>(at / 4), text.substr(at, 4)));
    return r;
}

// The 75 reads of a load, in the order of the field table.
inline Requests fullLoad()
{
    Requests r = each(0xA1, 0xA2) + each(0xB0, 0xBF) + each(0xA3, 0xA7) + each(0xE1, 0xE2) +
                 each(0xF0, 0xFF) + each(0xE3, 0xE9);
    for (int n = 0; n < 25; ++n)
        r.push_back(ok(0xEA, n));
    return r + Requests{ok(0x82), ok(0x83)};
}

#endif
