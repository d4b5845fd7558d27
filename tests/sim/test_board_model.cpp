// The simulated board's firmware model: its request set, stores and faults,
// without any USB transport.
#include "SimBoard.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

using Bytes = std::array<uint8_t, 8>;

class BoardModel : public testing::Test {
protected:
    int request(int code, int value = 0, int index = 0, int len = 8)
    {
        reply.fill(0xEE);
        return board.handle(code, value, index, reply.data(), len);
    }
    Bytes read(int code, int value = 0) { return request(code, value), reply; }
    static Bytes first(uint8_t b) { return {b, 0, 0, 0, 0, 0, 0, 0}; }
    static Bytes text(const char *four)
    {
        return {uint8_t(four[0]), uint8_t(four[1]), uint8_t(four[2]), uint8_t(four[3])};
    }
    sim::Board board;
    Bytes reply;
};

// Writes answer zeros and store what they carry; an EEPROM text goes into RAM
// too; the reset restores only the EEPROM.
TEST_F(BoardModel, WritesStoreTheirValuesAndTheResetRestoresTheEeprom)
{
    EXPECT_EQ(request(0x21, 0x41E9, 0x4344), 8); // a byte above 127 stays itself
    EXPECT_EQ(reply, Bytes{});
    EXPECT_EQ(read(0xA1), text("A\xE9"
                               "CD"));
    EXPECT_EQ(std::memcmp(board.eeprom().ps, "QUOR", 4), 0) << "RAM write left EEPROM alone";
    request(0x3F, 0x5859, 0x5A21);
    EXPECT_EQ(std::memcmp(board.ram().rt + 60, "XYZ!", 4), 0);
    request(0x23, 0x1234); // a byte field keeps the low byte
    EXPECT_EQ(read(0xA3), first(0x34));
    request(0x6A, 204, 24); // AF write: code in value, number in index
    EXPECT_EQ(board.eeprom().af[24], 204);
    request(0x69, 30); // not checked by the board
    EXPECT_EQ(read(0xE9), first(30));
    for (auto [code, field] : {std::pair{0x02, &sim::Eeprom::group2a},
                               {0x03, &sim::Eeprom::stereo},
                               {0x67, &sim::Eeprom::di}}) {
        request(code, 7);
        EXPECT_EQ(board.eeprom().*field, 7) << code;
    }
    request(0x62, 0x5445, 0x5354);
    request(0x7F, 0x2E2E, 0x2E2E);
    request(0x63, 3); // small fields are not copied
    EXPECT_EQ(read(0xA2), text("TEST"));
    EXPECT_EQ(read(0xBF), text("...."));
    EXPECT_EQ(read(0xA3), first(0x34));
    request(0x68, 0xBEEF);
    EXPECT_EQ(read(0xE8), (Bytes{0xBE, 0xEF}));
    ASSERT_EQ(request(0x04), 8);
    EXPECT_EQ(read(0xE2), text("VEL "));
    EXPECT_EQ(read(0xE8), (Bytes{0xC2, 0x01}));
    EXPECT_EQ(read(0xEA, 24), first(0));
    EXPECT_EQ(read(0xE3), first(10));
    EXPECT_EQ(read(0xA2), text("TEST")) << "RAM kept";
}

// Codes (and AF numbers) outside the table stall and store nothing.
TEST_F(BoardModel, CodesOutsideTheTableStallAndStoreNothing)
{
    for (auto [code, value, index] : {std::tuple{0x00, 0, 0},
                                      {0x11, 0, 0},
                                      {0x28, 0, 0},
                                      {0x6B, 0, 0},
                                      {0x84, 0, 0},
                                      {0xA8, 0, 0},
                                      {0xEA, 25, 0},
                                      {0x6A, 1, 25}}) {
        EXPECT_EQ(request(code, value, index), -EPIPE) << std::hex << code;
        EXPECT_EQ(reply[0], 0xEE) << "nothing answered";
    }
    EXPECT_EQ(board.eeprom().af[24], 0);
    EXPECT_EQ(board.log().back().result, -EPIPE);
}

// Faults by request number or code: fail, shorten, unplug, hang.
TEST_F(BoardModel, FaultsFailShortenUnplugOrHangTheirRequests)
{
    board.addFault({.kind = sim::Fault::Error, .at = 2});
    board.addFault({.kind = sim::Fault::Error, .code = 0xA2, .error = EOVERFLOW});
    board.addFault({.kind = sim::Fault::Short, .at = 4, .bytes = 1});
    EXPECT_EQ(request(0xA3), 8);
    EXPECT_EQ(request(0x23, 99), -EPIPE);
    EXPECT_EQ(reply[0], 0xEE);
    EXPECT_EQ(read(0xA3), first(10)) << "the failed write stored nothing";
    EXPECT_EQ(request(0xE8), 1);
    EXPECT_EQ(reply, (Bytes{0xC2, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(request(0xA2), -EOVERFLOW);
    EXPECT_EQ(request(0xA2), -EOVERFLOW) << "every request with that code";
    EXPECT_EQ(request(0xE8, 0, 0, 3), 3) << "no more than asked for";

    board.addFault({.kind = sim::Fault::Unplug, .at = 9});
    EXPECT_EQ(request(0xA3), 8);
    EXPECT_FALSE(board.unplugged());
    EXPECT_EQ(request(0xA3), -ENODEV);
    EXPECT_EQ(request(0xA1), -ENODEV);
    EXPECT_TRUE(board.unplugged());
    board.clearFaults();
    EXPECT_FALSE(board.unplugged());

    board.addFault({.kind = sim::Fault::Hang, .at = 11, .delayMs = 40});
    for (int i = 0; i < 2; i++) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(request(0xA3), -ETIMEDOUT);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
    }
    board.clearFaults();
    EXPECT_EQ(request(0xA3), 8) << "clearFaults ends the hang";
    EXPECT_EQ(board.log().size(), 13u);
}

} // namespace
