#include "RdsUsbMain.h"
#include "resource.h"
#include "usbInterface.h"

#define RDS_USB_OWNER_WIDTH 544
#define RDS_USB_OWNER_HEIGHT 375

const char szClassName[] = "Quorvel";

static void ShowReadError(HWND hwnd)
{
    MessageBoxA(hwnd, "Error reading Quorvel board !", "Quorvel", MB_OK | MB_ICONINFORMATION);
}

// Exit status: 0 after Quit, 1 when no board could be opened or the dialog
// could not be created.
int WINAPI WinMain(HINSTANCE hThisInstance, HINSTANCE, LPSTR, int)
{
    WNDCLASSEXA wincl = {};
    wincl.hInstance = hThisInstance;
    wincl.lpszClassName = szClassName;
    wincl.lpfnWndProc = WindowProcedure;
    wincl.style = CS_DBLCLKS;
    wincl.cbSize = sizeof(WNDCLASSEXA);
    wincl.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    wincl.hIconSm = LoadIconA(nullptr, IDI_APPLICATION);
    wincl.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wincl.lpszMenuName = nullptr;
    wincl.cbClsExtra = 0;
    wincl.cbWndExtra = 0;
    wincl.hbrBackground = (HBRUSH)GetStockObject(LTGRAY_BRUSH);
    if (!RegisterClassExA(&wincl))
        return 0;

    HWND hwnd = CreateWindowExA(0, szClassName, "Quorvel", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, RDS_USB_OWNER_WIDTH, RDS_USB_OWNER_HEIGHT, nullptr,
                                nullptr, hThisInstance, nullptr);

    int ExitCode = 0;
    int FlagQuit = 0;
    if (InitDataEdit() != 0) {
        ShowReadError(hwnd);
        ExitCode = 1;
        FlagQuit = 1;
    }
    while (!FlagQuit) {
        INT_PTR Result =
            DialogBoxParamA(hThisInstance, MAKEINTRESOURCEA(IDD_MAIN), hwnd, MainDlg, 0);
        if (Result == RDS_USB_DIALOG_QUIT) {
            FlagQuit = 1;
        } else if (Result != RDS_USB_DIALOG_RESET) {
            ExitCode = 1; // the dialog could not be created
            FlagQuit = 1;
        } else {
            usbCloseDevice(UsbRDSBoard);
            if (InitDataEdit() != 0) {
                ShowReadError(hwnd);
                ExitCode = 1;
                FlagQuit = 1;
            }
        }
    }
    usbCloseDevice(UsbRDSBoard);
    return ExitCode;
}

LRESULT CALLBACK WindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE: DestroyWindow(hwnd); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}
