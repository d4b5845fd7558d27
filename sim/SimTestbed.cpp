#include "SimTestbed.h"

#include "SimDescriptors.h"
#include "SimDevice.h"

#include <umockdev.h>

#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>
#include <set>
#include <stdexcept>

namespace sim {

namespace {

constexpr const char *busDir = "/dev/bus/usb/001";

// libusb 0.1 keeps its device list by file name for the whole process: a
// device must never reuse the name of an earlier one. Returns the first of
// `count` numbers no device has had.
int reserveDevnums(int count)
{
    static std::atomic<int> next{2};
    return next.fetch_add(count);
}

std::string format(const char *fmt, int n)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, n);
    return buf;
}

std::string nodeName(int devnum)
{
    return format("%03d", devnum);
}

// libusb lists a bus's devices in the order readdir() gives their nodes, which
// on most file systems follows a hash of the name, not the order of creation.
// Tries a batch of fresh names at once and takes the one read first after the
// nodes already there, which leaves later devices the most room behind it. So
// devices are listed in the order they were added (a file system that lists
// the newest file first defeats this; the order is then as it comes).
// The names are tried in `scratch`, a directory beside /dev holding the bus's
// names as well (the hash is the file system's, the same in every directory):
// the bus shows no file that is not a device, which a program scanning it
// meanwhile would take for one and keep under that name.
int pickDevnum(const std::string &bus, const std::string &scratch)
{
    constexpr int batch = 16;
    g_mkdir_with_parents(scratch.c_str(), 0755);
    std::set<std::string> existing;
    if (DIR *d = opendir(bus.c_str())) {
        while (const dirent *e = readdir(d))
            if (e->d_name[0] != '.')
                existing.insert(e->d_name);
        closedir(d);
    }
    const auto place = [&](const std::string &name) {
        return g_file_set_contents((scratch + "/" + name).c_str(), "", 0, nullptr);
    };
    for (const std::string &name : existing)
        place(name);
    int chosen = 0;
    for (int attempt = 0; attempt < 4 && !chosen; ++attempt) {
        const int first = reserveDevnums(batch);
        std::set<std::string> candidates;
        for (int n = first; n < first + batch; ++n)
            if (!existing.count(nodeName(n)) && place(nodeName(n)))
                candidates.insert(nodeName(n));
        std::string behind;
        if (DIR *d = opendir(scratch.c_str())) {
            while (const dirent *e = readdir(d)) {
                if (e->d_name[0] == '.')
                    continue;
                if (!candidates.count(e->d_name))
                    behind.clear(); // an existing node: look behind it
                else if (behind.empty())
                    behind = e->d_name;
            }
            closedir(d);
        }
        for (const std::string &name : candidates)
            unlink((scratch + '/').append(name).c_str());
        if (!behind.empty())
            chosen = std::stoi(behind);
    }
    for (const std::string &name : existing)
        unlink((scratch + '/').append(name).c_str());
    return chosen ? chosen : reserveDevnums(1);
}

std::string takeString(gchar *s)
{
    std::string copy = s;
    g_free(s);
    return copy;
}

[[noreturn]] void fail(const char *what, GError *error)
{
    std::string message = std::string(what) + ": " + error->message;
    g_error_free(error);
    throw std::runtime_error(message);
}

} // namespace

struct Testbed::Impl {
    struct Entry {
        std::unique_ptr<Device> device;
        UMockdevIoctlBase *handler;
        std::string devNode; // /dev/bus/usb/001/NNN
        std::string busDev;  // 001/NNN
    };

    UMockdevTestbed *testbed;
    std::string root;
    mutable std::mutex mutex;
    std::deque<Entry> entries; // a deque: entry() references stay valid

    const Entry &entry(int device) const
    {
        std::lock_guard lock(mutex);
        return entries.at(device);
    }
};

Testbed::Testbed() : impl_(std::make_unique<Impl>())
{
    impl_->testbed = umockdev_testbed_new();
    impl_->root = takeString(umockdev_testbed_get_root_dir(impl_->testbed));
    // An existing bus directory keeps libusb in the testbed even with no device.
    g_mkdir_with_parents((impl_->root + busDir).c_str(), 0755);
}

Testbed::~Testbed()
{
    for (const Impl::Entry &e : impl_->entries) {
        umockdev_testbed_detach_ioctl(impl_->testbed, e.devNode.c_str(), nullptr);
        g_object_unref(e.handler);
    }
    g_object_unref(impl_->testbed);
}

int Testbed::addDevice(const DeviceSetup &setup, std::shared_ptr<Board> board)
{
    if (!board)
        board = std::make_shared<Board>();
    const int devnum = pickDevnum(impl_->root + busDir, impl_->root + "/devnum-order");
    const std::string busDev = "001/" + nodeName(devnum);
    const std::string devNode = "/dev/bus/usb/" + busDev;

    char ids[64];
    std::snprintf(ids, sizeof ids, "A: idVendor=%04x\nA: idProduct=%04x\n", setup.vendor,
                  setup.product);
    const std::string record =
        format("P: /devices/platform/dummy_hcd.1/usb1/1-%d\n", devnum) + "N: bus/usb/" + busDev +
        "=" + upperHex(nodeContent(setup.vendor, setup.product)) + "\n" + "E: DEVNAME=" + devNode +
        "\n" + "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: BUSNUM=001\n" +
        format("E: DEVNUM=%03d\n", devnum) + ids + format("A: busnum=1\nA: devnum=%d\n", devnum);
    // The handler first: a program scanning the bus may open the node as soon
    // as it appears.
    auto device = std::make_unique<Device>(setup, std::move(board), impl_->root + devNode, devnum);
    UMockdevIoctlBase *handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(Device::onIoctl), device.get());
    GError *error = nullptr;
    if (!umockdev_testbed_attach_ioctl(impl_->testbed, devNode.c_str(), handler, &error)) {
        g_object_unref(handler);
        fail("attaching the device's ioctl handler", error);
    }
    if (!umockdev_testbed_add_from_string(impl_->testbed, record.c_str(), &error))
        fail("adding a device to the testbed", error);

    std::lock_guard lock(impl_->mutex);
    impl_->entries.push_back({std::move(device), handler, devNode, busDev});
    return static_cast<int>(impl_->entries.size()) - 1;
}

std::shared_ptr<Board> Testbed::board(int device) const
{
    return impl_->entry(device).device->board();
}

DeviceStats Testbed::stats(int device) const
{
    return impl_->entry(device).device->stats();
}

std::string Testbed::busDev(int device) const
{
    return impl_->entry(device).busDev;
}

void Testbed::unplug(int device)
{
    impl_->entry(device).device->unplug();
}

std::string Testbed::root() const
{
    return impl_->root;
}

} // namespace sim
