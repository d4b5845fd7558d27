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

struct Reply {
    int result;
    Bytes bytes;
};

class BoardModel : public testing::Test {
protected:
    Reply request(int code, int value = 0, int index = 0, int len = 8)
    {
        Reply r;
        r.bytes.fill(0xEE);
        r.result = board.handle(code, value, index, r.bytes.data(), len);
        return r;
    }
    Bytes read(int code, int value = 0) { return request(code, value).bytes; }
    static Bytes first(uint8_t b) { return {b, 0, 0, 0, 0, 0, 0, 0}; }
    sim::Board board;
};

TEST_F(BoardModel, ReadsAnswerTheFactoryDefaultsPacked)
{
    EXPECT_EQ(read(0xA1), (Bytes{'Q', 'U', 'O', 'R', 0, 0, 0, 0}));
    EXPECT_EQ(read(0xE2), (Bytes{'V', 'E', 'L', ' ', 0, 0, 0, 0}));
    EXPECT_EQ(read(0xB0), (Bytes{'Q', 'u', 'o', 'r', 0, 0, 0, 0}));
    EXPECT_EQ(read(0xFF), (Bytes{0x0D, 0x0D, 0x0D, 0x0D, 0, 0, 0, 0})) << "padding";
    EXPECT_EQ(read(0xE8), (Bytes{0xC2, 0x01, 0, 0, 0, 0, 0, 0})) << "PI high first";
    const std::pair<int, int> small[] = {{0xA3, 10}, {0xA4, 1}, {0xA5, 0}, {0xA6, 1}, {0xA7, 1},
                                         {0xE3, 10}, {0xE7, 1}, {0xE9, 5}, {0x82, 4}, {0x83, 1}};
    for (auto [code, value] : small)
        EXPECT_EQ(read(code), first(value)) << std::hex << code;
    const uint8_t afs[25] = {1, 110, 136, 168, 204};
    for (int n = 0; n < 25; n++)
        EXPECT_EQ(read(0xEA, n), first(afs[n])) << n;
    EXPECT_EQ(board.log().size(), 5u + 10u + 25u);
    EXPECT_EQ(board.log()[4].code, 0xE8);
    EXPECT_EQ(board.log()[4].result, 8);
}

TEST_F(BoardModel, WritesAreStoredAsPackedAndAnswerZeros)
{
    const Reply w = request(0x21, 0x41E9, 0x4344); // a byte above 127 stays itself
    EXPECT_EQ(w.result, 8);
    EXPECT_EQ(w.bytes, Bytes{});
    EXPECT_EQ(read(0xA1), (Bytes{'A', 0xE9, 'C', 'D', 0, 0, 0, 0}));
    EXPECT_EQ(std::memcmp(board.eeprom().ps, "QUOR", 4), 0) << "RAM write left EEPROM alone";
    request(0x3F, 0x5859, 0x5A21);
    EXPECT_EQ(std::memcmp(board.ram().rt + 60, "XYZ!", 4), 0);
    request(0x23, 0x1234); // a byte field keeps the low byte
    EXPECT_EQ(read(0xA3), first(0x34));
    request(0x68, 0xBEEF);
    EXPECT_EQ(read(0xE8), (Bytes{0xBE, 0xEF, 0, 0, 0, 0, 0, 0}));
    request(0x6A, 204, 24); // AF write: code in value, number in index
    EXPECT_EQ(board.eeprom().af[24], 204);
    request(0x69, 30); // not checked by the board
    EXPECT_EQ(read(0xE9), first(30));
    for (auto [code, field] : {std::pair{0x02, &sim::Eeprom::group2a}, {0x03, &sim::Eeprom::stereo},
                               {0x67, &sim::Eeprom::di}}) {
        request(code, 7);
        EXPECT_EQ(board.eeprom().*field, 7) << code;
    }
}

