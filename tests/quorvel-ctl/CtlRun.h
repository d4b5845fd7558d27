// Runs the real quorvel-ctl under the real quorvel-sim, as a user runs it, and
// gives what it printed, its exit status and the requests the board received
// (lines of quorvel-sim's --log).
#ifndef CTL_RUN_H
#define CTL_RUN_H

#include "ChildProcess.h"

struct CtlRun {
    int status = -1;
    std::string out, err;
    Requests requests;
};

// Runs quorvel-ctl with each of `commands` in turn against one simulated board
// (quorvel-sim with `simOptions`), standard input from /dev/null.
std::vector<CtlRun> runSession(const std::vector<Args> &commands, const Args &simOptions = {});
// Runs a shell script against one simulated board, quorvel-ctl's path in $CTL.
CtlRun runScript(const std::string &script, const Args &simOptions = {});

// quorvel-ctl running in the background under quorvel-sim.
class BackgroundCtl : public ChildProcess {
public:
    explicit BackgroundCtl(Args command, const Args &simOptions = {});
    // Waits (at most 20 s) until the board has received `count` requests, or
    // quorvel-ctl has written `error` to standard error; false if it has not.
    bool waitFor(size_t count, const std::string &error = "") const;
    // Sends the signal (0: none) to quorvel-sim, which passes it on, and waits
    // for the end: what quorvel-ctl printed and its exit status.
    CtlRun stop(int signal);
};

void writeFile(const std::string &path, const std::string &content);

#endif
