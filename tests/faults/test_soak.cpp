// A seeded, bounded soak: the whole tool from WinMain, driven by random
// operator actions (edit any field with any text, OK, Cancel, Reset confirmed
// or declined) on a simulated board that now and then fails a request,
// answers short, or is unplugged (and later replaced by a board holding the
// same data).
//
// The invariant, checked after every action: no edit is lost. After an OK,
// each row whose control text differs from the text last loaded or written
// was either written (the board holds it, allowing for the display format
// and for the board's copy of an EEPROM PS name or RadioText into RAM) or is
// pending: named in the error box, its control still showing the typed text.
// Only changed rows are written. Cancel shows the texts last loaded or
// written, so a pending row shows its old text, not the one that failed. A
// pending row goes only when the operator confirms a reset, after which the
// dialog shows the board's texts afresh.
//
// QUORVEL_SOAK_STEPS (default 10000) and QUORVEL_SOAK_SEED (default: a new
// seed, printed) choose the run; a failure names the seed and the step.
#include "FaultMatrix.h"
#include "QtDriver.h"
#include "RdsUsbFields.h"
#include "RdsUsbMain.h"
#include "RdsUsbNumber.h"
#include "SimFixture.h"
#include "rds_usb.h"
#include "resource.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>

namespace {

using Texts = std::vector<std::string>;

constexpr const char *ErrorWriting = "Error writing Quorvel board !";
constexpr const char *ConfirmReset = "Reset EEPROM to default value ?";

unsigned long envNumber(const char *name, unsigned long fallback)
{
    const char *value = std::getenv(name);
    return value && *value ? std::strtoul(value, nullptr, 10) : fallback;
}

int rowOfRequest(const sim::Request &r)
{
    if (r.code == RDS_USB_WRITE_AF_E2P)
        return r.index < RDS_USB_AF_COUNT ? 16 + r.index : -1;
    for (int row = 0; row < RDS_USB_FIELD_COUNT; row++) {
        const int first = RdsUsbFields[row].IdRdsFunction;
        if (first != RDS_USB_WRITE_AF_E2P && r.code >= first &&
            r.code < first + faults::requestsOfRow(row))
            return row;
    }
    return -1;
}

// A text field as the board stores it once written: cut, then padded.
std::string stored(const std::string &text, size_t length, char pad)
{
    std::string s = text.substr(0, length);
    s.resize(length, pad);
    return s;
}

class Soak {
public:
    Soak(QtDriver &driver, sim::Testbed &testbed, unsigned long seed, unsigned long steps)
        : driver_(driver), testbed_(testbed), rng_(seed), seed_(seed), stepsLeft_(steps)
    {
        plugged_ = std::make_shared<sim::Board>();
        listen(plugged_);
        testbed_.addDevice({}, plugged_);
        boxTimer_.setInterval(2);
        QObject::connect(&boxTimer_, &QTimer::timeout, [this] { answerBox(); });
        boxTimer_.start();
    }
    ~Soak()
    {
        for (const auto &board : boards_)
            board->setListener(nullptr);
    }

    // The step for each showing of the dialog.
    void run()
    {
        dialogOpened();
        while (stepsLeft_ > 0 && !testing::Test::HasFailure()) {
            --stepsLeft_;
            ++step_;
            SCOPED_TRACE(replay());
            const int action = pick(100);
            if (action < 55)
                edit();
            else if (action < 82)
                ok();
            else if (action < 90)
                cancel();
            else if (action < 96)
                declineReset();
            else {
                confirmReset();
                return; // the dialog ends; the tool loads the board and shows it again
            }
        }
        driver_.Click(IDC_BUTTON_QUIT);
    }

