#include "QtDriver.h"

#include "cp1252.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <QtTest/QTest>

#include <deque>

namespace {

constexpr int PollInterval = 10; // ms
// A window that stays open after the timeout is closed, then ended.
constexpr int CloseAttemptsBeforeDone = 20;

std::string ToBytes(const QString &text) { return UnicodeToCp1252(text.toStdU32String()); }

QWidget *ControlOf(const QWidget *window, int id)
{
    if (!window) {
        ADD_FAILURE() << "no modal window is active (looking for control " << id << ")";
        return nullptr;
    }
    auto *control = window->findChild<QWidget *>(QString::number(id), Qt::FindDirectChildrenOnly);
    if (!control)
        ADD_FAILURE() << "the active window has no control " << id;
    return control;
}

QMessageBox *ActiveMessageBox()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box)
        ADD_FAILURE() << "the active modal window is not a message box";
    return box;
}

void ClickOn(QWidget *widget)
{
    if (widget)
        QTest::mouseClick(widget, Qt::LeftButton);
}

void TypeCodePoint(QWidget *control, char32_t c)
{
    if (c >= 0x20 && c < 0x7F) {
        QTest::keyClick(control, static_cast<char>(c));
    } else {
        // QTest::keyClick asserts on non-ASCII characters.
        QTest::sendKeyEvent(QTest::Click, control, Qt::Key_unknown,
                            QString::fromStdU32String(std::u32string(1, c)), Qt::NoModifier);
    }
}

} // namespace

struct QtDriver::Impl {
    std::chrono::milliseconds timeout;
    std::deque<std::function<void()>> steps;
    int stepsRun = 0;
    QTimer poll;
    QElapsedTimer sinceProgress;
    QPointer<QWidget> lastStepWindow;
    bool stepPosted = false;
    bool timedOut = false;
    int closeAttempts = 0;

    void Poll()
    {
        QWidget *window = QApplication::activeModalWidget();
        if (timedOut) {
            CloseAfterTimeout(window);
            return;
        }
        if (!window || !window->isVisible()) {
            sinceProgress.restart();
            return;
        }
        if (!stepPosted && !steps.empty() && window != lastStepWindow) {
            if (!window->isActiveWindow()) {
                window->activateWindow();
            } else {
                // Run the step from the event loop, not from this timer: a
                // step blocked in a nested modal loop leaves the timer free to
                // run the next step there.
                stepPosted = true;
                QTimer::singleShot(0, &poll, [this] { RunStep(); });
                return;
            }
        }
        if (sinceProgress.elapsed() > timeout.count()) {
            ADD_FAILURE() << "no step could run for " << timeout.count() << " ms with window \""
                          << ToBytes(window->windowTitle()) << "\" open; " << steps.size()
                          << " step(s) left";
            steps.clear();
            timedOut = true;
        }
    }

    void RunStep()
    {
        stepPosted = false;
        if (steps.empty())
            return;
        lastStepWindow = QApplication::activeModalWidget();
        std::function<void()> step = std::move(steps.front());
        steps.pop_front();
        ++stepsRun;
        sinceProgress.restart();
        step();
        sinceProgress.restart();
    }

    // Ends whatever stays open so that the test can go on after a failure:
    // first as the close box would, then by ending the window's loop.
    void CloseAfterTimeout(QWidget *window)
    {
        if (!window)
            return;
        auto *dialog = qobject_cast<QDialog *>(window);
        if (++closeAttempts > CloseAttemptsBeforeDone && dialog) {
            dialog->done(QDialog::Rejected);
            closeAttempts = 0;
        } else {
            window->close();
        }
    }
};

QtDriver::QtDriver(std::chrono::milliseconds timeout) : impl_(std::make_unique<Impl>())
{
    impl_->timeout = timeout;
    impl_->sinceProgress.start();
    impl_->poll.setInterval(PollInterval);
    QObject::connect(&impl_->poll, &QTimer::timeout, &impl_->poll, [this] { impl_->Poll(); });
    impl_->poll.start();
}

QtDriver::~QtDriver()
{
    impl_->poll.stop();
    if (!impl_->steps.empty()) {
        ADD_FAILURE() << impl_->steps.size() << " queued step(s) never ran (" << impl_->stepsRun
                      << " ran)";
    }
}

void QtDriver::OnNextWindow(std::function<void()> step) { impl_->steps.push_back(std::move(step)); }

int QtDriver::StepsRun() const { return impl_->stepsRun; }

int QtDriver::StepsLeft() const { return static_cast<int>(impl_->steps.size()); }

QWidget *QtDriver::Window() const { return QApplication::activeModalWidget(); }

std::string QtDriver::Caption() const
{
    QWidget *window = Window();
    return window ? ToBytes(window->windowTitle()) : std::string();
}

