#include "RdsUsbDriver.h"

#include "RdsUsbNumber.h"
#include "rds_usb.h"
#include "usbInterface.h"

#include <cstdio>
#include <cstring>

// The one reply buffer of every board request.
static unsigned char iodata[RDS_USB_REPLY_SIZE];

static int sendRequest(usb_dev_handle *UsbRDSBoard, int request, int value, int index)
{
    return sendUSBVendorCmdIn(UsbRDSBoard, request, value, index, iodata, sizeof(iodata));
}

// Two characters of a text in one 16-bit setup field: the earlier character
// in the high byte.
static int charPair(const char *chars)
{
    return static_cast<unsigned char>(chars[0]) * 256 + static_cast<unsigned char>(chars[1]);
}

static bool readPS(usb_dev_handle *UsbRDSBoard, char *Data, int firstCode, const char *name)
{
    int result = sendRequest(UsbRDSBoard, firstCode, 0, 0);
    if (result < 0) {
        printf("Error %s sendUSBVendorCmd %d", name, result);
        return false;
    }
    memcpy(Data, iodata, 4);
    Data[4] = 0;
    result = sendRequest(UsbRDSBoard, firstCode + 1, 0, 0);
    if (result < 0) {
        printf("Error %s (2) sendUSBVendorCmd %d", name, result);
        return false;
    }
    memcpy(Data + 4, iodata, 4);
    Data[8] = 0;
    return true;
}

static bool readRT(usb_dev_handle *UsbRDSBoard, char *Data, int firstCode, const char *name)
{
    for (int k = 0; k < RDS_USB_RT_LENGTH / 4; k++) {
        int result = sendRequest(UsbRDSBoard, firstCode + k, 0, 0);
        if (result < 0) {
            printf("Error %s sendUSBVendorCmd %d", name, result);
            return false;
        }
        for (int i = 0; i < 4; i++)
            Data[4 * k + i] = iodata[i] < 0x20 ? ' ' : static_cast<char>(iodata[i]);
        Data[4 * k + 4] = 0;
    }
    return true;
}

static bool readByte(usb_dev_handle *UsbRDSBoard, char *Data, int code, const char *name)
{
    int result = sendRequest(UsbRDSBoard, code, 0, 0);
    if (result < 0) {
        printf("Error %s sendUSBVendorCmd %d", name, result);
        return false;
    }
    snprintf(Data, 4, "%d", iodata[0]);
    return true;
}

bool RdsUsbReadPSRam(usb_dev_handle *UsbRDSBoard, char *Data)
{
    return readPS(UsbRDSBoard, Data, RDS_USB_READ_PS1_RAM, "RdsUsbReadPSRam");
}

bool RdsUsbReadRTRam(usb_dev_handle *UsbRDSBoard, char *Data)
{
    return readRT(UsbRDSBoard, Data, RDS_USB_READ_RT_RAM, "RdsUsbReadRTRam");
}

bool RdsUsbReadPTY_TP_TA_MS_DI(usb_dev_handle *UsbRDSBoard, char *Data, int SelectDest)
{
    return readByte(UsbRDSBoard, Data, SelectDest, "RdsUsbReadPTY_TP_TA_MS_DI");
}

bool RdsUsbReadPSE2p(usb_dev_handle *UsbRDSBoard, char *Data)
{
    return readPS(UsbRDSBoard, Data, RDS_USB_READ_PS1_E2P, "RdsUsbReadPSE2p");
}

bool RdsUsbReadRTE2p(usb_dev_handle *UsbRDSBoard, char *Data)
{
    return readRT(UsbRDSBoard, Data, RDS_USB_READ_RT_E2P, "RdsUsbReadRTE2p");
}

bool RdsUsbReadPIE2p(usb_dev_handle *UsbRDSBoard, char *Data)
{
    int result = sendRequest(UsbRDSBoard, RDS_USB_READ_PI_E2P, 0, 0);
    if (result < 0) {
        printf("Error RdsUsbReadPIE2p sendUSBVendorCmd %d", result);
        return false;
    }
    RdsUsbFormatPi(iodata[0] * 256 + iodata[1], Data);
    return true;
}

