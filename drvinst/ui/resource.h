// Resource ids of the installer program.
#pragma once

// String table: the serial line settings shown by the completion dialog, and
// the caption of every dialog of the program.
#define IDS_PARITY_EVEN     1
#define IDS_PARITY_MARK     2
#define IDS_PARITY_NONE     3
#define IDS_PARITY_ODD      4
#define IDS_PARITY_SPACE    5
#define IDS_STOPBITS_1      6
#define IDS_STOPBITS_15     7
#define IDS_STOPBITS_2      8
#define IDS_FLOW_HARDWARE   9
#define IDS_FLOW_XONXOFF    10
#define IDS_FLOW_NONE       11
#define IDS_CAPTION         12

#define IDD_INSTALL         102     // the main dialog
#define IDI_APP             128     // the program's icon

#define IDD_COMPLETE        130
#define IDD_PLUGUSB         131
#define IDD_REBOOT          132

// Main dialog.
#define IDC_MODEL_LABEL     1000
#define IDC_PORT_LABEL      1001
#define IDC_MODEL           1002
#define IDC_PORT            1003
#define IDC_COMCONFIG       1004
#define IDC_INSTALL         1005    // the action's radio group: 1005 to 1007,
#define IDC_UNINSTALL       1006
#define IDC_REINSTALL       1007    // (hidden: reached only from the command line)
#define IDC_SEPARATOR       1008    // and the line below it
#define IDC_START           1009
// Completion dialog.
#define IDC_COMPLETE_MODEL  1010
#define IDC_COMPLETE_PORT   1011
#define IDC_BAUD            1012    // the five values, in this order,
#define IDC_DATABITS        1013
#define IDC_PARITY          1014
#define IDC_STOPBITS        1015
#define IDC_FLOW            1016
#define IDC_BAUD_LABEL      1017    // and their five labels
#define IDC_DATABITS_LABEL  1018
#define IDC_PARITY_LABEL    1019
#define IDC_STOPBITS_LABEL  1020
#define IDC_FLOW_LABEL      1021
// USB notice.
#define IDC_USB_MODEL       1022
#define IDC_USB_PORT        1023
// Restart question.
#define IDC_REBOOT_ICON     1025
