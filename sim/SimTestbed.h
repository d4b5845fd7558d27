// Serves simulated boards (and other devices) to the real, unmodified libusb
// through umockdev. In-process: the program runs with
// LD_PRELOAD=libumockdev-preload.so.0 and creates the testbed before usb_init.
// For a child process: pass root() as UMOCKDEV_DIR.
#ifndef SIM_TESTBED_H
#define SIM_TESTBED_H

#include "SimBoard.h"
#include "rds_usb.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim {

inline constexpr uint16_t boardVendor = RDS_USB_VENDOR_ID;
inline constexpr uint16_t boardProduct = RDS_USB_PRODUCT_ID;
inline constexpr const char *boardManufacturer = RDS_USB_VENDOR_NAME;
inline constexpr const char *boardProductName = RDS_USB_PRODUCT_NAME;

struct DeviceSetup {
    uint16_t vendor = boardVendor;
    uint16_t product = boardProduct;
    std::string manufacturer = boardManufacturer;
    std::string productName = boardProductName;
    // Descriptor bytes answered verbatim instead of the strings above
    // (malformed descriptors).
    std::optional<std::vector<uint8_t>> rawManufacturer, rawProduct;
    int stringError = 0;    // errno failing every string descriptor request
    int setConfigError = 0; // errno failing SETCONFIGURATION
    int claimFailures = 0;  // CLAIMINTERFACE fails (EBUSY) this many times
    // The device node cannot be opened: the first bus scan lists the device,
    // then its node turns into a socket, so usb_open() gives a handle without
    // a file (every request: -EBADF) and later scans no longer list it.
    bool noNode = false;
};

// What the device saw besides vendor requests.
struct DeviceStats {
    // String descriptor indices requested, in order; requests for the
    // language list (index 0) are left out.
    std::vector<int> stringIndices;
    int setConfigCalls = 0;
    int claimCalls = 0;
};

class Testbed {
public:
    Testbed(); // a testbed with an empty bus, so the host's devices never show
    ~Testbed();
    Testbed(const Testbed &) = delete;
    Testbed &operator=(const Testbed &) = delete;

    // Adds a device served by `board` (a new board when null). Every device of
    // the process gets a device number of its own; a bus scan lists the
    // devices in the order they were added. Returns the device's id.
    int addDevice(const DeviceSetup &setup = {}, std::shared_ptr<Board> board = nullptr);
    std::shared_ptr<Board> board(int device) const;
    DeviceStats stats(int device) const;
    std::string busDev(int device) const; // "001/007"
    // Unplugs: requests fail with ENODEV and the node disappears. The handler
    // stays attached until the testbed ends (detaching under an open client aborts it).
    void unplug(int device);

    std::string root() const; // for UMOCKDEV_DIR

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace sim

#endif
