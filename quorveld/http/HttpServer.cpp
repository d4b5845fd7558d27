#include "HttpServer.h"

#include "DaemonOptions.h"
#include "HttpParser.h"
#include "Log.h"
#include "Station.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>

namespace qd {

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;
using ErrorCode = boost::system::error_code;

// After a reply that closes the connection, what the client still sends is
// read and dropped, this much and this long at most, so that it reads the
// reply rather than a reset.
constexpr size_t LingerBytes = size_t{1024} * 1024;
constexpr auto LingerTime = std::chrono::seconds(2);
// A failed accept (out of descriptors) is tried again after a pause that
// doubles up to the longest.
constexpr auto FirstPause = std::chrono::milliseconds(50);
constexpr auto LongestPause = std::chrono::milliseconds(1000);
// Event streams: how soon a client reconnects when one ends.
constexpr std::string_view StreamStart = "retry: 5000\n\n";

// A client address as the caps and the login throttle count it: IPv4 whole,
// IPv6 by its /64, which one site holds as easily as one address.
std::string addressKey(const net::ip::address &address)
{
    if (address.is_v4())
        return address.to_string();
    const net::ip::address_v6 v6 = address.to_v6();
    if (v6.is_v4_mapped())
        return net::ip::make_address_v4(net::ip::v4_mapped, v6).to_string();
    net::ip::address_v6::bytes_type bytes = v6.to_bytes();
    std::fill(bytes.begin() + 8, bytes.end(), 0);
    return net::ip::address_v6(bytes).to_string() + "/64";
}

std::string peerText(const net::ip::address &address)
{
    return address.is_v6() && !address.to_v6().is_v4_mapped() ? "[" + address.to_string() + "]"
                                                              : addressKey(address);
}

std::string metric(const std::string &name, const char *type, const char *help,
                   const std::string &samples)
{
    return "# HELP " + name + " " + help + "\n# TYPE " + name + " " + type + "\n" + samples;
}

std::string sample(const std::string &name, uint64_t value, const std::string &labels = {})
{
    return name + (labels.empty() ? "" : "{" + labels + "}") + " " + std::to_string(value) + "\n";
}

// Password checks, off the event loop: one at a time on a thread of their
// own, at most `queue` waiting. Each outcome goes to the event loop.
class LoginWorker {
public:
    LoginWorker(net::io_context &io, size_t queue)
        : io_(io), queue_(queue), thread_([this] { run(); })
    {
    }
    ~LoginWorker() { stop(); }
    LoginWorker(const LoginWorker &) = delete;
    LoginWorker &operator=(const LoginWorker &) = delete;

    // False, and nothing done, when the queue is full.
    bool submit(std::function<bool()> check, std::function<void(bool)> done)
    {
        {
            const std::lock_guard lock(mutex_);
            if (stopping_ || jobs_.size() >= queue_)
                return false;
            jobs_.emplace_back(std::move(check), std::move(done));
        }
        wake_.notify_one();
        return true;
    }

    // Waits for the check under way; the waiting ones are dropped.
    void stop()
    {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable())
            thread_.join();
        jobs_.clear();
    }

private:
    void run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_)
                return;
            auto [check, done] = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            bool passed = false;
            try {
                passed = check();
            } catch (const std::exception &) {
                passed = false; // a derivation that failed lets nobody in
            }
            net::post(io_, [done = std::move(done), passed] { done(passed); });
            lock.lock();
        }
    }

    net::io_context &io_;
    const size_t queue_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::pair<std::function<bool()>, std::function<void(bool)>>> jobs_;
    bool stopping_ = false;
    std::thread thread_;
};

struct Listening {
    std::string name; // "http 127.0.0.1:8080"
    HttpPolicy policy;
    int clients = 0;
};

class Connection {
public:
    enum class State {
        Waiting, // for a request's first byte
        Reading, // the rest of it
        Busy,    // its answer, or sending it
        Streaming,
    };

    Connection(std::shared_ptr<HttpServer::Door> door, Listening &listening,
               const net::ip::address &peer);
    virtual ~Connection() { leave(); }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    virtual void close() = 0;
    // An event stream's next bytes.
    virtual void push(const std::shared_ptr<const std::string> &bytes) = 0;

