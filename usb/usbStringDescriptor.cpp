#include "usbStringDescriptor.h"

#include <cstddef>

int usbStringDescriptorToAscii(const unsigned char *reply, int received, char *buf, int buflen)
{
    if (buflen <= 0)
        return 0;
    if (received > USB_STRING_REPLY_SIZE)
        received = USB_STRING_REPLY_SIZE;
    if (received < 2 || reply[1] != 3) { // bDescriptorType STRING
        buf[0] = 0;
        return 0;
    }
    int length = received;
    if (reply[0] < length) // bLength
        length = reply[0];
    const int units = length / 2; // the first unit is the header
    int stored = 0;
    for (int i = 1; i < units && stored < buflen - 1; i++) {
        const unsigned char *unit = &reply[static_cast<size_t>(i) * 2]; // UTF-16LE
        buf[stored++] = unit[1] ? '?' : static_cast<char>(unit[0]);
    }
    buf[stored] = 0;
    return stored;
}
