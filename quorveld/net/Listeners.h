// TCP and UDP listeners with explicit limits: clients from the allowed
// address blocks only, at most 64 at a time per TCP listener, idle clients
// closed, a client that does not read its replies dropped. What a client says
// goes to a Conversation, which answers with bytes to send back.
#ifndef QUORVELD_LISTENERS_H
#define QUORVELD_LISTENERS_H

#include "Addresses.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace qd {

class Conversation {
public:
    virtual ~Conversation() = default;
    // Bytes of a stream, or one whole datagram; the bytes to answer.
    virtual std::string received(std::span<const uint8_t> bytes) = 0;
    // The stream ended: what was left without an ending is taken.
    virtual void ended() {}

    // The client's address, set by the listener before the client's bytes
    // (for UDP, before each datagram's).
    std::string peer;
};
using ConversationFactory = std::function<std::unique_ptr<Conversation>()>;

struct ListenerLimits {
    int maxClients = 64;
    std::chrono::seconds idle{600};
    size_t maxUnsent = 1 << 20; // replies a client has not read
};

// Called with a listener's name and its client count whenever it changes.
using ClientCounter = std::function<void(const std::string &, int)>;

class Listener {
public:
    virtual ~Listener() = default;
    virtual std::string name() const = 0; // "ascii-tcp 127.0.0.1:4001", with the port bound
};

// kind: "uecp-tcp", "ascii-udp"...; allow: read at each new client or datagram.
std::unique_ptr<Listener> listenTcp(boost::asio::io_context &io, const std::string &kind,
                                    const ListenAddress &where, ConversationFactory factory,
                                    const std::vector<AddressBlock> &allow, ClientCounter counter,
                                    ListenerLimits limits = {});
// A multicast address joins its group on a socket bound to the port.
std::unique_ptr<Listener> listenUdp(boost::asio::io_context &io, const std::string &kind,
                                    const ListenAddress &where, const ConversationFactory &factory,
                                    const std::vector<AddressBlock> &allow);

} // namespace qd

#endif