    State state = State::Waiting;
    Clock::time_point since = Clock::now();
    const std::string key; // addressKey()
    const std::string peer;

protected:
    void leave();

    std::shared_ptr<HttpServer::Door> door_;
    Listening &listening_;
    bool left_ = false;
};

} // namespace

struct HttpServer::Door : std::enable_shared_from_this<Door> {
    Door(net::io_context &io, Station &station, const HttpLimits &limits)
        : io(io), station(&station), limits(limits), flushTimer(io), eventTimer(io),
          heartbeatTimer(io)
    {
    }

    void admit(tcp::socket socket, Listening &listening);
    bool evict();
    void report(Listening &listening) const
    {
        if (station)
            station->setClients(listening.name, listening.clients);
    }
    // A line that may repeat without end, rate-limited by kind.
    void note(const std::string &kind, const std::string &line);
    void armFlush();
    void stationChanged();
    void sendEvent();
    void armHeartbeat();
    std::string metricsText() const;

    net::io_context &io;
    Station *station; // none once stopped
    const HttpLimits limits;
    AddressCheck allowed;
    std::optional<Credentials> password;
    std::optional<Token> token;
    std::optional<net::ssl::context> tls;
    std::optional<LoginWorker> logins; // after the password: stopped before it goes
    LoginThrottle throttle;
    std::deque<Listening> listenings;
    std::set<Connection *> connections;
    std::map<std::string, int> perAddress;
    int streams = 0;
    LogLimiter log;
    net::steady_timer flushTimer, eventTimer, heartbeatTimer;
    bool flushArmed = false, noted = false, eventArmed = false, heartbeatArmed = false;
    Clock::time_point lastEvent;
    struct {
        uint64_t notAllowed = 0, perAddress = 0, full = 0, evicted = 0, timedOut = 0;
        uint64_t failedLogins = 0, throttled = 0, busy = 0;
    } counts;
};

namespace {

using Door = HttpServer::Door;

Connection::Connection(std::shared_ptr<Door> door, Listening &listening,
                       const net::ip::address &address)
    : key(addressKey(address)), peer(peerText(address)), door_(std::move(door)),
      listening_(listening)
{
    door_->connections.insert(this);
    door_->perAddress[key]++;
    listening_.clients++;
    door_->report(listening_);
}

void Connection::leave()
{
    if (left_)
        return;
    left_ = true;
    door_->connections.erase(this);
    if (--door_->perAddress[key] <= 0)
        door_->perAddress.erase(key);
    if (state == State::Streaming)
        door_->streams--;
    listening_.clients--;
    door_->report(listening_);
}

// Runs on the event loop: what the station answers to an action.
struct Perform {
    Station &station;
    const Door &door;
    const Origin &origin;

    HttpResponse operator()(const HttpResponse &response) const { return response; }
    HttpResponse operator()(const CheckLogin &) const { return errorReply(500, "internal error"); }
    HttpResponse operator()(const OpenEvents &) const { return errorReply(500, "internal error"); }
    HttpResponse operator()(const ReadFields &) const
    {
        return fieldsReply(station.fieldsJson(Station::Values::Held),
                           station.fieldsJson(Station::Values::Pending),
                           station.fieldsJson(Station::Values::Asked), station.version(),
                           station.fieldsJson(Station::Values::LastKnown));
    }
    HttpResponse operator()(const ReadField &read) const
    {
        return fieldReply(read.name, station.fieldsJson(Station::Values::Held),
                          station.fieldsJson(Station::Values::Pending),
                          station.fieldsJson(Station::Values::Asked));
    }
    HttpResponse operator()(const ReadStatus &) const { return statusReply(station.statusJson()); }
    HttpResponse operator()(const ReadChanges &) const
    {
        return changesReply(station.changesJson());
    }
    HttpResponse operator()(const ReadMetrics &) const
    {
        return metricsReply(station.metricsText() + door.metricsText());
    }
    // The values a client saw and the set are checked and made in one turn
    // of the loop: nothing comes between.
    HttpResponse operator()(const SetFields &set) const
    {
        std::vector<Refusal> refusals;
        const std::vector<Conflict> conflicts = station.conflicts(set.seen, refusals);
        if (!refusals.empty() || !conflicts.empty()) {
            station.countRefused(origin);
            if (!refusals.empty())
                return outcome(refusals);
            std::vector<ConflictItem> items;
            items.reserve(conflicts.size());
            for (const Conflict &c : conflicts)
                items.push_back(
                    {c.field, c.value, c.setBy.door, c.setBy.client, c.setBy.user, c.setBy.time});
            return conflictReply(items);
        }
        return outcome(station.set(set.values, origin, set.drops,
                                   set.authenticated ? Asker::Operator : Asker::Client));
    }
    HttpResponse operator()(const SetSong &song) const
    {
        station.nowPlaying({song.text, song.artist, song.title}, origin);
        return outcome({});
    }

