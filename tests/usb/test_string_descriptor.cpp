// String descriptor replies turned into 8-bit text, without a device.
#include "usbStringDescriptor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Parsed {
    int result;
    std::string text;
};

Parsed parse(const std::vector<unsigned char> &bytes, int received, int buflen = 256)
{
    unsigned char reply[USB_STRING_REPLY_SIZE] = {};
    std::copy(bytes.begin(), bytes.end(), reply);
    std::vector<char> buf(buflen > 0 ? buflen : 1, 'X');
    int result = usbStringDescriptorToAscii(reply, received, buf.data(), buflen);
    return {result, buflen > 0 ? std::string(buf.data()) : std::string()};
}

std::vector<unsigned char> descriptor(const std::u16string &text)
{
    std::vector<unsigned char> bytes{static_cast<unsigned char>(2 + 2 * text.size()), 3};
    for (char16_t unit : text) {
        bytes.push_back(unit & 0xFF);
        bytes.push_back(unit >> 8);
    }
    return bytes;
}

TEST(StringDescriptor, WellFormedTextAsLatin1)
{
    auto bytes = descriptor(u"Quorvel 1.2");
    Parsed p = parse(bytes, bytes.size());
    EXPECT_EQ(p.result, 11);
    EXPECT_EQ(p.text, "Quorvel 1.2");

    bytes = descriptor(u"caf\u00e9 \u20ac");
    p = parse(bytes, bytes.size());
    EXPECT_EQ(p.text, "caf\xe9 ?"); // U+00E9 stays a byte, U+20AC has no 8-bit form
}

TEST(StringDescriptor, LengthByteLimitsTheUnits)
{
    auto bytes = descriptor(u"ABCDEF");
    bytes[0] = 6; // header and two units
    EXPECT_EQ(parse(bytes, bytes.size()).text, "AB");
    bytes[0] = 7; // an odd length drops the half unit
    EXPECT_EQ(parse(bytes, bytes.size()).text, "AB");
    bytes[0] = 255; // longer than what came: the received count wins
    EXPECT_EQ(parse(bytes, 8).text, "ABC");
    EXPECT_EQ(parse(bytes, 9).text, "ABC");
}

TEST(StringDescriptor, NotAStringDescriptorIsEmpty)
{
    auto bytes = descriptor(u"AB");
    bytes[1] = 1; // a device descriptor's type
    Parsed p = parse(bytes, bytes.size());
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.text, "");
    p = parse({4}, 1); // fewer than two bytes
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.text, "");
    EXPECT_EQ(parse({}, 0).text, "");
}

TEST(StringDescriptor, StaysWithinBothBuffers)
{
    std::vector<unsigned char> full(USB_STRING_REPLY_SIZE, 'A');
    full[0] = 255;
    full[1] = 3;
    for (size_t i = 3; i < full.size(); i += 2)
        full[i] = 0;
    Parsed p = parse(full, 100000); // a count beyond the buffer is the buffer
    EXPECT_EQ(p.result, 126);       // 255 bytes: header and 126 whole units
    p = parse(full, USB_STRING_REPLY_SIZE, 5);
    EXPECT_EQ(p.result, 4);
    EXPECT_EQ(p.text, "AAAA");
    EXPECT_EQ(parse(full, USB_STRING_REPLY_SIZE, 1).result, 0);
    EXPECT_EQ(parse(full, USB_STRING_REPLY_SIZE, 0).result, 0);
    EXPECT_EQ(parse(full, -5).result, 0);
}

} // namespace
