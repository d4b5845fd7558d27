// What the host sees of simulated devices through the real libusb 0.1:
// listing, descriptors, strings, configuration and claim, and the vendor
// requests reaching each device's own board.
#include "SimTestbed.h"

#include <gtest/gtest.h>
#include <usb.h>

#include <cerrno>
#include <memory>

namespace {

using Bytes = std::vector<uint8_t>;

class Device : public testing::Test {
protected:
    // Scans the bus as a program would: each device's "bus/device" name.
    std::vector<std::string> scan()
    {
        usb_init();
        usb_find_busses();
        usb_find_devices();
        std::vector<std::string> names;
        for (usb_bus *bus = usb_get_busses(); bus; bus = bus->next)
            for (struct usb_device *dev = bus->devices; dev; dev = dev->next)
                found[names.emplace_back(std::string(bus->dirname) + '/' + dev->filename)] = dev;
        return names;
    }
    // Opens a device as the last scan listed it (scanning when it did not).
    usb_dev_handle *open(int device)
    {
        if (!found.count(testbed.busDev(device)))
            scan();
        return handles.emplace_back(usb_open(found.at(testbed.busDev(device))), usb_close).get();
    }
    static Bytes string(usb_dev_handle *h, int index, int length = 255)
    {
        Bytes buf(length);
        const int n =
            usb_get_string(h, index, 0x0409, reinterpret_cast<char *>(buf.data()), length);
        buf.resize(n < 0 ? 0 : n);
        return buf;
    }
    static int stringResult(usb_dev_handle *h)
    {
        char buf[8];
        return usb_get_string(h, 1, 0x0409, buf, sizeof buf);
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

// The board's ids, one configuration of one vendor interface, its strings in
// UTF-16LE cut to wLength; no vendor request sent by listing and preparing it.
TEST_F(Device, TheBoardIsListedWithItsDescriptorsAndStrings)
{
    EXPECT_TRUE(scan().empty()) << "an empty testbed hides the host's devices";
    const int id = testbed.addDevice();
    usb_dev_handle *h = open(id);
    const struct usb_device *dev = found.at(testbed.busDev(id));
    EXPECT_EQ(dev->descriptor.idVendor, 0x16C0);
    EXPECT_EQ(dev->descriptor.idProduct, 0x05DF);
    ASSERT_EQ(dev->descriptor.bNumConfigurations, 1);
    EXPECT_EQ(dev->config->bConfigurationValue, 1);
    ASSERT_EQ(dev->config->bNumInterfaces, 1);
    EXPECT_EQ(dev->config->interface[0].altsetting[0].bInterfaceClass, 0xFF);
    EXPECT_EQ(dev->config->interface[0].altsetting[0].bNumEndpoints, 1);
    EXPECT_EQ(string(h, 0), (Bytes{4, 3, 0x09, 0x04}));
    const Bytes manufacturer = string(h, dev->descriptor.iManufacturer);
    EXPECT_EQ(std::string(manufacturer.begin() + 2, manufacturer.end()),
              std::string("q\0u\0o\0r\0v\0e\0l\0.\0e\0x\0a\0m\0p\0l\0e\0", 30));
    EXPECT_EQ(string(h, dev->descriptor.iProduct).size(), 2u + 2 * 11);
    EXPECT_EQ(string(h, 2, 4), (Bytes{24, 3, 'Q', 0})) << "cut to wLength";
    EXPECT_TRUE(string(h, 3).empty()) << "no string 3";
    EXPECT_EQ(usb_set_configuration(h, 1), 0);
    EXPECT_EQ(usb_claim_interface(h, 0), 0);
    EXPECT_EQ(usb_release_interface(h, 0), 0);
    const sim::DeviceStats stats = testbed.stats(id);
    EXPECT_EQ(stats.stringIndices, (std::vector<int>{1, 2, 2, 3}));
    EXPECT_EQ(stats.setConfigCalls, 1);
    EXPECT_EQ(stats.claimCalls, 1);
    EXPECT_TRUE(testbed.board(id)->log().empty()) << "no vendor request was sent";
}

// Failures set up for strings, configuration and claim; raw strings verbatim.
TEST_F(Device, SetUpFaultsAreAnsweredAsGiven)
{
    sim::DeviceSetup setup, raw;
    setup.stringError = EIO;
    setup.setConfigError = EBUSY;
    setup.claimFailures = 2;
    setup.rawProduct = Bytes{10, 3, 'A', 0};
    raw.rawProduct = Bytes{10, 3, 'A', 0, 0x01, 0x04}; // length byte too large
    const int id = testbed.addDevice(setup), verbatim = testbed.addDevice(raw);
    usb_dev_handle *h = open(id);
    EXPECT_EQ(stringResult(h), -EIO);
    EXPECT_EQ(usb_set_configuration(h, 1), -EBUSY);
    for (int result : {-EBUSY, -EBUSY, 0})
        EXPECT_EQ(usb_claim_interface(h, 0), result);
    EXPECT_EQ(string(open(verbatim), 2), (Bytes{10, 3, 'A', 0, 0x01, 0x04}));
}

// Devices listed in the order added, each answering from its own board; a
// node that cannot be opened still gives a handle; an unplugged device fails
// every request and leaves the list.
TEST_F(Device, EachDeviceAnswersFromItsOwnBoardInTheOrderAdded)
{
    sim::DeviceSetup other, noNode;
    other.manufacturer = "Other Maker";
    noNode.noNode = true;
    const int first = testbed.addDevice(other), second = testbed.addDevice();
    const int gone = testbed.addDevice(noNode);
    EXPECT_EQ(scan(), (std::vector<std::string>{testbed.busDev(first), testbed.busDev(second),
                                                testbed.busDev(gone)}));
    usb_dev_handle *noFile = open(gone), *a = open(first), *b = open(second);
    EXPECT_EQ(vendor(a, 0x23, 7), 8);
    EXPECT_EQ(vendor(b, 0xA3), 8);
    EXPECT_EQ(testbed.board(first)->ram().pty, 7);
    EXPECT_EQ(testbed.board(second)->ram().pty, 10) << "the write went to the other board";
    EXPECT_EQ(testbed.board(second)->log().size(), 1u);
    EXPECT_EQ(stringResult(noFile), -EBADF);
    EXPECT_TRUE(testbed.stats(gone).stringIndices.empty());
    testbed.unplug(second);
    EXPECT_EQ(vendor(b, 0xA3), -ENODEV);
    EXPECT_EQ(stringResult(b), -ENODEV);
    EXPECT_EQ(usb_claim_interface(b, 0), -ENODEV);
    EXPECT_TRUE(testbed.board(second)->unplugged());
    EXPECT_EQ(scan(), std::vector<std::string>{testbed.busDev(first)});
}

} // namespace
