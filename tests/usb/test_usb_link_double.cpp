// Finding, opening and preparing the board against a double of libusb: the
// status and warnings for each set of devices, which device the handle
// reaches, and the exact frame each call hands to the library.
#include "UsbDouble.h"
#include "usbInterface.h"

#include <gtest/gtest.h>

namespace {

using usbdouble::Device;

usb_dev_handle *const untouched = reinterpret_cast<usb_dev_handle *>(0x1234);

struct Opened {
    int status;
    usb_dev_handle *handle;
    std::string warnings;
};

Opened open(const char *vendorName = "quorvel.example", const char *productName = "Quorvel 1.2")
{
    usb_dev_handle *handle = untouched;
    testing::internal::CaptureStderr();
    const int status = usbOpenDevice(&handle, 0x16C0, vendorName, 0x05DF, productName);
    return {status, handle, testing::internal::GetCapturedStderr()};
}

const std::string BrokenPipe = "error sending control message: Broken pipe\n";
const std::string NoManufacturer = "Warning: cannot query manufacturer for device: " + BrokenPipe;
const std::string NoOpen = "Warning: cannot open USB device: could not open device\n";
const int M = 0x0301, P = 0x0302; // string descriptor 1 (manufacturer) and 2 (product)

struct Case {
    const char *name;
    std::vector<Device> devices;
    int status;
    std::string warnings;
    int reached;              // the device the handle reaches; -1: none
    std::vector<int> strings; // wValue of each string descriptor request
    std::vector<int> claims = {0};
    bool named = true; // false: no manufacturer or product name asked for
};

class UsbLinkDouble : public testing::TestWithParam<Case> {};

// Every string request in en-US, 256 bytes, 1 s; a handle only for the board,
// in configuration 1, interface 0, every other device closed again.
TEST_P(UsbLinkDouble, StatusWarningsAndTheDeviceOpened)
{
    const Case &c = GetParam();
    for (const Device &d : c.devices)
        d.board->clearLog();
    usbdouble::reset(c.devices);
    const Opened o = c.named ? open() : open(nullptr, nullptr);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.warnings, c.warnings);
    std::vector<int> strings;
    for (const usbdouble::Transfer &t : usbdouble::calls().transfers) {
        strings.push_back(t.value);
        EXPECT_EQ(std::vector<int>({t.requestType, t.request, t.index, t.size, t.timeout}),
                  std::vector<int>({0x80, 6, 0x0409, 256, 1000}));
    }
    EXPECT_EQ(strings, c.strings);
    EXPECT_EQ(usbdouble::openHandles(), c.reached < 0 ? 0 : 1);
    if (c.reached < 0) {
        EXPECT_EQ(o.handle, untouched);
        EXPECT_TRUE(usbdouble::calls().configurations.empty());
        return;
    }
    unsigned char reply[8];
    sendUSBVendorCmdIn(o.handle, 0xA3, 0, 0, reply, 8);
    for (size_t i = 0; i < c.devices.size(); i++)
        EXPECT_EQ(c.devices[i].board->log().size(), static_cast<int>(i) == c.reached ? 1u : 0u)
            << i;
    EXPECT_EQ(usbdouble::calls().configurations, std::vector<int>{1});
    EXPECT_EQ(usbdouble::calls().interfaces, c.claims);
    usbCloseDevice(o.handle);
}

const Device board;
// clang-format off
const Case cases[] = {
    {"NoDevice", {}, USB_OPEN_ERR_NOTFOUND, "", -1, {}},
    {"OtherIds", {{.product = 0x05DC}, {.vendor = 0x16C1}}, USB_OPEN_ERR_NOTFOUND, "", -1, {}},
    {"OtherManufacturer", {{.manufacturer = "Other Maker"}}, USB_OPEN_ERR_NOTFOUND, "", -1, {M}},
    {"StringsComparedExactly",
     {{.manufacturer = "Quorvel.example"}, {.manufacturer = "quorvel.example "},
      {.manufacturer = "quorvel.exampl"}, {.productName = "Quorvel 1.2 "}},
     USB_OPEN_ERR_NOTFOUND, "", -1, {M, M, M, M, P}},
    {"BoardAfterAGadgetWithItsIds", {{.productName = "Quorvel 1.3"}, board}, USB_OPEN_OK, "", 1,
     {M, P, M, P}},
    {"UnreadableManufacturer", {{.manufacturerError = -32}}, USB_OPEN_ERR_IO, NoManufacturer, -1,
     {M}},
    {"UnreadableProduct", {{.productError = -110}}, USB_OPEN_ERR_IO,
     "Warning: cannot query product for device: " + BrokenPipe, -1, {M, P}},
    {"OpenWithoutAHandle", {{.openFails = true}}, USB_OPEN_ERR_ACCESS, NoOpen, -1, {}},
    {"TheLastDeviceDecidesTheStatus", {{.openFails = true}, {.manufacturerError = -32}},
     USB_OPEN_ERR_IO, NoOpen + NoManufacturer, -1, {M}},
    {"BoardAfterAFailedOne", {{.manufacturerError = -32}, board}, USB_OPEN_OK, NoManufacturer, 1,
     {M, M, P}},
    {"ConfigurationAndClaimFailuresOnlyWarn", {{.setConfigurationError = -16, .claimFailures = 4}},
     USB_OPEN_OK, "Warning: could not set configuration: error setting configuration\n"
                  "Warning: could not claim interface\n", 0, {M, P}, {0, 0, 0, 0}},
    {"ClaimRetriedUpToFourTimes", {{.claimFailures = 3}}, USB_OPEN_OK, "", 0, {M, P}, {0, 0, 0, 0}},
    {"WithoutNamesTheFirstDeviceThatOpens", {{.openFails = true}, {.manufacturer = "Other Maker"}},
     USB_OPEN_OK, NoOpen, 1, {}, {0}, false},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(, UsbLinkDouble, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<Case> &info) { return info.param.name; });

// The library initialised once, the buses scanned on every open, each handle
// closed once; vendor requests framed in and out, value and index in 16 bits.
TEST(UsbLink, ScansOnEveryOpenClosesOnceAndFramesVendorRequests)
{
    usbdouble::reset({Device{}});
    const Opened first = open();
    const int inits = usbdouble::calls().init; // 0 when an earlier test initialised it
    EXPECT_LE(inits, 1);
    usbCloseDevice(first.handle);
    const Opened o = open();
    EXPECT_EQ(usbdouble::calls().init, inits);
    EXPECT_EQ(usbdouble::calls().findBusses, 2);
    EXPECT_EQ(usbdouble::calls().findDevices, 2);
    unsigned char reply[8];
    EXPECT_EQ(sendUSBVendorCmdIn(o.handle, 0xA3, 0x12345, -1, reply, 8), 8);
    sendUSBVendorCmdOut(o.handle, 0x21, 1, 2, reply, 8);
    const auto &t = usbdouble::calls().transfers;
    ASSERT_EQ(t.size(), 6u);
    EXPECT_EQ(std::vector<int>({t[4].requestType, t[4].request, t[4].value, t[4].index, t[4].size,
                                t[4].timeout}),
              std::vector<int>({0xC0, 0xA3, 0x2345, 0xFFFF, 8, 1000}));
    EXPECT_EQ(t[5].requestType, 0x40);
    usbCloseDevice(o.handle);
    usbCloseDevice(nullptr);
    EXPECT_EQ(usbdouble::calls().close, 2);
}

} // namespace
