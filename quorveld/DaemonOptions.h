// quorveld's options, from the command line and from a configuration file
// that holds the same options, one per line.
#ifndef QUORVELD_DAEMON_OPTIONS_H
#define QUORVELD_DAEMON_OPTIONS_H

#include "Addresses.h"
#include "TextCodec.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace qd {

struct DaemonOptions {
    std::vector<ListenAddress> uecpTcp, uecpUdp, asciiTcp, asciiUdp, http;
    std::string follow;
    std::vector<int> sites{0}, encoders{0};
    std::string device;
    fields::Charset charset = fields::Charset::Rds;
    int verifySeconds = 60;
    int idleSeconds = 600; // --idle-timeout
    std::string stateFile;
    // A board's EEPROM of this kind is good for about 100,000 writes a cell:
    // 24 a day is 87,660 in ten years.
    int eepromIntervalSeconds = 10;
    int eepromBudget = 24; // writes a field per rolling day
    int rtCycleSeconds = 10;
    int dpsStepSeconds = 2;
    bool asciiOk = false; // --ascii-replies ok
    std::vector<AddressBlock> allow;
    int clientsPerAddress = 8; // of a TCP listener's 64
    // UDP clients whose replies may be larger than their datagrams (others'
    // are not sent: a forged source would make the daemon an amplifier);
    // loopback when none is given.
    std::vector<AddressBlock> udpQueryAllow;
    std::string config;
    bool verbose = false;
    // HTTP
    std::string httpPasswordFile, httpTokenFile, tlsCert, tlsKey;
    std::vector<std::string> httpHosts;
    int httpMaxClients = 256, httpMaxPerAddress = 8, httpIdleSeconds = 30;
    bool metricsPublic = false;
    std::string nowPlayingFormat = "ARTIST - TITLE";
    std::string ptyNames = "rds"; // the page's PTY table: "rds" or "rbds"
    // Actions instead of running
    bool help = false, version = false;
    std::string hashPasswordUser; // --hash-password USER
};

// A bad option or value; the message names it.
struct OptionError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

extern const char *const usageText;

// The configuration file's options (when --config names one; read anew at
// each call) first, then the command line's: a later value replaces an
// earlier one, lists add up.
DaemonOptions parseOptions(const std::vector<std::string> &args);

// The files quorveld opens (--follow, --state) are regular files or missing:
// anything else is refused (OptionError).
void checkFiles(const DaemonOptions &options);

ListenAddress parseListenAddress(const std::string &text);

} // namespace qd

#endif
