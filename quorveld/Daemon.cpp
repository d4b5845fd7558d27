#include "Daemon.h"

#include "HttpServer.h"

#include <boost/asio/post.hpp>
#include <boost/system/system_error.hpp>
#include <systemd/sd-daemon.h>

#include <csignal>
#include <filesystem>
#include <stdexcept>

namespace qd {

namespace {

// Repeats of a line within a minute of the last one written are counted.
constexpr std::chrono::seconds repeatQuiet{60};

StationOptions stationOptions(const DaemonOptions &o)
{
    StationOptions s{o.charset, o.rtCycleSeconds, o.dpsStepSeconds, o.nowPlayingFormat,
                     {},        o.ptyNames};
    if (!o.stateFile.empty()) // state.json: state.changes.json beside it
        s.changesFile = std::filesystem::path(o.stateFile).replace_extension(".changes.json");
    return s;
}

ListenerSettings listenerSettings(const DaemonOptions &o)
{
    ListenerSettings s{o.allow, {}, o.udpQueryAllow};
    s.limits.idle = std::chrono::seconds(o.idleSeconds);
    s.limits.maxPerAddress = o.clientsPerAddress;
    return s;
}

ConversationSettings conversationSettings(const DaemonOptions &o)
{
    return {o.asciiOk, o.sites, o.encoders};
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

} // namespace

Daemon::Daemon(std::vector<std::string> args, DaemonOptions options)
    : args_(std::move(args)), options_(std::move(options)), repeats_(repeatQuiet), flushTimer_(io_),
      worker_([this] {
          WorkerOptions w;
          w.device = options_.device;
          w.verifySeconds = options_.verifySeconds;
          w.stateFile = options_.stateFile;
          w.budget.interval = std::chrono::seconds(options_.eepromIntervalSeconds);
          w.budget.perDay = options_.eepromBudget;
          w.logger = logLine;
          w.repeating = [this](const std::string &kind, const std::string &line) {
              logRepeating(kind, line);
          };
          return w;
      }()),
      station_(io_, worker_, stationOptions(options_)),
      listenerSettings_(
          std::make_shared<LiveSettings<ListenerSettings>>(listenerSettings(options_))),
      conversationSettings_(
          std::make_shared<LiveSettings<ConversationSettings>>(conversationSettings(options_))),
      signals_(io_, SIGTERM, SIGINT, SIGHUP), watchdog_(io_)
{
    setVerbose(options_.verbose);
}

Daemon::~Daemon() = default;

void Daemon::logRepeating(const std::string &kind, const std::string &line)
{
    repeats_.log(kind, line);
    boost::asio::post(io_, [this] { flushLater(); });
}

// The limiter's counts go out when due, by a timer set for then: none runs
// while nothing is counted, so an idle daemon does not wake.
void Daemon::flushLater()
{
    const std::optional<LogLimiter::Clock::time_point> due = repeats_.due();
    if (!due || (flushing_ && flushTimer_.expiry() <= *due))
        return;
    flushing_ = true;
    flushTimer_.expires_at(*due); // a later wait ends as aborted
    flushTimer_.async_wait([this](const boost::system::error_code &error) {
        if (error)
            return;
        flushing_ = false;
        repeats_.flush();
        flushLater();
    });
}

// The listeners `o` asks for: those open already (the same kind and address
// as configured) kept with their sockets and clients, the others bound now.
// Throws std::runtime_error naming the first that cannot be bound; the ones
// bound so far are closed again and the running set is untouched.
std::vector<Daemon::Bound> Daemon::bindListeners(const DaemonOptions &o)
{
    const struct {
        const char *kind;
        const std::vector<ListenAddress> &where;
        bool tcp, uecp;
    } kinds[] = {
        {"uecp-tcp", o.uecpTcp, true, true},
        {"uecp-udp", o.uecpUdp, false, true},
        {"ascii-tcp", o.asciiTcp, true, false},
        {"ascii-udp", o.asciiUdp, false, false},
    };
    std::vector<Bound> next;
    std::vector<bool> kept(listeners_.size());
    for (const auto &kind : kinds) {
        for (const ListenAddress &where : kind.where) {
            next.push_back({kind.kind, where, nullptr});
            size_t i = 0;
            while (i < listeners_.size() &&
                   (kept[i] || listeners_[i].kind != kind.kind || listeners_[i].where != where))
                i++;
            if (i < listeners_.size()) {
                kept[i] = true;
                continue; // taken over in swapListeners()
            }
            ConversationFactory factory;
            if (kind.uecp)
                factory = [&station = station_, settings = conversationSettings_,
                           stream = kind.tcp] {
                    return uecpConversation(station, settings, stream);
                };
            else
                factory = [&station = station_, settings = conversationSettings_,
                           stream = kind.tcp] {
                    return asciiConversation(station, settings, stream);
                };
            const auto counter = [&station = station_](const std::string &name, int count) {
                station.setClients(name, count);
            };
            try {
                next.back().listener =
                    kind.tcp ? listenTcp(io_, kind.kind, where, factory, listenerSettings_, counter)
                             : listenUdp(io_, kind.kind, where, factory, listenerSettings_);
            } catch (const boost::system::system_error &e) {
                throw std::runtime_error(std::string(kind.kind) + " " + where.text() + ": " +
                                         e.code().message());
            }
        }
    }
    return next;
}

// Takes the kept listeners over into `next` and closes the others.
void Daemon::swapListeners(std::vector<Bound> next)
{
    for (Bound &bound : next) {
        if (bound.listener) {
            logLine("listening on " + bound.listener->name());
            continue;
        }
        for (Bound &old : listeners_)
            if (old.listener && old.kind == bound.kind && old.where == bound.where) {
                bound.listener = std::move(old.listener);
                break;
            }
    }
    for (const Bound &old : listeners_)
        if (old.listener)
            logLine("no longer listening on " + old.listener->name());
    listeners_ = std::move(next);
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

// All or nothing: the new configuration is read and checked and its new
// listeners bound before anything changes; on any failure the running one
// stays whole. The board's options and the HTTP listeners change at the next
// start.
void Daemon::reload()
{
    sd_notify(0, "RELOADING=1");
    DaemonOptions fresh;
    std::vector<Bound> next;
    try {
        fresh = parseOptions(args_);
        checkFiles(fresh);
        next = bindListeners(fresh);
    } catch (const std::exception &e) {
        reloadFailure_ = e.what();
        logLine("configuration not reloaded: " + reloadFailure_ + "; the running one stays");
        notifyStatus();
        sd_notify(0, "READY=1");
        return;
    }
    if (fresh.device != options_.device || fresh.verifySeconds != options_.verifySeconds ||
        fresh.stateFile != options_.stateFile || fresh.http != options_.http ||
        fresh.eepromIntervalSeconds != options_.eepromIntervalSeconds ||
        fresh.eepromBudget != options_.eepromBudget)
        logLine("--device, --verify, --state, --eeprom-interval, --eeprom-budget and the HTTP "
                "options take effect at the next start");
    fresh.device = options_.device;
    fresh.verifySeconds = options_.verifySeconds;
    fresh.stateFile = options_.stateFile;
    fresh.eepromIntervalSeconds = options_.eepromIntervalSeconds;
    fresh.eepromBudget = options_.eepromBudget;
    fresh.http = options_.http;
    listenerSettings_->replace(listenerSettings(fresh));
    conversationSettings_->replace(conversationSettings(fresh));
    swapListeners(std::move(next));
    for (const Bound &bound : listeners_)
        bound.listener->dropDisallowed();
    if (fresh.follow != options_.follow)
        follow(fresh.follow);
    setVerbose(fresh.verbose);
    station_.setOptions(stationOptions(fresh));
    options_ = std::move(fresh);
    reloadFailure_.clear();
    logLine("configuration reloaded");
    notifyStatus();
    sd_notify(0, "READY=1");
}

void Daemon::follow(const std::string &path)
{
    if (follower_)
        follower_->close();
    follower_.reset();
    if (!path.empty())
        follower_ = FileFollower::start(io_, station_, path);
}

void Daemon::notifyStatus()
{
    const WorkerStatus status = station_.status();
    std::string text = std::string("board ") + boardStateName(status.board) + ", " +
                       std::to_string(status.pendingWrites) + " pending writes, " +
                       std::to_string(status.eepromWrites) + " EEPROM writes";
    if (status.stateUnsaved)
        text += ", state not saved";
    if (!reloadFailure_.empty())
        text += "; configuration not reloaded: " + reloadFailure_;
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
    checkFiles(options_);
    station_.subscribe([this] { notifyStatus(); });
    worker_.start();
    swapListeners(bindListeners(options_));
    if (!options_.http.empty()) {
        // --allow as it is at each accept: a reload changes it for HTTP too.
        http_ = std::make_unique<HttpServer>(
            io_, station_, httpOptions(options_),
            [settings = listenerSettings_](const boost::asio::ip::address &address) {
                return allowed(settings->get()->allow, address);
            });
        http_->start();
    }
    follow(options_.follow);
    watchSignals();
    sd_notify(0, "READY=1");
    logLine("ready");
    watchdog();
    io_.run();
    follow({});
    if (http_)
        http_->stop();
    listeners_.clear();
    station_.saveChanges();
    worker_.stop(); // and the state file's last save
    repeats_.flush(LogLimiter::Clock::now() + repeatQuiet);
    logLine("stopped");
}

} // namespace qd