    std::string replay() const
    {
        return "QUORVEL_SOAK_SEED=" + std::to_string(seed_) + " (step " + std::to_string(step_) + ")";
    }
    std::string summary() const
    {
        std::ostringstream s;
        s << step_ << " steps: " << oks_ << " OKs writing " << written_ << " rows (" << failedOks_
          << " with an error box naming " << pendingLeft_ << " rows), " << faultsFired_
          << " failed or short requests, " << resets_ << " resets (" << replugs_
          << " onto a new board)";
        return s.str();
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    void listen(const std::shared_ptr<sim::Board> &board)
    {
        boards_.push_back(board);
        board->setListener([this, b = board.get()](const sim::Request &r) {
            std::lock_guard lock(mutex_);
            ++requests_[b];
            recent_.push_back(r);
        });
    }

    std::vector<sim::Request> takeRecent()
    {
        std::lock_guard lock(mutex_);
        std::vector<sim::Request> r;
        r.swap(recent_);
        return r;
    }
    // The requests the active board has had: a fault's number counts them.
    int requests()
    {
        std::lock_guard lock(mutex_);
        return requests_[active_.get()];
    }

    void answerBox()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        if (!box->isActiveWindow()) {
            box->activateWindow();
            return;
        }
        const std::string text = driver_.MessageBox().text;
        boxes_.push_back(text);
        if (text == ConfirmReset && !confirm_)
            driver_.PressCancel();
        else
            driver_.PressOk();
    }

    void dialogOpened()
    {
        if (active_ != plugged_)
            active_ = plugged_; // a reload after a new board came
        accepted_.assign(RDS_USB_FIELD_COUNT, {});
        for (int row = 0; row < RDS_USB_FIELD_COUNT; row++) {
            accepted_[row] = driver_.Text(RdsUsbFields[row].IdEdit);
            EXPECT_EQ(accepted_[row], GetDataEdit()[row].OldString) << RdsUsbFields[row].Name;
        }
        control_ = accepted_;
    }

    // Clears faults that did not fire, then perhaps arms one within the next
    // requests: a failure, a short reply, or (when `unplug`) an unplug.
    void armFault(bool unplug)
    {
        if (active_->unplugged())
            return;
        active_->clearFaults();
        const int at = requests() + 1 + pick(12);
        const int kind = pick(100);
        if (kind < 30)
            active_->addFault({.kind = sim::Fault::Error, .at = at, .error = pick(2) ? EPIPE : ETIMEDOUT});
        else if (kind < 45)
            active_->addFault({.kind = sim::Fault::Short, .at = at, .bytes = pick(8)});
        else if (kind < 48 && unplug)
            active_->addFault({.kind = sim::Fault::Unplug, .at = at});
    }

    std::string randomText(int row)
    {
        const T_R_FieldDef &field = RdsUsbFields[row];
        std::string t;
        char buf[16];
        switch (pick(16)) {
        case 0:
            return "";
        case 1:
            return accepted_[row]; // back to the text last loaded or written
        case 2:
        case 3: // any bytes a keyboard gives, any length
            for (int n = pick(72); n > 0; n--) {
                const int c = 0x20 + pick(0xE0);
                t += static_cast<char>(c == 0x7F ? '~' : c);
            }
            return t;
        case 4: // a number in another form, or with something after it
            t = std::string(pick(3), ' ') + (pick(4) == 0 ? "-" : pick(3) == 0 ? "+" : "");
            t += std::to_string(pick(4) == 0 ? pick(1 << 30) : pick(300));
            if (pick(2))
                t += std::string(".5e 0x").substr(pick(6), 1 + pick(3));
            return t;
        }
        // A value as the field shows it.
        switch (field.IdRdsFunction) {
        case RDS_USB_WRITE_PS1_RAM:
        case RDS_USB_WRITE_PS1_E2P:
        case RDS_USB_WRITE_RT_RAM:
        case RDS_USB_WRITE_RT_E2P: {
            const bool ps = faults::requestsOfRow(row) == 2;
            for (int n = 1 + pick(ps ? 9 : 65); n > 0; n--)
                t += static_cast<char>(0x20 + pick(0x5F));
            return t;
        }
        case RDS_USB_WRITE_PI_E2P:
            snprintf(buf, sizeof buf, pick(2) ? "0x%04X" : "%04x", pick(0x10000));
            return buf;
        case RDS_USB_WRITE_AF_E2P: // 87.5 (refused) to 108.4, some out of the band
            snprintf(buf, sizeof buf, "%.1f", (875 + pick(210)) / 10.0);
            return buf;
        default:
            return std::to_string(pick(pick(2) ? 32 : 256));
        }
    }

    void edit()
    {
        const int row = pick(RDS_USB_FIELD_COUNT);
        const int id = RdsUsbFields[row].IdEdit;
        const std::string text = randomText(row);
        driver_.Type(id, text);
        if (text.empty())
            driver_.Press(QtDriver::Key::Backspace); // the selected text goes
        control_[row] = driver_.Text(id); // typing stops at the control's edge
    }

