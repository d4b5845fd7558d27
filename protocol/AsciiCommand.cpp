#include "AsciiCommand.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

namespace ascii {

namespace {

struct Alias {
    std::string_view alias;
    std::string_view field; // after "ram." or "eeprom."
};

constexpr std::array<Alias, 9> copies{{{"ps", "ps"},
                                       {"rt", "rt"},
                                       {"text", "rt"},
                                       {"rt1", "rt"},
                                       {"pty", "pty"},
                                       {"tp", "tp"},
                                       {"ta", "ta"},
                                       {"ms", "ms"},
                                       {"di", "di"}}};

std::string lower(std::string_view text)
{
    std::string out(text);
    std::ranges::transform(out, out.begin(),
                           [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
    return out;
}

// The field a name stands for, or nullopt.
std::optional<std::string> fieldName(std::string_view given)
{
    std::string name = lower(given);
    const bool eeprom = name.starts_with('*');
    if (eeprom)
        name.erase(0, 1);
    for (const Alias &a : copies) {
        if (name == a.alias)
            return std::string(eeprom ? "eeprom." : "ram.") + std::string(a.field);
    }
    if (name == "pi")
        return "eeprom.pi";
    if (name == "af")
        return name;
    if (eeprom)
        return std::nullopt;
    for (std::string_view prefix : {"ram.", "eeprom."}) {
        if (name.starts_with(prefix) && name.size() > prefix.size())
            return name;
    }
    return std::nullopt;
}

// The RAM field that a '*' name sets and stores (its EEPROM copy too), or nullopt.
std::optional<std::string> storedField(std::string_view given)
{
    const std::string name = lower(given);
    for (const Alias &a : copies)
        if (name.starts_with('*') && name.substr(1) == a.alias)
            return "ram." + std::string(a.field);
    return std::nullopt;
}

} // namespace

Command parseLine(std::string_view line)
{
    if (line.empty())
        return Empty{};
    if (line == "??")
        return QueryAll{};
    const size_t equals = line.find('=');
    if (equals != std::string_view::npos) {
        const std::string_view name = line.substr(0, equals);
        const std::string value(line.substr(equals + 1));
        if (lower(name) == "dps")
            return Scroll{value};
        if (std::optional<std::string> ram = storedField(name))
            return Set{*ram, value, "eeprom." + ram->substr(4)};
        if (std::optional<std::string> field = fieldName(name))
            return Set{std::move(*field), value};
        return Unknown{};
    }
    if (!line.ends_with('?'))
        return Unknown{};
    const std::string_view name = line.substr(0, line.size() - 1);
    if (lower(name) == "status")
        return Status{};
    if (std::optional<std::string> field = fieldName(name))
        return Query{std::move(*field)};
    return Unknown{};
}

} // namespace ascii
