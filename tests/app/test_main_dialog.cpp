// The main dialog on a simulated board through the real libusb, driven as an
// operator would: what the board receives and what the operator sees.
#include "ProgramSpy.h"
#include "QtDriver.h"
#include "RdsUsbFields.h"
#include "RdsUsbMain.h"
#include "SimFixture.h"
#include "resource.h"

namespace {

using Requests = std::vector<sim::Request>;

class MainDialog : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        sim::Eeprom eeprom = board->eeprom();
        eeprom.af[7] = 105; // 98.0 MHz, shown as " 98.0"
        board->setEeprom(eeprom);
        load();
        spy::reset();
    }
    void TearDown() override
    {
        usbCloseDevice(UsbRDSBoard);
        UsbRDSBoard = nullptr;
    }
    void load()
    {
        usbCloseDevice(UsbRDSBoard);
        stdoutOf([] { ASSERT_EQ(InitDataEdit(), 0); });
        board->clearLog();
    }
    // Runs the dialog with `actions` on it, then Quit.
    void withDialog(const std::function<void()> &actions)
    {
        driver.OnNextWindow([&] {
            actions();
            driver.Click(IDC_BUTTON_QUIT);
        });
        EXPECT_EQ(DialogBoxParamA(&ProgramInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDlg, 0),
                  RDS_USB_DIALOG_QUIT);
    }
    static std::string loaded(const char *name)
    {
        return GetDataEdit()[RdsUsbFindField(name) - RdsUsbFields].OldString;
    }
    static int control(const char *name) { return RdsUsbFindField(name)->IdEdit; }
    // Queues a press of OK on the next message box.
    void answerOk()
    {
        driver.OnNextWindow([this] { driver.PressOk(); });
    }

    QtDriver driver;
};

