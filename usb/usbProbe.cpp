#include "usbProbe.h"

#include "usbInterface.h"
#include "usbStringDescriptor.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#define USB_LANGID_EN_US 0x0409
#define USB_CONFIGURATION 1
#define USB_INTERFACE 0
#define USB_CLAIM_ATTEMPTS 4

// The buses and devices as they are now.
static struct usb_bus *usbScanBuses()
{
    static bool didUsbInit = false;
    if (!didUsbInit) {
        usb_init();
        didUsbInit = true;
    }
    usb_find_busses();
    usb_find_devices();
    return usb_get_busses();
}

// String descriptor `index` as 8-bit text into text; the characters stored or
// the library's negative result (text then holds its error text).
static int usbReadString(usb_dev_handle *handle, int index, std::string &text)
{
    unsigned char reply[USB_STRING_REPLY_SIZE];
    const int rval = usb_control_msg(handle, USB_ENDPOINT_IN, USB_REQ_GET_DESCRIPTOR,
                                     (USB_DT_STRING << 8) + index, USB_LANGID_EN_US,
                                     reinterpret_cast<char *>(reply), sizeof(reply),
                                     USB_TIMEOUT_MS);
    if (rval < 0) {
        text = usb_strerror();
        return rval;
    }
    char buf[USB_STRING_REPLY_SIZE];
    const int length = usbStringDescriptorToAscii(reply, rval, buf, sizeof(buf));
    text.assign(buf, length);
    return length;
}

std::vector<UsbProbeEntry> usbProbeDevices(int vendor, int product)
{
    std::vector<UsbProbeEntry> entries;
    for (struct usb_bus *bus = usbScanBuses(); bus; bus = bus->next) {
        for (struct usb_device *dev = bus->devices; dev; dev = dev->next) {
            if (dev->descriptor.idVendor != vendor || dev->descriptor.idProduct != product)
                continue;
            UsbProbeEntry entry;
            entry.bus = bus->dirname;
            entry.device = dev->filename;
            usb_dev_handle *handle = usb_open(dev);
            entry.opened = handle != nullptr;
            if (!handle) {
                entry.openError = usb_strerror();
            } else {
                entry.manufacturerResult =
                    usbReadString(handle, dev->descriptor.iManufacturer, entry.manufacturer);
                entry.productResult = usbReadString(handle, dev->descriptor.iProduct, entry.product);
                usb_close(handle);
            }
            entries.push_back(entry);
        }
    }
    return entries;
}

// Whether the device carries the expected strings; *status as usbOpenDevice
// leaves it for the device.
static bool usbHasStrings(usb_dev_handle *handle, struct usb_device *dev, const char *vendorName,
                          const char *productName, int *status)
{
    std::string text;
    if (usbReadString(handle, dev->descriptor.iManufacturer, text) < 0) {
        *status = USB_OPEN_ERR_IO;
        fprintf(stderr, "Warning: cannot query manufacturer for device: %s\n", text.c_str());
        return false;
    }
    *status = USB_OPEN_ERR_NOTFOUND;
    if (text != vendorName)
        return false;
    if (usbReadString(handle, dev->descriptor.iProduct, text) < 0) {
        *status = USB_OPEN_ERR_IO;
        fprintf(stderr, "Warning: cannot query product for device: %s\n", text.c_str());
        return false;
    }
    return text == productName;
}

int usbOpenDeviceAt(usb_dev_handle **device, int vendor, const char *vendorName, int product,
                    const char *productName, int busNumber, int deviceNumber)
{
    usb_dev_handle *handle = nullptr;
    int status = USB_OPEN_ERR_NOTFOUND;
    for (struct usb_bus *bus = usbScanBuses(); bus && !handle; bus = bus->next) {
        if (atoi(bus->dirname) != busNumber)
            continue;
        for (struct usb_device *dev = bus->devices; dev && !handle; dev = dev->next) {
            if (atoi(dev->filename) != deviceNumber || dev->descriptor.idVendor != vendor ||
                dev->descriptor.idProduct != product)
                continue;
            handle = usb_open(dev);
            if (!handle) {
                status = USB_OPEN_ERR_ACCESS;
                fprintf(stderr, "Warning: cannot open USB device: %s\n", usb_strerror());
            } else if ((vendorName || productName) &&
                       !usbHasStrings(handle, dev, vendorName, productName, &status)) {
                usb_close(handle);
                handle = nullptr;
            }
        }
    }
    if (!handle)
        return status;

    if (usb_set_configuration(handle, USB_CONFIGURATION) != 0)
        fprintf(stderr, "Warning: could not set configuration: %s\n", usb_strerror());
    int claimed = -1;
    for (int attempt = 0; attempt < USB_CLAIM_ATTEMPTS && claimed != 0; attempt++)
        claimed = usb_claim_interface(handle, USB_INTERFACE);
    if (claimed != 0)
        fprintf(stderr, "Warning: could not claim interface\n");
    *device = handle;
    return USB_OPEN_OK;
}
