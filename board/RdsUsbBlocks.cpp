#include "RdsUsbBlocks.h"

#include "rds_usb.h"
#include "usbInterface.h"

int RdsUsbReadBlock(usb_dev_handle *UsbRDSBoard, int code, int value, unsigned char *reply)
{
    return sendUSBVendorCmdIn(UsbRDSBoard, code, value, 0, reply, RDS_USB_REPLY_SIZE);
}

int RdsUsbWriteTextBlock(usb_dev_handle *UsbRDSBoard, int code, const unsigned char *block)
{
    return RdsUsbWriteValue(UsbRDSBoard, code, block[0] * 256 + block[1],
                            block[2] * 256 + block[3]);
}

int RdsUsbWriteValue(usb_dev_handle *UsbRDSBoard, int code, int value, int index)
{
    unsigned char reply[RDS_USB_REPLY_SIZE];
    return sendUSBVendorCmdIn(UsbRDSBoard, code, value, index, reply, sizeof reply);
}
