#include "usbInterface.h"

#include "usbProbe.h"
#include "usbStringDescriptor.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#define USB_LANGID_EN_US 0x0409
#define USB_CONFIGURATION 1
#define USB_INTERFACE 0
#define USB_CLAIM_ATTEMPTS 4

// Reads string descriptor `index` as 8-bit text. Returns the number of
// characters stored, or the library's negative result (buf untouched).
static int usbGetStringAscii(usb_dev_handle *dev, int index, int langid, char *buf, int buflen)
{
    unsigned char reply[USB_STRING_REPLY_SIZE];
    int rval =
        usb_control_msg(dev, USB_ENDPOINT_IN, USB_REQ_GET_DESCRIPTOR, (USB_DT_STRING << 8) + index,
                        langid, reinterpret_cast<char *>(reply), sizeof(reply), USB_TIMEOUT_MS);
    if (rval < 0)
        return rval;
    return usbStringDescriptorToAscii(reply, rval, buf, buflen);
}

// A string for the probe: its text, or the library's error text.
static int usbProbeString(usb_dev_handle *handle, int index, std::string &text)
{
    char buf[USB_STRING_REPLY_SIZE];
    const int length = usbGetStringAscii(handle, index, USB_LANGID_EN_US, buf, sizeof(buf));
    text = length < 0 ? std::string(usb_strerror()) : std::string(buf, length);
    return length;
}

// The buses and devices as they are now; the library is initialised once per
// process, however often the board is opened.
static struct usb_bus *usbScanBuses(void)
{
    static int didUsbInit = 0;
    if (!didUsbInit) {
        usb_init();
        didUsbInit = 1;
    }
    usb_find_busses();
    usb_find_devices();
    return usb_get_busses();
}

// Whether an opened device carries both strings; *errorCode as the search
// leaves it for this device.
static bool usbHasStrings(usb_dev_handle *handle, struct usb_device *dev, const char *vendorName,
                          const char *productName, int *errorCode)
{
    char string[256];
    if (usbGetStringAscii(handle, dev->descriptor.iManufacturer, USB_LANGID_EN_US, string,
                          sizeof(string)) < 0) {
        *errorCode = USB_OPEN_ERR_IO;
        fprintf(stderr, "Warning: cannot query manufacturer for device: %s\n", usb_strerror());
        return false;
    }
    *errorCode = USB_OPEN_ERR_NOTFOUND;
    if (strcmp(string, vendorName) != 0)
        return false;
    if (usbGetStringAscii(handle, dev->descriptor.iProduct, USB_LANGID_EN_US, string,
                          sizeof(string)) < 0) {
        *errorCode = USB_OPEN_ERR_IO;
        fprintf(stderr, "Warning: cannot query product for device: %s\n", usb_strerror());
        return false;
    }
    *errorCode = USB_OPEN_ERR_NOTFOUND;
    return strcmp(string, productName) == 0;
}

// usbOpenDevice, among the devices at bus busNumber and device number
// deviceNumber when these are not 0.
static int usbOpenMatching(usb_dev_handle **device, int vendor, const char *vendorName, int product,
                           const char *productName, int busNumber, int deviceNumber)
{
    usb_dev_handle *handle = nullptr;
    int errorCode = USB_OPEN_ERR_NOTFOUND;

    for (struct usb_bus *bus = usbScanBuses(); bus && !handle; bus = bus->next) {
        if (busNumber && atoi(bus->dirname) != busNumber)
            continue;
        for (struct usb_device *dev = bus->devices; dev && !handle; dev = dev->next) {
            if (dev->descriptor.idVendor != vendor || dev->descriptor.idProduct != product ||
                (deviceNumber && atoi(dev->filename) != deviceNumber))
                continue;
            handle = usb_open(dev);
            if (!handle) {
                errorCode = USB_OPEN_ERR_ACCESS;
                fprintf(stderr, "Warning: cannot open USB device: %s\n", usb_strerror());
                continue;
            }
            if (vendorName == nullptr && productName == nullptr)
                break;
            if (usbHasStrings(handle, dev, vendorName, productName, &errorCode))
                break;
            usb_close(handle);
            handle = nullptr;
        }
    }
    if (!handle)
        return errorCode;

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

int usbOpenDevice(usb_dev_handle **device, int vendor, const char *vendorName, int product,
                  const char *productName)
{
    return usbOpenMatching(device, vendor, vendorName, product, productName, 0, 0);
}

int usbOpenDeviceAt(usb_dev_handle **device, int vendor, const char *vendorName, int product,
                    const char *productName, int busNumber, int deviceNumber)
{
    return usbOpenMatching(device, vendor, vendorName, product, productName, busNumber,
                           deviceNumber);
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
                    usbProbeString(handle, dev->descriptor.iManufacturer, entry.manufacturer);
                entry.productResult =
                    usbProbeString(handle, dev->descriptor.iProduct, entry.product);
                usb_close(handle);
            }
            entries.push_back(entry);
        }
    }
    return entries;
}

void usbCloseDevice(usb_dev_handle *device)
{
    if (device != nullptr)
        usb_close(device);
}

int sendUSBVendorCmdIn(usb_dev_handle *device, int request, int value, int index, void *replydata,
                       int len)
{
    return usb_control_msg(device, USB_TYPE_VENDOR | USB_RECIP_DEVICE | USB_ENDPOINT_IN, request,
                           value & 0xFFFF, index & 0xFFFF, static_cast<char *>(replydata), len,
                           USB_TIMEOUT_MS);
}

int sendUSBVendorCmdOut(usb_dev_handle *device, int request, int value, int index, void *replydata,
                        int len)
{
    return usb_control_msg(device, USB_TYPE_VENDOR | USB_RECIP_DEVICE | USB_ENDPOINT_OUT, request,
                           value & 0xFFFF, index & 0xFFFF, static_cast<char *>(replydata), len,
                           USB_TIMEOUT_MS);
}
