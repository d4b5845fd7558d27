// Dialogs built from their templates: controls, layout, messages to the
// dialog procedure, keys, and the texts of controls.
#include "QtDriver.h"
#include "QtPlatform.h"
#include "TestDialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QtTest/QTest>

#include <string>

namespace {

template <class T = QWidget> T *ControlOf(const QtDriver &driver, int id)
{
    QWidget *window = driver.Window();
    return window ? window->findChild<T *>(QString::number(id), Qt::FindDirectChildrenOnly)
                  : nullptr;
}

// Pixels of dialog units at 9-point Tahoma's base units, 7 x 14.
QRect Pixels(int x, int y, int cx, int cy)
{
    using platform::MulDiv;
    return QRect(MulDiv(x, 7, 4), MulDiv(y, 14, 8), MulDiv(cx, 7, 4), MulDiv(cy, 14, 8));
}

std::string DialogText(HWND dialog, int id)
{
    char buffer[1024];
    UINT count = GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
    return std::string(buffer, count);
}

// The columns holding pixels other than the background, within inner.
std::pair<int, int> InkColumns(const QImage &image, const QRect &inner, QRgb background)
{
    int left = image.width(), right = -1;
    for (int y = inner.top(); y <= inner.bottom(); ++y) {
        for (int x = inner.left(); x <= inner.right(); ++x) {
            if (image.pixel(x, y) != background) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    return {left, right};
}

QImage Picture(QWidget *widget) { return widget->grab().toImage(); }

TEST(DialogTemplate, MissingTemplateOrUnknownControlClassGivesMinusOne)
{
    Recorder recorder;
    EXPECT_EQ(RunTestDialog(999), -1);
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_CONTROLS), nullptr, Recorder::Proc, 0),
              -1);
    EXPECT_EQ(DialogBoxParamA(&TestInstance, "IDD_CONTROLS", nullptr, Recorder::Proc, 0), -1);
    EXPECT_EQ(RunTestDialog(IDD_BAD_CLASS), -1);
    EXPECT_TRUE(recorder.messages.empty()) << "no dialog procedure runs for a failed dialog";
}

TEST(DialogTemplate, BuildsCaptionAndControlsInOrderAtTheirPixelPositions)
{
    Recorder recorder;
    QtDriver driver;
    driver.OnNextWindow([&] {
        QWidget *dialog = driver.Window();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(driver.Caption(), "Test dialog");
        EXPECT_EQ(dialog->size(), QSize(350, 175)); // 200 x 100 dialog units

        QList<QWidget *> controls = dialog->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
        std::vector<int> ids;
        for (QWidget *control : controls)
            ids.push_back(control->objectName().toInt());
        EXPECT_EQ(ids, (std::vector<int>{201, 202, 203, 204, 205, 206, 207, 208, 209}));

        auto *edit = ControlOf<QLineEdit>(driver, ID_EDIT_WIDE);
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->geometry(), QRect(18, 18, 140, 21)); // 10, 10, 80, 12
        EXPECT_EQ(edit->text(), "edit text");
        EXPECT_TRUE(edit->alignment() & Qt::AlignLeft);
        EXPECT_NE(ControlOf<QLabel>(driver, ID_LABEL_RIGHT), nullptr);
        auto *button = ControlOf<QPushButton>(driver, ID_BUTTON_SECOND); // class "button"
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->geometry(), Pixels(70, 70, 50, 14));
        EXPECT_EQ(button->text(), "Second");
        EXPECT_EQ(ControlOf(driver, ID_EDIT_NARROW)->geometry(), Pixels(10, 30, 26, 10));
        EXPECT_EQ(ControlOf(driver, ID_EDIT_FRAMED)->geometry(), Pixels(10, 45, 60, 16));
        driver.Click(ID_BUTTON_FIRST);
    });
    EXPECT_EQ(RunTestDialog(IDD_CONTROLS), 1000 + ID_BUTTON_FIRST);
}

