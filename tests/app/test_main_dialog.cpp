// The whole program from WinMain on a simulated board through the real
// libusb, driven as an operator would: start-up, the main dialog, resets, and
// a board that is missing or goes away. What the board receives, what the
// operator sees, and how often the board is closed.
#include "ProgramSpy.h"
#include "QtDriver.h"
#include "RdsUsbFields.h"
#include "RdsUsbMain.h"
#include "SimFixture.h"
#include "resource.h"

#include <QApplication>
#include <QWidget>

namespace {

class Program : public testing::Test {
protected:
    void SetUp() override { spy::reset(); }
    int winMain(HINSTANCE instance = &ProgramInstance)
    {
        return WinMain(instance, nullptr, const_cast<char *>(""), SW_SHOWDEFAULT);
    }
    // A board whose AF07 is 98.0 MHz (shown as " 98.0"), and whose every field
    // differs from the text its control has in the template.
    void addBoard()
    {
        board = testbed.board(testbed.addDevice());
        sim::Eeprom eeprom = board->eeprom();
        sim::RdsData ram = board->ram();
        eeprom.af[7] = 105, eeprom.af[4] = 110, eeprom.ta = ram.ta = 1, eeprom.stereo = 2;
        board->setEeprom(eeprom);
        board->setRam(ram);
    }
    // Runs the tool with `actions` on its dialog, then Quit; log() holds the
    // requests from the dialog's showing on.
    void withDialog(const std::function<void()> &actions)
    {
        driver.OnNextWindow([&] {
            board->clearLog();
            actions();
            driver.Click(IDC_BUTTON_QUIT);
        });
        EXPECT_EQ(winMain(), 0);
    }
    Requests log() const { return board->log(); }
    // Answers the next message boxes with OK.
    void answerOk(int boxes = 1)
    {
        for (int i = 0; i < boxes; i++)
            driver.OnNextWindow([this] { driver.PressOk(); });
    }
    static std::string loaded(const char *name)
    {
        return GetDataEdit()[RdsUsbFindField(name) - RdsUsbFields].OldString;
    }
    static int control(const char *name) { return RdsUsbFindField(name)->IdEdit; }
    static int loads(const Requests &log)
    {
        return static_cast<int>(std::count(log.begin(), log.end(), ok(0xA1)));
    }
    // The text, caption and type of message box `i`.
    using Box = std::tuple<std::string, std::string, UINT>;
    static Box box(size_t i)
    {
        return {spy::boxes.at(i).text, spy::boxes[i].caption, spy::boxes[i].type};
    }
    static constexpr UINT Info = MB_OK | MB_ICONINFORMATION;

