// One simulated device behind a usbdevfs node: answers the node's ioctls on
// umockdev's worker thread, vendor requests by its board. Internal to Testbed.
#ifndef SIM_DEVICE_H
#define SIM_DEVICE_H

#include "SimTestbed.h"

#include <umockdev.h>

#include <mutex>
#include <string>

namespace sim {

class Device {
public:
    // `node`: the node's file inside the testbed root.
    Device(const DeviceSetup &setup, std::shared_ptr<Board> board, std::string node, int devnum);

    // The "handle-ioctl" handler; always completes the client.
    static gboolean onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer device);

    const std::shared_ptr<Board> &board() const { return board_; }
    DeviceStats stats() const;
    // From now on every request fails with ENODEV; the node goes.
    void unplug();

private:
    struct Result {
        long value;
        int error;
    };
    static Result ok(long value) { return {value, 0}; }
    static Result fail(int error) { return {-1, error}; }

    Result answer(unsigned long request, UMockdevIoctlData *arg);
    Result control(UMockdevIoctlData *arg);
    Result transfer(uint8_t type, uint8_t request, uint16_t value, uint16_t index, uint8_t *data,
                    uint16_t length);
    Result stringDescriptor(uint8_t index, uint8_t *data, uint16_t length);
    Result connectInfo(UMockdevIoctlData *arg);
    Result setConfiguration();
    Result claimInterface();
    bool gone() const;
    bool pluggedElsewhere() const; // unplugged, then power-cycled on another device
    void markUnplugged();          // with mutex_ held
    void hideNode();

    const DeviceSetup setup_;
    const std::shared_ptr<Board> board_;
    const std::string node_;
    const int devnum_;

    mutable std::mutex mutex_;
    DeviceStats stats_;
    int claimFailuresLeft_;
    bool unplugged_ = false;
    int unpluggedCycle_ = 0; // the board's power cycles when it was unplugged
    bool nodeGone_ = false;
};

} // namespace sim

#endif
