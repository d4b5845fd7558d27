// Injected faults, as the host sees them and as the board logged them.
#include "SimFixture.h"

#include <cerrno>
#include <chrono>

namespace {

class Faults : public SimTest {
protected:
    void SetUp() override
    {
        id = testbed.addDevice({}, board);
        h = open(id);
    }

    int stringRequest()
    {
        char buf[256];
        return usb_get_string(h, 1, 0x0409, buf, sizeof buf);
    }

    std::shared_ptr<sim::Board> board = std::make_shared<sim::Board>();
    int id = 0;
    usb_dev_handle *h = nullptr;
};

} // namespace

TEST_F(Faults, ErrorAtARequestFailsThatOneOnlyAndStoresNothing)
{
    board->addFault({.kind = sim::Fault::Error, .at = 2});
    board->addFault({.kind = sim::Fault::Error, .at = 3, .error = EIO});
    EXPECT_EQ(request(h, 0xA3).result, 8);
    const Reply failed = request(h, 0x23, 99);
    EXPECT_EQ(failed.result, -EPIPE);
    EXPECT_EQ(failed.bytes[0], 0xEE);
    EXPECT_EQ(request(h, 0xA3).result, -EIO);
    EXPECT_EQ(request(h, 0xA3).bytes[0], 10) << "the failed write stored nothing";
    EXPECT_EQ(logOf(*board), (std::vector<std::string>{line(0xA3, 0, 0, 8), line(0x23, 99, 0, -32),
                                                       line(0xA3, 0, 0, -5), line(0xA3, 0, 0, 8)}));
}

TEST_F(Faults, ErrorByCodeFailsEveryRequestWithIt)
{
    board->addFault({.kind = sim::Fault::Error, .code = 0xA2, .error = EOVERFLOW});
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(request(h, 0xA1).result, 8);
        EXPECT_EQ(request(h, 0xA2).result, -EOVERFLOW);
    }
    EXPECT_EQ(board->log().size(), 4u);
}

TEST_F(Faults, ShortReplyLeavesTheRestOfTheHostBufferUntouched)
{
    board->addFault({.kind = sim::Fault::Short, .at = 1, .bytes = 1});
    const Reply r = request(h, 0xE8);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.bytes, (std::array<uint8_t, 8>{0xC2, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(request(h, 0xE8).result, 8);
    EXPECT_EQ(logOf(*board)[0], line(0xE8, 0, 0, 1));
}

TEST_F(Faults, UnplugFailsEveryRequestFromItOnAndTheNodeGoes)
{
    board->addFault({.kind = sim::Fault::Unplug, .at = 2});
    EXPECT_EQ(request(h, 0xA3).result, 8);
    EXPECT_FALSE(board->unplugged());
    EXPECT_EQ(request(h, 0x23, 1).result, -ENODEV);
    EXPECT_TRUE(board->unplugged());
    EXPECT_EQ(request(h, 0xA3).result, -ENODEV);
    EXPECT_EQ(stringRequest(), -ENODEV);
    EXPECT_EQ(usb_claim_interface(h, 0), -ENODEV);
    EXPECT_EQ(find(id), nullptr) << "a new scan no longer lists it";
    EXPECT_EQ(logOf(*board).back(), line(0xA3, 0, 0, -19));
}

TEST_F(Faults, TestbedUnplugWorksUnderAnOpenHandle)
{
    EXPECT_EQ(request(h, 0xA3).result, 8);
    testbed.unplug(id);
    EXPECT_EQ(request(h, 0xA3).result, -ENODEV);
    EXPECT_EQ(stringRequest(), -ENODEV);
    EXPECT_TRUE(board->unplugged());
    EXPECT_EQ(find(id), nullptr);
    EXPECT_EQ(logOf(*board), (std::vector<std::string>{line(0xA3, 0, 0, 8), line(0xA3, 0, 0, -19)}));
}

TEST_F(Faults, HangTimesOutEveryRequestFromItOnAfterTheDelay)
{
    using Clock = std::chrono::steady_clock;
    board->addFault({.kind = sim::Fault::Hang, .at = 2, .delayMs = 40});
    EXPECT_EQ(request(h, 0xA3).result, 8);
    for (int i = 0; i < 2; ++i) {
        const auto start = Clock::now();
        EXPECT_EQ(request(h, 0xA3).result, -ETIMEDOUT);
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(40));
    }
    EXPECT_EQ(logOf(*board).back(), line(0xA3, 0, 0, -110));
    board->clearFaults();
    EXPECT_EQ(request(h, 0xA3).result, 8) << "clearFaults ends the hang";
}
