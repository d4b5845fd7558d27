// Finding, opening and preparing the board against a double of libusb: the
// status and warnings for each set of devices, which device the handle
// reaches, and the exact frame each call hands to the library.
#include "UsbDouble.h"
#include "usbInterface.h"

#include <gtest/gtest.h>

namespace {

using usbdouble::Device;
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

Device with(std::function<void(Device &)> change)
{
    Device d;
    change(d);
    return d;
}

const std::string BrokenPipe = "error sending control message: Broken pipe\n";

struct Case {
    const char *name;
    std::vector<Device> devices;
    int status;
    std::string warnings;
    int reached;            // the device the handle reaches; -1: none
    size_t stringRequests;  // string descriptor requests sent
    std::vector<int> claims = {};
};

class UsbLinkDouble : public testing::TestWithParam<Case> {};

TEST_P(UsbLinkDouble, StatusWarningsAndTheDeviceOpened)
{
    const Case &c = GetParam();
    for (const Device &d : c.devices)
        d.board->clearLog();
    usbdouble::reset(c.devices);
    const Opened o = open();
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.warnings, c.warnings);
    EXPECT_EQ(usbdouble::calls().transfers.size(), c.stringRequests);
    for (const usbdouble::Transfer &t : usbdouble::calls().transfers) {
        EXPECT_EQ(t.requestType, 0x80);
        EXPECT_EQ(t.request, 6); // GET_DESCRIPTOR
        EXPECT_EQ(t.index, 0x0409);
        EXPECT_EQ(t.size, 256);
        EXPECT_EQ(t.timeout, 1000);
    }
    if (c.reached < 0) {
        EXPECT_EQ(o.handle, untouched);
        EXPECT_EQ(usbdouble::openHandles(), 0) << "every device opened was closed";
        EXPECT_TRUE(usbdouble::calls().configurations.empty());
        return;
    }
    ASSERT_NE(o.handle, untouched);
    EXPECT_EQ(usbdouble::openHandles(), 1);
    unsigned char reply[8];
    sendUSBVendorCmdIn(o.handle, 0xA3, 0, 0, reply, 8);
    for (size_t i = 0; i < c.devices.size(); i++)
        EXPECT_EQ(c.devices[i].board->log().size(), static_cast<int>(i) == c.reached ? 1u : 0u) << i;
    // Configuration 1, interface 0.
    EXPECT_EQ(usbdouble::calls().configurations, std::vector<int>{1});
    EXPECT_EQ(usbdouble::calls().interfaces, c.claims.empty() ? std::vector<int>{0} : c.claims);
    usbCloseDevice(o.handle);
}

const Device board;
const Case cases[] = {
    {"NoDevice", {}, USB_OPEN_ERR_NOTFOUND, "", -1, 0},
    {"OtherIds", {with([](Device &d) { d.product = 0x05DC; }), with([](Device &d) { d.vendor = 0x16C1; })},
     USB_OPEN_ERR_NOTFOUND, "", -1, 0},
    {"OtherManufacturer", {with([](Device &d) { d.manufacturer = "Other Maker"; })},
     USB_OPEN_ERR_NOTFOUND, "", -1, 1},
    {"StringsComparedExactly",
     {with([](Device &d) { d.manufacturer = "Quorvel.example"; }),
      with([](Device &d) { d.manufacturer = "quorvel.example "; }),
      with([](Device &d) { d.productName = "Quorvel 1.2 "; })},
     USB_OPEN_ERR_NOTFOUND, "", -1, 4},
    {"BoardAfterAGadgetWithItsIds", {with([](Device &d) { d.productName = "Quorvel 1.3"; }), board},
     USB_OPEN_OK, "", 1, 4},
    {"UnreadableManufacturer", {with([](Device &d) { d.manufacturerError = -32; })}, USB_OPEN_ERR_IO,
     "Warning: cannot query manufacturer for device: " + BrokenPipe, -1, 1},
    {"UnreadableProduct", {with([](Device &d) { d.productError = -110; })}, USB_OPEN_ERR_IO,
     "Warning: cannot query product for device: " + BrokenPipe, -1, 2},
    {"OpenWithoutAHandle", {with([](Device &d) { d.openFails = true; })}, USB_OPEN_ERR_ACCESS,
     "Warning: cannot open USB device: could not open device\n", -1, 0},
    {"TheLastDeviceDecidesTheStatus",
     {with([](Device &d) { d.openFails = true; }), with([](Device &d) { d.manufacturerError = -32; })},
     USB_OPEN_ERR_IO,
     "Warning: cannot open USB device: could not open device\n"
     "Warning: cannot query manufacturer for device: " + BrokenPipe, -1, 1},
    {"BoardAfterAFailedOne", {with([](Device &d) { d.manufacturerError = -32; }), board},
     USB_OPEN_OK, "Warning: cannot query manufacturer for device: " + BrokenPipe, 1, 3},
    {"ConfigurationAndClaimFailuresOnlyWarn",
     {with([](Device &d) { d.setConfigurationError = -16, d.claimFailures = 4; })}, USB_OPEN_OK,
     "Warning: could not set configuration: error setting configuration\n"
     "Warning: could not claim interface\n", 0, 2, {0, 0, 0, 0}},
    {"ClaimRetriedUpToFourTimes", {with([](Device &d) { d.claimFailures = 3; })}, USB_OPEN_OK, "", 0,
     2, {0, 0, 0, 0}},
};
INSTANTIATE_TEST_SUITE_P(, UsbLinkDouble, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<Case> &info) { return info.param.name; });

TEST(UsbLink, WithoutNamesTheFirstDeviceThatOpensIsTaken)
{
    const Device unopenable = with([](Device &d) { d.openFails = true; });
    const Device other = with([](Device &d) { d.manufacturer = "Other Maker"; });
    usbdouble::reset({unopenable, other});
    Opened o = open(nullptr, nullptr);
    EXPECT_EQ(o.status, USB_OPEN_OK);
    unsigned char reply[8];
    sendUSBVendorCmdIn(o.handle, 0xA3, 0, 0, reply, 8);
    EXPECT_EQ(other.board->log().size(), 1u);
    EXPECT_EQ(usbdouble::calls().transfers.size(), 1u) << "no string request";
    EXPECT_EQ(usbdouble::calls().configurations, std::vector<int>{1});
    usbCloseDevice(o.handle);
}

TEST(UsbLink, LibraryInitialisedOnceButRescannedOnEveryOpenAndEachHandleClosedOnce)
{
    usbdouble::reset({Device{}});
    Opened first = open();
    const int inits = usbdouble::calls().init; // 0 when an earlier test initialised it
    EXPECT_LE(inits, 1);
    usbCloseDevice(first.handle);
    Opened second = open();
    EXPECT_EQ(usbdouble::calls().init, inits);
    EXPECT_EQ(usbdouble::calls().findBusses, 2);
    EXPECT_EQ(usbdouble::calls().findDevices, 2);
    usbCloseDevice(second.handle);
    usbCloseDevice(nullptr);
    EXPECT_EQ(usbdouble::calls().close, 2);
}

TEST(UsbLink, VendorRequestFrames)
{
    usbdouble::reset({Device{}});
    Opened o = open();
    unsigned char reply[8];
    EXPECT_EQ(sendUSBVendorCmdIn(o.handle, 0xA3, 0x12345, -1, reply, 8), 8);
    sendUSBVendorCmdOut(o.handle, 0x21, 1, 2, reply, 8);
    const auto &t = usbdouble::calls().transfers;
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0].value, 0x0301); // the manufacturer string, then the product string
    EXPECT_EQ(t[1].value, 0x0302);
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
