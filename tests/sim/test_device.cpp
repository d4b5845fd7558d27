// What the host sees of a simulated device before any vendor request.
#include "SimFixture.h"

#include <cerrno>

namespace {

std::vector<uint8_t> rawString(usb_dev_handle *h, int index, int length = 255)
{
    std::vector<uint8_t> buf(length);
    const int n = usb_get_string(h, index, 0x0409, reinterpret_cast<char *>(buf.data()), length);
    buf.resize(n < 0 ? 0 : n);
    return buf;
}

std::string text(usb_dev_handle *h, int index)
{
    char buf[256];
    const int n = usb_get_string_simple(h, index, buf, sizeof buf);
    return n < 0 ? "error " + std::to_string(n) : buf;
}

} // namespace

TEST_F(SimTest, BoardIsListedWithItsDescriptorsAndStrings)
{
    const int id = testbed.addDevice();
    struct usb_device *dev = find(id);
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(dev->descriptor.idVendor, 0x16C0);
    EXPECT_EQ(dev->descriptor.idProduct, 0x05DF);
    EXPECT_EQ(dev->descriptor.iManufacturer, 1);
    EXPECT_EQ(dev->descriptor.iProduct, 2);
    ASSERT_EQ(dev->descriptor.bNumConfigurations, 1);
    ASSERT_NE(dev->config, nullptr);
    EXPECT_EQ(dev->config->bConfigurationValue, 1);
    ASSERT_EQ(dev->config->bNumInterfaces, 1);
    const usb_interface_descriptor &intf = dev->config->interface[0].altsetting[0];
    EXPECT_EQ(intf.bInterfaceClass, 0xFF);
    EXPECT_EQ(intf.bNumEndpoints, 1);

    usb_dev_handle *h = open(id);
    EXPECT_EQ(rawString(h, 0), (std::vector<uint8_t>{4, 3, 0x09, 0x04}));
    EXPECT_EQ(text(h, 1), "quorvel.example");
    EXPECT_EQ(text(h, 2), "Quorvel 1.2");
    EXPECT_EQ(rawString(h, 3), std::vector<uint8_t>{}) << "no string 3";
    EXPECT_EQ(usb_set_configuration(h, 1), 0);
    EXPECT_EQ(usb_claim_interface(h, 0), 0);
    EXPECT_EQ(usb_release_interface(h, 0), 0);

    const sim::DeviceStats stats = testbed.stats(id);
    // usb_get_string_simple asks for the language list (index 0) first, which
    // is not counted.
    EXPECT_EQ(stats.stringIndices, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(stats.setConfigCalls, 1);
    EXPECT_EQ(stats.claimCalls, 1);
    EXPECT_TRUE(testbed.board(id)->log().empty()) << "no vendor request was sent";
}

TEST_F(SimTest, StringsAreLatin1AsUtf16AndRawOnesVerbatim)
{
    sim::DeviceSetup latin;
    latin.manufacturer = "Caf\xE9";
    latin.rawProduct = std::vector<uint8_t>{10, 3, 'A', 0, 0x01, 0x04}; // length byte too large
    const int id = testbed.addDevice(latin);
    usb_dev_handle *h = open(id);
    EXPECT_EQ(rawString(h, 1), (std::vector<uint8_t>{10, 3, 'C', 0, 'a', 0, 'f', 0, 0xE9, 0}));
    EXPECT_EQ(rawString(h, 2), (std::vector<uint8_t>{10, 3, 'A', 0, 0x01, 0x04}));
    EXPECT_EQ(rawString(h, 1, 4), (std::vector<uint8_t>{10, 3, 'C', 0})) << "cut to wLength";
}

TEST_F(SimTest, StringAndConfigurationErrorsAreAnsweredAsGiven)
{
    sim::DeviceSetup setup;
    setup.stringError = EIO;
    setup.setConfigError = EBUSY;
    const int id = testbed.addDevice(setup);
    usb_dev_handle *h = open(id);
    char buf[256];
    EXPECT_EQ(usb_get_string(h, 1, 0x0409, buf, sizeof buf), -EIO);
    EXPECT_EQ(usb_get_string(h, 0, 0, buf, sizeof buf), -EIO);
    EXPECT_EQ(usb_set_configuration(h, 1), -EBUSY);
    EXPECT_EQ(testbed.stats(id).stringIndices, std::vector<int>{1});
}

TEST_F(SimTest, ClaimFailsWithBusyTheGivenNumberOfTimes)
{
    sim::DeviceSetup setup;
    setup.claimFailures = 3;
    const int id = testbed.addDevice(setup);
    usb_dev_handle *h = open(id);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(usb_claim_interface(h, 0), -EBUSY) << "attempt " << i + 1;
    EXPECT_EQ(usb_claim_interface(h, 0), 0);
    EXPECT_EQ(testbed.stats(id).claimCalls, 4);
}

TEST_F(SimTest, TwoDevicesAnswerFromTheirOwnBoards)
{
    sim::DeviceSetup other;
    other.manufacturer = "Other Maker";
    other.productName = "Gadget";
    const int first = testbed.addDevice(other);
    const int second = testbed.addDevice();
    ASSERT_NE(testbed.busDev(first), testbed.busDev(second));

    usb_dev_handle *a = open(first);
    usb_dev_handle *b = open(second);
    EXPECT_EQ(text(a, 1), "Other Maker");
    EXPECT_EQ(text(b, 2), "Quorvel 1.2");
    EXPECT_EQ(request(a, 0x23, 7).result, 8);
    EXPECT_EQ(request(b, 0xA3).bytes[0], 10) << "the write went to the other board";
    EXPECT_EQ(logOf(*testbed.board(first)), std::vector<std::string>{line(0x23, 7, 0, 8)});
    EXPECT_EQ(logOf(*testbed.board(second)), std::vector<std::string>{line(0xA3, 0, 0, 8)});
}

TEST_F(SimTest, DeviceWithoutNodeIsListedButCannotBeOpened)
{
    sim::DeviceSetup setup;
    setup.noNode = true;
    const int id = testbed.addDevice(setup);
    const int good = testbed.addDevice();
    usb_dev_handle *h = open(id); // libusb 0.1 hands out a handle without a file
    char buf[256];
    EXPECT_EQ(usb_get_string(h, 1, 0x0409, buf, sizeof buf), -EBADF);
    EXPECT_TRUE(testbed.stats(id).stringIndices.empty());
    EXPECT_EQ(request(open(good), 0xA3).result, 8) << "the other device is unaffected";
}

TEST_F(SimTest, EmptyTestbedListsABusWithoutDevices)
{
    usb_init();
    usb_find_busses();
    usb_find_devices();
    int buses = 0;
    for (usb_bus *bus = usb_get_busses(); bus; bus = bus->next) {
        ++buses;
        EXPECT_EQ(bus->devices, nullptr) << "bus " << bus->dirname;
    }
    EXPECT_EQ(buses, 1);
}

TEST_F(SimTest, DevicesAreListedInTheOrderAdded)
{
    std::vector<std::string> added;
    for (int i = 0; i < 6; ++i)
        added.push_back(testbed.busDev(testbed.addDevice()));
    ASSERT_NE(find(0), nullptr);
    std::vector<std::string> listed;
    for (usb_bus *bus = usb_get_busses(); bus; bus = bus->next) {
        for (struct usb_device *dev = bus->devices; dev; dev = dev->next)
            listed.push_back(std::string(bus->dirname) + "/" + dev->filename);
    }
    EXPECT_EQ(listed, added);
}
