// Turns the reply to a GET_DESCRIPTOR(string) request into 8-bit text.
#ifndef USB_STRING_DESCRIPTOR_H
#define USB_STRING_DESCRIPTOR_H

#define USB_STRING_REPLY_SIZE 256

// reply: a buffer of USB_STRING_REPLY_SIZE bytes, of which the first `received`
// came from the device (a larger count is taken as the whole buffer).
// UTF-16 units U+0000 to U+00FF become that byte, every other unit "?".
// Stores at most buflen - 1 characters and a terminator; returns the number
// stored (0 for a reply that is not a string descriptor).
int usbStringDescriptorToAscii(const unsigned char *reply, int received, char *buf, int buflen);

#endif
