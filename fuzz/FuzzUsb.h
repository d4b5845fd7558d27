// What every fuzz target links: a stand-in for libusb's usb_control_msg, in
// place of the library's, through which every control transfer of the code
// under test goes to the handler the target installs (the stand-in itself
// aborts on a frame no request of the board has: another request type,
// length or time-out, a value or index beyond 16 bits); standard output
// silenced; the fuzzer's bytes read from the front; and check().
#ifndef FUZZ_USB_H
#define FUZZ_USB_H

#include "SimBoard.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>

namespace fuzzusb {

// request, value, index, reply buffer (8 bytes); returns the transfer's result.
using Handler = std::function<int(int request, int value, int index, uint8_t *reply)>;
void setHandler(Handler handler);

// The fuzzer's bytes, read from the front; zeros once they run out.
class Input {
public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    int int32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; i++)
            v = v << 8 | byte();
        return static_cast<int>(v);
    }
    size_t left() const { return size_ - pos_; }
    const uint8_t *rest() const { return data_ + pos_; }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

// Faults for the next requests sent to `board`, from one byte each of `in`:
// 0-191 none, 192-223 a failure (-32, -110 or -19 by the low bits), 224-255 a
// short reply of 0 to 7 bytes (no failure).
void scheduleFaults(sim::Board &board, Input &in, int requests);

// A property every input must keep: the fuzzer reports its breach as a crash.
inline void check(bool holds)
{
    if (!holds)
        abort();
}

// Whether `code` is one of the board's write requests (the EEPROM reset aside).
bool isWriteCode(int code);

} // namespace fuzzusb

#endif
