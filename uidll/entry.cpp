// The library's entry point and the simple exports.
#include "driverui.h"
#include "sheetstate.h"
#include "sheets.h"

extern "C" __declspec(dllexport) BOOL WINAPI UserIFDLLEntryFunc(HINSTANCE hModule, DWORD dwReason, LPVOID pReserved)
{
    if (dwReason == DLL_PROCESS_ATTACH)
        LibraryInstance = hModule;
    return TRUE;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE hModule, DWORD dwReason, LPVOID pReserved)
{
    return UserIFDLLEntryFunc(hModule, dwReason, pReserved);
}

extern "C" __declspec(dllexport) LONG WINAPI DrvDocumentProperties(HWND hWnd, HANDLE hPrinter, LPWSTR pDeviceName,
                                                                  PDEVMODEW pdmOutput, PDEVMODEW pdmInput,
                                                                  DWORD fMode)
{
    if (!fMode || !pdmOutput)
        return sizeof(DriverDevmode);
    LONG lResult = DocumentPropertiesCore(hWnd, hPrinter, pDeviceName, pdmOutput, pdmInput, fMode);
    return lResult > 0 ? IDOK : lResult == 0 ? IDCANCEL : lResult;
}

extern "C" __declspec(dllexport) LONG WINAPI DrvAdvancedDocumentProperties(HWND hWnd, HANDLE hPrinter,
                                                                          LPWSTR pDeviceName, PDEVMODEW pdmOutput,
                                                                          PDEVMODEW pdmInput)
{
    if (!pdmOutput)
        return sizeof(DriverDevmode);
    return DocumentPropertiesCore(hWnd, hPrinter, pDeviceName, pdmOutput, pdmInput,
                                  DM_ADVANCED | DM_PROMPT | DM_COPY) > 0
               ? 1
               : 0;
}

extern "C" __declspec(dllexport) BOOL WINAPI DevQueryPrintEx(PDEVQUERYPRINT_INFO pDQPInfo)
{
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI DrvPrinterEvent(LPWSTR pPrinterName, INT iDriverEvent, DWORD dwFlags,
                                                            LPARAM lParam)
{
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI DrvUpgradePrinter(DWORD dwLevel, LPBYTE pDriverUpgradeInfo)
{
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}
