#include "Listeners.h"

#include "Log.h"

#include <boost/asio/ip/multicast.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include <algorithm>
#include <array>
#include <deque>
#include <map>
#include <set>

namespace qd {

namespace {

using boost::asio::ip::tcp;
using boost::asio::ip::udp;
using boost::system::error_code;

std::string peerText(const boost::asio::ip::address &address, unsigned short port)
{
    return ListenAddress{address, port}.text();
}

// A client's address as the change log names it: an IPv4 client on an IPv6
// socket as IPv4.
std::string clientAddress(const boost::asio::ip::address &address)
{
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, address.to_v6())
            .to_string();
    return address.to_string();
}

class TcpAcceptor;

// One client: its socket, idle timer and conversation, kept alive by the
// handlers waiting on them; closed by its listener or by itself.
class TcpClient : public std::enable_shared_from_this<TcpClient> {
public:
    TcpClient(tcp::socket socket, tcp::endpoint peer, std::unique_ptr<Conversation> conversation,
              std::weak_ptr<TcpAcceptor> listener, LiveRef<ListenerSettings> settings)
        : socket_(std::move(socket)), peer_(std::move(peer)),
          conversation_(std::move(conversation)), listener_(std::move(listener)),
          settings_(std::move(settings)), idle_(socket_.get_executor())
    {
    }

    void start()
    {
        armIdle();
        read();
    }

    const tcp::endpoint &peer() const { return peer_; }
    void close();

private:
    void armIdle()
    {
        idle_.expires_after(settings_->get()->limits.idle);
        idle_.async_wait([self = shared_from_this()](const error_code &error) {
            // A timer re-armed after it fired, in the same turn, is not due.
            if (!error && !self->closed_ &&
                self->idle_.expiry() <= std::chrono::steady_clock::now())
                self->close();
        });
    }

    void read()
    {
        socket_.async_read_some(
            boost::asio::buffer(buffer_),
            [self = shared_from_this()](const error_code &error, size_t length) {
                if (self->closed_)
                    return;
                if (error == boost::asio::error::eof)
                    self->conversation_->ended();
                if (error)
                    return self->close();
                // Only a complete line or frame shows the client is not idle.
                const uint64_t taken = self->conversation_->taken();
                self->send(self->conversation_->received(std::span(self->buffer_.data(), length)));
                if (self->closed_)
                    return;
                if (self->conversation_->taken() != taken)
                    self->armIdle();
                self->read();
            });
    }

    void send(std::string bytes)
    {
        if (bytes.empty())
            return;
        unsent_ += bytes.size();
        if (unsent_ > settings_->get()->limits.maxUnsent) {
            logLine("closing a client that does not read its replies");
            return close();
        }
        queue_.push_back(std::move(bytes));
        if (queue_.size() == 1)
            write();
    }

    void write()
    {
        boost::asio::async_write(socket_, boost::asio::buffer(queue_.front()),
                                 [self = shared_from_this()](const error_code &error, size_t) {
                                     if (self->closed_)
                                         return;
                                     if (error)
                                         return self->close();
                                     self->unsent_ -= self->queue_.front().size();
                                     self->queue_.pop_front();
                                     if (!self->queue_.empty())
                                         self->write();
                                 });
    }

