// A seeded, bounded soak: the whole tool from WinMain, driven by random
// operator actions (edit any field with any text, OK, Cancel, Reset
// confirmed or declined) on a simulated board that now and then fails a
// request, answers short, or is unplugged (and later replaced by a board
// holding the same data).
//
// The invariant: no edit is lost. An OK names in its error box exactly the
// changed rows it could not write, and they keep their typed texts; the next
// OK, the board answering, writes exactly those rows (a text without a
// number is refused again); Cancel then shows what the controls hold. Only a
// confirmed reset drops pending rows, and the dialog then shows the board's
// texts afresh.
//
// QUORVEL_SOAK_STEPS (default 10000) and QUORVEL_SOAK_SEED (default: a new
// seed, printed) choose the run; a failure names the seed and the step.
#include "ProgramSpy.h"
#include "QtDriver.h"
#include "RdsUsbFields.h"
#include "RdsUsbMain.h"
#include "SimFixture.h"
#include "resource.h"

#include <algorithm>
#include <random>

namespace {

using Texts = std::vector<std::string>;

unsigned long envNumber(const char *name, unsigned long fallback)
{
    const char *value = std::getenv(name);
    return value && *value ? std::strtoul(value, nullptr, 10) : fallback;
}

class Soak {
public:
    Soak(QtDriver &driver, sim::Testbed &testbed, unsigned long seed, unsigned long steps)
        : driver_(driver), testbed_(testbed), rng_(seed), seed_(seed), stepsLeft_(steps)
    {
        testbed_.addDevice({}, board_);
        spy::reset();
        spy::answer = [this](const spy::Box &box) {
            return box.text == "Reset EEPROM to default value ?" && !confirm_ ? IDCANCEL : IDOK;
        };
    }
    ~Soak() { spy::reset(); }

    // The step for each showing of the dialog.
    void run()
    {
        EXPECT_EQ(shown(), loaded());
        while (stepsLeft_ > 0 && !testing::Test::HasFailure()) {
            --stepsLeft_, ++step_;
            SCOPED_TRACE(replay());
            const int action = pick(100);
            if (action >= 97)
                return reset(true); // the tool loads the board and shows the dialog again
            action < 60 ? edit() : action < 85 ? ok() : action < 92 ? cancel() : reset(false);
        }
        driver_.Click(IDC_BUTTON_QUIT);
    }

