// Dialog 1000 as built from the program's template: every control's id,
// kind, initial text, rectangle, frame and alignment against the dialog's
// control table and AF grid, in dialog units of 9-point Tahoma (7 x 14).
#include "QtDriver.h"
#include "QtPlatform.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cstdio>

namespace {

// Kinds: E edit, B push button, L left-aligned and R right-aligned static text.
struct Control {
    int id;
    char kind;
    std::string text;
    int x, y, w, h;
    std::string frame; // none, border, static, client, modal, client+modal
};

const char *const RtSample = "1234567890123456789012345678901234567890123456789012345678901234";

const std::vector<Control> Table = {
    {1001, 'L', "Current Data (RAM)", 1, 8, 79, 12, "client"},
    {1002, 'L', "PS Name=", 3, 27, 36, 10, "border"},
    {1003, 'E', "12345678", 44, 25, 45, 16, "client+modal"},
    {1004, 'E', RtSample, 44, 42, 262, 12, "static"},
    {1005, 'L', "RadioTxt=", 3, 42, 36, 10, "none"},
    {1006, 'L', "PTY=", 101, 27, 22, 10, "none"},
    {1007, 'E', "16", 128, 27, 19, 10, "static"},
    {1008, 'L', "TP=", 250, 27, 17, 10, "none"},
    {1009, 'E', "0", 270, 27, 12, 10, "static"},
    {1010, 'E', "0", 313, 27, 12, 10, "client"},
    {1011, 'L', "TA=", 291, 27, 17, 10, "border"},
    {1012, 'B', "OK", 204, 221, 69, 16, "none"},
    {1013, 'B', "Cancel", 286, 221, 40, 16, "none"},
    {1014, 'E', "0", 186, 27, 12, 10, "static"},
    {1015, 'L', "MS=", 166, 27, 17, 10, "none"},
    {1016, 'E', "0", 228, 27, 12, 10, "static"},
    {1017, 'L', "DI=", 207, 27, 17, 10, "none"},
    {1018, 'E', "0", 313, 92, 12, 10, "static"},
    {1019, 'L', "TA=", 291, 92, 17, 10, "none"},
    {1020, 'E', "0", 270, 92, 12, 10, "static"},
    {1021, 'L', "TP=", 250, 92, 17, 10, "none"},
    {1022, 'E', "0", 228, 92, 12, 10, "static"},
    {1023, 'L', "DI=", 207, 92, 17, 10, "none"},
    {1024, 'E', "0", 186, 92, 12, 10, "static"},
    {1025, 'L', "MS=", 166, 92, 17, 10, "none"},
    {1026, 'E', "16", 128, 92, 19, 10, "static"},
    {1027, 'L', "PTY=", 101, 92, 22, 10, "none"},
    {1028, 'E', RtSample, 44, 108, 262, 12, "static"},
    {1029, 'E', "12345678", 44, 90, 45, 16, "client+modal"},
    {1030, 'L', "RadioTxt=", 3, 108, 36, 10, "none"},
    {1031, 'L', "PS Name=", 3, 92, 36, 10, "border"},
    {1032, 'L', "Default Data (EEPROM)", 3, 75, 79, 12, "client"},
    {1033, 'E', "0xFFFF", 44, 123, 33, 14, "modal"},
    {1034, 'L', "PI Code=", 3, 125, 36, 10, "none"},
    {1035, 'E', "25", 186, 125, 19, 10, "static"},
    {1036, 'L', "Used AF(25max)=", 120, 125, 60, 10, "none"},
    {1087, 'B', "Reset", 3, 226, 33, 10, "none"},
    {1088, 'B', "Quit", 152, 221, 36, 16, "none"},
    {1089, 'B', "Help/About", 279, 1, 57, 14, "none"},
    {1090, 'L', "www.quorvel.example", 204, 0, 74, 9, "none"},
    {1091, 'R', "2A Group=", 99, 75, 41, 12, "none"},
    {1092, 'E', "99", 144, 75, 17, 10, "static"},
    {1093, 'E', "1", 272, 75, 12, 10, "static"},
    {1094, 'R', "Stereo=", 226, 75, 41, 12, "none"},
};

// The AF grid: edit ids by row and column; each label's id is its edit's + 1.
const int AfEditIds[5][5] = {{1037, 1039, 1041, 1043, 1045},
                             {1055, 1053, 1051, 1049, 1047},
                             {1065, 1063, 1061, 1059, 1057},
                             {1075, 1073, 1071, 1069, 1067},
                             {1085, 1083, 1081, 1079, 1077}};
const int AfRowY[5] = {140, 156, 171, 186, 202};
const int AfLabelX[5] = {5, 68, 132, 195, 258};
const int AfEditX[5] = {34, 97, 161, 224, 288};

std::vector<Control> ExpectedControls()
{
    std::vector<Control> all = Table;
    for (int n = 0; n < 25; n++) {
        const int r = n / 5, c = n % 5, id = AfEditIds[r][c];
        char label[8];
        std::snprintf(label, sizeof label, "AF%02d=", n);
        all.push_back({id, 'E', "107.9", AfEditX[c], AfRowY[r], 26, 10, "static"});
        all.push_back({id + 1, 'L', label, AfLabelX[c], AfRowY[r], 24, 10, "none"});
    }
    std::sort(all.begin(), all.end(), [](auto &a, auto &b) { return a.id < b.id; });
    return all;
}

std::string Describe(int id, char kind, const std::string &text, const QRect &r,
                     const std::string &frame)
{
    char line[160];
    std::snprintf(line, sizeof line, "%d %c \"%s\" %d,%d %dx%d %s", id, kind, text.c_str(), r.x(),
                  r.y(), r.width(), r.height(), frame.c_str());
    return line;
}

QRect Pixels(int x, int y, int w, int h)
{
    using platform::MulDiv;
    return QRect(MulDiv(x, 7, 4), MulDiv(y, 14, 8), MulDiv(w, 7, 4), MulDiv(h, 14, 8));
}

// The frame drawn around a control: how far it reaches in, and the colour
// of its outermost top line.
std::string FrameOf(QWidget *control, int reach)
{
    const QImage image = control->grab().toImage();
    const QRgb top = image.pixel(image.width() / 2, 0);
    auto is = [&](QPalette::ColorRole role) { return top == control->palette().color(role).rgb(); };
    if (reach == 0)
        return "none";
    if (reach == 1)
        return is(QPalette::WindowText) ? "border" : is(QPalette::Dark) ? "static" : "?";
    if (reach == 2 && is(QPalette::Dark))
        return "client";
    if (reach == 3 && is(QPalette::Midlight))
        return "modal";
    if (reach == 5 && is(QPalette::Midlight))
        return "client+modal";
    return "?";
}

std::string Describe(QWidget *control)
{
    const int id = control->objectName().toInt();
    const QRect r = control->geometry();
    if (auto *edit = qobject_cast<QLineEdit *>(control))
        return Describe(id, edit->alignment() & Qt::AlignLeft ? 'E' : 'e',
                        edit->text().toStdString(), r, FrameOf(edit, edit->textMargins().left()));
    if (auto *label = qobject_cast<QLabel *>(control))
        return Describe(id, label->alignment() & Qt::AlignRight ? 'R' : 'L',
                        label->text().toStdString(), r,
                        FrameOf(label, label->contentsMargins().left()));
    if (auto *button = qobject_cast<QPushButton *>(control))
        return Describe(id, 'B', button->text().toStdString(), r, "none");
    return Describe(id, '?', "", r, "");
}

HWND shownDialog = nullptr;

INT_PTR CALLBACK TemplateOnly(HWND dialog, UINT message, WPARAM, LPARAM)
{
    shownDialog = dialog;
    return message == WM_INITDIALOG;
}

// Runs dialog 1000 without the program's procedure, with check on it once shown.
void WithTemplate(const std::function<void(QtDriver &, QWidget *)> &check)
{
    QtDriver driver;
    driver.OnNextWindow([&] {
        check(driver, driver.Window());
        EndDialog(shownDialog, IDC_BUTTON_QUIT);
    });
    EXPECT_EQ(DialogBoxParamA(&ProgramInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, TemplateOnly, 0),
              IDC_BUTTON_QUIT);
}

TEST(Layout, EveryControlAsTheTableAndTheGridGiveIt)
{
    WithTemplate([](QtDriver &driver, QWidget *dialog) {
        EXPECT_EQ(driver.Caption(), "Quorvel");
        EXPECT_EQ(QFontInfo(dialog->font()).family(), "Tahoma");
        EXPECT_EQ(dialog->size(), QSize(592, 420)); // 338 x 240
        const Qt::WindowFlags boxes = Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                      Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint |
                                      Qt::WindowMaximizeButtonHint;
        EXPECT_EQ(dialog->windowFlags() & boxes, boxes);
        EXPECT_NE(dialog->minimumSize(), dialog->maximumSize()) << "a sizing border";

        std::vector<std::string> expected, built;
        for (const Control &c : ExpectedControls())
            expected.push_back(Describe(c.id, c.kind, c.text, Pixels(c.x, c.y, c.w, c.h), c.frame));
        for (QWidget *control : dialog->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            built.push_back(Describe(control)); // in creation order
        EXPECT_EQ(built, expected);
    });
}

TEST(Layout, TabVisitsEveryEditAndButtonInIdOrder)
{
    WithTemplate([](QtDriver &driver, QWidget *) {
        std::vector<int> expected, visited{driver.FocusedId()};
        for (const Control &c : ExpectedControls())
            if (c.kind == 'E' || c.kind == 'B')
                expected.push_back(c.id);
        expected.push_back(expected.front()); // and round again
        while (visited.size() < expected.size()) {
            driver.Press(QtDriver::Key::Tab);
            visited.push_back(driver.FocusedId());
        }
        EXPECT_EQ(visited, expected);
    });
}

} // namespace
