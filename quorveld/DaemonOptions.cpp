#include "DaemonOptions.h"

#include <getopt.h>
#include <sys/stat.h>

#include <charconv>
#include <fstream>

namespace qd {

const char *const usageText =
    "Usage: quorveld [OPTION]...\n"
    "Drives a Quorvel RDS encoder board as a networked encoder: UECP frames and\n"
    "ASCII commands over TCP and UDP, HTTP, and a now-playing file.\n"
    "\n"
    "Listeners (each may be repeated; port 0 takes a free port):\n"
    "  --uecp-tcp ADDR:PORT     UECP frames over TCP\n"
    "  --uecp-udp ADDR:PORT     UECP frames over UDP, one frame per datagram;\n"
    "                           a multicast ADDR joins that group\n"
    "  --ascii-tcp ADDR:PORT    ASCII commands (PS=, RT=, TEXT=, DPS=...) over TCP\n"
    "  --ascii-udp ADDR:PORT    ASCII commands over UDP\n"
    "  --http ADDR:PORT         the web page, the JSON API and the metrics\n"
    "  --allow CIDR             accept clients from this address block only\n"
    "                           (repeatable; default: any)\n"
    "  --clients-per-address N  TCP clients one address may have per listener\n"
    "                           (default 8 of the 64)\n"
    "  --udp-query-allow CIDR   UDP clients that may get a reply larger than\n"
    "                           their datagram (repeatable; default loopback)\n"
    "  --idle-timeout SECONDS   close a TCP client silent this long (default 600)\n"
    "\n"
    "Encoder:\n"
    "  --follow FILE            RAM RadioText from a now-playing file\n"
    "  --site N[,N...]          UECP site addresses answered (0 always)\n"
    "  --encoder N[,N...]       UECP encoder addresses answered (0 always)\n"
    "  --device BUS/DEV         the board at this place (default: the first)\n"
    "  --charset rds|cp1252     character table of ASCII, HTTP and file texts\n"
    "                           (default rds: what receivers show)\n"
    "  --verify SECONDS         read the RAM back this often, 0 never (default 60)\n"
    "  --state FILE             keep the values asked for across restarts, and\n"
    "                           the EEPROM writes counted\n"
    "  --eeprom-interval SECONDS  an EEPROM field written at most this often;\n"
    "                           asks meanwhile wait for the next write (default 10)\n"
    "  --eeprom-budget WRITES   an EEPROM field written at most this often in a\n"
    "                           day; a tenth kept for authenticated HTTP (default 24)\n"
    "  --rt-cycle SECONDS       each buffered RadioText held this long (default 10)\n"
    "  --dps-step SECONDS       scrolling PS step (default 2)\n"
    "  --ascii-replies plus|ok  replies + - ! (default) or OK NO\n"
    "\n"
    "HTTP:\n"
    "  --http-password-file FILE  Basic authentication (required off loopback)\n"
    "  --http-token-file FILE   token for the now-playing URL and plain-text body\n"
    "  --http-host NAME         a host name the page is reached by (repeatable)\n"
    "  --http-max-clients N     HTTP connections at most, all listeners together\n"
    "                           (default 256)\n"
    "  --http-max-per-address N  HTTP connections from one address (default 8)\n"
    "  --http-idle SECONDS      close a kept-alive HTTP connection idle this long\n"
    "                           (default 30, at least 15)\n"
    "  --tls-cert FILE, --tls-key FILE  serve HTTPS\n"
    "  --metrics-public         /metrics without a password\n"
    "  --nowplaying-format FMT  RadioText from ARTIST and TITLE\n"
    "                           (default \"ARTIST - TITLE\")\n"
    "  --pty-names rds|rbds     the page's programme type names: European\n"
    "                           (default) or North American\n"
    "  --hash-password USER     read a password on standard input and print\n"
    "                           the line for --http-password-file\n"
    "\n"
    "  --config FILE            read these options from FILE, one per line\n"
    "  --verbose                log every command\n"
    "  --help, --version\n";

namespace {

enum Key {
    UecpTcp = 256,
    UecpUdp,
    AsciiTcp,
    AsciiUdp,
    Http,
    Follow,
    Site,
    Encoder,
    Device,
    CharsetKey,
    Verify,
    IdleTimeout,
    State,
    EepromInterval,
    EepromBudgetKey,
    RtCycle,
    DpsStep,
    AsciiReplies,
    Allow,
    ClientsPerAddress,
    UdpQueryAllow,
    Config,
    Verbose,
    PasswordFile,
    TokenFile,
    TlsCert,
    TlsKey,
    HttpHost,
    HttpMaxClients,
    HttpMaxPerAddress,
    HttpIdle,
    MetricsPublic,
    NowPlayingFormat,
    PtyNames,
    HashPassword,
    Help,
    Version,
};

const struct option Options[] = {
    {"uecp-tcp", required_argument, nullptr, UecpTcp},
    {"uecp-udp", required_argument, nullptr, UecpUdp},
    {"ascii-tcp", required_argument, nullptr, AsciiTcp},
    {"ascii-udp", required_argument, nullptr, AsciiUdp},
    {"http", required_argument, nullptr, Http},
    {"follow", required_argument, nullptr, Follow},
    {"site", required_argument, nullptr, Site},
    {"encoder", required_argument, nullptr, Encoder},
    {"device", required_argument, nullptr, Device},
    {"charset", required_argument, nullptr, CharsetKey},
    {"verify", required_argument, nullptr, Verify},
    {"idle-timeout", required_argument, nullptr, IdleTimeout},
    {"state", required_argument, nullptr, State},
    {"eeprom-interval", required_argument, nullptr, EepromInterval},
    {"eeprom-budget", required_argument, nullptr, EepromBudgetKey},
    {"rt-cycle", required_argument, nullptr, RtCycle},
    {"dps-step", required_argument, nullptr, DpsStep},
    {"ascii-replies", required_argument, nullptr, AsciiReplies},
    {"allow", required_argument, nullptr, Allow},
    {"clients-per-address", required_argument, nullptr, ClientsPerAddress},
    {"udp-query-allow", required_argument, nullptr, UdpQueryAllow},
    {"config", required_argument, nullptr, Config},
    {"verbose", no_argument, nullptr, Verbose},
    {"http-password-file", required_argument, nullptr, PasswordFile},
    {"http-token-file", required_argument, nullptr, TokenFile},
    {"tls-cert", required_argument, nullptr, TlsCert},
    {"tls-key", required_argument, nullptr, TlsKey},
    {"http-host", required_argument, nullptr, HttpHost},
    {"http-max-clients", required_argument, nullptr, HttpMaxClients},
    {"http-max-per-address", required_argument, nullptr, HttpMaxPerAddress},
    {"http-idle", required_argument, nullptr, HttpIdle},
    {"metrics-public", no_argument, nullptr, MetricsPublic},
    {"nowplaying-format", required_argument, nullptr, NowPlayingFormat},
    {"pty-names", required_argument, nullptr, PtyNames},
    {"hash-password", required_argument, nullptr, HashPassword},
    {"help", no_argument, nullptr, Help},
    {"version", no_argument, nullptr, Version},
    {nullptr, 0, nullptr, 0},
};

int number(const std::string &option, const std::string &text, int min, int max)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < min || value > max)
        throw OptionError("--" + option + ": \"" + text + "\" is not a number from " +
                          std::to_string(min) + " to " + std::to_string(max));
    return value;
}