bool RdsUsbReadNAFE2p(usb_dev_handle *UsbRDSBoard, char *Data)
{
    return readByte(UsbRDSBoard, Data, RDS_USB_READ_NAF_E2P, "RdsUsbReadNAFE2p");
}

bool RdsUsbReadAFE2p(usb_dev_handle *UsbRDSBoard, char *Data, int indexAF)
{
    int result = sendRequest(UsbRDSBoard, RDS_USB_READ_AF_E2P, indexAF, 0);
    if (result < 0) {
        printf("Error RdsUsbReadAFE2p sendUSBVendorCmd %d", result);
        return false;
    }
    // One decimal of (code + 875) / 10, formatted from the integer so that the
    // text never depends on the C library's locale.
    const int tenths = iodata[0] + RDS_USB_AF_CODE_OFFSET;
    snprintf(Data, 6, "%3d.%d", tenths / 10, tenths % 10);
    return true;
}

bool RdsUsbRead2AE2p(usb_dev_handle *UsbRDSBoard, char *Data)
{
    return readByte(UsbRDSBoard, Data, RDS_USB_READ_2A_E2P, "RdsUsbRead2AE2p");
}

bool RdsUsbReadSTE2p(usb_dev_handle *UsbRDSBoard, char *Data)
{
    return readByte(UsbRDSBoard, Data, RDS_USB_READ_ST_E2P, "RdsUsbReadSTE2p");
}

static bool writePS(usb_dev_handle *UsbRDSBoard, const char *Data, int firstCode, const char *name)
{
    char ps[RDS_USB_PS_LENGTH] = {}; // zero bytes where the text ends early
    memcpy(ps, Data, strnlen(Data, sizeof(ps)));
    int result = sendRequest(UsbRDSBoard, firstCode, charPair(ps), charPair(ps + 2));
    if (result < 0) {
        printf("Error %s sendUSBVendorCmd %d", name, result);
        return false;
    }
    result = sendRequest(UsbRDSBoard, firstCode + 1, charPair(ps + 4), charPair(ps + 6));
    if (result < 0) {
        printf("Error %s (2) sendUSBVendorCmd %d", name, result);
        return false;
    }
    return true;
}

// message: printf format taking the result.
static bool writeRT(usb_dev_handle *UsbRDSBoard, const char *Data, int firstCode,
                    const char *message)
{
    char NewRT[RDS_USB_RT_LENGTH + 1];
    memset(NewRT, '\r', RDS_USB_RT_LENGTH);
    NewRT[RDS_USB_RT_LENGTH] = 0;
    memcpy(NewRT, Data, strnlen(Data, RDS_USB_RT_LENGTH));
    for (int IndexChar = 0; IndexChar < RDS_USB_RT_LENGTH; IndexChar += 4) {
        int USBRequest = firstCode + IndexChar / 4;
        int result = sendRequest(UsbRDSBoard, USBRequest, charPair(NewRT + IndexChar),
                                 charPair(NewRT + IndexChar + 2));
        if (result < 0) {
            printf(message, result);
            return false;
        }
    }
    return true;
}

// One request carrying `number` in wValue; message: printf format taking the
// result (and, when withCode, the request code first).
static bool writeNumber(usb_dev_handle *UsbRDSBoard, int code, int number, const char *message,
                        bool withCode)
{
    int result = sendRequest(UsbRDSBoard, code, number, 0);
    if (result < 0) {
        if (withCode)
            printf(message, code, result);
        else
            printf(message, result);
        return false;
    }
    return true;
}

static bool writeDecimal(usb_dev_handle *UsbRDSBoard, const char *Data, int code, const char *name,
                         const char *message, bool withCode)
{
    int number;
    if (!RdsUsbParseDecimal(Data, &number)) {
        printf("Error %s invalid value", name);
        return false;
    }
    return writeNumber(UsbRDSBoard, code, number, message, withCode);
}

