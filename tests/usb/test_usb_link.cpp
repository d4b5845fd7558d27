// Finding and opening the board through the real libusb, with simulated
// devices served by umockdev: status codes, warnings, string matching.
#include "SimFixture.h"

#include <gtest/gtest.h>

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

usb_dev_handle *const untouched = reinterpret_cast<usb_dev_handle *>(0x1234);

class UsbLink : public testing::Test {
protected:
    void TearDown() override
    {
        if (handle != untouched)
            usbCloseDevice(handle);
    }
    int open()
    {
        CaptureStderr();
        int status = usbOpenDevice(&handle, sim::boardVendor, sim::boardManufacturer,
                                   sim::boardProduct, sim::boardProductName);
        warnings = GetCapturedStderr();
        return status;
    }
    // True when the open handle reaches `board`.
    bool reaches(const std::shared_ptr<sim::Board> &board)
    {
        board->clearLog();
        unsigned char reply[8];
        sendUSBVendorCmdIn(handle, 0xA3, 0, 0, reply, 8);
        return board->log().size() == 1;
    }
    static std::vector<uint8_t> descriptor(const std::string &text)
    {
        std::vector<uint8_t> bytes{static_cast<uint8_t>(2 + 2 * text.size()), 3};
        for (unsigned char c : text) {
            bytes.push_back(c);
            bytes.push_back(0);
        }
        return bytes;
    }

    sim::Testbed testbed;
    usb_dev_handle *handle = untouched;
    std::string warnings;
};

TEST_F(UsbLink, NoDeviceIsNotFound)
{
    EXPECT_EQ(open(), USB_OPEN_ERR_NOTFOUND);
    EXPECT_EQ(handle, untouched);
    EXPECT_EQ(warnings, "");
}

TEST_F(UsbLink, OtherIdsAreIgnored)
{
    sim::DeviceSetup setup;
    setup.product = 0x05DC;
    int other = testbed.addDevice(setup);
    EXPECT_EQ(open(), USB_OPEN_ERR_NOTFOUND);
    EXPECT_TRUE(testbed.stats(other).stringIndices.empty());
}

TEST_F(UsbLink, SharedIdsWithOtherManufacturerAreNotTheBoard)
{
    sim::DeviceSetup gadget;
    gadget.manufacturer = "Other Maker";
    int other = testbed.addDevice(gadget);
    EXPECT_EQ(open(), USB_OPEN_ERR_NOTFOUND);
    EXPECT_EQ(handle, untouched);
    // Its product string is never asked for.
    EXPECT_EQ(testbed.stats(other).stringIndices, std::vector<int>{1});
}

TEST_F(UsbLink, TheBoardIsFoundBesideAnotherDeviceWithItsIds)
{
    sim::DeviceSetup gadget;
    gadget.productName = "Quorvel 1.3";
    int other = testbed.addDevice(gadget);
    int board = testbed.addDevice();
    ASSERT_EQ(open(), USB_OPEN_OK);
    EXPECT_EQ(warnings, "");
    EXPECT_TRUE(reaches(testbed.board(board)));
    EXPECT_TRUE(testbed.board(other)->log().empty());
    EXPECT_EQ(testbed.stats(board).setConfigCalls, 1);
    EXPECT_EQ(testbed.stats(board).claimCalls, 1);
}

TEST_F(UsbLink, StringsAreComparedExactly)
{
    for (const char *manufacturer : {"Quorvel.example", "quorvel.example ", "quorvel.exampl"}) {
        sim::DeviceSetup setup;
        setup.manufacturer = manufacturer;
        testbed.addDevice(setup);
    }
    EXPECT_EQ(open(), USB_OPEN_ERR_NOTFOUND);
}

