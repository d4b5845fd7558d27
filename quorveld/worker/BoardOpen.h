// Finding and opening the board through the USB link: the first one found, or
// the one at a given place on the buses.
#ifndef QUORVELD_BOARD_OPEN_H
#define QUORVELD_BOARD_OPEN_H

#include <usb.h>

#include <optional>
#include <string>

namespace qd {

struct BoardLocation {
    int bus;
    int device;
};

// "001/007" or "1/7"; nothing for an empty text. Throws std::invalid_argument.
std::optional<BoardLocation> parseBoardLocation(const std::string &text);

struct OpenedBoard {
    int status = 0;                   // usbOpenDevice's
    usb_dev_handle *handle = nullptr; // on USB_OPEN_OK
    std::string device;               // BUS/DEV as libusb names it: "001/007"
    std::string node;                 // its device node: "/dev/bus/usb/001/007"
};

OpenedBoard openBoard(const std::optional<BoardLocation> &at);

// Why a board could not be opened, for people.
std::string openFailure(int status);

} // namespace qd

#endif
