#include "SimFixture.h"

#include <cstdio>

struct usb_device *SimTest::find(int device)
{
    usb_init();
    usb_find_busses();
    usb_find_devices();
    const std::string name = testbed.busDev(device);
    for (usb_bus *bus = usb_get_busses(); bus; bus = bus->next) {
        for (struct usb_device *dev = bus->devices; dev; dev = dev->next) {
            if (std::string(bus->dirname) + "/" + dev->filename == name)
                return dev;
        }
    }
    return nullptr;
}

usb_dev_handle *SimTest::open(int device)
{
    struct usb_device *dev = find(device);
    if (!dev)
        throw std::runtime_error("device " + testbed.busDev(device) + " not listed");
    handles_.emplace_back(usb_open(dev), usb_close);
    return handles_.back().get();
}

Reply SimTest::request(usb_dev_handle *h, int code, int value, int index, uint8_t fill)
{
    Reply r;
    r.bytes.fill(fill);
    r.result = usb_control_msg(h, 0xC0, code, value, index, reinterpret_cast<char *>(r.bytes.data()),
                               r.bytes.size(), 1000);
    return r;
}

std::string SimTest::line(int code, int value, int index, int result)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "0x%02X value=0x%04X index=0x%04X result=%d", code, value, index,
                  result);
    return buf;
}

std::vector<std::string> SimTest::logOf(const sim::Board &board)
{
    std::vector<std::string> lines;
    for (const sim::Request &r : board.log())
        lines.push_back(line(r.code, r.value, r.index, r.result));
    return lines;
}

std::string SimTest::dump(const sim::Eeprom &e)
{
    std::string s = "PS '" + std::string(e.ps, e.ps + sizeof e.ps) + "' RT '" +
                    std::string(e.rt, e.rt + sizeof e.rt) + "'";
    for (int v : {int(e.pty), int(e.tp), int(e.ta), int(e.ms), int(e.di), int(e.pi), int(e.naf),
                  int(e.group2a), int(e.stereo)})
        s += " " + std::to_string(v);
    s += " AF";
    for (uint8_t af : e.af)
        s += " " + std::to_string(af);
    return s;
}
