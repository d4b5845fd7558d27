#include "SimBoard.h"

#include "rds_usb.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace sim {

namespace {

constexpr uint8_t readBit = 0x80;
constexpr uint8_t eepromBit = 0x40; // of a code kept in both stores

// The small fields, in code order from PTY (0x23 / 0x63) on.
constexpr uint8_t RdsData::*smallFields[] = {
    &RdsData::pty, &RdsData::tp, &RdsData::ta, &RdsData::ms, &RdsData::di,
};

void setText(uint8_t *text, const char *from, size_t length, uint8_t pad)
{
    const size_t n = std::min(std::strlen(from), length);
    std::copy_n(from, n, text); // a field of the board, not a C string
    std::memset(text + n, pad, length - n);
}

// Four characters: value high, value low, index high, index low.
void unpackChars(uint16_t value, uint16_t index, uint8_t *to)
{
    to[0] = value >> 8;
    to[1] = value & 0xFF;
    to[2] = index >> 8;
    to[3] = index & 0xFF;
}

} // namespace

struct Board::Outcome {
    int error = 0;                  // errno failing the request, or 0
    int bytes = RDS_USB_REPLY_SIZE; // bytes answered at most
    int delayMs = 0;                // before failing
};

Eeprom Board::factoryDefaults()
{
    Eeprom e{};
    setText(e.ps, "QUORVEL ", sizeof e.ps, ' ');
    setText(e.rt, "Quorvel RDS encoder - simulated board", sizeof e.rt, 0x0D);
    e.pty = 10;
    e.tp = 1;
    e.ta = 0;
    e.ms = 1;
    e.di = 1;
    e.pi = 0xC201;
    const uint8_t afs[] = {1, 110, 136, 168, 204}; // 87.6 98.5 101.1 104.3 107.9 MHz
    std::copy(std::begin(afs), std::end(afs), e.af);
    e.naf = sizeof afs;
    e.group2a = 4;
    e.stereo = 1;
    return e;
}

Board::Board() : ram_(factoryDefaults()), eeprom_(factoryDefaults())
{
}

int Board::handle(uint8_t code, uint16_t value, uint16_t index, uint8_t *reply, int len)
{
    std::unique_lock lock(mutex_);
    const Outcome outcome = decide(code);
    int result = -outcome.error;
    if (outcome.delayMs > 0) {
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(outcome.delayMs));
        lock.lock();
    } else if (outcome.error == 0) {
        uint8_t out[RDS_USB_REPLY_SIZE] = {};
        if (execute(code, value, index, out)) {
            result = std::max(0, std::min({len, RDS_USB_REPLY_SIZE, outcome.bytes}));
            if (result > 0)
                std::memcpy(reply, out, result);
        } else {
            result = -EPIPE;
        }
    }
    const Request request{code, value, index, result};
    log_.push_back(request);
    const auto listener = listener_;
    lock.unlock();
    if (listener)
        listener(request);
    return result;
}

// Applies the faults to the next request. Unplug and Hang stay from the
// request that triggers them on.
Board::Outcome Board::decide(uint8_t code)
{
    const int n = ++requests_;
    Outcome outcome;
    for (const Fault &f : faults_) {
        const bool fromOn = f.kind == Fault::Unplug || f.kind == Fault::Hang;
        const bool hit = f.at > 0 ? (fromOn ? n >= f.at : n == f.at) : f.code == code;
        if (!hit)
            continue;
        switch (f.kind) {
        case Fault::Error:
            if (outcome.error == 0)
                outcome.error = f.error;
            break;
        case Fault::Short: outcome.bytes = std::min(outcome.bytes, f.bytes); break;
        case Fault::Unplug: unplugged_ = true; break;
        case Fault::Hang:
            if (hangMs_ < 0)
                hangMs_ = f.delayMs;
            break;
        case Fault::Glitch: ram_ = eeprom_; break;
        }
    }
    if (unplugged_)
        return {ENODEV, 0, 0};
    if (hangMs_ >= 0)
        return {ETIMEDOUT, 0, hangMs_};
    return outcome;
}

