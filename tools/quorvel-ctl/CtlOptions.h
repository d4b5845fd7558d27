// The command line of quorvel-ctl: a command, its operands and options, the
// options given anywhere on the line.
#ifndef CTL_OPTIONS_H
#define CTL_OPTIONS_H

#include "TextCodec.h"

#include <string>
#include <vector>

struct CtlOptions {
    std::string command; // probe, show, get, set, export, import, reset, rt
    std::vector<std::string> operands;
    std::string device; // --device BUS/DEV; empty: the first board found
    fields::Charset charset = fields::Charset::Cp1252;
    bool charsetGiven = false;
    std::string follow;  // rt --follow FILE
    bool json = false;   // show
    bool force = false;  // set, import, rt
    bool yes = false;    // reset
    bool dryRun = false; // import
    bool eeprom = false; // rt
    bool help = false;
    bool version = false;
};

// Refuses (CtlUsage) an unknown command or option, an option that does not
// apply to the command, and the wrong number of operands.
CtlOptions parseCommandLine(int argc, const char *const *argv);

struct DeviceLocation {
    int bus;
    int device;
};
// "BUS/DEV" as probe shows it: "001/007" or "1/7". Refuses (CtlUsage) others.
DeviceLocation parseDeviceLocation(const std::string &text);

extern const char *const usageText;

#endif
