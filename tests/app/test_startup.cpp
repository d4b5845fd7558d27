// The whole program from WinMain: start-up, the dialog loop, resets and a
// board that is missing or goes away.
#include "QtDriver.h"
#include "RdsUsbMain.h"
#include "SimFixture.h"
#include "resource.h"

namespace {

using Requests = std::vector<sim::Request>;

class StartUp : public testing::Test {
protected:
    int winMain(HINSTANCE instance = &ProgramInstance)
    {
        return WinMain(instance, nullptr, const_cast<char *>(""), SW_SHOWDEFAULT);
    }
    void expectBox(const char *text)
    {
        driver.OnNextWindow([this, text] {
            QtDriver::MessageBoxView box = driver.MessageBox();
            EXPECT_EQ(box.text, text);
            EXPECT_EQ(box.caption, "Quorvel");
            EXPECT_EQ(box.icon, QtDriver::Icon::Information);
            driver.PressOk();
        });
    }
    void confirmReset()
    {
        driver.OnNextWindow([this] {
            EXPECT_EQ(driver.MessageBox().text, "Reset EEPROM to default value ?");
            driver.PressOk();
        });
    }
    static Requests loadOf(const Requests &log)
    {
        Requests load;
        for (const sim::Request &r : log)
            if (r.code >= 0x80)
                load.push_back(r);
        return load;
    }

    sim::Testbed testbed;
    QtDriver driver;
};

TEST_F(StartUp, NoBoardIsOneMessageAndStatus1)
{
    sim::DeviceSetup gadget;
    gadget.manufacturer = "Other Maker";
    int other = testbed.addDevice(gadget);
    expectBox("Error reading Quorvel board !");
    EXPECT_EQ(winMain(), 1);
    EXPECT_EQ(driver.StepsRun(), 1);
    EXPECT_TRUE(testbed.board(other)->log().empty());
}

TEST_F(StartUp, QuitEndsWithStatus0)
{
    int device = testbed.addDevice();
    driver.OnNextWindow([&] {
        EXPECT_EQ(testbed.board(device)->log().size(), 75u);
        driver.Click(IDC_BUTTON_QUIT);
    });
    EXPECT_EQ(winMain(), 0);
}

TEST_F(StartUp, ResetsReloadTheBoardAndReopenTheDialog)
{
    int device = testbed.addDevice();
    auto board = testbed.board(device);
    const std::string defaultPS(reinterpret_cast<const char *>(sim::Board::factoryDefaults().ps), 8);
    driver.OnNextWindow([&] {
        driver.Type(1029, "NEWNAME"); // the EEPROM PS name, sent
        driver.Click(IDC_BUTTON_OK);
        driver.Type(1003, "UNSENT");
        board->clearLog();
        confirmReset();
        expectBox("EEPROM RDS reinitialised");
        driver.OnNextWindow([&] {
            // Reset, then a whole load, before the dialog shows again.
            Requests log = board->log();
            ASSERT_EQ(log.size(), 76u);
            EXPECT_EQ(log.front(), ok(0x04));
            EXPECT_EQ(loadOf(log).size(), 75u);
            EXPECT_EQ(driver.Text(1029), defaultPS);
            EXPECT_EQ(driver.Text(1003), "NEWNAME"); // RAM keeps the copy; the typed text is gone
            board->clearLog();
            confirmReset();
            expectBox("EEPROM RDS reinitialised");
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
}

TEST_F(StartUp, ABoardUnpluggedBeforeAResetEndsTheTool)
{
    int device = testbed.addDevice();
    driver.OnNextWindow([&] {
        testbed.unplug(device);
        confirmReset();
        expectBox("Error writing Quorvel board !");
        expectBox("Error reading Quorvel board !");
        stdoutOf([&] { driver.Click(IDC_BUTTON_RESET); });
    });
    EXPECT_EQ(winMain(), 1);
    EXPECT_EQ(driver.StepsLeft(), 0);
    EXPECT_EQ(UsbRDSBoard, nullptr);
}

TEST_F(StartUp, ADialogThatCannotBeCreatedEndsTheLoop)
{
    testbed.addDevice();
    HINSTANCE__ noResources{nullptr, 0};
    EXPECT_EQ(winMain(&noResources), 1);
}

} // namespace
