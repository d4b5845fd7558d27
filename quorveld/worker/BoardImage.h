// What the board holds beside what was asked for, field by field and block by
// block, and the next request that brings the two together: the load's reads
// first, then the writes (EEPROM fields before RAM ones, since the board
// copies an EEPROM text into RAM), then reads of what is unknown or due for
// verification. Outside the load, a field whose request failed waits before
// its next one, twice as long after each failure. With passes, an EEPROM
// field is written only in a pass its owner granted: from its start time,
// each block of the field at most once. Not thread-safe: its owner guards it.
#ifndef QUORVELD_BOARD_IMAGE_H
#define QUORVELD_BOARD_IMAGE_H

#include "FieldSnapshot.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace qd {

class BoardImage {
public:
    using Clock = std::chrono::steady_clock;

    struct Step {
        int field; // index in RdsUsbFields
        int block;
        bool write;
        fields::Image bytes; // a write's block
    };

    explicit BoardImage(std::chrono::milliseconds firstRetry, bool eepromPasses = false);

    // false when `image` is already what is asked for. Each ask is later
    // than the ones before, even when it changes nothing.
    bool ask(int field, const fields::Image &image);
    // Asks no longer: the board keeps what it holds. false when nothing was asked.
    bool unask(int field);
    // The board is gone: nothing of it is known, nothing waits.
    void forget();
    // Every block to be read, before any write.
    void startLoad();
    bool loading() const { return loading_; }
    // Every RAM block to be read again, after the writes.
    void startVerify();
    // Reads of the load or of a verification still to make.
    bool reading() const;

    // The request to make now, if any.
    std::optional<Step> next(Clock::time_point now) const;
    // The earliest moment after `now` at which a field that waits after a
    // failure may make its request.
    std::optional<Clock::time_point> retryAt(Clock::time_point now) const;
    // The outcome of `step`: the block as read or written, or nothing when
    // the request failed (the block is then unknown). The board copies an
    // EEPROM PS name or RadioText it is written into its RAM: a RAM ask older
    // than the EEPROM one gives way to it, so that the older text is not
    // written back. true when that changed an ask.
    bool done(const Step &step, const std::optional<fields::Image> &bytes, Clock::time_point now);
    // Forgets the EEPROM asks the board holds (the EEPROM keeps them); true
    // when it forgot any.
    bool dropHeldEepromAsks();

    // A pass of writes of an EEPROM field, from `at`; one granted and not
    // started stays as it was.
    void grantPass(int field, Clock::time_point at);
    // Granted and not started: a write that succeeds starts it.
    bool passGranted(int field) const { return fields_[field].pass; }
    // Withdraws the passes granted that have nothing to write; their fields.
    std::vector<int> dropNeedlessPasses();

    FieldSnapshot snapshot(int field) const;
    int pending() const;
    std::vector<std::pair<int, fields::Image>> asked() const;

private:
    struct Field {
        fields::Image held;  // what the board holds, where `known`
        uint16_t known = 0;  // blocks of `held` that are the board's
        uint16_t toRead = 0; // blocks to read: load or verification
        std::optional<fields::Image> asked;
        uint64_t order = 0; // of the last ask: later asks have higher numbers
        int failures = 0;   // requests failed in a row
        Clock::time_point retryAt{};
        bool pass = false; // granted, not started
        Clock::time_point passAt{};
        bool writing = false; // a pass under way
        uint16_t written = 0; // the blocks it wrote
    };

    bool differs(const Field &f, int field, int block) const;
    // Blocks that differ from what is asked.
    uint16_t differing(int field) const;
    bool passed(int field) const;
    // A pass under way ends once no block it has not written differs.
    void settlePass(int field);
    void store(int field, int block, const std::optional<fields::Image> &bytes);

    std::array<Field, RDS_USB_FIELD_COUNT> fields_;
    bool loading_ = false;
    const bool passes_;
    uint64_t asks_ = 0; // made so far
    std::chrono::milliseconds firstRetry_;
};

} // namespace qd

#endif