TEST(DialogTemplate, SizingBorderAndBoxesAndResizingMovesNoControl)
{
    Recorder recorder;
    QtDriver driver;
    driver.OnNextWindow([&] {
        QWidget *dialog = driver.Window();
        Qt::WindowFlags flags = dialog->windowFlags();
        EXPECT_TRUE(flags & Qt::WindowTitleHint);
        EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
        EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
        EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
        EXPECT_TRUE(flags & Qt::WindowMaximizeButtonHint);

        std::vector<QRect> before;
        for (QWidget *control : dialog->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            before.push_back(control->geometry());
        dialog->resize(600, 400);
        EXPECT_EQ(dialog->size(), QSize(600, 400)) << "the dialog can be resized";
        dialog->resize(200, 100);
        std::vector<QRect> after;
        for (QWidget *control : dialog->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            after.push_back(control->geometry());
        EXPECT_EQ(before, after);
        driver.Click(ID_BUTTON_FIRST);
    });
    RunTestDialog(IDD_CONTROLS);

    // Without WS_THICKFRAME the size is fixed, and there are no min/max boxes.
    QtDriver fixed;
    fixed.OnNextWindow([&] {
        QWidget *dialog = fixed.Window();
        EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
        EXPECT_FALSE(dialog->windowFlags() & Qt::WindowMaximizeButtonHint);
        EXPECT_TRUE(dialog->windowFlags() & Qt::WindowCloseButtonHint);
        EndDialog(recorder.dialog, 5);
    });
    EXPECT_EQ(RunTestDialog(IDD_FIXED), 5);
}

TEST(DialogTemplate, StaticTextsAlignAsStyledAndShowTheirTextAsPlainText)
{
    Recorder recorder;
    QtDriver driver;
    driver.OnNextWindow([&] {
        QRgb face = driver.Window()->palette().color(QPalette::Window).rgb();

        QWidget *left = ControlOf(driver, ID_LABEL_LEFT);
        auto [leftInk, leftEnd] = InkColumns(Picture(left), left->rect(), face);
        EXPECT_LE(leftInk, 2) << "SS_LEFT text starts at the left edge";
        EXPECT_LT(leftEnd, left->width() / 2);

        QWidget *right = ControlOf(driver, ID_LABEL_RIGHT); // has a border
        auto [rightInk, rightEnd] =
            InkColumns(Picture(right), right->rect().adjusted(1, 1, -1, -1), face);
        EXPECT_GE(rightEnd, right->width() - 4) << "SS_RIGHT text ends at the right edge";
        EXPECT_GT(rightInk, right->width() / 2);

        // "<b>bold</b>" is shown as those eleven characters, not as markup.
        auto *markup = ControlOf<QLabel>(driver, ID_LABEL_MARKUP);
        auto [markupInk, markupEnd] =
            InkColumns(Picture(markup), markup->rect().adjusted(2, 2, -2, -2), face);
        int shown = markupEnd - markupInk + 1;
        QFontMetrics metrics(markup->font());
        EXPECT_GT(shown, metrics.horizontalAdvance("bold") + metrics.horizontalAdvance("<b>"));
        EXPECT_EQ(DialogText(recorder.dialog, ID_LABEL_MARKUP), "<b>bold</b>");
        driver.Click(ID_BUTTON_FIRST);
    });
    RunTestDialog(IDD_CONTROLS);
}

TEST(DialogTemplate, FramesAreDrawnAsWin32DrawsItsEdges)
{
    Recorder recorder;
    QtDriver driver;
    driver.OnNextWindow([&] {
        const QPalette palette = driver.Window()->palette();
        auto colour = [&](QPalette::ColorRole role) { return palette.color(role).rgb(); };
        // Down the middle column of a control, from its top and from its bottom.
        auto top = [](const QImage &image, int row) { return image.pixel(image.width() / 2, row); };
        auto bottom = [](const QImage &image, int row) {
            return image.pixel(image.width() / 2, image.height() - 1 - row);
        };

        QImage border = Picture(ControlOf(driver, ID_LABEL_RIGHT)); // WS_BORDER
        EXPECT_EQ(top(border, 0), colour(QPalette::WindowText));
        EXPECT_EQ(bottom(border, 0), colour(QPalette::WindowText));
        EXPECT_EQ(border.pixel(0, border.height() / 2), colour(QPalette::WindowText));
        EXPECT_EQ(top(border, 1), colour(QPalette::Window)) << "a one-pixel line";

        QImage staticEdge = Picture(ControlOf(driver, ID_EDIT_WIDE)); // sunken, 1 pixel
        EXPECT_EQ(top(staticEdge, 0), colour(QPalette::Dark));
        EXPECT_EQ(bottom(staticEdge, 0), colour(QPalette::Light));
        EXPECT_EQ(staticEdge.pixel(2, staticEdge.height() / 2), colour(QPalette::Base))
            << "an edit's background";

        QImage clientEdge = Picture(ControlOf(driver, ID_LABEL_MARKUP)); // sunken, 2 pixels
        EXPECT_EQ(top(clientEdge, 0), colour(QPalette::Dark));
        EXPECT_EQ(top(clientEdge, 1), colour(QPalette::Shadow));
        EXPECT_EQ(bottom(clientEdge, 0), colour(QPalette::Light));
        EXPECT_EQ(bottom(clientEdge, 1), colour(QPalette::Midlight));

        QImage modalFrame = Picture(ControlOf(driver, ID_EDIT_FRAMED)); // raised, double
        EXPECT_EQ(top(modalFrame, 0), colour(QPalette::Midlight));
        EXPECT_EQ(top(modalFrame, 1), colour(QPalette::Light));
        EXPECT_EQ(top(modalFrame, 2), colour(QPalette::Button));
        EXPECT_EQ(bottom(modalFrame, 0), colour(QPalette::Shadow));
        EXPECT_EQ(bottom(modalFrame, 1), colour(QPalette::Dark));
        EXPECT_EQ(top(modalFrame, 3), colour(QPalette::Base));

        QImage plain = Picture(ControlOf(driver, ID_LABEL_LEFT));
        EXPECT_EQ(top(plain, 0), colour(QPalette::Window)) << "no frame";
        driver.Click(ID_BUTTON_FIRST);
    });
    RunTestDialog(IDD_CONTROLS);
}

TEST(DialogFont, TahomaHasWindowsBaseUnitsWhateverTheScreen)
{
    platform::DialogFont nine = platform::LoadDialogFont("Tahoma", 9, 400, false);
    EXPECT_EQ(QFontInfo(nine.font).family(), "Tahoma");
    EXPECT_EQ(nine.font.pixelSize(), 12);
    EXPECT_EQ(nine.baseX, 7);
    EXPECT_EQ(nine.baseY, 14);

    platform::DialogFont eight = platform::LoadDialogFont("tahoma", 8, 400, false);
    EXPECT_EQ(eight.font.pixelSize(), 11);
    EXPECT_EQ(eight.baseX, 6);
    EXPECT_EQ(eight.baseY, 13);
}

TEST(DialogFont, MissingTypefaceFallsBackToASansFontAndItsOwnMetrics)
{
    platform::DialogFont font = platform::LoadDialogFont("No Such Typeface", 9, 400, false);
    QFontMetrics metrics(font.font);
    EXPECT_NE(QFontInfo(font.font).family(), "No Such Typeface");
    EXPECT_EQ(font.baseY, metrics.height());
    int extent = metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(font.baseX, (extent / 26 + 1) / 2);

    // Its dialog still shows a label's text whole in the label's width.
    Recorder recorder;
    QtDriver driver;
    driver.OnNextWindow([&] {
        auto *label = ControlOf<QLabel>(driver, ID_LABEL_LEFT);
        ASSERT_NE(label, nullptr);
        EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()),
                  label->contentsRect().width());
        EXPECT_LE(QFontMetrics(label->font()).height(), label->contentsRect().height());
        EndDialog(recorder.dialog, 1);
    });
    RunTestDialog(IDD_FIXED);
}

