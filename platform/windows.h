// The subset of the Win32 user-interface API that the program uses, with
// Win32's names, types and values. Implemented over Qt 6 Widgets; nothing of
// Qt shows through this header.
#ifndef PLATFORM_WINDOWS_H
#define PLATFORM_WINDOWS_H

#include <cstdint>

#define WINAPI
#define CALLBACK

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef unsigned int UINT;
typedef unsigned long DWORD;
typedef WORD ATOM;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef intptr_t INT_PTR;

// The handle types under their Win32 names, which the tests' symbol wraps
// spell out (HWND__ in MessageBoxA's mangled name).
// NOLINTBEGIN(bugprone-reserved-identifier)
typedef struct HWND__ *HWND;
typedef struct HICON__ *HICON;
typedef HICON HCURSOR;
typedef struct HGDIOBJ__ *HGDIOBJ;
typedef HGDIOBJ HBRUSH;
typedef struct HMENU__ *HMENU;
typedef struct HINSTANCE__ *HINSTANCE;
// NOLINTEND(bugprone-reserved-identifier)

typedef INT_PTR(CALLBACK *DLGPROC)(HWND, UINT, WPARAM, LPARAM);
typedef LRESULT(CALLBACK *WNDPROC)(HWND, UINT, WPARAM, LPARAM);

#define TRUE 1
#define FALSE 0

#define LOWORD(l) ((WORD)(((uintptr_t)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((uintptr_t)(l)) >> 16) & 0xffff))
#define MAKEINTRESOURCEA(i) ((LPSTR)((uintptr_t)((WORD)(i))))

// Messages
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111

// Message boxes
#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_ICONINFORMATION 0x00000040L
#define IDOK 1
#define IDCANCEL 2

// Window classes and windows
#define CS_DBLCLKS 0x0008
#define CW_USEDEFAULT ((int)0x80000000)
#define IDI_APPLICATION MAKEINTRESOURCEA(32512)
#define IDC_ARROW MAKEINTRESOURCEA(32512)
#define LTGRAY_BRUSH 1
#define SW_SHOWDEFAULT 10

// Window styles
#define WS_OVERLAPPED 0x00000000L
#define WS_TABSTOP 0x00010000L
#define WS_MAXIMIZEBOX 0x00010000L
#define WS_MINIMIZEBOX 0x00020000L
#define WS_THICKFRAME 0x00040000L
#define WS_SYSMENU 0x00080000L
#define WS_BORDER 0x00800000L
#define WS_CAPTION 0x00C00000L
#define WS_VISIBLE 0x10000000L
#define WS_CHILD 0x40000000L
#define WS_OVERLAPPEDWINDOW                                                                        \
    (WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)
#define WS_EX_DLGMODALFRAME 0x00000001L
#define WS_EX_CLIENTEDGE 0x00000200L
#define WS_EX_STATICEDGE 0x00020000L
#define DS_SETFONT 0x40L
#define ES_LEFT 0x0000L
#define ES_AUTOHSCROLL 0x0080L
#define SS_LEFT 0x0000L
#define SS_RIGHT 0x0002L
#define BS_PUSHBUTTON 0x0000L

// A dialog template, as a resource script gives it: positions and sizes in
// dialog units of the dialog's font.
struct DLGITEMRESOURCE {
    WORD id;
    const char *windowClass; // "BUTTON", "EDIT" or "STATIC"
    const char *text;
    short x, y, cx, cy;
    DWORD style;
    DWORD exStyle;
};

struct DLGRESOURCE {
    WORD id;
    const char *caption;
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;
    WORD pointSize;
    WORD weight;
    BYTE italic;
    const char *typeface;
    const DLGITEMRESOURCE *items;
    int itemCount;
};

// A module: the resources linked into it. The program defines its own,
// ProgramInstance, and receives it as WinMain's first argument.
struct HINSTANCE__ {
    const DLGRESOURCE *const *dialogs;
    int dialogCount;
};
extern HINSTANCE__ ProgramInstance;

struct WNDCLASSEXA {
    UINT cbSize;
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
    HICON hIconSm;
};

// The program's entry point, called by the layer's main().
int WINAPI WinMain(HINSTANCE hThisInstance, HINSTANCE hPrevInstance, LPSTR lpszArgument,
                   int nFunsterStil);

HICON LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName);
HCURSOR LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName);
HGDIOBJ GetStockObject(int i);
ATOM RegisterClassExA(const WNDCLASSEXA *wndClass);
HWND CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X,
                     int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu,
                     HINSTANCE hInstance, void *lpParam);
LRESULT DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
BOOL DestroyWindow(HWND hWnd);
void PostQuitMessage(int nExitCode);

// Runs the dialog modally; returns the EndDialog code, or -1 when the dialog
// cannot be created.
INT_PTR DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                        DLGPROC lpDialogFunc, LPARAM dwInitParam);
BOOL EndDialog(HWND hDlg, INT_PTR nResult);
BOOL SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString);
UINT GetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax);
int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);

#endif
