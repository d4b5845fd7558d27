#include "HttpServer.h"

#include "DaemonOptions.h"
#include "Log.h"
#include "Station.h"

#include <boost/asio/ip/address.hpp>
#include <boost/asio/post.hpp>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

namespace qd {

namespace {

// How long a server thread waits for the event loop before answering 503.
constexpr auto LoopWait = std::chrono::seconds(5);
// A page polls once a second over one kept-alive connection, which holds a
// thread; after this many requests it connects again, so that others get
// their turn.
constexpr size_t ThreadsPerListener = 8;
constexpr size_t RequestsPerConnection = 10;
// A body over MaxHttpBody is read and dropped up to this size before the 413.
constexpr size_t DrainedBody = size_t{1024} * 1024;

HttpRequest requestOf(const httplib::Request &from, std::string body, bool tooLarge)
{
    HttpRequest request{from.method, from.path, {}, {}, std::move(body), tooLarge, from.local_addr};
    request.query.insert(from.params.begin(), from.params.end());
    request.headers.insert(from.headers.begin(), from.headers.end());
    return request;
}

void reply(httplib::Response &to, const HttpResponse &response)
{
    to.status = response.status;
    to.set_content(response.body, response.contentType.c_str());
    for (const auto &[name, value] : response.headers)
        to.set_header(name.c_str(), value);
}

bool hasBody(const httplib::Request &request)
{
    return request.has_header("Transfer-Encoding") ||
           (request.has_header("Content-Length") &&
            request.get_header_value("Content-Length") != "0");
}

// Runs on the event loop: what the station answers to an action.
struct Perform {
    Station &station;

    HttpResponse operator()(const HttpResponse &response) const { return response; }
    HttpResponse operator()(const ReadFields &) const
    {
        return fieldsReply(station.fieldsJson(Station::Values::Held),
                           station.fieldsJson(Station::Values::Pending),
                           station.fieldsJson(Station::Values::Asked), station.version());
    }
    HttpResponse operator()(const ReadField &read) const
    {
        return fieldReply(read.name, station.fieldsJson(Station::Values::Held),
                          station.fieldsJson(Station::Values::Pending),
                          station.fieldsJson(Station::Values::Asked));
    }
    HttpResponse operator()(const ReadStatus &) const { return statusReply(station.statusJson()); }
    HttpResponse operator()(const ReadMetrics &) const
    {
        return metricsReply(station.metricsText());
    }
    HttpResponse operator()(const SetFields &set) const
    {
        return outcome(station.set(set.values, Protocol::Http, set.drops));
    }
    HttpResponse operator()(const SetSong &song) const
    {
        station.nowPlaying({song.text, song.artist, song.title}, Protocol::Http);
        return outcome({});
    }

    HttpResponse outcome(const std::vector<Refusal> &refusals) const
    {
        if (refusals.empty())
            return acceptedReply(station.fieldsJson(Station::Values::Pending), station.version());
        std::vector<std::pair<std::string, std::string>> named;
        named.reserve(refusals.size());
        for (const Refusal &refusal : refusals)
            named.emplace_back(refusal.field, refusal.message);
        return refusedReply(named);
    }
};

// The server's threads. A job is one connection, served to its end: the jobs
// running are the listener's clients. `report` tells the station the count
// as it is when the event loop runs the report, so that the last one is right.
class CountingPool : public httplib::TaskQueue {
public:
    CountingPool(std::shared_ptr<std::atomic<int>> clients, std::function<void()> report)
        : pool_(ThreadsPerListener), clients_(std::move(clients)), report_(std::move(report))
    {
    }
    void enqueue(std::function<void()> job) override
    {
        pool_.enqueue([this, job = std::move(job)] {
            ++*clients_;
            report_();
            job();
            --*clients_;
            report_();
        });
    }
    void shutdown() override { pool_.shutdown(); }

private:
    httplib::ThreadPool pool_;
    std::shared_ptr<std::atomic<int>> clients_;
    std::function<void()> report_;
};

} // namespace

struct HttpServer::Listener {
    std::unique_ptr<httplib::Server> server;
    HttpPolicy policy;
    std::string bound; // ADDR:PORT
    std::thread thread;
};

HttpServer::HttpServer(boost::asio::io_context &io, Station &station, HttpOptions options)
    : io_(io), station_(station), options_(std::move(options))
{
}

HttpServer::~HttpServer()
{
    stop();
}

void HttpServer::start()
{
    stopping_ = false;
    if (!options_.passwordFile.empty())
        password_.emplace(Credentials::load(options_.passwordFile));
    if (!options_.tokenFile.empty())
        token_.emplace(Token::load(options_.tokenFile));
    if (options_.tlsCert.empty() != options_.tlsKey.empty())
        throw std::runtime_error("--tls-cert and --tls-key go together");
    for (const std::string &where : options_.listen)
        open(where);
}

void HttpServer::open(const std::string &where)
{
    const ListenAddress at = parseListenAddress(where);
    const bool loopback =
        at.address.is_loopback() ||
        (at.address.is_v6() && at.address.to_v6().is_v4_mapped() &&
         boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, at.address.to_v6())
             .is_loopback());
    if (!loopback && !password_)
        throw std::runtime_error("--http " + where +
                                 ": a listener off loopback needs --http-password-file");

