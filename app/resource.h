// Resource ids of the program: the main dialog and its controls.
#ifndef RESOURCE_H
#define RESOURCE_H

#define IDI_QUORVEL 500
#define IDD_MAIN 1000

#define IDC_BUTTON_OK 1012
#define IDC_BUTTON_CANCEL 1013
#define IDC_BUTTON_RESET 1087
#define IDC_BUTTON_QUIT 1088
#define IDC_BUTTON_HELP 1089

#endif