    HttpResponse outcome(const std::vector<Refusal> &refusals) const
    {
        if (refusals.empty())
            return acceptedReply(station.fieldsJson(Station::Values::Pending), station.version());
        std::vector<std::pair<std::string, std::string>> named;
        named.reserve(refusals.size());
        std::optional<std::chrono::seconds> retryAfter;
        for (const Refusal &refusal : refusals) {
            named.emplace_back(refusal.field, refusal.message);
            if (refusal.retryAfter)
                retryAfter =
                    std::max(retryAfter.value_or(*refusal.retryAfter), *refusal.retryAfter);
        }
        return retryAfter ? overBudgetReply(named, retryAfter->count()) : refusedReply(named);
    }
};

// The fields' version and the board's state: a page reloads what changed.
std::string eventText(const Station &station)
{
    return "event: change\ndata: {\"version\":" + std::to_string(station.version()) +
           ",\"board\":\"" + boardStateName(station.board()) + "\"}\n\n";
}

using PlainStream = beast::tcp_stream;
using TlsStream = beast::ssl_stream<beast::tcp_stream>;

template <class Stream>
class Session : public Connection, public std::enable_shared_from_this<Session<Stream>> {
public:
    static constexpr bool Tls = std::is_same_v<Stream, TlsStream>;

    Session(std::shared_ptr<Door> door, Listening &listening, tcp::socket socket,
            const net::ip::address &peer)
        : Connection(std::move(door), listening, peer), stream_(makeStream(std::move(socket)))
    {
        ErrorCode error;
        local_ = lowest().socket().local_endpoint(error).address().to_string();
    }

    void start()
    {
        lowest().expires_after(door_->limits.deadline);
        if constexpr (Tls)
            stream_.async_handshake(net::ssl::stream_base::server,
                                    [self = this->shared_from_this()](ErrorCode error) {
                                        if (error)
                                            return self->failed(error);
                                        self->waitForRequest(true);
                                    });
        else
            waitForRequest(true);
    }

    void close() override
    {
        if (closed_)
            return;
        closed_ = true;
        leave();
        ErrorCode ignored;
        lowest().socket().shutdown(tcp::socket::shutdown_both, ignored);
        lowest().close();
    }

    void push(const std::shared_ptr<const std::string> &bytes) override
    {
        if (state != State::Streaming || closed_)
            return;
        if (sending_)
            waiting_ = bytes;
        else
            send(bytes);
    }

private:
    Stream makeStream(tcp::socket socket)
    {
        if constexpr (Tls)
            return Stream(std::move(socket), *door_->tls);
        else
            return Stream(std::move(socket));
    }

    beast::tcp_stream &lowest() { return beast::get_lowest_layer(stream_); }

    // The first byte of a request, under the idle time on a kept-alive
    // connection, under the deadline from the accept on a new one.
    void waitForRequest(bool first)
    {
        state = State::Waiting;
        since = Clock::now();
        if (buffer_.size() > 0)
            return readRequest(first);
        if (!first)
            lowest().expires_after(door_->limits.idle);
        stream_.async_read_some(buffer_.prepare(512), [self = this->shared_from_this(),
                                                       first](ErrorCode error, size_t n) {
            if (error)
                return self->failed(error);
            self->buffer_.commit(n);
            self->readRequest(first);
        });
    }