// The dialog opens with the board's texts and the focus on the RAM PS name;
// Help shows the help text, its lines ending in CR LF, in a box of its own;
// Enter and Escape in an edit do nothing, typing stops at its edge; OK writes
// what changed, once, and the control keeps it; Cancel restores the texts
// last loaded or written.
TEST_F(MainDialog, OkWritesWhatChangedOnceAndCancelRestoresTheTextsLastWritten)
{
    const std::string ps = loaded("ram.ps");
    QWidget *dialog = nullptr;
    withDialog([&] {
        for (const T_R_FieldDef &field : RdsUsbFields)
            EXPECT_EQ(driver.Text(field.IdEdit), loaded(field.Name)) << field.Name;
        EXPECT_EQ(driver.FocusedId(), 1003);
        EXPECT_EQ(driver.Caption(), "Quorvel");
        driver.Press(QtDriver::Key::Enter);
        driver.Press(QtDriver::Key::Escape);
        EXPECT_EQ(driver.Caption(), "Quorvel");
        dialog = driver.Window();
        answerOk();
        driver.Click(IDC_BUTTON_HELP);
        driver.Click(IDC_BUTTON_OK);
        EXPECT_TRUE(log().empty());
        driver.Type(1003, std::string(40, 'W'));
        EXPECT_GT(driver.Text(1003).size(), 0u);
        EXPECT_LT(driver.Text(1003).size(), 40u);
        driver.Click(IDC_BUTTON_CANCEL);
        EXPECT_EQ(driver.Text(1003), ps);
        driver.Type(1003, "TEST");
        driver.Click(IDC_BUTTON_OK);
        driver.Click(IDC_BUTTON_OK);
        EXPECT_EQ(driver.Text(1003), "TEST");
        driver.Type(1003, "TYPED");
        driver.Click(IDC_BUTTON_CANCEL);
        EXPECT_EQ(driver.Text(1003), "TEST");
    });
    EXPECT_EQ(log(), (Requests{ok(0x21, 0x5445, 0x5354), ok(0x22, 0, 0)}));
    ASSERT_EQ(spy::boxes.size(), 1u); // the help, no other
    EXPECT_EQ(spy::boxes[0].owner, dialog);
    EXPECT_EQ(spy::boxes[0].caption, "Quorvel  version 1.2 ");
    EXPECT_EQ(spy::boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
    const std::string in19(19, ' '), in20(20, ' ');
    EXPECT_EQ(spy::boxes[0].text,
              "Quorvel V1.2 08/2007 \r\nhttp://www.quorvel.example\r\n" + in20 +
                  "RAM section is current RDS data\r\n" + in20 +
                  "EEPROM section correspond to default value for power on\r\n" + in19 +
                  "mono/stereo : select clock used internal/external\r\n" + in19 +
                  "2A Group: select radiotext usage : 0=no radiotext / N:2A group send every N "
                  "0A groups \r\n" + in19 +
                  "Note:EEPROM PSNAME and radiotext change automatically RAM associate data \r\n" +
                  in19 + "PI= Program Identification code\r\n" + in19 +
                  "PSNAME = Program Service Name\r\n" + in19 + "PTY = Program type\r\n" + in19 +
                  "MS = Music/speech\r\n" + in19 + "DI = Decoder Information\r\n" + in19 +
                  "TP = Traffic Possible \r\n" + in19 + "TA = Traffic Announcement \r\n" + in19 +
                  "AF = Alternate Frequency");
}

// A field whose read failed shows empty, is not written while empty, and is
// written once given a text; a text counts as changed when it differs as
// text (a PTY with a leading zero, an AF without its decimal point, AF07 with
// its own index), not when set back.
TEST_F(MainDialog, AnEmptyFieldIsWrittenOnceGivenATextAndTextsCountAsChangedAsText)
{
    board->addFault({.kind = sim::Fault::Error, .code = 0xE8, .error = 32});
    load();
    board->clearFaults();
    const std::string pty = loaded("ram.pty");
    ASSERT_EQ(loaded("eeprom.af07"), " 98.0");
    withDialog([&] {
        EXPECT_EQ(driver.Text(control("eeprom.pi")), "");
        driver.Click(IDC_BUTTON_OK);
        EXPECT_TRUE(log().empty());
        driver.Type(control("eeprom.pi"), "C0DE");
        driver.Type(control("ram.pty"), "0" + pty);
        driver.Type(control("eeprom.af07"), "98"); // control 1051, AF number 7
        driver.Type(control("eeprom.pty"), "31");
        driver.Type(control("eeprom.pty"), loaded("eeprom.pty"));
        driver.Click(IDC_BUTTON_OK);
        driver.Click(IDC_BUTTON_OK);
    });
    EXPECT_EQ(log(), (Requests{ok(0x23, std::stoi(pty)), ok(0x68, 0xC0DE), ok(0x6A, 105, 7)}));
}

// A failed or refused write stays pending and is named in one box, the rest
// is written; the typed texts stay, and Cancel shows the pending rows' old ones.
TEST_F(MainDialog, AFailedWriteStaysPendingAndIsNamedTheRestIsWritten)
{
    board->addFault({.kind = sim::Fault::Error, .code = 0x23, .error = 32});
    const std::string pty = loaded("ram.pty"), af07 = loaded("eeprom.af07");
    withDialog([&] {
        driver.Type(control("ram.ps"), "FIRST");
        driver.Type(control("ram.pty"), "7");
        driver.Type(control("eeprom.af07"), "200"); // refused: out of the band
        driver.Type(control("eeprom.stereo"), "0");
        answerOk();
        const std::string out = stdoutOf([&] { driver.Click(IDC_BUTTON_OK); });
        EXPECT_EQ(out, "Error RdsUsbWritePTY 35 sendUSBVendorCmd -32"
                       "Error RdsUsbWriteAFE2p invalid freq");
        EXPECT_EQ(log(), (Requests{ok(0x21, 0x4649, 0x5253), ok(0x22, 0x5400, 0),
                                   {0x23, 7, 0, -32}, ok(0x03, 0, 0)}));
        EXPECT_EQ(driver.Text(control("ram.pty")), "7"); // the typed texts stay
        EXPECT_EQ(driver.Text(control("eeprom.af07")), "200");
        driver.Click(IDC_BUTTON_CANCEL);
        EXPECT_EQ(driver.Text(control("ram.pty")), pty);
        EXPECT_EQ(driver.Text(control("eeprom.af07")), af07);
        EXPECT_EQ(driver.Text(control("ram.ps")), "FIRST");
    });
    ASSERT_EQ(spy::boxes.size(), 1u);
    EXPECT_EQ(spy::boxes[0].text, "Error writing Quorvel board !\r\nRAM PTY\r\nAF07");
    EXPECT_EQ(spy::boxes[0].caption, "Quorvel");
    EXPECT_EQ(spy::boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
}

} // namespace
