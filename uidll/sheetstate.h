// The working state of one property sheet, or of one call without a dialog,
// in a private heap that is destroyed with it.
#pragma once
#include "devmode.h"

struct SheetState {
    SheetState *pSelf;
    HANDLE hPrinter;   // the caller's; never closed here
    HANDLE hHeap;
    LPWSTR pszDriverName;   // at most 32 characters, shown on the Information page
    LPWSTR pszPrinterName;  // the queue's own name, whole; raw jobs go there
    DriverDevmode devmode;
    DWORD dwApplied;   // 1 once the Settings page was applied
    const DEVMODEW *pdmAskedIn;   // a document sheet's caller's input and output
    DEVMODEW *pdmAskedOut;        // device modes, when it asked for output; else null
    SheetState *pSelf2;
};

extern HINSTANCE LibraryInstance;

SheetState *CreateSheetState(HANDLE hPrinter, const DEVMODEW *pdmInput);
BOOL ValidateSheetState(const SheetState *pState);
void DestroySheetState(SheetState *pState);
void CommitSheetState(SheetState *pState, const DEVMODEW *pdmIn, DEVMODEW *pdmOut);
void DebugPrint(LPCWSTR pszFormat, ...);
/* RunsOnVistaOrLater: TRUE on NT 6 and later (Vista to 11), where WinHelp is
 * gone and a user without rights on a printer keeps defaults of their own;
 * FALSE on Windows 95 to XP, and when the version cannot be read. */
BOOL RunsOnVistaOrLater();
