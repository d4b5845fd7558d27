// The USB link against a double of libusb: what umockdev cannot show (a
// usb_open without a handle, how often the library is initialised) and the
// exact frame each call hands to the library.
#include "UsbDouble.h"
#include "usbInterface.h"

#include <gtest/gtest.h>

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

usb_dev_handle *const untouched = reinterpret_cast<usb_dev_handle *>(0x1234);

struct Opened {
    int status;
    usb_dev_handle *handle;
    std::string warnings;
};

Opened open(const char *vendorName = "quorvel.example", const char *productName = "Quorvel 1.2")
{
    usb_dev_handle *handle = untouched;
    CaptureStderr();
    int status = usbOpenDevice(&handle, 0x16C0, vendorName, 0x05DF, productName);
    return {status, handle, GetCapturedStderr()};
}

TEST(UsbLinkDouble, OpenWithoutHandleIsStatus1)
{
    usbdouble::Device device;
    device.openFails = true;
    usbdouble::reset({device});
    Opened o = open();
    EXPECT_EQ(o.status, USB_OPEN_ERR_ACCESS);
    EXPECT_EQ(o.handle, untouched);
    EXPECT_EQ(o.warnings, "Warning: cannot open USB device: could not open device\n");
    EXPECT_TRUE(usbdouble::calls().transfers.empty());
}

TEST(UsbLinkDouble, TheLastDeviceWithTheIdsDecidesTheStatus)
{
    usbdouble::Device unopenable, unreadable;
    unopenable.openFails = true;
    unreadable.manufacturerError = -32;
    usbdouble::reset({unopenable, unreadable});
    Opened o = open();
    EXPECT_EQ(o.status, USB_OPEN_ERR_IO);
    EXPECT_EQ(o.warnings, "Warning: cannot open USB device: could not open device\n"
                          "Warning: cannot query manufacturer for device: error sending control "
                          "message: Broken pipe\n");
    EXPECT_EQ(usbdouble::openHandles(), 0); // the unreadable one was closed
}

TEST(UsbLinkDouble, AWrongProductIsClosedAndTheSearchGoesOn)
{
    usbdouble::Device gadget, board;
    gadget.productName = "Quorvel 1.3";
    usbdouble::reset({gadget, board});
    Opened o = open();
    ASSERT_EQ(o.status, USB_OPEN_OK);
    EXPECT_EQ(o.warnings, "");
    EXPECT_EQ(usbdouble::calls().open, 2);
    EXPECT_EQ(usbdouble::openHandles(), 1); // the gadget was closed
    unsigned char reply[8];
    sendUSBVendorCmdIn(o.handle, 0xA3, 0, 0, reply, 8);
    EXPECT_TRUE(gadget.board->log().empty());
    EXPECT_EQ(board.board->log().size(), 1u);
    usbCloseDevice(o.handle);
}

TEST(UsbLinkDouble, ProductStringFailure)
{
    usbdouble::Device device;
    device.productError = -110;
    usbdouble::reset({device});
    Opened o = open();
    EXPECT_EQ(o.status, USB_OPEN_ERR_IO);
    EXPECT_EQ(o.warnings, "Warning: cannot query product for device: error sending control "
                          "message: Broken pipe\n");
    EXPECT_EQ(usbdouble::openHandles(), 0);
}

TEST(UsbLinkDouble, WithoutNamesTheFirstDeviceThatOpensIsTaken)
{
    usbdouble::Device unopenable, other;
    unopenable.openFails = true;
    other.manufacturer = "Other Maker";
    usbdouble::reset({unopenable, other});
    Opened o = open(nullptr, nullptr);
    EXPECT_EQ(o.status, USB_OPEN_OK);
    EXPECT_NE(o.handle, untouched);
    // No string request, only the claim's preparation.
    EXPECT_TRUE(usbdouble::calls().transfers.empty());
    EXPECT_EQ(usbdouble::calls().setConfiguration, 1);
    EXPECT_EQ(usbdouble::calls().claimInterface, 1);
    usbCloseDevice(o.handle);
}

TEST(UsbLinkDouble, LibraryInitialisedOnceButRescannedOnEveryOpen)
{
    usbdouble::reset({usbdouble::Device{}});
    Opened first = open();
    ASSERT_EQ(first.status, USB_OPEN_OK);
    const int inits = usbdouble::calls().init; // 0 when an earlier test initialised it
    EXPECT_LE(inits, 1);
    usbCloseDevice(first.handle);
    Opened second = open();
    ASSERT_EQ(second.status, USB_OPEN_OK);
    EXPECT_EQ(usbdouble::calls().init, inits);
    EXPECT_EQ(usbdouble::calls().findBusses, 2);
    EXPECT_EQ(usbdouble::calls().findDevices, 2);
    usbCloseDevice(second.handle);
    EXPECT_EQ(usbdouble::calls().close, 2);
}

TEST(UsbLinkDouble, CloseOfNoHandleDoesNothing)
{
    usbdouble::reset();
    usbCloseDevice(nullptr);
    EXPECT_EQ(usbdouble::calls().close, 0);
}

TEST(UsbLinkDouble, StringRequestFrame)
{
    usbdouble::reset({usbdouble::Device{}});
    Opened o = open();
    ASSERT_EQ(o.status, USB_OPEN_OK);
    const auto &t = usbdouble::calls().transfers;
    ASSERT_EQ(t.size(), 2u);
    for (int i = 0; i < 2; i++) {
        EXPECT_EQ(t[i].requestType, 0x80);
        EXPECT_EQ(t[i].request, 6);
        EXPECT_EQ(t[i].value, 0x0300 + 1 + i); // manufacturer, then product
        EXPECT_EQ(t[i].index, 0x0409);
        EXPECT_EQ(t[i].size, 256);
        EXPECT_EQ(t[i].timeout, 1000);
    }
    usbCloseDevice(o.handle);
}

TEST(UsbLinkDouble, VendorRequestFrame)
{
    usbdouble::reset({usbdouble::Device{}});
    Opened o = open();
    ASSERT_EQ(o.status, USB_OPEN_OK);
    unsigned char reply[8];
    EXPECT_EQ(sendUSBVendorCmdIn(o.handle, 0xA3, 0x12345, -1, reply, 8), 8);
    char out[8] = {};
    sendUSBVendorCmdOut(o.handle, 0x21, 1, 2, out, 8);
    const auto &t = usbdouble::calls().transfers;
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[2].requestType, 0xC0);
    EXPECT_EQ(t[2].request, 0xA3);
    EXPECT_EQ(t[2].value, 0x2345); // only the low 16 bits reach the device
    EXPECT_EQ(t[2].index, 0xFFFF);
    EXPECT_EQ(t[2].size, 8);
    EXPECT_EQ(t[2].timeout, 1000);
    EXPECT_EQ(t[3].requestType, 0x40);
    usbCloseDevice(o.handle);
}

} // namespace
