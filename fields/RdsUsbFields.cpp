#include "RdsUsbFields.h"

#include "RdsUsbDriver.h"
#include "rds_usb.h"

// Rows 0-6 RAM, 7-13 EEPROM copies of the same fields, 14-15 PI and number of
// AFs, 16-40 AF00 to AF24 (control ids run right to left from the second grid
// row on), 41-42 2A-group rate and stereo setting.
// A row per field, however wide.
// clang-format off
const T_R_FieldDef RdsUsbFields[RDS_USB_FIELD_COUNT] = {
    {1003, RDS_USB_WRITE_PS1_RAM, RdsUsbReadPSRam, nullptr, 0, "ram.ps", "RAM PS Name"},
    {1004, RDS_USB_WRITE_RT_RAM, RdsUsbReadRTRam, nullptr, 0, "ram.rt", "RAM RadioTxt"},
    {1007, RDS_USB_WRITE_PTY_RAM, nullptr, RdsUsbReadPTY_TP_TA_MS_DI, RDS_USB_READ_PTY_RAM, "ram.pty", "RAM PTY"},
    {1009, RDS_USB_WRITE_TP_RAM, nullptr, RdsUsbReadPTY_TP_TA_MS_DI, RDS_USB_READ_TP_RAM, "ram.tp", "RAM TP"},
    {1010, RDS_USB_WRITE_TA_RAM, nullptr, RdsUsbReadPTY_TP_TA_MS_DI, RDS_USB_READ_TA_RAM, "ram.ta", "RAM TA"},
    {1014, RDS_USB_WRITE_MS_RAM, nullptr, RdsUsbReadPTY_TP_TA_MS_DI, RDS_USB_READ_MS_RAM, "ram.ms", "RAM MS"},
    {1016, RDS_USB_WRITE_DI_RAM, nullptr, RdsUsbReadPTY_TP_TA_MS_DI, RDS_USB_READ_DI_RAM, "ram.di", "RAM DI"},
    {1029, RDS_USB_WRITE_PS1_E2P, RdsUsbReadPSE2p, nullptr, 0, "eeprom.ps", "EEPROM PS Name"},
    {1028, RDS_USB_WRITE_RT_E2P, RdsUsbReadRTE2p, nullptr, 0, "eeprom.rt", "EEPROM RadioTxt"},
    {1026, RDS_USB_WRITE_PTY_E2P, nullptr, RdsUsbReadPTY_TP_TA_MS_DI, RDS_USB_READ_PTY_E2P, "eeprom.pty", "EEPROM PTY"},
    {1020, RDS_USB_WRITE_TP_E2P, nullptr, RdsUsbReadPTY_TP_TA_MS_DI, RDS_USB_READ_TP_E2P, "eeprom.tp", "EEPROM TP"},
    {1018, RDS_USB_WRITE_TA_E2P, nullptr, RdsUsbReadPTY_TP_TA_MS_DI, RDS_USB_READ_TA_E2P, "eeprom.ta", "EEPROM TA"},
    {1024, RDS_USB_WRITE_MS_E2P, nullptr, RdsUsbReadPTY_TP_TA_MS_DI, RDS_USB_READ_MS_E2P, "eeprom.ms", "EEPROM MS"},
    {1022, RDS_USB_WRITE_DI_E2P, nullptr, RdsUsbReadPTY_TP_TA_MS_DI, RDS_USB_READ_DI_E2P, "eeprom.di", "EEPROM DI"},
    {1033, RDS_USB_WRITE_PI_E2P, RdsUsbReadPIE2p, nullptr, 0, "eeprom.pi", "PI Code"},
    {1035, RDS_USB_WRITE_NAF_E2P, RdsUsbReadNAFE2p, nullptr, 0, "eeprom.naf", "Used AF"},
    {1037, RDS_USB_WRITE_AF_E2P, nullptr, RdsUsbReadAFE2p, 0, "eeprom.af00", "AF00"},
    {1039, RDS_USB_WRITE_AF_E2P, nullptr, RdsUsbReadAFE2p, 1, "eeprom.af01", "AF01"},
    {1041, RDS_USB_WRITE_AF_E2P, nullptr, RdsUsbReadAFE2p, 2, "eeprom.af02", "AF02"},
    {1043, RDS_USB_WRITE_AF_E2P, nullptr, RdsUsbReadAFE2p, 3, "eeprom.af03", "AF03"},
    {1045, RDS_USB_WRITE_AF_E2P, nullptr, RdsUsbReadAFE2p, 4, "eeprom.af04", "AF04"},
    {1055, RDS_USB_WRITE_AF_E2P, nullptr, RdsUsbReadAFE2p, 5, "eeprom.af05", "AF05"},
    {1053, RDS_USB_WRITE_AF_E2P, nullptr, RdsUsbReadAFE2p, 6, "eeprom.af06", "AF06"},
    {1051, RDS_USB_WRITE_AF_E2P, nullptr, RdsUsbReadAFE2p, 7, "eeprom.af07", "AF07"},
    {1049, RDS_USB_WRITE_AF_E2P, nullptr, RdsUsbReadAFE2p, 8, "eeprom.af08", "AF08"},
    {1047, RDS_USB_WRITE_AF_E2P, nullptr, RdsUsbReadAFE2p, 9, "eeprom.af09", "AF09"},
    {1065, RDS_USB_WRITE_AF_E2P, nullptr, RdsUsbReadAFE2p, 10, "eeprom.af10", "AF10"},
    {1063, RDS_USB_WRITE_AF_E2P, nullptr, RdsUsbReadAFE2p, 11, "eeprom.af11", "AF11"},
    {1061, RDS_USB_WRITE_AF_E2P, nullptr, RdsUsbReadAFE2p, 12, "eeprom.af12", "AF12"},
    {1059, RDS_USB_WRITE_AF_E2P, nullptr, RdsUsbReadAFE2p, 13, "eeprom.af13", "AF13"},
    {1057, RDS_USB_WRITE_AF_E2P, nullptr, RdsUsbReadAFE2p, 14, "eeprom.af14", "AF14"},
    {1075, RDS_USB_WRITE_AF_E2P, nullptr, RdsUsbReadAFE2p, 15, "eeprom.af15", "AF15"},
    {1073, RDS_USB_WRITE_AF_E2P, nullptr, RdsUsbReadAFE2p, 16, "eeprom.af16", "AF16"},
    {1071, RDS_USB_WRITE_AF_E2P, nullptr, RdsUsbReadAFE2p, 17, "eeprom.af17", "AF17"},
    {1069, RDS_USB_WRITE_AF_E2P, nullptr, RdsUsbReadAFE2p, 18, "eeprom.af18", "AF18"},
    {1067, RDS_USB_WRITE_AF_E2P, nullptr, RdsUsbReadAFE2p, 19, "eeprom.af19", "AF19"},
    {1085, RDS_USB_WRITE_AF_E2P, nullptr, RdsUsbReadAFE2p, 20, "eeprom.af20", "AF20"},
    {1083, RDS_USB_WRITE_AF_E2P, nullptr, RdsUsbReadAFE2p, 21, "eeprom.af21", "AF21"},
    {1081, RDS_USB_WRITE_AF_E2P, nullptr, RdsUsbReadAFE2p, 22, "eeprom.af22", "AF22"},
    {1079, RDS_USB_WRITE_AF_E2P, nullptr, RdsUsbReadAFE2p, 23, "eeprom.af23", "AF23"},
    {1077, RDS_USB_WRITE_AF_E2P, nullptr, RdsUsbReadAFE2p, 24, "eeprom.af24", "AF24"},
    {1092, RDS_USB_WRITE_2A_E2P, RdsUsbRead2AE2p, nullptr, 0, "eeprom.group2a", "2A Group"},
    {1093, RDS_USB_WRITE_ST_E2P, RdsUsbReadSTE2p, nullptr, 0, "eeprom.stereo", "Stereo"},
};
// clang-format on

bool RdsUsbReadField(const T_R_FieldDef *field, usb_dev_handle *UsbRDSBoard, char *Data)
{
    if (field->ReadWithArg)
        return field->ReadWithArg(UsbRDSBoard, Data, field->ReadArg);
    return field->Read(UsbRDSBoard, Data);
}

bool RdsUsbWriteField(const T_R_FieldDef *field, usb_dev_handle *UsbRDSBoard, const char *Data)
{
    if (field->IdRdsFunction == RDS_USB_WRITE_AF_E2P)
        return RdsUsbWriteAFE2p(UsbRDSBoard, Data, field->ReadArg);
    return RdsUsbWriteDataEdit(UsbRDSBoard, field->IdRdsFunction, Data);
}

const T_R_FieldDef *RdsUsbFindField(const char *Name)
{
    return RdsUsbFindField(std::string_view(Name));
}

const T_R_FieldDef *RdsUsbFindField(std::string_view Name)
{
    for (const T_R_FieldDef &field : RdsUsbFields)
        if (Name == field.Name)
            return &field;
    return nullptr;
}