std::string QtDriver::Text(int id) const
{
    QWidget *control = ControlOf(Window(), id);
    if (auto *edit = qobject_cast<QLineEdit *>(control))
        return ToBytes(edit->text());
    if (auto *label = qobject_cast<QLabel *>(control))
        return ToBytes(label->text());
    if (auto *button = qobject_cast<QAbstractButton *>(control))
        return ToBytes(button->text());
    return {};
}

void QtDriver::Type(int id, std::string_view bytes) { TypeUnicode(id, Cp1252ToUnicode(bytes)); }

void QtDriver::TypeUnicode(int id, std::u32string_view text)
{
    QWidget *control = ControlOf(Window(), id);
    if (!control)
        return;
    control->setFocus(Qt::TabFocusReason);
    if (auto *edit = qobject_cast<QLineEdit *>(control))
        edit->selectAll(); // as a Tab into it does
    for (char32_t c : text)
        TypeCodePoint(control, c);
}

void QtDriver::Click(int id) { ClickOn(ControlOf(Window(), id)); }

void QtDriver::Press(Key key)
{
    QWidget *target = QApplication::focusWidget();
    if (!target)
        target = Window();
    if (!target) {
        ADD_FAILURE() << "no window to press a key in";
        return;
    }
    switch (key) {
    case Key::Enter:
        QTest::keyClick(target, Qt::Key_Return);
        break;
    case Key::Escape:
        QTest::keyClick(target, Qt::Key_Escape);
        break;
    case Key::Tab:
        QTest::keyClick(target, Qt::Key_Tab);
        break;
    case Key::BackTab:
        QTest::keyClick(target, Qt::Key_Backtab, Qt::ShiftModifier);
        break;
    case Key::Space:
        QTest::keyClick(target, Qt::Key_Space);
        break;
    case Key::Backspace:
        QTest::keyClick(target, Qt::Key_Backspace);
        break;
    case Key::Home:
        QTest::keyClick(target, Qt::Key_Home);
        break;
    case Key::End:
        QTest::keyClick(target, Qt::Key_End);
        break;
    case Key::AltF4:
        QTest::keyClick(target, Qt::Key_F4, Qt::AltModifier);
        break;
    }
}

int QtDriver::FocusedId() const
{
    QWidget *focus = QApplication::focusWidget();
    return focus ? focus->objectName().toInt() : 0;
}

void QtDriver::CloseWindow()
{
    QWidget *window = Window();
    if (!window) {
        ADD_FAILURE() << "no window to close";
        return;
    }
    // Through the window system, as a click on the close box arrives.
    if (QWindow *handle = window->windowHandle())
        handle->close();
    else
        window->close();
}

bool QtDriver::IsMessageBox() const
{
    return qobject_cast<QMessageBox *>(QApplication::activeModalWidget()) != nullptr;
}

QtDriver::MessageBoxView QtDriver::MessageBox() const
{
    MessageBoxView view;
    QMessageBox *box = ActiveMessageBox();
    if (!box)
        return view;
    auto buttonOf = [box](QAbstractButton *button) {
        switch (box->standardButton(button)) {
        case QMessageBox::Ok:
            return Button::Ok;
        case QMessageBox::Cancel:
            return Button::Cancel;
        default:
            return Button::Other;
        }
    };
    view.caption = ToBytes(box->windowTitle());
    view.text = ToBytes(box->text());
    switch (box->icon()) {
    case QMessageBox::Information:
        view.icon = Icon::Information;
        break;
    case QMessageBox::Warning:
        view.icon = Icon::Warning;
        break;
    case QMessageBox::Critical:
        view.icon = Icon::Critical;
        break;
    case QMessageBox::Question:
        view.icon = Icon::Question;
        break;
    default:
        view.icon = Icon::None;
        break;
    }
    // Left to right, as laid out.
    QList<QAbstractButton *> buttons = box->buttons();
    std::sort(buttons.begin(), buttons.end(), [box](QAbstractButton *a, QAbstractButton *b) {
        return a->mapTo(box, QPoint(0, 0)).x() < b->mapTo(box, QPoint(0, 0)).x();
    });
    for (QAbstractButton *button : buttons)
        view.buttons.push_back(buttonOf(button));
    if (QPushButton *defaultButton = box->defaultButton())
        view.defaultButton = buttonOf(defaultButton);
    return view;
}

void QtDriver::PressOk()
{
    if (QMessageBox *box = ActiveMessageBox())
        ClickOn(box->button(QMessageBox::Ok));
}

void QtDriver::PressCancel()
{
    if (QMessageBox *box = ActiveMessageBox())
        ClickOn(box->button(QMessageBox::Cancel));
}