    void readRequest(bool first)
    {
        state = State::Reading;
        if (!first)
            lowest().expires_after(door_->limits.deadline);
        parser_.emplace(HeadLimits{door_->limits.headBytes, door_->limits.headLines, MaxHttpBody});
        http::async_read_header(
            stream_, buffer_, *parser_, [self = this->shared_from_this()](ErrorCode error, size_t) {
                if (error)
                    return self->failed(error);
                if (!self->parser_->expectsContinue())
                    return self->readBody();
                static const std::string proceed = "HTTP/1.1 100 Continue\r\n\r\n";
                net::async_write(self->stream_, net::buffer(proceed),
                                 [self](ErrorCode error, size_t) {
                                     if (error)
                                         return self->failed(error);
                                     self->readBody();
                                 });
            });
    }

    void readBody()
    {
        if (parser_->is_done())
            return handle();
        http::async_read(stream_, buffer_, *parser_,
                         [self = this->shared_from_this()](ErrorCode error, size_t) {
                             if (error)
                                 return self->failed(error);
                             self->handle();
                         });
    }

    // A read or write that failed: a parse error is answered, the rest closes.
    void failed(const ErrorCode &error)
    {
        if (closed_)
            return;
        if (error == beast::error::timeout) {
            if (state == State::Reading || (state == State::Waiting && firstRequest_)) {
                door_->counts.timedOut++;
                door_->note("deadline",
                            "http: closed a client whose request did not arrive in time, " + peer);
            }
            return close();
        }
        if (error.category() == http::make_error_code(http::error::header_limit).category() &&
            error != http::error::end_of_stream && error != http::error::partial_message) {
            const int status = statusOf(error);
            return reply(
                errorReply(
                    status,
                    status == 431
                        ? "the request head is over " + std::to_string(door_->limits.headBytes) +
                              " bytes or " + std::to_string(door_->limits.headLines) + " lines"
                    : status == 413 ? "the body is over " + std::to_string(MaxHttpBody) + " bytes"
                                    : "malformed request: " + error.message()),
                false);
        }
        close();
    }

    void handle()
    {
        firstRequest_ = false;
        state = State::Busy;
        lowest().expires_never();
        buffer_.shrink_to_fit();
        request_ = std::move(parser_->request());
        request_.localAddress = local_;
        keepAlive_ = parser_->keep_alive();
        version_ = parser_->http11() ? 11 : 10;
        head_ = request_.method == "HEAD";
        parser_.reset();
        decideAndAct();
    }

    // Nothing a request's handling throws reaches the event loop: it is
    // answered 500 and logged.
    void decideAndAct()
    {
        HttpAction action;
        bool failed = false;
        try {
            action = decide(request_, listening_.policy);
            if (const auto *refusal = std::get_if<HttpResponse>(&action)) {
                if (refusal->status >= 400 && isChange(request_) && door_->station)
                    door_->station->countRefused(Protocol::Http);
            } else if (!std::holds_alternative<CheckLogin>(action) &&
                       !std::holds_alternative<OpenEvents>(action)) {
                const Origin origin{Protocol::Http, peer, userOf(request_, listening_.policy)};
                action = door_->station
                             ? std::visit(Perform{*door_->station, *door_, origin}, action)
                             : errorReply(503, "the daemon is stopping");
            }
        } catch (const std::exception &e) {
            door_->note("internal", std::string("http: a request failed: ") + e.what());
            action = errorReply(500, "internal error");
            failed = true;
        }
        if (std::holds_alternative<CheckLogin>(action))
            return checkLogin();
        if (std::holds_alternative<OpenEvents>(action))
            return openStream();
        reply(std::get<HttpResponse>(action), !failed);
    }

    void checkLogin()
    {
        const auto wait = door_->throttle.wait(key, Clock::now());
        if (wait.count() > 0) {
            door_->counts.throttled++;
            HttpResponse refused =
                errorReply(429, "too many failed logins from this address: try again in " +
                                    std::to_string(wait.count()) + " s");
            refused.headers.emplace_back("Retry-After", std::to_string(wait.count()));
            return reply(refused, true);
        }
        const auto found = request_.headers.find("Authorization");
        const std::string authorization = found == request_.headers.end() ? "" : found->second;
        const Credentials *password = &*door_->password;
        auto self = this->shared_from_this();
        if (!door_->logins->submit(
                [password, authorization] { return password->verify(authorization); },
                [self, authorization](bool passed) { self->loggedIn(passed, authorization); })) {
            door_->counts.busy++;
            HttpResponse busy =
                errorReply(503, "too many password checks waiting: try again in a second");
            busy.headers.emplace_back("Retry-After", "1");
            reply(busy, true);
        }
    }

