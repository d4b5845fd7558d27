#include "UsbDouble.h"

#include <usb.h>

#include <algorithm>
#include <cstring>
#include <set>

namespace {

std::vector<usbdouble::Device> devices;
std::vector<struct usb_device> records; // the library's list, one record per device
struct usb_bus bus;
usbdouble::Calls counts;
std::multiset<usbdouble::Device *> opened; // a handle is its device's address
const char *lastError = "";

usbdouble::Device &deviceOf(usb_dev_handle *handle)
{
    return *reinterpret_cast<usbdouble::Device *>(handle);
}

} // namespace

namespace usbdouble {

void reset(const std::vector<Device> &list)
{
    devices = list;
    records.assign(devices.size(), {});
    opened.clear();
    counts = {};
    std::memset(&bus, 0, sizeof(bus));
    for (size_t i = 0; i < records.size(); i++) {
        records[i].descriptor.idVendor = devices[i].vendor;
        records[i].descriptor.idProduct = devices[i].product;
        records[i].descriptor.iManufacturer = 1;
        records[i].descriptor.iProduct = 2;
        records[i].bus = &bus;
        records[i].prev = i ? &records[i - 1] : nullptr;
        records[i].next = i + 1 < records.size() ? &records[i + 1] : nullptr;
    }
    bus.devices = records.empty() ? nullptr : records.data();
}

const Calls &calls()
{
    return counts;
}

int openHandles()
{
    return static_cast<int>(opened.size());
}

} // namespace usbdouble

void usb_init(void)
{
    counts.init++;
}

int usb_find_busses(void)
{
    return counts.findBusses++, 0;
}

int usb_find_devices(void)
{
    return counts.findDevices++, 0;
}

struct usb_bus *usb_get_busses(void)
{
    return bus.devices ? &bus : nullptr;
}

usb_dev_handle *usb_open(struct usb_device *dev)
{
    usbdouble::Device *device = &devices[static_cast<size_t>(dev - records.data())];
    if (device->openFails) {
        lastError = "could not open device";
        return nullptr;
    }
    opened.insert(device);
    return reinterpret_cast<usb_dev_handle *>(device);
}

int usb_close(usb_dev_handle *dev)
{
    counts.close++;
    if (auto it = opened.find(&deviceOf(dev)); it != opened.end())
        opened.erase(it);
    return 0;
}

int usb_set_configuration(usb_dev_handle *dev, int configuration)
{
    counts.configurations.push_back(configuration);
    const int error = deviceOf(dev).setConfigurationError;
    if (error < 0)
        lastError = "error setting configuration";
    return error;
}

int usb_claim_interface(usb_dev_handle *dev, int interface)
{
    counts.interfaces.push_back(interface);
    return deviceOf(dev).claimFailures-- > 0 ? -16 : 0;
}

int usb_control_msg(usb_dev_handle *dev, int requesttype, int request, int value, int index,
                    char *bytes, int size, int timeout)
{
    counts.transfers.push_back({requesttype, request, value, index, size, timeout});
    usbdouble::Device &device = deviceOf(dev);
    if (requesttype == USB_ENDPOINT_IN && request == USB_REQ_GET_DESCRIPTOR) {
        const bool manufacturer = (value & 0xFF) == 1;
        if (const int error = manufacturer ? device.manufacturerError : device.productError) {
            lastError = "error sending control message: Broken pipe";
            return error;
        }
        const std::string &text = manufacturer ? device.manufacturer : device.productName;
        std::string reply{static_cast<char>(2 + 2 * text.size()), 3};
        for (char c : text)
            reply += {c, 0};
        const int n = std::min(size, static_cast<int>(reply.size()));
        std::copy_n(reply.data(), n, bytes); // a descriptor, not a C string
        return n;
    }
    const int result = device.board->handle(
        static_cast<uint8_t>(request), static_cast<uint16_t>(value), static_cast<uint16_t>(index),
        reinterpret_cast<uint8_t *>(bytes), size);
    if (result < 0)
        lastError = "error sending control message";
    return result;
}

char *usb_strerror(void)
{
    return const_cast<char *>(lastError);
}
