// USB descriptors of a simulated device, byte for byte as the host sees them.
#ifndef SIM_DESCRIPTORS_H
#define SIM_DESCRIPTORS_H

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// What read() of the device's usbdevfs node returns: the device descriptor
// (strings 1 manufacturer, 2 product; one configuration), then configuration 1
// with one vendor-class interface and no endpoints.
std::vector<uint8_t> nodeContent(uint16_t vendor, uint16_t product);

// String descriptor 0: the supported languages, US English only.
std::vector<uint8_t> languageList();

// A string descriptor holding `text`, each byte taken as a Latin-1 character
// (UTF-16LE units U+0000 to U+00FF), cut to the 126 characters that fit.
std::vector<uint8_t> stringDescriptor(const std::string &text);

// Upper-case hex digits, as umockdev's device records want them.
std::string upperHex(const std::vector<uint8_t> &bytes);

} // namespace sim

#endif
