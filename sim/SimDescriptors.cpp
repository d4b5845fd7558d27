#include "SimDescriptors.h"

#include <algorithm>

namespace sim {

namespace {

constexpr uint8_t dtDevice = 1, dtConfig = 2, dtString = 3, dtInterface = 4, dtEndpoint = 5;
constexpr uint8_t deviceLength = 18, configLength = 9, interfaceLength = 9, endpointLength = 7;
constexpr uint16_t usEnglish = 0x0409;

uint8_t lo(uint16_t v)
{
    return v & 0xFF;
}
uint8_t hi(uint16_t v)
{
    return v >> 8;
}

} // namespace

std::vector<uint8_t> nodeContent(uint16_t vendor, uint16_t product)
{
    constexpr uint16_t totalLength = configLength + interfaceLength + endpointLength;
    // A line per descriptor.
    // clang-format off
    return {
        // device: USB 1.1, class per interface, EP0 8 bytes, release 1.00
        deviceLength, dtDevice, 0x10, 0x01, 0x00, 0x00, 0x00, 8,
        lo(vendor), hi(vendor), lo(product), hi(product), 0x00, 0x01,
        1, 2, 0, // iManufacturer, iProduct, iSerialNumber
        1,       // bNumConfigurations
        // configuration 1: one interface, bus-powered, 100 mA
        configLength, dtConfig, lo(totalLength), hi(totalLength), 1, 1, 0, 0x80, 50,
        // interface 0: vendor class, one endpoint
        interfaceLength, dtInterface, 0, 0, 1, 0xFF, 0x00, 0x00, 0,
        // endpoint 1 IN, interrupt, 8 bytes, every 10 ms
        endpointLength, dtEndpoint, 0x81, 0x03, 8, 0, 10,
    };
    // clang-format on
}

std::vector<uint8_t> languageList()
{
    return {4, dtString, lo(usEnglish), hi(usEnglish)};
}

std::vector<uint8_t> stringDescriptor(const std::string &text)
{
    const size_t n = std::min<size_t>(text.size(), 126);
    std::vector<uint8_t> d{static_cast<uint8_t>(2 + 2 * n), dtString};
    for (size_t i = 0; i < n; ++i) {
        d.push_back(static_cast<uint8_t>(text[i]));
        d.push_back(0);
    }
    return d;
}

std::string upperHex(const std::vector<uint8_t> &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (uint8_t b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 0xF];
    }
    return hex;
}

} // namespace sim
