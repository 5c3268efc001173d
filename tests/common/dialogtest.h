// Resource ids of the dialog framework's test dialog.
#pragma once
#define IDD_FRAMEWORK  200
#define IDI_FRAMEWORK  300
#define IDC_MODEL      101  // sorted drop-down list
#define IDC_PORT       102  // drop-down combo with an edit
#define IDC_INSTALL    111  // radio group 111 to 113
#define IDC_UNINSTALL  112
#define IDC_REINSTALL  113
#define IDC_START      120
#define IDC_ANY        130
