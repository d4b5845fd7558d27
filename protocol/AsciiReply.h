// Replies to ASCII command lines, each ending with CRLF.
#ifndef PROTOCOL_ASCII_REPLY_H
#define PROTOCOL_ASCII_REPLY_H

#include <string>
#include <string_view>

namespace ascii {

enum class Outcome { Done, Partly, Refused, Unknown };
// Plus: '+' done or queued, '/' partly done (set, not stored), '-' value
// refused, '!' unknown command. Ok: "OK" done, "NO" otherwise.
enum class Style { Plus, Ok };

std::string reply(Outcome outcome, Style style);

// The answer to a query: NAME=value.
std::string answer(std::string_view name, std::string_view value);

} // namespace ascii

#endif
