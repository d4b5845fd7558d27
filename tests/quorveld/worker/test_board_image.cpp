// What the worker keeps of the board, alone: the order of its requests and
// the waits after failures, on a clock of the test's.
#include "BoardImage.h"
#include "FieldRows.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

using qd::BoardImage;

const BoardImage::Clock::time_point t0{};

// Reads every block of the load, as the board answers: texts of 'a's, numbers 1.
void load(BoardImage &image)
{
    image.startLoad();
    while (const auto s = image.next(t0))
        image.done(*s,
                   fields::Image(fields::blockSize(RdsUsbFields[s->field]), s->field < 2 ? 'a' : 1),
                   t0);
    ASSERT_FALSE(image.loading());
}

// A field's request waits 20, 40, 80... ms after each failure, at most 30 s;
// one success ends the waiting.
TEST(BoardImage, FailedFieldWaitsTwiceAsLongAfterEachFailureAndNoLongerThan30s)
{
    BoardImage image(20ms);
    load(image);
    const int pty = fields::fieldIndex("ram.pty");
    image.ask(pty, "\x03");
    auto now = t0;
    // Fails ram.pty's request, made now; the wait before the next one.
    const auto fail = [&]() -> BoardImage::Clock::duration {
        const auto step = image.next(now);
        if (!step || step->field != pty) {
            ADD_FAILURE() << "no request of ram.pty";
            return {};
        }
        image.done(*step, std::nullopt, now);
        const auto wait = *image.retryAt(now) - now;
        EXPECT_FALSE(image.next(now + wait - 1ms));
        now += wait;
        return wait;
    };
    for (const auto wait : {20ms, 40ms, 80ms, 160ms, 320ms})
        EXPECT_EQ(fail(), wait);
    for (int i = 0; i < 20; ++i)
        fail();
    EXPECT_EQ(fail(), 30s);
    image.done(*image.next(now), "\x03", now);
    image.ask(pty, "\x04");
    EXPECT_EQ(fail(), 20ms);
}

// The load reads each block once without waiting; a waiting field holds up no other.
TEST(BoardImage, WaitingFieldHoldsUpNoOtherAndNoLoad)
{
    BoardImage image(1s);
    image.startLoad();
    image.done(*image.next(t0), std::nullopt, t0); // ram.ps, block 0
    const auto second = image.next(t0);
    ASSERT_TRUE(second);
    EXPECT_EQ(std::pair(second->field, second->block), std::pair(0, 1));
    load(image);

    image.ask(fields::fieldIndex("ram.ps"), "NEWS    ");
    image.ask(fields::fieldIndex("ram.ta"), std::string(1, '\0'));
    image.done(*image.next(t0), std::nullopt, t0);
    const auto ta = image.next(t0);
    ASSERT_TRUE(ta);
    EXPECT_EQ(ta->field, fields::fieldIndex("ram.ta"));
}

} // namespace

// The board copies an EEPROM text it is written into its RAM: a RAM ask older
// than the EEPROM one gives way to it and is not written back; a newer one is.
TEST(BoardImage, OlderRamTextGivesWayToTheBoardsCopyOfTheEepromOne)
{
    const struct {
        std::vector<std::pair<std::string, std::string>> asks; // in order
        std::string written, ram, ramAsked; // the fields written; the RAM copy's ask at the end
    } cases[] = {
        {{{"ram.ps", "LIVE"}, {"eeprom.ps", "STORED"}}, "eeprom.ps ", "ram.ps", "STORED  "},
        {{{"eeprom.ps", "STORED"}, {"ram.ps", "LIVE"}}, "eeprom.ps ram.ps ", "ram.ps", "LIVE    "},
        {{{"ram.ps", "LIVE"}, {"eeprom.ps", "STORED"}, {"ram.ps", "LIVE"}},
         "eeprom.ps ram.ps ",
         "ram.ps",
         "LIVE    "},
        {{{"ram.rt", "Live"}, {"eeprom.rt", "Stored"}},
         "eeprom.rt ",
         "ram.rt",
         "Stored" + std::string(58, '\r')},
    };
    for (const auto &c : cases) {
        BoardImage image(20ms);
        load(image);
        for (const auto &[name, text] : c.asks)
            image.ask(fields::fieldIndex(name),
                      fields::textImage(*RdsUsbFindField(name.c_str()), text));
        std::string written;
        while (const auto step = image.next(t0)) {
            const std::string name = RdsUsbFields[step->field].Name + std::string(" ");
            written += written.ends_with(name) ? "" : name;
            image.done(*step, step->bytes, t0);
        }
        EXPECT_EQ(written, c.written);
        EXPECT_EQ(image.snapshot(fields::fieldIndex(c.ram)).asked, c.ramAsked);
    }
}
