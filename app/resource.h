// Ids of the main dialog's template, its controls and the program's other
// resources, shared by the resource script (app/watchdog.rc) and the code.
// Plain macros, since the resource compiler reads no enums.
#pragma once

// The program's name (the dialog's caption) and its version, as the version
// record gives them.
#define ZQ_PROGRAM_NAME "Brindlemoor Win32 Watch Dog"
#define ZQ_VERSION_TEXT "1.0.0.4"

#define IDD_MAIN 107
#define IDI_PROGRAM 105

#define IDC_EXIT 1
#define IDC_CANCEL 2
#define IDC_CPU 1000
#define IDC_PROGRAM_ICON 1001
#define IDC_OS_DESC 1002
#define IDC_CLEAR 1003
#define IDC_TRIGGER 1005
#define IDC_ORVANE 1006
#define IDC_CLOUD 1007
#define IDC_EVENT_LIST 40002
#define IDC_COMMON_IPS 40006
#define IDC_HOST_NAME 40008
// The labels, which the code never addresses.
#define IDC_STATIC (-1)
