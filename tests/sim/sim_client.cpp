// A small libusb 0.1 program for quorvel-sim to run: opens the first device
// with the board's ids and manufacturer string, sends each request given as
// CODE[:VALUE[:INDEX]] (hex) and prints "RESULT HEXBYTES" per request.
#include "rds_usb.h"

#include <usb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static usb_dev_handle *openBoard()
{
    usb_init();
    usb_find_busses();
    usb_find_devices();
    for (usb_bus *bus = usb_get_busses(); bus; bus = bus->next) {
        for (struct usb_device *dev = bus->devices; dev; dev = dev->next) {
            if (dev->descriptor.idVendor != RDS_USB_VENDOR_ID ||
                dev->descriptor.idProduct != RDS_USB_PRODUCT_ID)
                continue;
            usb_dev_handle *h = usb_open(dev);
            char name[256];
            if (usb_get_string_simple(h, dev->descriptor.iManufacturer, name, sizeof name) > 0 &&
                std::strcmp(name, RDS_USB_VENDOR_NAME) == 0)
                return h;
            usb_close(h);
        }
    }
    return nullptr;
}

int main(int argc, char **argv)
{
    usb_dev_handle *h = openBoard();
    if (!h) {
        std::puts("no board");
        return 1;
    }
    for (int i = 1; i < argc; ++i) {
        char *p = argv[i];
        const long code = std::strtol(p, &p, 16);
        const long value = *p == ':' ? std::strtol(p + 1, &p, 16) : 0;
        const long index = *p == ':' ? std::strtol(p + 1, &p, 16) : 0;
        unsigned char reply[8] = {};
        const int r = usb_control_msg(h, 0xC0, code, value, index, reinterpret_cast<char *>(reply),
                                      sizeof reply, 1000);
        std::printf("%d", r);
        for (int k = 0; k < r; ++k)
            std::printf("%s%02X", k ? "" : " ", reply[k]);
        std::printf("\n");
    }
    usb_close(h);
    return 0;
}
