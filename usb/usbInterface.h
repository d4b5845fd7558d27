// The USB device link: finds the board by ids and strings, opens and prepares
// it, carries its vendor control requests and closes it. The only code that
// calls libusb.
#ifndef USB_INTERFACE_H
#define USB_INTERFACE_H

#include <usb.h>

// usbOpenDevice status
#define USB_OPEN_OK 0
#define USB_OPEN_ERR_ACCESS 1   // opening the last device with matching ids failed
#define USB_OPEN_ERR_NOTFOUND 2 // no device with both ids and the expected strings
#define USB_OPEN_ERR_IO 5       // reading a string descriptor failed

#define USB_TIMEOUT_MS 1000

// vendorName and productName are both given or both null (null: the first
// device with the ids that opens is taken). *device is written only on 0.
int usbOpenDevice(usb_dev_handle **device, int vendor, const char *vendorName, int product,
                  const char *productName);
void usbCloseDevice(usb_dev_handle *device);

// One vendor control transfer (IN: type 0xC0, OUT: type 0x40); only the low 16
// bits of value and index reach the device. Returns the library's result:
// bytes transferred, or a negative error code.
int sendUSBVendorCmdIn(usb_dev_handle *device, int request, int value, int index, void *replydata,
                       int len);
int sendUSBVendorCmdOut(usb_dev_handle *device, int request, int value, int index, void *replydata,
                        int len);

#endif
