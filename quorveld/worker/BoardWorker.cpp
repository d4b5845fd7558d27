#include "BoardWorker.h"

#include "BlockRequests.h"
#include "BoardImage.h"
#include "BoardOpen.h"
#include "FieldValues.h"
#include "StateFile.h"
#include "usbInterface.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace qd {

namespace {

using Clock = BoardImage::Clock;
using std::chrono::milliseconds;

constexpr milliseconds saveInterval{1000};

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
    }

    const WorkerOptions options;
    const std::optional<BoardLocation> location;
    std::function<void()> listener;

    mutable std::mutex mutex;
    std::condition_variable wake;
    BoardImage image;
    WorkerStatus status;
    bool stopping = false;
    bool changed = false; // since the listener last ran
    bool unsaved = false; // asked images not yet in the state file
    std::thread thread;

    // The worker's thread only.
    usb_dev_handle *board = nullptr;
    int lastOpenStatus = -1;
    Clock::time_point nextSearch{}, nextVerify{}, nextSave{};

    void run();
    void search(std::unique_lock<std::mutex> &lock);
    void issue(std::unique_lock<std::mutex> &lock, const BoardImage::Step &step);
    void lose(std::unique_lock<std::mutex> &lock, BoardState state, int result);
    void save(std::unique_lock<std::mutex> &lock);
    void waitForWork(std::unique_lock<std::mutex> &lock, Clock::time_point now);
    void say(std::unique_lock<std::mutex> &lock, const std::string &message);
    void say(const std::string &message) const;
};

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
    usbCloseDevice(board);
    board = nullptr;
}

void BoardWorker::Impl::search(std::unique_lock<std::mutex> &lock)
{
    lock.unlock();
    const OpenedBoard opened = openBoard(location);
    const bool news = opened.status != lastOpenStatus;
    lastOpenStatus = opened.status;
    if (opened.handle)
        say("board found at " + opened.device);
    else if (news)
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
    if (!bytes)
        say(lock, requestText(step, result));
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
    usbCloseDevice(lost);
    say("board at " + device + (state == BoardState::Absent ? " gone" : " not answering") + " (" +
        std::to_string(result) + "); looking again every " + std::to_string(options.searchMs) +
        " ms");
    lock.lock();
}

void BoardWorker::Impl::save(std::unique_lock<std::mutex> &lock)
{
    const FieldImages asked = image.asked();
    unsaved = false;
    nextSave = Clock::now() + saveInterval;
    lock.unlock();
    try {
        writeStateFile(options.stateFile, asked);
    } catch (const std::exception &e) {
        say(e.what());
    }
    lock.lock();
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
    const auto woken = [this] { return stopping || changed; };
    if (deadline)
        wake.wait_until(lock, *deadline, woken);
    else
        wake.wait(lock, woken);
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
            const FieldImages saved = readStateFile(w.options.stateFile);
            std::lock_guard lock(w.mutex);
            for (const auto &[field, image] : saved)
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
    w.wake.notify_all();
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
        impl_->wake.notify_one();
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
        impl_->wake.notify_one();
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
