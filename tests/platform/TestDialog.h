// A module of test dialog templates, and a dialog procedure that records the
// messages it gets and lets each test decide what to do with them.
#ifndef TESTS_PLATFORM_TESTDIALOG_H
#define TESTS_PLATFORM_TESTDIALOG_H

#include "QtDriver.h"
#include "windows.h"

#include <functional>
#include <optional>
#include <vector>

enum TestDialogId : WORD {
    IDD_CONTROLS = 100, // every kind of control and frame
    IDD_FIXED = 101,    // no sizing border; a typeface nobody has
    IDD_BAD_CLASS = 102,
};

enum TestControlId : int {
    ID_EDIT_WIDE = 201,   // static edge
    ID_LABEL_LEFT = 202,  // no frame
    ID_LABEL_RIGHT = 203, // SS_RIGHT, border
    ID_EDIT_NARROW = 204, // static edge, 26 x 10 like an AF edit
    ID_BUTTON_FIRST = 205,
    ID_LABEL_MARKUP = 206, // client edge
    ID_BUTTON_SECOND = 207,
    ID_EDIT_FRAMED = 208, // modal frame
    ID_EDIT_NO_TAB = 209, // not a tab stop
};

extern HINSTANCE__ TestInstance;

struct Message {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// The procedure of the test dialogs. By default it handles WM_INITDIALOG
// (returning TRUE) and ends the dialog with 1000 + id on a button's command.
class Recorder {
public:
    Recorder();
    ~Recorder();

    static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

    // Called first; a value returned ends the handling of the message.
    std::function<std::optional<INT_PTR>(HWND, UINT, WPARAM, LPARAM)> override;

    std::vector<Message> messages;
    HWND dialog = nullptr;

    std::vector<WORD> Commands() const; // LOWORD of each WM_COMMAND's wParam
    int Count(UINT message) const;
};

// A window class as the program's, with that name and procedure.
WNDCLASSEXA ClassNamed(const char *name, WNDPROC procedure);
// A hidden top-level window of a class of its own, as the program's owner.
HWND NewOwnerWindow(int x, int y, int width, int height);

// Runs a test dialog modally with Recorder::Proc.
INT_PTR RunTestDialog(WORD id, HWND owner = nullptr, LPARAM param = 0);
// The same with `step` run on the dialog once shown; the step ends it.
INT_PTR WithTestDialog(const std::function<void(QtDriver &)> &step, WORD id = IDD_CONTROLS,
                       HWND owner = nullptr, LPARAM param = 0);

#endif
