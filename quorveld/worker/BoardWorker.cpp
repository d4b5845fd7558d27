#include "BoardWorker.h"

#include "BlockRequests.h"
#include "BoardImage.h"
#include "BoardOpen.h"
#include "FieldValues.h"
#include "StateFile.h"
#include "usbInterface.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace qd {

namespace {

using Clock = BoardImage::Clock;
using std::chrono::milliseconds;

constexpr milliseconds saveInterval{1000};
constexpr int saveRetryDoublings = 4;  // a failed save is tried again after 1, 2, 4, 8, 16, 16... s
constexpr milliseconds nodeLook{1000}; // the node looked at this often when it cannot be watched

// A descriptor with one owner, which closes it.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }

private:
    const int fd_;
};

milliseconds verifyInterval(const WorkerOptions &o)
{
    return milliseconds(o.verifyMs >= 0 ? o.verifyMs : o.verifySeconds * 1000);
}

std::string requestText(const BoardImage::Step &step, int result)
{
    const T_R_FieldDef &field = RdsUsbFields[step.field];
    char text[128];
    std::snprintf(text, sizeof text, "%s of %s (block %d) failed: %d",
                  step.write ? "writing" : "reading", field.Name, step.block, result);
    return text;
}

} // namespace

const char *boardStateName(BoardState state)
{
    switch (state) {
    case BoardState::Present: return "present";
    case BoardState::NotAnswering: return "not answering";
    case BoardState::Absent: break;
    }
    return "absent";
}

struct BoardWorker::Impl {
    explicit Impl(WorkerOptions o)
        : options(std::move(o)), location(parseBoardLocation(options.device)),
          image(milliseconds(options.retryMs))
    {
        if (wake.get() < 0)
            throw std::runtime_error("cannot make the worker's eventfd: " +
                                     std::generic_category().message(errno));
    }

    const WorkerOptions options;
    const std::optional<BoardLocation> location;
    std::function<void()> listener;

    mutable std::mutex mutex;
    const Descriptor wake{eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)}; // written to wake the thread
    BoardImage image;
    WorkerStatus status;
    bool stopping = false;
    bool changed = false; // since the listener last ran
    bool unsaved = false; // asked images not yet in the state file
    int saveFailures = 0; // in a row
    std::thread thread;

    // The worker's thread only.
    usb_dev_handle *board = nullptr;
    int lastOpenStatus = -1;
    Clock::time_point nextSearch{}, nextVerify{}, nextSave{};
    // The open board's device node, watched through its folder: its removal
    // is an unplug, seen without a request. Looked at every second when the
    // folder cannot be watched.
    const Descriptor nodeEvents{inotify_init1(IN_NONBLOCK | IN_CLOEXEC)};
    int nodeWatch = -1;
    std::string node;
    bool nodeLooked = false; // not watched: looked at instead

    void run();
    void search(std::unique_lock<std::mutex> &lock);
    void issue(std::unique_lock<std::mutex> &lock, const BoardImage::Step &step);
    void lose(std::unique_lock<std::mutex> &lock, BoardState state, int result);
    void save(std::unique_lock<std::mutex> &lock);
    void waitForWork(std::unique_lock<std::mutex> &lock, Clock::time_point now);
    void watchNode(const std::string &path);
    void unwatchNode();
    bool nodeChanged();
    void poke() const;
    void say(std::unique_lock<std::mutex> &lock, const std::string &message);
    void say(const std::string &message) const;
    void sayRepeating(const std::string &kind, const std::string &message) const;
};

void BoardWorker::Impl::poke() const
{
    eventfd_write(wake.get(), 1);
}

void BoardWorker::Impl::sayRepeating(const std::string &kind, const std::string &message) const
{
    if (options.repeating)
        options.repeating(kind, message);
    else
        say(message);
}

void BoardWorker::Impl::say(const std::string &message) const
{
    if (options.logger)
        options.logger(message);
}