TEST(DialogPosition, DialogUnitsFromTheOwnersClientAreaOrTheScreen)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpszClassName = "PositionOwner";
    windowClass.lpfnWndProc = DefWindowProcA;
    ASSERT_NE(RegisterClassExA(&windowClass), 0);
    HWND owner = CreateWindowExA(0, "PositionOwner", "Owner", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                 CW_USEDEFAULT, 544, 375, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    QPoint ownerOrigin = platform::WidgetOf(owner)->geometry().topLeft();

    Recorder recorder;
    QtDriver driver;
    driver.OnNextWindow([&] {
        EXPECT_EQ(driver.Window()->pos(), ownerOrigin + QPoint(18, 35)); // 10, 20 dialog units
        EndDialog(recorder.dialog, 1);
    });
    RunTestDialog(IDD_CONTROLS, owner);

    QtDriver unowned;
    unowned.OnNextWindow([&] {
        QPoint screenOrigin = QGuiApplication::primaryScreen()->availableGeometry().topLeft();
        EXPECT_EQ(unowned.Window()->pos(), screenOrigin + QPoint(18, 35));
        EndDialog(recorder.dialog, 1);
    });
    RunTestDialog(IDD_CONTROLS);
    DestroyWindow(owner);
}

TEST(DialogMessages, InitDialogComesBeforeTheDialogShowsWithTheInitialisationValue)
{
    Recorder recorder;
    bool visibleAtInit = true;
    recorder.override = [&](HWND dialog, UINT message, WPARAM, LPARAM) -> std::optional<INT_PTR> {
        if (message == WM_INITDIALOG)
            visibleAtInit = platform::WidgetOf(dialog)->isVisible();
        return std::nullopt;
    };
    QtDriver driver;
    driver.OnNextWindow([&] {
        // The first tab stop has the focus, its text selected and shown from
        // its start.
        EXPECT_EQ(driver.FocusedId(), ID_EDIT_WIDE);
        auto *edit = ControlOf<QLineEdit>(driver, ID_EDIT_WIDE);
        EXPECT_EQ(edit->selectedText(), "edit text");
        EXPECT_EQ(edit->cursorPosition(), 0);
        driver.Click(ID_BUTTON_FIRST);
    });
    RunTestDialog(IDD_CONTROLS, nullptr, 0x5A5A);
    ASSERT_FALSE(recorder.messages.empty());
    EXPECT_EQ(recorder.messages.front().message, static_cast<UINT>(WM_INITDIALOG));
    EXPECT_EQ(recorder.messages.front().lParam, 0x5A5A);
    EXPECT_FALSE(visibleAtInit);
    EXPECT_EQ(recorder.messages.back().message, static_cast<UINT>(WM_DESTROY));
}

