// The Qt side of the platform layer: what its parts share, and what its tests
// and test drivers may look at. The program itself sees only windows.h.
#ifndef PLATFORM_QTPLATFORM_H
#define PLATFORM_QTPLATFORM_H

#include "windows.h"

#include <QFont>
#include <QMargins>
#include <QString>

#include <string>

class QPainter;
class QPalette;
class QRect;
class QWidget;

// A window handle: every window the program may name by its HWND owns one.
// A handle is valid from the window's construction to its destruction.
struct HWND__ {
    explicit HWND__(QWidget *window);
    ~HWND__();
    HWND__(const HWND__ &) = delete;
    HWND__ &operator=(const HWND__ &) = delete;

    QWidget *const widget;
};

namespace platform {

// The window a handle names, or null for a handle that names none.
QWidget *WidgetOf(HWND window);

// Win32's MulDiv: number * numerator / denominator, rounded half away from
// zero; -1 for a zero denominator.
int MulDiv(int number, int numerator, int denominator);

// A dialog's font and its base units, the pixels of 4 horizontal and 8
// vertical dialog units.
struct DialogFont {
    QFont font;
    int baseX = 0;
    int baseY = 0;
    bool substitute = false; // the typeface was not found
};

// The font a dialog template names, at pointSize points of 96 dpi whatever
// the screen's resolution. A typeface the font database lacks is looked for
// among Wine's fonts; failing that, a sans-serif font takes its place.
DialogFont LoadDialogFont(const QString &typeface, int pointSize, int weight, bool italic);

// The font of the dialog built last; message boxes take it.
QFont MessageFont();
void SetMessageFont(const QFont &font);

// 8-bit texts of the program, in the Windows-1252 code page.
QString FromAnsi(const char *text);
std::string ToAnsi(const QString &text);

// The exit code passed to PostQuitMessage, if it was called.
bool QuitPosted(int *exitCode);

// Frames of a control: how far each eats into it, and drawing them.
QMargins EdgeMargins(DWORD style, DWORD exStyle);
void DrawEdges(QPainter &painter, const QRect &rect, DWORD style, DWORD exStyle,
               const QPalette &palette);

} // namespace platform

#endif
