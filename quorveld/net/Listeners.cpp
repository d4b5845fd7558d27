#include "Listeners.h"

#include "Log.h"

#include <boost/asio/ip/multicast.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include <array>
#include <deque>
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
                self->armIdle();
                self->send(self->conversation_->received(std::span(self->buffer_.data(), length)));
                if (!self->closed_)
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
          counter_(std::move(counter))
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
                if (!error)
                    self->admit(std::move(socket));
                self->accept();
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
        if (static_cast<int>(clients_.size()) >= settings->limits.maxClients) {
            logLine(name_ + ": refused " + peerText(peer.address(), peer.port()) + ": " +
                    std::to_string(settings->limits.maxClients) + " clients already");
            return;
        }
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

// The socket, its one conversation and the datagram being received, kept
// alive by the pending receive and sends.
class UdpSocket : public std::enable_shared_from_this<UdpSocket> {
public:
    UdpSocket(boost::asio::io_context &io, const std::string &kind, const ListenAddress &where,
              const ConversationFactory &factory, LiveRef<ListenerSettings> settings)
        : socket_(io), conversation_(factory()), settings_(std::move(settings))
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
                    self->conversation_->peer = clientAddress(self->peer_.address());
                    self->answer(
                        self->conversation_->received(std::span(self->buffer_.data(), length)));
                }
                self->receive();
            });
    }

private:
    void answer(std::string bytes)
    {
        if (bytes.empty())
            return;
        auto reply = std::make_shared<std::string>(std::move(bytes));
        socket_.async_send_to(boost::asio::buffer(*reply), peer_,
                              [self = shared_from_this(), reply](const error_code &, size_t) {});
    }

    udp::socket socket_;
    std::unique_ptr<Conversation> conversation_;
    const LiveRef<ListenerSettings> settings_;
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
