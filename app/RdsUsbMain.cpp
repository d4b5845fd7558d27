#include "RdsUsbMain.h"

#include "RdsUsbDriver.h"
#include "RdsUsbFields.h"
#include "rds_usb.h"
#include "usbInterface.h"

#include <cstdio>
#include <cstring>

usb_dev_handle *UsbRDSBoard = nullptr;

static T_R_DataMainEdit DataEdit[RDS_USB_FIELD_COUNT];
static int OffsetAF0 = 0;

int InitDataEdit(void)
{
    int Index, IndexDataEdit, Result = 0;

    for (Index = 0; Index < RDS_USB_FIELD_COUNT; Index++)
        DataEdit[Index].OldString[0] = 0;

    Result = usbOpenDevice(&UsbRDSBoard, RDS_USB_VENDOR_ID, RDS_USB_VENDOR_NAME, RDS_USB_PRODUCT_ID,
                           RDS_USB_PRODUCT_NAME);
    if (Result != 0) {
        UsbRDSBoard = nullptr;
        return Result;
    }

    for (IndexDataEdit = 0; IndexDataEdit < RDS_USB_FIELD_COUNT; IndexDataEdit++) {
        const T_R_FieldDef &field = RdsUsbFields[IndexDataEdit];
        DataEdit[IndexDataEdit].IdEdit = field.IdEdit;
        DataEdit[IndexDataEdit].IdRdsFunction = field.IdRdsFunction;
        RdsUsbReadField(&field, UsbRDSBoard, DataEdit[IndexDataEdit].OldString);
        if (field.IdRdsFunction == RDS_USB_WRITE_AF_E2P && field.ReadArg == 0)
            OffsetAF0 = IndexDataEdit;
    }
    if (IndexDataEdit != RDS_USB_FIELD_COUNT)
        printf("ERREUR InitDataEdit : IndexDataEdit=%d\r\n", IndexDataEdit);
    return Result;
}

const T_R_DataMainEdit *GetDataEdit(void)
{
    return DataEdit;
}

void InitOldDataEdit(HWND hDlg)
{
    for (int i = 0; i < RDS_USB_FIELD_COUNT; i++)
        SetDlgItemTextA(hDlg, DataEdit[i].IdEdit, DataEdit[i].OldString);
}

void ReadNewDataEdit(HWND hDlg)
{
    for (int i = 0; i < RDS_USB_FIELD_COUNT; i++)
        GetDlgItemTextA(hDlg, DataEdit[i].IdEdit, DataEdit[i].NewString, RDS_USB_TEXT_SIZE);
}

bool CheckNewDataEdit(HWND)
{
    bool allWritten = true;
    for (int i = 0; i < RDS_USB_FIELD_COUNT; i++) {
        if (strcmp(DataEdit[i].NewString, DataEdit[i].OldString) == 0)
            continue;
        bool written;
        if (DataEdit[i].IdRdsFunction == RDS_USB_WRITE_AF_E2P)
            written = RdsUsbWriteAFE2p(UsbRDSBoard, DataEdit[i].NewString, i - OffsetAF0);
        else
            written =
                RdsUsbWriteDataEdit(UsbRDSBoard, DataEdit[i].IdRdsFunction, DataEdit[i].NewString);
        if (written)
            strcpy(DataEdit[i].OldString, DataEdit[i].NewString);
        else
            allWritten = false;
    }
    return allWritten;
}

void PendingDataEdit(char *Text, int size)
{
    for (int i = 0; i < RDS_USB_FIELD_COUNT; i++) {
        if (strcmp(DataEdit[i].NewString, DataEdit[i].OldString) == 0)
            continue;
        const size_t used = strlen(Text);
        snprintf(Text + used, size - used, "\r\n%s", RdsUsbFields[i].Label);
    }
}
