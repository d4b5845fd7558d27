// Block-wise access for front ends that keep an image of what the board holds:
// a field's bytes exactly as the board stores them, one request per block, no
// messages. A PS name is two blocks of four characters, a RadioText sixteen;
// every other field is one block. Each returns the request's result: bytes
// answered, or libusb's negative error (-19: the board is gone).
#ifndef RDS_USB_BLOCKS_H
#define RDS_USB_BLOCKS_H

#include <usb.h>

#define RDS_USB_BLOCK_SIZE 4

// Read request `code` (with `value`, the AF number for an AF) into reply
// (RDS_USB_REPLY_SIZE bytes).
int RdsUsbReadBlock(usb_dev_handle *UsbRDSBoard, int code, int value, unsigned char *reply);
// Write request `code` carrying four text bytes: the first two in wValue, the
// other two in wIndex, the earlier byte high.
int RdsUsbWriteTextBlock(usb_dev_handle *UsbRDSBoard, int code, const unsigned char *block);
// Write request `code` carrying a number in wValue and wIndex.
int RdsUsbWriteValue(usb_dev_handle *UsbRDSBoard, int code, int value, int index);

#endif