    void loggedIn(bool passed, const std::string &authorization)
    {
        if (closed_)
            return;
        if (passed) {
            door_->throttle.succeeded(key);
        } else {
            door_->throttle.failed(key, Clock::now());
            door_->counts.failedLogins++;
            door_->note("login " + peer, "http: failed login as \"" +
                                             Credentials::userOf(authorization) + "\" from " +
                                             peer);
        }
        request_.login = passed ? Login::Verified : Login::Failed;
        decideAndAct();
    }

    void openStream()
    {
        if (door_->streams >= door_->limits.maxStreams)
            return reply(errorReply(503, "too many event streams: try again later"), false);
        door_->streams++;
        state = State::Streaming;
        door_->armHeartbeat();
        std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n";
        for (const auto &[name, value] : commonHeaders())
            head.append(name).append(": ").append(value).append("\r\n");
        head += "Connection: close\r\n\r\n";
        head += StreamStart;
        if (door_->station)
            head += eventText(*door_->station);
        // A stream's client sends nothing more: this read, pending all along
        // and without a deadline, holds the session and ends it when the
        // client goes or speaks. Each write has a deadline of its own.
        lowest().expires_never();
        buffer_.consume(buffer_.size());
        stream_.async_read_some(buffer_.prepare(1), [self = this->shared_from_this()](
                                                        ErrorCode, size_t) { self->close(); });
        send(std::make_shared<const std::string>(std::move(head)));
    }

    // An event stream's bytes, one write at a time; what comes meanwhile
    // waits, the latest only.
    void send(const std::shared_ptr<const std::string> &bytes)
    {
        sending_ = true;
        lowest().expires_after(door_->limits.sendTime);
        net::async_write(stream_, net::buffer(*bytes),
                         [self = this->shared_from_this(), bytes](ErrorCode error, size_t) {
                             self->sending_ = false;
                             if (error)
                                 return self->close();
                             if (auto next = std::move(self->waiting_)) {
                                 self->waiting_.reset();
                                 self->send(std::move(next));
                             }
                         });
    }

    // One write of head and body together, so that the body never waits for
    // the client's acknowledgement of the head.
    void reply(const HttpResponse &answer, bool keepAlive)
    {
        state = State::Busy;
        keepAlive = keepAlive && keepAlive_;
        auto &message = response_.emplace(static_cast<http::status>(answer.status), version_);
        for (const auto &[name, value] : commonHeaders())
            message.set(name, value);
        if (!answer.contentType.empty())
            message.set(http::field::content_type, answer.contentType);
        for (const auto &[name, value] : answer.headers)
            message.set(name, value);
        message.keep_alive(keepAlive);
        if (head_) {
            message.content_length(answer.body.size());
        } else {
            message.body() = answer.body;
            message.prepare_payload();
        }
        lowest().expires_after(door_->limits.sendTime);
        http::async_write(stream_, *response_,
                          [self = this->shared_from_this(), keepAlive](ErrorCode error, size_t) {
                              self->response_.reset();
                              if (error)
                                  return self->close();
                              if (!keepAlive)
                                  return self->linger();
                              self->head_ = false;
                              self->waitForRequest(false);
                          });
    }

    // The connection ends after a reply: what the client still sends is
    // read and dropped for a while, then it is closed.
    void linger()
    {
        if constexpr (Tls) {
            close();
        } else {
            ErrorCode ignored;
            lowest().socket().shutdown(tcp::socket::shutdown_send, ignored);
            lowest().expires_after(LingerTime);
            drain(LingerBytes);
        }
    }

    void drain(size_t left)
    {
        buffer_.consume(buffer_.size());
        lowest().async_read_some(buffer_.prepare(4096), [self = this->shared_from_this(),
                                                         left](ErrorCode error, size_t n) {
            if (error || n >= left)
                return self->close();
            self->drain(left - n);
        });
    }

