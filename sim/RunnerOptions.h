// Command line of quorvel-sim.
#ifndef SIM_RUNNER_OPTIONS_H
#define SIM_RUNNER_OPTIONS_H

#include "BoardTimeline.h"
#include "SimBoard.h"

#include <string>
#include <vector>

namespace sim {

struct RunnerOptions {
    bool board = true;
    bool extraDevice = false;
    std::string logFile;
    std::string controlFifo;
    std::vector<Fault> faults;
    Timeline timeline;
    int stringError = 0;
    std::vector<std::string> command;
};

struct ParsedCommandLine {
    RunnerOptions options;
    bool help = false;
    std::string error; // non-empty: a usage error
};

ParsedCommandLine parseCommandLine(int argc, const char *const *argv);

extern const char *const usageText;

} // namespace sim

#endif