    std::string replay() const
    {
        return "QUORVEL_SOAK_SEED=" + std::to_string(seed_) + " (step " + std::to_string(step_) +
               ")";
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    Texts shown() const
    {
        Texts t;
        for (const T_R_FieldDef &field : RdsUsbFields)
            t.push_back(driver_.Text(field.IdEdit));
        return t;
    }
    static Texts loaded()
    {
        Texts t;
        for (int row = 0; row < RDS_USB_FIELD_COUNT; row++)
            t.push_back(GetDataEdit()[row].OldString);
        return t;
    }
    // The rows whose typed text is not the board's yet, and the box that names them.
    static std::vector<int> pending(const Texts &typed)
    {
        std::vector<int> rows;
        for (int row = 0; row < RDS_USB_FIELD_COUNT; row++)
            if (typed[row] != GetDataEdit()[row].OldString)
                rows.push_back(row);
        return rows;
    }
    static Texts boxNaming(const std::vector<int> &rows)
    {
        std::string text = "Error writing Quorvel board !";
        for (int row : rows)
            text += std::string("\r\n") + RdsUsbFields[row].Label;
        return rows.empty() ? Texts{} : Texts{text};
    }
    static Texts boxTexts()
    {
        Texts texts;
        for (const spy::Box &box : spy::boxes)
            texts.push_back(box.text);
        return texts;
    }

    // Perhaps arms a failure, a short reply or an unplug within the next requests.
    void armFault()
    {
        board_->clearFaults();
        const int at = static_cast<int>(board_->log().size()) + 1 + pick(12), kind = pick(100);
        if (kind < 48)
            board_->addFault(kind < 30 ? sim::Fault{.at = at, .error = pick(2) ? EPIPE : ETIMEDOUT}
                             : kind < 45
                                 ? sim::Fault{.kind = sim::Fault::Short, .at = at, .bytes = pick(8)}
                                 : sim::Fault{.kind = sim::Fault::Unplug, .at = at});
    }

    void edit()
    {
        const int row = pick(RDS_USB_FIELD_COUNT);
        std::string t;
        for (int n = pick(pick(4) ? 8 : 72); n > 0; n--) // any bytes a keyboard gives
            t += static_cast<char>(pick(3) ? '0' + pick(10) : 0x20 + pick(0xDF));
        if (pick(4) == 0 && row >= 16 && row <= 40)
            t = std::to_string(88 + pick(20)) + "." + std::to_string(pick(10));
        driver_.Type(RdsUsbFields[row].IdEdit, t);
        if (t.empty())
            driver_.Press(QtDriver::Key::Backspace); // the selected text goes
    }

    void ok()
    {
        if (board_->unplugged())
            return;
        const Texts typed = shown();
        const std::vector<int> changed = pending(typed);
        armFault();
        spy::boxes.clear();
        stdoutOf([&] { driver_.Click(IDC_BUTTON_OK); });
        const std::vector<int> left = pending(typed);
        EXPECT_EQ(boxTexts(), boxNaming(left));
        EXPECT_EQ(shown(), typed) << "the controls keep the typed texts";
        EXPECT_TRUE(std::includes(changed.begin(), changed.end(), left.begin(), left.end()));
        if (board_->unplugged())
            return;
        // The board answering, the next OK writes the pending rows, and only them.
        board_->clearFaults();
        const size_t before = board_->log().size();
        spy::boxes.clear();
        stdoutOf([&] { driver_.Click(IDC_BUTTON_OK); });
        const std::vector<int> refused = pending(typed);
        EXPECT_EQ(boxTexts(), boxNaming(refused));
        EXPECT_TRUE(std::includes(left.begin(), left.end(), refused.begin(), refused.end()));
        size_t expected = 0;
        for (int row : left)
            if (!std::count(refused.begin(), refused.end(), row)) // PS names 2, RadioTexts 16
                expected += row == 0 || row == 7 ? 2 : row == 1 || row == 8 ? 16 : 1;
        EXPECT_EQ(board_->log().size() - before, expected);
    }

    void cancel()
    {
        driver_.Click(IDC_BUTTON_CANCEL);
        EXPECT_EQ(shown(), loaded());
    }

    void reset(bool confirm)
    {
        const Texts typed = shown();
        if (confirm && board_->unplugged()) { // plug in a board holding what the old one held
            auto board = std::make_shared<sim::Board>();
            board->setRam(board_->ram());
            board->setEeprom(board_->eeprom());
            testbed_.addDevice({}, board_ = board);
        }
        const size_t before = board_->log().size();
        spy::boxes.clear();
        confirm_ = confirm;
        stdoutOf([&] { driver_.Click(IDC_BUTTON_RESET); });
        ASSERT_FALSE(spy::boxes.empty());
        EXPECT_EQ(spy::boxes[0].text, "Reset EEPROM to default value ?");
        if (confirm)
            return driver_.OnNextWindow([this] { run(); });
        EXPECT_EQ(board_->log().size(), before);
        EXPECT_EQ(shown(), typed);
    }

    QtDriver &driver_;
    sim::Testbed &testbed_;
    std::shared_ptr<sim::Board> board_ = std::make_shared<sim::Board>();
    std::mt19937 rng_;
    const unsigned long seed_;
    unsigned long stepsLeft_, step_ = 0;
    bool confirm_ = false;
};

TEST(Soak, RandomOperatorActionsLoseNoEdit)
{
    const unsigned long seed = envNumber("QUORVEL_SOAK_SEED", std::random_device{}());
    const unsigned long steps = envNumber("QUORVEL_SOAK_STEPS", 10000);
    std::printf("soak: %lu steps, QUORVEL_SOAK_SEED=%lu\n", steps, seed);
    sim::Testbed testbed;
    QtDriver driver(std::chrono::minutes(10));
    Soak soak(driver, testbed, seed, steps);
    driver.OnNextWindow([&] { soak.run(); });
    EXPECT_EQ(WinMain(&ProgramInstance, nullptr, const_cast<char *>(""), SW_SHOWDEFAULT), 0)
        << soak.replay();
    EXPECT_EQ(driver.StepsLeft(), 0);
    UsbRDSBoard = nullptr; // WinMain closed it
}

} // namespace
