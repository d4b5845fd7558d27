// The USB link through the real libusb 0.1, with devices served by umockdev:
// what the double of libusb cannot show. The statuses and warnings of each
// set of devices are test_usb_link_double's.
#include "SimFixture.h"

#include <gtest/gtest.h>

namespace {

class UsbLink : public testing::Test {
protected:
    void TearDown() override { usbCloseDevice(handle); }
    int open()
    {
        testing::internal::CaptureStderr();
        handle = nullptr;
        int status = usbOpenDevice(&handle, sim::boardVendor, sim::boardManufacturer,
                                   sim::boardProduct, sim::boardProductName);
        warnings = testing::internal::GetCapturedStderr();
        return status;
    }
    // Whether the open handle reaches `board`.
    bool reaches(const std::shared_ptr<sim::Board> &board)
    {
        board->clearLog();
        unsigned char reply[8];
        sendUSBVendorCmdIn(handle, 0xA3, 0, 0, reply, 8);
        return board->log().size() == 1;
    }
    static std::vector<uint8_t> descriptor(const std::string &text, int length)
    {
        std::vector<uint8_t> bytes{static_cast<uint8_t>(length), 3};
        for (unsigned char c : text)
            bytes.insert(bytes.end(), {c, 0});
        return bytes;
    }

    sim::Testbed testbed;
    usb_dev_handle *handle = nullptr;
    std::string warnings;
};

TEST_F(UsbLink, TheBoardAmongDevicesWithItsIdsAndHostileStrings)
{
    const std::vector<std::vector<uint8_t>> hostile = {
        {}, {0xFF}, {0xFF, 3}, {32, 1, 'q', 0, 'u', 0},
        descriptor("quorvel.example", 2 + 2 * 15 - 1), // the last half unit is dropped
    };
    for (const auto &raw : hostile) {
        sim::DeviceSetup setup;
        setup.rawManufacturer = raw;
        testbed.addDevice(setup);
    }
    sim::DeviceSetup trimmed; // only the units within the length byte count
    trimmed.rawManufacturer = descriptor("quorvel.example and more", 2 + 2 * 15);
    const int board = testbed.addDevice(trimmed);
    ASSERT_EQ(open(), USB_OPEN_OK);
    EXPECT_EQ(warnings, "");
    EXPECT_TRUE(reaches(testbed.board(board)));
    EXPECT_EQ(testbed.stats(board).setConfigCalls, 1);
    EXPECT_EQ(testbed.stats(board).claimCalls, 1);
}

TEST_F(UsbLink, UnopenableNodeShowsAsAStringFailure)
{
    // Debian's libusb 0.1 hands out a handle even when the node cannot be
    // opened; the failure shows on the first string request.
    sim::DeviceSetup setup;
    setup.noNode = true;
    testbed.addDevice(setup);
    EXPECT_EQ(open(), USB_OPEN_ERR_IO);
    EXPECT_EQ(warnings, "Warning: cannot query manufacturer for device: error sending control "
                        "message: Bad file descriptor\n");
    EXPECT_EQ(handle, nullptr);
}

TEST_F(UsbLink, EveryOpenRescansTheBuses)
{
    EXPECT_EQ(open(), USB_OPEN_ERR_NOTFOUND);
    int board = testbed.addDevice();
    ASSERT_EQ(open(), USB_OPEN_OK);
    EXPECT_TRUE(reaches(testbed.board(board)));
    usbCloseDevice(handle);
    testbed.unplug(board);
    EXPECT_EQ(open(), USB_OPEN_ERR_NOTFOUND);
}

} // namespace