    Stream stream_;
    std::string local_;
    beast::flat_buffer buffer_{size_t{64} * 1024};
    std::optional<RequestParser> parser_;
    HttpRequest request_;
    std::optional<http::response<http::string_body>> response_;
    std::shared_ptr<const std::string> waiting_;
    int version_ = 11;
    bool keepAlive_ = false, head_ = false, sending_ = false, closed_ = false, firstRequest_ = true;
};

} // namespace

void Door::admit(tcp::socket socket, Listening &listening)
{
    ErrorCode error;
    const tcp::endpoint peer = socket.remote_endpoint(error);
    if (error)
        return;
    const net::ip::address address = peer.address();
    if (allowed && !allowed(address)) {
        counts.notAllowed++;
        return note("refused", "http: refused " + peerText(address) + ": not an allowed address");
    }
    const std::string key = addressKey(address);
    if (const auto found = perAddress.find(key);
        found != perAddress.end() && found->second >= limits.maxPerAddress) {
        counts.perAddress++;
        return note("refused", "http: refused " + peerText(address) + ": " +
                                   std::to_string(limits.maxPerAddress) +
                                   " connections from there already");
    }
    if (static_cast<int>(connections.size()) >= limits.maxClients && !evict()) {
        counts.full++;
        return note("refused", "http: refused " + peerText(address) + ": " +
                                   std::to_string(limits.maxClients) +
                                   " connections already, none idle");
    }
    socket.set_option(tcp::no_delay(true), error);
    if (tls) {
        std::make_shared<Session<TlsStream>>(shared_from_this(), listening, std::move(socket),
                                             address)
            ->start();
    } else {
        std::make_shared<Session<PlainStream>>(shared_from_this(), listening, std::move(socket),
                                               address)
            ->start();
    }
}

// At the cap, a newcomer takes the place of a connection that is waiting for
// a request or still reading one: one from the address that holds the most,
// the longest waiting first. None in the middle of an answer, and no event
// stream.
bool Door::evict()
{
    Connection *victim = nullptr;
    const auto held = [this](const Connection *c) { return perAddress[c->key]; };
    for (Connection *c : connections) {
        if (c->state != Connection::State::Waiting && c->state != Connection::State::Reading)
            continue;
        if (!victim || held(c) > held(victim) ||
            (held(c) == held(victim) &&
             (c->state < victim->state || (c->state == victim->state && c->since < victim->since))))
            victim = c;
    }
    if (!victim)
        return false;
    counts.evicted++;
    victim->close();
    return true;
}

// The counts the limiter holds go out once their kind has been quiet: a
// timer looks every 11 s while lines keep coming, and once after.
void Door::note(const std::string &kind, const std::string &line)
{
    log.log(kind, line);
    noted = true;
    if (!flushArmed)
        armFlush();
}

void Door::armFlush()
{
    flushArmed = true;
    noted = false;
    flushTimer.expires_after(std::chrono::seconds(11));
    flushTimer.async_wait([weak = weak_from_this()](ErrorCode error) {
        const auto door = weak.lock();
        if (error || !door)
            return;
        door->flushArmed = false;
        door->log.flush();
        if (door->noted)
            door->armFlush();
    });
}

void Door::stationChanged()
{
    if (!station || streams == 0 || eventArmed)
        return;
    eventArmed = true;
    eventTimer.expires_at(std::max(Clock::now(), lastEvent + limits.eventGap));
    eventTimer.async_wait([weak = weak_from_this()](ErrorCode error) {
        const auto door = weak.lock();
        if (error || !door)
            return;
        door->eventArmed = false;
        door->sendEvent();
    });
}

void Door::sendEvent()
{
    if (!station)
        return;
    lastEvent = Clock::now();
    const auto bytes = std::make_shared<const std::string>(eventText(*station));
    for (Connection *c : std::vector(connections.begin(), connections.end()))
        c->push(bytes);
}