    auto listener = std::make_unique<Listener>();
    const bool tls = !options_.tlsCert.empty();
    if (tls)
        listener->server =
            std::make_unique<httplib::SSLServer>(options_.tlsCert.c_str(), options_.tlsKey.c_str());
    else
        listener->server = std::make_unique<httplib::Server>();
    httplib::Server &server = *listener->server;
    if (!server.is_valid())
        throw std::runtime_error("--tls-cert " + options_.tlsCert + ", --tls-key " +
                                 options_.tlsKey + ": cannot be loaded");

    HttpPolicy &policy = listener->policy;
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
    policy.password = password_ ? &*password_ : nullptr;
    policy.token = token_ ? &*token_ : nullptr;
    policy.metricsPublic = options_.metricsPublic;

    server.set_keep_alive_max_count(RequestsPerConnection);
    server.set_payload_max_length(MaxHttpBody);
    server.set_socket_options([](socket_t socket) {
        const int yes = 1; // no SO_REUSEPORT: a second daemon must not share the port
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server.set_default_headers(httplib::Headers(commonHeaders().begin(), commonHeaders().end()));

    // Requests without a body are answered before the library reads one;
    // the others are read here, to MaxHttpBody at most, chunked or not.
    server.set_pre_routing_handler(
        [this, &policy](const httplib::Request &request, httplib::Response &response) {
            const std::string &method = request.method;
            if (method == "POST" || method == "PATCH" || method == "PUT" || method == "DELETE")
                return httplib::Server::HandlerResponse::Unhandled;
            if (hasBody(request)) {
                reply(response, errorReply(400, method + " takes no body"));
                response.set_header("Connection", "close");
            } else {
                reply(response, answer(requestOf(request, {}, false), policy));
            }
            return httplib::Server::HandlerResponse::Handled;
        });
    const auto withBody = [this, &policy](const httplib::Request &request,
                                          httplib::Response &response,
                                          const httplib::ContentReader &content) {
        if (request.is_multipart_form_data()) {
            HttpRequest parts = requestOf(request, {}, false);
            reply(response, answer(parts, policy));
            response.set_header("Connection", "close");
            return;
        }
        // Past the limit the body is read on and dropped, up to a bound, so
        // that the client is still there to read the 413.
        std::string body;
        size_t received = 0;
        const bool read = content([&](const char *data, size_t size) {
            received += size;
            if (received <= MaxHttpBody)
                body.append(data, size);
            return received <= DrainedBody;
        });
        const bool tooLarge = received > MaxHttpBody || response.status == 413;
        if (!read && !tooLarge) {
            reply(response, errorReply(400, "the body could not be read"));
            response.set_header("Connection", "close");
            return;
        }
        reply(response, answer(requestOf(request, std::move(body), tooLarge), policy));
        if (tooLarge)
            response.set_header("Connection", "close");
    };
    server.Post(".*", withBody);
    server.Patch(".*", withBody);
    server.Put(".*", withBody);
    server.Delete(".*", withBody);
    server.set_error_handler([](const httplib::Request &, httplib::Response &response) {
        if (response.body.empty())
            response.set_content(errorBody(response.status), "application/json");
    });
    server.set_exception_handler(
        [](const httplib::Request &, httplib::Response &response, const std::exception_ptr &) {
            reply(response, errorReply(500, "internal error"));
        });

    const std::string host = at.address.to_string();
    const int port = at.port == 0 ? server.bind_to_any_port(host)
                                  : (server.bind_to_port(host, at.port) ? at.port : -1);
    if (port <= 0)
        throw std::runtime_error(
            "--http " + where +
            ": cannot listen there (in use, or not an address of this machine)");
    listener->bound = ListenAddress{at.address, static_cast<unsigned short>(port)}.text();
    const std::string name = std::string(tls ? "https " : "http ") + listener->bound;
    const auto clients = std::make_shared<std::atomic<int>>(0);
    const auto report = [&io = io_, &station = station_, name, clients] {
        boost::asio::post(io, [&station, name, clients] { station.setClients(name, *clients); });
    };
    report();
    server.new_task_queue = [clients, report] { return new CountingPool(clients, report); };
    listener->thread = std::thread([&server] { server.listen_after_bind(); });
    // stop() ends only a server that runs.
    for (int wait = 0; wait < 2000 && !server.is_running(); wait++)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    logLine(std::string("listening on ") + (tls ? "https://" : "http://") + listener->bound);
    listeners_.push_back(std::move(listener));
}

HttpResponse HttpServer::answer(const HttpRequest &request, const HttpPolicy &policy)
{
    HttpAction action = decide(request, policy);
    if (const auto *response = std::get_if<HttpResponse>(&action)) {
        if (response->status >= 400 && isChange(request))
            boost::asio::post(io_, [&station = station_] { station.countRefused(Protocol::Http); });
        return *response;
    }
    auto task = std::make_shared<std::packaged_task<HttpResponse()>>(
        [&station = station_, action = std::move(action)] {
            return std::visit(Perform{station}, action);
        });
    std::future<HttpResponse> answered = task->get_future();
    boost::asio::post(io_, [task] { (*task)(); });
    const auto until = std::chrono::steady_clock::now() + LoopWait;
    while (answered.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
        if (stopping_ || std::chrono::steady_clock::now() > until)
            return errorReply(503, "the daemon is busy or stopping");
    return answered.get();
}

void HttpServer::stop()
{
    stopping_ = true;
    for (const auto &listener : listeners_) {
        listener->server->stop();
        if (listener->thread.joinable())
            listener->thread.join();
    }
    listeners_.clear();
}

std::vector<std::string> HttpServer::addresses() const
{
    std::vector<std::string> bound;
    for (const auto &listener : listeners_)
        bound.push_back(listener->bound);
    return bound;
}

} // namespace qd