// Counts the dialogs shown.
class ShowCounter : public QObject {
public:
    ShowCounter() { qApp->installEventFilter(this); }
    ~ShowCounter() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (event->type() == QEvent::Show && qobject_cast<QDialog *>(object))
            ++shown;
        return false;
    }
    int shown = 0;
};

TEST(DialogMessages, DialogEndedDuringInitDialogIsNeverShown)
{
    Recorder recorder;
    recorder.override = [](HWND dialog, UINT message, WPARAM, LPARAM) -> std::optional<INT_PTR> {
        if (message == WM_INITDIALOG) {
            EndDialog(dialog, 77);
            return TRUE;
        }
        return std::nullopt;
    };
    ShowCounter counter;
    EXPECT_EQ(RunTestDialog(IDD_CONTROLS), 77);
    EXPECT_EQ(counter.shown, 0);
    EXPECT_EQ(recorder.Count(WM_DESTROY), 1);
}

TEST(DialogMessages, ResultIsReturnedWhole)
{
    const INT_PTR wide = static_cast<INT_PTR>(0x7123456789ABCDEFLL);
    Recorder recorder;
    QtDriver driver;
    driver.OnNextWindow([&] { EndDialog(recorder.dialog, wide); });
    EXPECT_EQ(RunTestDialog(IDD_CONTROLS), wide);
    EXPECT_FALSE(EndDialog(nullptr, 1));
}

