#include "TestDialog.h"

#include <algorithm>
#include <optional>

namespace {

constexpr DWORD Edit = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_LEFT;
constexpr DWORD Button = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD Label = WS_CHILD | WS_VISIBLE | SS_LEFT;

const DLGITEMRESOURCE ControlItems[] = {
    {ID_EDIT_WIDE, "EDIT", "edit text", 10, 10, 80, 12, Edit, WS_EX_STATICEDGE},
    {ID_LABEL_LEFT, "STATIC", "Label", 100, 10, 40, 10, Label, 0},
    {ID_LABEL_RIGHT, "STATIC", "Right", 100, 24, 40, 10, Label | SS_RIGHT | WS_BORDER, 0},
    {ID_EDIT_NARROW, "EDIT", "", 10, 30, 26, 10, Edit, WS_EX_STATICEDGE},
    {ID_BUTTON_FIRST, "BUTTON", "First", 10, 70, 50, 14, Button, 0},
    {ID_LABEL_MARKUP, "STATIC", "<b>bold</b>", 100, 40, 90, 12, Label, WS_EX_CLIENTEDGE},
    {ID_BUTTON_SECOND, "button", "Second", 70, 70, 50, 14, Button, 0},
    {ID_EDIT_FRAMED, "EDIT", "", 10, 45, 60, 16, Edit, WS_EX_DLGMODALFRAME},
    {ID_EDIT_NO_TAB, "EDIT", "", 130, 70, 40, 12, WS_CHILD | WS_VISIBLE | ES_LEFT, 0},
};

// id, caption, style, extended style, x, y, cx, cy, points, weight, italic, typeface
const DLGRESOURCE Controls = {IDD_CONTROLS,
                              "Test dialog",
                              WS_OVERLAPPEDWINDOW | WS_VISIBLE | DS_SETFONT,
                              0,
                              10,
                              20,
                              200,
                              100,
                              9,
                              400,
                              0,
                              "Tahoma",
                              ControlItems,
                              9};

const DLGITEMRESOURCE FixedItems[] = {
    {ID_LABEL_LEFT, "STATIC", "Used AF(25max)=", 3, 3, 60, 10, Label, 0},
    {ID_EDIT_WIDE, "EDIT", "", 66, 3, 30, 10, Edit, WS_EX_STATICEDGE},
};

const DLGRESOURCE Fixed = {IDD_FIXED,  "Fixed", WS_CAPTION | WS_SYSMENU | DS_SETFONT,
                           0,          0,       0,
                           100,        20,      9,
                           400,        0,       "No Such Typeface",
                           FixedItems, 2};

const DLGITEMRESOURCE BadItems[] = {
    {ID_EDIT_WIDE, "EDIT", "", 1, 1, 30, 10, Edit, 0},
    {ID_LABEL_LEFT, "LISTBOX", "", 1, 20, 30, 30, WS_CHILD | WS_VISIBLE, 0},
};

const DLGRESOURCE BadClass = {
    IDD_BAD_CLASS, "Bad", WS_OVERLAPPEDWINDOW | DS_SETFONT, 0, 0, 0, 100, 60, 9, 400, 0, "Tahoma",
    BadItems,      2};

const DLGRESOURCE *const Dialogs[] = {&Controls, &Fixed, &BadClass};

Recorder *current = nullptr;

} // namespace

HINSTANCE__ TestInstance = {Dialogs, 3};

Recorder::Recorder() { current = this; }
Recorder::~Recorder() { current = nullptr; }

INT_PTR CALLBACK Recorder::Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    Recorder *self = current;
    self->dialog = dialog;
    self->messages.push_back({message, wParam, lParam});
    if (self->override) {
        if (std::optional<INT_PTR> result = self->override(dialog, message, wParam, lParam))
            return *result;
    }
    const WORD id = LOWORD(wParam);
    if (message == WM_COMMAND && (id == ID_BUTTON_FIRST || id == ID_BUTTON_SECOND))
        return EndDialog(dialog, 1000 + id);
    return message == WM_INITDIALOG;
}

std::vector<WORD> Recorder::Commands() const
{
    std::vector<WORD> commands;
    for (const Message &m : messages)
        if (m.message == WM_COMMAND)
            commands.push_back(LOWORD(m.wParam));
    return commands;
}

int Recorder::Count(UINT message) const
{
    return static_cast<int>(std::count_if(messages.begin(), messages.end(),
                                          [=](auto &m) { return m.message == message; }));
}

WNDCLASSEXA ClassNamed(const char *name, WNDPROC procedure)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = procedure;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
    windowClass.lpszClassName = name;
    return windowClass;
}

HWND NewOwnerWindow(int x, int y, int width, int height)
{
    const WNDCLASSEXA windowClass = ClassNamed("TestOwner", DefWindowProcA);
    RegisterClassExA(&windowClass);
    return CreateWindowExA(0, "TestOwner", "Owner", WS_OVERLAPPEDWINDOW, x, y, width, height,
                           nullptr, nullptr, nullptr, nullptr);
}

INT_PTR RunTestDialog(WORD id, HWND owner, LPARAM param)
{
    return DialogBoxParamA(&TestInstance, MAKEINTRESOURCEA(id), owner, Recorder::Proc, param);
}

INT_PTR WithTestDialog(const std::function<void(QtDriver &)> &step, WORD id, HWND owner,
                       LPARAM param)
{
    QtDriver driver;
    driver.OnNextWindow([&] { step(driver); });
    return RunTestDialog(id, owner, param);
}
