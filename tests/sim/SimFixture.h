// A testbed per test, and the host side through the real libusb 0.1.
#ifndef TESTS_SIM_FIXTURE_H
#define TESTS_SIM_FIXTURE_H

#include "SimTestbed.h"

#include <gtest/gtest.h>
#include <usb.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

struct Reply {
    int result;
    std::array<uint8_t, 8> bytes;
};

class SimTest : public ::testing::Test {
protected:
    // Scans the bus as a program would; null if the device is not listed.
    struct usb_device *find(int device);
    // Opens a listed device; the handle is closed before the testbed goes.
    usb_dev_handle *open(int device);

    // One vendor request (type 0xC0) into an 8-byte buffer filled with `fill`.
    static Reply request(usb_dev_handle *h, int code, int value = 0, int index = 0,
                         uint8_t fill = 0xEE);
    // The board's log in the runner's --log format.
    static std::vector<std::string> logOf(const sim::Board &board);
    static std::string line(int code, int value, int index, int result);
    // Every field of an EEPROM image, for comparing two of them.
    static std::string dump(const sim::Eeprom &e);

    sim::Testbed testbed; // first: it must outlive every open handle
private:
    std::vector<std::unique_ptr<usb_dev_handle, int (*)(usb_dev_handle *)>> handles_;
};

#endif
