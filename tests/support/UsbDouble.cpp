#include "UsbDouble.h"

#include <usb.h>

#include <cstring>
#include <list>

namespace {

struct Handle {
    usbdouble::Device *device;
};

std::vector<usbdouble::Device> devices;
std::list<struct usb_device> records; // stable addresses for the library's list
struct usb_bus bus;
usbdouble::Calls counts;
std::list<Handle> handles;
const char *lastError = "";

usbdouble::Device *deviceOf(struct usb_device *dev)
{
    size_t i = 0;
    for (auto &record : records) {
        if (&record == dev)
            return &devices[i];
        i++;
    }
    return nullptr;
}

int stringDescriptor(const std::string &text, char *bytes, int size)
{
    int length = 2 + 2 * static_cast<int>(text.size());
    std::vector<unsigned char> reply{static_cast<unsigned char>(length), 3};
    for (unsigned char c : text) {
        reply.push_back(c);
        reply.push_back(0);
    }
    int n = std::min(size, static_cast<int>(reply.size()));
    memcpy(bytes, reply.data(), n);
    return n;
}

} // namespace

namespace usbdouble {

void reset(const std::vector<Device> &list)
{
    devices = list;
    records.clear();
    handles.clear();
    counts = {};
    memset(&bus, 0, sizeof(bus));
    struct usb_device *previous = nullptr;
    for (const Device &d : devices) {
        struct usb_device &record = records.emplace_back();
        memset(&record, 0, sizeof(record));
        record.descriptor.idVendor = d.vendor;
        record.descriptor.idProduct = d.product;
        record.descriptor.iManufacturer = 1;
        record.descriptor.iProduct = 2;
        record.bus = &bus;
        record.prev = previous;
        if (previous)
            previous->next = &record;
        else
            bus.devices = &record;
        previous = &record;
    }
}

const Calls &calls()
{
    return counts;
}

int openHandles()
{
    return static_cast<int>(handles.size());
}

} // namespace usbdouble

void usb_init(void)
{
    counts.init++;
}

int usb_find_busses(void)
{
    counts.findBusses++;
    return 0;
}

int usb_find_devices(void)
{
    counts.findDevices++;
    return 0;
}

struct usb_bus *usb_get_busses(void)
{
    return bus.devices ? &bus : nullptr;
}

usb_dev_handle *usb_open(struct usb_device *dev)
{
    counts.open++;
    usbdouble::Device *device = deviceOf(dev);
    if (device->openFails) {
        lastError = "could not open device";
        return nullptr;
    }
    handles.push_back({device});
    return reinterpret_cast<usb_dev_handle *>(&handles.back());
}

int usb_close(usb_dev_handle *dev)
{
    counts.close++;
    handles.remove_if([dev](const Handle &h) { return &h == reinterpret_cast<Handle *>(dev); });
    return 0;
}

int usb_set_configuration(usb_dev_handle *dev, int configuration)
{
    counts.configurations.push_back(configuration);
    const int error = reinterpret_cast<Handle *>(dev)->device->setConfigurationError;
    if (error < 0)
        lastError = "error setting configuration";
    return error;
}

int usb_claim_interface(usb_dev_handle *dev, int interface)
{
    counts.interfaces.push_back(interface);
    usbdouble::Device *device = reinterpret_cast<Handle *>(dev)->device;
    return device->claimFailures-- > 0 ? -16 : 0;
}

int usb_control_msg(usb_dev_handle *dev, int requesttype, int request, int value, int index,
                    char *bytes, int size, int timeout)
{
    counts.transfers.push_back({requesttype, request, value, index, size, timeout});
    usbdouble::Device *device = reinterpret_cast<Handle *>(dev)->device;
    if (requesttype == USB_ENDPOINT_IN && request == USB_REQ_GET_DESCRIPTOR) {
        const int which = value & 0xFF;
        const int error = which == 1 ? device->manufacturerError : device->productError;
        if (error < 0) {
            lastError = "error sending control message: Broken pipe";
            return error;
        }
        return stringDescriptor(which == 1 ? device->manufacturer : device->productName, bytes, size);
    }
    int result = device->board->handle(static_cast<uint8_t>(request), static_cast<uint16_t>(value),
                                       static_cast<uint16_t>(index),
                                       reinterpret_cast<uint8_t *>(bytes), size);
    if (result < 0)
        lastError = "error sending control message";
    return result;
}

char *usb_strerror(void)
{
    return const_cast<char *>(lastError);
}
