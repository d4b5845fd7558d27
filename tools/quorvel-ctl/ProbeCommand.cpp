// probe: every device with the board's ids, and whether it is the board.
#include "BoardSession.h"
#include "Commands.h"
#include "CtlStatus.h"
#include "usbProbe.h"

#include <cstdio>

namespace {

// manufacturer "quorvel.example", or manufacturer unreadable (error text)
std::string describeString(const char *what, int result, const std::string &text)
{
    if (result < 0)
        return std::string(what) + " unreadable (" + text + ")";
    return std::string(what) + " \"" + text + "\"";
}

} // namespace

int probeCommand(const CtlOptions &)
{
    const std::vector<UsbProbeEntry> entries =
        usbProbeDevices(RDS_USB_VENDOR_ID, RDS_USB_PRODUCT_ID);
    bool found = false, inaccessible = false;
    for (const UsbProbeEntry &e : entries) {
        std::string line = e.bus + "/" + e.device + "  16c0:05df  ";
        if (!e.opened) {
            inaccessible = true;
            line += "cannot be opened (" + e.openError + ")";
        } else {
            line += describeString("manufacturer", e.manufacturerResult, e.manufacturer) + "  " +
                    describeString("product", e.productResult, e.product) + "  ";
            if (e.manufacturerResult < 0 || e.productResult < 0) {
                inaccessible = true;
                line += "strings unreadable";
            } else if (e.manufacturer == RDS_USB_VENDOR_NAME && e.product == RDS_USB_PRODUCT_NAME) {
                found = true;
                line += "Quorvel board";
            } else {
                line += "not a Quorvel board";
            }
        }
        std::puts(line.c_str());
    }
    if (found)
        return CtlOk;
    if (inaccessible) {
        printError("a device with the board's ids cannot be read\n" + std::string(permissionHint));
        return CtlUnreadable;
    }
    printError(entries.empty() ? "no device with the board's ids\n" + std::string(notFoundHint)
                               : "no device with the board's ids is a Quorvel board\n" +
                                     std::string(notFoundHint));
    return CtlNotFound;
}