// A list of UECP addresses; 0 (all) is always among them.
std::vector<int> addressList(const std::string &option, const std::string &text, int max)
{
    std::vector<int> list{0};
    size_t from = 0;
    while (from <= text.size()) {
        const size_t comma = std::min(text.find(',', from), text.size());
        list.push_back(number(option, text.substr(from, comma - from), 0, max));
        from = comma + 1;
    }
    return list;
}

AddressBlock parseBlock(const std::string &text, const std::string &option = "allow")
{
    const size_t slash = text.find('/');
    boost::system::error_code error;
    AddressBlock block{boost::asio::ip::make_address(text.substr(0, slash), error), 0};
    if (error)
        throw OptionError("--" + option + ": \"" + text +
                          "\" is not an address or an address block");
    const int bits = block.network.is_v4() ? 32 : 128;
    block.prefix =
        slash == std::string::npos ? bits : number(option, text.substr(slash + 1), 0, bits);
    return block;
}

// A FIFO or a device would block the event loop at its opening.
void checkRegularFile(const char *option, const std::string &path)
{
    struct stat status {};
    if (!path.empty() && stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode))
        throw OptionError(std::string("--") + option + ": " + path + " is not a regular file");
}

// The configuration file's lines as options: "name value", "name=value" or
// "--name value"; blank lines and lines starting with # are skipped.
std::vector<std::string> configArgs(const std::string &path)
{
    checkRegularFile("config", path);
    std::ifstream file(path);
    if (!file)
        throw OptionError("--config: cannot read " + path);
    std::vector<std::string> args;
    std::string line;
    for (int number = 1; std::getline(file, line); number++) {
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#')
            continue;
        line = line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
        if (line.starts_with("--"))
            line.erase(0, 2);
        const size_t split = line.find_first_of(" \t=");
        args.push_back("--" + line.substr(0, split));
        if (split != std::string::npos) {
            const size_t value = line.find_first_not_of(" \t", split + 1);
            args.push_back(line.substr(value == std::string::npos ? line.size() : value));
        }
        if (args.back() == "--config")
            throw OptionError(path + ":" + std::to_string(number) +
                              ": --config in a configuration file");
    }
    return args;
}

