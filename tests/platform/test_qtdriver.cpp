// The test driver itself: the program's tests rely on its sequencing and on
// its time-out.
#include "QtDriver.h"
#include "TestDialog.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <QWidget>

#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

TEST(QtDriver, StepsFollowTheModalWindowsAsTheyOpenAndClose)
{
    Recorder recorder;
    recorder.override = [](HWND dialog, UINT message, WPARAM wParam,
                           LPARAM) -> std::optional<INT_PTR> {
        if (message == WM_COMMAND && LOWORD(wParam) == ID_BUTTON_FIRST) {
            MessageBoxA(dialog, "First box", "Box", MB_OK);
            MessageBoxA(dialog, "Second box", "Box", MB_OK);
            return TRUE;
        }
        return std::nullopt;
    };
    std::vector<std::string> seen;
    QtDriver driver;
    driver.OnNextWindow([&] {
        seen.push_back(driver.Caption());
        driver.Click(ID_BUTTON_FIRST); // returns once both boxes are gone
        seen.push_back("clicked");
    });
    driver.OnNextWindow([&] {
        seen.push_back(driver.MessageBox().text);
        driver.PressOk();
    });
    driver.OnNextWindow([&] {
        seen.push_back(driver.MessageBox().text);
        driver.Press(QtDriver::Key::Enter);
    });
    driver.OnNextWindow([&] {
        seen.push_back(driver.Caption());
        driver.Click(ID_BUTTON_SECOND);
    });
    EXPECT_EQ(RunTestDialog(IDD_CONTROLS), 1000 + ID_BUTTON_SECOND);
    EXPECT_EQ(seen, (std::vector<std::string>{"Test dialog", "First box", "Second box", "clicked",
                                              "Test dialog"}));
    EXPECT_EQ(driver.StepsRun(), 4);
    EXPECT_EQ(driver.StepsLeft(), 0);
}

TEST(QtDriver, AWindowLeftOpenFailsTheTestAndIsClosed)
{
    Recorder recorder; // ignores WM_CLOSE and IDCANCEL: only ending the loop helps
    INT_PTR result = -2;
    EXPECT_NONFATAL_FAILURE(
        {
            QtDriver driver(300ms);
            result = RunTestDialog(IDD_CONTROLS);
        },
        "no step could run for 300 ms");
    EXPECT_NE(result, -2);
    EXPECT_GE(recorder.Count(WM_CLOSE), 1) << "closed as the close box does first";
}

TEST(QtDriver, AStepThatNeverRanFailsTheTest)
{
    EXPECT_NONFATAL_FAILURE(
        {
            QtDriver driver;
            driver.OnNextWindow([] {});
        },
        "1 queued step(s) never ran");
}

} // namespace
