// ASCII command lines, as the automation of hardware encoders sends them.
#ifndef PROTOCOL_ASCII_COMMAND_H
#define PROTOCOL_ASCII_COMMAND_H

#include <string>
#include <string_view>
#include <variant>

namespace ascii {

// Field names are quorvel-ctl's (ram.ps, eeprom.pi...), lower case, and "af"
// for the AF list (MHz, comma-separated, empty for none). A name given in its
// quorvel-ctl form is taken as it is: the caller looks it up.
struct Empty {
    bool operator==(const Empty &) const = default;
};
struct Set {
    std::string name;
    std::string value;      // everything after the first '=', as given
    std::string store = {}; // set and store ('*'): the EEPROM copy of `name` too, else empty
    bool operator==(const Set &) const = default;
};
struct Query {
    std::string name;
    bool operator==(const Query &) const = default;
};
struct QueryAll {
    bool operator==(const QueryAll &) const = default;
};
struct Status {
    bool operator==(const Status &) const = default;
};
struct Scroll {
    std::string text;
    bool operator==(const Scroll &) const = default;
};
struct Unknown {
    bool operator==(const Unknown &) const = default;
};

using Command = std::variant<Empty, Set, Query, QueryAll, Status, Scroll, Unknown>;

// `NAME=value`, `NAME?`, `??`, `STATUS?`, `DPS=text`; names in any case. The
// encoders' names: PS, RT (TEXT, RT1), PTY, TP, TA, MS, DI for the RAM copy;
// with a leading '*', set and store: the RAM copy and the EEPROM one (a query
// asks for the EEPROM one); PI (hex) and AF.
Command parseLine(std::string_view line);

} // namespace ascii

#endif