void BoardWorker::Impl::say(std::unique_lock<std::mutex> &lock, const std::string &message)
{
    lock.unlock();
    say(message);
    lock.lock();
}

void BoardWorker::Impl::run()
{
    std::unique_lock lock(mutex);
    while (!stopping) {
        const Clock::time_point now = Clock::now();
        if (!board && now >= nextSearch) {
            search(lock);
            continue;
        }
        if (image.dropHeldEepromAsks())
            changed = unsaved = true;
        if (changed) {
            changed = false;
            const std::function<void()> notify = listener;
            lock.unlock();
            if (notify)
                notify();
            lock.lock();
            continue;
        }
        if (unsaved && !options.stateFile.empty() && now >= nextSave) {
            save(lock);
            continue;
        }
        if (board) {
            if (!image.reading() && verifyInterval(options).count() > 0 && now >= nextVerify) {
                image.startVerify();
                nextVerify = now + verifyInterval(options);
            }
            if (const std::optional<BoardImage::Step> step = image.next(now)) {
                issue(lock, *step);
                continue;
            }
        }
        waitForWork(lock, now);
    }
    lock.unlock();
    unwatchNode();
    usbCloseDevice(board);
    board = nullptr;
}

void BoardWorker::Impl::search(std::unique_lock<std::mutex> &lock)
{
    lock.unlock();
    const OpenedBoard opened = openBoard(location);
    const bool news = opened.status != lastOpenStatus;
    lastOpenStatus = opened.status;
    if (opened.handle) {
        sayRepeating("board found", "board found at " + opened.device);
        watchNode(opened.node);
    } else if (news)
        say(openFailure(opened.status) + (location ? " at " + options.device : "") +
            "; looking again every " + std::to_string(options.searchMs) + " ms");
    lock.lock();
    if (!opened.handle) {
        changed |= status.board != BoardState::Absent;
        status.board = BoardState::Absent;
        nextSearch = Clock::now() + milliseconds(options.searchMs);
        return;
    }
    board = opened.handle;
    status.device = opened.device;
    if (status.board == BoardState::Absent) // one that was not answering must answer first
        status.board = BoardState::Present;
    image.startLoad();
    changed = true;
}

void BoardWorker::Impl::issue(std::unique_lock<std::mutex> &lock, const BoardImage::Step &step)
{
    const T_R_FieldDef &field = RdsUsbFields[step.field];
    ++status.requestsSent;
    if (step.write && !fields::isRamField(field))
        ++status.eepromWrites;
    lock.unlock();
    std::optional<fields::Image> bytes;
    int result;
    if (step.write) {
        result = writeBlock(board, field, step.block, step.bytes);
        if (result >= 0)
            bytes = step.bytes;
    } else {
        BlockReply reply = readBlock(board, field, step.block);
        result = reply.result;
        if (!reply.bytes.empty())
            bytes = std::move(reply.bytes);
    }
    lock.lock();
    if (!bytes)
        ++status.requestsFailed;
    if (result == -ENODEV || result == -ETIMEDOUT) {
        lose(lock, result == -ENODEV ? BoardState::Absent : BoardState::NotAnswering, result);
        return;
    }
    if (bytes)
        status.board = BoardState::Present;
    const bool wasLoading = image.loading();
    const Clock::time_point now = Clock::now();
    unsaved |= image.done(step, bytes, now);
    if (wasLoading && !image.loading()) {
        ++status.loads;
        nextVerify = now + verifyInterval(options);
    }
    changed = true;
    if (!bytes) {
        lock.unlock();
        sayRepeating("request failed", requestText(step, result));
        lock.lock();
    }
}

