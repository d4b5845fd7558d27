#include "Daemon.h"

#include "Conversations.h"
#include "HttpServer.h"
#include "Log.h"
#include "NowPlayingFile.h"

#include <boost/system/system_error.hpp>
#include <systemd/sd-daemon.h>

#include <csignal>
#include <filesystem>
#include <stdexcept>

namespace qd {

namespace {

WorkerOptions workerOptions(const DaemonOptions &o)
{
    WorkerOptions w;
    w.device = o.device;
    w.verifySeconds = o.verifySeconds;
    w.stateFile = o.stateFile;
    w.logger = logLine;
    return w;
}

StationOptions stationOptions(const DaemonOptions &o)
{
    StationOptions s{o.charset, o.rtCycleSeconds, o.dpsStepSeconds, o.nowPlayingFormat,
                     {},        o.ptyNames};
    if (!o.stateFile.empty()) // state.json: state.changes.json beside it
        s.changesFile = std::filesystem::path(o.stateFile).replace_extension(".changes.json");
    return s;
}

HttpOptions httpOptions(const DaemonOptions &o)
{
    HttpOptions h;
    for (const ListenAddress &where : o.http)
        h.listen.push_back(where.text());
    h.passwordFile = o.httpPasswordFile;
    h.tokenFile = o.httpTokenFile;
    h.tlsCert = o.tlsCert;
    h.tlsKey = o.tlsKey;
    h.hosts = o.httpHosts;
    h.limits.maxClients = o.httpMaxClients;
    h.limits.maxPerAddress = o.httpMaxPerAddress;
    h.limits.idle = std::chrono::seconds(o.httpIdleSeconds);
    h.metricsPublic = o.metricsPublic;
    return h;
}

bool sameListeners(const DaemonOptions &a, const DaemonOptions &b)
{
    return a.uecpTcp == b.uecpTcp && a.uecpUdp == b.uecpUdp && a.asciiTcp == b.asciiTcp &&
           a.asciiUdp == b.asciiUdp;
}

} // namespace

Daemon::Daemon(std::vector<std::string> args, DaemonOptions options)
    : args_(std::move(args)), options_(std::move(options)), worker_(workerOptions(options_)),
      station_(io_, worker_, stationOptions(options_)), uecpMode_(std::make_unique<UecpMode>()),
      allow_(options_.allow), signals_(io_, SIGTERM, SIGINT, SIGHUP), fileRetry_(io_),
      watchdog_(io_)
{
    setVerbose(options_.verbose);
}

Daemon::~Daemon() = default;

void Daemon::openListeners()
{
    listeners_.clear();
    const auto counter = [this](const std::string &name, int count) {
        station_.setClients(name, count);
    };
    const UecpAddresses addresses{options_.sites, options_.encoders};
    const struct {
        const char *kind;
        const std::vector<ListenAddress> &where;
        bool tcp;
        bool uecp;
    } kinds[] = {
        {"uecp-tcp", options_.uecpTcp, true, true},
        {"uecp-udp", options_.uecpUdp, false, true},
        {"ascii-tcp", options_.asciiTcp, true, false},
        {"ascii-udp", options_.asciiUdp, false, false},
    };
    for (const auto &kind : kinds) {
        for (const ListenAddress &where : kind.where) {
            ConversationFactory factory;
            if (kind.uecp)
                factory = [this, addresses, stream = kind.tcp] {
                    return uecpConversation(station_, *uecpMode_, addresses, stream);
                };
            else
                factory = [this, stream = kind.tcp] {
                    return asciiConversation(station_, options_.asciiOk, stream);
                };
            try {
                listeners_.push_back(
                    kind.tcp ? listenTcp(io_, kind.kind, where, factory, allow_, counter)
                             : listenUdp(io_, kind.kind, where, factory, allow_));
            } catch (const boost::system::system_error &e) {
                throw std::runtime_error(std::string(kind.kind) + " " + where.text() + ": " +
                                         e.code().message());
            }
            logLine("listening on " + listeners_.back()->name());
        }
    }
}

void Daemon::watchSignals()
{
    signals_.async_wait([this](const boost::system::error_code &error, int signal) {
        if (error)
            return;
        if (signal == SIGHUP) {
            reload();
            watchSignals();
            return;
        }
        logLine(std::string("stopping on ") + (signal == SIGTERM ? "SIGTERM" : "SIGINT"));
        sd_notify(0, "STOPPING=1");
        io_.stop();
    });
}

// What can change while running changes now; the board's options and the
// HTTP listeners at the next start.
void Daemon::reload()
{
    sd_notify(0, "RELOADING=1");
    DaemonOptions fresh;
    try {
        fresh = parseOptions(args_);
    } catch (const OptionError &e) {
        logLine(std::string("configuration not reloaded: ") + e.what());
        sd_notify(0, "READY=1");
        return;
    }
    const bool relisten = !sameListeners(fresh, options_);
    const bool refollow = fresh.follow != options_.follow;
    if (fresh.device != options_.device || fresh.verifySeconds != options_.verifySeconds ||
        fresh.stateFile != options_.stateFile || fresh.http != options_.http)
        logLine("--device, --verify, --state and the HTTP options take effect at the next start");
    fresh.device = options_.device;
    fresh.verifySeconds = options_.verifySeconds;
    fresh.stateFile = options_.stateFile;
    options_ = fresh; // in place: listeners and conversations keep their references
    allow_ = options_.allow;
    setVerbose(options_.verbose);
    station_.setOptions(stationOptions(options_));
    try {
        if (relisten)
            openListeners();
        if (refollow)
            follow();
    } catch (const std::exception &e) {
        logLine(e.what());
    }
    logLine("configuration reloaded");
    sd_notify(0, "READY=1");
}

void Daemon::follow()
{
    fileEvents_.reset();
    file_.reset();
    fileText_.reset();
    fileRetry_.cancel();
    if (options_.follow.empty())
        return;
    file_ = std::make_unique<fields::NowPlayingFile>(options_.follow);
    const int fd = file_->watch();
    if (fd < 0) {
        logLine("cannot watch " + file_->directory() + ": looking at " + file_->path() +
                " every second");
    } else {
        fileEvents_ = std::make_unique<boost::asio::posix::stream_descriptor>(io_, fd);
    }
    onFileChange();
}

void Daemon::onFileChange()
{
    const std::optional<std::string> text = file_->text();
    if (text && text != fileText_) {
        fileText_ = text;
        station_.nowPlaying({*text, {}, {}}, Protocol::File);
        logVerbose(file_->path() + ": RadioText \"" + *text + "\"");
    }
    waitForFile();
}

// Without inotify, the file is looked at every second.
void Daemon::waitForFile()
{
    const auto then = [this](const boost::system::error_code &error) {
        if (error)
            return;
        if (!fileEvents_ || file_->changed())
            onFileChange();
        else
            waitForFile();
    };
    if (fileEvents_) {
        fileEvents_->async_wait(boost::asio::posix::stream_descriptor::wait_read, then);
    } else {
        fileRetry_.expires_after(std::chrono::seconds(1));
        fileRetry_.async_wait(then);
    }
}

void Daemon::notifyStatus()
{
    const WorkerStatus status = station_.status();
    const std::string text = std::string("board ") + boardStateName(status.board) + ", " +
                             std::to_string(status.pendingWrites) + " pending writes, " +
                             std::to_string(status.eepromWrites) + " EEPROM writes";
    if (text == lastStatus_)
        return;
    lastStatus_ = text;
    sd_notify(0, ("STATUS=" + text).c_str());
}

void Daemon::watchdog()
{
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0)
        return;
    sd_notify(0, "WATCHDOG=1");
    watchdog_.expires_after(std::chrono::microseconds(usec / 2));
    watchdog_.async_wait([this](const boost::system::error_code &error) {
        if (!error)
            watchdog();
    });
}

void Daemon::run()
{
    station_.subscribe([this] { notifyStatus(); });
    worker_.start();
    openListeners();
    if (!options_.http.empty()) {
        // --allow as it is at each accept: a reload changes it for HTTP too.
        http_ = std::make_unique<HttpServer>(
            io_, station_, httpOptions(options_),
            [this](const boost::asio::ip::address &address) { return allowed(allow_, address); });
        http_->start();
    }
    follow();
    watchSignals();
    sd_notify(0, "READY=1");
    logLine("ready");
    watchdog();
    io_.run();
    if (http_)
        http_->stop();
    listeners_.clear();
    station_.saveChanges();
    worker_.stop();
    logLine("stopped");
}

} // namespace qd
