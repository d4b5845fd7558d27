// The daemon: one event loop with the listeners, the now-playing file and the
// station, one board worker; SIGTERM and SIGINT end it cleanly, SIGHUP reads
// the configuration again; systemd hears of it through the notify protocol.
#ifndef QUORVELD_DAEMON_H
#define QUORVELD_DAEMON_H

#include "BoardWorker.h"
#include "DaemonOptions.h"
#include "Listeners.h"
#include "Station.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fields {
class NowPlayingFile;
} // namespace fields

namespace qd {

class HttpServer;
struct UecpMode;

class Daemon {
public:
    // args: the command line without the program's name, kept for SIGHUP.
    Daemon(std::vector<std::string> args, DaemonOptions options);
    ~Daemon();
    // Runs until SIGTERM or SIGINT; throws std::runtime_error when a listener
    // cannot be opened at start.
    void run();

private:
    void openListeners();
    void watchSignals();
    void reload();
    void follow();
    void onFileChange();
    void waitForFile();
    void notifyStatus();
    void watchdog();

    std::vector<std::string> args_;
    DaemonOptions options_;
    boost::asio::io_context io_;
    BoardWorker worker_;
    Station station_;
    std::unique_ptr<UecpMode> uecpMode_;
    std::vector<AddressBlock> allow_;
    std::vector<std::unique_ptr<Listener>> listeners_;
    std::unique_ptr<HttpServer> http_;
    boost::asio::signal_set signals_;
    std::unique_ptr<fields::NowPlayingFile> file_;
    std::unique_ptr<boost::asio::posix::stream_descriptor> fileEvents_;
    std::optional<std::string> fileText_;
    boost::asio::steady_timer fileRetry_;
    boost::asio::steady_timer watchdog_;
    std::string lastStatus_;
};

} // namespace qd

#endif