    // Whether the board holds the row's text as written.
    bool holds(int row, const std::set<int> &changed) const
    {
        const std::string &text = control_[row];
        const int code = RdsUsbFields[row].IdRdsFunction;
        const sim::RdsData ram = active_->ram();
        const sim::Eeprom eeprom = active_->eeprom();
        const bool isRam = code < RDS_USB_WRITE_PS1_E2P;
        const sim::RdsData &store = isRam ? ram : eeprom;
        int number = 0;
        unsigned hex = 0;
        float mhz = 0;
        switch (code) {
        case RDS_USB_WRITE_PS1_RAM:
        case RDS_USB_WRITE_PS1_E2P:
        case RDS_USB_WRITE_RT_RAM:
        case RDS_USB_WRITE_RT_E2P: {
            const bool ps = faults::requestsOfRow(row) == 2;
            const size_t length = ps ? RDS_USB_PS_LENGTH : RDS_USB_RT_LENGTH;
            const char pad = ps ? '\0' : '\r';
            const std::string want = stored(text, length, pad);
            const std::string have(reinterpret_cast<const char *>(ps ? store.ps : store.rt), length);
            // The EEPROM copy of the field, written later in the same OK,
            // also went into RAM, in part if its write failed on the way.
            const int eepromRow = ps ? 7 : 8;
            if (!isRam || !changed.count(eepromRow))
                return have == want;
            const std::string copy = stored(control_[eepromRow], length, pad);
            for (size_t i = 0; i < length; i += 4)
                if (have.compare(i, 4, want, i, 4) != 0 && have.compare(i, 4, copy, i, 4) != 0)
                    return false;
            return true;
        }
        case RDS_USB_WRITE_PI_E2P:
            return RdsUsbParseHex(text.c_str(), &hex) && eeprom.pi == (hex & 0xFFFF);
        case RDS_USB_WRITE_AF_E2P: {
            if (!RdsUsbParseFloat(text.c_str(), &mhz))
                return false;
            const double tenths = std::floor(static_cast<double>(mhz * 10) + 0.5);
            return tenths > 875 && tenths <= 1079 &&
                   eeprom.af[row - 16] == static_cast<int>(tenths) - 875;
        }
        }
        if (!RdsUsbParseDecimal(text.c_str(), &number))
            return false;
        const uint8_t byte = static_cast<uint8_t>(number & 0xFF);
        switch (code) {
        case RDS_USB_WRITE_NAF_E2P: return eeprom.naf == byte;
        case RDS_USB_WRITE_2A_E2P: return eeprom.group2a == byte;
        case RDS_USB_WRITE_ST_E2P: return eeprom.stereo == byte;
        }
        const uint8_t small[] = {store.pty, store.tp, store.ta, store.ms, store.di};
        return small[(code & 0x3F) - RDS_USB_WRITE_PTY_RAM] == byte;
    }

    void ok()
    {
        armFault(true);
        takeRecent();
        boxes_.clear();
        stdoutOf([&] { driver_.Click(IDC_BUTTON_OK); });
        const std::vector<sim::Request> sent = takeRecent();
        ++oks_;

        std::set<int> changed;
        for (int row = 0; row < RDS_USB_FIELD_COUNT; row++)
            if (control_[row] != accepted_[row])
                changed.insert(row);
        for (const sim::Request &r : sent) {
            EXPECT_TRUE(changed.count(rowOfRequest(r)))
                << "a request for an unchanged row: 0x" << std::hex << int(r.code);
            faultsFired_ += r.result < RDS_USB_REPLY_SIZE;
        }

        // The rows the error box names.
        ASSERT_LE(boxes_.size(), 1u) << "one message box at most";
        std::set<int> pending;
        if (!boxes_.empty()) {
            std::istringstream lines(boxes_[0]);
            std::string line;
            std::getline(lines, line);
            EXPECT_EQ(line, ErrorWriting);
            while (std::getline(lines, line)) {
                int row = 0;
                while (row < RDS_USB_FIELD_COUNT && line != RdsUsbFields[row].Label)
                    row++;
                EXPECT_TRUE(changed.count(row)) << "named but unchanged: " << line;
                pending.insert(row);
            }
            EXPECT_FALSE(pending.empty()) << "an error box that names no row";
            ++failedOks_;
        }
        for (int row : changed) {
            if (pending.count(row)) {
                EXPECT_EQ(driver_.Text(RdsUsbFields[row].IdEdit), control_[row])
                    << "the typed text of a pending row is gone: " << RdsUsbFields[row].Name;
                ++pendingLeft_;
            } else {
                EXPECT_TRUE(holds(row, changed))
                    << "lost edit: " << RdsUsbFields[row].Name << " \"" << control_[row]
                    << "\" neither written nor named as pending";
                accepted_[row] = control_[row];
                ++written_;
            }
        }
    }