void BoardWorker::Impl::lose(std::unique_lock<std::mutex> &lock, BoardState state, int result)
{
    usb_dev_handle *const lost = board;
    const std::string device = status.device;
    board = nullptr;
    image.forget();
    status.board = state;
    status.device.clear();
    nextSearch = Clock::now() + milliseconds(options.searchMs);
    lastOpenStatus = -1;
    changed = true;
    lock.unlock();
    unwatchNode();
    usbCloseDevice(lost);
    const bool gone = state == BoardState::Absent;
    sayRepeating(gone ? "board gone" : "board not answering",
                 "board at " + device + (gone ? " gone" : " not answering") + " (" +
                     std::to_string(result) + "); looking again every " +
                     std::to_string(options.searchMs) + " ms");
    lock.lock();
}

// A failed save leaves the values unsaved, to be tried again later and at the stop.
void BoardWorker::Impl::save(std::unique_lock<std::mutex> &lock)
{
    const FieldImages asked = image.asked();
    unsaved = false; // asks from now on make it so again
    lock.unlock();
    std::string failure;
    try {
        writeStateFile(options.stateFile, asked);
    } catch (const std::exception &e) {
        failure = e.what();
    }
    lock.lock();
    if (failure.empty()) {
        nextSave = Clock::now() + saveInterval;
        if (std::exchange(saveFailures, 0) > 0) {
            status.stateUnsaved = false;
            changed = true;
            say(lock, "state file " + options.stateFile + " saved");
        }
        return;
    }
    unsaved = true;
    const milliseconds wait(static_cast<long>(options.saveRetryMs)
                            << std::min(saveFailures++, saveRetryDoublings));
    nextSave = Clock::now() + wait;
    changed |= !std::exchange(status.stateUnsaved, true);
    lock.unlock();
    sayRepeating("state file",
                 failure + "; trying again in " + std::to_string(wait.count()) + " ms");
    lock.lock();
}

void BoardWorker::Impl::watchNode(const std::string &path)
{
    node = path;
    const std::string folder = path.substr(0, path.find_last_of('/'));
    nodeWatch = nodeEvents.get() < 0
                    ? -1
                    : inotify_add_watch(nodeEvents.get(), folder.c_str(),
                                        IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF);
    if (nodeWatch < 0 && !std::exchange(nodeLooked, true))
        say("cannot watch " + folder + ": looking at the board's node every second");
}

void BoardWorker::Impl::unwatchNode()
{
    if (nodeWatch >= 0)
        inotify_rm_watch(nodeEvents.get(), nodeWatch);
    nodeWatch = -1;
}

// Reads the events waiting; whether one may concern the node.
bool BoardWorker::Impl::nodeChanged()
{
    const std::string name = node.substr(node.find_last_of('/') + 1);
    alignas(struct inotify_event) char buffer[4096];
    bool concerned = false;
    ssize_t length;
    while ((length = read(nodeEvents.get(), buffer, sizeof buffer)) > 0) {
        for (ssize_t at = 0; at < length;) {
            const auto *event = reinterpret_cast<const struct inotify_event *>(buffer + at);
            concerned = concerned ||
                        (event->mask & (IN_Q_OVERFLOW | IN_DELETE_SELF | IN_MOVE_SELF)) ||
                        (event->len > 0 && name == event->name);
            at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
        }
    }
    return concerned;
}

