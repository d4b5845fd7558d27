// Loading the field table from a simulated board through the real libusb.
// What a failed request leaves is the load fault matrix's (tests/faults).
#include "RdsUsbMain.h"
#include "SimFixture.h"

namespace {


class Load : public SimBoardTest {
protected:
    void TearDown() override
    {
        usbCloseDevice(UsbRDSBoard);
        UsbRDSBoard = nullptr;
    }
    static std::vector<std::string> texts()
    {
        std::vector<std::string> t;
        for (int row = 0; row < 43; row++)
            t.push_back(GetDataEdit()[row].OldString);
        return t;
    }
};

// Every field read once, in table order, into its row, tied to its control
// and its write request.
TEST_F(Load, ReadsEveryFieldOnceInTableOrderIntoItsRow)
{
    EXPECT_EQ(InitDataEdit(), 0);
    EXPECT_NE(UsbRDSBoard, nullptr);
    EXPECT_EQ(log(), fullLoad());

    // The simulated board's factory defaults, as the dialog shows them.
    const std::string rt = "Quorvel RDS encoder - simulated board" + std::string(27, ' ');
    std::vector<std::string> shown = {"QUORVEL ", rt, "10", "1", "0", "1", "1",
                                      "QUORVEL ", rt, "10", "1", "0", "1", "1", "0xC201", "5",
                                      " 87.6", " 98.5", "101.1", "104.3", "107.9"};
    shown.insert(shown.end(), 20, " 87.5");
    shown.insert(shown.end(), {"4", "1"});
    EXPECT_EQ(texts(), shown);

    std::vector<int> controls, codes = {0x21, 0x30, 0x23, 0x24, 0x25, 0x26, 0x27, 0x61,
                                        0x70, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69};
    codes.insert(codes.end(), 25, 0x6A);
    codes.insert(codes.end(), {0x02, 0x03});
    for (int row = 0; row < 43; row++) {
        controls.push_back(GetDataEdit()[row].IdEdit);
        codes[row] -= GetDataEdit()[row].IdRdsFunction;
    }
    EXPECT_EQ(controls,
              (std::vector<int>{1003, 1004, 1007, 1009, 1010, 1014, 1016, 1029, 1028, 1026, 1020,
                                1018, 1024, 1022, 1033, 1035, 1037, 1039, 1041, 1043, 1045, 1055,
                                1053, 1051, 1049, 1047, 1065, 1063, 1061, 1059, 1057, 1075, 1073,
                                1071, 1069, 1067, 1085, 1083, 1081, 1079, 1077, 1092, 1093}));
    EXPECT_EQ(codes, std::vector<int>(43)) << "the write requests, less the expected ones";
}

TEST_F(Load, WithoutTheBoardNothingIsReadAndEveryTextIsEmpty)
{
    ASSERT_EQ(InitDataEdit(), 0);
    usbCloseDevice(UsbRDSBoard);
    testbed->unplug(device);
    sim::DeviceSetup gadget; // the board's ids, another maker
    gadget.manufacturer = "Other Maker";
    auto other = testbed->board(testbed->addDevice(gadget));
    board->clearLog();
    EXPECT_EQ(InitDataEdit(), USB_OPEN_ERR_NOTFOUND);
    EXPECT_EQ(UsbRDSBoard, nullptr);
    EXPECT_TRUE(log().empty());
    EXPECT_TRUE(other->log().empty());
    EXPECT_EQ(texts(), std::vector<std::string>(43));
}

} // namespace
