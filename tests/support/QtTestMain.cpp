// main() of the tests that show windows: Qt as the program's main() starts
// it, then GoogleTest.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char **argv)
{
    // Without a display (as when CTest lists the tests), run offscreen.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && !qEnvironmentVariableIsSet("DISPLAY") &&
        !qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
