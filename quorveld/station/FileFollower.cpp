#include "FileFollower.h"

#include "FieldError.h"
#include "Log.h"

namespace qd {

std::shared_ptr<FileFollower> FileFollower::start(boost::asio::io_context &io, Station &station,
                                                  const std::string &path)
{
    auto follower = std::make_shared<FileFollower>(io, station, path);
    follower->look();
    return follower;
}

FileFollower::FileFollower(boost::asio::io_context &io, Station &station, const std::string &path)
    : file_(path), station_(station), retry_(io)
{
    const int fd = file_.watch();
    if (fd < 0)
        logLine("cannot watch " + file_.directory() + ": looking at " + file_.path() +
                " every second");
    else
        events_.emplace(io, fd);
}

FileFollower::~FileFollower()
{
    try {
        close();
    } catch (const std::exception &) { // the loop is gone: nothing is left to cancel
    }
}

void FileFollower::close()
{
    closed_ = true;
    retry_.cancel();
    if (events_ && events_->is_open())
        events_->release(); // cancels the wait; file_ closes the descriptor
}

void FileFollower::look()
{
    try {
        const std::optional<std::string> text = file_.text();
        if (text && text != text_) {
            text_ = text;
            station_.nowPlaying({*text, {}, {}}, Protocol::File);
            logVerbose(file_.path() + ": RadioText \"" + *text + "\"");
        }
    } catch (const fields::Error &e) {
        logLine(e.message);
    }
    wait();
}

void FileFollower::wait()
{
    const auto then = [self = shared_from_this()](const boost::system::error_code &error) {
        if (error || self->closed_)
            return;
        if (!self->events_ || self->file_.changed())
            self->look();
        else
            self->wait();
    };
    if (events_) {
        events_->async_wait(boost::asio::posix::stream_descriptor::wait_read, then);
    } else {
        retry_.expires_after(std::chrono::seconds(1));
        retry_.async_wait(then);
    }
}

} // namespace qd
