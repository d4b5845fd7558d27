// Field reads from a simulated board through the real libusb: the requests
// sent, the display texts, and what a failed or short request leaves.
#include "RdsUsbDriver.h"
#include "SimFixture.h"

#include <cstring>

namespace {

class Reads : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        open();
    }
    void setRam(const std::function<void(sim::RdsData &)> &change)
    {
        sim::RdsData ram = board->ram();
        change(ram);
        board->setRam(ram);
    }
    void setEeprom(const std::function<void(sim::Eeprom &)> &change)
    {
        sim::Eeprom eeprom = board->eeprom();
        change(eeprom);
        board->setEeprom(eeprom);
    }
    char data[128];
};

TEST_F(Reads, PSNameKeepsEveryByte)
{
    setRam([](sim::RdsData &d) { memcpy(d.ps, "RADIO   ", 8); });
    EXPECT_TRUE(RdsUsbReadPSRam(handle, data));
    EXPECT_STREQ(data, "RADIO   ");
    EXPECT_EQ(log(), (std::vector<sim::Request>{ok(0xA1), ok(0xA2)}));

    setEeprom([](sim::Eeprom &d) { memcpy(d.ps, "AB\0DEFGH", 8); });
    board->clearLog();
    EXPECT_TRUE(RdsUsbReadPSE2p(handle, data));
    EXPECT_STREQ(data, "AB"); // the zero byte ends the text...
    EXPECT_EQ(memcmp(data, "AB\0DEFGH", 9), 0); // ...but all eight bytes are stored
    EXPECT_EQ(log(), (std::vector<sim::Request>{ok(0xE1), ok(0xE2)}));
}

TEST_F(Reads, RadioTextShowsControlBytesAsSpaces)
{
    setRam([](sim::RdsData &d) {
        memset(d.rt, 'x', 64);
        memcpy(d.rt, "A\x0D\x0A\x00\xE9", 5);
    });
    EXPECT_TRUE(RdsUsbReadRTRam(handle, data));
    EXPECT_EQ(std::string(data), "A   \xE9" + std::string(59, 'x'));
    std::vector<sim::Request> expected;
    for (int k = 0; k < 16; k++)
        expected.push_back(ok(0xB0 + k));
    EXPECT_EQ(log(), expected);

    board->clearLog();
    EXPECT_TRUE(RdsUsbReadRTE2p(handle, data));
    EXPECT_EQ(strlen(data), 64u);
    EXPECT_EQ(log().front().code, 0xF0);
    EXPECT_EQ(log().back().code, 0xFF);
}

TEST_F(Reads, SmallValuesAsUnsignedDecimal)
{
    const struct {
        uint8_t byte;
        const char *text;
    } cases[] = {{31, "31"}, {0, "0"}, {255, "255"}};
    for (auto c : cases) {
        setRam([&](sim::RdsData &d) { d.pty = c.byte; });
        EXPECT_TRUE(RdsUsbReadPTY_TP_TA_MS_DI(handle, data, 0xA3));
        EXPECT_STREQ(data, c.text);
    }
    setEeprom([](sim::Eeprom &d) {
        d.di = 15;
        d.naf = 25;
        d.group2a = 200;
        d.stereo = 1;
    });
    board->clearLog();
    EXPECT_TRUE(RdsUsbReadPTY_TP_TA_MS_DI(handle, data, 0xE7));
    EXPECT_STREQ(data, "15");
    EXPECT_TRUE(RdsUsbReadNAFE2p(handle, data));
    EXPECT_STREQ(data, "25");
    EXPECT_TRUE(RdsUsbRead2AE2p(handle, data));
    EXPECT_STREQ(data, "200");
    EXPECT_TRUE(RdsUsbReadSTE2p(handle, data));
    EXPECT_STREQ(data, "1");
    EXPECT_EQ(log(), (std::vector<sim::Request>{ok(0xE7), ok(0xE9), ok(0x82), ok(0x83)}));
}

TEST_F(Reads, PICodeAsFourHexDigits)
{
    for (auto [pi, text] : {std::pair{0x1234, "0x1234"}, {0x000A, "0x000A"}, {0xFFFF, "0xFFFF"}}) {
        setEeprom([&](sim::Eeprom &d) { d.pi = pi; });
        EXPECT_TRUE(RdsUsbReadPIE2p(handle, data));
        EXPECT_STREQ(data, text);
    }
}

TEST_F(Reads, AlternativeFrequenciesAtTheCodecsEnds)
{
    setEeprom([](sim::Eeprom &d) {
        d.af[0] = 1;
        d.af[7] = 204;
        d.af[8] = 0;
        d.af[24] = 255;
        d.af[3] = 110;
    });
    const struct {
        int index;
        const char *text;
    } cases[] = {{0, " 87.6"}, {7, "107.9"}, {8, " 87.5"}, {24, "113.0"}, {3, " 98.5"}};
    for (auto c : cases) {
        board->clearLog();
        EXPECT_TRUE(RdsUsbReadAFE2p(handle, data, c.index));
        EXPECT_STREQ(data, c.text);
        // The AF number travels in wValue.
        EXPECT_EQ(log(), (std::vector<sim::Request>{ok(0xEA, c.index, 0)}));
    }
}

