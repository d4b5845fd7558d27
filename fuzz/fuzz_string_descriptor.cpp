// A string descriptor reply of any bytes and any received count, converted
// into a text buffer of any size: nothing is read beyond the bytes received,
// nothing written beyond the buffer, and the text is terminated.
#include "FuzzUsb.h"
#include "usbStringDescriptor.h"

#include <sanitizer/asan_interface.h>

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzusb::Input in(data, size);
    const int received = in.int32();
    const int buflen = in.int32();
    const size_t replyBytes = std::min<size_t>(in.left(), USB_STRING_REPLY_SIZE);

    // The reply buffer as usbGetStringAscii has it: 256 bytes, of which only
    // the first `received` may be looked at.
    static unsigned char reply[USB_STRING_REPLY_SIZE];
    std::memset(reply, 0xEE, sizeof reply);
    std::memcpy(reply, in.rest(), replyBytes);
    const int readable = received < 0 ? 0 : std::min(received, USB_STRING_REPLY_SIZE);
    ASAN_POISON_MEMORY_REGION(reply + readable, sizeof reply - readable);

    // A text buffer of exactly buflen bytes (a few hundred at most; a larger
    // buflen gets a buffer one byte longer than any text can need).
    const int capacity = buflen < 0 ? 0 : std::min(buflen, USB_STRING_REPLY_SIZE / 2 + 1);
    std::vector<char> text(capacity, 'X');
    const int n = usbStringDescriptorToAscii(reply, received, capacity ? text.data() : nullptr,
                                             buflen > capacity ? capacity : buflen);
    ASAN_UNPOISON_MEMORY_REGION(reply, sizeof reply);

    // Units after the header that fit the length byte, the count and the buffer.
    const int units = readable >= 2 && reply[1] == 3 ? std::min<int>(readable, reply[0]) / 2 : 0;
    const int expected = capacity > 0 ? std::max(0, std::min(units - 1, capacity - 1)) : 0;
    fuzzusb::check(n == expected && (capacity == 0 || text[n] == 0));
    for (int i = 0; i < n; i++) {
        const bool wide = reply[2 * i + 3] != 0;
        fuzzusb::check(text[i] == (wide ? '?' : static_cast<char>(reply[2 * i + 2])));
    }
    return 0;
}
