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

using Clock = std::chrono::steady_clock;

double secondsOf(const std::function<void()> &action)
{
    const Clock::time_point start = Clock::now();
    stdoutOf(action);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class HungBoard : public SimBoardTest {
protected:
    void TearDown() override
    {
        usbCloseDevice(UsbRDSBoard);
        UsbRDSBoard = nullptr;
    }
    void hangFrom(int request) // counted from the board's first request
    {
        board->addFault({.kind = sim::Fault::Hang, .at = request, .delayMs = 1000});
    }
    int requestsSoFar() const { return static_cast<int>(board->log().size()); }
    // requests: those the board received, failed ones included.
    static void report(const char *what, double seconds, size_t requests)
    {
        std::printf("| %s | %.1f s | %zu |\n", what, seconds, requests);
        std::fflush(stdout);
    }
    // An OK in the dialog with `rows` fields changed; the error box is
    // answered at once.
    double ok(int rows)
    {
        QtDriver driver(std::chrono::minutes(5));
        double seconds = 0;
        driver.OnNextWindow([&] {
            for (int row = 0; row < rows; row++)
                driver.Type(RdsUsbFields[row].IdEdit, row >= 16 && row <= 40 ? "98.5" : "7");
            driver.OnNextWindow([&] { driver.PressOk(); });
            seconds = secondsOf([&] { driver.Click(IDC_BUTTON_OK); });
            driver.Click(IDC_BUTTON_QUIT);
        });
        DialogBoxParamA(&ProgramInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDlg, 0);
        return seconds;
    }
};

TEST_F(HungBoard, LoadFromTheFirstRequest)
{
    hangFrom(1);
    const double seconds = secondsOf([] { InitDataEdit(); });
    report("load, the board silent from its first request", seconds, board->log().size());
}

TEST_F(HungBoard, LoadFromTheAFs)
{
    hangFrom(49); // AF00
    const double seconds = secondsOf([] { InitDataEdit(); });
    report("load, the board silent from AF00 on", seconds, board->log().size());
}

TEST_F(HungBoard, OkWithOneFieldChanged)
{
    ASSERT_EQ(InitDataEdit(), 0);
    hangFrom(requestsSoFar() + 1);
    const int before = requestsSoFar();
    const double seconds = ok(1);
    report("OK, 1 field changed (the RAM PS name)", seconds, board->log().size() - before);
}

TEST_F(HungBoard, OkWithEveryFieldChanged)
{
    ASSERT_EQ(InitDataEdit(), 0);
    hangFrom(requestsSoFar() + 1);
    const int before = requestsSoFar();
    const double seconds = ok(RDS_USB_FIELD_COUNT);
    report("OK, all 43 fields changed", seconds, board->log().size() - before);
}

} // namespace
