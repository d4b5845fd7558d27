// Message boxes: what they show, how they answer, where they appear.
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

// Caption and text in the code page, every line break form as one, the text
// plain; OK alone with the information icon, or OK and Cancel without; OK
// the default; no icons on the buttons. Answers as Win32's: Escape and the
// close box are Cancel, or OK where OK is alone.
TEST(MessageBox, ShowsItsTextAndButtonsAndAnswersAsWin32Does)
{
    const UINT Ok = MB_OK | MB_ICONINFORMATION, OkCancel = MB_OKCANCEL;
    const struct {
        const char *name;
        UINT type;
        std::function<void(QtDriver &)> act;
        int expected;
    } answers[] = {
        {"OK pressed", Ok, [](QtDriver &d) { d.PressOk(); }, IDOK},
        {"Escape on OK only", Ok, [](QtDriver &d) { d.Press(Key::Escape); }, IDOK},
        {"closed, OK only", Ok, [](QtDriver &d) { d.CloseWindow(); }, IDOK},
        {"OK of OK/Cancel", OkCancel, [](QtDriver &d) { d.PressOk(); }, IDOK},
        {"Enter on OK/Cancel", OkCancel, [](QtDriver &d) { d.Press(Key::Enter); }, IDOK},
        {"Cancel", OkCancel, [](QtDriver &d) { d.PressCancel(); }, IDCANCEL},
        {"Escape on OK/Cancel", OkCancel, [](QtDriver &d) { d.Press(Key::Escape); }, IDCANCEL},
        {"closed, OK/Cancel", OkCancel, [](QtDriver &d) { d.CloseWindow(); }, IDCANCEL},
    };
    for (const auto &answer : answers) {
        SCOPED_TRACE(answer.name);
        QtDriver driver;
        QtDriver::MessageBoxView view;
        bool plain = false, buttonIcons = false;
        driver.OnNextWindow([&] {
            view = driver.MessageBox();
            auto *box = qobject_cast<QMessageBox *>(driver.Window());
            plain = box->textFormat() == Qt::PlainText;
            for (QAbstractButton *button : box->buttons())
                buttonIcons = buttonIcons || !button->icon().isNull();
            answer.act(driver);
        });
        EXPECT_EQ(MessageBoxA(nullptr, "First <b>line</b>\r\n  second \xE9\rthird\nlast",
                              "Caption \x80", answer.type),
                  answer.expected);
        EXPECT_EQ(view.caption, "Caption \x80");
        EXPECT_EQ(view.text, "First <b>line</b>\n  second \xE9\nthird\nlast");
        EXPECT_TRUE(plain);
        EXPECT_FALSE(buttonIcons);
        EXPECT_EQ(view.icon, answer.type == Ok ? Icon::Information : Icon::None);
        const std::vector<Button> buttons = {Button::Ok, Button::Cancel};
        EXPECT_EQ(view.buttons, std::vector(buttons.begin(), buttons.end() - (answer.type == Ok)));
        EXPECT_EQ(view.defaultButton, Button::Ok);
    }
}

// Modal to its dialog, centred on it, in the dialog's font; with a hidden
// owner or none, centred on the screen.
TEST(MessageBox, CentredOnAShownOwnerOrTheScreenInTheDialogsFont)
{
    Recorder recorder;
    recorder.override = [](HWND dialog, UINT message, WPARAM wParam,
                           LPARAM) -> std::optional<INT_PTR> {
        if (message == WM_COMMAND && LOWORD(wParam) == ID_BUTTON_FIRST)
            return EndDialog(dialog, MessageBoxA(dialog, "Owned", "Quorvel", MB_OKCANCEL));
        return std::nullopt;
    };
    auto centredOn = [](QWidget *box, QRect area) {
        return (box->frameGeometry().center() - area.center()).manhattanLength() <= 1;
    };
    EXPECT_EQ(WithTestDialog([&](QtDriver &driver) {
                  const QRect dialog = driver.Window()->frameGeometry();
                  driver.OnNextWindow([&] {
                      QWidget *box = driver.Window();
                      EXPECT_TRUE(box->isModal());
                      EXPECT_NE(box->parentWidget(), nullptr);
                      EXPECT_TRUE(centredOn(box, dialog));
                      EXPECT_EQ(box->font().pixelSize(), 12);
                      EXPECT_EQ(
                          QFontInfo(box->findChild<QLabel *>("qt_msgbox_label")->font()).family(),
                          "Tahoma");
                      driver.PressCancel();
                  });
                  driver.Click(ID_BUTTON_FIRST);
              }),
              IDCANCEL);

    HWND hidden = NewOwnerWindow(0, 0, 100, 100);
    for (HWND owner : {hidden, HWND(nullptr)}) {
        QtDriver driver;
        driver.OnNextWindow([&] {
            EXPECT_TRUE(
                centredOn(driver.Window(), QGuiApplication::primaryScreen()->availableGeometry()));
            driver.PressOk();
        });
        EXPECT_EQ(MessageBoxA(owner, "Error reading the board !", "Quorvel", MB_OK), IDOK);
    }
    DestroyWindow(hidden);
}

} // namespace
