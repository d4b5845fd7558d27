#include "RtFollow.h"

#include "BoardSession.h"
#include "CtlStatus.h"
#include "FieldValues.h"
#include "NowPlayingFile.h"
#include "SongText.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <system_error>

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
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigset_t stop, waiting;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, &waiting);
    sigdelset(&waiting, SIGINT);
    sigdelset(&waiting, SIGTERM);
    return waiting;
}

struct Follower {
    usb_dev_handle *board;
    const T_R_FieldDef &field;
    const fields::NowPlayingFile &file;
    fields::Charset charset;
    std::optional<std::string> written; // the board text last written
};

// Writes the file's text, cut and transliterated as quorveld does, unless it
// is the one last written.
void update(Follower &f)
{
    std::optional<std::string> text;
    try {
        text = f.file.text();
    } catch (const fields::Error &e) {
        printError(refusalMessage(e));
        return;
    }
    if (!text)
        return;
    const fields::SongText song = fields::songText(fields::decodeUtf8OrCp1252(*text),
                                                   fields::SongField::RadioText, f.charset);
    if (f.written == song.boardText)
        return;
    if (!song.changes.empty())
        printError("warning: " + std::string(f.field.Name) + ": " + song.changes);
    if (!writeField(f.board, f.field, song.boardText))
        throw CtlError{CtlRequestFailed, std::string(f.field.Name) + ": write failed"};
    f.written = song.boardText;
    const std::string shown = fields::fromBoardText(song.boardText, f.charset, f.field.Name);
    std::printf("wrote %s %s\n", f.field.Name, fields::quotedValue(f.field, shown).c_str());
    std::fflush(stdout);
}

} // namespace

int followRadioText(const CtlOptions &options, const T_R_FieldDef &field)
{
    fields::NowPlayingFile file(options.follow);
    const std::string directory = file.directory();
    struct stat status;
    if (stat(directory.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        throw CtlError{CtlFileError, directory + ": not a directory"};
    // A FIFO's writer waits for a reader, and this one only reads after a
    // change: it would never see one. Refused, as a device is.
    if (stat(file.path().c_str(), &status) == 0 && !S_ISREG(status.st_mode))
        throw CtlError{CtlFileError, file.path() + ": not a regular file"};

    const BoardHandle board = openBoard(options.device);
    const sigset_t waitMask = catchStopSignals();
    const int fd = file.watch();
    const bool watching = fd >= 0;
    if (!watching)
        printError(std::string("warning: cannot watch ") + directory + " (" +
                   std::generic_category().message(errno) + "): looking at " + file.path() +
                   " every second");

    Follower follower{board.get(), field, file, options.charset, std::nullopt};
    update(follower);
    const struct timespec interval {
        1, 0
    };
    while (!stopRequested) {
        struct pollfd events {
            fd, POLLIN, 0
        };
        const int ready = ppoll(watching ? &events : nullptr, watching ? 1 : 0,
                                watching ? nullptr : &interval, &waitMask);
        if (ready < 0 && errno != EINTR)
            throw CtlError{CtlFileError, std::string("waiting for changes: ") +
                                             std::generic_category().message(errno)};
        if ((ready > 0 && file.changed()) || (ready == 0 && !watching))
            update(follower);
    }
    return CtlOk;
}
