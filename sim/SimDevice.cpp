#include "SimDevice.h"

#include "SimDescriptors.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace sim {

namespace {

constexpr uint8_t typeStandardIn = 0x80, typeVendorIn = 0xC0;
constexpr uint8_t getDescriptor = 6, dtString = 3;

} // namespace

Device::Device(const DeviceSetup &setup, std::shared_ptr<Board> board, std::string node, int devnum)
    : setup_(setup), board_(std::move(board)), node_(std::move(node)), devnum_(devnum),
      claimFailuresLeft_(setup.claimFailures)
{
}

gboolean Device::onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer device)
{
    const Result r = static_cast<Device *>(device)->answer(
        umockdev_ioctl_client_get_request(client), umockdev_ioctl_client_get_arg(client));
    umockdev_ioctl_client_complete(client, r.value, r.error);
    return TRUE;
}

Device::Result Device::answer(unsigned long request, UMockdevIoctlData *arg)
{
    switch (request) {
    case USBDEVFS_CONTROL: return control(arg);
    case USBDEVFS_CONNECTINFO: return connectInfo(arg);
    case USBDEVFS_SETCONFIGURATION: return setConfiguration();
    case USBDEVFS_CLAIMINTERFACE: return claimInterface();
    case USBDEVFS_RELEASEINTERFACE: return gone() ? fail(ENODEV) : ok(0);
    default: return fail(ENOTTY);
    }
}

// The argument of an ioctl is the client's pointer; resolve() fetches the
// memory it points to, and completing the client copies changes back.
namespace {

UMockdevIoctlData *resolve(UMockdevIoctlData *data, size_t offset, size_t length)
{
    GError *error = nullptr;
    UMockdevIoctlData *resolved = umockdev_ioctl_data_resolve(data, offset, length, &error);
    if (!resolved)
        g_error_free(error);
    return resolved;
}

} // namespace

Device::Result Device::control(UMockdevIoctlData *arg)
{
    UMockdevIoctlData *packet = resolve(arg, 0, sizeof(usbdevfs_ctrltransfer));
    if (!packet)
        return fail(EFAULT);
    usbdevfs_ctrltransfer ct;
    std::memcpy(&ct, packet->data, sizeof ct);

    UMockdevIoctlData *data = nullptr;
    if (ct.wLength > 0)
        data = resolve(packet, offsetof(usbdevfs_ctrltransfer, data), ct.wLength);
    const Result r = ct.wLength > 0 && !data
                         ? fail(EFAULT)
                         : transfer(ct.bRequestType, ct.bRequest, ct.wValue, ct.wIndex,
                                    data ? data->data : nullptr, ct.wLength);
    if (data)
        umockdev_ioctl_data_unref(data);
    umockdev_ioctl_data_unref(packet);
    return r;
}

Device::Result Device::transfer(uint8_t type, uint8_t request, uint16_t value, uint16_t index,
                                uint8_t *data, uint16_t length)
{
    if (type == typeVendorIn) {
        if (pluggedElsewhere())
            return fail(ENODEV);
        const int n = board_->handle(request, value, index, data, length);
        if (board_->unplugged()) {
            std::lock_guard lock(mutex_);
            markUnplugged();
        }
        return n >= 0 ? ok(n) : fail(-n);
    }
    if (gone())
        return fail(ENODEV);
    if (type == typeStandardIn && request == getDescriptor && value >> 8 == dtString)
        return stringDescriptor(value & 0xFF, data, length);
    return fail(EPIPE); // vendor OUT and every other request: a stall
}

Device::Result Device::stringDescriptor(uint8_t index, uint8_t *data, uint16_t length)
{
    if (index != 0) {
        std::lock_guard lock(mutex_);
        stats_.stringIndices.push_back(index);
    }
    if (setup_.stringError)
        return fail(setup_.stringError);

    std::vector<uint8_t> d;
    if (index == 0)
        d = languageList();
    else if (index == 1)
        d = setup_.rawManufacturer ? *setup_.rawManufacturer
                                   : sim::stringDescriptor(setup_.manufacturer);
    else if (index == 2)
        d = setup_.rawProduct ? *setup_.rawProduct : sim::stringDescriptor(setup_.productName);
    else
        return fail(EPIPE);

    const size_t n = std::min<size_t>(d.size(), length);
    if (n > 0)
        std::memcpy(data, d.data(), n);
    return ok(static_cast<long>(n));
}

// Asked while libusb scans the bus, with the node open and about to be read.
// A device without a usable node loses it here: the scan still lists the
// device, a later open() fails.
Device::Result Device::connectInfo(UMockdevIoctlData *arg)
{
    if (setup_.noNode)
        hideNode();
    UMockdevIoctlData *data = resolve(arg, 0, sizeof(usbdevfs_connectinfo));
    if (!data)
        return fail(EFAULT);
    usbdevfs_connectinfo info{};
    info.devnum = devnum_;
    std::memcpy(data->data, &info, sizeof info);
    umockdev_ioctl_data_unref(data);
    return ok(0);
}

Device::Result Device::setConfiguration()
{
    std::lock_guard lock(mutex_);
    ++stats_.setConfigCalls;
    if (unplugged_)
        return fail(ENODEV);
    return setup_.setConfigError ? fail(setup_.setConfigError) : ok(0);
}

Device::Result Device::claimInterface()
{
    std::lock_guard lock(mutex_);
    ++stats_.claimCalls;
    if (unplugged_)
        return fail(ENODEV);
    if (claimFailuresLeft_ > 0) {
        --claimFailuresLeft_;
        return fail(EBUSY);
    }
    return ok(0);
}

DeviceStats Device::stats() const
{
    std::lock_guard lock(mutex_);
    return stats_;
}

void Device::unplug()
{
    board_->addFault({.kind = Fault::Unplug, .at = 1});
    std::lock_guard lock(mutex_);
    markUnplugged();
}

bool Device::gone() const
{
    std::lock_guard lock(mutex_);
    return unplugged_;
}

bool Device::pluggedElsewhere() const
{
    std::lock_guard lock(mutex_);
    return unplugged_ && board_->powerCycles() != unpluggedCycle_;
}

// Requests fail from now on and the node goes.
void Device::markUnplugged()
{
    if (!unplugged_)
        unpluggedCycle_ = board_->powerCycles();
    unplugged_ = true;
    if (!nodeGone_)
        unlink(node_.c_str());
    nodeGone_ = true;
}

// Puts a socket in the node's place: the name stays (so umockdev's preload
// does not fall through to the host's /dev), but open() fails with ENXIO.
void Device::hideNode()
{
    std::lock_guard lock(mutex_);
    if (nodeGone_)
        return;
    nodeGone_ = true;
    unlink(node_.c_str());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (node_.size() >= sizeof address.sun_path)
        return;
    std::memcpy(address.sun_path, node_.c_str(), node_.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return;
    // Unbound, the name is gone as well, and open() fails all the same.
    (void)bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    close(fd);
}

} // namespace sim