void Door::armHeartbeat()
{
    if (heartbeatArmed)
        return;
    heartbeatArmed = true;
    heartbeatTimer.expires_after(limits.heartbeat);
    heartbeatTimer.async_wait([weak = weak_from_this()](ErrorCode error) {
        const auto door = weak.lock();
        if (error || !door)
            return;
        door->heartbeatArmed = false;
        if (door->streams == 0 || !door->station)
            return;
        static const auto beat = std::make_shared<const std::string>(":\n\n");
        for (Connection *c : std::vector(door->connections.begin(), door->connections.end()))
            c->push(beat);
        door->armHeartbeat();
    });
}

std::string Door::metricsText() const
{
    const std::string refused = "quorveld_http_connections_refused_total";
    return metric(refused, "counter", "HTTP connections refused at accept, by reason.",
                  sample(refused, counts.notAllowed, "reason=\"not_allowed\"") +
                      sample(refused, counts.perAddress, "reason=\"per_address\"") +
                      sample(refused, counts.full, "reason=\"full\"")) +
           metric("quorveld_http_connections_evicted_total", "counter",
                  "Idle or unfinished HTTP connections closed to make room for a new one.",
                  sample("quorveld_http_connections_evicted_total", counts.evicted)) +
           metric("quorveld_http_deadlines_missed_total", "counter",
                  "HTTP connections closed because their request did not arrive in time.",
                  sample("quorveld_http_deadlines_missed_total", counts.timedOut)) +
           metric("quorveld_http_password_checks_total", "counter", "Password key derivations.",
                  sample("quorveld_http_password_checks_total",
                         password ? password->derivations() : 0)) +
           metric("quorveld_http_failed_logins_total", "counter",
                  "Wrong or unknown HTTP credentials.",
                  sample("quorveld_http_failed_logins_total", counts.failedLogins)) +
           metric(
               "quorveld_http_logins_deferred_total", "counter",
               "Logins answered 429 (an address that keeps failing) or 503 (too many waiting), "
               "unchecked.",
               sample("quorveld_http_logins_deferred_total", counts.throttled,
                      "reason=\"throttled\"") +
                   sample("quorveld_http_logins_deferred_total", counts.busy, "reason=\"busy\""));
}

struct HttpServer::Acceptor : std::enable_shared_from_this<Acceptor> {
    Acceptor(std::shared_ptr<Door> door, Listening &listening, tcp::acceptor acceptor)
        : door(std::move(door)), listening(listening), acceptor(std::move(acceptor)),
          pauseTimer(this->acceptor.get_executor())
    {
    }

    void accept()
    {
        acceptor.async_accept([self = shared_from_this()](ErrorCode error, tcp::socket socket) {
            if (!self->acceptor.is_open())
                return;
            if (!error) {
                self->pause = FirstPause;
                self->door->admit(std::move(socket), self->listening);
                return self->accept();
            }
            // Out of descriptors, most likely: trying again at once would spin.
            self->door->note("accept", "http: cannot accept a connection: " + error.message());
            self->pauseTimer.expires_after(self->pause);
            self->pause = std::min(self->pause * 2, LongestPause);
            self->pauseTimer.async_wait([self](ErrorCode error) {
                if (!error && self->acceptor.is_open())
                    self->accept();
            });
        });
    }

    void close()
    {
        ErrorCode ignored;
        acceptor.close(ignored);
        pauseTimer.cancel();
    }

    std::shared_ptr<Door> door;
    Listening &listening;
    tcp::acceptor acceptor;
    net::steady_timer pauseTimer;
    std::chrono::milliseconds pause = FirstPause;
};

HttpServer::HttpServer(net::io_context &io, Station &station, HttpOptions options,
                       AddressCheck allowed)
    : io_(io), station_(station), options_(std::move(options)), allowed_(std::move(allowed))
{
}

HttpServer::~HttpServer()
{
    try {
        stop();
    } catch (const std::exception &e) {
        logLine(std::string("http: stopping: ") + e.what());
    }
}

