#include "AsciiReply.h"

namespace ascii {

std::string reply(Outcome outcome, Style style)
{
    if (style == Style::Ok)
        return outcome == Outcome::Done ? "OK\r\n" : "NO\r\n";
    switch (outcome) {
    case Outcome::Done: return "+\r\n";
    case Outcome::Partly: return "/\r\n";
    case Outcome::Refused: return "-\r\n";
    case Outcome::Unknown: break;
    }
    return "!\r\n";
}

std::string answer(std::string_view name, std::string_view value)
{
    std::string out(name);
    out += '=';
    out += value;
    out += "\r\n";
    return out;
}

} // namespace ascii
