// A bare Qt program to set the tool's start-up against: one modal QDialog
// holding the main dialog's 94 controls as plain QLabel, QLineEdit and
// QPushButton widgets, at the same places and with the same texts, in Qt's
// default font; no board, no dialog procedure.
#include "resource.h"
#include "windows.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cstring>

namespace {

// Dialog units of the template's 9-point font: 7 x 14 pixels per 4 x 8 units.
QRect Pixels(int x, int y, int cx, int cy)
{
    return QRect(x * 7 / 4, y * 14 / 8, cx * 7 / 4, cy * 14 / 8);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    const DLGRESOURCE &resource = *ProgramInstance.dialogs[0];

    QDialog dialog;
    dialog.setWindowTitle(QString::fromLatin1(resource.caption));
    dialog.setFixedSize(Pixels(0, 0, resource.cx, resource.cy).size());
    for (int i = 0; i < resource.itemCount; i++) {
        const DLGITEMRESOURCE &item = resource.items[i];
        const QString text = QString::fromLatin1(item.text);
        QWidget *widget;
        if (strcmp(item.windowClass, "EDIT") == 0)
            widget = new QLineEdit(text, &dialog);
        else if (strcmp(item.windowClass, "BUTTON") == 0)
            widget = new QPushButton(text, &dialog);
        else
            widget = new QLabel(text, &dialog);
        widget->setGeometry(Pixels(item.x, item.y, item.cx, item.cy));
    }
    return dialog.exec();
}
