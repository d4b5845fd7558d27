// A model of the board's firmware: RAM and EEPROM stores, factory defaults,
// the vendor request set, a request log and injected faults. Knows nothing of
// USB transport; SimTestbed serves it to libusb through umockdev.
#ifndef SIM_BOARD_H
#define SIM_BOARD_H

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace sim {

// One vendor request as the board saw it. result: bytes answered, or -errno.
struct Request {
    uint8_t code;
    uint16_t value;
    uint16_t index;
    int result;
};

// The fields kept in both stores.
struct RdsData {
    uint8_t ps[8];
    uint8_t rt[64];
    uint8_t pty, tp, ta, ms, di;
};

struct Eeprom : RdsData {
    uint16_t pi;
    uint8_t naf;
    uint8_t af[25]; // AF codes
    uint8_t group2a;
    uint8_t stereo;
};

// How a fault picks its requests (1-based count of vendor requests), and what
// the board then does.
struct Fault {
    enum Kind {
        Error,  // fail with -error
        Short,  // answer only `bytes` bytes (the rest of the host's buffer is untouched)
        Unplug, // from the request on, every request fails with -ENODEV
        Hang,   // from the request on, every request fails with -ETIMEDOUT after delayMs
        Glitch, // a power glitch just before the request: RAM takes the EEPROM values
    } kind = Error;
    int at = 0;      // the request number (Unplug, Hang: from it on); 0: use code
    int code = -1;   // with at == 0: every request with this code
    int error = 32;  // Error: errno (EPIPE, a stall)
    int bytes = 0;   // Short
    int delayMs = 0; // Hang
};

class Board {
public:
    Board(); // factory defaults in EEPROM, copied into RAM

    static Eeprom factoryDefaults();

    // Answers one vendor control-IN request into reply (capacity len). Returns
    // the number of bytes answered or -errno. Thread-safe.
    // Writes answer eight zero bytes; an EEPROM PS or RadioText part written
    // goes into RAM as well. The EEPROM reset (0x04) leaves RAM as it is.
    // Codes outside the request set, and AF numbers above 24, stall (-EPIPE).
    int handle(uint8_t code, uint16_t value, uint16_t index, uint8_t *reply, int len);

    void addFault(const Fault &fault);
    void clearFaults(); // also ends an unplug or hang in progress
    bool unplugged() const;
    // Off and on again, as when plugged in anew: RAM takes the EEPROM values,
    // and an unplug or hang in progress ends (its fault is dropped).
    void powerCycle();
    // A power glitch now: RAM takes the EEPROM values; the board stays on the bus.
    void powerGlitch();
    int powerCycles() const; // so far

    std::vector<Request> log() const;
    void clearLog();
    // Called with each request as it is logged, on the thread that handled it.
    void setListener(std::function<void(const Request &)> listener);

    // Direct access to the stores, for setting up and checking tests.
    RdsData ram() const;
    Eeprom eeprom() const;
    void setRam(const RdsData &data);
    void setEeprom(const Eeprom &data);

private:
    mutable std::mutex mutex_;
    RdsData ram_;
    Eeprom eeprom_;
    std::vector<Fault> faults_;
    std::vector<Request> log_;
    std::function<void(const Request &)> listener_;
    int requests_ = 0; // vendor requests handled so far
    bool unplugged_ = false;
    int hangMs_ = -1; // from a Hang fault on: its delay
    int powerCycles_ = 0;

    struct Outcome;
    Outcome decide(uint8_t code);
    bool execute(uint8_t code, uint16_t value, uint16_t index, uint8_t *out);
};

} // namespace sim

#endif
