// The main dialog on a simulated board through the real libusb, driven as an
// operator would: what the board receives and what the operator sees.
#include "QtDriver.h"
#include "RdsUsbFields.h"
#include "RdsUsbMain.h"
#include "SimFixture.h"
#include "resource.h"

#include <cstring>

namespace {

using Requests = std::vector<sim::Request>;

class MainDialog : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        ASSERT_EQ(InitDataEdit(), 0);
        board->clearLog();
    }
    void TearDown() override
    {
        usbCloseDevice(UsbRDSBoard);
        UsbRDSBoard = nullptr;
    }
    INT_PTR run()
    {
        return DialogBoxParamA(&ProgramInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDlg, 0);
    }
    // Runs the dialog with `actions` on it, then Quit.
    void withDialog(const std::function<void()> &actions)
    {
        driver.OnNextWindow([&] {
            actions();
            driver.Click(IDC_BUTTON_QUIT);
        });
        EXPECT_EQ(run(), RDS_USB_DIALOG_QUIT);
    }
    static std::string loaded(const char *name)
    {
        const T_R_FieldDef *field = RdsUsbFindField(name);
        return GetDataEdit()[field - RdsUsbFields].OldString;
    }
    static int control(const char *name) { return RdsUsbFindField(name)->IdEdit; }

    QtDriver driver;
};

TEST_F(MainDialog, OpensWithTheBoardsTextsAndTheFocusOnTheRamPSName)
{
    withDialog([&] {
        for (const T_R_FieldDef &field : RdsUsbFields)
            EXPECT_EQ(driver.Text(field.IdEdit), loaded(field.Name)) << field.Name;
        EXPECT_EQ(driver.FocusedId(), 1003);
        EXPECT_EQ(driver.Caption(), "Quorvel");
    });
    EXPECT_TRUE(log().empty());
}

TEST_F(MainDialog, OkWritesOnlyWhatChangedAndOnlyOnce)
{
    withDialog([&] {
        driver.Click(IDC_BUTTON_OK);
        EXPECT_TRUE(log().empty());
        driver.Type(1003, "TEST");
        driver.Click(IDC_BUTTON_OK);
        driver.Click(IDC_BUTTON_OK);
        EXPECT_EQ(driver.Text(1003), "TEST"); // the control keeps what was typed
    });
    EXPECT_EQ(log(), (Requests{ok(0x21, 0x5445, 0x5354), ok(0x22, 0, 0)}));
}

TEST_F(MainDialog, ATextSetBackToItsLoadedFormIsNotWritten)
{
    const std::string pty = loaded("ram.pty");
    withDialog([&] {
        driver.Type(control("ram.pty"), "0" + pty); // the same number, another text
        driver.Type(control("eeprom.pty"), "31");
        driver.Type(control("eeprom.pty"), loaded("eeprom.pty"));
        driver.Click(IDC_BUTTON_OK);
    });
    EXPECT_EQ(log(), (Requests{ok(0x23, std::stoi(pty), 0)}));
}

TEST_F(MainDialog, AnAFIsWrittenWithItsNumber)
{
    withDialog([&] {
        driver.Type(1051, "98.5"); // AF07
        driver.Click(IDC_BUTTON_OK);
    });
    EXPECT_EQ(log(), (Requests{ok(0x6A, 110, 7)}));
}

TEST_F(MainDialog, CancelRestoresTheTextsLastLoadedOrWritten)
{
    const std::string ps = loaded("ram.ps");
    withDialog([&] {
        driver.Type(1003, "EDITED");
        driver.Click(IDC_BUTTON_CANCEL);
        EXPECT_EQ(driver.Text(1003), ps);
        driver.Type(1003, "SENT");
        driver.Click(IDC_BUTTON_OK);
        driver.Type(1003, "TYPED");
        driver.Click(IDC_BUTTON_CANCEL);
        EXPECT_EQ(driver.Text(1003), "SENT");
    });
    EXPECT_EQ(log().size(), 2u); // only the OK
}

