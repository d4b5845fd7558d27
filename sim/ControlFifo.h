// Commands read from a named pipe while quorvel-sim's command runs, one a
// line, each handed over as it arrives (without its line ending).
#ifndef SIM_CONTROL_FIFO_H
#define SIM_CONTROL_FIFO_H

#include <functional>
#include <string>
#include <thread>

namespace sim {

class ControlFifo {
public:
    // Makes the pipe at `path` unless one is there; throws std::runtime_error.
    ControlFifo(const std::string &path, std::function<void(const std::string &)> onLine);
    ~ControlFifo(); // stops reading; a pipe it made is removed
    ControlFifo(const ControlFifo &) = delete;
    ControlFifo &operator=(const ControlFifo &) = delete;

private:
    void run();

    std::string path_;
    std::function<void(const std::string &)> onLine_;
    bool made_ = false;
    int fifo_ = -1;
    int stop_ = -1; // an eventfd
    std::thread thread_;
};

} // namespace sim

#endif
