// Field reads from a simulated board through the real libusb: the requests
// sent, the display texts, and what a failed or short request leaves.
#include "RdsUsbDriver.h"
#include "SimFixture.h"

#include <cstring>

namespace {

using Read = std::function<bool(usb_dev_handle *, char *)>;

Read small(int code)
{
    return [code](usb_dev_handle *h, char *d) { return RdsUsbReadPTY_TP_TA_MS_DI(h, d, code); };
}
Read af(int n)
{
    return [n](usb_dev_handle *h, char *d) { return RdsUsbReadAFE2p(h, d, n); };
}

class Reads : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        sim::RdsData ram = board->ram();
        sim::Eeprom e = board->eeprom();
        std::memcpy(ram.ps, "RADIO   ", 8);
        std::memcpy(e.ps, "AB\0DEFGH", 8);
        std::memset(ram.rt, 'x', 64);
        std::memcpy(ram.rt, "A\x00\x0D\x1F\xE9", 5);
        ram.pty = 31, ram.tp = 0, ram.ta = 255, ram.ms = 1, ram.di = 9;
        e.pty = 0, e.tp = 1, e.ta = 1, e.ms = 0, e.di = 15, e.naf = 25, e.group2a = 200,
        e.stereo = 1;
        e.pi = 0x12FE;
        e.af[0] = 1, e.af[3] = 110, e.af[7] = 204, e.af[8] = 0, e.af[24] = 255;
        board->setRam(ram);
        board->setEeprom(e);
        open();
    }
    // Reads with `read` into a buffer holding "before"; its requests.
    Requests read(const Read &read)
    {
        board->clearLog();
        std::strcpy(data, "before");
        message = stdoutOf([&] { done = read(handle, data); });
        return log();
    }
    char data[128];
    bool done = false;
    std::string message;
};

// Each field's requests in code order (the AF number in wValue) and its text.
TEST_F(Reads, EachFieldsRequestsAndDisplayText)
{
    const struct {
        Read read;
        std::string text;
        Requests sent;
        // clang-format off
    } cases[] = {
        {RdsUsbReadPSRam, "RADIO   ", each(0xA1, 0xA2)},
        {RdsUsbReadPSE2p, "AB", each(0xE1, 0xE2)}, // a zero byte ends the text
        {RdsUsbReadRTRam, "A   \xE9" + std::string(59, 'x'), each(0xB0, 0xBF)}, // controls show as blanks
        {RdsUsbReadRTE2p, "Quorvel RDS encoder - simulated board" + std::string(27, ' '), each(0xF0, 0xFF)},
        {small(0xA3), "31", {ok(0xA3)}}, {small(0xA4), "0", {ok(0xA4)}},
        {small(0xA5), "255", {ok(0xA5)}}, {small(0xA6), "1", {ok(0xA6)}},
        {small(0xA7), "9", {ok(0xA7)}},  {small(0xE3), "0", {ok(0xE3)}},
        {small(0xE7), "15", {ok(0xE7)}}, {RdsUsbReadPIE2p, "0x12FE", {ok(0xE8)}},
        {RdsUsbReadNAFE2p, "25", {ok(0xE9)}}, {RdsUsbRead2AE2p, "200", {ok(0x82)}},
        {RdsUsbReadSTE2p, "1", {ok(0x83)}},
        {af(0), " 87.6", {ok(0xEA, 0)}}, {af(3), " 98.5", {ok(0xEA, 3)}},
        {af(7), "107.9", {ok(0xEA, 7)}}, {af(8), " 87.5", {ok(0xEA, 8)}},
        {af(24), "113.0", {ok(0xEA, 24)}},
    };
    // clang-format on
    for (const auto &c : cases) {
        EXPECT_EQ(read(c.read), c.sent) << c.text;
        EXPECT_EQ(std::string(data), c.text);
        EXPECT_TRUE(done);
        EXPECT_EQ(message, "");
    }
    read(RdsUsbReadPSE2p);
    EXPECT_EQ(std::memcmp(data, "AB\0DEFGH", 9), 0) << "all eight bytes are stored";
}

// A failed request: its message, no further request, the text as the
// requests before it left it. A short reply is no failure.
TEST_F(Reads, EachFailureHasItsMessageAndLeavesWhatWasRead)
{
    const struct {
        Read read;
        int failing;
        const char *message;
        std::string text;
        size_t sent;
    } cases[] = {
        {RdsUsbReadPSRam, 0xA1, "Error RdsUsbReadPSRam sendUSBVendorCmd -32", "before", 1},
        {RdsUsbReadPSRam, 0xA2, "Error RdsUsbReadPSRam (2) sendUSBVendorCmd -32", "RADI", 2},
        {RdsUsbReadPSE2p, 0xE2, "Error RdsUsbReadPSE2p (2) sendUSBVendorCmd -32", "AB", 2},
        {RdsUsbReadRTRam, 0xB5, "Error RdsUsbReadRTRam sendUSBVendorCmd -32",
         "A   \xE9" + std::string(15, 'x'), 6},
        {RdsUsbReadRTE2p, 0xF0, "Error RdsUsbReadRTE2p sendUSBVendorCmd -32", "before", 1},
        {small(0xE5), 0xE5, "Error RdsUsbReadPTY_TP_TA_MS_DI sendUSBVendorCmd -32", "before", 1},
        {RdsUsbReadPIE2p, 0xE8, "Error RdsUsbReadPIE2p sendUSBVendorCmd -32", "before", 1},
        {RdsUsbReadNAFE2p, 0xE9, "Error RdsUsbReadNAFE2p sendUSBVendorCmd -32", "before", 1},
        {af(4), 0xEA, "Error RdsUsbReadAFE2p sendUSBVendorCmd -32", "before", 1},
        {RdsUsbRead2AE2p, 0x82, "Error RdsUsbRead2AE2p sendUSBVendorCmd -32", "before", 1},
        {RdsUsbReadSTE2p, 0x83, "Error RdsUsbReadSTE2p sendUSBVendorCmd -32", "before", 1},
    };
    for (const auto &c : cases) {
        board->clearFaults();
        board->addFault({.kind = sim::Fault::Error, .code = c.failing, .error = 32});
        EXPECT_EQ(read(c.read).size(), c.sent) << c.message;
        EXPECT_EQ(message, c.message);
        EXPECT_FALSE(done) << c.message;
        EXPECT_EQ(std::string(data), c.text) << c.message;
    }
    board->clearFaults();
    board->addFault({.kind = sim::Fault::Short, .code = 0xE8, .bytes = 0});
    read(RdsUsbReadNAFE2p); // leaves 25, 0 ... in the reply buffer
    EXPECT_EQ(read(RdsUsbReadPIE2p), (Requests{{0xE8, 0, 0, 0}}));
    EXPECT_EQ(std::string(data), "0x1900");
    EXPECT_TRUE(done);
    testbed->unplug(device);
    read(RdsUsbReadPSRam);
    EXPECT_EQ(message, "Error RdsUsbReadPSRam sendUSBVendorCmd -19");
}

} // namespace
