// What the worker keeps of the board, alone: the order of its requests and
// the waits after failures, on a clock of the test's.
#include "BoardImage.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using qd::BoardImage;

const BoardImage::Clock::time_point t0{};

// Reads every block of the load, as the board answers: texts of 'a's, numbers 1.
void load(BoardImage &image)
{
    image.startLoad();
    while (const auto step = image.next(t0)) {
        ASSERT_FALSE(step->write);
        image.done(*step, qd::Image(qd::blockSize(RdsUsbFields[step->field]), step->field < 2 ? 'a' : 1), t0);
    }
    ASSERT_FALSE(image.loading());
}

TEST(BoardImage, FailedFieldWaitsTwiceAsLongAfterEachFailureAndNoLongerThan30s)
{
    BoardImage image(20ms);
    load(image);
    const int pty = qd::fieldIndex("ram.pty");
    image.ask(pty, "\x03");
    auto now = t0;
    for (const auto wait : {20ms, 40ms, 80ms, 160ms, 320ms}) {
        const auto step = image.next(now);
        ASSERT_TRUE(step);
        EXPECT_EQ(step->field, pty);
        image.done(*step, std::nullopt, now);
        EXPECT_FALSE(image.next(now)) << "no request before the wait is over";
        EXPECT_FALSE(image.next(now + wait - 1ms));
        EXPECT_EQ(image.retryAt(now), now + wait);
        now += wait;
    }
    for (int i = 0; i < 20; ++i) {
        image.done(*image.next(now), std::nullopt, now);
        now = *image.retryAt(now);
    }
    image.done(*image.next(now), std::nullopt, now);
    EXPECT_EQ(*image.retryAt(now) - now, 30s);

    // One success ends the waiting: the next failure waits the first time again.
    image.done(*image.next(now + 30s), "\x03", now + 30s);
    image.ask(pty, "\x04");
    image.done(*image.next(now + 30s), std::nullopt, now + 30s);
    EXPECT_EQ(*image.retryAt(now + 30s) - (now + 30s), 20ms);
}

TEST(BoardImage, WaitingFieldHoldsUpNoOtherAndNoLoad)
{
    BoardImage image(1s);
    image.startLoad();
    const auto first = image.next(t0);
    ASSERT_TRUE(first);
    image.done(*first, std::nullopt, t0); // ram.ps, block 0
    const auto second = image.next(t0);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->field, 0) << "the load reads each block once without waiting";
    EXPECT_EQ(second->block, 1);
    load(image);

    image.ask(qd::fieldIndex("ram.ps"), "NEWS    ");
    image.ask(qd::fieldIndex("ram.ta"), std::string(1, '\0'));
    const auto ps = image.next(t0);
    ASSERT_TRUE(ps);
    image.done(*ps, std::nullopt, t0);
    const auto ta = image.next(t0);
    ASSERT_TRUE(ta);
    EXPECT_EQ(ta->field, qd::fieldIndex("ram.ta")) << "another field goes on meanwhile";
}

} // namespace
