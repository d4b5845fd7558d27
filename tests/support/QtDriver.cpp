#include "QtDriver.h"

#include "cp1252.h"

#include <gtest/gtest.h>

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
    QWidget *control =
        window ? window->findChild<QWidget *>(QString::number(id), Qt::FindDirectChildrenOnly)
               : nullptr;
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
// The rings of a frame `reach` pixels deep, down the middle column.
std::string FrameOf(QWidget *control, int reach)
{
    if (reach == 0)
        return "none";
    const QImage image = control->grab().toImage();
    auto role = [&](int y) -> std::string {
        static const std::pair<QPalette::ColorRole, const char *> roles[] = {
            {QPalette::WindowText, "WindowText"},
            {QPalette::Shadow, "Shadow"},
            {QPalette::Dark, "Dark"},
            {QPalette::Midlight, "Midlight"},
            {QPalette::Light, "Light"},
            {QPalette::Button, "Button"},
            {QPalette::Base, "Base"}};
        for (auto [r, name] : roles)
            if (image.pixel(image.width() / 2, y) == control->palette().color(r).rgb())
                return name;
        return "?";
    };
    std::string rings;
    for (int i = 0; i < reach; i++)
        rings.append(i ? " " : "").append(role(i)).append(":").append(role(image.height() - 1 - i));
    return rings;
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
        if (timedOut)
            return CloseAfterTimeout(window);
        if (!window || !window->isVisible())
            return sinceProgress.restart(), void();
        if (!stepPosted && !steps.empty() && window != lastStepWindow) {
            if (!window->isActiveWindow())
                return window->activateWindow();
            // Run the step from the event loop, not from this timer: a step
            // blocked in a nested modal loop leaves the timer free to run the
            // next step there.
            stepPosted = true;
            return QTimer::singleShot(0, &poll, [this] { RunStep(); });
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
        auto *dialog = qobject_cast<QDialog *>(window);
        if (dialog && ++closeAttempts > CloseAttemptsBeforeDone)
            dialog->done(QDialog::Rejected), closeAttempts = 0;
        else if (window)
            window->close();
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
    if (!impl_->steps.empty())
        ADD_FAILURE() << impl_->steps.size() << " queued step(s) never ran (" << impl_->stepsRun
                      << " ran)";
}

void QtDriver::OnNextWindow(std::function<void()> step) { impl_->steps.push_back(std::move(step)); }
int QtDriver::StepsRun() const { return impl_->stepsRun; }
int QtDriver::StepsLeft() const { return static_cast<int>(impl_->steps.size()); }
QWidget *QtDriver::Window() const { return QApplication::activeModalWidget(); }

std::string QtDriver::Caption() const { return Window() ? ToBytes(Window()->windowTitle()) : ""; }

std::string QtDriver::Text(int id) const
{
    QWidget *control = ControlOf(Window(), id); // an edit, a static text or a button
    return control ? ToBytes(control->property("text").toString()) : std::string();
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
    for (char32_t c : text) {
        if (c >= 0x20 && c < 0x7F) // QTest::keyClick asserts on other characters
            QTest::keyClick(control, static_cast<char>(c));
        else
            QTest::sendKeyEvent(QTest::Click, control, Qt::Key_unknown,
                                QString::fromStdU32String(std::u32string(1, c)), Qt::NoModifier);
    }
}

void QtDriver::Click(int id) { ClickOn(ControlOf(Window(), id)); }

void QtDriver::Press(Key key)
{
    static const std::pair<Qt::Key, Qt::KeyboardModifier> keys[] = {
        {Qt::Key_Return, Qt::NoModifier}, {Qt::Key_Escape, Qt::NoModifier},
        {Qt::Key_Tab, Qt::NoModifier},    {Qt::Key_Backtab, Qt::ShiftModifier},
        {Qt::Key_Space, Qt::NoModifier},  {Qt::Key_Backspace, Qt::NoModifier},
        {Qt::Key_End, Qt::NoModifier},    {Qt::Key_F4, Qt::AltModifier}};
    QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : Window();
    if (!target)
        return ADD_FAILURE() << "no window to press a key in", void();
    QTest::keyClick(target, keys[static_cast<int>(key)].first, keys[static_cast<int>(key)].second);
}

int QtDriver::FocusedId() const
{
    QWidget *focus = QApplication::focusWidget();
    return focus ? focus->objectName().toInt() : 0;
}

void QtDriver::CloseWindow()
{
    QWidget *window = Window();
    if (!window)
        return ADD_FAILURE() << "no window to close", void();
    // Through the window system, as a click on the close box arrives.
    if (QWindow *handle = window->windowHandle())
        handle->close();
    else
        window->close();
}

std::vector<std::string> QtDriver::Controls() const
{
    std::vector<std::string> lines;
    for (QWidget *control : Window()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        char kind = 'B';
        std::string frame = "none";
        if (auto *edit = qobject_cast<QLineEdit *>(control)) {
            kind = edit->alignment() & Qt::AlignLeft ? 'E' : '?';
            frame = FrameOf(edit, edit->textMargins().left());
        } else if (auto *label = qobject_cast<QLabel *>(control)) {
            const Qt::Alignment a = label->alignment();
            kind = a & Qt::AlignRight ? 'R' : a & Qt::AlignHCenter ? 'C' : 'L';
            frame = FrameOf(label, label->contentsMargins().left());
        }
        const QRect r = control->geometry();
        const auto n = [](int v) { return std::to_string(v); };
        lines.push_back(control->objectName().toStdString() + " " + kind + " \"" +
                        Text(control->objectName().toInt()) + "\" " + n(r.x()) + "," + n(r.y()) +
                        " " + n(r.width()) + "x" + n(r.height()) + " " + frame);
    }
    return lines;
}

QtDriver::MessageBoxView QtDriver::MessageBox() const
{
    MessageBoxView view;
    QMessageBox *box = ActiveMessageBox();
    if (!box)
        return view;
    auto buttonOf = [box](QAbstractButton *button) {
        const auto b = box->standardButton(button);
        return b == QMessageBox::Ok       ? Button::Ok
               : b == QMessageBox::Cancel ? Button::Cancel
                                          : Button::Other;
    };
    view.caption = ToBytes(box->windowTitle());
    view.text = ToBytes(box->text());
    view.icon = box->icon() == QMessageBox::NoIcon        ? Icon::None
                : box->icon() == QMessageBox::Information ? Icon::Information
                                                          : Icon::Other;
    QList<QAbstractButton *> buttons = box->buttons(); // left to right, as laid out
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
