// The board's 43 editable fields, in the order of the field table: control
// id, write request, read operation, and the names front ends show. Free of
// any dialog code, so every front end walks the same table.
#ifndef RDS_USB_FIELDS_H
#define RDS_USB_FIELDS_H

#include <usb.h>

#include <string_view>

#define RDS_USB_FIELD_COUNT 43

struct T_R_FieldDef {
    int IdEdit;        // edit control in dialog 1000
    int IdRdsFunction; // first write request; 0x6A for the AFs
    // The read: exactly one of the two is set; the second takes ReadArg
    // (SelectDest for PTY to DI, the AF number for an AF).
    bool (*Read)(usb_dev_handle *UsbRDSBoard, char *Data);
    bool (*ReadWithArg)(usb_dev_handle *UsbRDSBoard, char *Data, int arg);
    int ReadArg;
    const char *Name;  // stable short name: "ram.ps", "eeprom.af07"
    const char *Label; // for people: "RAM PS Name", "AF07"
};

extern const T_R_FieldDef RdsUsbFields[RDS_USB_FIELD_COUNT];

// Reads the field from the board into Data (at least 128 bytes).
bool RdsUsbReadField(const T_R_FieldDef *field, usb_dev_handle *UsbRDSBoard, char *Data);
// Writes Data to the field: AFs by their number, the rest through the dispatch.
bool RdsUsbWriteField(const T_R_FieldDef *field, usb_dev_handle *UsbRDSBoard, const char *Data);
// The field of that short name, or null.
const T_R_FieldDef *RdsUsbFindField(const char *Name);
const T_R_FieldDef *RdsUsbFindField(std::string_view Name);

#endif