bool RdsUsbWritePSRam(usb_dev_handle *UsbRDSBoard, const char *Data)
{
    return writePS(UsbRDSBoard, Data, RDS_USB_WRITE_PS1_RAM, "RdsUsbWritePSRam");
}

bool RdsUsbWritePSE2p(usb_dev_handle *UsbRDSBoard, const char *Data)
{
    return writePS(UsbRDSBoard, Data, RDS_USB_WRITE_PS1_E2P, "RdsUsbWritePSE2p");
}

bool RdsUsbWriteRTRam(usb_dev_handle *UsbRDSBoard, const char *Data)
{
    return writeRT(UsbRDSBoard, Data, RDS_USB_WRITE_RT_RAM,
                   "Error RdsUsbWriteRTRam sendUSBVendorCmd %d");
}

bool RdsUsbWriteRTE2p(usb_dev_handle *UsbRDSBoard, const char *Data)
{
    return writeRT(UsbRDSBoard, Data, RDS_USB_WRITE_RT_E2P, "Error sendUSBVendorCmd %d");
}

bool RdsUsbWritePTY(usb_dev_handle *UsbRDSBoard, const char *Data, int SelectDest)
{
    return writeDecimal(UsbRDSBoard, Data, SelectDest, "RdsUsbWritePTY",
                        "Error RdsUsbWritePTY %d sendUSBVendorCmd %d", true);
}

bool RdsUsbWriteTP(usb_dev_handle *UsbRDSBoard, const char *Data, int SelectDest)
{
    return writeDecimal(UsbRDSBoard, Data, SelectDest, "RdsUsbWriteTP",
                        "Error RdsUsbWriteTP %d sendUSBVendorCmd %d", true);
}

bool RdsUsbWriteTA(usb_dev_handle *UsbRDSBoard, const char *Data, int SelectDest)
{
    return writeDecimal(UsbRDSBoard, Data, SelectDest, "RdsUsbWriteTA",
                        "Error RdsUsbWriteTA %d sendUSBVendorCmd %d", true);
}

bool RdsUsbWriteMS(usb_dev_handle *UsbRDSBoard, const char *Data, int SelectDest)
{
    return writeDecimal(UsbRDSBoard, Data, SelectDest, "RdsUsbWriteMS",
                        "Error RdsUsbWriteMS %d sendUSBVendorCmd %d", true);
}

bool RdsUsbWriteDI(usb_dev_handle *UsbRDSBoard, const char *Data, int SelectDest)
{
    return writeDecimal(UsbRDSBoard, Data, SelectDest, "RdsUsbWriteDI",
                        "Error RdsUsbWriteDIE2p sendUSBVendorCmd %d", false);
}

bool RdsUsbWritePIE2p(usb_dev_handle *UsbRDSBoard, const char *Data)
{
    unsigned NewPICode;
    if (!RdsUsbParseHex(Data, &NewPICode)) {
        printf("Error RdsUsbWritePIE2p invalid value");
        return false;
    }
    return writeNumber(UsbRDSBoard, RDS_USB_WRITE_PI_E2P, static_cast<int>(NewPICode & 0xFFFF),
                       "Error RdsUsbWritePIE2p sendUSBVendorCmd %d", false);
}

bool RdsUsbWriteNAFE2p(usb_dev_handle *UsbRDSBoard, const char *Data)
{
    return writeDecimal(UsbRDSBoard, Data, RDS_USB_WRITE_NAF_E2P, "RdsUsbWriteNAFE2p",
                        "Error RdsUsbWriteNAFE2p sendUSBVendorCmd %d", false);
}

