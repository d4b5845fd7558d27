// Dialog 1000 as built from the program's template: every control's id,
// kind, initial text, rectangle, frame and alignment against the dialog's
// control table and AF grid, in dialog units of 9-point Tahoma (7 x 14).
#include "QtDriver.h"
#include "resource.h"
#include "windows.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QWidget>

#include <cstdio>

namespace {

// Kinds: E edit, B push button, L left-aligned and R right-aligned static text.
struct Control {
    int id;
    char kind;
    std::string text;
    int x, y, w, h;
    std::string frame; // its rings from the outside in, top:bottom, as Win32 draws them
};

const std::string None = "none", Border = "WindowText:WindowText", Static = "Dark:Light",
                  Client = "Dark:Light Shadow:Midlight",
                  Modal = "Midlight:Shadow Light:Dark Button:Button",
                  ClientModal = Modal + " " + Client;

const char *const RtSample = "1234567890123456789012345678901234567890123456789012345678901234";

const std::vector<Control> Table = {
    {1001, 'L', "Current Data (RAM)", 1, 8, 79, 12, Client},
    {1002, 'L', "PS Name=", 3, 27, 36, 10, Border},
    {1003, 'E', "12345678", 44, 25, 45, 16, ClientModal},
    {1004, 'E', RtSample, 44, 42, 262, 12, Static},
    {1005, 'L', "RadioTxt=", 3, 42, 36, 10, None},
    {1006, 'L', "PTY=", 101, 27, 22, 10, None},
    {1007, 'E', "16", 128, 27, 19, 10, Static},
    {1008, 'L', "TP=", 250, 27, 17, 10, None},
    {1009, 'E', "0", 270, 27, 12, 10, Static},
    {1010, 'E', "0", 313, 27, 12, 10, Client},
    {1011, 'L', "TA=", 291, 27, 17, 10, Border},
    {1012, 'B', "OK", 204, 221, 69, 16, None},
    {1013, 'B', "Cancel", 286, 221, 40, 16, None},
    {1014, 'E', "0", 186, 27, 12, 10, Static},
    {1015, 'L', "MS=", 166, 27, 17, 10, None},
    {1016, 'E', "0", 228, 27, 12, 10, Static},
    {1017, 'L', "DI=", 207, 27, 17, 10, None},
    {1018, 'E', "0", 313, 92, 12, 10, Static},
    {1019, 'L', "TA=", 291, 92, 17, 10, None},
    {1020, 'E', "0", 270, 92, 12, 10, Static},
    {1021, 'L', "TP=", 250, 92, 17, 10, None},
    {1022, 'E', "0", 228, 92, 12, 10, Static},
    {1023, 'L', "DI=", 207, 92, 17, 10, None},
    {1024, 'E', "0", 186, 92, 12, 10, Static},
    {1025, 'L', "MS=", 166, 92, 17, 10, None},
    {1026, 'E', "16", 128, 92, 19, 10, Static},
    {1027, 'L', "PTY=", 101, 92, 22, 10, None},
    {1028, 'E', RtSample, 44, 108, 262, 12, Static},
    {1029, 'E', "12345678", 44, 90, 45, 16, ClientModal},
    {1030, 'L', "RadioTxt=", 3, 108, 36, 10, None},
    {1031, 'L', "PS Name=", 3, 92, 36, 10, Border},
    {1032, 'L', "Default Data (EEPROM)", 3, 75, 79, 12, Client},
    {1033, 'E', "0xFFFF", 44, 123, 33, 14, Modal},
    {1034, 'L', "PI Code=", 3, 125, 36, 10, None},
    {1035, 'E', "25", 186, 125, 19, 10, Static},
    {1036, 'L', "Used AF(25max)=", 120, 125, 60, 10, None},
    {1087, 'B', "Reset", 3, 226, 33, 10, None},
    {1088, 'B', "Quit", 152, 221, 36, 16, None},
    {1089, 'B', "Help/About", 279, 1, 57, 14, None},
    {1090, 'L', "www.quorvel.example", 204, 0, 74, 9, None},
    {1091, 'R', "2A Group=", 99, 75, 41, 12, None},
    {1092, 'E', "99", 144, 75, 17, 10, Static},
    {1093, 'E', "1", 272, 75, 12, 10, Static},
    {1094, 'R', "Stereo=", 226, 75, 41, 12, None},
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

std::vector<std::string> Expected()
{
    std::vector<Control> all = Table;
    for (int n = 0; n < 25; n++) {
        const int r = n / 5, c = n % 5, id = AfEditIds[r][c];
        char label[8];
        std::snprintf(label, sizeof label, "AF%02d=", n);
        all.push_back({id, 'E', "107.9", AfEditX[c], AfRowY[r], 26, 10, Static});
        all.push_back({id + 1, 'L', label, AfLabelX[c], AfRowY[r], 24, 10, None});
    }
    std::sort(all.begin(), all.end(), [](auto &a, auto &b) { return a.id < b.id; });
    std::vector<std::string> lines;
    for (const Control &c : all) {
        auto x = [](int units) { return std::to_string((units * 7 + 2) / 4); };
        auto y = [](int units) { return std::to_string((units * 14 + 4) / 8); };
        lines.push_back(std::to_string(c.id) + " " + c.kind + " \"" + c.text + "\" " + x(c.x) +
                        "," + y(c.y) + " " + x(c.w) + "x" + y(c.h) + " " + c.frame);
    }
    return lines;
}

HWND shownDialog = nullptr;

INT_PTR CALLBACK TemplateOnly(HWND dialog, UINT message, WPARAM, LPARAM)
{
    shownDialog = dialog;
    return message == WM_INITDIALOG;
}

// The template without the program's procedure: its caption, font, size,
// boxes and sizing border, every control, and Tab through the edits and
// buttons in id order.
TEST(Layout, EveryControlAsTheTableAndTheGridGiveIt)
{
    QtDriver driver;
    driver.OnNextWindow([&] {
        QWidget *dialog = driver.Window();
        EXPECT_EQ(driver.Caption(), "Quorvel");
        EXPECT_EQ(QFontInfo(dialog->font()).family(), "Tahoma");
        EXPECT_EQ(dialog->size(), QSize(592, 420)); // 338 x 240
        const Qt::WindowFlags boxes = Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                      Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint |
                                      Qt::WindowMaximizeButtonHint;
        EXPECT_EQ(dialog->windowFlags() & boxes, boxes);
        EXPECT_NE(dialog->minimumSize(), dialog->maximumSize()) << "a sizing border";
        const std::vector<std::string> expected = Expected();
        EXPECT_EQ(driver.Controls(), expected);

        std::vector<int> stops, visited{driver.FocusedId()};
        for (const std::string &line : expected)
            if (line[5] == 'E' || line[5] == 'B')
                stops.push_back(std::stoi(line));
        stops.push_back(stops.front()); // and round again
        while (visited.size() < stops.size())
            driver.Press(QtDriver::Key::Tab), visited.push_back(driver.FocusedId());
        EXPECT_EQ(visited, stops);
        EndDialog(shownDialog, IDC_BUTTON_QUIT);
    });
    EXPECT_EQ(
        DialogBoxParamA(&ProgramInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, TemplateOnly, 0),
        IDC_BUTTON_QUIT);
}

} // namespace
