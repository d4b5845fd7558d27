// A program run under quorvel-sim, as a user or a station runs it:
// `quorvel-sim --log DIR/log SIMARGS -- COMMAND`, standard input from
// /dev/null, standard output and error in DIR/out and DIR/err. For tests that
// define QUORVEL_SIM.
#ifndef CHILD_PROCESS_H
#define CHILD_PROCESS_H

#include "TestDir.h"

#include <sys/types.h>

#include <string>
#include <vector>

using Args = std::vector<std::string>;

class ChildProcess {
public:
    ChildProcess(const TestDir &dir, const Args &simArgs, const Args &command);
    ~ChildProcess(); // a child still running gets SIGTERM, then wait()
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // quorvel-sim's request log from the `from`th line on.
    std::vector<std::string> requests(size_t from = 0) const;
    // To quorvel-sim, which passes it on.
    void signal(int signal) const;
    // To the program quorvel-sim runs, past the sim.
    void signalProgram(int signal) const;
    // The exit status (128 + N for signal N) once it ends, within `seconds`;
    // a child still running then fails the test, is killed with its
    // program, and gives -1.
    int wait(int seconds = 20);

private:
    pid_t program() const;
    std::string log_;
    pid_t pid_ = -1;
};

std::vector<std::string> lines(const std::string &text);
// A line of quorvel-sim's request log: "0x21 value=0x5445 index=0x5354 result=8".
std::string request(int code, int value = 0, int index = 0, int result = 8);

#endif
