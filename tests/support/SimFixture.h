// A simulated board served through umockdev to the real libusb, opened
// through the USB link, with helpers to assert on what the board received.
#ifndef SIM_FIXTURE_H
#define SIM_FIXTURE_H

#include "Requests.h"
#include "SimTestbed.h"
#include "usbInterface.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

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

    Requests log() const { return board->log(); }

    std::unique_ptr<sim::Testbed> testbed;
    int device = 0;
    std::shared_ptr<sim::Board> board;
    usb_dev_handle *handle = nullptr;
};

#endif
