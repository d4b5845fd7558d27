// What completion handlers touch outlives them, and each descriptor is closed
// once: in process, on an event loop the test turns itself.
#include "FieldRows.h"
#include "FileFollower.h"
#include "Listeners.h"
#include "TestDir.h"

#include <boost/asio/write.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <fstream>

// The link wraps close(): a descriptor closed that was not open counts.
std::atomic<int> badCloses{0};
extern "C" int __real_close(int fd);
extern "C" int __wrap_close(int fd)
{
    const int result = __real_close(fd);
    if (result != 0 && errno == EBADF)
        ++badCloses;
    return result;
}

namespace {

using boost::asio::ip::tcp;
using boost::asio::ip::udp;

// A conversation that keeps every byte it hears.
struct Ear : qd::Conversation {
    explicit Ear(std::shared_ptr<std::string> heard) : heard(std::move(heard)) {}
    std::string received(std::span<const uint8_t> bytes) override
    {
        heard->append(bytes.begin(), bytes.end());
        return "+";
    }
    std::shared_ptr<std::string> heard;
};

// A completion due when its listener closes: a handler that re-arms while
// more is waiting (a second datagram, connection, or the rest of a long
// read) has that completion queued; a datagram to another socket, handled
// between the two, closes the listener. The queued handler then finds what
// it touches alive (the sanitizer builds see it otherwise) and takes nothing.
TEST(Lifetimes, HandlersDueAtAListenersCloseTakeNothing)
{
    const std::string chunk(4096, 'A'); // one read's worth
    for (const std::string due : {"datagram", "connection", "read"}) {
        boost::asio::io_context io;
        const auto heard = std::make_shared<std::string>();
        int made = 0;
        const qd::ConversationFactory factory = [&] {
            ++made;
            return std::make_unique<Ear>(heard);
        };
        const qd::ListenAddress loopback{boost::asio::ip::address_v4::loopback(), 0};
        const auto settings = std::make_shared<qd::LiveSettings<qd::ListenerSettings>>();
        const bool udp = due == "datagram";
        std::unique_ptr<qd::Listener> listener =
            udp ? qd::listenUdp(io, "ascii-udp", loopback, factory, settings)
                : qd::listenTcp(io, "ascii-tcp", loopback, factory, settings,
                                [](const std::string &, int) {});
        const std::string name = listener->name();
        const udp::endpoint to(loopback.address, std::stoi(name.substr(name.rfind(':') + 1)));
        udp::socket sender(io, udp::endpoint(udp::v4(), 0)), closer(io, {loopback.address, 0});
        char one;
        closer.async_receive(boost::asio::buffer(&one, 1), [&](auto, size_t) { listener.reset(); });
        tcp::socket first(io), second(io);
        if (udp) {
            sender.send_to(boost::asio::buffer("A", 1), to);
            sender.send_to(boost::asio::buffer("B", 1), to);
        } else {
            first.connect({to.address(), to.port()});
        }
        if (due == "read") {
            while (io.poll_one() > 0) // accepted, and reading
                ;
            boost::asio::write(first, boost::asio::buffer(chunk + "PS=X\r\n"));
        } else if (due == "connection") {
            second.connect({to.address(), to.port()});
        }
        sender.send_to(boost::asio::buffer("x", 1), closer.local_endpoint());
        io.run_for(std::chrono::seconds(5));
        EXPECT_EQ(made, 1) << due << ": a conversation made after the listener closed";
        EXPECT_EQ(*heard, udp             ? "A"
                          : due == "read" ? chunk
                                          : "")
            << due << ": taken after the listener closed";
    }
}

// The now-playing file's inotify descriptor, borrowed by the event loop, is
// closed once, by its owner, whenever a follower ends.
TEST(Lifetimes, TheNowPlayingFilesDescriptorIsClosedOnce)
{
    TestDir dir;
    const std::string path = dir.path("nowplaying.txt");
    std::ofstream(path) << "Artist - Song\nnext\n";
    const int before = badCloses;
    {
        boost::asio::io_context io;
        qd::BoardWorker worker({});
        qd::Station station(io, worker, {});
        auto follower = qd::FileFollower::start(io, station, path);
        io.poll();
        follower->close();
        follower.reset();
        io.poll();
        EXPECT_EQ(station.effective(fields::fieldIndex("ram.rt")), "Artist - Song");
    } // the loop's handlers, and what they hold, gone
    EXPECT_EQ(badCloses - before, 0);
}

} // namespace