TEST_F(BoardModel, EepromTextWritesGoIntoRamTooAndTheResetRestoresOnlyTheEeprom)
{
    request(0x62, 0x5445, 0x5354);
    request(0x7F, 0x2E2E, 0x2E2E);
    request(0x63, 3); // small fields are not copied
    EXPECT_EQ(read(0xA2), (Bytes{'T', 'E', 'S', 'T', 0, 0, 0, 0}));
    EXPECT_EQ(read(0xA1), (Bytes{'Q', 'U', 'O', 'R', 0, 0, 0, 0})) << "only that part";
    EXPECT_EQ(read(0xBF), (Bytes{'.', '.', '.', '.', 0, 0, 0, 0}));
    EXPECT_EQ(read(0xA3), first(10));
    request(0x68, 0x1234);
    request(0x6A, 50, 3);
    ASSERT_EQ(request(0x04).result, 8);
    EXPECT_EQ(read(0xE2), (Bytes{'V', 'E', 'L', ' ', 0, 0, 0, 0}));
    EXPECT_EQ(read(0xE8), (Bytes{0xC2, 0x01, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(read(0xEA, 3), first(168));
    EXPECT_EQ(read(0xE3), first(10));
    EXPECT_EQ(read(0xA2), (Bytes{'T', 'E', 'S', 'T', 0, 0, 0, 0})) << "RAM kept";
}

TEST_F(BoardModel, CodesOutsideTheTableStallAndStoreNothing)
{
    for (auto [code, value, index] : {std::tuple{0x00, 0, 0}, {0x11, 0, 0}, {0x28, 0, 0},
                                      {0x6B, 0, 0}, {0x84, 0, 0}, {0xA8, 0, 0}, {0xEA, 25, 0},
                                      {0x6A, 1, 25}}) {
        const Reply r = request(code, value, index);
        EXPECT_EQ(r.result, -EPIPE) << std::hex << code;
        EXPECT_EQ(r.bytes[0], 0xEE) << "nothing answered";
    }
    EXPECT_EQ(board.eeprom().af[24], 0);
    EXPECT_EQ(board.log().back().result, -EPIPE);
}

TEST_F(BoardModel, FaultsFailShortenUnplugOrHangTheirRequests)
{
    board.addFault({.kind = sim::Fault::Error, .at = 2});
    board.addFault({.kind = sim::Fault::Error, .code = 0xA2, .error = EOVERFLOW});
    board.addFault({.kind = sim::Fault::Short, .at = 4, .bytes = 1});
    EXPECT_EQ(request(0xA3).result, 8);
    const Reply failed = request(0x23, 99);
    EXPECT_EQ(failed.result, -EPIPE);
    EXPECT_EQ(failed.bytes[0], 0xEE);
    EXPECT_EQ(read(0xA3), first(10)) << "the failed write stored nothing";
    const Reply cut = request(0xE8);
    EXPECT_EQ(cut.result, 1);
    EXPECT_EQ(cut.bytes, (Bytes{0xC2, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(request(0xA2).result, -EOVERFLOW);
    EXPECT_EQ(request(0xA2).result, -EOVERFLOW) << "every request with that code";
    EXPECT_EQ(request(0xE8, 0, 0, 3).result, 3) << "no more than asked for";

    board.addFault({.kind = sim::Fault::Unplug, .at = 9});
    EXPECT_EQ(request(0xA3).result, 8);
    EXPECT_FALSE(board.unplugged());
    EXPECT_EQ(request(0xA3).result, -ENODEV);
    EXPECT_EQ(request(0xA1).result, -ENODEV);
    EXPECT_TRUE(board.unplugged());
    board.clearFaults();
    EXPECT_FALSE(board.unplugged());

    board.addFault({.kind = sim::Fault::Hang, .at = 11, .delayMs = 40});
    for (int i = 0; i < 2; i++) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(request(0xA3).result, -ETIMEDOUT);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
    }
    board.clearFaults();
    EXPECT_EQ(request(0xA3).result, 8) << "clearFaults ends the hang";
    EXPECT_EQ(board.log().size(), 13u);
    EXPECT_EQ(board.log()[10].result, -ETIMEDOUT);
}

} // namespace
