// Dialogs built from their templates: controls, layout, messages to the
// dialog procedure, keys, and the texts of controls.
#include "QtPlatform.h"
#include "TestDialog.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QFontInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QtTest/QTest>

#include <string>

namespace {

using Key = QtDriver::Key;
using Ids = std::vector<WORD>;

template <class T = QWidget>
T *ControlOf(const QtDriver &driver, int id)
{
    return driver.Window()->findChild<T *>(QString::number(id), Qt::FindDirectChildrenOnly);
}

std::string DialogText(HWND dialog, int id)
{
    char buffer[1024];
    return std::string(buffer, GetDlgItemTextA(dialog, id, buffer, sizeof buffer));
}

// The first and last columns holding pixels other than the window's face.
std::pair<int, int> InkColumns(QWidget *widget, int margin)
{
    const QImage image = widget->grab().toImage();
    const QRgb face = widget->palette().color(QPalette::Window).rgb();
    int left = image.width(), right = -1;
    for (int y = margin; y < image.height() - margin; ++y)
        for (int x = margin; x < image.width() - margin; ++x)
            if (image.pixel(x, y) != face)
                left = std::min(left, x), right = std::max(right, x);
    return {left, right};
}

TEST(DialogTemplate, MissingTemplateOrUnknownControlClassGivesMinusOne)
{
    Recorder recorder;
    QtDriver driver(std::chrono::seconds(2)); // a dialog shown fails the test, not hangs it
    EXPECT_EQ(RunTestDialog(999), -1);
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_CONTROLS), nullptr, Recorder::Proc, 0),
              -1);
    EXPECT_EQ(DialogBoxParamA(&TestInstance, "IDD_CONTROLS", nullptr, Recorder::Proc, 0), -1);
    EXPECT_EQ(RunTestDialog(IDD_BAD_CLASS), -1);
    EXPECT_TRUE(recorder.messages.empty()) << "no dialog procedure runs for a failed dialog";
}

