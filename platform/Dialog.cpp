// Modal dialogs built from the dialog templates of a module, and the texts of
// their controls.
#include "Controls.h"
#include "QtPlatform.h"

#include <QCloseEvent>
#include <QDialog>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <map>

namespace {

const DLGRESOURCE *FindDialogTemplate(HINSTANCE instance, LPCSTR name)
{
    // Templates are named by number only (MAKEINTRESOURCEA).
    auto value = reinterpret_cast<uintptr_t>(name);
    if (!instance || value == 0 || value > 0xFFFF)
        return nullptr;
    for (int i = 0; i < instance->dialogCount; ++i) {
        const DLGRESOURCE *dialog = instance->dialogs[i];
        if (dialog && dialog->id == value)
            return dialog;
    }
    return nullptr;
}

class Dialog final : public QDialog {
public:
    Dialog(const DLGRESOURCE &resource, DLGPROC procedure, QWidget *owner)
        : QDialog(owner), handle_(this), procedure_(procedure)
    {
        setObjectName(QString::number(resource.id));
        setWindowTitle(platform::FromAnsi(resource.caption));
        setWindowFlags(WindowFlagsFor(resource.style));
    }

    HWND Handle() { return &handle_; }

    // The controls by id; with two of one id, the first made.
    void AddItem(int id, QWidget *control) { items_.emplace(id, control); }
    QWidget *Item(int id) const
    {
        auto found = items_.find(id);
        return found == items_.end() ? nullptr : found->second;
    }

    INT_PTR Send(UINT message, WPARAM wParam, LPARAM lParam)
    {
        return procedure_ ? procedure_(&handle_, message, wParam, lParam) : 0;
    }

    void Command(int id) { Send(WM_COMMAND, static_cast<WORD>(id), 0); }

    // The result is kept whole: exec() carries an int only.
    void End(INT_PTR result)
    {
        result_ = result;
        ended_ = true;
        if (running_)
            done(0);
    }

    // Runs the dialog modally unless its procedure already ended it.
    INT_PTR Run()
    {
        if (!ended_) {
            running_ = true;
            exec();
            running_ = false;
        }
        return result_;
    }

    // Escape is the dialog procedure's IDCANCEL command, never a rejection.
    void reject() override {}

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
        if (event->key() == Qt::Key_F4 && modifiers == Qt::AltModifier) {
            SendClose();
            return;
        }
        if (modifiers == Qt::NoModifier) {
            switch (event->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
                // A focused push button is pressed; elsewhere Enter means OK.
                if (auto *button = qobject_cast<QPushButton *>(focusWidget()))
                    button->click();
                else
                    Command(IDOK);
                return;
            case Qt::Key_Escape: Command(IDCANCEL); return;
            default: break;
            }
        }
        event->ignore();
    }

    // The close box, the system menu's Close and Alt+F4 ask the dialog
    // procedure; only EndDialog closes the dialog.
    void closeEvent(QCloseEvent *event) override
    {
        event->ignore();
        SendClose();
    }

private:
    static Qt::WindowFlags WindowFlagsFor(DWORD style)
    {
        Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
        if ((style & WS_CAPTION) == WS_CAPTION)
            flags |= Qt::WindowTitleHint;
        if (style & WS_SYSMENU) {
            flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
            if (style & WS_MINIMIZEBOX)
                flags |= Qt::WindowMinimizeButtonHint;
            if (style & WS_MAXIMIZEBOX)
                flags |= Qt::WindowMaximizeButtonHint;
        }
        return flags;
    }

    void SendClose()
    {
        // Unhandled, WM_CLOSE becomes the IDCANCEL command, as Win32's default
        // dialog processing posts it.
        if (!Send(WM_CLOSE, 0, 0))
            QTimer::singleShot(0, this, [this] { Command(IDCANCEL); });
    }

    HWND__ handle_;
    DLGPROC procedure_;
    std::map<int, QWidget *> items_;
    INT_PTR result_ = 0;
    bool ended_ = false;
    bool running_ = false;
};

// Where a dialog's window goes: x, y from the owner's client area (or the
// screen's origin without an owner), kept on the screen.
QPoint DialogPosition(QWidget *owner, QPoint offset, QSize size)
{
    QPoint origin = owner ? owner->mapToGlobal(QPoint(0, 0)) : QPoint(0, 0);
    QPoint position = origin + offset;
    QScreen *screen = QGuiApplication::screenAt(position);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    QRect area = screen->availableGeometry();
    position.setX(std::max(area.left(), std::min(position.x(), area.right() + 1 - size.width())));
    position.setY(std::max(area.top(), std::min(position.y(), area.bottom() + 1 - size.height())));
    return position;
}

struct DialogUnits {
    int baseX;
    int baseY;

    QRect ToPixels(int x, int y, int cx, int cy) const
    {
        using platform::MulDiv;
        return QRect(MulDiv(x, baseX, 4), MulDiv(y, baseY, 8), MulDiv(cx, baseX, 4),
                     MulDiv(cy, baseY, 8));
    }
};

