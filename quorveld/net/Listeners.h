// TCP and UDP listeners with explicit limits: clients from the allowed
// address blocks only, at most 64 at a time per TCP listener, idle clients
// closed, a client that does not read its replies dropped. What a client says
// goes to a Conversation, which answers with bytes to send back.
//
// Lifetimes: a listener's socket, its clients and their conversations belong
// to objects that every pending completion handler holds a share of, and a
// handler that runs after its listener or client was closed does nothing.
// Destroying a Listener closes it and its clients at once.
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
    // Complete lines or frames taken so far: a client that adds none is idle.
    virtual uint64_t taken() const { return 0; }

    // The client's address, set by the listener before the client's bytes
    // (for UDP, before each datagram's).
    std::string peer;
};
using ConversationFactory = std::function<std::unique_ptr<Conversation>()>;

// Settings that a reload replaces whole: a reader takes the current snapshot,
// which stays valid for as long as it holds it. The event loop's thread only.
template <typename T>
class LiveSettings {
public:
    explicit LiveSettings(T value = {}) : current_(std::make_shared<const T>(std::move(value))) {}
    std::shared_ptr<const T> get() const { return current_; }
    void replace(T value) { current_ = std::make_shared<const T>(std::move(value)); }

private:
    std::shared_ptr<const T> current_;
};
template <typename T>
using LiveRef = std::shared_ptr<const LiveSettings<T>>;

struct ListenerLimits {
    int maxClients = 64;
    int maxPerAddress = 8;          // of maxClients, from one address
    std::chrono::seconds idle{600}; // without a complete line or frame
    size_t maxUnsent = 1 << 20;     // replies a client has not read
    size_t maxPeers = 256;          // UDP peers whose conversations are kept
};

// What every listener reads at each new client, datagram and read.
struct ListenerSettings {
    std::vector<AddressBlock> allow; // empty: any client
    ListenerLimits limits;
    // UDP peers whose replies may be larger than their datagrams; others' are
    // not sent, since a forged source would make the daemon an amplifier.
    std::vector<AddressBlock> queryAllow = loopbackBlocks();
};

// Called with a listener's name and its client count whenever it changes;
// -1 once the listener is closed.
using ClientCounter = std::function<void(const std::string &, int)>;

class Listener {
public:
    virtual ~Listener() = default;
    virtual std::string name() const = 0; // "ascii-tcp 127.0.0.1:4001", with the port bound
    // Closes the clients the current allow list no longer takes.
    virtual void dropDisallowed() {}
};

// kind: "uecp-tcp", "ascii-udp"... Throws boost::system::system_error when
// the socket cannot be opened or bound.
std::unique_ptr<Listener> listenTcp(boost::asio::io_context &io, const std::string &kind,
                                    const ListenAddress &where, ConversationFactory factory,
                                    LiveRef<ListenerSettings> settings, ClientCounter counter);
// A multicast address joins its group on a socket bound to the port.
std::unique_ptr<Listener> listenUdp(boost::asio::io_context &io, const std::string &kind,
                                    const ListenAddress &where, const ConversationFactory &factory,
                                    LiveRef<ListenerSettings> settings);

} // namespace qd

#endif
