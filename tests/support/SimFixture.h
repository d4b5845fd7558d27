// A simulated board served through umockdev to the real libusb, opened
// through the USB link, with helpers to assert on what the board received.
#ifndef SIM_FIXTURE_H
#define SIM_FIXTURE_H

#include "SimTestbed.h"
#include "usbInterface.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace sim {
inline bool operator==(const Request &a, const Request &b)
{
    return a.code == b.code && a.value == b.value && a.index == b.index && a.result == b.result;
}
inline void PrintTo(const Request &r, std::ostream *os)
{
    char line[64];
    snprintf(line, sizeof(line), "0x%02X value=0x%04X index=0x%04X result=%d", r.code, r.value,
             r.index, r.result);
    *os << line;
}
} // namespace sim

// A request the board answered in full.
inline sim::Request ok(uint8_t code, uint16_t value = 0, uint16_t index = 0)
{
    return {code, value, index, 8};
}

// Standard output written while `action` runs.
inline std::string stdoutOf(const std::function<void()> &action)
{
    testing::internal::CaptureStdout();
    action();
    return testing::internal::GetCapturedStdout();
}

class SimBoardTest : public testing::Test {
protected:
    void SetUp() override
    {
        testbed = std::make_unique<sim::Testbed>();
        device = testbed->addDevice();
        board = testbed->board(device);
    }

    void TearDown() override
    {
        usbCloseDevice(handle);
        handle = nullptr;
    }

    // Opens the board and forgets the requests so far.
    usb_dev_handle *open()
    {
        EXPECT_EQ(usbOpenDevice(&handle, sim::boardVendor, sim::boardManufacturer,
                                sim::boardProduct, sim::boardProductName),
                  0);
        board->clearLog();
        return handle;
    }

    std::vector<sim::Request> log() const { return board->log(); }

    std::unique_ptr<sim::Testbed> testbed;
    int device = 0;
    std::shared_ptr<sim::Board> board;
    usb_dev_handle *handle = nullptr;
};

#endif