// Whether the texts of the static texts and buttons fit their controls on one
// line (or the control has room for more lines).
bool TextsFit(const QFont &font, const DLGRESOURCE &resource, const DialogUnits &units)
{
    constexpr int ButtonPadding = 3;
    QFontMetrics metrics(font);
    for (int i = 0; i < resource.itemCount; ++i) {
        const DLGITEMRESOURCE &item = resource.items[i];
        QString windowClass = QString::fromLatin1(item.windowClass ? item.windowClass : "");
        bool button = windowClass.compare(QLatin1String("BUTTON"), Qt::CaseInsensitive) == 0;
        if (!button && windowClass.compare(QLatin1String("STATIC"), Qt::CaseInsensitive) != 0)
            continue;
        QRect room = units.ToPixels(item.x, item.y, item.cx, item.cy)
                         .marginsRemoved(platform::EdgeMargins(item.style, item.exStyle));
        if (button)
            room.adjust(ButtonPadding, 0, -ButtonPadding, 0);
        if (room.height() >= 2 * metrics.height())
            continue;
        if (metrics.horizontalAdvance(platform::FromAnsi(item.text)) > room.width() ||
            metrics.height() > room.height())
            return false;
    }
    return true;
}

// A substitute font may set the template's texts wider than the font it was
// made for. The layout keeps the substitute's base units; the font gets
// smaller until every text fits.
void ShrinkToFit(QFont &font, const DLGRESOURCE &resource, const DialogUnits &units)
{
    constexpr int SmallestPixelSize = 8;
    while (font.pixelSize() > SmallestPixelSize && !TextsFit(font, resource, units))
        font.setPixelSize(font.pixelSize() - 1);
}

Dialog *DialogOf(HWND window)
{
    return dynamic_cast<Dialog *>(platform::WidgetOf(window));
}

QWidget *Control(HWND dialog, int id)
{
    Dialog *window = DialogOf(dialog);
    return window ? window->Item(id) : nullptr;
}

} // namespace

INT_PTR DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                        DLGPROC lpDialogFunc, LPARAM dwInitParam)
{
    const DLGRESOURCE *resource = FindDialogTemplate(hInstance, lpTemplateName);
    if (!resource)
        return -1;

    platform::DialogFont font =
        (resource->style & DS_SETFONT)
            ? platform::LoadDialogFont(platform::FromAnsi(resource->typeface), resource->pointSize,
                                       resource->weight, resource->italic)
            : platform::LoadDialogFont(QString(), 8, 400, false);
    DialogUnits units{font.baseX, font.baseY};
    if (font.substitute)
        ShrinkToFit(font.font, *resource, units);

    QWidget *owner = platform::WidgetOf(hWndParent);
    Dialog dialog(*resource, lpDialogFunc, owner);
    dialog.setFont(font.font);
    platform::SetMessageFont(font.font);

    QRect frame = units.ToPixels(resource->x, resource->y, resource->cx, resource->cy);
    dialog.resize(frame.size());
    if (!(resource->style & WS_THICKFRAME))
        dialog.setFixedSize(frame.size());
    dialog.move(DialogPosition(owner, frame.topLeft(), frame.size()));

    QWidget *previousTabStop = nullptr;
    QWidget *firstTabStop = nullptr;
    for (int i = 0; i < resource->itemCount; ++i) {
        const DLGITEMRESOURCE &item = resource->items[i];
        QWidget *control = platform::CreateControl(
            item, &dialog, units.ToPixels(item.x, item.y, item.cx, item.cy));
        if (!control)
            return -1;
        dialog.AddItem(item.id, control);
        if (auto *button = qobject_cast<QPushButton *>(control)) {
            QObject::connect(button, &QPushButton::clicked, &dialog,
                             [&dialog, id = item.id] { dialog.Command(id); });
        }
        if (platform::IsTabStop(control)) {
            if (previousTabStop)
                QWidget::setTabOrder(previousTabStop, control);
            else
                firstTabStop = control;
            previousTabStop = control;
        }
    }

    if (dialog.Send(WM_INITDIALOG, 0, dwInitParam) && firstTabStop)
        platform::FocusFirstTabStop(firstTabStop);
    INT_PTR result = dialog.Run();
    dialog.Send(WM_DESTROY, 0, 0);
    return result;
}

BOOL EndDialog(HWND hDlg, INT_PTR nResult)
{
    Dialog *dialog = DialogOf(hDlg);
    if (!dialog)
        return FALSE;
    dialog->End(nResult);
    return TRUE;
}

BOOL SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString)
{
    QWidget *control = Control(hDlg, nIDDlgItem);
    if (!control)
        return FALSE;
    platform::SetControlText(control, platform::FromAnsi(lpString));
    return TRUE;
}

UINT GetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax)
{
    if (!lpString || cchMax <= 0)
        return 0;
    QWidget *control = Control(hDlg, nIDDlgItem);
    std::string text = control ? platform::ToAnsi(platform::ControlText(control)) : std::string();
    size_t count = std::min(text.size(), static_cast<size_t>(cchMax - 1));
    std::copy_n(text.begin(), count, lpString);
    lpString[count] = '\0';
    return static_cast<UINT>(count);
}
