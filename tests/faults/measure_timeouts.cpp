// Figures for the README, not a test: how long the tool takes when the board
// stops answering and every request runs into the board's 1000 ms time-out.
// Run by tests/faults/measure-timeouts.
#include "QtDriver.h"
#include "RdsUsbFields.h"
#include "RdsUsbMain.h"
#include "SimFixture.h"
#include "resource.h"

#include <chrono>
#include <cstdio>

namespace {

class HungBoard : public SimBoardTest {
protected:
    void TearDown() override
    {
        usbCloseDevice(UsbRDSBoard);
        UsbRDSBoard = nullptr;
    }
    // Hangs the board from request `from` on (0: after a load), runs
    // `action` and reports its time and the requests the board received.
    void measure(const char *what, int from, const std::function<void()> &action)
    {
        if (!from) {
            ASSERT_EQ(InitDataEdit(), 0);
            from = static_cast<int>(log().size()) + 1;
        }
        board->addFault({.kind = sim::Fault::Hang, .at = from, .delayMs = 1000});
        const auto start = std::chrono::steady_clock::now();
        stdoutOf(action);
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        std::printf("| %s | %.1f s | %zu |\n", what, seconds.count(), log().size() - (from - 1));
        std::fflush(stdout);
    }
    // OK in the dialog with the first `rows` fields changed; the error box
    // is answered at once.
    static void ok(int rows)
    {
        QtDriver driver(std::chrono::minutes(5));
        driver.OnNextWindow([&] {
            for (int row = 0; row < rows; row++)
                driver.Type(RdsUsbFields[row].IdEdit, row >= 16 && row <= 40 ? "98.5" : "7");
            driver.OnNextWindow([&] { driver.PressOk(); });
            driver.Click(IDC_BUTTON_OK);
            driver.Click(IDC_BUTTON_QUIT);
        });
        DialogBoxParamA(&ProgramInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDlg, 0);
    }
};

TEST_F(HungBoard, LoadFromTheFirstRequest)
{
    measure("load, the board silent from its first request", 1, [] { InitDataEdit(); });
}

TEST_F(HungBoard, LoadFromTheAFs)
{
    measure("load, the board silent from AF00 on", 49, [] { InitDataEdit(); });
}

TEST_F(HungBoard, OkWithOneFieldChanged)
{
    measure("OK, 1 field changed (the RAM PS name)", 0, [] { ok(1); });
}

TEST_F(HungBoard, OkWithEveryFieldChanged)
{
    measure("OK, all 43 fields changed", 0, [] { ok(RDS_USB_FIELD_COUNT); });
}

} // namespace
