#include "BoardOpen.h"

#include "rds_usb.h"
#include "usbInterface.h"
#include "usbProbe.h"

#include <dirent.h>

#include <charconv>
#include <cstdlib>
#include <stdexcept>

namespace qd {

namespace {

bool listsAnything(const char *folder)
{
    DIR *dir = opendir(folder);
    if (!dir)
        return false;
    bool any = false;
    while (const struct dirent *entry = readdir(dir))
        if (entry->d_name[0] != '.') {
            any = true;
            break;
        }
    closedir(dir);
    return any;
}

// Where libusb 0.1 finds the device nodes: $USB_DEVFS_PATH, /dev/bus/usb or
// /proc/bus/usb, the first that lists anything.
std::string nodeFolder()
{
    const char *set = std::getenv("USB_DEVFS_PATH");
    for (const char *folder : {set, "/dev/bus/usb", "/proc/bus/usb"})
        if (folder && listsAnything(folder))
            return folder;
    return "/dev/bus/usb";
}

} // namespace

std::optional<BoardLocation> parseBoardLocation(const std::string &text)
{
    if (text.empty())
        return std::nullopt;
    BoardLocation at{};
    const char *const end = text.data() + text.size();
    const auto [slash, busError] = std::from_chars(text.data(), end, at.bus);
    if (busError != std::errc() || slash == end || *slash != '/' || at.bus <= 0)
        throw std::invalid_argument("not BUS/DEV: \"" + text + "\"");
    const auto [last, deviceError] = std::from_chars(slash + 1, end, at.device);
    if (deviceError != std::errc() || last != end || at.device <= 0)
        throw std::invalid_argument("not BUS/DEV: \"" + text + "\"");
    return at;
}

OpenedBoard openBoard(const std::optional<BoardLocation> &at)
{
    OpenedBoard opened;
    opened.status =
        at ? usbOpenDeviceAt(&opened.handle, RDS_USB_VENDOR_ID, RDS_USB_VENDOR_NAME,
                             RDS_USB_PRODUCT_ID, RDS_USB_PRODUCT_NAME, at->bus, at->device)
           : usbOpenDevice(&opened.handle, RDS_USB_VENDOR_ID, RDS_USB_VENDOR_NAME,
                           RDS_USB_PRODUCT_ID, RDS_USB_PRODUCT_NAME);
    if (opened.status != USB_OPEN_OK) {
        opened.handle = nullptr;
        return opened;
    }
    const struct usb_device *device = usb_device(opened.handle);
    opened.device = std::string(device->bus->dirname) + "/" + device->filename;
    opened.node = nodeFolder() + "/" + opened.device;
    return opened;
}

std::string openFailure(int status)
{
    switch (status) {
    case USB_OPEN_ERR_NOTFOUND: return "no board found";
    case USB_OPEN_ERR_IO: return "a device with the board's ids does not let its strings be read";
    default: return "a device with the board's ids cannot be opened";
    }
}

} // namespace qd