    tcp::socket socket_;
    const tcp::endpoint peer_;
    std::unique_ptr<Conversation> conversation_;
    const std::weak_ptr<TcpAcceptor> listener_;
    const LiveRef<ListenerSettings> settings_;
    boost::asio::steady_timer idle_;
    std::array<uint8_t, 4096> buffer_{};
    std::deque<std::string> queue_;
    size_t unsent_ = 0;
    bool closed_ = false;
};

// The accepting socket and the set of clients, kept alive by the pending accept.
class TcpAcceptor : public std::enable_shared_from_this<TcpAcceptor> {
public:
    TcpAcceptor(boost::asio::io_context &io, const std::string &kind, const ListenAddress &where,
                ConversationFactory factory, LiveRef<ListenerSettings> settings,
                ClientCounter counter)
        : acceptor_(io), factory_(std::move(factory)), settings_(std::move(settings)),
          counter_(std::move(counter)), refusals_(std::chrono::seconds(10)), flushTimer_(io),
          retryTimer_(io)
    {
        const tcp::endpoint endpoint(where.address, where.port);
        acceptor_.open(endpoint.protocol());
        acceptor_.set_option(tcp::acceptor::reuse_address(true));
        if (endpoint.address().is_v6())
            acceptor_.set_option(boost::asio::ip::v6_only(true));
        acceptor_.bind(endpoint);
        acceptor_.listen();
        name_ = kind + " " + ListenAddress{where.address, acceptor_.local_endpoint().port()}.text();
    }

    void start()
    {
        counter_(name_, 0);
        accept();
    }

    void close()
    {
        if (closed_)
            return;
        closed_ = true;
        error_code ignored;
        acceptor_.close(ignored);
        retryTimer_.cancel();
        flushTimer_.cancel();
        refusals_.flush(LogLimiter::Clock::now() + std::chrono::seconds(10));
        for (const auto &client : std::set(clients_))
            client->close();
        counter_(name_, -1);
    }

    void dropDisallowed()
    {
        const auto settings = settings_->get();
        for (const auto &client : std::set(clients_))
            if (!allowed(settings->allow, client->peer().address())) {
                logLine(name_ + ": closing " +
                        peerText(client->peer().address(), client->peer().port()) +
                        " (no longer allowed)");
                client->close();
            }
    }

    const std::string &name() const { return name_; }

    void remove(const std::shared_ptr<TcpClient> &client)
    {
        if (clients_.erase(client) && !closed_)
            counter_(name_, static_cast<int>(clients_.size()));
    }

private:
    void accept()
    {
        acceptor_.async_accept(
            [self = shared_from_this()](const error_code &error, tcp::socket socket) {
                if (self->closed_)
                    return;
                if (!error || error == boost::asio::error::connection_aborted) {
                    self->retryDelay_ = {};
                    if (!error)
                        self->admit(std::move(socket));
                    return self->accept();
                }
                // Out of descriptors, say: the connection waits in the backlog,
                // accepting again at once would only spin.
                using std::chrono::milliseconds;
                self->retryDelay_ =
                    std::clamp(self->retryDelay_ * 2, milliseconds(10), milliseconds(1000));
                self->refuse(": accepting failed (" + error.message() + "); trying again in " +
                             std::to_string(self->retryDelay_.count()) + " ms");
                self->retryTimer_.expires_after(self->retryDelay_);
                self->retryTimer_.async_wait([self](const error_code &waited) {
                    if (!waited && !self->closed_)
                        self->accept();
                });
            });
    }

    // At most one line every 10 s, with a count of the others.
    void refuse(const std::string &why)
    {
        refusals_.log("refused", name_ + why);
        flushLater();
    }

    // The count of lines held back goes out once it is due.
    void flushLater()
    {
        const std::optional<LogLimiter::Clock::time_point> due = refusals_.due();
        if (!due || flushing_)
            return;
        flushing_ = true;
        flushTimer_.expires_at(*due);
        flushTimer_.async_wait([self = shared_from_this()](const error_code &error) {
            self->flushing_ = false;
            if (error || self->closed_)
                return;
            self->refusals_.flush();
            self->flushLater();
        });
    }

