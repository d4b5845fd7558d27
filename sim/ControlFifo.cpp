#include "ControlFifo.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace sim {

namespace {

[[noreturn]] void fail(const std::string &path, const char *what)
{
    throw std::runtime_error(path + ": " + what + ": " + std::generic_category().message(errno));
}

} // namespace

ControlFifo::ControlFifo(const std::string &path, std::function<void(const std::string &)> onLine)
    : path_(path), onLine_(std::move(onLine))
{
    if (mkfifo(path.c_str(), 0600) == 0)
        made_ = true;
    else if (errno != EEXIST)
        fail(path, "making the control pipe");
    // Open for writing too, so that the pipe never reads as ended between writers.
    fifo_ = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fifo_ < 0)
        fail(path, "opening the control pipe");
    stop_ = eventfd(0, EFD_CLOEXEC);
    if (stop_ < 0) {
        close(fifo_);
        fail(path, "eventfd");
    }
    thread_ = std::thread([this] { run(); });
}

ControlFifo::~ControlFifo()
{
    const uint64_t one = 1;
    (void)!write(stop_, &one, sizeof one);
    thread_.join();
    close(stop_);
    close(fifo_);
    if (made_)
        unlink(path_.c_str());
}

void ControlFifo::run()
{
    std::string pending;
    for (;;) {
        pollfd fds[2] = {{fifo_, POLLIN, 0}, {stop_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        char buffer[256];
        const ssize_t n = read(fifo_, buffer, sizeof buffer);
        if (n <= 0)
            continue;
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;
             pending.erase(0, end + 1)) {
            std::string line = pending.substr(0, end);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!line.empty())
                onLine_(line);
        }
    }
}

} // namespace sim