TEST_F(MainDialog, EnterAndEscapeInAnEditDoNothing)
{
    withDialog([&] {
        driver.Type(1003, "TYPED");
        driver.Press(QtDriver::Key::Enter);
        driver.Press(QtDriver::Key::Escape);
        EXPECT_EQ(driver.Caption(), "Quorvel");
        EXPECT_EQ(driver.Text(1003), "TYPED");
    });
    EXPECT_TRUE(log().empty());
}

TEST_F(MainDialog, TypingStopsAtTheControlsEdge)
{
    withDialog([&] {
        driver.Type(1003, std::string(40, 'W'));
        const std::string kept = driver.Text(1003);
        EXPECT_GT(kept.size(), 0u);
        EXPECT_LT(kept.size(), 40u);
    });
}

TEST_F(MainDialog, QuitAndTheCloseBoxEndWithTheQuitCode)
{
    driver.OnNextWindow([&] { driver.CloseWindow(); });
    EXPECT_EQ(run(), RDS_USB_DIALOG_QUIT);
    driver.OnNextWindow([&] { driver.Press(QtDriver::Key::AltF4); });
    EXPECT_EQ(run(), RDS_USB_DIALOG_QUIT);
    EXPECT_TRUE(log().empty());
}

TEST_F(MainDialog, HelpShowsTheHelpText)
{
    withDialog([&] {
        driver.OnNextWindow([&] {
            QtDriver::MessageBoxView box = driver.MessageBox();
            EXPECT_EQ(box.caption, "Quorvel  version 1.2 ");
            EXPECT_EQ(box.icon, QtDriver::Icon::Information);
            EXPECT_EQ(box.buttons, std::vector<QtDriver::Button>{QtDriver::Button::Ok});
            EXPECT_EQ(box.text,
                      "Quorvel V1.2 08/2007 \n"
                      "http://www.quorvel.example\n" +
                          std::string(20, ' ') + "RAM section is current RDS data\n" +
                          std::string(20, ' ') +
                          "EEPROM section correspond to default value for power on\n" +
                          std::string(19, ' ') + "mono/stereo : select clock used internal/external\n" +
                          std::string(19, ' ') +
                          "2A Group: select radiotext usage : 0=no radiotext / N:2A group send "
                          "every N 0A groups \n" +
                          std::string(19, ' ') +
                          "Note:EEPROM PSNAME and radiotext change automatically RAM associate "
                          "data \n" +
                          std::string(19, ' ') + "PI= Program Identification code\n" +
                          std::string(19, ' ') + "PSNAME = Program Service Name\n" +
                          std::string(19, ' ') + "PTY = Program type\n" + std::string(19, ' ') +
                          "MS = Music/speech\n" + std::string(19, ' ') +
                          "DI = Decoder Information\n" + std::string(19, ' ') +
                          "TP = Traffic Possible \n" + std::string(19, ' ') +
                          "TA = Traffic Announcement \n" + std::string(19, ' ') +
                          "AF = Alternate Frequency");
            driver.PressOk();
        });
        driver.Click(IDC_BUTTON_HELP);
    });
    EXPECT_TRUE(log().empty());
}

TEST_F(MainDialog, ResetDeclinedSendsNothing)
{
    withDialog([&] {
        driver.Type(1003, "KEPT");
        driver.OnNextWindow([&] {
            QtDriver::MessageBoxView box = driver.MessageBox();
            EXPECT_EQ(box.text, "Reset EEPROM to default value ?");
            EXPECT_EQ(box.caption, "Quorvel");
            EXPECT_EQ(box.icon, QtDriver::Icon::None);
            EXPECT_EQ(box.buttons,
                      (std::vector<QtDriver::Button>{QtDriver::Button::Ok, QtDriver::Button::Cancel}));
            EXPECT_EQ(box.defaultButton, QtDriver::Button::Ok);
            driver.PressCancel();
        });
        driver.Click(IDC_BUTTON_RESET);
        driver.OnNextWindow([&] { driver.CloseWindow(); });
        driver.Click(IDC_BUTTON_RESET);
        EXPECT_EQ(driver.Text(1003), "KEPT");
    });
    EXPECT_TRUE(log().empty());
}

