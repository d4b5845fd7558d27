// Message boxes: a text with OK, or OK and Cancel, modal to their owner.
#include "QtPlatform.h"

#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

namespace {

constexpr UINT ButtonsMask = 0xF; // MB_TYPEMASK
constexpr UINT IconMask = 0xF0;   // MB_ICONMASK

// A message box centred on its owner, or on the screen when the owner is
// hidden or missing.
class CentredMessageBox final : public QMessageBox {
public:
    explicit CentredMessageBox(QWidget *owner) : QMessageBox(owner), owner_(owner) {}

protected:
    void showEvent(QShowEvent *event) override
    {
        QMessageBox::showEvent(event); // sizes the box
        QRect area = owner_ && owner_->isVisible()
                         ? owner_->window()->frameGeometry()
                         : QGuiApplication::primaryScreen()->availableGeometry();
        QRect frame = frameGeometry();
        frame.moveCenter(area.center());
        move(frame.topLeft());
    }

private:
    QWidget *owner_;
};

// Win32 breaks lines at "\r\n", and at a lone "\r" or "\n".
QString WithLineBreaks(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

} // namespace

int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    QWidget *owner = platform::WidgetOf(hWnd);
    CentredMessageBox box(owner);
    box.setFont(platform::MessageFont());
    box.setWindowTitle(platform::FromAnsi(lpCaption ? lpCaption : "Error"));
    box.setTextFormat(Qt::PlainText);
    box.setText(WithLineBreaks(platform::FromAnsi(lpText)));
    if ((uType & IconMask) == MB_ICONINFORMATION)
        box.setIcon(QMessageBox::Information);

    bool withCancel = (uType & ButtonsMask) == MB_OKCANCEL;
    QPushButton *ok = box.addButton(QMessageBox::Ok);
    QPushButton *cancel = withCancel ? box.addButton(QMessageBox::Cancel) : nullptr;
    box.setDefaultButton(ok);
    box.setEscapeButton(withCancel ? cancel : ok);
    // Some styles decorate standard buttons with icons; Win32's have none.
    for (QAbstractButton *button : box.buttons())
        button->setIcon(QIcon());

    box.exec();
    if (box.clickedButton() == ok)
        return IDOK;
    if (withCancel)
        return IDCANCEL;
    return IDOK;
}
