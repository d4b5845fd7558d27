// The board's request set, driven through libusb.
#include "SimFixture.h"

#include <cstring>

namespace {

using Bytes = std::array<uint8_t, 8>;

class Requests : public SimTest {
protected:
    void SetUp() override
    {
        id = testbed.addDevice();
        board = testbed.board(id);
        h = open(id);
    }

    int id = 0;
    std::shared_ptr<sim::Board> board;
    usb_dev_handle *h = nullptr;
};

} // namespace

TEST_F(Requests, ReadsAnswerTheFactoryDefaultsPacked)
{
    EXPECT_EQ(request(h, 0xA1).bytes, (Bytes{'Q', 'U', 'O', 'R', 0, 0, 0, 0}));
    EXPECT_EQ(request(h, 0xE2).bytes, (Bytes{'V', 'E', 'L', ' ', 0, 0, 0, 0}));
    EXPECT_EQ(request(h, 0xB0).bytes, (Bytes{'Q', 'u', 'o', 'r', 0, 0, 0, 0}));
    EXPECT_EQ(request(h, 0xFF).bytes, (Bytes{0x0D, 0x0D, 0x0D, 0x0D, 0, 0, 0, 0})) << "padding";
    EXPECT_EQ(request(h, 0xE8).bytes, (Bytes{0xC2, 0x01, 0, 0, 0, 0, 0, 0})) << "PI high first";
    EXPECT_EQ(request(h, 0xEA, 1).bytes[0], 110) << "98.5 MHz";
    EXPECT_EQ(request(h, 0xEA, 24).bytes[0], 0);
    const std::pair<int, int> small[] = {{0xA3, 10}, {0xA4, 1}, {0xA5, 0}, {0xA6, 1}, {0xE7, 1},
                                         {0xE9, 5},  {0x82, 4}, {0x83, 1}};
    for (auto [code, value] : small) {
        const Reply r = request(h, code);
        EXPECT_EQ(r.result, 8);
        EXPECT_EQ(r.bytes, (Bytes{static_cast<uint8_t>(value), 0, 0, 0, 0, 0, 0, 0}))
            << std::hex << code;
    }
    EXPECT_EQ(logOf(*board)[5], line(0xEA, 1, 0, 8));
}

TEST_F(Requests, WritesAreStoredAsPackedAndReadBack)
{
    const Reply w = request(h, 0x21, 0x41E9, 0x4344); // a byte above 127 stays itself
    EXPECT_EQ(w.result, 8);
    EXPECT_EQ(w.bytes, Bytes{}) << "a write answers eight zero bytes";
    EXPECT_EQ(request(h, 0xA1).bytes, (Bytes{'A', 0xE9, 'C', 'D', 0, 0, 0, 0}));
    EXPECT_EQ(std::memcmp(board->eeprom().ps, "QUOR", 4), 0) << "RAM write left EEPROM alone";

    request(h, 0x3F, 0x5859, 0x5A21);
    EXPECT_EQ(std::memcmp(board->ram().rt + 60, "XYZ!", 4), 0);
    request(h, 0x23, 0x1234); // a byte field keeps the low byte
    EXPECT_EQ(request(h, 0xA3).bytes[0], 0x34);
    request(h, 0x68, 0xBEEF);
    EXPECT_EQ(request(h, 0xE8).bytes, (Bytes{0xBE, 0xEF, 0, 0, 0, 0, 0, 0}));
    request(h, 0x6A, 204, 24); // AF write: code in value, number in index
    EXPECT_EQ(request(h, 0xEA, 24).bytes[0], 204);
    EXPECT_EQ(board->eeprom().af[24], 204);
    request(h, 0x69, 30); // not checked by the board
    EXPECT_EQ(request(h, 0xE9).bytes[0], 30);
}

TEST_F(Requests, EepromTextWritesAreCopiedIntoRam)
{
    request(h, 0x62, 0x5445, 0x5354);
    request(h, 0x7F, 0x2E2E, 0x2E2E);
    EXPECT_EQ(request(h, 0xE2).bytes, (Bytes{'T', 'E', 'S', 'T', 0, 0, 0, 0}));
    EXPECT_EQ(request(h, 0xA2).bytes, (Bytes{'T', 'E', 'S', 'T', 0, 0, 0, 0}));
    EXPECT_EQ(request(h, 0xA1).bytes, (Bytes{'Q', 'U', 'O', 'R', 0, 0, 0, 0})) << "only that part";
    EXPECT_EQ(request(h, 0xBF).bytes, (Bytes{'.', '.', '.', '.', 0, 0, 0, 0}));

    request(h, 0x63, 3); // small fields are not copied
    EXPECT_EQ(request(h, 0xA3).bytes[0], 10);
}

TEST_F(Requests, ResetRestoresTheEepromDefaultsAndLeavesRam)
{
    request(h, 0x61, 0x4142, 0x4344);
    request(h, 0x68, 0x1234);
    request(h, 0x6A, 50, 3);
    request(h, 0x02, 9);
    ASSERT_EQ(request(h, 0x04).result, 8);
    EXPECT_EQ(dump(board->eeprom()), dump(sim::Board::factoryDefaults()));
    EXPECT_EQ(request(h, 0xE1).bytes, (Bytes{'Q', 'U', 'O', 'R', 0, 0, 0, 0}));
    EXPECT_EQ(request(h, 0xA1).bytes, (Bytes{'A', 'B', 'C', 'D', 0, 0, 0, 0})) << "RAM kept";
}

TEST_F(Requests, CodesOutsideTheTableStall)
{
    const int unknown[][2] = {{0x00, 0}, {0x11, 0}, {0x28, 0}, {0x6B, 0}, {0x84, 0}, {0xA8, 0},
                              {0xEA, 25}}; // AF numbers stop at 24
    for (auto [code, value] : unknown) {
        const Reply r = request(h, code, value);
        EXPECT_EQ(r.result, -32) << std::hex << code;
        EXPECT_EQ(r.bytes[0], 0xEE) << "nothing answered";
    }
    EXPECT_EQ(request(h, 0x6A, 1, 25).result, -32);
    EXPECT_EQ(dump(board->eeprom()), dump(sim::Board::factoryDefaults()));
    EXPECT_EQ(logOf(*board).back(), line(0x6A, 1, 25, -32));
    EXPECT_EQ(board->log().size(), std::size(unknown) + 1);

    char data[8] = {};
    EXPECT_EQ(usb_control_msg(h, 0x40, 0x21, 0, 0, data, 8, 1000), -32) << "vendor OUT";
    EXPECT_EQ(board->log().size(), std::size(unknown) + 1) << "OUT never reaches the board";
}
