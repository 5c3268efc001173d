// The library's entry point and the simple exports.
#include "driverui.h"
#include "sheetstate.h"
#include "sheets.h"

/* UserIFDLLEntryFunc: the library's entry point. At DLL_PROCESS_ATTACH it
 * keeps hModule as LibraryInstance, where templates, bitmaps, strings and
 * sheet headers are found. Always TRUE. */
extern "C" __declspec(dllexport) BOOL WINAPI UserIFDLLEntryFunc(HINSTANCE hModule, DWORD dwReason, LPVOID pReserved)
{
    if (dwReason == DLL_PROCESS_ATTACH)
        LibraryInstance = hModule;
    return TRUE;
}

/* DllMain: what the loader calls; everything goes to UserIFDLLEntryFunc. */
extern "C" BOOL WINAPI DllMain(HINSTANCE hModule, DWORD dwReason, LPVOID pReserved)
{
    return UserIFDLLEntryFunc(hModule, dwReason, pReserved);
}

/* DrvDocumentProperties: document properties with the sheet (DM_PROMPT) or
 * without, on the caller's hPrinter. fMode 0 or no pdmOutput: 244, the size
 * pdmOutput needs, nothing written. Else DocumentPropertiesCore's result:
 * above 0 is IDOK, 0 IDCANCEL, a negative one (last error set) passed on. */
extern "C" __declspec(dllexport) LONG WINAPI DrvDocumentProperties(HWND hWnd, HANDLE hPrinter, LPWSTR pDeviceName,
                                                                  PDEVMODEW pdmOutput, PDEVMODEW pdmInput,
                                                                  DWORD fMode)
{
    if (!fMode || !pdmOutput)
        return sizeof(DriverDevmode);
    LONG lResult = DocumentPropertiesCore(hWnd, hPrinter, pDeviceName, pdmOutput, pdmInput, fMode);
    return lResult > 0 ? IDOK : lResult == 0 ? IDCANCEL : lResult;
}

/* DrvAdvancedDocumentProperties: the document sheet, output only
 * (DM_ADVANCED | DM_PROMPT | DM_COPY). Without pdmOutput: 244, the size it
 * needs. Otherwise 1 when the sheet ended with OK, else 0. */
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

/* DevQueryPrintEx: every job may print: TRUE; pDQPInfo is not read. */
extern "C" __declspec(dllexport) BOOL WINAPI DevQueryPrintEx(PDEVQUERYPRINT_INFO pDQPInfo)
{
    return TRUE;
}

/* DrvPrinterEvent: nothing to do for any event: TRUE. */
extern "C" __declspec(dllexport) BOOL WINAPI DrvPrinterEvent(LPWSTR pPrinterName, INT iDriverEvent, DWORD dwFlags,
                                                            LPARAM lParam)
{
    return TRUE;
}

/* DrvUpgradePrinter: nothing is upgraded: FALSE, ERROR_INVALID_PARAMETER. */
extern "C" __declspec(dllexport) BOOL WINAPI DrvUpgradePrinter(DWORD dwLevel, LPBYTE pDriverUpgradeInfo)
{
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}
