// Resource ids of the status monitor.
#pragma once
#define IDD_ABOUT          100
#define IDS_ABOUTMENU      101
#define IDD_STATUS         102
#define IDI_VIGIL          128
#define IDM_ABOUTBOX       16
#define IDC_PRINTER_LABEL  1000
#define IDC_HOST_LABEL     1001
#define IDC_PRINTER_INFO   1002
#define IDC_HOST_INFO      1003
#define IDC_PRINTER_PAUSE  1005
#define IDC_HOST_PAUSE     1006
#define IDC_DEVID          1007
#define IDC_USBGET         1008
#define IDC_SPOOL_INFO     1009
#define IDC_SPOOL_LABEL    1010
#define IDC_SPOOL_PAUSE    1011