TEST_F(UsbLink, UnreadableStringsAreStatus5)
{
    sim::DeviceSetup setup;
    setup.stringError = 32;
    testbed.addDevice(setup);
    EXPECT_EQ(open(), USB_OPEN_ERR_IO);
    EXPECT_EQ(handle, untouched);
    EXPECT_EQ(warnings.rfind("Warning: cannot query manufacturer for device: ", 0), 0u) << warnings;
    EXPECT_EQ(warnings.back(), '\n');
}

TEST_F(UsbLink, AFoundBoardAfterAFailedOneIsStatus0)
{
    sim::DeviceSetup broken;
    broken.stringError = 110;
    testbed.addDevice(broken);
    testbed.addDevice();
    EXPECT_EQ(open(), USB_OPEN_OK);
}

TEST_F(UsbLink, MalformedDescriptors)
{
    // A length byte shorter than the reply: only the units within it count.
    sim::DeviceSetup trimmed;
    auto bytes = descriptor("quorvel.example and more");
    bytes[0] = 2 + 2 * 15;
    trimmed.rawManufacturer = bytes;
    int board = testbed.addDevice(trimmed);
    ASSERT_EQ(open(), USB_OPEN_OK);
    EXPECT_TRUE(reaches(testbed.board(board)));
}

TEST_F(UsbLink, HostileDescriptorsNeverMatch)
{
    std::vector<std::vector<uint8_t>> hostile = {
        {},                                 // nothing
        {0xFF},                             // one byte
        {0xFF, 3},                          // length beyond the reply
        {32, 1, 'q', 0, 'u', 0},            // not a string descriptor
        descriptor("quorvel.example") ,     // fine but odd length below
    };
    hostile.back()[0] = 2 + 2 * 15 - 1; // odd: the last half unit is dropped
    for (const auto &raw : hostile) {
        sim::DeviceSetup setup;
        setup.rawManufacturer = raw;
        testbed.addDevice(setup);
    }
    EXPECT_EQ(open(), USB_OPEN_ERR_NOTFOUND);
}

TEST_F(UsbLink, ConfigurationAndClaimFailuresOnlyWarn)
{
    sim::DeviceSetup setup;
    setup.setConfigError = 16;
    setup.claimFailures = 4;
    int board = testbed.addDevice(setup);
    ASSERT_EQ(open(), USB_OPEN_OK);
    EXPECT_EQ(warnings.rfind("Warning: could not set configuration: ", 0), 0u) << warnings;
    EXPECT_NE(warnings.find("\nWarning: could not claim interface\n"), std::string::npos) << warnings;
    EXPECT_EQ(testbed.stats(board).claimCalls, 4);
    EXPECT_TRUE(reaches(testbed.board(board)));
}

TEST_F(UsbLink, ClaimIsRetriedUpToFourTimes)
{
    sim::DeviceSetup setup;
    setup.claimFailures = 3;
    int board = testbed.addDevice(setup);
    ASSERT_EQ(open(), USB_OPEN_OK);
    EXPECT_EQ(warnings, "");
    EXPECT_EQ(testbed.stats(board).claimCalls, 4);
}

TEST_F(UsbLink, EveryOpenRescansTheBuses)
{
    EXPECT_EQ(open(), USB_OPEN_ERR_NOTFOUND);
    int board = testbed.addDevice();
    ASSERT_EQ(open(), USB_OPEN_OK);
    EXPECT_TRUE(reaches(testbed.board(board)));
    usbCloseDevice(handle);
    handle = untouched;
    testbed.unplug(board);
    EXPECT_EQ(open(), USB_OPEN_ERR_NOTFOUND);
}

TEST_F(UsbLink, UnopenableNodeShowsAsAStringFailure)
{
    // Debian's libusb 0.1 hands out a handle even when the node cannot be
    // opened; the failure shows on the first string request.
    sim::DeviceSetup setup;
    setup.noNode = true;
    testbed.addDevice(setup);
    EXPECT_EQ(open(), USB_OPEN_ERR_IO);
    EXPECT_EQ(warnings.rfind("Warning: cannot query manufacturer for device: ", 0), 0u) << warnings;
}

} // namespace