// Pixels are dialog units at 9-point Tahoma's base units, 7 x 14; frames
// are drawn as Win32 draws WS_BORDER and its edges.
TEST(DialogTemplate, BuildsEveryControlInOrderAtItsPixelsWithItsFrameAndResizingMovesNone)
{
    Recorder recorder;
    WithTestDialog([&](QtDriver &driver) {
        QWidget *dialog = driver.Window();
        EXPECT_EQ(driver.Caption(), "Test dialog");
        EXPECT_EQ(dialog->size(), QSize(350, 175)); // 200 x 100
        // At 10, 20 from the screen's corner, without an owner (the main dialog's test has one).
        EXPECT_EQ(dialog->pos(),
                  QGuiApplication::primaryScreen()->availableGeometry().topLeft() + QPoint(18, 35));
        const Qt::WindowFlags boxes = Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                      Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint |
                                      Qt::WindowMaximizeButtonHint;
        EXPECT_EQ(dialog->windowFlags() & boxes, boxes);
        const std::vector<std::string> expected = {
            "201 E \"edit text\" 18,18 140x21 Dark:Light",
            "202 L \"Label\" 175,18 70x18 none",
            "203 R \"Right\" 175,42 70x18 WindowText:WindowText",
            "204 E \"\" 18,53 46x18 Dark:Light",
            "205 B \"First\" 18,123 88x25 none",
            "206 L \"<b>bold</b>\" 175,70 158x21 Dark:Light Shadow:Midlight",
            "207 B \"Second\" 123,123 88x25 none",
            "208 E \"\" 18,79 105x28 Midlight:Shadow Light:Dark Button:Button",
            "209 E \"\" 228,123 70x21 none"};
        EXPECT_EQ(driver.Controls(), expected);
        dialog->resize(600, 400);
        EXPECT_EQ(dialog->size(), QSize(600, 400)) << "a sizing border";
        EXPECT_EQ(driver.Controls(), expected);
        // Static texts are drawn aligned as styled, and as plain text.
        EXPECT_LE(InkColumns(ControlOf(driver, ID_LABEL_LEFT), 0).first, 2);
        EXPECT_GE(InkColumns(ControlOf(driver, ID_LABEL_RIGHT), 1).second, 70 - 4);
        auto [markupFrom, markupTo] = InkColumns(ControlOf(driver, ID_LABEL_MARKUP), 2);
        QFontMetrics metrics(ControlOf(driver, ID_LABEL_MARKUP)->font());
        EXPECT_GT(markupTo - markupFrom, metrics.horizontalAdvance("<b>bold"));
        driver.Click(ID_BUTTON_FIRST);
    });
    // Without WS_THICKFRAME the size is fixed, and there are no min/max boxes.
    WithTestDialog(
        [&](QtDriver &driver) {
            QWidget *dialog = driver.Window();
            EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
            EXPECT_EQ(dialog->windowFlags() &
                          (Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
                      Qt::WindowCloseButtonHint);
            EndDialog(recorder.dialog, 5);
        },
        IDD_FIXED);
}

TEST(DialogFont, TahomaHasWindowsBaseUnitsAndAMissingTypefaceASansFontThatFits)
{
    for (auto [points, pixels, x, y] : {std::array{9, 12, 7, 14}, std::array{8, 11, 6, 13}}) {
        platform::DialogFont font = platform::LoadDialogFont("tahoma", points, 400, false);
        EXPECT_EQ(QFontInfo(font.font).family(), "Tahoma");
        EXPECT_EQ(font.font.pixelSize(), pixels);
        EXPECT_EQ(font.baseX, x);
        EXPECT_EQ(font.baseY, y);
    }
    platform::DialogFont font = platform::LoadDialogFont("No Such Typeface", 9, 400, false);
    QFontMetrics metrics(font.font);
    EXPECT_NE(QFontInfo(font.font).family(), "No Such Typeface");
    EXPECT_EQ(font.baseY, metrics.height());
    const int extent =
        metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(font.baseX, (extent / 26 + 1) / 2);
    // Its dialog still shows a label's text whole in the label's room.
    Recorder recorder;
    WithTestDialog(
        [&](QtDriver &driver) {
            auto *label = ControlOf<QLabel>(driver, ID_LABEL_LEFT);
            QFontMetrics shown(label->font());
            EXPECT_LE(shown.horizontalAdvance(label->text()), label->contentsRect().width());
            EXPECT_LE(shown.height(), label->contentsRect().height());
            EndDialog(recorder.dialog, 1);
        },
        IDD_FIXED);
}

// WM_INITDIALOG first, with the value given, before the dialog shows (a
// dialog ended there never shows); WM_DESTROY last; the result whole.
TEST(DialogMessages, InitDialogBeforeShowingDestroyLastAndTheResultWhole)
{
    for (INT_PTR endAtInit : {0, 77}) {
        Recorder recorder;
        bool visibleAtInit = true;
        recorder.override = [&](HWND dialog, UINT message, WPARAM,
                                LPARAM) -> std::optional<INT_PTR> {
            if (message != WM_INITDIALOG)
                return std::nullopt;
            visibleAtInit = platform::WidgetOf(dialog)->isVisible();
            return endAtInit ? std::optional<INT_PTR>(EndDialog(dialog, endAtInit)) : std::nullopt;
        };
        const INT_PTR wide = static_cast<INT_PTR>(0x7123456789ABCDEFLL);
        QtDriver driver;
        if (!endAtInit)
            driver.OnNextWindow([&] {
                // The first tab stop has the focus, its text selected from its start.
                EXPECT_EQ(driver.FocusedId(), ID_EDIT_WIDE);
                EXPECT_EQ(ControlOf<QLineEdit>(driver, ID_EDIT_WIDE)->selectedText(), "edit text");
                EXPECT_EQ(ControlOf<QLineEdit>(driver, ID_EDIT_WIDE)->cursorPosition(), 0);
                EndDialog(recorder.dialog, wide);
            });
        EXPECT_EQ(RunTestDialog(IDD_CONTROLS, nullptr, 0x5A5A), endAtInit ? endAtInit : wide);
        ASSERT_FALSE(recorder.messages.empty());
        EXPECT_EQ(recorder.messages.front().message, static_cast<UINT>(WM_INITDIALOG));
        EXPECT_EQ(recorder.messages.front().lParam, 0x5A5A);
        EXPECT_FALSE(visibleAtInit);
        EXPECT_EQ(recorder.messages.back().message, static_cast<UINT>(WM_DESTROY));
        EXPECT_EQ(recorder.Count(WM_DESTROY), 1);
        EXPECT_EQ(recorder.Count(WM_COMMAND), 0);
    }
    EXPECT_FALSE(EndDialog(nullptr, 1));
}

// The close box and Alt+F4 send WM_CLOSE and close nothing themselves;
// unhandled, WM_CLOSE becomes the IDCANCEL command. A click sends the
// button's id with BN_CLICKED (0) in the high word.
TEST(DialogMessages, CloseBoxAltF4AndClicksAsCommands)
{
    Recorder recorder;
    bool handleClose = true;
    recorder.override = [&](HWND dialog, UINT message, WPARAM wParam,
                            LPARAM) -> std::optional<INT_PTR> {
        if (message == WM_CLOSE && handleClose)
            return TRUE; // handled, and the dialog stays
        if (message == WM_COMMAND && wParam == IDCANCEL)
            return EndDialog(dialog, 42);
        return std::nullopt;
    };
    EXPECT_EQ(WithTestDialog([&](QtDriver &driver) {
                  driver.CloseWindow();
                  driver.Press(Key::AltF4);
                  EXPECT_EQ(recorder.Count(WM_CLOSE), 2);
                  EXPECT_TRUE(driver.Window()->isVisible());
                  driver.Click(ID_BUTTON_SECOND);
              }),
              1000 + ID_BUTTON_SECOND);
    EXPECT_EQ(recorder.Commands(), Ids{ID_BUTTON_SECOND});
    EXPECT_EQ(recorder.messages[recorder.messages.size() - 2].wParam, WPARAM(ID_BUTTON_SECOND));
    handleClose = false;
    EXPECT_EQ(WithTestDialog([&](QtDriver &driver) { driver.CloseWindow(); }), 42);
}

// Enter and Escape in an edit are the IDOK and IDCANCEL commands and close
// nothing (no button is the default); Enter or Space press a focused button;
// Tab visits the tab stops in creation order.
TEST(DialogKeys, EnterEscapeSpaceAndTab)
{
    Recorder recorder;
    recorder.override = [](HWND, UINT message, WPARAM wParam, LPARAM) -> std::optional<INT_PTR> {
        if (message == WM_COMMAND && LOWORD(wParam) == ID_BUTTON_FIRST)
            return TRUE; // stays open
        return std::nullopt;
    };
    EXPECT_EQ(WithTestDialog([&](QtDriver &driver) {
                  ASSERT_EQ(driver.FocusedId(), ID_EDIT_WIDE);
                  driver.Press(Key::Enter);
                  driver.Press(Key::Escape);
                  for (QPushButton *button : driver.Window()->findChildren<QPushButton *>())
                      EXPECT_FALSE(button->isDefault()) << button->text().toStdString();
                  std::vector<int> visited{driver.FocusedId()};
                  for (int i = 0; i < 5; ++i)
                      driver.Press(Key::Tab), visited.push_back(driver.FocusedId());
                  EXPECT_EQ(visited, (std::vector<int>{201, 204, 205, 207, 208, 201}));
                  driver.Press(Key::BackTab);
                  EXPECT_EQ(driver.FocusedId(), ID_EDIT_FRAMED);
                  driver.Press(Key::Tab), driver.Press(Key::Tab), driver.Press(Key::Tab);
                  ASSERT_EQ(driver.FocusedId(), ID_BUTTON_FIRST);
                  driver.Press(Key::Enter);
                  driver.Press(Key::Space);
                  driver.Press(Key::Tab);
                  driver.Press(Key::Space);
              }),
              1000 + ID_BUTTON_SECOND);
    EXPECT_EQ(recorder.Commands(),
              (Ids{IDOK, IDCANCEL, ID_BUTTON_FIRST, ID_BUTTON_FIRST, ID_BUTTON_SECOND}));
}

// Texts are Windows-1252: every byte survives in every kind of control, and
// a typed character outside the code page reads back as '?'. A read copies
// at most one less than the buffer and terminates it.
TEST(DialogText, BytesSurviveTypedTextReadsInTheCodePageAndReadsFitTheBuffer)
{
    std::string all;
    for (int byte = 0x01; byte <= 0xFF; ++byte)
        all.push_back(static_cast<char>(byte));
    Recorder recorder;
    WithTestDialog([&](QtDriver &driver) {
        HWND dialog = recorder.dialog;
        for (int id : {ID_EDIT_WIDE, ID_LABEL_LEFT, ID_BUTTON_FIRST}) {
            ASSERT_TRUE(SetDlgItemTextA(dialog, id, all.c_str()));
            EXPECT_EQ(DialogText(dialog, id), all) << "control " << id;
        }
        EXPECT_EQ(driver.Text(ID_EDIT_WIDE), all);
        driver.TypeUnicode(ID_EDIT_WIDE, U"a\u20AC\u0416\u00E9b");
        EXPECT_EQ(DialogText(dialog, ID_EDIT_WIDE), "a\x80?\xE9"
                                                    "b");
        driver.Type(ID_EDIT_WIDE, "TEST \xA3\x9F");
        EXPECT_EQ(DialogText(dialog, ID_EDIT_WIDE), "TEST \xA3\x9F");

        ASSERT_TRUE(SetDlgItemTextA(dialog, ID_EDIT_WIDE, "abcdefgh"));
        auto read = [&](int id, int size) { // the count, and the buffer's first bytes
            char buffer[8] = "xxxxxxx";
            const UINT count = GetDlgItemTextA(dialog, id, buffer, size);
            return std::to_string(count) + " " + std::string(buffer, 6);
        };
        EXPECT_EQ(read(ID_EDIT_WIDE, 5), std::string("4 abcd\0x", 8));
        EXPECT_EQ(read(ID_EDIT_WIDE, 1), std::string("0 \0xxxxx", 8));
        EXPECT_EQ(read(ID_EDIT_WIDE, 0), "0 xxxxxx") << "no room, nothing written";
        EXPECT_EQ(read(999, 8), std::string("0 \0xxxxx", 8));
        EXPECT_FALSE(SetDlgItemTextA(dialog, 999, "x"));
        EXPECT_FALSE(SetDlgItemTextA(nullptr, ID_EDIT_WIDE, "x"));
        EXPECT_TRUE(SetDlgItemTextA(dialog, ID_EDIT_WIDE, nullptr));
        EXPECT_EQ(DialogText(dialog, ID_EDIT_WIDE), "");
        EndDialog(dialog, 1);
    });
}

// Whether an edit shows its text from the first character: QLineEdit sets
// its scroll position when painted.
bool ShowsTextFromItsStart(QLineEdit *edit)
{
    edit->grab();
    return edit->cursorPositionAt(QPoint(edit->textMargins().left() + 3, edit->height() / 2)) == 0;
}

// Typing stops once the text fills the edit, which never scrolls; a longer
// text from the program is kept whole, and can be shortened, not lengthened.
TEST(DialogEdit, TypingStopsWhenTheTextFillsTheEditALongerTextIsKept)
{
    const std::string longText = "107.9 MHz and then a good deal more than fits";
    Recorder recorder;
    WithTestDialog([&](QtDriver &driver) {
        auto *edit = ControlOf<QLineEdit>(driver, ID_EDIT_NARROW);
        auto text = [&] { return DialogText(recorder.dialog, ID_EDIT_NARROW); };
        driver.Type(ID_EDIT_NARROW, std::string(20, 'W'));
        const std::string full = text();
        EXPECT_GE(full.size(), 2u);
        EXPECT_EQ(full, std::string(std::min<size_t>(full.size(), 19), 'W'));
        EXPECT_TRUE(ShowsTextFromItsStart(edit)) << "the text never scrolls";
        EXPECT_LE(edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().right(), edit->width());
        driver.Press(Key::Backspace); // a narrower character takes the room
        QTest::keyClick(edit, 'i');
        EXPECT_EQ(text(), full.substr(1) + "i");

        ASSERT_TRUE(SetDlgItemTextA(recorder.dialog, ID_EDIT_NARROW, longText.c_str()));
        EXPECT_EQ(text(), longText);
        EXPECT_TRUE(ShowsTextFromItsStart(edit));
        driver.Press(Key::End);
        driver.Press(Key::Backspace);
        QTest::keyClick(edit, 'W');
        EXPECT_EQ(text(), longText.substr(0, longText.size() - 1));
        EndDialog(recorder.dialog, 1);
    });
}

} // namespace
