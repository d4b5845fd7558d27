// Loading the field table from a simulated board through the real libusb.
#include "RdsUsbFields.h"
#include "RdsUsbMain.h"
#include "SimFixture.h"

#include <cstring>

namespace {

using Requests = std::vector<sim::Request>;

class Load : public SimBoardTest {
protected:
    void TearDown() override
    {
        usbCloseDevice(UsbRDSBoard);
        UsbRDSBoard = nullptr;
    }
    static std::string text(int row) { return GetDataEdit()[row].OldString; }

    // The 75 requests of a load on a board that answers everything.
    static Requests fullLoad()
    {
        Requests r{ok(0xA1), ok(0xA2)};
        for (int k = 0; k < 16; k++)
            r.push_back(ok(0xB0 + k));
        for (int code = 0xA3; code <= 0xA7; code++)
            r.push_back(ok(code));
        r.push_back(ok(0xE1));
        r.push_back(ok(0xE2));
        for (int k = 0; k < 16; k++)
            r.push_back(ok(0xF0 + k));
        for (int code = 0xE3; code <= 0xE9; code++)
            r.push_back(ok(code));
        for (int n = 0; n < 25; n++)
            r.push_back(ok(0xEA, n, 0));
        r.push_back(ok(0x82));
        r.push_back(ok(0x83));
        return r;
    }
};

TEST_F(Load, FullLoadInTableOrder)
{
    EXPECT_EQ(InitDataEdit(), 0);
    EXPECT_NE(UsbRDSBoard, nullptr);
    Requests sent = log();
    ASSERT_EQ(sent.size(), 75u);
    EXPECT_EQ(sent, fullLoad());
}

TEST_F(Load, EveryRowHasItsControlAndWriteCode)
{
    ASSERT_EQ(InitDataEdit(), 0);
    const int controls[43] = {1003, 1004, 1007, 1009, 1010, 1014, 1016, 1029, 1028, 1026, 1020,
                              1018, 1024, 1022, 1033, 1035, 1037, 1039, 1041, 1043, 1045, 1055,
                              1053, 1051, 1049, 1047, 1065, 1063, 1061, 1059, 1057, 1075, 1073,
                              1071, 1069, 1067, 1085, 1083, 1081, 1079, 1077, 1092, 1093};
    const int codes[43] = {0x21, 0x30, 0x23, 0x24, 0x25, 0x26, 0x27, 0x61, 0x70, 0x63, 0x64,
                           0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6A, 0x6A, 0x6A, 0x6A, 0x6A,
                           0x6A, 0x6A, 0x6A, 0x6A, 0x6A, 0x6A, 0x6A, 0x6A, 0x6A, 0x6A, 0x6A,
                           0x6A, 0x6A, 0x6A, 0x6A, 0x6A, 0x6A, 0x6A, 0x6A, 0x02, 0x03};
    for (int row = 0; row < 43; row++) {
        SCOPED_TRACE(row);
        EXPECT_EQ(GetDataEdit()[row].IdEdit, controls[row]);
        EXPECT_EQ(GetDataEdit()[row].IdRdsFunction, codes[row]);
    }
}

TEST_F(Load, TextsOfTheFactoryDefaults)
{
    ASSERT_EQ(InitDataEdit(), 0);
    const sim::Eeprom e = sim::Board::factoryDefaults();
    EXPECT_EQ(text(0), std::string(reinterpret_cast<const char *>(e.ps), 8));
    EXPECT_EQ(text(1).size(), 64u);
    EXPECT_EQ(text(2), std::to_string(e.pty));
    char pi[8];
    snprintf(pi, sizeof(pi), "0x%04X", e.pi);
    EXPECT_EQ(text(14), pi);
    EXPECT_EQ(text(15), std::to_string(e.naf));
    const int af5 = e.af[5] + 875;
    char af[8];
    snprintf(af, sizeof(af), "%3d.%d", af5 / 10, af5 % 10);
    EXPECT_EQ(text(21), af); // AF05, control 1055
    EXPECT_EQ(text(41), std::to_string(e.group2a));
    EXPECT_EQ(text(42), std::to_string(e.stereo));
}

TEST_F(Load, NoBoardMeansNoRequestAndEmptyTexts)
{
    ASSERT_EQ(InitDataEdit(), 0);
    usbCloseDevice(UsbRDSBoard);
    testbed->unplug(device);
    board->clearLog();
    EXPECT_EQ(InitDataEdit(), USB_OPEN_ERR_NOTFOUND);
    EXPECT_EQ(UsbRDSBoard, nullptr);
    EXPECT_TRUE(log().empty());
    for (int row = 0; row < 43; row++)
        EXPECT_EQ(text(row), "") << row;
}

TEST_F(Load, AnotherGadgetOnTheSharedIdsIsNoBoard)
{
    testbed->unplug(device);
    sim::DeviceSetup gadget;
    gadget.manufacturer = "Other Maker";
    int other = testbed->addDevice(gadget);
    EXPECT_EQ(InitDataEdit(), USB_OPEN_ERR_NOTFOUND);
    EXPECT_TRUE(testbed->board(other)->log().empty());
}

TEST_F(Load, AFailedReadLeavesItsRowAndTheLoadGoesOn)
{
    board->addFault({.kind = sim::Fault::Error, .code = 0xB5, .error = 32});
    board->addFault({.kind = sim::Fault::Error, .code = 0xE8, .error = 32});
    std::string out;
    int result = -1;
    out = stdoutOf([&] { result = InitDataEdit(); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(out, "Error RdsUsbReadRTRam sendUSBVendorCmd -32"
                   "Error RdsUsbReadPIE2p sendUSBVendorCmd -32");
    EXPECT_EQ(text(1).size(), 20u); // the RadioText up to the failed request
    EXPECT_EQ(text(14), "");       // the PI row
    EXPECT_EQ(log().size(), 75u - 10u);
    EXPECT_EQ(log().back(), ok(0x83));
}

TEST_F(Load, AReloadShowsNothingOfThePreviousLoad)
{
    ASSERT_EQ(InitDataEdit(), 0);
    ASSERT_NE(text(0), "");
    usbCloseDevice(UsbRDSBoard);
    board->addFault({.kind = sim::Fault::Error, .code = 0xA1, .error = 32});
    board->addFault({.kind = sim::Fault::Error, .code = 0xEA, .error = 32});
    stdoutOf([] { EXPECT_EQ(InitDataEdit(), 0); });
    EXPECT_EQ(text(0), "");
    for (int row = 16; row <= 40; row++)
        EXPECT_EQ(text(row), "") << row;
    EXPECT_EQ(GetDataEdit()[21].IdEdit, 1055);
    EXPECT_NE(text(41), "");
}

TEST_F(Load, WhatIsWrittenLoadsBackInItsDisplayFormat)
{
    ASSERT_EQ(InitDataEdit(), 0);
    // One text per field, as an operator might type it.
    std::vector<std::string> typed = {"RAMPS", "ram text", "3", "1", "1", "0", "9",
                                      "EEPS1234", "eeprom text", "31", "0", "1", "1", "15",
                                      "c0de", "7"};
    for (int n = 0; n < 25; n++)
        typed.push_back(std::to_string(88 + n / 2) + "." + std::to_string(n % 10));
    typed.push_back("2");
    typed.push_back("0");
    for (int row = 0; row < 43; row++)
        ASSERT_TRUE(RdsUsbWriteField(&RdsUsbFields[row], UsbRDSBoard, typed[row].c_str())) << row;
    usbCloseDevice(UsbRDSBoard);
    ASSERT_EQ(InitDataEdit(), 0);

    auto padded = [](std::string s, size_t n, char fill) {
        s.resize(n, fill);
        return s;
    };
    // The board copied the EEPROM PS name and RadioText over the RAM ones.
    EXPECT_EQ(text(0), padded("EEPS1234", 8, 0).c_str());
    EXPECT_EQ(text(1), padded("eeprom text", 64, ' '));
    EXPECT_EQ(text(7), "EEPS1234");
    EXPECT_EQ(text(8), padded("eeprom text", 64, ' '));
    EXPECT_EQ(text(14), "0xC0DE");
    for (int row = 2; row <= 6; row++)
        EXPECT_EQ(text(row), typed[row]);
    for (int row = 9; row <= 13; row++)
        EXPECT_EQ(text(row), typed[row]);
    for (int row = 15; row < 43; row++) {
        std::string expected = typed[row];
        if (row >= 16 && row <= 40 && expected.size() == 4)
            expected = " " + expected;
        EXPECT_EQ(text(row), expected) << row;
    }
}

} // namespace