// Until something is asked, stop() is called, or the next timer is due: the
// search while there is no board, the verification, a retry, the state file.
void BoardWorker::Impl::waitForWork(std::unique_lock<std::mutex> &lock, Clock::time_point now)
{
    std::optional<Clock::time_point> deadline;
    const auto atLatest = [&](Clock::time_point t) {
        if (!deadline || t < *deadline)
            deadline = t;
    };
    if (!board)
        atLatest(nextSearch);
    else if (!image.reading() && verifyInterval(options).count() > 0)
        atLatest(nextVerify);
    if (const auto retry = image.retryAt(now))
        atLatest(*retry);
    if (unsaved && !options.stateFile.empty())
        atLatest(nextSave);
    const bool looking = board && nodeWatch < 0;
    if (looking)
        atLatest(now + nodeLook);
    if (stopping || changed)
        return;
    int timeout = -1;
    if (deadline)
        timeout = static_cast<int>(std::clamp<long>(
            std::chrono::ceil<milliseconds>(*deadline - Clock::now()).count(), 0, INT_MAX));
    lock.unlock();
    struct pollfd ready[2] = {{wake.get(), POLLIN, 0}, {nodeEvents.get(), POLLIN, 0}};
    poll(ready, board && nodeWatch >= 0 ? 2 : 1, timeout);
    eventfd_t ignored;
    eventfd_read(wake.get(), &ignored);
    bool look = looking;
    if (ready[1].revents & POLLIN)
        look = nodeChanged() || look;
    struct stat info {};
    const bool gone =
        look && board && stat(node.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
    lock.lock();
    if (gone)
        lose(lock, BoardState::Absent, -ENODEV);
}

BoardWorker::BoardWorker(WorkerOptions options) : impl_(std::make_unique<Impl>(std::move(options)))
{
}

BoardWorker::~BoardWorker()
{
    stop();
}

void BoardWorker::start()
{
    Impl &w = *impl_;
    if (!w.options.stateFile.empty()) {
        try {
            const StateContents saved = readStateFile(w.options.stateFile);
            for (const std::string &refusal : saved.refused)
                w.say("state file " + w.options.stateFile + ": " + refusal + "; left out");
            std::lock_guard lock(w.mutex);
            for (const auto &[field, image] : saved.asked)
                if (!w.image.snapshot(field).asked) // what was asked before start() is newer
                    w.image.ask(field, image);
        } catch (const std::exception &e) {
            w.say(std::string(e.what()) + "; ignored");
        }
    }
    w.thread = std::thread([&w] { w.run(); });
}

void BoardWorker::stop()
{
    Impl &w = *impl_;
    {
        std::lock_guard lock(w.mutex);
        if (!w.thread.joinable())
            return;
        w.stopping = true;
    }
    w.poke();
    w.thread.join();
    std::unique_lock lock(w.mutex);
    if (w.unsaved && !w.options.stateFile.empty())
        w.save(lock);
}

void BoardWorker::ask(const std::vector<std::pair<int, fields::Image>> &values)
{
    for (const auto &[field, image] : values)
        if (field < 0 || field >= RDS_USB_FIELD_COUNT ||
            image.size() != fields::imageSize(RdsUsbFields[field]))
            throw std::invalid_argument("no image of field " + std::to_string(field));
    bool any = false;
    {
        std::lock_guard lock(impl_->mutex);
        for (const auto &[field, image] : values)
            any |= impl_->image.ask(field, image);
        impl_->changed |= any;
        impl_->unsaved |= any;
    }
    if (any)
        impl_->poke();
}

void BoardWorker::unask(const std::vector<int> &fields)
{
    bool any = false;
    {
        std::lock_guard lock(impl_->mutex);
        for (const int field : fields)
            if (field >= 0 && field < RDS_USB_FIELD_COUNT)
                any |= impl_->image.unask(field);
        impl_->changed |= any;
        impl_->unsaved |= any;
    }
    if (any)
        impl_->poke();
}

Snapshot BoardWorker::fields() const
{
    Snapshot snapshot;
    std::lock_guard lock(impl_->mutex);
    for (int i = 0; i < RDS_USB_FIELD_COUNT; ++i)
        snapshot[i] = impl_->image.snapshot(i);
    return snapshot;
}

WorkerStatus BoardWorker::status() const
{
    std::lock_guard lock(impl_->mutex);
    WorkerStatus status = impl_->status;
    status.pendingWrites = impl_->image.pending();
    return status;
}

void BoardWorker::setListener(std::function<void()> listener)
{
    std::lock_guard lock(impl_->mutex);
    impl_->listener = std::move(listener);
}

} // namespace qd
