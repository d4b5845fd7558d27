// Message boxes: what they show, how they answer, where they appear.
#include "QtDriver.h"
#include "QtPlatform.h"
#include "TestDialog.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

namespace {

using Button = QtDriver::Button;
using Icon = QtDriver::Icon;
using Key = QtDriver::Key;

TEST(MessageBox, ShowsCaptionTextLinesIconAndButtons)
{
    QtDriver driver;
    QtDriver::MessageBoxView view;
    QString shownText;
    bool plain = false;
    bool buttonsWithoutIcons = true;
    driver.OnNextWindow([&] {
        view = driver.MessageBox();
        auto *box = qobject_cast<QMessageBox *>(driver.Window());
        ASSERT_NE(box, nullptr);
        plain = box->textFormat() == Qt::PlainText;
        for (QAbstractButton *button : box->buttons())
            buttonsWithoutIcons = buttonsWithoutIcons && button->icon().isNull();
        driver.PressOk();
    });
    EXPECT_EQ(MessageBoxA(nullptr, "First <b>line</b>\r\n  second \xE9", "Caption \x80",
                          MB_OK | MB_ICONINFORMATION),
              IDOK);
    EXPECT_EQ(view.caption, "Caption \x80");
    EXPECT_EQ(view.text, "First <b>line</b>\n  second \xE9");
    EXPECT_TRUE(plain);
    EXPECT_EQ(view.icon, Icon::Information);
    EXPECT_EQ(view.buttons, std::vector<Button>{Button::Ok});
    EXPECT_EQ(view.defaultButton, Button::Ok);
    EXPECT_TRUE(buttonsWithoutIcons);

    driver.OnNextWindow([&] {
        view = driver.MessageBox();
        driver.PressOk();
    });
    MessageBoxA(nullptr, "Reset ?", "Quorvel", MB_OKCANCEL);
    EXPECT_EQ(view.icon, Icon::None);
    EXPECT_EQ(view.buttons, (std::vector<Button>{Button::Ok, Button::Cancel}));
    EXPECT_EQ(view.defaultButton, Button::Ok);
}

struct Answer {
    const char *name;
    UINT type;
    std::function<void(QtDriver &)> act;
    int expected;
};

TEST(MessageBox, AnswersOkOrCancelAsWin32Does)
{
    const Answer answers[] = {
        {"OK pressed", MB_OK, [](QtDriver &d) { d.PressOk(); }, IDOK},
        {"Escape on OK only", MB_OK, [](QtDriver &d) { d.Press(Key::Escape); }, IDOK},
        {"closed, OK only", MB_OK, [](QtDriver &d) { d.CloseWindow(); }, IDOK},
        {"OK of OK/Cancel", MB_OKCANCEL, [](QtDriver &d) { d.PressOk(); }, IDOK},
        {"Enter on OK/Cancel", MB_OKCANCEL, [](QtDriver &d) { d.Press(Key::Enter); }, IDOK},
        {"Cancel", MB_OKCANCEL, [](QtDriver &d) { d.PressCancel(); }, IDCANCEL},
        {"Escape on OK/Cancel", MB_OKCANCEL, [](QtDriver &d) { d.Press(Key::Escape); }, IDCANCEL},
        {"closed, OK/Cancel", MB_OKCANCEL, [](QtDriver &d) { d.CloseWindow(); }, IDCANCEL},
    };
    for (const Answer &answer : answers) {
        QtDriver driver;
        driver.OnNextWindow([&] { answer.act(driver); });
        EXPECT_EQ(MessageBoxA(nullptr, "Question", "Quorvel", answer.type), answer.expected)
            << answer.name;
    }
}

TEST(MessageBox, IsModalToItsDialogCentredOnItAndTakesTheDialogsFont)
{
    Recorder recorder;
    recorder.override = [](HWND dialog, UINT message, WPARAM wParam,
                           LPARAM) -> std::optional<INT_PTR> {
        if (message == WM_COMMAND && LOWORD(wParam) == ID_BUTTON_FIRST) {
            EndDialog(dialog, MessageBoxA(dialog, "Owned", "Quorvel", MB_OKCANCEL));
            return TRUE;
        }
        return std::nullopt;
    };
    QRect dialogFrame;
    QtDriver driver;
    driver.OnNextWindow([&] {
        dialogFrame = driver.Window()->frameGeometry();
        driver.Click(ID_BUTTON_FIRST);
    });
    driver.OnNextWindow([&] {
        QWidget *box = driver.Window();
        ASSERT_TRUE(driver.IsMessageBox());
        EXPECT_TRUE(box->isModal());
        EXPECT_NE(box->parentWidget(), nullptr);
        EXPECT_LE((box->frameGeometry().center() - dialogFrame.center()).manhattanLength(), 1);
        EXPECT_EQ(QFontInfo(box->font()).family(), "Tahoma");
        EXPECT_EQ(box->font().pixelSize(), 12);
        auto *label = box->findChild<QLabel *>("qt_msgbox_label");
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(QFontInfo(label->font()).family(), "Tahoma");
        driver.PressCancel();
    });
    EXPECT_EQ(RunTestDialog(IDD_CONTROLS), IDCANCEL);
}

TEST(MessageBox, WithAHiddenOwnerOrNoneIsCentredOnTheScreen)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpszClassName = "HiddenOwner";
    windowClass.lpfnWndProc = DefWindowProcA;
    ASSERT_NE(RegisterClassExA(&windowClass), 0);
    HWND hidden = CreateWindowExA(0, "HiddenOwner", "", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                  nullptr, nullptr, nullptr, nullptr);

    for (HWND owner : {hidden, static_cast<HWND>(nullptr)}) {
        QtDriver driver;
        driver.OnNextWindow([&] {
            QWidget *box = driver.Window();
            QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
            EXPECT_LE((box->frameGeometry().center() - screen.center()).manhattanLength(), 1);
            driver.PressOk();
        });
        EXPECT_EQ(MessageBoxA(owner, "Error reading the board !", "Quorvel",
                              MB_OK | MB_ICONINFORMATION),
                  IDOK);
    }
    DestroyWindow(hidden);
}

} // namespace