// A failed request: its message, no further request, Data as it was.
TEST_F(Reads, FailedSingleRequestLeavesDataAsItWas)
{
    const struct {
        const char *message;
        std::function<bool(char *)> read;
        uint8_t code;
    } cases[] = {
        {"Error RdsUsbReadPTY_TP_TA_MS_DI sendUSBVendorCmd -32",
         [&](char *d) { return RdsUsbReadPTY_TP_TA_MS_DI(handle, d, 0xE5); }, 0xE5},
        {"Error RdsUsbReadPIE2p sendUSBVendorCmd -32", [&](char *d) { return RdsUsbReadPIE2p(handle, d); }, 0xE8},
        {"Error RdsUsbReadNAFE2p sendUSBVendorCmd -32", [&](char *d) { return RdsUsbReadNAFE2p(handle, d); }, 0xE9},
        {"Error RdsUsbReadAFE2p sendUSBVendorCmd -32", [&](char *d) { return RdsUsbReadAFE2p(handle, d, 4); }, 0xEA},
        {"Error RdsUsbRead2AE2p sendUSBVendorCmd -32", [&](char *d) { return RdsUsbRead2AE2p(handle, d); }, 0x82},
        {"Error RdsUsbReadSTE2p sendUSBVendorCmd -32", [&](char *d) { return RdsUsbReadSTE2p(handle, d); }, 0x83},
    };
    for (const auto &c : cases) {
        board->clearFaults();
        board->addFault({.kind = sim::Fault::Error, .code = c.code, .error = 32});
        strcpy(data, "before");
        bool read = true;
        EXPECT_EQ(stdoutOf([&] { read = c.read(data); }), c.message);
        EXPECT_FALSE(read);
        EXPECT_STREQ(data, "before");
    }
}

TEST_F(Reads, FailedPSRequests)
{
    board->addFault({.kind = sim::Fault::Error, .code = 0xA1, .error = 110});
    strcpy(data, "before");
    EXPECT_EQ(stdoutOf([&] { EXPECT_FALSE(RdsUsbReadPSRam(handle, data)); }),
              "Error RdsUsbReadPSRam sendUSBVendorCmd -110");
    EXPECT_STREQ(data, "before");
    EXPECT_EQ(log().size(), 1u); // the second half is not asked for

    board->clearFaults();
    board->addFault({.kind = sim::Fault::Error, .code = 0xE2, .error = 32});
    setEeprom([](sim::Eeprom &d) { memcpy(d.ps, "ABCDEFGH", 8); });
    EXPECT_EQ(stdoutOf([&] { EXPECT_FALSE(RdsUsbReadPSE2p(handle, data)); }),
              "Error RdsUsbReadPSE2p (2) sendUSBVendorCmd -32");
    EXPECT_STREQ(data, "ABCD");
}

TEST_F(Reads, RadioTextRunStopsAtTheFailedRequest)
{
    board->addFault({.kind = sim::Fault::Error, .code = 0xB5, .error = 32});
    setRam([](sim::RdsData &d) { memset(d.rt, 'r', 64); });
    EXPECT_EQ(stdoutOf([&] { EXPECT_FALSE(RdsUsbReadRTRam(handle, data)); }),
              "Error RdsUsbReadRTRam sendUSBVendorCmd -32");
    EXPECT_EQ(std::string(data), std::string(20, 'r'));
    ASSERT_EQ(log().size(), 6u);
    EXPECT_EQ(log().back().code, 0xB5);

    board->clearFaults();
    board->addFault({.kind = sim::Fault::Error, .code = 0xF0, .error = 32});
    strcpy(data, "");
    EXPECT_EQ(stdoutOf([&] { RdsUsbReadRTE2p(handle, data); }),
              "Error RdsUsbReadRTE2p sendUSBVendorCmd -32");
    EXPECT_STREQ(data, "");
}

TEST_F(Reads, ShortReplyLeavesTheEarlierBytes)
{
    setEeprom([](sim::Eeprom &d) {
        d.pi = 0x1234;
        d.naf = 0x56;
    });
    board->addFault({.kind = sim::Fault::Short, .code = 0xE8, .bytes = 1});
    // A short reply is no failure: the missing byte is what the previous
    // request left in the reply buffer.
    ASSERT_TRUE(RdsUsbReadNAFE2p(handle, data)); // leaves 0x56 0 ... in the buffer
    ASSERT_TRUE(RdsUsbReadPIE2p(handle, data));
    EXPECT_STREQ(data, "0x1200");
    EXPECT_EQ(log().back(), (sim::Request{0xE8, 0, 0, 1}));
}

TEST_F(Reads, UnpluggedBoardFailsFast)
{
    testbed->unplug(device);
    EXPECT_EQ(stdoutOf([&] { EXPECT_FALSE(RdsUsbReadPSRam(handle, data)); }),
              "Error RdsUsbReadPSRam sendUSBVendorCmd -19");
}

} // namespace
