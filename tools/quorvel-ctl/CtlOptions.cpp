#include "CtlOptions.h"

#include "CtlStatus.h"

#include <charconv>
#include <set>

const char *const usageText =
    "Usage: quorvel-ctl [OPTION]... COMMAND [ARG]...\n"
    "Reads and writes the RDS data of a Quorvel board.\n"
    "\n"
    "Commands:\n"
    "  probe                 list the USB devices with the board's ids\n"
    "  show [--json]         show all 43 fields\n"
    "  get NAME...           print the values of the named fields\n"
    "  set NAME=VALUE...     write the named fields\n"
    "  export [FILE]         write a JSON backup of every field (to standard output\n"
    "                        without FILE)\n"
    "  import [--dry-run] FILE\n"
    "                        write the fields of a backup that differ from the board\n"
    "  reset [--yes]         return the EEPROM data to the board's defaults\n"
    "  rt [--eeprom] TEXT    write the RadioText\n"
    "  rt --follow FILE\n"
    "                        write the first line of FILE as RadioText whenever it\n"
    "                        changes, until interrupted\n"
    "\n"
    "Options:\n"
    "  --device BUS/DEV      the board at BUS/DEV, as probe lists it (default: the\n"
    "                        first board found)\n"
    "  --charset cp1252|rds  the board's character codes: Windows-1252, as the\n"
    "                        dialog sends them (default), or the RDS basic\n"
    "                        character table, as receivers show them\n"
    "  --force               send values outside the RDS ranges all the same\n"
    "  --json                show: one JSON object\n"
    "  --dry-run             import: only tell what would be written\n"
    "  --yes                 reset: do not ask\n"
    "  --eeprom              rt: the EEPROM RadioText rather than the RAM one\n"
    "  --follow FILE         rt: follow FILE\n"
    "  -h, --help            show this help and exit\n"
    "  --version             show the version and exit\n"
    "\n"
    "Field names: ram.ps ram.rt ram.pty ram.tp ram.ta ram.ms ram.di, the same\n"
    "with eeprom., eeprom.pi eeprom.naf eeprom.af00 to eeprom.af24\n"
    "eeprom.group2a eeprom.stereo.\n"
    "\n"
    "Exit status: 0 done; 1 a board request failed; 2 usage error; 3 no board\n"
    "found; 4 the board cannot be opened or its strings cannot be read (usually a\n"
    "permission problem); 5 a value refused; 6 a file cannot be read or written;\n"
    "7 reset not confirmed.\n";

namespace {

struct CommandRule {
    const char *name;
    std::set<std::string> options; // besides --device and --charset
    size_t minOperands, maxOperands;
};

const CommandRule Rules[] = {
    {"probe", {}, 0, 0},        {"show", {"--json"}, 0, 0},
    {"get", {}, 1, SIZE_MAX},   {"set", {"--force"}, 1, SIZE_MAX},
    {"export", {}, 0, 1},       {"import", {"--force", "--dry-run"}, 1, 1},
    {"reset", {"--yes"}, 0, 0}, {"rt", {"--force", "--eeprom", "--follow"}, 0, 1},
};

[[noreturn]] void usage(const std::string &message)
{
    throw CtlError{CtlUsage, message};
}

// Sets the option; true when it takes the next argument as its value.
bool takeOption(CtlOptions &o, const std::string &option, const std::string *value)
{
    if (option == "--json")
        o.json = true;
    else if (option == "--force")
        o.force = true;
    else if (option == "--yes" || option == "-y")
        o.yes = true;
    else if (option == "--dry-run")
        o.dryRun = true;
    else if (option == "--eeprom")
        o.eeprom = true;
    else if (option == "--help" || option == "-h")
        o.help = true;
    else if (option == "--version")
        o.version = true;
    else if (option == "--device" || option == "--charset" || option == "--follow") {
        if (!value)
            usage(option + " needs a value");
        if (option == "--device") {
            parseDeviceLocation(*value);
            o.device = *value;
        } else if (option == "--follow") {
            o.follow = *value;
        } else {
            const auto charset = fields::charsetByName(*value);
            if (!charset)
                usage("unknown charset \"" + *value + "\" (cp1252 or rds)");
            o.charset = *charset;
            o.charsetGiven = true;
        }
        return true;
    } else
        usage("unknown option " + option);
    return false;
}

void checkCommand(const CtlOptions &o, const std::set<std::string> &given)
{
    for (const CommandRule &rule : Rules) {
        if (o.command != rule.name)
            continue;
        for (const std::string &option : given) {
            const bool general =
                option == "--charset" || (option == "--device" && o.command != "probe");
            if (!general && !rule.options.contains(option))
                usage("option " + option + " does not apply to " + o.command);
        }
        size_t min = rule.minOperands, max = rule.maxOperands;
        if (o.command == "rt") // TEXT, or --follow FILE
            min = max = o.follow.empty() ? 1 : 0;
        if (o.eeprom && !o.follow.empty()) // a write at every song would wear the EEPROM out
            usage("rt: --eeprom does not go with --follow: the EEPROM wears out when written at "
                  "every song; follow the RAM RadioText");
        if (o.operands.size() < min)
            usage(o.command + ": too few arguments");
        if (o.operands.size() > max)
            usage(o.command + ": too many arguments");
        return;
    }
    usage("unknown command \"" + o.command + "\"");
}

} // namespace

DeviceLocation parseDeviceLocation(const std::string &text)
{
    const size_t slash = text.find('/');
    DeviceLocation location{-1, -1};
    const auto number = [](std::string_view digits, int &to) {
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), to);
        return !digits.empty() && error == std::errc() && end == digits.data() + digits.size() &&
               to >= 0;
    };
    const std::string_view view(text);
    if (slash == std::string::npos || !number(view.substr(0, slash), location.bus) ||
        !number(view.substr(slash + 1), location.device))
        usage("--device takes BUS/DEV, as probe shows it (for example 001/007), not \"" + text +
              "\"");
    return location;
}

CtlOptions parseCommandLine(int argc, const char *const *argv)
{
    CtlOptions o;
    std::set<std::string> given;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
            if (o.command.empty())
                o.command = arg;
            else
                o.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string option = arg.substr(0, equals);
        if (equals != std::string::npos) {
            const std::string value = arg.substr(equals + 1);
            if (!takeOption(o, option, &value))
                usage("option " + option + " takes no value");
        } else {
            const std::string next = i + 1 < argc ? argv[i + 1] : "";
            if (takeOption(o, option, i + 1 < argc ? &next : nullptr))
                ++i;
        }
        given.insert(option == "-y" ? "--yes" : option);
    }
    if (o.help || o.version)
        return o;
    if (o.command == "help") {
        o.help = true;
        return o;
    }
    if (o.command.empty())
        usage("no command given");
    checkCommand(o, given);
    return o;
}
