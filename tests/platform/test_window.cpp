// Window classes, the hidden owner window, and the system's stock objects.
#include "QtPlatform.h"
#include "TestDialog.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <vector>

namespace {

std::vector<UINT> received;

LRESULT CALLBACK RecordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    received.push_back(message);
    return DefWindowProcA(window, message, wParam, lParam);
}

// A class needs a name and a procedure, and may be registered again; the
// system's icon, cursor and brush exist.
TEST(WindowClass, RegistrationNeedsANameAndAProcedure)
{
    EXPECT_NE(LoadIconA(nullptr, IDI_APPLICATION), nullptr);
    EXPECT_NE(LoadCursorA(nullptr, IDC_ARROW), nullptr);
    EXPECT_NE(GetStockObject(LTGRAY_BRUSH), nullptr);
    EXPECT_EQ(RegisterClassExA(nullptr), 0);
    for (WNDCLASSEXA bad :
         {ClassNamed(nullptr, RecordingProcedure), ClassNamed("NoProcedure", nullptr)})
        EXPECT_EQ(RegisterClassExA(&bad), 0);
    EXPECT_EQ(CreateWindowExA(0, "NoProcedure", "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, 10, 10, nullptr, nullptr, nullptr, nullptr),
              nullptr);
    WNDCLASSEXA good = ClassNamed("Registered", RecordingProcedure);
    const ATOM atom = RegisterClassExA(&good);
    EXPECT_NE(atom, 0);
    EXPECT_EQ(RegisterClassExA(&good), atom) << "a second start-up registers it again";
}

// Created hidden and centred on the screen, by a class name in any case,
// without a message; destroyed once, with WM_DESTROY.
TEST(OwnerWindow, IsCreatedHiddenCentredAndQuiet)
{
    WNDCLASSEXA windowClass = ClassNamed("Owner", RecordingProcedure);
    ASSERT_NE(RegisterClassExA(&windowClass), 0);
    received.clear();
    HWND window = CreateWindowExA(0, "owner", "Quorvel", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 544, 375, nullptr, nullptr, nullptr, nullptr);
    QWidget *widget = platform::WidgetOf(window);
    ASSERT_NE(widget, nullptr);
    EXPECT_FALSE(widget->isVisible());
    EXPECT_EQ(widget->windowTitle(), "Quorvel");
    EXPECT_EQ(widget->size(), QSize(544, 375));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((widget->geometry().center() - screen.center()).manhattanLength(), 2);
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(
        CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
        nullptr);
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_EQ(received, std::vector<UINT>{WM_DESTROY});
    EXPECT_EQ(platform::WidgetOf(window), nullptr);
    EXPECT_FALSE(DestroyWindow(window)) << "already destroyed";
    EXPECT_FALSE(DestroyWindow(nullptr));
    EXPECT_EQ(DefWindowProcA(nullptr, WM_CLOSE, 0, 0), 0);
    PostQuitMessage(3);
    int code = -1;
    EXPECT_TRUE(platform::QuitPosted(&code));
    EXPECT_EQ(code, 3);
}

} // namespace
