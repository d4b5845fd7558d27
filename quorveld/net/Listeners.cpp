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

class TcpListener;

class TcpClient : public std::enable_shared_from_this<TcpClient> {
public:
    TcpClient(tcp::socket socket, std::unique_ptr<Conversation> conversation, TcpListener &listener,
              const ListenerLimits &limits)
        : socket_(std::move(socket)), conversation_(std::move(conversation)), listener_(listener),
          limits_(limits), idle_(socket_.get_executor())
    {
    }

    void start()
    {
        armIdle();
        read();
    }

    void close();

private:
    void armIdle()
    {
        idle_.expires_after(limits_.idle);
        idle_.async_wait([self = shared_from_this()](const boost::system::error_code &error) {
            if (!error)
                self->close();
        });
    }

    void read()
    {
        socket_.async_read_some(
            boost::asio::buffer(buffer_),
            [self = shared_from_this()](const boost::system::error_code &error, size_t length) {
                if (error == boost::asio::error::eof)
                    self->conversation_->ended();
                if (error)
                    return self->close();
                self->armIdle();
                self->send(self->conversation_->received(std::span(self->buffer_.data(), length)));
                if (self->socket_.is_open())
                    self->read();
            });
    }

    void send(std::string bytes)
    {
        if (bytes.empty())
            return;
        unsent_ += bytes.size();
        if (unsent_ > limits_.maxUnsent) {
            logLine("closing a client that does not read its replies");
            return close();
        }
        queue_.push_back(std::move(bytes));
        if (queue_.size() == 1)
            write();
    }

    void write()
    {
        boost::asio::async_write(
            socket_, boost::asio::buffer(queue_.front()),
            [self = shared_from_this()](const boost::system::error_code &error, size_t) {
                if (error)
                    return self->close();
                self->unsent_ -= self->queue_.front().size();
                self->queue_.pop_front();
                if (!self->queue_.empty())
                    self->write();
            });
    }

    tcp::socket socket_;
    std::unique_ptr<Conversation> conversation_;
    TcpListener &listener_;
    const ListenerLimits &limits_;
    boost::asio::steady_timer idle_;
    std::array<uint8_t, 4096> buffer_;
    std::deque<std::string> queue_;
    size_t unsent_ = 0;
    bool closed_ = false;
};

class TcpListener : public Listener {
public:
    TcpListener(boost::asio::io_context &io, const std::string &kind, const ListenAddress &where,
                ConversationFactory factory, const std::vector<AddressBlock> &allow,
                ClientCounter counter, ListenerLimits limits)
        : acceptor_(io), factory_(std::move(factory)), allow_(allow), counter_(std::move(counter)),
          limits_(limits)
    {
        const tcp::endpoint endpoint(where.address, where.port);
        acceptor_.open(endpoint.protocol());
        acceptor_.set_option(tcp::acceptor::reuse_address(true));
        if (endpoint.address().is_v6())
            acceptor_.set_option(boost::asio::ip::v6_only(true));
        acceptor_.bind(endpoint);
        acceptor_.listen();
        name_ = kind + " " + ListenAddress{where.address, acceptor_.local_endpoint().port()}.text();
        counter_(name_, 0);
        accept();
    }

    // acceptor_.close() throws when the close fails, and a destructor that
    // throws ends the daemon: see the work on quorveld's life under faults
    // and reloads, which decides what a failed close should do.
    ~TcpListener() override // NOLINT(bugprone-exception-escape)
    {
        acceptor_.close();
        for (const auto &client : std::set(clients_))
            client->close();
    }

    std::string name() const override { return name_; }

    void remove(const std::shared_ptr<TcpClient> &client)
    {
        if (clients_.erase(client))
            counter_(name_, static_cast<int>(clients_.size()));
    }

private:
    void accept()
    {
        acceptor_.async_accept([this](const boost::system::error_code &error, tcp::socket socket) {
            if (error == boost::asio::error::operation_aborted)
                return;
            if (!error)
                admit(std::move(socket));
            accept();
        });
    }

    void admit(tcp::socket socket)
    {
        boost::system::error_code error;
        const tcp::endpoint peer = socket.remote_endpoint(error);
        if (error)
            return;
        if (!allowed(allow_, peer.address())) {
            logVerbose(name_ + ": refused " + peerText(peer.address(), peer.port()) +
                       " (not allowed)");
            return;
        }
        if (static_cast<int>(clients_.size()) >= limits_.maxClients) {
            logLine(name_ + ": refused " + peerText(peer.address(), peer.port()) + ": " +
                    std::to_string(limits_.maxClients) + " clients already");
            return;
        }
        std::unique_ptr<Conversation> conversation = factory_();
        conversation->peer = clientAddress(peer.address());
        const auto client =
            std::make_shared<TcpClient>(std::move(socket), std::move(conversation), *this, limits_);
        clients_.insert(client);
        counter_(name_, static_cast<int>(clients_.size()));
        client->start();
    }

    tcp::acceptor acceptor_;
    ConversationFactory factory_;
    const std::vector<AddressBlock> &allow_;
    ClientCounter counter_;
    ListenerLimits limits_;
    std::string name_;
    std::set<std::shared_ptr<TcpClient>> clients_;
};

void TcpClient::close()
{
    if (closed_)
        return;
    closed_ = true;
    boost::system::error_code ignored;
    idle_.cancel();
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
    listener_.remove(shared_from_this());
}

class UdpListener : public Listener {
public:
    UdpListener(boost::asio::io_context &io, const std::string &kind, const ListenAddress &where,
                const ConversationFactory &factory, const std::vector<AddressBlock> &allow)
        : socket_(io), conversation_(factory()), allow_(allow)
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
        receive();
    }

    ~UdpListener() override
    {
        boost::system::error_code ignored;
        socket_.close(ignored);
    }

    std::string name() const override { return name_; }

private:
    void receive()
    {
        socket_.async_receive_from(
            boost::asio::buffer(buffer_), peer_,
            [this](const boost::system::error_code &error, size_t length) {
                if (error == boost::asio::error::operation_aborted)
                    return;
                if (!error && allowed(allow_, peer_.address())) {
                    conversation_->peer = clientAddress(peer_.address());
                    auto reply = std::make_shared<std::string>(
                        conversation_->received(std::span(buffer_.data(), length)));
                    if (!reply->empty())
                        socket_.async_send_to(
                            boost::asio::buffer(*reply), peer_,
                            [reply](const boost::system::error_code &, size_t) {});
                }
                receive();
            });
    }

    udp::socket socket_;
    std::unique_ptr<Conversation> conversation_;
    const std::vector<AddressBlock> &allow_;
    std::string name_;
    std::array<uint8_t, 65536> buffer_;
    udp::endpoint peer_;
};

} // namespace

std::unique_ptr<Listener> listenTcp(boost::asio::io_context &io, const std::string &kind,
                                    const ListenAddress &where, ConversationFactory factory,
                                    const std::vector<AddressBlock> &allow, ClientCounter counter,
                                    ListenerLimits limits)
{
    return std::make_unique<TcpListener>(io, kind, where, std::move(factory), allow,
                                         std::move(counter), limits);
}

std::unique_ptr<Listener> listenUdp(boost::asio::io_context &io, const std::string &kind,
                                    const ListenAddress &where, const ConversationFactory &factory,
                                    const std::vector<AddressBlock> &allow)
{
    return std::make_unique<UdpListener>(io, kind, where, factory, allow);
}

} // namespace qd