TEST_F(MainDialog, AWriteFailingMidOkStaysPendingAndIsNamed)
{
    board->addFault({.kind = sim::Fault::Error, .code = 0x23, .error = 32});
    withDialog([&] {
        driver.Type(control("ram.ps"), "FIRST");
        driver.Type(control("ram.pty"), "7");
        driver.Type(control("eeprom.af07"), "200"); // refused: out of the band
        driver.Type(control("eeprom.stereo"), "0");
        driver.OnNextWindow([&] {
            QtDriver::MessageBoxView box = driver.MessageBox();
            EXPECT_EQ(box.caption, "Quorvel");
            EXPECT_EQ(box.text, "Error writing Quorvel board !\nRAM PTY\nAF07");
            EXPECT_EQ(box.icon, QtDriver::Icon::Information);
            driver.PressOk();
        });
        std::string out = stdoutOf([&] { driver.Click(IDC_BUTTON_OK); });
        EXPECT_EQ(out, "Error RdsUsbWritePTY 35 sendUSBVendorCmd -32"
                       "Error RdsUsbWriteAFE2p invalid freq");
        // The later rows were written all the same.
        EXPECT_EQ(log(), (Requests{ok(0x21, 0x4649, 0x5253), ok(0x22, 0x5400, 0),
                                   {0x23, 7, 0, -32}, ok(0x03, 0, 0)}));

        board->clearFaults();
        board->clearLog();
        driver.Type(control("eeprom.af07"), "98.5");
        driver.Click(IDC_BUTTON_OK); // only the pending rows, and no box
        EXPECT_EQ(log(), (Requests{ok(0x23, 7, 0), ok(0x6A, 110, 7)}));
        board->clearLog();
        driver.Click(IDC_BUTTON_OK);
        EXPECT_TRUE(log().empty());
    });
}

TEST_F(MainDialog, CancelAfterAFailedWriteShowsTheTextLastWritten)
{
    const std::string pi = loaded("eeprom.pi");
    board->addFault({.kind = sim::Fault::Error, .code = 0x68, .error = 110});
    withDialog([&] {
        driver.Type(control("eeprom.pi"), "0x1234");
        driver.OnNextWindow([&] { driver.PressOk(); });
        stdoutOf([&] { driver.Click(IDC_BUTTON_OK); });
        driver.Click(IDC_BUTTON_CANCEL);
        EXPECT_EQ(driver.Text(control("eeprom.pi")), pi);
    });
}

// Every byte but 0 goes into a control and comes back unchanged, so an OK
// without edits rewrites nothing.
TEST_F(MainDialog, EveryByteSurvivesTheControls)
{
    for (int first = 1; first < 256; first += 16) {
        sim::RdsData ram = board->ram();
        sim::Eeprom eeprom = board->eeprom();
        for (int i = 0; i < 8; i++) {
            ram.ps[i] = static_cast<uint8_t>(std::min(first + i, 255));
            eeprom.ps[i] = static_cast<uint8_t>(std::min(first + 8 + i, 255));
        }
        board->setRam(ram);
        board->setEeprom(eeprom);
        usbCloseDevice(UsbRDSBoard);
        ASSERT_EQ(InitDataEdit(), 0);
        board->clearLog();
        withDialog([&] {
            EXPECT_EQ(driver.Text(1003), loaded("ram.ps"));
            driver.Click(IDC_BUTTON_OK);
        });
        EXPECT_TRUE(log().empty()) << "bytes from " << first;
    }
}

} // namespace
