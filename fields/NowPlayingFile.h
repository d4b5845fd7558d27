// A "now playing" file, watched through its directory: playout software
// rewrites it (closed after writing, or renamed into place) at each song.
#ifndef FIELDS_NOW_PLAYING_FILE_H
#define FIELDS_NOW_PLAYING_FILE_H

#include <cstddef>
#include <optional>
#include <string>

namespace fields {

class NowPlayingFile {
public:
    explicit NowPlayingFile(std::string path);
    ~NowPlayingFile();
    NowPlayingFile(const NowPlayingFile &) = delete;
    NowPlayingFile &operator=(const NowPlayingFile &) = delete;

    const std::string &path() const { return path_; }
    std::string directory() const;

    // Starts watching the directory with inotify. Returns the descriptor to
    // wait on (non-blocking), or -1 with errno set.
    int watch();
    // Reads the events waiting on the descriptor; whether one concerns the file.
    bool changed();

    // The text the file asks for (nowPlayingText of its first line, of which
    // at most maxLineBytes are read); nothing while it is missing or
    // unreadable. Anything but a regular file (a FIFO, a device) is refused
    // without waiting for it (fields::Error).
    std::optional<std::string> text() const;
    static constexpr size_t maxLineBytes = 4096;

private:
    std::string path_;
    int fd_ = -1;
};

} // namespace fields

#endif
