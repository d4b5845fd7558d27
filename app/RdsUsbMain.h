// The field table, its load from the board, its exchange with the main
// dialog and the write-back; the main dialog; start-up.
#ifndef RDS_USB_MAIN_H
#define RDS_USB_MAIN_H

#include "windows.h"

#include <usb.h>

#define RDS_USB_TEXT_SIZE 128

// One editable field.
struct T_R_DataMainEdit {
    int IdEdit;                        // its edit control in dialog 1000
    int IdRdsFunction;                 // its first write request
    char OldString[RDS_USB_TEXT_SIZE]; // as last loaded from or written to the board
    char NewString[RDS_USB_TEXT_SIZE]; // as last read from the dialog
};

#define RDS_USB_DIALOG_RESET 1087
#define RDS_USB_DIALOG_QUIT 1088

extern usb_dev_handle *UsbRDSBoard;
extern const char szClassName[];

// Opens the board and loads every row; 0, or the nonzero status of the open.
int InitDataEdit(void);
// The rows, read-only: what the table holds, seen without the dialog.
const T_R_DataMainEdit *GetDataEdit(void);

void InitOldDataEdit(HWND hDlg);
void ReadNewDataEdit(HWND hDlg);
// Writes every row whose text changed; a row whose write failed stays changed.
// Returns whether every changed row was written.
bool CheckNewDataEdit(HWND hDlg);
// Appends "\r\n" and the label of each row still changed after a write-back.
void PendingDataEdit(char *Text, int size);

INT_PTR CALLBACK MainDlg(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK WindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

#endif
