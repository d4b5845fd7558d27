// What the host sees of simulated devices through the real libusb 0.1:
// listing, descriptors, strings, configuration and claim, and the vendor
// requests reaching each device's own board.
#include "SimTestbed.h"

#include <gtest/gtest.h>
#include <usb.h>

#include <cerrno>
#include <memory>

namespace {

class Device : public testing::Test {
protected:
    // Scans the bus as a program would: each device's "bus/device" name.
    std::vector<std::string> scan()
    {
        usb_init();
        usb_find_busses();
        usb_find_devices();
        std::vector<std::string> names;
        for (usb_bus *bus = usb_get_busses(); bus; bus = bus->next) {
            for (struct usb_device *dev = bus->devices; dev; dev = dev->next) {
                names.push_back(std::string(bus->dirname) + '/' + dev->filename);
                found[names.back()] = dev;
            }
        }
        return names;
    }
    // Opens a device as the last scan listed it (scanning when it did not).
    usb_dev_handle *open(int device)
    {
        if (!found.count(testbed.busDev(device)))
            scan();
        handles.emplace_back(usb_open(found.at(testbed.busDev(device))), usb_close);
        return handles.back().get();
    }
    static std::vector<uint8_t> rawString(usb_dev_handle *h, int index, int length = 255)
    {
        std::vector<uint8_t> buf(length);
        const int n = usb_get_string(h, index, 0x0409, reinterpret_cast<char *>(buf.data()), length);
        buf.resize(n < 0 ? 0 : n);
        return buf;
    }
    static int vendor(usb_dev_handle *h, int code, int value = 0)
    {
        char reply[8];
        return usb_control_msg(h, 0xC0, code, value, 0, reply, 8, 1000);
    }

    sim::Testbed testbed; // first: it must outlive every open handle
    std::map<std::string, struct usb_device *> found;
    std::vector<std::unique_ptr<usb_dev_handle, int (*)(usb_dev_handle *)>> handles;
};

TEST_F(Device, TheBoardIsListedWithItsDescriptorsAndStrings)
{
    EXPECT_TRUE(scan().empty()) << "an empty testbed hides the host's devices";
    const int id = testbed.addDevice();
    scan();
    const struct usb_device *dev = found.at(testbed.busDev(id));
    EXPECT_EQ(dev->descriptor.idVendor, 0x16C0);
    EXPECT_EQ(dev->descriptor.idProduct, 0x05DF);
    ASSERT_EQ(dev->descriptor.bNumConfigurations, 1);
    EXPECT_EQ(dev->config->bConfigurationValue, 1);
    ASSERT_EQ(dev->config->bNumInterfaces, 1);
    EXPECT_EQ(dev->config->interface[0].altsetting[0].bInterfaceClass, 0xFF);
    EXPECT_EQ(dev->config->interface[0].altsetting[0].bNumEndpoints, 1);

    usb_dev_handle *h = open(id);
    EXPECT_EQ(rawString(h, 0), (std::vector<uint8_t>{4, 3, 0x09, 0x04}));
    const std::vector<uint8_t> manufacturer = rawString(h, dev->descriptor.iManufacturer);
    EXPECT_EQ(std::string(manufacturer.begin() + 2, manufacturer.end()),
              std::string("q\0u\0o\0r\0v\0e\0l\0.\0e\0x\0a\0m\0p\0l\0e\0", 30));
    EXPECT_EQ(rawString(h, dev->descriptor.iProduct).size(), 2u + 2 * 11);
    EXPECT_EQ(rawString(h, 2, 4), (std::vector<uint8_t>{24, 3, 'Q', 0})) << "cut to wLength";
    EXPECT_TRUE(rawString(h, 3).empty()) << "no string 3";
    EXPECT_EQ(usb_set_configuration(h, 1), 0);
    EXPECT_EQ(usb_claim_interface(h, 0), 0);
    EXPECT_EQ(usb_release_interface(h, 0), 0);
    const sim::DeviceStats stats = testbed.stats(id);
    EXPECT_EQ(stats.stringIndices, (std::vector<int>{1, 2, 2, 3}));
    EXPECT_EQ(stats.setConfigCalls, 1);
    EXPECT_EQ(stats.claimCalls, 1);
    EXPECT_TRUE(testbed.board(id)->log().empty()) << "no vendor request was sent";
}

TEST_F(Device, SetUpFaultsAreAnsweredAsGiven)
{
    sim::DeviceSetup setup;
    setup.stringError = EIO;
    setup.setConfigError = EBUSY;
    setup.claimFailures = 2;
    setup.rawProduct = std::vector<uint8_t>{10, 3, 'A', 0};
    const int id = testbed.addDevice(setup);
    sim::DeviceSetup raw;
    raw.rawProduct = std::vector<uint8_t>{10, 3, 'A', 0, 0x01, 0x04}; // length byte too large
    const int verbatim = testbed.addDevice(raw);
    usb_dev_handle *h = open(id);
    EXPECT_EQ(rawString(h, 1), std::vector<uint8_t>{});
    char buf[8];
    EXPECT_EQ(usb_get_string(h, 1, 0x0409, buf, sizeof buf), -EIO);
    EXPECT_EQ(usb_set_configuration(h, 1), -EBUSY);
    EXPECT_EQ(usb_claim_interface(h, 0), -EBUSY);
    EXPECT_EQ(usb_claim_interface(h, 0), -EBUSY);
    EXPECT_EQ(usb_claim_interface(h, 0), 0);
    EXPECT_EQ(rawString(open(verbatim), 2), (std::vector<uint8_t>{10, 3, 'A', 0, 0x01, 0x04}));
}

TEST_F(Device, EachDeviceAnswersFromItsOwnBoardInTheOrderAdded)
{
    sim::DeviceSetup other;
    other.manufacturer = "Other Maker";
    sim::DeviceSetup noNode;
    noNode.noNode = true;
    const int first = testbed.addDevice(other);
    const int second = testbed.addDevice();
    const int gone = testbed.addDevice(noNode);
    EXPECT_EQ(scan(), (std::vector<std::string>{testbed.busDev(first), testbed.busDev(second),
                                                testbed.busDev(gone)}));
    usb_dev_handle *noFile = open(gone);
    usb_dev_handle *a = open(first);
    usb_dev_handle *b = open(second);
    EXPECT_EQ(vendor(a, 0x23, 7), 8);
    EXPECT_EQ(vendor(b, 0xA3), 8);
    EXPECT_EQ(testbed.board(first)->ram().pty, 7);
    EXPECT_EQ(testbed.board(second)->ram().pty, 10) << "the write went to the other board";
    EXPECT_EQ(testbed.board(second)->log().size(), 1u);

    // A node that cannot be opened: libusb 0.1 still hands out a handle.
    char buf[8];
    EXPECT_EQ(usb_get_string(noFile, 1, 0x0409, buf, sizeof buf), -EBADF);
    EXPECT_TRUE(testbed.stats(gone).stringIndices.empty());
    // Unplugged under an open handle: every request fails, the node goes.
    testbed.unplug(second);
    EXPECT_EQ(vendor(b, 0xA3), -ENODEV);
    EXPECT_EQ(usb_get_string(b, 1, 0x0409, buf, sizeof buf), -ENODEV);
    EXPECT_EQ(usb_claim_interface(b, 0), -ENODEV);
    EXPECT_TRUE(testbed.board(second)->unplugged());
    EXPECT_EQ(scan(), std::vector<std::string>{testbed.busDev(first)});
}

} // namespace