void HttpServer::start()
{
    stop();
    door_ = std::make_shared<Door>(io_, station_, options_.limits);
    Door &door = *door_;
    door.allowed = allowed_;
    if (!options_.passwordFile.empty()) {
        door.password.emplace(Credentials::load(options_.passwordFile));
        door.logins.emplace(io_, options_.limits.loginQueue);
    }
    if (!options_.tokenFile.empty())
        door.token.emplace(Token::load(options_.tokenFile));
    if (options_.tlsCert.empty() != options_.tlsKey.empty())
        throw std::runtime_error("--tls-cert and --tls-key go together");
    if (!options_.tlsCert.empty()) {
        try {
            door.tls.emplace(net::ssl::context::tls_server);
            door.tls->set_options(net::ssl::context::default_workarounds |
                                  net::ssl::context::no_sslv2 | net::ssl::context::no_sslv3 |
                                  net::ssl::context::no_tlsv1 | net::ssl::context::no_tlsv1_1);
            door.tls->use_certificate_chain_file(options_.tlsCert);
            door.tls->use_private_key_file(options_.tlsKey, net::ssl::context::pem);
        } catch (const boost::system::system_error &) {
            throw std::runtime_error("--tls-cert " + options_.tlsCert + ", --tls-key " +
                                     options_.tlsKey + ": cannot be loaded");
        }
    }
    station_.subscribe([weak = std::weak_ptr<Door>(door_)] {
        if (const auto door = weak.lock())
            door->stationChanged();
    });

    for (const std::string &where : options_.listen) {
        const ListenAddress at = parseListenAddress(where);
        const bool loopback =
            at.address.is_loopback() ||
            (at.address.is_v6() && at.address.to_v6().is_v4_mapped() &&
             net::ip::make_address_v4(net::ip::v4_mapped, at.address.to_v6()).is_loopback());
        if (!loopback && !door.password)
            throw std::runtime_error("--http " + where +
                                     ": a listener off loopback needs --http-password-file");
        HttpPolicy policy;
        if (!at.address.is_unspecified())
            policy.hosts.push_back(at.address.to_string());
        if (loopback)
            policy.hosts.push_back("localhost"); // no other site can name it
        for (const std::string &host : options_.hosts) {
            std::string name = host;
            for (char &c : name)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            policy.hosts.push_back(name);
        }
        policy.password = door.password ? &*door.password : nullptr;
        policy.token = door.token ? &*door.token : nullptr;
        policy.metricsPublic = options_.metricsPublic;

        tcp::acceptor acceptor(io_);
        const tcp::endpoint endpoint(at.address, at.port);
        try {
            acceptor.open(endpoint.protocol());
            acceptor.set_option(
                tcp::acceptor::reuse_address(true)); // no SO_REUSEPORT: one daemon per port
            if (endpoint.address().is_v6())
                acceptor.set_option(net::ip::v6_only(true));
            acceptor.bind(endpoint);
            acceptor.listen();
        } catch (const boost::system::system_error &) {
            throw std::runtime_error(
                "--http " + where +
                ": cannot listen there (in use, or not an address of this machine)");
        }
        const std::string bound =
            ListenAddress{at.address, acceptor.local_endpoint().port()}.text();
        Listening &listening = door.listenings.emplace_back(
            Listening{std::string(door.tls ? "https " : "http ") + bound, std::move(policy), 0});
        door.report(listening);
        acceptors_.push_back(std::make_shared<Acceptor>(door_, listening, std::move(acceptor)));
        acceptors_.back()->accept();
        logLine(std::string("listening on ") + (door.tls ? "https://" : "http://") + bound);
    }
}

void HttpServer::stop()
{
    for (const auto &acceptor : acceptors_)
        acceptor->close();
    acceptors_.clear();
    if (!door_)
        return;
    Door &door = *door_;
    for (Connection *c : std::vector(door.connections.begin(), door.connections.end()))
        c->close();
    if (door.logins)
        door.logins->stop();
    door.station = nullptr;
    door.flushTimer.cancel();
    door.eventTimer.cancel();
    door.heartbeatTimer.cancel();
    door.log.flush(LogLimiter::Clock::time_point::max());
    door_.reset();
}

std::vector<std::string> HttpServer::addresses() const
{
    std::vector<std::string> bound;
    if (door_)
        for (const Listening &listening : door_->listenings)
            bound.push_back(listening.name.substr(listening.name.find(' ') + 1));
    return bound;
}

} // namespace qd