// Carries out a request of the table into the 8-byte reply `out`; false for a
// code (or AF number) outside it.
bool Board::execute(uint8_t code, uint16_t value, uint16_t index, uint8_t *out)
{
    const bool read = code & readBit;
    const uint8_t write = code & ~readBit;

    auto byteField = [&](uint8_t &field) {
        if (read)
            out[0] = field;
        else
            field = value & 0xFF;
        return true;
    };

    switch (write) {
    case RDS_USB_WRITE_2A_E2P: return byteField(eeprom_.group2a);
    case RDS_USB_WRITE_ST_E2P: return byteField(eeprom_.stereo);
    case RDS_USB_RESET_E2P:
        if (read)
            return false;
        eeprom_ = factoryDefaults();
        return true;
    case RDS_USB_WRITE_PI_E2P:
        if (read) {
            out[0] = eeprom_.pi >> 8;
            out[1] = eeprom_.pi & 0xFF;
        } else {
            eeprom_.pi = value;
        }
        return true;
    case RDS_USB_WRITE_NAF_E2P: return byteField(eeprom_.naf);
    case RDS_USB_WRITE_AF_E2P: {
        const uint16_t n = read ? value : index;
        return n < RDS_USB_AF_COUNT && byteField(eeprom_.af[n]);
    }
    }

    // Fields kept in both stores.
    const bool eeprom = write & eepromBit;
    RdsData &store = eeprom ? static_cast<RdsData &>(eeprom_) : ram_;
    const uint8_t ramCode = write & ~eepromBit;

    uint8_t *text = nullptr, *ramText = nullptr;
    if (ramCode >= RDS_USB_WRITE_PS1_RAM && ramCode <= RDS_USB_WRITE_PS2_RAM) {
        const int offset = (ramCode - RDS_USB_WRITE_PS1_RAM) * 4;
        text = store.ps + offset;
        ramText = ram_.ps + offset;
    } else if (ramCode >= RDS_USB_WRITE_RT_RAM && ramCode <= RDS_USB_WRITE_RT_RAM_LAST) {
        const int offset = (ramCode - RDS_USB_WRITE_RT_RAM) * 4;
        text = store.rt + offset;
        ramText = ram_.rt + offset;
    } else if (ramCode >= RDS_USB_WRITE_PTY_RAM && ramCode <= RDS_USB_WRITE_DI_RAM) {
        return byteField(store.*smallFields[ramCode - RDS_USB_WRITE_PTY_RAM]);
    } else {
        return false;
    }

    if (read) {
        std::memcpy(out, text, 4);
    } else {
        unpackChars(value, index, text);
        if (eeprom) // the board sends an EEPROM text written at once
            std::memcpy(ramText, text, 4);
    }
    return true;
}

void Board::addFault(const Fault &fault)
{
    std::lock_guard lock(mutex_);
    faults_.push_back(fault);
}

void Board::clearFaults()
{
    std::lock_guard lock(mutex_);
    faults_.clear();
    unplugged_ = false;
    hangMs_ = -1;
}

void Board::powerCycle()
{
    std::lock_guard lock(mutex_);
    ram_ = eeprom_;
    std::erase_if(faults_,
                  [](const Fault &f) { return f.kind == Fault::Unplug || f.kind == Fault::Hang; });
    unplugged_ = false;
    hangMs_ = -1;
    ++powerCycles_;
}

void Board::powerGlitch()
{
    std::lock_guard lock(mutex_);
    ram_ = eeprom_;
}

int Board::powerCycles() const
{
    std::lock_guard lock(mutex_);
    return powerCycles_;
}

bool Board::unplugged() const
{
    std::lock_guard lock(mutex_);
    return unplugged_;
}

std::vector<Request> Board::log() const
{
    std::lock_guard lock(mutex_);
    return log_;
}

void Board::clearLog()
{
    std::lock_guard lock(mutex_);
    log_.clear();
}

void Board::setListener(std::function<void(const Request &)> listener)
{
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

RdsData Board::ram() const
{
    std::lock_guard lock(mutex_);
    return ram_;
}

Eeprom Board::eeprom() const
{
    std::lock_guard lock(mutex_);
    return eeprom_;
}

void Board::setRam(const RdsData &data)
{
    std::lock_guard lock(mutex_);
    ram_ = data;
}

void Board::setEeprom(const Eeprom &data)
{
    std::lock_guard lock(mutex_);
    eeprom_ = data;
}

} // namespace sim
