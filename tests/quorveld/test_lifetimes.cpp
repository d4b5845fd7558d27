// What completion handlers touch outlives them, and each descriptor is closed
// once: in process, on an event loop the test turns itself.
#include "FieldRows.h"
#include "FileFollower.h"
#include "Listeners.h"
#include "TestDir.h"

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <fstream>

#include <unistd.h>

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

// Every conversation made and every byte they received.
struct Heard {
    std::shared_ptr<std::string> bytes = std::make_shared<std::string>();
    std::shared_ptr<int> made = std::make_shared<int>(0);
    qd::ConversationFactory factory()
    {
        struct Ear : qd::Conversation {
            std::shared_ptr<std::string> bytes;
            std::string received(std::span<const uint8_t> b) override
            {
                bytes->append(b.begin(), b.end());
                return "+";
            }
        };
        return [bytes = bytes, made = made] {
            ++*made;
            auto ear = std::make_unique<Ear>();
            ear->bytes = bytes;
            return ear;
        };
    }
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
        SCOPED_TRACE(due);
        boost::asio::io_context io;
        Heard heard;
        const qd::ListenAddress loopback{boost::asio::ip::address_v4::loopback(), 0};
        const auto settings = std::make_shared<qd::LiveSettings<qd::ListenerSettings>>();
        const bool udp = due == "datagram";
        std::unique_ptr<qd::Listener> listener =
            udp ? qd::listenUdp(io, "ascii-udp", loopback, heard.factory(), settings)
                : qd::listenTcp(io, "ascii-tcp", loopback, heard.factory(), settings,
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
        EXPECT_EQ(*heard.made, 1) << "a conversation made after the listener closed";
        EXPECT_EQ(*heard.bytes, udp             ? "A"
                                : due == "read" ? chunk
                                                : "")
            << "taken after the listener closed";
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
        for (int i = 0; i < 3; i++) {
            auto follower = qd::FileFollower::start(io, station, path);
            io.poll();
            follower->close();
            follower.reset();
            io.poll();
        }
        EXPECT_EQ(station.effective(fields::fieldIndex("ram.rt")), "Artist - Song");
    } // the loop's handlers, and what they hold, gone
    EXPECT_EQ(badCloses - before, 0);
}

} // namespace
