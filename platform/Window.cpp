// Window classes, the program's top-level windows, handles and stock objects.
#include "QtPlatform.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <map>
#include <set>
#include <utility>

namespace {

// Never destroyed: a window the program leaves open (its owner window) lives,
// and stays known, until the process ends, as on Win32.
std::set<const HWND__ *> &LiveHandles()
{
    static auto *handles = new std::set<const HWND__ *>;
    return *handles;
}

// Class names compare without regard to case, as Win32's do.
struct CaseInsensitiveLess {
    bool operator()(const QString &a, const QString &b) const
    {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    }
};

struct WindowClass {
    ATOM atom;
    WNDPROC procedure;
};

std::map<QString, WindowClass, CaseInsensitiveLess> &Classes()
{
    static std::map<QString, WindowClass, CaseInsensitiveLess> classes;
    return classes;
}

bool quitPosted = false;
int quitCode = 0;

// Where CW_USEDEFAULT puts a window, and its size when that is left open too.
constexpr int DefaultWidth = 544;
constexpr int DefaultHeight = 375;

// A top-level window of a registered class. The program never shows it; it
// serves as the owner of dialogs and message boxes.
class TopLevelWindow final : public QWidget {
public:
    explicit TopLevelWindow(WNDPROC procedure) : handle_(this), procedure_(procedure) {}

    HWND Handle() { return &handle_; }
    // Marks the window as being destroyed; false if it already was.
    bool BeginDestroy() { return !std::exchange(destroying_, true); }
    LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam)
    {
        return procedure_(&handle_, message, wParam, lParam);
    }

private:
    HWND__ handle_;
    WNDPROC procedure_;
    bool destroying_ = false;
};

// Opaque tokens for the system's icon, cursor and brush.
struct SystemObject {
    int kind;
};
SystemObject applicationIcon{1}, arrowCursor{2}, lightGreyBrush{3};

} // namespace

HWND__::HWND__(QWidget *window) : widget(window)
{
    LiveHandles().insert(this);
}

HWND__::~HWND__()
{
    LiveHandles().erase(this);
}

namespace platform {

QWidget *WidgetOf(HWND window)
{
    return window && LiveHandles().count(window) ? window->widget : nullptr;
}

bool QuitPosted(int *exitCode)
{
    if (quitPosted && exitCode)
        *exitCode = quitCode;
    return quitPosted;
}

} // namespace platform

HICON LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName)
{
    if (!hInstance && lpIconName == IDI_APPLICATION)
        return reinterpret_cast<HICON>(&applicationIcon);
    return nullptr; // the program's own resources hold no icons
}

HCURSOR LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName)
{
    if (!hInstance && lpCursorName == IDC_ARROW)
        return reinterpret_cast<HCURSOR>(&arrowCursor);
    return nullptr;
}

HGDIOBJ GetStockObject(int i)
{
    return i == LTGRAY_BRUSH ? reinterpret_cast<HGDIOBJ>(&lightGreyBrush) : nullptr;
}

ATOM RegisterClassExA(const WNDCLASSEXA *wndClass)
{
    if (!wndClass || !wndClass->lpszClassName || !wndClass->lpfnWndProc)
        return 0;
    // A class registered again replaces the first registration, so that a
    // process may run the program's start-up more than once (as tests do).
    static ATOM nextAtom = 0xC000;
    auto [entry, added] = Classes().try_emplace(QString::fromLatin1(wndClass->lpszClassName),
                                                WindowClass{nextAtom, wndClass->lpfnWndProc});
    if (added)
        ++nextAtom;
    else
        entry->second.procedure = wndClass->lpfnWndProc;
    return entry->second.atom;
}

HWND CreateWindowExA(DWORD /*dwExStyle*/, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle,
                     int X, int Y, int nWidth, int nHeight, HWND /*hWndParent*/, HMENU /*hMenu*/,
                     HINSTANCE /*hInstance*/, void * /*lpParam*/)
{
    if (!lpClassName || (dwStyle & WS_CHILD))
        return nullptr; // only top-level windows of registered classes
    auto found = Classes().find(QString::fromLatin1(lpClassName));
    if (found == Classes().end())
        return nullptr;

    auto *window = new TopLevelWindow(found->second.procedure);
    window->setWindowTitle(platform::FromAnsi(lpWindowName));
    QSize size(nWidth == CW_USEDEFAULT ? DefaultWidth : nWidth,
               nHeight == CW_USEDEFAULT ? DefaultHeight : nHeight);
    QPoint position(X, Y);
    if (X == CW_USEDEFAULT) {
        QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        position = screen.center() - QPoint(size.width() / 2, size.height() / 2);
    }
    window->setGeometry(QRect(position, size));
    if (dwStyle & WS_VISIBLE)
        window->show();
    return window->Handle();
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM)
{
    return 0;
}

BOOL DestroyWindow(HWND hWnd)
{
    auto *window = dynamic_cast<TopLevelWindow *>(platform::WidgetOf(hWnd));
    if (!window || !window->BeginDestroy())
        return FALSE;
    window->Send(WM_DESTROY, 0, 0);
    delete window;
    return TRUE;
}

void PostQuitMessage(int nExitCode)
{
    quitPosted = true;
    quitCode = nExitCode;
}
