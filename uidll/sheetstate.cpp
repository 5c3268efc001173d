#include "sheetstate.h"
#include "driverui.h"
#include "resource.h"
#include <stdarg.h>

HINSTANCE LibraryInstance;  // set once at process attach, read everywhere after

/* Copies the first cch characters of pszText into a new terminated block of
 * hHeap (freed with the heap); NULL when the heap has no room. */
static LPWSTR HeapCopy(HANDLE hHeap, LPCWSTR pszText, int cch)
{
    LPWSTR pszCopy = (LPWSTR)HeapAlloc(hHeap, HEAP_ZERO_MEMORY, (cch + 1) * sizeof(WCHAR));
    if (pszCopy)
        lstrcpynW(pszCopy, pszText, cch + 1);
    return pszCopy;
}

/* CreateSheetState: one sheet's state for hPrinter (kept, never closed) in a
 * heap of its own: driver and queue names, the device mode from defaults,
 * stored settings, printer default and pdmInput. NULL when any part can't be
 * had. Free it with DestroySheetState. */
SheetState *CreateSheetState(HANDLE hPrinter, const DEVMODEW *pdmInput)
{
    HANDLE hHeap = HeapCreate(0, 8192, 0);
    if (!hHeap)
        return NULL;
    SheetState *pState = (SheetState *)HeapAlloc(hHeap, HEAP_ZERO_MEMORY, sizeof(SheetState));
    PRINTER_INFO_2W *pInfo = pState ? AllocPrinterInfo(hPrinter) : NULL;
    if (!pInfo) {
        HeapDestroy(hHeap);
        return NULL;
    }
    pState->pSelf = pState->pSelf2 = pState;
    pState->hPrinter = hPrinter;
    pState->hHeap = hHeap;
    pState->dwApplied = 0;
    LPCWSTR pszDriver = pInfo->pDriverName ? pInfo->pDriverName : L"";
    const int cchName = 32;  // the driver name is kept to 32 characters
    pState->pszDriverName = HeapCopy(hHeap, pszDriver, cchName);
    // The queue's name is kept whole: a cut name would send raw jobs to
    // another queue or nowhere.
    LPCWSTR pszQueue = pInfo->pPrinterName;
    pState->pszPrinterName = pszQueue ? HeapCopy(hHeap, pszQueue, lstrlenW(pszQueue)) : NULL;
    if (!pState->pszDriverName || (pszQueue && !pState->pszPrinterName)) {
        FreeSpoolRecord(pInfo);
        HeapDestroy(hHeap);
        return NULL;
    }
    BuildWorkingDevmode(&pState->devmode, hPrinter, pszDriver);
    MergeDevmode(&pState->devmode, pInfo->pDevMode);
    MergeDevmode(&pState->devmode, pdmInput);
    FreeSpoolRecord(pInfo);
    UpdateDerivedFields(&pState->devmode);
    return pState;
}

/* ValidateSheetState: TRUE when pState is present and both of its self
 * fields hold its address, as CreateSheetState left them; a NULL or foreign
 * pointer in a page's lParam or a sheet's UserData fails. */
BOOL ValidateSheetState(const SheetState *pState)
{
    return pState && pState->pSelf == pState && pState->pSelf2 == pState;
}

/* DestroySheetState: frees a valid state block and everything allocated
 * from its heap; pointers into it are dead afterwards. Anything else: no-op. */
void DestroySheetState(SheetState *pState)
{
    if (ValidateSheetState(pState))
        HeapDestroy(pState->hHeap);
}

/* KeepUserDefault: the device mode as this user's own default (level 9),
 * when the spooler refused it as the printer's default for want of rights (a
 * standard user; an administrator without elevation; a caller's handle
 * opened only to use the printer). Kept, the user's choice holds for them
 * and nothing is shown; not kept either, a message box says so. */