bool RdsUsbWriteAFE2p(usb_dev_handle *UsbRDSBoard, const char *Data, int indexAF)
{
    double rounded = 0; // NaN-free default: refused below
    RdsUsbParseTenths(Data, &rounded);
    // Also refuses NaN and infinities.
    if (!(rounded > RDS_USB_AF_CODE_OFFSET &&
          rounded <= RDS_USB_AF_CODE_OFFSET + RDS_USB_AF_CODE_MAX)) {
        printf("Error RdsUsbWriteAFE2p invalid freq");
        return false;
    }
    const int NewAF = static_cast<int>(rounded) - RDS_USB_AF_CODE_OFFSET;
    int result = sendRequest(UsbRDSBoard, RDS_USB_WRITE_AF_E2P, NewAF, indexAF);
    if (result < 0) {
        printf("Error RdsUsbWriteAFE2p sendUSBVendorCmd %d", result);
        return false;
    }
    return true;
}

bool RdsUsbWrite2AE2p(usb_dev_handle *UsbRDSBoard, const char *Data)
{
    return writeDecimal(UsbRDSBoard, Data, RDS_USB_WRITE_2A_E2P, "RdsUsbWrite2AE2p",
                        "Error RdsUsbWrite2AE2p sendUSBVendorCmd %d", false);
}

bool RdsUsbWriteSTE2p(usb_dev_handle *UsbRDSBoard, const char *Data)
{
    return writeDecimal(UsbRDSBoard, Data, RDS_USB_WRITE_ST_E2P, "RdsUsbWriteSTE2p",
                        "Error RdsUsbWriteSTE2p sendUSBVendorCmd %d", false);
}

bool RdsUsbWriteDataEdit(usb_dev_handle *UsbRDSBoard, int WriteCmd, const char *Data)
{
    switch (WriteCmd) {
    case RDS_USB_WRITE_2A_E2P: return RdsUsbWrite2AE2p(UsbRDSBoard, Data);
    case RDS_USB_WRITE_ST_E2P: return RdsUsbWriteSTE2p(UsbRDSBoard, Data);
    case RDS_USB_WRITE_PS1_RAM: return RdsUsbWritePSRam(UsbRDSBoard, Data);
    case RDS_USB_WRITE_PTY_RAM:
    case RDS_USB_WRITE_PTY_E2P: return RdsUsbWritePTY(UsbRDSBoard, Data, WriteCmd);
    case RDS_USB_WRITE_TP_RAM:
    case RDS_USB_WRITE_TP_E2P: return RdsUsbWriteTP(UsbRDSBoard, Data, WriteCmd);
    case RDS_USB_WRITE_TA_RAM:
    case RDS_USB_WRITE_TA_E2P: return RdsUsbWriteTA(UsbRDSBoard, Data, WriteCmd);
    case RDS_USB_WRITE_MS_RAM:
    case RDS_USB_WRITE_MS_E2P: return RdsUsbWriteMS(UsbRDSBoard, Data, WriteCmd);
    case RDS_USB_WRITE_DI_RAM:
    case RDS_USB_WRITE_DI_E2P: return RdsUsbWriteDI(UsbRDSBoard, Data, WriteCmd);
    case RDS_USB_WRITE_RT_RAM: return RdsUsbWriteRTRam(UsbRDSBoard, Data);
    case RDS_USB_WRITE_PS1_E2P: return RdsUsbWritePSE2p(UsbRDSBoard, Data);
    case RDS_USB_WRITE_PI_E2P: return RdsUsbWritePIE2p(UsbRDSBoard, Data);
    case RDS_USB_WRITE_NAF_E2P: return RdsUsbWriteNAFE2p(UsbRDSBoard, Data);
    case RDS_USB_WRITE_RT_E2P: return RdsUsbWriteRTE2p(UsbRDSBoard, Data);
    default: printf("Error RdsUsbWriteDataEdit invalid WriteCmd:%d", WriteCmd); return false;
    }
}

bool RdsUsbResetE2p(usb_dev_handle *UsbRDSBoard)
{
    int result = sendRequest(UsbRDSBoard, RDS_USB_RESET_E2P, 0, 0);
    if (result < 0) {
        printf("Error RdsUsbResetE2p sendUSBVendorCmd %d", result);
        return false;
    }
    return true;
}