TEST(DialogMessages, ButtonClickSendsCommandWithTheButtonsIdAndClickedCode)
{
    Recorder recorder;
    QtDriver driver;
    driver.OnNextWindow([&] { driver.Click(ID_BUTTON_SECOND); });
    EXPECT_EQ(RunTestDialog(IDD_CONTROLS), 1000 + ID_BUTTON_SECOND);
    std::vector<WPARAM> commands;
    for (const Message &m : recorder.messages) {
        if (m.message == WM_COMMAND)
            commands.push_back(m.wParam);
    }
    EXPECT_EQ(commands, std::vector<WPARAM>{ID_BUTTON_SECOND}) << "high word BN_CLICKED, 0";
}

TEST(DialogMessages, CloseBoxAndAltF4SendWmCloseAndCloseNothingThemselves)
{
    Recorder recorder;
    recorder.override = [](HWND, UINT message, WPARAM, LPARAM) -> std::optional<INT_PTR> {
        if (message == WM_CLOSE)
            return TRUE; // handled, and the dialog stays
        return std::nullopt;
    };
    QtDriver driver;
    driver.OnNextWindow([&] {
        driver.CloseWindow();
        EXPECT_EQ(recorder.Count(WM_CLOSE), 1);
        driver.Press(QtDriver::Key::AltF4);
        EXPECT_EQ(recorder.Count(WM_CLOSE), 2);
        EXPECT_TRUE(driver.Window() && driver.Window()->isVisible());
        driver.Click(ID_BUTTON_FIRST);
    });
    EXPECT_EQ(RunTestDialog(IDD_CONTROLS), 1000 + ID_BUTTON_FIRST);
    EXPECT_EQ(recorder.Commands(), std::vector<WORD>{ID_BUTTON_FIRST});
}

TEST(DialogMessages, UnhandledWmCloseBecomesTheCancelCommand)
{
    Recorder recorder;
    recorder.override = [](HWND dialog, UINT message, WPARAM wParam,
                           LPARAM) -> std::optional<INT_PTR> {
        if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 42);
            return TRUE;
        }
        return std::nullopt;
    };
    QtDriver driver;
    driver.OnNextWindow([&] { driver.CloseWindow(); });
    EXPECT_EQ(RunTestDialog(IDD_CONTROLS), 42);
    EXPECT_EQ(recorder.Count(WM_CLOSE), 1);
}

TEST(DialogKeys, EnterAndEscapeInAnEditSendOkAndCancelAndCloseNothing)
{
    Recorder recorder;
    QtDriver driver;
    driver.OnNextWindow([&] {
        ASSERT_EQ(driver.FocusedId(), ID_EDIT_WIDE);
        driver.Press(QtDriver::Key::Enter);
        driver.Press(QtDriver::Key::Escape);
        EXPECT_TRUE(driver.Window() && driver.Window()->isVisible());
        for (QPushButton *button : driver.Window()->findChildren<QPushButton *>())
            EXPECT_FALSE(button->isDefault()) << button->text().toStdString();
        driver.Click(ID_BUTTON_FIRST);
    });
    RunTestDialog(IDD_CONTROLS);
    EXPECT_EQ(recorder.Commands(), (std::vector<WORD>{IDOK, IDCANCEL, ID_BUTTON_FIRST}));
}

TEST(DialogKeys, TabVisitsEditsAndButtonsInCreationOrder)
{
    Recorder recorder;
    QtDriver driver;
    driver.OnNextWindow([&] {
        std::vector<int> visited{driver.FocusedId()};
        for (int i = 0; i < 5; ++i) {
            driver.Press(QtDriver::Key::Tab);
            visited.push_back(driver.FocusedId());
        }
        EXPECT_EQ(visited, (std::vector<int>{201, 204, 205, 207, 208, 201}));
        driver.Press(QtDriver::Key::BackTab);
        EXPECT_EQ(driver.FocusedId(), ID_EDIT_FRAMED);
        EndDialog(recorder.dialog, 1);
    });
    RunTestDialog(IDD_CONTROLS);
}