static void KeepUserDefault(SheetState *pState)
{
    PRINTER_INFO_9W info = {&pState->devmode.dm};
    BOOL bKept = SetPrinterW(pState->hPrinter, 9, (LPBYTE)&info, 0);
    DWORD dwError = GetLastError();
    DebugPrint(L"KZTTZUIF SetPrinter(9) R %d E %d", bKept, dwError);
    WCHAR szFormat[256];
    if (bKept || !LoadStringW(LibraryInstance, IDS_DEFAULT_NOT_KEPT, szFormat, 256))
        return;
    WCHAR szText[1025];  // wvsprintfW's own limit
    wsprintfW(szText, szFormat, pState->pszPrinterName ? pState->pszPrinterName : L"", dwError);
    MessageBoxW(GetActiveWindow(), szText, pState->pszDriverName, MB_OK | MB_TASKMODAL | MB_ICONEXCLAMATION);
}

BOOL RunsOnVistaOrLater()
{
    OSVERSIONINFOW osvi;
    ZeroMemory(&osvi, sizeof(osvi));
    osvi.dwOSVersionInfoSize = sizeof(osvi);
    BOOL bOk = GetVersionExW(&osvi);
    DWORD dwError = GetLastError();
    DebugPrint(L"KZTTZUIF GetVersionEx R %d E %d %lu.%lu", bOk, bOk ? 0 : dwError, osvi.dwMajorVersion,
               osvi.dwMinorVersion);
    return bOk && osvi.dwPlatformId == VER_PLATFORM_WIN32_NT && osvi.dwMajorVersion >= 6;
}

/* CommitSheetState: only for a valid block whose page was applied: the
 * derived fields, pdmOut (if given) in pdmIn's shape, the printer data, a
 * WM_DEVMODECHANGE broadcast and the printer's default device mode, in that
 * order; failures are silent, but for a default refused for want of rights
 * on Vista and later, which is kept as the user's own, or told when it
 * cannot be (KeepUserDefault). Called once, when the Settings page goes. */
void CommitSheetState(SheetState *pState, const DEVMODEW *pdmIn, DEVMODEW *pdmOut)
{
    if (!ValidateSheetState(pState) || pState->dwApplied != 1)
        return;
    UpdateDerivedFields(&pState->devmode);
    if (pdmOut)
        CopyDevmodeOut(&pState->devmode, pdmIn, pdmOut);
    SavePrivateSettings(pState->hPrinter, &pState->devmode.priv, sizeof(PrivateSettings));
    SendMessageW(HWND_BROADCAST, WM_DEVMODECHANGE, 0, (LPARAM)pState->devmode.dm.dmDeviceName);
    PRINTER_INFO_2W *pInfo = AllocPrinterInfo(pState->hPrinter);
    if (pInfo) {
        pInfo->pDevMode = &pState->devmode.dm;
        BOOL bSet = SetPrinterW(pState->hPrinter, 2, (LPBYTE)pInfo, 0);
        DWORD dwError = GetLastError();
        FreeSpoolRecord(pInfo);
        DebugPrint(L"KZTTZUIF SetPrinter(2) R %d E %d", bSet, dwError);
        // Windows 2000 and XP: the failure stays silent, as there the
        // design has it.
        if (!bSet && dwError == ERROR_ACCESS_DENIED && RunsOnVistaOrLater())
            KeepUserDefault(pState);
    }
}

/* DebugPrint: wvsprintfW's text of pszFormat and its arguments, cut to 254
 * characters, with a carriage return, to OutputDebugStringW. */
void DebugPrint(LPCWSTR pszFormat, ...)
{
    WCHAR szText[1025];  // wvsprintfW's own limit
    va_list args;
    va_start(args, pszFormat);
    wvsprintfW(szText, pszFormat, args);
    va_end(args);
    szText[254] = 0;  // the message buffer holds 256 characters with its CR
    lstrcatW(szText, L"\r");
    OutputDebugStringW(szText);
}
