#include "NowPlayingFile.h"

#include "NowPlaying.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

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
    std::ifstream file(path_, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::ostringstream content;
    content << file.rdbuf();
    return nowPlayingText(content.str());
}

} // namespace fields
