// A program run under quorvel-sim, as a user or a station runs it, in a test
// directory of its own: `quorvel-sim --log DIR/log SIMARGS -- COMMAND`,
// standard input from /dev/null, standard output and error in DIR/out and
// DIR/err. For tests that define QUORVEL_SIM.
#ifndef CHILD_PROCESS_H
#define CHILD_PROCESS_H

#include "Requests.h"
#include "TestDir.h"

#include <sys/types.h>

#include <string>
#include <vector>

using Args = std::vector<std::string>;

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess(); // a child still running gets SIGTERM, then wait()
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    void start(const Args &simArgs, const Args &command);
    std::string path(const std::string &name) const { return dir_.path(name); }
    std::string out() const { return readFile(path("out")); }
    std::string err() const { return readFile(path("err")); }
    // quorvel-sim's request log from the `from`th line on.
    Requests requests(size_t from = 0) const;
    // To quorvel-sim, which passes it on.
    void signal(int signal) const;
    // To the program quorvel-sim runs, past the sim.
    void signalProgram(int signal) const;
    // The exit status (128 + N for signal N) once it ends, within `seconds`;
    // a child still running then fails the test, is killed with its
    // program, and gives -1.
    int wait(int seconds = 20);

    // The program quorvel-sim runs; -1 when there is none.
    pid_t program() const;

private:
    TestDir dir_;
    pid_t pid_ = -1;
};

std::vector<std::string> lines(const std::string &text);
// The requests of quorvel-sim's log: lines "0x21 value=0x5445 index=0x5354 result=8".
Requests parseLog(const std::string &log);

#endif
