// The daemon: one event loop with the listeners, the now-playing file and the
// station, one board worker; SIGTERM and SIGINT end it cleanly, SIGHUP reads
// the configuration again as a transaction; systemd hears of it through the
// notify protocol.
#ifndef QUORVELD_DAEMON_H
#define QUORVELD_DAEMON_H

#include "BoardWorker.h"
#include "Conversations.h"
#include "DaemonOptions.h"
#include "FileFollower.h"
#include "Listeners.h"
#include "Log.h"
#include "Station.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include <memory>
#include <string>
#include <vector>

namespace qd {

class HttpServer;

class Daemon {
public:
    // args: the command line without the program's name, kept for SIGHUP.
    Daemon(std::vector<std::string> args, DaemonOptions options);
    ~Daemon();
    // Runs until SIGTERM or SIGINT; throws std::runtime_error when a listener
    // cannot be opened at start.
    void run();

    // A line that may repeat without end (a board that keeps failing,
    // refused clients, failed logins): the first of its kind written, the
    // repeats counted (LogLimiter). From any thread.
    void logRepeating(const std::string &kind, const std::string &line);

private:
    struct Bound {
        std::string kind; // "uecp-tcp"...
        ListenAddress where;
        std::unique_ptr<Listener> listener;
    };

    std::vector<Bound> bindListeners(const DaemonOptions &o);
    void swapListeners(std::vector<Bound> next);
    void watchSignals();
    void reload();
    void follow(const std::string &path);
    void flushLater();
    void notifyStatus();
    void watchdog();

    std::vector<std::string> args_;
    DaemonOptions options_;
    boost::asio::io_context io_;
    LogLimiter repeats_;
    boost::asio::steady_timer flushTimer_;
    bool flushing_ = false;
    BoardWorker worker_;
    Station station_;
    std::shared_ptr<LiveSettings<ListenerSettings>> listenerSettings_;
    std::shared_ptr<LiveSettings<ConversationSettings>> conversationSettings_;
    std::shared_ptr<UecpMode> uecpMode_;
    std::vector<Bound> listeners_;
    std::unique_ptr<HttpServer> http_;
    boost::asio::signal_set signals_;
    std::shared_ptr<FileFollower> follower_;
    boost::asio::steady_timer watchdog_;
    std::string reloadFailure_; // why the last reload was refused; empty once one succeeds
    std::string lastStatus_;
};

} // namespace qd

#endif