void apply(DaemonOptions &o, int key, const std::string &value)
{
    switch (key) {
    case UecpTcp: o.uecpTcp.push_back(parseListenAddress(value)); break;
    case UecpUdp: o.uecpUdp.push_back(parseListenAddress(value)); break;
    case AsciiTcp: o.asciiTcp.push_back(parseListenAddress(value)); break;
    case AsciiUdp: o.asciiUdp.push_back(parseListenAddress(value)); break;
    case Http: o.http.push_back(parseListenAddress(value)); break;
    case Follow: o.follow = value; break;
    case Site: o.sites = addressList("site", value, 1023); break;
    case Encoder: o.encoders = addressList("encoder", value, 63); break;
    case Device: o.device = value; break;
    case CharsetKey: {
        const auto charset = fields::charsetByName(value);
        if (!charset)
            throw OptionError("--charset: \"" + value + "\" is neither cp1252 nor rds");
        o.charset = *charset;
        break;
    }
    case Verify: o.verifySeconds = number("verify", value, 0, 86400); break;
    case IdleTimeout: o.idleSeconds = number("idle-timeout", value, 1, 86400); break;
    case State: o.stateFile = value; break;
    case EepromInterval: o.eepromIntervalSeconds = number("eeprom-interval", value, 0, 3600); break;
    case EepromBudgetKey: o.eepromBudget = number("eeprom-budget", value, 1, 100000); break;
    case RtCycle: o.rtCycleSeconds = number("rt-cycle", value, 1, 3600); break;
    case DpsStep: o.dpsStepSeconds = number("dps-step", value, 1, 3600); break;
    case AsciiReplies:
        if (value != "plus" && value != "ok")
            throw OptionError("--ascii-replies: \"" + value + "\" is neither plus nor ok");
        o.asciiOk = value == "ok";
        break;
    case Allow: o.allow.push_back(parseBlock(value)); break;
    case ClientsPerAddress:
        o.clientsPerAddress = number("clients-per-address", value, 1, 64);
        break;
    case UdpQueryAllow: o.udpQueryAllow.push_back(parseBlock(value, "udp-query-allow")); break;
    case Config: o.config = value; break;
    case Verbose: o.verbose = true; break;
    case PasswordFile: o.httpPasswordFile = value; break;
    case TokenFile: o.httpTokenFile = value; break;
    case TlsCert: o.tlsCert = value; break;
    case TlsKey: o.tlsKey = value; break;
    case HttpHost: o.httpHosts.push_back(value); break;
    case HttpMaxClients: o.httpMaxClients = number("http-max-clients", value, 1, 65536); break;
    case HttpMaxPerAddress:
        o.httpMaxPerAddress = number("http-max-per-address", value, 1, 65536);
        break;
    case HttpIdle: o.httpIdleSeconds = number("http-idle", value, 15, 3600); break;
    case MetricsPublic: o.metricsPublic = true; break;
    case NowPlayingFormat: o.nowPlayingFormat = value; break;
    case PtyNames:
        if (value != "rds" && value != "rbds")
            throw OptionError("--pty-names: \"" + value + "\" is neither rds nor rbds");
        o.ptyNames = value;
        break;
    case HashPassword: o.hashPasswordUser = value; break;
    case Help: o.help = true; break;
    case Version: o.version = true; break;
    }
}

void parseArgs(DaemonOptions &o, const std::vector<std::string> &args, const std::string &where)
{
    std::vector<char *> argv{const_cast<char *>("quorveld")};
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    optind = 0; // getopt anew
    opterr = 0;
    int key;
    // getopt's state is global: options are read on one thread, the event loop's.
    // NOLINTNEXTLINE(concurrency-mt-unsafe)
    while ((key = getopt_long(static_cast<int>(argv.size() - 1), argv.data(), "", Options,
                              nullptr)) != -1) {
        if (key == '?' || key == ':') {
            const std::string arg = argv[optind - 1];
            std::string message = where;
            message.append(key == ':' || optopt ? arg + " needs a value" : "unknown option " + arg);
            throw OptionError(message);
        }
        apply(o, key, optarg ? optarg : "");
    }
    if (optind < static_cast<int>(argv.size() - 1))
        throw OptionError(where + "unexpected operand " + argv[optind]);
}

} // namespace

ListenAddress parseListenAddress(const std::string &text)
{
    const size_t colon = text.rfind(':');
    std::string host = colon == std::string::npos ? "" : text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    else if (host.find(':') != std::string::npos)
        host.clear(); // an IPv6 address needs its brackets
    boost::system::error_code error;
    ListenAddress listen{boost::asio::ip::make_address(host, error), 0};
    if (colon == std::string::npos || error)
        throw OptionError("\"" + text +
                          "\" is not ADDR:PORT (a numeric address; [ADDR]:PORT for IPv6)");
    listen.port = static_cast<unsigned short>(number("port", text.substr(colon + 1), 0, 65535));
    return listen;
}

void checkFiles(const DaemonOptions &options)
{
    checkRegularFile("follow", options.follow);
    checkRegularFile("state", options.stateFile);
}

DaemonOptions parseOptions(const std::vector<std::string> &args)
{
    DaemonOptions command;
    parseArgs(command, args, "");
    DaemonOptions options;
    if (!command.config.empty())
        parseArgs(options, configArgs(command.config), command.config + ": ");
    parseArgs(options, args, "");
    if (options.udpQueryAllow.empty())
        options.udpQueryAllow = loopbackBlocks();
    return options;
}

} // namespace qd
