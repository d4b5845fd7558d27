// For front ends that list or pick boards: what the USB link tells about every
// device with given ids, and opening one device by its place on the buses.
#ifndef USB_PROBE_H
#define USB_PROBE_H

#include <usb.h>

#include <string>
#include <vector>

// One device with the ids asked for, as found on the buses.
struct UsbProbeEntry {
    std::string bus;    // libusb's names: "001"
    std::string device; // "007"
    bool opened = false;
    std::string openError; // when not opened
    // Each string: the number of characters read, or the library's negative
    // result; the text holds the string, or the library's error text.
    int manufacturerResult = 0;
    std::string manufacturer;
    int productResult = 0;
    std::string product;
};

// Every device with these ids, in bus and device order, each opened to read
// its manufacturer and product strings (language 0x0409) and closed again.
std::vector<UsbProbeEntry> usbProbeDevices(int vendor, int product);

// usbOpenDevice, restricted to the device at bus busNumber, device number
// deviceNumber (the numbers of libusb's names, so 1/7 is "001"/"007"). The
// same statuses, warnings and preparation.
int usbOpenDeviceAt(usb_dev_handle **device, int vendor, const char *vendorName, int product,
                    const char *productName, int busNumber, int deviceNumber);

#endif
