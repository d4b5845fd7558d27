#include "NowPlayingFile.h"

#include "FieldError.h"
#include "NowPlaying.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace fields {

NowPlayingFile::NowPlayingFile(std::string path) : path_(std::move(path))
{
}

NowPlayingFile::~NowPlayingFile()
{
    if (fd_ >= 0)
        close(fd_);
}

std::string NowPlayingFile::directory() const
{
    const size_t slash = path_.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path_.substr(0, slash);
}

int NowPlayingFile::watch()
{
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0 && inotify_add_watch(fd_, directory().c_str(), IN_CLOSE_WRITE | IN_MOVED_TO) < 0) {
        close(fd_);
        fd_ = -1;
    }
    return fd_;
}

bool NowPlayingFile::changed()
{
    const std::string name = path_.substr(path_.find_last_of('/') + 1);
    alignas(struct inotify_event) char buffer[4096];
    bool concerned = false;
    ssize_t length;
    while ((length = read(fd_, buffer, sizeof buffer)) > 0) {
        for (ssize_t at = 0; at < length;) {
            const auto *event = reinterpret_cast<const struct inotify_event *>(buffer + at);
            concerned = concerned || (event->mask & IN_Q_OVERFLOW) ||
                        (event->len > 0 && name == event->name);
            at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
        }
    }
    return concerned;
}

std::optional<std::string> NowPlayingFile::text() const
{
    // Opening a FIFO or a device waits for its other end: never for a regular file.
    const int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        throw Error{{}, path_ + ": not a regular file"};
    }
    std::string line;
    char buffer[1024];
    while (line.size() < maxLineBytes && line.find('\n') == std::string::npos) {
        const ssize_t n = read(fd, buffer, std::min(sizeof buffer, maxLineBytes - line.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        line.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    if (line.size() >= maxLineBytes && line.find('\n') == std::string::npos) {
        // Cut: a character cut in two is left out.
        while (!line.empty() && (static_cast<unsigned char>(line.back()) & 0xC0) == 0x80)
            line.pop_back();
        if (!line.empty() && static_cast<unsigned char>(line.back()) >= 0xC0)
            line.pop_back();
    }
    return nowPlayingText(line);
}

} // namespace fields
