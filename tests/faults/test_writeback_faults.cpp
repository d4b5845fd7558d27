// OK in the real dialog, with every field changed, on a board that fails one
// of the write-back's 75 requests, for each of them and each kind of fault. A
// one-off failure leaves exactly its row pending and the later rows written;
// an unplug leaves its row and every later one pending; a short reply is no
// failure. The operator is told which rows are pending, the controls keep the
// typed texts, and the next OK once the fault is gone writes exactly the
// pending rows.
#include "FaultMatrix.h"
#include "QtDriver.h"
#include "RdsUsbFields.h"
#include "RdsUsbMain.h"
#include "SimFixture.h"
#include "resource.h"

#include <cstdio>

namespace {

using faults::Kind;
using Requests = std::vector<sim::Request>;
using Texts = std::vector<std::string>;

// Two sets of texts for the 43 rows, differing from each other and from the
// board's defaults in every row, each short enough to type into its control.
Texts textSet(bool second)
{
    const char *const s = second ? "B" : "A";
    const int d = second ? 1 : 0;
    Texts t = {std::string("RAM-") + s, std::string("ram text ") + s};
    for (int v : {3 + d, d, 1 - d, d, 5 + d})
        t.push_back(std::to_string(v));
    t.push_back(std::string("EEP-") + s);
    t.push_back(std::string("eeprom text ") + s);
    for (int v : {13 + d, d, 1 - d, d, 7 + d})
        t.push_back(std::to_string(v));
    t.push_back(second ? "0xB2B2" : "0xA1A1");
    t.push_back(std::to_string(6 + d));
    for (int n = 0; n < 25; n++) {
        char af[8];
        snprintf(af, sizeof af, "%.1f", (second ? 90.0 : 88.0) + n / 10.0);
        t.push_back(af);
    }
    t.push_back(std::to_string(2 + d));
    t.push_back(std::to_string(d));
    return t;
}

class WriteBackFaults : public SimBoardTest, public testing::WithParamInterface<Kind> {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        ASSERT_EQ(InitDataEdit(), 0);
    }
    void TearDown() override
    {
        usbCloseDevice(UsbRDSBoard);
        UsbRDSBoard = nullptr;
    }

    void typeAll(const Texts &texts)
    {
        for (int row = 0; row < RDS_USB_FIELD_COUNT; row++)
            driver.Type(RdsUsbFields[row].IdEdit, texts[row]);
    }
    void expectControls(const Texts &texts)
    {
        for (int row = 0; row < RDS_USB_FIELD_COUNT; row++)
            EXPECT_EQ(driver.Text(RdsUsbFields[row].IdEdit), texts[row]) << RdsUsbFields[row].Name;
    }
    // Clicks OK; returns the requests it sent and what the message box, if
    // one is expected, says.
    Requests ok(bool box, std::string *boxText = nullptr)
    {
        if (box)
            driver.OnNextWindow([this, boxText] {
                *boxText = driver.MessageBox().text;
                driver.PressOk();
            });
        const size_t before = board->log().size();
        stdoutOf([&] { driver.Click(IDC_BUTTON_OK); });
        EXPECT_EQ(driver.StepsLeft(), 0) << "no message box";
        const Requests log = board->log();
        return Requests(log.begin() + before, log.end());
    }
    // The requests of a fault-free OK, row by row.
    static std::vector<Requests> byRow(const Requests &sent)
    {
        std::vector<Requests> rows;
        auto it = sent.begin();
        for (int row = 0; row < RDS_USB_FIELD_COUNT; row++) {
            const int n = faults::requestsOfRow(row);
            if (sent.end() - it < n)
                break;
            rows.emplace_back(it, it + n);
            it += n;
        }
        return rows;
    }

    QtDriver driver{std::chrono::seconds(60)};
};

TEST_P(WriteBackFaults, EachRequestOfAnOkFailingInTurn)
{
    const Kind kind = GetParam();
    const Texts sets[2] = {textSet(false), textSet(true)};
    driver.OnNextWindow([&] {
        // Fault-free OKs of both sets: the requests of each row.
        std::vector<Requests> written[2];
        for (int s = 0; s < 2; s++) {
            typeAll(sets[s]);
            written[s] = byRow(ok(false));
            EXPECT_EQ(written[s].size(), 43u) << "a fault-free OK writes every row";
        }
        if (HasFailure()) {
            driver.Click(IDC_BUTTON_QUIT);
            return;
        }

        for (int failing = 1; failing <= 75; failing++) {
            SCOPED_TRACE("request " + std::to_string(failing) + " of the OK");
            const int s = failing % 2 == 1 ? 0 : 1; // the other set than the board holds
            typeAll(sets[s]);
            const int done = static_cast<int>(board->log().size());
            board->addFault(faults::faultAt(kind, done + failing));

            // What the board receives, and which rows stay pending.
            Requests expected;
            std::vector<int> pending;
            int sent = 0;
            bool gone = false;
            for (int row = 0; row < RDS_USB_FIELD_COUNT; row++) {
                for (sim::Request r : written[s][row]) {
                    if (gone) {
                        r.result = -ENODEV;
                    } else if (++sent == failing) {
                        r.result = faults::faultResult(kind, done + failing);
                        gone = kind == Kind::Unplug;
                    }
                    expected.push_back(r);
                    if (r.result < 0) { // the rest of the field is not sent
                        pending.push_back(row);
                        break;
                    }
                }
            }
            std::string shown;
            EXPECT_EQ(ok(!pending.empty(), &shown), expected);
            std::string names = pending.empty() ? "" : "Error writing Quorvel board !";
            for (int row : pending)
                names += std::string("\n") + RdsUsbFields[row].Label;
            EXPECT_EQ(shown, names);
            expectControls(sets[s]);

            // The fault gone, OK writes the pending rows and nothing else.
            board->clearFaults();
            Requests retried;
            for (int row : pending)
                retried.insert(retried.end(), written[s][row].begin(), written[s][row].end());
            EXPECT_EQ(ok(false), retried);
            // Every row now holds its text as last written.
            driver.Click(IDC_BUTTON_CANCEL);
            expectControls(sets[s]);
            if (HasFailure())
                break;
        }
        driver.Click(IDC_BUTTON_QUIT);
    });
    EXPECT_EQ(DialogBoxParamA(&ProgramInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDlg, 0),
              RDS_USB_DIALOG_QUIT);
}

INSTANTIATE_TEST_SUITE_P(, WriteBackFaults,
                         testing::Values(Kind::Stall, Kind::Timeout, Kind::Short, Kind::Unplug),
                         [](const testing::TestParamInfo<Kind> &info) {
                             return faults::kindName(info.param);
                         });

} // namespace
