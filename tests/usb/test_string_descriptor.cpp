// String descriptor replies turned into 8-bit text, without a device.
#include "usbStringDescriptor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes descriptor(const std::u16string &text, int length = -1)
{
    Bytes bytes{static_cast<unsigned char>(length < 0 ? 2 + 2 * text.size() : length), 3};
    for (char16_t unit : text)
        bytes.insert(bytes.end(), {static_cast<unsigned char>(unit & 0xFF),
                                   static_cast<unsigned char>(unit >> 8)});
    return bytes;
}

const Bytes full = descriptor(std::u16string(127, u'A'), 255); // the largest reply

struct Case {
    Bytes reply;
    int received, buflen, result;
    std::string text;
};

// Length byte, received count and buffer size each limit the text; a unit
// above 0xFF shows as '?'; a reply that is no string descriptor is empty.
const Case cases[] = {
    {descriptor(u"Quorvel 1.2"), 24, 256, 11, "Quorvel 1.2"},
    {descriptor(u"caf\u00e9 \u20ac"), 14, 256, 6, "caf\xe9 ?"},
    {descriptor(u"ABCDEF", 6), 14, 256, 2, "AB"},
    {descriptor(u"ABCDEF", 7), 14, 256, 2, "AB"}, // the half unit is dropped
    {descriptor(u"ABCDEF", 255), 8, 256, 3, "ABC"},
    {descriptor(u"ABCDEF", 255), 9, 256, 3, "ABC"},
    {{4, 1, 'A', 0}, 4, 256, 0, ""}, // a device descriptor's type
    {{4}, 1, 256, 0, ""},
    {{}, 0, 256, 0, ""},
    {full, 100000, 256, 126, std::string(126, 'A')}, // a count beyond the buffer is the buffer
    {full, 256, 5, 4, "AAAA"},
    {full, 256, 1, 0, ""},
    {full, -5, 256, 0, ""},
};

TEST(StringDescriptor, TextWithinTheLengthByteTheCountAndTheBuffer)
{
    for (const Case &c : cases) {
        unsigned char reply[USB_STRING_REPLY_SIZE] = {};
        std::copy(c.reply.begin(), c.reply.end(), reply);
        std::vector<char> buf(c.buflen, 'X');
        EXPECT_EQ(usbStringDescriptorToAscii(reply, c.received, buf.data(), c.buflen), c.result)
            << c.text;
        EXPECT_EQ(std::string(buf.data()), c.text);
    }
    char untouched = 'X';
    EXPECT_EQ(usbStringDescriptorToAscii(full.data(), 256, &untouched, 0), 0);
    EXPECT_EQ(untouched, 'X');
}

} // namespace
