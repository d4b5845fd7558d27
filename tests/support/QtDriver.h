// Drives the program's modal windows (its dialogs and message boxes) from a
// GoogleTest test, with real mouse and key events.
//
// A test queues steps, then calls into the program (DialogBoxParamA,
// MessageBoxA, WinMain, ...). Each step runs once the next modal window is
// active: the first step on the first window; every further step on a window
// other than the one the step before ran on (a message box the step opened,
// the dialog again once that box is gone, the next dialog). A step may click
// a button that opens a message box: the click returns once the box is gone,
// the steps queued for the box having run meanwhile.
//
// When no step can run for the timeout while a modal window is open, the test
// fails and the driver closes the windows so that the test ends. A step that
// never ran fails the test when the driver is destroyed.
//
// Texts are 8-bit Windows-1252 bytes, as the program reads and writes them.
#ifndef TESTS_SUPPORT_QTDRIVER_H
#define TESTS_SUPPORT_QTDRIVER_H

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QWidget;

class QtDriver {
public:
    enum class Key { Enter, Escape, Tab, BackTab, Space, Backspace, End, AltF4 };
    enum class Icon { None, Information, Other };
    enum class Button { Ok, Cancel, Other };

    // What the operator sees of a message box.
    struct MessageBoxView {
        std::string caption;
        std::string text; // lines separated by "\n", as shown
        Icon icon = Icon::None;
        std::vector<Button> buttons; // left to right
        std::optional<Button> defaultButton;
    };

    explicit QtDriver(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    ~QtDriver();
    QtDriver(const QtDriver &) = delete;
    QtDriver &operator=(const QtDriver &) = delete;

    // Queues a step for the next modal window.
    void OnNextWindow(std::function<void()> step);
    int StepsRun() const;
    int StepsLeft() const;

    // The active modal window, or null.
    QWidget *Window() const;
    std::string Caption() const;

    // Controls of the active window, by id.
    std::string Text(int id) const;
    // Gives the control the focus as the Tab key does (an edit's text gets
    // selected, so typing replaces it) and types the bytes, one key each.
    void Type(int id, std::string_view bytes);
    // The same for any Unicode text, such as characters outside the code page.
    void TypeUnicode(int id, std::u32string_view text);
    void Click(int id);
    // To the widget with the keyboard focus.
    void Press(Key key);
    // The id of the control with the keyboard focus; 0 for none.
    int FocusedId() const;
    // Closes the active window as its close box does.
    void CloseWindow();
    // Every control of the active window in creation order, as drawn:
    // "id kind \"text\" x,y wxh frame". Kinds: E edit (left-aligned), B push
    // button, L, R, C static text aligned left, right, centred. The frame
    // lists the palette roles of its rings from the outside in, top:bottom.
    std::vector<std::string> Controls() const;

    // The active window as a message box; fails the test when it is none.
    MessageBoxView MessageBox() const;
    void PressOk();
    void PressCancel();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

#endif
