#include "BoardSession.h"

#include "CtlOptions.h"
#include "CtlStatus.h"
#include "RdsUsbDriver.h"
#include "usbInterface.h"
#include "usbProbe.h"

#include <cstdio>

const char *const notFoundHint =
    "hint: is the board plugged in? 'quorvel-ctl probe' lists the devices with its ids (16c0:05df)";
const char *const permissionHint =
    "hint: usually no permission on the device node; a udev rule gives it, e.g. "
    "SUBSYSTEM==\"usb\", ATTR{idVendor}==\"16c0\", ATTR{idProduct}==\"05df\", TAG+=\"uaccess\" "
    "in /etc/udev/rules.d/70-quorvel.rules";

namespace {

// The board layer reports a failed request on standard output without a line
// end: end its line.
bool endFailureLine(bool ok)
{
    if (!ok)
        std::fputc('\n', stdout);
    return ok;
}

} // namespace

BoardHandle openBoard(const std::string &device)
{
    usb_dev_handle *handle = nullptr;
    int status;
    if (device.empty()) {
        status = usbOpenDevice(&handle, RDS_USB_VENDOR_ID, RDS_USB_VENDOR_NAME, RDS_USB_PRODUCT_ID,
                               RDS_USB_PRODUCT_NAME);
    } else {
        const DeviceLocation at = parseDeviceLocation(device);
        status = usbOpenDeviceAt(&handle, RDS_USB_VENDOR_ID, RDS_USB_VENDOR_NAME,
                                 RDS_USB_PRODUCT_ID, RDS_USB_PRODUCT_NAME, at.bus, at.device);
    }
    const std::string where = device.empty() ? "" : " at " + device;
    switch (status) {
    case USB_OPEN_OK: return {handle, usbCloseDevice};
    case USB_OPEN_ERR_NOTFOUND:
        throw CtlError{CtlNotFound, "no Quorvel board found" + where + "\n" + notFoundHint};
    default:
        throw CtlError{CtlUnreadable,
                       "a device with the board's ids" + where +
                           (status == USB_OPEN_ERR_IO ? " does not let its strings be read"
                                                      : " cannot be opened") +
                           "\n" + permissionHint};
    }
}

std::optional<std::string> readField(usb_dev_handle *board, const T_R_FieldDef &field)
{
    char text[128] = {};
    if (!endFailureLine(RdsUsbReadField(&field, board, text)))
        return std::nullopt;
    return text;
}

bool writeField(usb_dev_handle *board, const T_R_FieldDef &field, const std::string &boardText)
{
    return endFailureLine(RdsUsbWriteField(&field, board, boardText.c_str()));
}

bool resetEeprom(usb_dev_handle *board)
{
    return endFailureLine(RdsUsbResetE2p(board));
}