TEST(DialogKeys, EnterOrSpaceOnAFocusedButtonPressesIt)
{
    Recorder recorder;
    recorder.override = [](HWND, UINT message, WPARAM wParam, LPARAM) -> std::optional<INT_PTR> {
        if (message == WM_COMMAND && LOWORD(wParam) == ID_BUTTON_FIRST)
            return TRUE; // stays open
        return std::nullopt;
    };
    QtDriver driver;
    driver.OnNextWindow([&] {
        driver.Press(QtDriver::Key::Tab);
        driver.Press(QtDriver::Key::Tab);
        ASSERT_EQ(driver.FocusedId(), ID_BUTTON_FIRST);
        driver.Press(QtDriver::Key::Enter);
        driver.Press(QtDriver::Key::Space);
        driver.Press(QtDriver::Key::Tab);
        driver.Press(QtDriver::Key::Space);
    });
    EXPECT_EQ(RunTestDialog(IDD_CONTROLS), 1000 + ID_BUTTON_SECOND);
    EXPECT_EQ(recorder.Commands(),
              (std::vector<WORD>{ID_BUTTON_FIRST, ID_BUTTON_FIRST, ID_BUTTON_SECOND}));
}

TEST(DialogText, EveryByteSurvivesSetThenGetInEveryKindOfControl)
{
    std::string all;
    for (int byte = 0x01; byte <= 0xFF; ++byte)
        all.push_back(static_cast<char>(byte));

    Recorder recorder;
    QtDriver driver;
    driver.OnNextWindow([&] {
        for (int byte = 0x01; byte <= 0xFF; ++byte) {
            std::string one(1, static_cast<char>(byte));
            ASSERT_TRUE(SetDlgItemTextA(recorder.dialog, ID_EDIT_NARROW, one.c_str()));
            ASSERT_EQ(DialogText(recorder.dialog, ID_EDIT_NARROW), one) << "byte " << byte;
        }
        for (int id : {ID_EDIT_WIDE, ID_LABEL_LEFT, ID_BUTTON_FIRST}) {
            ASSERT_TRUE(SetDlgItemTextA(recorder.dialog, id, all.c_str()));
            EXPECT_EQ(DialogText(recorder.dialog, id), all) << "control " << id;
        }
        EXPECT_EQ(driver.Text(ID_EDIT_WIDE), all);
        EndDialog(recorder.dialog, 1);
    });
    RunTestDialog(IDD_CONTROLS);
}

TEST(DialogText, TypedTextReadsBackInTheCodePageWithQuestionMarksForTheRest)
{
    Recorder recorder;
    QtDriver driver;
    driver.OnNextWindow([&] {
        driver.TypeUnicode(ID_EDIT_WIDE, U"a\u20AC\u0416\u00E9b");
        EXPECT_EQ(DialogText(recorder.dialog, ID_EDIT_WIDE), "a\x80?\xE9" "b");
        driver.Type(ID_EDIT_WIDE, "TEST \xA3\x9F");
        EXPECT_EQ(DialogText(recorder.dialog, ID_EDIT_WIDE), "TEST \xA3\x9F");
        EndDialog(recorder.dialog, 1);
    });
    RunTestDialog(IDD_CONTROLS);
}

