#include "BoardImage.h"

#include "FieldValues.h"

#include <algorithm>

namespace qd {

namespace {

constexpr std::chrono::milliseconds longestRetry{30000};

uint16_t allBlocks(int field)
{
    return static_cast<uint16_t>((1u << fields::blockCount(RdsUsbFields[field])) - 1);
}

int lowestBlock(uint16_t blocks)
{
    int block = 0;
    while (!(blocks & 1u << block))
        ++block;
    return block;
}

// Fields in the order their writes go: EEPROM before RAM, each in table order.
const std::array<int, RDS_USB_FIELD_COUNT> &writeOrder()
{
    static const std::array<int, RDS_USB_FIELD_COUNT> order = [] {
        std::array<int, RDS_USB_FIELD_COUNT> o{};
        for (int i = 0; i < RDS_USB_FIELD_COUNT; ++i)
            o[i] = i;
        std::stable_partition(o.begin(), o.end(),
                              [](int i) { return !fields::isRamField(RdsUsbFields[i]); });
        return o;
    }();
    return order;
}

} // namespace

BoardImage::BoardImage(std::chrono::milliseconds firstRetry, bool eepromPasses)
    : passes_(eepromPasses), firstRetry_(firstRetry)
{
    for (int i = 0; i < RDS_USB_FIELD_COUNT; ++i)
        fields_[i].held.assign(fields::imageSize(RdsUsbFields[i]), '\0');
}

bool BoardImage::ask(int field, const fields::Image &image)
{
    Field &f = fields_[field];
    f.order = ++asks_;
    if (f.asked == image)
        return false;
    f.asked = image;
    settlePass(field);
    return true;
}

bool BoardImage::unask(int field)
{
    Field &f = fields_[field];
    const bool had = f.asked.has_value();
    f.asked.reset();
    settlePass(field);
    return had;
}

void BoardImage::forget()
{
    for (Field &f : fields_) {
        f.known = f.toRead = 0;
        f.failures = 0;
        f.retryAt = {};
        if (f.writing) { // what it has not written yet lands on the board's return
            f.pass = true;
            f.passAt = {};
        }
        f.writing = false;
        f.written = 0;
    }
    loading_ = false;
}

void BoardImage::startLoad()
{
    for (int i = 0; i < RDS_USB_FIELD_COUNT; ++i)
        fields_[i].toRead = allBlocks(i);
    loading_ = true;
}

void BoardImage::startVerify()
{
    for (int i = 0; i < RDS_USB_FIELD_COUNT; ++i)
        if (fields::isRamField(RdsUsbFields[i]))
            fields_[i].toRead = allBlocks(i);
}

bool BoardImage::reading() const
{
    return std::any_of(fields_.begin(), fields_.end(),
                       [](const Field &f) { return f.toRead != 0; });
}

bool BoardImage::differs(const Field &f, int field, int block) const
{
    const size_t size = fields::blockSize(RdsUsbFields[field]);
    return !(f.known & 1u << block) ||
           f.held.compare(block * size, size, *f.asked, block * size, size) != 0;
}

std::optional<BoardImage::Step> BoardImage::next(Clock::time_point now) const
{
    const auto ready = [&](const Field &f) { return f.retryAt <= now; };
    const auto read = [](int field, uint16_t blocks) {
        return Step{field, lowestBlock(blocks), false, {}};
    };
    if (loading_) { // each block once, failed or not: no waiting
        for (int i = 0; i < RDS_USB_FIELD_COUNT; ++i)
            if (fields_[i].toRead)
                return read(i, fields_[i].toRead);
    }
    for (int i : writeOrder()) {
        const Field &f = fields_[i];
        if (!f.asked || !ready(f))
            continue;
        uint16_t blocks = allBlocks(i);
        if (passed(i)) {
            if (f.writing)
                blocks &= static_cast<uint16_t>(~f.written);
            else if (!f.pass || f.passAt > now)
                continue;
        }
        const size_t size = fields::blockSize(RdsUsbFields[i]);
        for (int block = 0; block < fields::blockCount(RdsUsbFields[i]); ++block)
            if (blocks & 1u << block && differs(f, i, block))
                return Step{i, block, true, f.asked->substr(block * size, size)};
    }
    for (int i = 0; i < RDS_USB_FIELD_COUNT; ++i) {
        const Field &f = fields_[i];
        const uint16_t unknown = f.asked ? 0 : allBlocks(i) & ~f.known;
        if ((f.toRead | unknown) && ready(f))
            return read(i, f.toRead | unknown);
    }
    return std::nullopt;
}

std::optional<BoardImage::Clock::time_point> BoardImage::retryAt(Clock::time_point now) const
{
    std::optional<Clock::time_point> earliest;
    const auto atLatest = [&](Clock::time_point t) {
        if (t > now && (!earliest || t < *earliest))
            earliest = t;
    };
    for (int i = 0; i < RDS_USB_FIELD_COUNT; ++i) {
        const Field &f = fields_[i];
        atLatest(f.retryAt);
        if (f.pass && f.asked)
            atLatest(f.passAt);
    }
    return earliest;
}

void BoardImage::store(int field, int block, const std::optional<fields::Image> &bytes)
{
    Field &f = fields_[field];
    const uint16_t bit = 1u << block;
    if (bytes) {
        f.held.replace(block * bytes->size(), bytes->size(), *bytes);
        f.known |= bit;
    } else {
        f.known &= ~bit;
    }
}

bool BoardImage::done(const Step &step, const std::optional<fields::Image> &bytes,
                      Clock::time_point now)
{
    Field &f = fields_[step.field];
    f.toRead &= ~(1u << step.block);
    store(step.field, step.block, bytes);
    if (step.write && bytes && passed(step.field)) {
        if (!f.writing) {
            f.pass = false;
            f.writing = true;
            f.written = 0;
        }
        f.written |= 1u << step.block;
        settlePass(step.field);
    }
    bool gaveWay = false;
    // The board writes an EEPROM text into RAM as well (or, failing, perhaps not).
    if (step.write)
        if (const T_R_FieldDef *copy = fields::ramCopyOf(RdsUsbFields[step.field])) {
            const int ram = static_cast<int>(copy - RdsUsbFields);
            store(ram, step.block, bytes);
            Field &r = fields_[ram];
            if (bytes && r.asked && r.order < f.order) {
                gaveWay = r.asked != f.asked;
                r.asked = f.asked;
                r.order = f.order;
            }
        }
    if (bytes) {
        f.failures = 0;
        f.retryAt = {};
    } else {
        const int doublings = std::min(f.failures++, 15);
        f.retryAt = now + std::min(longestRetry, firstRetry_ * (1 << doublings));
    }
    loading_ = loading_ && reading();
    return gaveWay;
}

bool BoardImage::dropHeldEepromAsks()
{
    bool dropped = false;
    for (int i = 0; i < RDS_USB_FIELD_COUNT; ++i) {
        Field &f = fields_[i];
        if (!fields::isRamField(RdsUsbFields[i]) && f.asked && f.known == allBlocks(i) &&
            f.held == *f.asked) {
            f.asked.reset();
            dropped = true;
        }
    }
    return dropped;
}

uint16_t BoardImage::differing(int field) const
{
    const Field &f = fields_[field];
    uint16_t blocks = 0;
    if (f.asked)
        for (int block = 0; block < fields::blockCount(RdsUsbFields[field]); ++block)
            if (differs(f, field, block))
                blocks |= 1u << block;
    return blocks;
}

bool BoardImage::passed(int field) const
{
    return passes_ && !fields::isRamField(RdsUsbFields[field]);
}

void BoardImage::settlePass(int field)
{
    Field &f = fields_[field];
    if (f.writing && !(differing(field) & ~f.written)) {
        f.writing = false;
        f.written = 0;
    }
}

void BoardImage::grantPass(int field, Clock::time_point at)
{
    Field &f = fields_[field];
    if (!f.pass) {
        f.pass = true;
        f.passAt = at;
    }
}

std::vector<int> BoardImage::dropNeedlessPasses()
{
    std::vector<int> dropped;
    for (int i = 0; i < RDS_USB_FIELD_COUNT; ++i) {
        Field &f = fields_[i];
        if (f.pass && !differing(i)) {
            f.pass = false;
            dropped.push_back(i);
        }
    }
    return dropped;
}

FieldSnapshot BoardImage::snapshot(int field) const
{
    const Field &f = fields_[field];
    FieldSnapshot s;
    if (f.known == allBlocks(field))
        s.held = f.held;
    s.asked = f.asked;
    return s;
}

int BoardImage::pending() const
{
    int count = 0;
    for (int i = 0; i < RDS_USB_FIELD_COUNT; ++i)
        count += snapshot(i).pending();
    return count;
}

std::vector<std::pair<int, fields::Image>> BoardImage::asked() const
{
    std::vector<std::pair<int, fields::Image>> images;
    for (int i = 0; i < RDS_USB_FIELD_COUNT; ++i)
        if (fields_[i].asked)
            images.emplace_back(i, *fields_[i].asked);
    return images;
}

} // namespace qd
