// The platform's documented printer-driver user-interface declarations that
// MinGW's winddiui.h and compstui.h leave out or declare with the wrong
// calling convention.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <winspool.h>
#include <winddiui.h>
#include <compstui.h>

#ifndef DM_ADVANCED
#define DM_ADVANCED 0x10
#endif
#ifndef DM_NOPERMISSION
#define DM_NOPERMISSION 0x20
#endif
#ifndef DM_USER_DEFAULT
#define DM_USER_DEFAULT 0x40
#endif

#define CDM_CONVERT 0x01
#define CDM_CONVERT351 0x02
#define CDM_DRIVER_DEFAULT 0x04

#define DPS_NOPERMISSION 0x0001

typedef struct _DOCUMENTPROPERTYHEADER {
    WORD cbSize;
    WORD Reserved;
    HANDLE hPrinter;
    LPWSTR pszPrinterName;
    PDEVMODEW pdmIn;
    PDEVMODEW pdmOut;
    DWORD cbOut;
    DWORD fMode;
} DOCUMENTPROPERTYHEADER, *PDOCUMENTPROPERTYHEADER;

typedef struct _DEVICEPROPERTYHEADER {
    WORD cbSize;
    WORD Flags;
    HANDLE hPrinter;
    LPWSTR pszPrinterName;
} DEVICEPROPERTYHEADER, *PDEVICEPROPERTYHEADER;

typedef struct _DEVQUERYPRINT_INFO {
    WORD cbSize;
    WORD Level;
    HANDLE hPrinter;
    DEVMODEW *pDevMode;
    LPWSTR pszErrorStr;
    DWORD cchErrorStr;
    DWORD cchNeeded;
} DEVQUERYPRINT_INFO, *PDEVQUERYPRINT_INFO;

#ifndef _WIN64
static_assert(sizeof(DOCUMENTPROPERTYHEADER) == 28, "documented 32-bit size");
static_assert(sizeof(DEVICEPROPERTYHEADER) == 12, "documented 32-bit size");
static_assert(offsetof(PROPSHEETPAGEW, pszHeaderSubTitle) + sizeof(LPCWSTR) == 48,
              "the pages are 48-byte records");
#endif

// compstui.h declares the sheet function without WINAPI (cdecl on x86).
typedef LONG(CALLBACK *PFNPROPSHEETUI_API)(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam);
typedef LONG(WINAPI *PFNCOMMONPROPERTYSHEETUIW)(HWND hWndOwner, PFNPROPSHEETUI_API pfnPropSheetUI, LPARAM lParam,
                                                LPDWORD pResult);

#ifdef __cplusplus
extern "C" {
#endif
BOOL WINAPI UserIFDLLEntryFunc(HINSTANCE hModule, DWORD dwReason, LPVOID pReserved);
LONG WINAPI DrvDocumentPropertySheets(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam);
LONG WINAPI DrvDevicePropertySheets(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam);
LONG WINAPI DrvDocumentProperties(HWND hWnd, HANDLE hPrinter, LPWSTR pDeviceName, PDEVMODEW pdmOutput,
                                  PDEVMODEW pdmInput, DWORD fMode);
LONG WINAPI DrvAdvancedDocumentProperties(HWND hWnd, HANDLE hPrinter, LPWSTR pDeviceName, PDEVMODEW pdmOutput,
                                          PDEVMODEW pdmInput);
BOOL WINAPI PrinterProperties(HWND hWnd, HANDLE hPrinter);
DWORD WINAPI DrvDeviceCapabilities(HANDLE hPrinter, PWSTR pDeviceName, WORD iDevCap, VOID *pvOutput,
                                   PDEVMODEW pDevMode);
BOOL WINAPI DrvConvertDevMode(LPWSTR pPrinterName, PDEVMODEW pdmIn, PDEVMODEW pdmOut, PLONG pcbNeeded,
                              DWORD fMode);
BOOL WINAPI DevQueryPrintEx(PDEVQUERYPRINT_INFO pDQPInfo);
BOOL WINAPI DrvUpgradePrinter(DWORD dwLevel, LPBYTE pDriverUpgradeInfo);
#ifdef __cplusplus
}
#endif
