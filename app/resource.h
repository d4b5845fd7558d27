// Resource ids of the program: the main dialog and its controls.
#ifndef RESOURCE_H
#define RESOURCE_H

#define IDD_MAIN 1000

#define IDC_BUTTON_OK 1012
#define IDC_BUTTON_CANCEL 1013
#define IDC_BUTTON_RESET 1087
#define IDC_BUTTON_QUIT 1088
#define IDC_BUTTON_HELP 1089

// The main dialog's controls run from 1001 to 1094, in creation order.
#define IDC_FIRST_CONTROL 1001
#define IDC_LAST_CONTROL 1094
#define IDC_STATIC_RAM_TITLE 1001
#define IDC_EDIT_PS_RAM 1003
#define IDC_EDIT_RT_RAM 1004
#define IDC_EDIT_RT_E2P 1028
#define IDC_EDIT_PS_E2P 1029
#define IDC_STATIC_E2P_TITLE 1032
#define IDC_EDIT_PI_E2P 1033
#define IDC_EDIT_AF00 1037
#define IDC_STATIC_WEB_ADDRESS 1090

#endif
