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
// the default; no icons on the buttons.
TEST(MessageBox, ShowsCaptionTextLinesIconAndButtons)
{
    struct Case {
        const char *text;
        UINT type;
        const char *shown;
        Icon icon;
        std::vector<Button> buttons;
    } cases[] = {
        {"First <b>line</b>\r\n  second \xE9\rthird\nlast", MB_OK | MB_ICONINFORMATION,
         "First <b>line</b>\n  second \xE9\nthird\nlast", Icon::Information, {Button::Ok}},
        {"Reset ?", MB_OKCANCEL, "Reset ?", Icon::None, {Button::Ok, Button::Cancel}},
    };
    for (const Case &c : cases) {
        QtDriver driver;
        QtDriver::MessageBoxView view;
        bool plain = false, buttonIcons = false;
        driver.OnNextWindow([&] {
            view = driver.MessageBox();
            auto *box = qobject_cast<QMessageBox *>(driver.Window());
            plain = box->textFormat() == Qt::PlainText;
            for (QAbstractButton *button : box->buttons())
                buttonIcons = buttonIcons || !button->icon().isNull();
            driver.PressOk();
        });
        EXPECT_EQ(MessageBoxA(nullptr, c.text, "Caption \x80", c.type), IDOK);
        EXPECT_EQ(view.caption, "Caption \x80");
        EXPECT_EQ(view.text, c.shown);
        EXPECT_TRUE(plain);
        EXPECT_EQ(view.icon, c.icon);
        EXPECT_EQ(view.buttons, c.buttons);
        EXPECT_EQ(view.defaultButton, Button::Ok);
        EXPECT_FALSE(buttonIcons);
    }
}

TEST(MessageBox, AnswersOkOrCancelAsWin32Does)
{
    const struct {
        const char *name;
        UINT type;
        std::function<void(QtDriver &)> act;
        int expected;
    } answers[] = {
        {"OK pressed", MB_OK, [](QtDriver &d) { d.PressOk(); }, IDOK},
        {"Escape on OK only", MB_OK, [](QtDriver &d) { d.Press(Key::Escape); }, IDOK},
        {"closed, OK only", MB_OK, [](QtDriver &d) { d.CloseWindow(); }, IDOK},
        {"OK of OK/Cancel", MB_OKCANCEL, [](QtDriver &d) { d.PressOk(); }, IDOK},
        {"Enter on OK/Cancel", MB_OKCANCEL, [](QtDriver &d) { d.Press(Key::Enter); }, IDOK},
        {"Cancel", MB_OKCANCEL, [](QtDriver &d) { d.PressCancel(); }, IDCANCEL},
        {"Escape on OK/Cancel", MB_OKCANCEL, [](QtDriver &d) { d.Press(Key::Escape); }, IDCANCEL},
        {"closed, OK/Cancel", MB_OKCANCEL, [](QtDriver &d) { d.CloseWindow(); }, IDCANCEL},
    };
    for (const auto &answer : answers) {
        QtDriver driver;
        driver.OnNextWindow([&] { answer.act(driver); });
        EXPECT_EQ(MessageBoxA(nullptr, "Question", "Quorvel", answer.type), answer.expected)
            << answer.name;
    }
}

// Modal to its dialog, centred on it, in the dialog's font; with a hidden
// owner or none, centred on the screen.
TEST(MessageBox, CentredOnAShownOwnerOrTheScreenInTheDialogsFont)
{
    Recorder recorder;
    recorder.override = [](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> std::optional<INT_PTR> {
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
            EXPECT_EQ(QFontInfo(box->findChild<QLabel *>("qt_msgbox_label")->font()).family(), "Tahoma");
            driver.PressCancel();
        });
        driver.Click(ID_BUTTON_FIRST);
    }), IDCANCEL);

    HWND hidden = NewOwnerWindow(0, 0, 100, 100);
    for (HWND owner : {hidden, HWND(nullptr)}) {
        QtDriver driver;
        driver.OnNextWindow([&] {
            EXPECT_TRUE(centredOn(driver.Window(), QGuiApplication::primaryScreen()->availableGeometry()));
            driver.PressOk();
        });
        EXPECT_EQ(MessageBoxA(owner, "Error reading the board !", "Quorvel", MB_OK), IDOK);
    }
    DestroyWindow(hidden);
}

} // namespace
