// Requests per operator action, counted in the simulated board's request log
// while the whole program (WinMain) runs and the QtDriver works its dialog
// with real clicks and keys; the real libusb, umockdev in this process (run
// with LD_PRELOAD=libumockdev-preload.so.0). Each count is a property of the
// test, in the report of --gtest_output=json:FILE.
#include "QtDriver.h"
#include "RdsUsbFields.h"
#include "RdsUsbMain.h"
#include "SimTestbed.h"
#include "rds_usb.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// A short text the board accepts for the field, other than `shown`.
std::string OtherText(const T_R_FieldDef &field, const std::string &shown)
{
    const char *first = "1", *second = "0"; // TP, TA, MS, DI, stereo setting
    char af[2][16];
    switch (field.IdRdsFunction) {
    case RDS_USB_WRITE_PS1_RAM:
    case RDS_USB_WRITE_PS1_E2P:
        first = "BENCH";
        second = "MARK";
        break;
    case RDS_USB_WRITE_RT_RAM:
    case RDS_USB_WRITE_RT_E2P:
        first = "Bench text";
        second = "Other text";
        break;
    case RDS_USB_WRITE_PTY_RAM:
    case RDS_USB_WRITE_PTY_E2P:
        first = "7";
        second = "8";
        break;
    case RDS_USB_WRITE_PI_E2P:
        first = "0x1234";
        second = "0x4321";
        break;
    case RDS_USB_WRITE_NAF_E2P:
        first = "3";
        second = "4";
        break;
    case RDS_USB_WRITE_AF_E2P: {
        const int tenths = 880 + field.ReadArg; // 88.0 and 100.0 MHz up
        snprintf(af[0], sizeof(af[0]), "%d.%d", tenths / 10, tenths % 10);
        snprintf(af[1], sizeof(af[1]), "%d.%d", tenths / 10 + 12, tenths % 10);
        first = af[0];
        second = af[1];
        break;
    }
    case RDS_USB_WRITE_2A_E2P:
        first = "5";
        second = "6";
        break;
    default: break;
    }
    return std::string(shown != first ? first : second);
}

int Count(const std::vector<sim::Request> &log, bool (*which)(const sim::Request &))
{
    int n = 0;
    for (const sim::Request &r : log)
        n += which(r) ? 1 : 0;
    return n;
}

TEST(RequestsPerAction, ThroughTheProgramsDialog)
{
    const char *preload = getenv("LD_PRELOAD");
    ASSERT_TRUE(preload && strstr(preload, "libumockdev-preload.so"))
        << "run with LD_PRELOAD=libumockdev-preload.so.0";
    sim::Testbed testbed;
    std::shared_ptr<sim::Board> board = testbed.board(testbed.addDevice());
    QtDriver driver;

    // The requests since the last count, all answered in full.
    auto record = [&](const char *action) {
        const std::vector<sim::Request> log = board->log();
        EXPECT_EQ(Count(log, [](const sim::Request &r) { return r.result != 8; }), 0) << action;
        RecordProperty(action, static_cast<int>(log.size()));
        board->clearLog();
        return log;
    };
    auto ok = [&](const char *action) {
        driver.Click(IDC_BUTTON_OK);
        record(action);
    };
    auto edit = [&](const char *name) {
        const T_R_FieldDef &field = *RdsUsbFindField(name);
        driver.Type(field.IdEdit, OtherText(field, driver.Text(field.IdEdit)));
    };

    driver.OnNextWindow([&] {
        record("load");
        ok("ok_unchanged");
        edit("ram.ps");
        ok("ps_name");
        edit("ram.rt");
        ok("radiotext");
        edit("eeprom.af07");
        ok("af");
        for (const T_R_FieldDef &field : RdsUsbFields)
            edit(field.Name);
        ok("ok_all_fields");

        driver.OnNextWindow([&] { driver.PressOk(); }); // Reset EEPROM to default value ?
        driver.OnNextWindow([&] { driver.PressOk(); }); // EEPROM RDS reinitialised
        driver.OnNextWindow([&] {
            const std::vector<sim::Request> log = record("reset_and_reload");
            RecordProperty("reset", Count(log, [](const sim::Request &r) {
                               return r.code == RDS_USB_RESET_E2P;
                           }));
            RecordProperty("reload",
                           Count(log, [](const sim::Request &r) { return r.code >= 0x80; }));
            driver.Click(IDC_BUTTON_QUIT);
        });
        driver.Click(IDC_BUTTON_RESET);
    });
    EXPECT_EQ(WinMain(&ProgramInstance, nullptr, const_cast<char *>(""), SW_SHOWDEFAULT), 0);
    EXPECT_EQ(driver.StepsLeft(), 0);
}

} // namespace
