#include "RdsUsbDriver.h"
#include "RdsUsbMain.h"
#include "resource.h"

#define RDS_USB_CAPTION "Quorvel"
#define RDS_USB_HELP_CAPTION "Quorvel  version 1.2 "

static const char HelpText[] =
    "Quorvel V1.2 08/2007 \r\n"
    "http://www.quorvel.example\r\n"
    "                    RAM section is current RDS data\r\n"
    "                    EEPROM section correspond to default value for power on\r\n"
    "                   mono/stereo : select clock used internal/external\r\n"
    "                   2A Group: select radiotext usage : 0=no radiotext / N:2A group send "
    "every N 0A groups \r\n"
    "                   Note:EEPROM PSNAME and radiotext change automatically RAM associate "
    "data \r\n"
    "                   PI= Program Identification code\r\n"
    "                   PSNAME = Program Service Name\r\n"
    "                   PTY = Program type\r\n"
    "                   MS = Music/speech\r\n"
    "                   DI = Decoder Information\r\n"
    "                   TP = Traffic Possible \r\n"
    "                   TA = Traffic Announcement \r\n"
    "                   AF = Alternate Frequency";

static void WriteBack(HWND hDlg)
{
    ReadNewDataEdit(hDlg);
    if (CheckNewDataEdit(hDlg))
        return;
    char Text[1024] = "Error writing Quorvel board !";
    PendingDataEdit(Text, sizeof(Text));
    MessageBoxA(hDlg, Text, RDS_USB_CAPTION, MB_OK | MB_ICONINFORMATION);
}

static void ResetBoard(HWND hDlg)
{
    if (MessageBoxA(hDlg, "Reset EEPROM to default value ?", RDS_USB_CAPTION, MB_OKCANCEL) != IDOK)
        return;
    if (RdsUsbResetE2p(UsbRDSBoard))
        MessageBoxA(hDlg, "EEPROM RDS reinitialised", RDS_USB_CAPTION, MB_OK | MB_ICONINFORMATION);
    else
        MessageBoxA(hDlg, "Error writing Quorvel board !", RDS_USB_CAPTION,
                    MB_OK | MB_ICONINFORMATION);
    EndDialog(hDlg, RDS_USB_DIALOG_RESET);
}

INT_PTR CALLBACK MainDlg(HWND hDlg, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: InitOldDataEdit(hDlg); return TRUE;
    case WM_CLOSE: EndDialog(hDlg, RDS_USB_DIALOG_QUIT); return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_BUTTON_OK: WriteBack(hDlg); return TRUE;
        case IDC_BUTTON_CANCEL: InitOldDataEdit(hDlg); return TRUE;
        case IDC_BUTTON_RESET: ResetBoard(hDlg); return TRUE;
        case IDC_BUTTON_QUIT: EndDialog(hDlg, RDS_USB_DIALOG_QUIT); return TRUE;
        case IDC_BUTTON_HELP:
            MessageBoxA(hDlg, HelpText, RDS_USB_HELP_CAPTION, MB_OK | MB_ICONINFORMATION);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}
