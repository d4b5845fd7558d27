// Figures for the README, not a test: how long the tool takes when the board
// stops answering and every request runs into the board's 1000 ms time-out.
// Run by bench/measure-timeouts.
#include "QtDriver.h"
#include "RdsUsbFields.h"
#include "RdsUsbMain.h"
#include "SimFixture.h"
#include "resource.h"

#include <chrono>
#include <cstdio>

namespace {

// OK in the dialog with the first `rows` fields changed; the error box is
// answered at once.
void Ok(int rows)
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

// Each case on a board silent from request `from` on (0: after a load), with
// its time and the requests the board received, failed ones included.
TEST(HungBoard, LoadsAndOks)
{
    const struct {
        const char *what;
        int from, rows; // rows: changed before OK; 0 for a load
    } cases[] = {{"load, the board silent from its first request", 1, 0},
                 {"load, the board silent from AF00 on", 49, 0},
                 {"OK, 1 field changed (the RAM PS name)", 0, 1},
                 {"OK, all 43 fields changed", 0, RDS_USB_FIELD_COUNT}};
    for (const auto &c : cases) {
        sim::Testbed testbed;
        auto board = testbed.board(testbed.addDevice());
        int from = c.from;
        if (!from) {
            ASSERT_EQ(InitDataEdit(), 0);
            from = static_cast<int>(board->log().size()) + 1;
        }
        board->addFault({.kind = sim::Fault::Hang, .at = from, .delayMs = 1000});
        const auto start = std::chrono::steady_clock::now();
        stdoutOf([&] { c.rows ? Ok(c.rows) : void(InitDataEdit()); });
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        std::printf("| %s | %.1f s | %zu |\n", c.what, seconds.count(),
                    board->log().size() - (from - 1));
        std::fflush(stdout);
        usbCloseDevice(UsbRDSBoard);
        UsbRDSBoard = nullptr;
    }
}

} // namespace
