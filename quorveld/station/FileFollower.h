// The now-playing file on the event loop: its first line becomes the RAM
// RadioText at start and whenever the file changes (inotify on its folder,
// else a look every second). Only a regular file is read, opened without
// waiting, and only its first line.
//
// The inotify descriptor belongs to the NowPlayingFile, which closes it; the
// loop's descriptor object only borrows it and gives it back unclosed.
// Pending handlers hold the follower; once closed, they do nothing.
#ifndef QUORVELD_FILE_FOLLOWER_H
#define QUORVELD_FILE_FOLLOWER_H

#include "NowPlayingFile.h"
#include "Station.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>

#include <memory>
#include <optional>
#include <string>

namespace qd {

class FileFollower : public std::enable_shared_from_this<FileFollower> {
public:
    // Reads the file now and follows it until close().
    static std::shared_ptr<FileFollower> start(boost::asio::io_context &io, Station &station,
                                               const std::string &path);
    FileFollower(boost::asio::io_context &io, Station &station, const std::string &path);
    ~FileFollower();
    FileFollower(const FileFollower &) = delete;
    FileFollower &operator=(const FileFollower &) = delete;

    void close();

private:
    void look();
    void wait();

    fields::NowPlayingFile file_;
    Station &station_;
    std::optional<boost::asio::posix::stream_descriptor> events_;
    boost::asio::steady_timer retry_;
    std::optional<std::string> text_;
    bool closed_ = false;
};

} // namespace qd

#endif
