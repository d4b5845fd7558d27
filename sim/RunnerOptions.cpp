#include "RunnerOptions.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>

namespace sim {

const char *const usageText =
    "Usage: quorvel-sim [OPTION]... -- COMMAND [ARG]...\n"
    "Runs COMMAND with a simulated Quorvel board on an emulated USB bus: COMMAND\n"
    "finds and drives the board through libusb as it would the real one.\n"
    "Vendor requests are numbered from 1 in the order the board receives them.\n"
    "\n"
    "  --no-board              attach no board\n"
    "  --extra-device          attach, before the board, another device with the\n"
    "                          board's ids and the strings \"Other Maker\", \"Gadget\"\n"
    "  --log FILE              write a line to FILE as each vendor request is\n"
    "                          answered: 0x21 value=0x5445 index=0x5354 result=8\n"
    "  --fail-at N[:ERRNO]     fail request N with -ERRNO (default 32, a stall)\n"
    "  --fail-code CODE[:ERRNO]\n"
    "                          fail every request with code CODE the same way\n"
    "  --short-at N:BYTES      answer request N with only BYTES bytes\n"
    "  --unplug-at N           unplug the board at request N: it and every later\n"
    "                          request fail with -19 (ENODEV), the node goes\n"
    "  --hang-at N[:MS]        from request N on, answer each request after MS\n"
    "                          milliseconds (default 1000) with -110 (ETIMEDOUT)\n"
    "  --power-glitch-at N     just before request N, the board's RAM takes the\n"
    "                          EEPROM values again, as at power-on; the board\n"
    "                          stays on the bus\n"
    "  --unplug-after MS       unplug the board MS milliseconds after COMMAND\n"
    "                          starts: its requests fail with -19, the node goes\n"
    "  --replug-after MS       MS milliseconds after an unplug (by --unplug-at or\n"
    "                          --unplug-after), plug the same board in again as a\n"
    "                          new device (a new device number), power-cycled:\n"
    "                          its RAM holds the EEPROM values\n"
    "  --control FIFO          read commands from the named pipe FIFO (made if\n"
    "                          missing), one a line: unplug (as --unplug-after),\n"
    "                          replug (as --replug-after), glitch (a power glitch\n"
    "                          now, as --power-glitch-at); as often as written\n"
    "  --string-error ERRNO    fail the board's string descriptor requests\n"
    "  --help                  show this help and exit\n"
    "\n"
    "Numbers are decimal, or hexadecimal after 0x. Options may be repeated.\n"
    "Exit status: COMMAND's; 128+N if a signal N ended it; 2 on a usage error;\n"
    "125 if the simulation could not be set up; 126 or 127 if COMMAND could not\n"
    "be run. SIGINT and SIGTERM are passed on to COMMAND.\n";

namespace {

std::optional<int> parseNumber(const std::string &text)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char *digits = text.c_str() + (hex ? 2 : 0);
    if (*digits < '0' || *digits > (hex ? 'f' : '9'))
        return std::nullopt;
    char *end = nullptr;
    errno = 0;
    const long n = std::strtol(digits, &end, hex ? 16 : 10);
    if (*end != '\0' || errno != 0 || n > INT_MAX)
        return std::nullopt;
    return static_cast<int>(n);
}

// "A" or "A:B"; B is `fallback` when left out, required when there is none.
bool parsePair(const std::string &text, int &a, int &b, std::optional<int> fallback)
{
    const size_t colon = text.find(':');
    const auto first = parseNumber(text.substr(0, colon));
    const auto second = colon == std::string::npos ? fallback : parseNumber(text.substr(colon + 1));
    if (!first || !second)
        return false;
    a = *first;
    b = *second;
    return true;
}

std::optional<Fault> parseFault(const std::string &option, const std::string &arg)
{
    Fault f;
    bool good = false;
    if (option == "--fail-at") {
        good = parsePair(arg, f.at, f.error, EPIPE) && f.at > 0 && f.error > 0;
    } else if (option == "--fail-code") {
        good =
            parsePair(arg, f.code, f.error, EPIPE) && f.code >= 0 && f.code <= 0xFF && f.error > 0;
    } else if (option == "--short-at") {
        f.kind = Fault::Short;
        good = parsePair(arg, f.at, f.bytes, std::nullopt) && f.at > 0 && f.bytes >= 0;
    } else if (option == "--unplug-at") {
        f.kind = Fault::Unplug;
        f.at = parseNumber(arg).value_or(0);
        good = f.at > 0;
    } else if (option == "--hang-at") {
        f.kind = Fault::Hang;
        good = parsePair(arg, f.at, f.delayMs, 1000) && f.at > 0 && f.delayMs >= 0;
    } else if (option == "--power-glitch-at") {
        f.kind = Fault::Glitch;
        f.at = parseNumber(arg).value_or(0);
        good = f.at > 0;
    }
    return good ? std::optional(f) : std::nullopt;
}

bool isFaultOption(const std::string &option)
{
    return option == "--fail-at" || option == "--fail-code" || option == "--short-at" ||
           option == "--unplug-at" || option == "--hang-at" || option == "--power-glitch-at";
}

bool isTimeOption(const std::string &option)
{
    return option == "--unplug-after" || option == "--replug-after";
}

} // namespace

ParsedCommandLine parseCommandLine(int argc, const char *const *argv)
{
    ParsedCommandLine parsed;
    RunnerOptions &o = parsed.options;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--") {
            ++i;
            break;
        }
        if (option.empty() || option[0] != '-')
            break;
        if (option == "--help") {
            parsed.help = true;
            return parsed;
        }
        if (option == "--no-board") {
            o.board = false;
            continue;
        }
        if (option == "--extra-device") {
            o.extraDevice = true;
            continue;
        }

        if (option != "--log" && option != "--control" && option != "--string-error" &&
            !isFaultOption(option) && !isTimeOption(option)) {
            parsed.error = "unknown option " + option;
            return parsed;
        }
        if (i + 1 == argc) {
            parsed.error = option + " needs an argument";
            return parsed;
        }
        const std::string arg = argv[++i];
        bool good = true;
        if (option == "--log") {
            o.logFile = arg;
        } else if (option == "--control") {
            o.controlFifo = arg;
        } else if (option == "--string-error") {
            o.stringError = parseNumber(arg).value_or(0);
            good = o.stringError > 0;
        } else if (isTimeOption(option)) {
            int &ms =
                option == "--unplug-after" ? o.timeline.unplugAfterMs : o.timeline.replugAfterMs;
            ms = parseNumber(arg).value_or(-1);
            good = ms >= 0;
        } else if (const auto fault = parseFault(option, arg)) {
            o.faults.push_back(*fault);
        } else {
            good = false;
        }
        if (!good) {
            parsed.error = "bad argument to ";
            parsed.error.append(option).append(": ").append(arg);
            return parsed;
        }
    }
    for (; i < argc; ++i)
        o.command.push_back(argv[i]);
    if (o.command.empty())
        parsed.error = "no command given";
    return parsed;
}

} // namespace sim