    void admit(tcp::socket socket)
    {
        error_code error;
        const tcp::endpoint peer = socket.remote_endpoint(error);
        if (error)
            return;
        const auto settings = settings_->get();
        if (!allowed(settings->allow, peer.address())) {
            logVerbose(name_ + ": refused " + peerText(peer.address(), peer.port()) +
                       " (not allowed)");
            return;
        }
        if (static_cast<int>(clients_.size()) >= settings->limits.maxClients)
            return refuse(": refused " + peerText(peer.address(), peer.port()) + ": " +
                          std::to_string(settings->limits.maxClients) + " clients already");
        const auto fromThere = std::count_if(clients_.begin(), clients_.end(), [&](const auto &c) {
            return c->peer().address() == peer.address();
        });
        if (fromThere >= settings->limits.maxPerAddress)
            return refuse(": refused " + peerText(peer.address(), peer.port()) + ": " +
                          std::to_string(fromThere) + " clients from " +
                          peer.address().to_string() + " already");
        std::unique_ptr<Conversation> conversation = factory_();
        conversation->peer = clientAddress(peer.address());
        const auto client = std::make_shared<TcpClient>(
            std::move(socket), peer, std::move(conversation), weak_from_this(), settings_);
        clients_.insert(client);
        counter_(name_, static_cast<int>(clients_.size()));
        client->start();
    }

    tcp::acceptor acceptor_;
    const ConversationFactory factory_;
    const LiveRef<ListenerSettings> settings_;
    const ClientCounter counter_;
    std::string name_;
    std::set<std::shared_ptr<TcpClient>> clients_;
    LogLimiter refusals_; // refused connections and failed accepts
    boost::asio::steady_timer flushTimer_, retryTimer_;
    bool flushing_ = false;
    std::chrono::milliseconds retryDelay_{};
    bool closed_ = false;
};

void TcpClient::close()
{
    if (closed_)
        return;
    closed_ = true;
    error_code ignored;
    idle_.cancel();
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
    if (const auto listener = listener_.lock())
        listener->remove(shared_from_this());
}

class TcpListener : public Listener {
public:
    explicit TcpListener(std::shared_ptr<TcpAcceptor> acceptor) : acceptor_(std::move(acceptor))
    {
        acceptor_->start();
    }
    ~TcpListener() override
    {
        try {
            acceptor_->close();
        } catch (const std::exception &e) { // its clients' count not told
            logLine(name() + ": " + e.what());
        }
    }
    TcpListener(const TcpListener &) = delete;
    TcpListener &operator=(const TcpListener &) = delete;

    std::string name() const override { return acceptor_->name(); }
    void dropDisallowed() override { acceptor_->dropDisallowed(); }

private:
    std::shared_ptr<TcpAcceptor> acceptor_;
};

// The socket, a conversation for each recent peer (each keeps its own UECP
// mode) and the datagram being received, kept alive by the pending receive
// and sends.
class UdpSocket : public std::enable_shared_from_this<UdpSocket> {
public:
    UdpSocket(boost::asio::io_context &io, const std::string &kind, const ListenAddress &where,
              const ConversationFactory &factory, LiveRef<ListenerSettings> settings)
        : socket_(io), factory_(factory), settings_(std::move(settings)),
          dropped_(std::chrono::seconds(10))
    {
        const bool multicast = where.address.is_multicast();
        // A group is joined on a socket bound to the port on every address.
        const boost::asio::ip::address bound =
            multicast ? (where.address.is_v4()
                             ? boost::asio::ip::address(boost::asio::ip::address_v4::any())
                             : boost::asio::ip::address(boost::asio::ip::address_v6::any()))
                      : where.address;
        const udp::endpoint endpoint(bound, where.port);
        socket_.open(endpoint.protocol());
        socket_.set_option(udp::socket::reuse_address(multicast));
        if (bound.is_v6())
            socket_.set_option(boost::asio::ip::v6_only(true));
        socket_.bind(endpoint);
        if (multicast)
            socket_.set_option(boost::asio::ip::multicast::join_group(where.address));
        name_ = kind + " " + ListenAddress{where.address, socket_.local_endpoint().port()}.text();
    }

    const std::string &name() const { return name_; }

    void close()
    {
        closed_ = true;
        error_code ignored;
        socket_.close(ignored);
    }