    sim::Testbed testbed;
    std::shared_ptr<sim::Board> board;
    QtDriver driver;
};

TEST_F(Program, NoBoardIsOneMessageAndNoDialog)
{
    sim::DeviceSetup gadget;
    gadget.manufacturer = "Other Maker";
    auto other = testbed.board(testbed.addDevice(gadget));
    answerOk();
    EXPECT_EQ(winMain(), 1);
    EXPECT_EQ(driver.StepsRun(), 1);
    ASSERT_EQ(spy::boxes.size(), 1u);
    EXPECT_EQ(box(0), Box("Error reading Quorvel board !", "Quorvel", Info));
    ASSERT_NE(spy::boxes[0].owner, nullptr);
    EXPECT_FALSE(spy::boxes[0].owner->isVisible());
    EXPECT_TRUE(other->log().empty());
    EXPECT_EQ(spy::boardCloses, 1); // the other gadget, after its strings
}

// Quit, the close box and Alt+F4 end the tool, the board closed once.
TEST_F(Program, TheDialogOpensOverTheHiddenOwnerAndQuitOrTheCloseBoxCloseTheBoardOnce)
{
    addBoard();
    for (int how : {0, 1, 2}) {
        spy::reset();
        board->clearLog();
        driver.OnNextWindow([&] {
            EXPECT_EQ(board->log().size(), 75u);
            QWidget *dialog = driver.Window();
            QWidget *owner = dialog->parentWidget();
            ASSERT_NE(owner, nullptr);
            EXPECT_FALSE(owner->isVisible());
            EXPECT_EQ(owner->windowTitle(), "Quorvel");
            EXPECT_EQ(owner->size(), QSize(544, 375));
            // 5, 5 and 338 x 240 dialog units of 9-point Tahoma (7 x 14).
            EXPECT_EQ(dialog->pos(), owner->mapToGlobal(QPoint(0, 0)) + QPoint(9, 9));
            EXPECT_EQ(dialog->size(), QSize(592, 420));
            how == 0   ? driver.Click(IDC_BUTTON_QUIT)
            : how == 1 ? driver.CloseWindow()
                       : driver.Press(QtDriver::Key::AltF4);
        });
        EXPECT_EQ(winMain(), 0);
        EXPECT_EQ(spy::boardCloses, 1);
        EXPECT_TRUE(spy::boxes.empty());
    }
}

// A reset declined (Cancel, or the box closed) sends nothing and keeps the
// typed texts; confirmed, the board is reset, closed, loaded again, and the
// dialog reopens with the board's texts; again and again.
TEST_F(Program, ResetsReloadTheBoardAndReopenTheDialog)
{
    addBoard();
    QWidget *dialog = nullptr;
    driver.OnNextWindow([&] {
        dialog = driver.Window();
        driver.Type(1029, "NEWNAME"); // the EEPROM PS name, sent
        driver.Click(IDC_BUTTON_OK);
        driver.Type(1003, "UNSENT");
        board->clearLog();
        driver.OnNextWindow([&] { driver.PressCancel(); });
        driver.Click(IDC_BUTTON_RESET);
        driver.OnNextWindow([&] { driver.CloseWindow(); });
        driver.Click(IDC_BUTTON_RESET);
        EXPECT_EQ(driver.Text(1003), "UNSENT");
        EXPECT_TRUE(board->log().empty());
        answerOk(2); // the confirmation, then the notice
        driver.OnNextWindow([&] {
            // Reset, then a whole load, before the dialog shows again.
            std::vector<sim::Request> log = board->log();
            ASSERT_EQ(log.size(), 76u);
            EXPECT_EQ(log.front(), ok(0x04));
            EXPECT_EQ(loads(log), 1);
            EXPECT_EQ(spy::boardCloses, 1);
            EXPECT_EQ(driver.Text(1029), "QUORVEL ");
            EXPECT_EQ(driver.Text(1003), "NEWNAME"); // RAM keeps the copy; the typed text is gone
            board->clearLog();
            answerOk(2);
            driver.OnNextWindow([&] {
                EXPECT_EQ(board->log().size(), 76u);
                driver.Click(IDC_BUTTON_QUIT);
            });
            driver.Click(IDC_BUTTON_RESET);
        });
        driver.Click(IDC_BUTTON_RESET);
    });
    EXPECT_EQ(winMain(), 0);
    EXPECT_EQ(driver.StepsLeft(), 0);
    EXPECT_EQ(spy::boardCloses, 3);
    ASSERT_EQ(spy::boxes.size(), 6u);
    for (int i : {0, 1, 2, 4}) { // the first three on the first dialog
        EXPECT_TRUE(i == 4 || spy::boxes[i].owner == dialog);
        EXPECT_EQ(box(i), Box("Reset EEPROM to default value ?", "Quorvel", MB_OKCANCEL));
    }
    EXPECT_EQ(box(3), Box("EEPROM RDS reinitialised", "Quorvel", Info));
}

TEST_F(Program, ABoardUnpluggedBeforeAResetEndsTheToolClosingItOnce)
{
    int device = testbed.addDevice();
    driver.OnNextWindow([&] {
        testbed.unplug(device);
        answerOk(3); // the confirmation, the failed reset, the failed reload
        stdoutOf([&] { driver.Click(IDC_BUTTON_RESET); });
    });
    EXPECT_EQ(winMain(), 1);
    EXPECT_EQ(driver.StepsLeft(), 0);
    EXPECT_EQ(UsbRDSBoard, nullptr);
    EXPECT_EQ(spy::boardCloses, 1);
    ASSERT_EQ(spy::boxes.size(), 3u);
    EXPECT_EQ(spy::boxes[1].text, "Error writing Quorvel board !");
    EXPECT_EQ(spy::boxes[2].text, "Error reading Quorvel board !");
}

TEST_F(Program, ADialogThatCannotBeCreatedEndsTheLoop)
{
    testbed.addDevice();
    HINSTANCE__ noResources{nullptr, 0};
    EXPECT_EQ(winMain(&noResources), 1);
    EXPECT_EQ(spy::boardCloses, 1);
}

TEST_F(Program, AFailedClassRegistrationEndsAtOnceWithNothingShownOrRead)
{
    const int id = testbed.addDevice();
    const qsizetype windows = QApplication::topLevelWidgets().size();
    spy::failClassRegistration = true;
    EXPECT_EQ(winMain(), 0);
    EXPECT_EQ(QApplication::topLevelWidgets().size(), windows);
    EXPECT_TRUE(spy::boxes.empty());
    EXPECT_EQ(driver.StepsRun(), 0);
    EXPECT_TRUE(testbed.stats(id).stringIndices.empty());
    EXPECT_TRUE(testbed.board(id)->log().empty());
}

// The dialog opens with the board's texts and the focus on the RAM PS name;
// Help shows the help text, its lines ending in CR LF, in a box of its own;
// Enter and Escape in an edit do nothing, typing stops at its edge; OK writes
// what changed, once, and the control keeps it; Cancel restores the texts
// last loaded or written.
TEST_F(Program, OkWritesWhatChangedOnceAndCancelRestoresTheTextsLastWritten)
{
    addBoard();
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
        EXPECT_EQ(driver.Text(1003), loaded("ram.ps"));
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
    const std::string in19(19, ' '), in20(20, ' ');
    EXPECT_EQ(
        box(0),
        Box("Quorvel V1.2 08/2007 \r\nhttp://www.quorvel.example\r\n" + in20 +
                "RAM section is current RDS data\r\n" + in20 +
                "EEPROM section correspond to default value for power on\r\n" + in19 +
                "mono/stereo : select clock used internal/external\r\n" + in19 +
                "2A Group: select radiotext usage : 0=no radiotext / N:2A group send every N "
                "0A groups \r\n" +
                in19 +
                "Note:EEPROM PSNAME and radiotext change automatically RAM associate data \r\n" +
                in19 + "PI= Program Identification code\r\n" + in19 +
                "PSNAME = Program Service Name\r\n" + in19 + "PTY = Program type\r\n" + in19 +
                "MS = Music/speech\r\n" + in19 + "DI = Decoder Information\r\n" + in19 +
                "TP = Traffic Possible \r\n" + in19 + "TA = Traffic Announcement \r\n" + in19 +
                "AF = Alternate Frequency",
            "Quorvel  version 1.2 ", Info));
}

// A field whose read failed shows empty, is not written while empty, and is
// written once given a text; a text counts as changed when it differs as
// text (a PTY with a leading zero, an AF without its decimal point, AF07 with
// its own index), not when set back.
TEST_F(Program, AnEmptyFieldIsWrittenOnceGivenATextAndTextsCountAsChangedAsText)
{
    addBoard();
    board->addFault({.kind = sim::Fault::Error, .code = 0xE8, .error = 32});
    std::string pty;
    const std::string out = stdoutOf([&] {
        withDialog([&] {
            board->clearFaults();
            pty = loaded("ram.pty");
            ASSERT_EQ(loaded("eeprom.af07"), " 98.0");
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
    });
    EXPECT_EQ(out, "Error RdsUsbReadPIE2p sendUSBVendorCmd -32");
    EXPECT_EQ(log(), (Requests{ok(0x23, std::stoi(pty)), ok(0x68, 0xC0DE), ok(0x6A, 105, 7)}));
}

// A failed or refused write stays pending and is named in one box, the rest
// is written; the typed texts stay, and Cancel shows the pending rows' old ones.
TEST_F(Program, AFailedWriteStaysPendingAndIsNamedTheRestIsWritten)
{
    addBoard();
    board->addFault({.kind = sim::Fault::Error, .code = 0x23, .error = 32});
    withDialog([&] {
        const std::string pty = loaded("ram.pty"), af07 = loaded("eeprom.af07");
        driver.Type(control("ram.ps"), "FIRST");
        driver.Type(control("ram.pty"), "7");
        driver.Type(control("eeprom.af07"), "200"); // refused: out of the band
        driver.Type(control("eeprom.stereo"), "0");
        answerOk();
        const std::string out = stdoutOf([&] { driver.Click(IDC_BUTTON_OK); });
        EXPECT_EQ(out, "Error RdsUsbWritePTY 35 sendUSBVendorCmd -32"
                       "Error RdsUsbWriteAFE2p invalid freq");
        EXPECT_EQ(
            log(),
            (Requests{
                ok(0x21, 0x4649, 0x5253), ok(0x22, 0x5400, 0), {0x23, 7, 0, -32}, ok(0x03, 0, 0)}));
        EXPECT_EQ(driver.Text(control("ram.pty")), "7"); // the typed texts stay
        EXPECT_EQ(driver.Text(control("eeprom.af07")), "200");
        driver.Click(IDC_BUTTON_CANCEL);
        EXPECT_EQ(driver.Text(control("ram.pty")), pty);
        EXPECT_EQ(driver.Text(control("eeprom.af07")), af07);
        EXPECT_EQ(driver.Text(control("ram.ps")), "FIRST");
    });
    ASSERT_EQ(spy::boxes.size(), 1u);
    EXPECT_EQ(box(0), Box("Error writing Quorvel board !\r\nRAM PTY\r\nAF07", "Quorvel", Info));
}

} // namespace