TEST(DialogText, GetCopiesAtMostOneLessThanTheBufferAndTerminates)
{
    Recorder recorder;
    QtDriver driver;
    driver.OnNextWindow([&] {
        HWND dialog = recorder.dialog;
        ASSERT_TRUE(SetDlgItemTextA(dialog, ID_EDIT_WIDE, "abcdefgh"));
        char buffer[8];
        std::fill(std::begin(buffer), std::end(buffer), 'x');
        EXPECT_EQ(GetDlgItemTextA(dialog, ID_EDIT_WIDE, buffer, 5), 4u);
        EXPECT_EQ(std::string(buffer, 6), std::string("abcd\0x", 6));
        EXPECT_EQ(GetDlgItemTextA(dialog, ID_EDIT_WIDE, buffer, 1), 0u);
        EXPECT_EQ(buffer[0], '\0');
        buffer[0] = 'x';
        EXPECT_EQ(GetDlgItemTextA(dialog, ID_EDIT_WIDE, buffer, 0), 0u);
        EXPECT_EQ(buffer[0], 'x') << "no room, nothing written";
        EXPECT_EQ(GetDlgItemTextA(dialog, 999, buffer, 8), 0u);
        EXPECT_EQ(buffer[0], '\0');
        EXPECT_FALSE(SetDlgItemTextA(dialog, 999, "x"));
        EXPECT_FALSE(SetDlgItemTextA(nullptr, ID_EDIT_WIDE, "x"));
        EXPECT_TRUE(SetDlgItemTextA(dialog, ID_EDIT_WIDE, nullptr));
        EXPECT_EQ(DialogText(dialog, ID_EDIT_WIDE), "");
        EndDialog(dialog, 1);
    });
    RunTestDialog(IDD_CONTROLS);
}

// Whether an edit shows its text from the first character: QLineEdit sets
// its scroll position when painted.
bool ShowsTextFromItsStart(QLineEdit *edit)
{
    edit->grab();
    QPoint textStart(edit->textMargins().left() + 3, edit->height() / 2);
    return edit->cursorPositionAt(textStart) == 0;
}

TEST(DialogEdit, TypingStopsWhenTheTextFillsTheEdit)
{
    Recorder recorder;
    QtDriver driver;
    driver.OnNextWindow([&] {
        auto *edit = ControlOf<QLineEdit>(driver, ID_EDIT_NARROW);
        driver.Type(ID_EDIT_NARROW, std::string(20, 'W'));
        std::string full = DialogText(recorder.dialog, ID_EDIT_NARROW);
        EXPECT_GE(full.size(), 2u);
        EXPECT_LT(full.size(), 20u);
        EXPECT_EQ(full.find_first_not_of('W'), std::string::npos);
        EXPECT_TRUE(ShowsTextFromItsStart(edit)) << "the text never scrolls";
        EXPECT_LE(edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().right(), edit->width());

        // Deleting works, and a narrower character takes the room.
        driver.Press(QtDriver::Key::Backspace);
        EXPECT_EQ(DialogText(recorder.dialog, ID_EDIT_NARROW), full.substr(1));
        QTest::keyClick(edit, 'i');
        EXPECT_EQ(DialogText(recorder.dialog, ID_EDIT_NARROW), full.substr(1) + "i");
        EndDialog(recorder.dialog, 1);
    });
    RunTestDialog(IDD_CONTROLS);
}

TEST(DialogEdit, ALongerTextFromTheProgramIsKeptWholeAndShownFromItsStart)
{
    const std::string longText = "107.9 MHz and then a good deal more than fits";
    Recorder recorder;
    QtDriver driver;
    driver.OnNextWindow([&] {
        auto *edit = ControlOf<QLineEdit>(driver, ID_EDIT_NARROW);
        ASSERT_TRUE(SetDlgItemTextA(recorder.dialog, ID_EDIT_NARROW, longText.c_str()));
        EXPECT_EQ(DialogText(recorder.dialog, ID_EDIT_NARROW), longText);
        EXPECT_TRUE(ShowsTextFromItsStart(edit));

        // It can be shortened, not lengthened.
        edit->setFocus();
        driver.Press(QtDriver::Key::End);
        driver.Press(QtDriver::Key::Backspace);
        EXPECT_EQ(DialogText(recorder.dialog, ID_EDIT_NARROW), longText.substr(0, longText.size() - 1));
        QTest::keyClick(edit, 'W');
        EXPECT_EQ(DialogText(recorder.dialog, ID_EDIT_NARROW), longText.substr(0, longText.size() - 1));
        EndDialog(recorder.dialog, 1);
    });
    RunTestDialog(IDD_CONTROLS);
}

} // namespace
