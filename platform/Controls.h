// The controls of a dialog template: push buttons, edits and static texts.
#ifndef PLATFORM_CONTROLS_H
#define PLATFORM_CONTROLS_H

#include "windows.h"

#include <QString>

class QRect;
class QWidget;

namespace platform {

// Builds the control an item describes, as a child of dialog at geometry
// (pixels); null for a window class other than BUTTON, EDIT and STATIC.
QWidget *CreateControl(const DLGITEMRESOURCE &item, QWidget *dialog, const QRect &geometry);

// Whether the Tab key stops at a control.
bool IsTabStop(const QWidget *control);

QString ControlText(const QWidget *control);
void SetControlText(QWidget *control, const QString &text);

// Gives a control the focus as the dialog's first tab stop, an edit with all
// its text selected and shown from its start.
void FocusFirstTabStop(QWidget *control);

} // namespace platform

#endif
