#include "RtFollow.h"

#include "BoardSession.h"
#include "CtlStatus.h"
#include "FieldValues.h"
#include "NowPlaying.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

namespace {

volatile sig_atomic_t stopRequested = 0;

void onStopSignal(int)
{
    stopRequested = 1;
}

// SIGINT and SIGTERM blocked but while waiting, so that they end the wait and
// never a board request. Returns the mask to wait with.
sigset_t catchStopSignals()
{
    struct sigaction action{};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigset_t stop, waiting;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigprocmask(SIG_BLOCK, &stop, &waiting);
    sigdelset(&waiting, SIGINT);
    sigdelset(&waiting, SIGTERM);
    return waiting;
}

std::string directoryOf(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string &path)
{
    return path.substr(path.find_last_of('/') + 1);
}

// The text the file asks for; nothing while it is missing or unreadable.
std::optional<std::string> wantedText(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::ostringstream content;
    content << file.rdbuf();
    try {
        return nowPlayingText(content.str(), path);
    } catch (const CtlError &e) {
        printError(e.message);
        return std::nullopt;
    }
}

// Whether the inotify events waiting on fd concern the file.
bool fileEvent(int fd, const std::string &name)
{
    alignas(struct inotify_event) char buffer[4096];
    bool concerned = false;
    ssize_t length;
    while ((length = read(fd, buffer, sizeof buffer)) > 0) {
        for (ssize_t at = 0; at < length;) {
            const auto *event = reinterpret_cast<const struct inotify_event *>(buffer + at);
            concerned = concerned || (event->mask & IN_Q_OVERFLOW) ||
                        (event->len > 0 && name == event->name);
            at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
        }
    }
    return concerned;
}

struct Follower {
    usb_dev_handle *board;
    const T_R_FieldDef &field;
    const std::string &path;
    Charset charset;
    std::optional<std::string> written; // the board text last written
};

// Writes the file's text unless it is the one last written.
void update(Follower &f)
{
    const std::optional<std::string> text = wantedText(f.path);
    if (!text)
        return;
    CheckedValue value;
    try {
        value = checkValue(f.field, *text, f.charset, false);
    } catch (const CtlError &e) {
        printError(e.message);
        return;
    }
    if (f.written == value.boardText)
        return;
    if (!writeField(f.board, f.field, value.boardText))
        throw CtlError{CtlRequestFailed, std::string(f.field.Name) + ": write failed"};
    f.written = value.boardText;
    std::printf("wrote %s %s\n", f.field.Name, quotedValue(f.field, value.shown).c_str());
    std::fflush(stdout);
}

} // namespace

int followRadioText(const CtlOptions &options, const T_R_FieldDef &field)
{
    const std::string &path = options.follow;
    const std::string directory = directoryOf(path);
    struct stat status;
    if (stat(directory.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        throw CtlError{CtlFileError, directory + ": not a directory"};

    const BoardHandle board = openBoard(options.device);
    const sigset_t waitMask = catchStopSignals();
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    const bool watching =
        fd >= 0 && inotify_add_watch(fd, directory.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO) >= 0;
    if (!watching)
        printError(std::string("warning: cannot watch ") + directory + " (" + std::strerror(errno) +
                   "): looking at " + path + " every second");

    Follower follower{board.get(), field, path, options.charset, std::nullopt};
    update(follower);
    const std::string name = baseNameOf(path);
    const struct timespec interval{1, 0};
    while (!stopRequested) {
        struct pollfd events{fd, POLLIN, 0};
        const int ready = ppoll(watching ? &events : nullptr, watching ? 1 : 0,
                                watching ? nullptr : &interval, &waitMask);
        if (ready < 0 && errno != EINTR)
            throw CtlError{CtlFileError, std::string("waiting for changes: ") + std::strerror(errno)};
        if ((ready > 0 && fileEvent(fd, name)) || (ready == 0 && !watching))
            update(follower);
    }
    if (fd >= 0)
        close(fd);
    return CtlOk;
}
