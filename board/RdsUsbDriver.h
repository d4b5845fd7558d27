// The board command layer: one operation per field and direction. Reads turn
// reply bytes into display text, writes turn display text into request values.
// Each returns true when every request of the field went through; a failure
// prints one message on standard output (no line end) and sends nothing more
// for the field.
#ifndef RDS_USB_DRIVER_H
#define RDS_USB_DRIVER_H

#include <usb.h>

// Reads. Data receives the display text (at least 65 bytes); a failed request
// leaves what was read before it.
bool RdsUsbReadPSRam(usb_dev_handle *UsbRDSBoard, char *Data);
bool RdsUsbReadRTRam(usb_dev_handle *UsbRDSBoard, char *Data);
bool RdsUsbReadPTY_TP_TA_MS_DI(usb_dev_handle *UsbRDSBoard, char *Data, int SelectDest);
bool RdsUsbReadPSE2p(usb_dev_handle *UsbRDSBoard, char *Data);
bool RdsUsbReadRTE2p(usb_dev_handle *UsbRDSBoard, char *Data);
bool RdsUsbReadPIE2p(usb_dev_handle *UsbRDSBoard, char *Data);
bool RdsUsbReadNAFE2p(usb_dev_handle *UsbRDSBoard, char *Data);
bool RdsUsbReadAFE2p(usb_dev_handle *UsbRDSBoard, char *Data, int indexAF);
bool RdsUsbRead2AE2p(usb_dev_handle *UsbRDSBoard, char *Data);
bool RdsUsbReadSTE2p(usb_dev_handle *UsbRDSBoard, char *Data);

// Writes. Data is the field's text, at most 127 characters. A text without a
// number, or an AF outside 87.6 to 107.9 MHz, is refused: nothing is sent.
bool RdsUsbWritePSRam(usb_dev_handle *UsbRDSBoard, const char *Data);
bool RdsUsbWritePSE2p(usb_dev_handle *UsbRDSBoard, const char *Data);
bool RdsUsbWriteRTRam(usb_dev_handle *UsbRDSBoard, const char *Data);
bool RdsUsbWriteRTE2p(usb_dev_handle *UsbRDSBoard, const char *Data);
bool RdsUsbWritePTY(usb_dev_handle *UsbRDSBoard, const char *Data, int SelectDest);
bool RdsUsbWriteTP(usb_dev_handle *UsbRDSBoard, const char *Data, int SelectDest);
bool RdsUsbWriteTA(usb_dev_handle *UsbRDSBoard, const char *Data, int SelectDest);
bool RdsUsbWriteMS(usb_dev_handle *UsbRDSBoard, const char *Data, int SelectDest);
bool RdsUsbWriteDI(usb_dev_handle *UsbRDSBoard, const char *Data, int SelectDest);
bool RdsUsbWritePIE2p(usb_dev_handle *UsbRDSBoard, const char *Data);
bool RdsUsbWriteNAFE2p(usb_dev_handle *UsbRDSBoard, const char *Data);
bool RdsUsbWriteAFE2p(usb_dev_handle *UsbRDSBoard, const char *Data, int indexAF);
bool RdsUsbWrite2AE2p(usb_dev_handle *UsbRDSBoard, const char *Data);
bool RdsUsbWriteSTE2p(usb_dev_handle *UsbRDSBoard, const char *Data);

// Writes a field other than an AF by its first write request code; false for
// a code that names no field.
bool RdsUsbWriteDataEdit(usb_dev_handle *UsbRDSBoard, int WriteCmd, const char *Data);
// Has the board return its EEPROM data to their defaults.
bool RdsUsbResetE2p(usb_dev_handle *UsbRDSBoard);

#endif
