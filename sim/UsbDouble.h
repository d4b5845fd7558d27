// The simulated board behind a link-time double of the libusb 0.1 calls the
// USB link makes, for what umockdev cannot serve: a usb_open that gives no
// handle, counting library calls, frames as the library receives them, and
// answers without a kernel round trip. Link quorvel_usb_double into an
// executable and its definitions take the place of libusb's.
#ifndef USB_DOUBLE_H
#define USB_DOUBLE_H

#include "SimBoard.h"

#include <memory>
#include <string>
#include <vector>

namespace usbdouble {

struct Device {
    unsigned short vendor = 0x16C0;
    unsigned short product = 0x05DF;
    std::string manufacturer = "quorvel.example";
    std::string productName = "Quorvel 1.2";
    bool openFails = false;        // usb_open gives no handle
    int manufacturerError = 0;     // negative result of the manufacturer string request
    int productError = 0;          // negative result of the product string request
    int setConfigurationError = 0; // negative result of usb_set_configuration
    int claimFailures = 0;         // usb_claim_interface fails (-16) this many times
    std::shared_ptr<sim::Board> board = std::make_shared<sim::Board>();
};

// A control transfer as usb_control_msg received it.
struct Transfer {
    int requestType, request, value, index, size, timeout;
};

struct Calls {
    int init = 0, findBusses = 0, findDevices = 0, close = 0;
    std::vector<int> configurations, interfaces; // as given to set and claim
    std::vector<Transfer> transfers;
};

// Forgets every device and count; the devices then form one bus.
void reset(const std::vector<Device> &devices = {});
const Calls &calls();
// How many handles are open now.
int openHandles();

} // namespace usbdouble

#endif
