// The whole program from WinMain: start-up, the dialog loop, resets, and a
// board that is missing or goes away.
#include "ProgramSpy.h"
#include "QtDriver.h"
#include "RdsUsbMain.h"
#include "SimFixture.h"
#include "resource.h"

#include <QApplication>
#include <QWidget>

namespace {

class StartUp : public testing::Test {
protected:
    void SetUp() override { spy::reset(); }
    int winMain(HINSTANCE instance = &ProgramInstance)
    {
        return WinMain(instance, nullptr, const_cast<char *>(""), SW_SHOWDEFAULT);
    }
    // Answers the next message boxes with OK.
    void answerOk(int boxes = 1)
    {
        for (int i = 0; i < boxes; i++)
            driver.OnNextWindow([this] { driver.PressOk(); });
    }
    static int loads(const std::vector<sim::Request> &log)
    {
        return static_cast<int>(std::count(log.begin(), log.end(), ok(0xA1)));
    }

    sim::Testbed testbed;
    QtDriver driver;
};

TEST_F(StartUp, NoBoardIsOneMessageAndNoDialog)
{
    sim::DeviceSetup gadget;
    gadget.manufacturer = "Other Maker";
    auto other = testbed.board(testbed.addDevice(gadget));
    answerOk();
    EXPECT_EQ(winMain(), 1);
    EXPECT_EQ(driver.StepsRun(), 1);
    ASSERT_EQ(spy::boxes.size(), 1u);
    EXPECT_EQ(spy::boxes[0].text, "Error reading Quorvel board !");
    EXPECT_EQ(spy::boxes[0].caption, "Quorvel");
    EXPECT_EQ(spy::boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
    ASSERT_NE(spy::boxes[0].owner, nullptr);
    EXPECT_FALSE(spy::boxes[0].owner->isVisible());
    EXPECT_TRUE(other->log().empty());
    EXPECT_EQ(spy::boardCloses, 1); // the other gadget, after its strings
}

// Quit, the close box and Alt+F4 end the tool, the board closed once.
TEST_F(StartUp, TheDialogOpensOverTheHiddenOwnerAndQuitOrTheCloseBoxCloseTheBoardOnce)
{
    auto board = testbed.board(testbed.addDevice());
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
            how == 0 ? driver.Click(IDC_BUTTON_QUIT)
            : how == 1 ? driver.CloseWindow() : driver.Press(QtDriver::Key::AltF4);
        });
        EXPECT_EQ(winMain(), 0);
        EXPECT_EQ(spy::boardCloses, 1);
        EXPECT_TRUE(spy::boxes.empty());
    }
}

// A reset declined (Cancel, or the box closed) sends nothing and keeps the
// typed texts; confirmed, the board is reset, closed, loaded again, and the
// dialog reopens with the board's texts; again and again.
TEST_F(StartUp, ResetsReloadTheBoardAndReopenTheDialog)
{
    auto board = testbed.board(testbed.addDevice());
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
        EXPECT_EQ(spy::boxes[i].text, "Reset EEPROM to default value ?");
        EXPECT_EQ(spy::boxes[i].caption, "Quorvel");
        EXPECT_EQ(spy::boxes[i].type, static_cast<UINT>(MB_OKCANCEL));
    }
    EXPECT_EQ(spy::boxes[3].text, "EEPROM RDS reinitialised");
    EXPECT_EQ(spy::boxes[3].caption, "Quorvel");
    EXPECT_EQ(spy::boxes[3].type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
}

TEST_F(StartUp, ABoardUnpluggedBeforeAResetEndsTheToolClosingItOnce)
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

TEST_F(StartUp, ADialogThatCannotBeCreatedEndsTheLoop)
{
    testbed.addDevice();
    HINSTANCE__ noResources{nullptr, 0};
    EXPECT_EQ(winMain(&noResources), 1);
    EXPECT_EQ(spy::boardCloses, 1);
}

TEST_F(StartUp, AFailedClassRegistrationEndsAtOnceWithNothingShownOrRead)
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

} // namespace
