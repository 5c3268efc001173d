// The printer property sheet: one Information page; it commits nothing.
#include "resource.h"
#include "sheets.h"

/* DrvDevicePropertySheets: the printer sheet's function for compstui; its
 * lParamInit is the caller's DEVICEPROPERTYHEADER (hPrinter never closed).
 * INIT creates the SheetState in UserData and adds the Information page;
 * later reasons need it; DESTROY frees it. 1 if handled, else -1. */
extern "C" __declspec(dllexport) LONG WINAPI DrvDevicePropertySheets(PPROPSHEETUI_INFO pInfo, LPARAM lParam)
{
    if (!pInfo || !pInfo->lParamInit)
        return -1;
    DEVICEPROPERTYHEADER *pHeader = (DEVICEPROPERTYHEADER *)pInfo->lParamInit;
    SheetState *pState;
    if (pInfo->Reason == PROPSHEETUI_REASON_INIT) {
        pState = CreateSheetState(pHeader->hPrinter, NULL);
        pInfo->UserData = (ULONG_PTR)pState;
    } else {
        pState = (SheetState *)pInfo->UserData;
    }
    if (!ValidateSheetState(pState))
        return -1;
    switch (pInfo->Reason) {
    case PROPSHEETUI_REASON_INIT:
        AddSheetPage(pInfo, IDD_INFORMATION, PSP_USEICONID | PSP_HASHELP, InformationPageProc, NULL, pState);
        return 1;
    case PROPSHEETUI_REASON_GET_INFO_HEADER: {
        PROPSHEETUI_INFO_HEADER *pInfoHeader = (PROPSHEETUI_INFO_HEADER *)lParam;
        pInfoHeader->Flags = PSUIHDRF_PROPTITLE | PSUIHDRF_NOAPPLYNOW;
        pInfoHeader->pTitle = pHeader->pszPrinterName;
        pInfoHeader->hInst = LibraryInstance;
        return 1;
    }
    case PROPSHEETUI_REASON_DESTROY:
        DestroySheetState(pState);
        pInfo->UserData = 0;
        return 1;
    case PROPSHEETUI_REASON_SET_RESULT:
    case PROPSHEETUI_REASON_GET_ICON:
        return 1;
    default:
        return -1;
    }
}

/* PrinterProperties: shows hPrinter's printer sheet (the handle stays the
 * caller's) owned by hWnd until it closes. Writing "Permission" = 1 probes
 * the right to change the printer; a refusal sets DPS_NOPERMISSION. FALSE
 * when the sheet reported no change or could not be shown, else TRUE. */
extern "C" __declspec(dllexport) BOOL WINAPI PrinterProperties(HWND hWnd, HANDLE hPrinter)
{
    DEVICEPROPERTYHEADER header;
    header.cbSize = sizeof(header);
    header.Flags = 0;
    header.hPrinter = hPrinter;
    header.pszPrinterName = NULL;
    DWORD dwPermission = 1;
    if (SetPrinterDataW(hPrinter, (LPWSTR)L"Permission", REG_DWORD, (LPBYTE)&dwPermission, sizeof(dwPermission)) !=
        ERROR_SUCCESS)
        header.Flags |= DPS_NOPERMISSION;
    DWORD dwResult = 1;
    if (ShowCommonPropertySheet(hWnd, DrvDevicePropertySheets, (LPARAM)&header, &dwResult) < 0)
        return FALSE;
    return dwResult != 0;
}