    void cancel()
    {
        driver_.Click(IDC_BUTTON_CANCEL);
        control_ = accepted_;
        for (int row = 0; row < RDS_USB_FIELD_COUNT; row++)
            EXPECT_EQ(driver_.Text(RdsUsbFields[row].IdEdit), accepted_[row])
                << "Cancel shows " << RdsUsbFields[row].Name << " as neither loaded nor written";
    }

    void declineReset()
    {
        takeRecent();
        boxes_.clear();
        confirm_ = false;
        driver_.Click(IDC_BUTTON_RESET);
        EXPECT_EQ(boxes_, Texts{ConfirmReset});
        EXPECT_TRUE(takeRecent().empty());
        for (int row = 0; row < RDS_USB_FIELD_COUNT; row++)
            EXPECT_EQ(driver_.Text(RdsUsbFields[row].IdEdit), control_[row]);
    }

    // Ends the dialog; the next step runs on the dialog the reload shows.
    void confirmReset()
    {
        if (active_->unplugged()) { // plug in a board holding what the old one held
            auto board = std::make_shared<sim::Board>();
            board->setRam(active_->ram());
            board->setEeprom(active_->eeprom());
            listen(board);
            testbed_.addDevice({}, board);
            plugged_ = board;
            ++replugs_;
        } else {
            armFault(false);
        }
        takeRecent();
        boxes_.clear();
        confirm_ = true;
        stdoutOf([&] { driver_.Click(IDC_BUTTON_RESET); });
        driver_.OnNextWindow([this] { run(); });
        ++resets_;
        const std::vector<sim::Request> sent = takeRecent();
        EXPECT_EQ(sent.size(), 1u);
        if (sent.empty())
            return;
        EXPECT_EQ(sent[0].code, RDS_USB_RESET_E2P);
        EXPECT_EQ(boxes_, (Texts{ConfirmReset, sent[0].result < 0 ? ErrorWriting
                                                                  : "EEPROM RDS reinitialised"}));
    }

    QtDriver &driver_;
    sim::Testbed &testbed_;
    std::mt19937 rng_;
    const unsigned long seed_;
    unsigned long stepsLeft_;
    unsigned long step_ = 0;

    std::vector<std::shared_ptr<sim::Board>> boards_;
    std::shared_ptr<sim::Board> plugged_; // the board on the bus
    std::shared_ptr<sim::Board> active_;  // the board the tool has open
    std::mutex mutex_;
    std::map<const sim::Board *, int> requests_;
    std::vector<sim::Request> recent_;

    Texts accepted_; // the texts last loaded or written
    Texts control_;  // the texts in the controls
    QTimer boxTimer_;
    Texts boxes_;
    bool confirm_ = false;

    int oks_ = 0, failedOks_ = 0, written_ = 0, pendingLeft_ = 0, faultsFired_ = 0, resets_ = 0,
        replugs_ = 0;
};

TEST(Soak, RandomOperatorActionsLoseNoEdit)
{
    const unsigned long seed = envNumber("QUORVEL_SOAK_SEED", std::random_device{}());
    const unsigned long steps = envNumber("QUORVEL_SOAK_STEPS", 10000);
    std::printf("soak: %lu steps, QUORVEL_SOAK_SEED=%lu\n", steps, seed);
    RecordProperty("seed", std::to_string(seed));

    sim::Testbed testbed;
    QtDriver driver(std::chrono::minutes(10));
    Soak soak(driver, testbed, seed, steps);
    driver.OnNextWindow([&] { soak.run(); });
    EXPECT_EQ(WinMain(&ProgramInstance, nullptr, const_cast<char *>(""), SW_SHOWDEFAULT), 0)
        << soak.replay();
    EXPECT_EQ(driver.StepsLeft(), 0);
    std::printf("soak: %s\n", soak.summary().c_str());
    UsbRDSBoard = nullptr; // WinMain closed it
}

} // namespace