    void receive()
    {
        socket_.async_receive_from(
            boost::asio::buffer(buffer_), peer_,
            [self = shared_from_this()](const error_code &error, size_t length) {
                if (self->closed_)
                    return;
                if (!error && allowed(self->settings_->get()->allow, self->peer_.address())) {
                    Conversation &conversation = self->conversation();
                    conversation.peer = clientAddress(self->peer_.address());
                    self->answer(conversation.received(std::span(self->buffer_.data(), length)),
                                 length);
                }
                self->receive();
            });
    }

private:
    // The peer's conversation; past maxPeers, the one heard from longest ago
    // is forgotten (sources can be forged).
    Conversation &conversation()
    {
        auto found = peers_.find(peer_);
        if (found == peers_.end()) {
            if (peers_.size() >= std::max<size_t>(settings_->get()->limits.maxPeers, 1))
                peers_.erase(std::min_element(
                    peers_.begin(), peers_.end(),
                    [](const auto &a, const auto &b) { return a.second.heard < b.second.heard; }));
            found = peers_.emplace(peer_, Peer{factory_(), 0}).first;
        }
        found->second.heard = ++heard_;
        return *found->second.conversation;
    }

    // A reply larger than its datagram goes only to the query clients.
    void answer(std::string bytes, size_t asked)
    {
        if (bytes.empty())
            return;
        const auto &queryAllow = settings_->get()->queryAllow;
        if (bytes.size() > asked &&
            std::none_of(queryAllow.begin(), queryAllow.end(),
                         [&](const AddressBlock &b) { return b.contains(peer_.address()); })) {
            dropped_.log("dropped", name_ + ": a reply of " + std::to_string(bytes.size()) +
                                        " bytes to a datagram of " + std::to_string(asked) +
                                        " from " + peerText(peer_.address(), peer_.port()) +
                                        " not sent: not a query client (--udp-query-allow)");
            return;
        }
        auto reply = std::make_shared<std::string>(std::move(bytes));
        socket_.async_send_to(boost::asio::buffer(*reply), peer_,
                              [self = shared_from_this(), reply](const error_code &, size_t) {});
    }

    struct Peer {
        std::unique_ptr<Conversation> conversation;
        uint64_t heard; // the order of its last datagram
    };

    udp::socket socket_;
    const ConversationFactory factory_;
    std::map<udp::endpoint, Peer> peers_;
    uint64_t heard_ = 0;
    const LiveRef<ListenerSettings> settings_;
    LogLimiter dropped_; // replies not sent
    std::string name_;
    std::array<uint8_t, 65536> buffer_{};
    udp::endpoint peer_;
    bool closed_ = false;
};

class UdpListener : public Listener {
public:
    explicit UdpListener(std::shared_ptr<UdpSocket> socket) : socket_(std::move(socket))
    {
        socket_->receive();
    }
    ~UdpListener() override { socket_->close(); }
    UdpListener(const UdpListener &) = delete;
    UdpListener &operator=(const UdpListener &) = delete;

    std::string name() const override { return socket_->name(); }

private:
    std::shared_ptr<UdpSocket> socket_;
};

} // namespace

std::unique_ptr<Listener> listenTcp(boost::asio::io_context &io, const std::string &kind,
                                    const ListenAddress &where, ConversationFactory factory,
                                    LiveRef<ListenerSettings> settings, ClientCounter counter)
{
    return std::make_unique<TcpListener>(std::make_shared<TcpAcceptor>(
        io, kind, where, std::move(factory), std::move(settings), std::move(counter)));
}

std::unique_ptr<Listener> listenUdp(boost::asio::io_context &io, const std::string &kind,
                                    const ListenAddress &where, const ConversationFactory &factory,
                                    LiveRef<ListenerSettings> settings)
{
    return std::make_unique<UdpListener>(
        std::make_shared<UdpSocket>(io, kind, where, factory, std::move(settings)));
}

} // namespace qd
