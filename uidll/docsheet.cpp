// The document property sheet (one Settings page) and document properties
// without a dialog.
#include "resource.h"
#include "sheets.h"
#include "syslib.h"

/* ShowCommonPropertySheet: loads compstui.dll from the system directory for
 * one CommonPropertySheetUIW call of pfnSheet with lParam, owned by
 * hWndOwner, and frees it after; the call blocks until the sheet closes and
 * leaves the sheet's result in *pdwResult. Its result and last error; -1 without compstui or its export. */
LONG ShowCommonPropertySheet(HWND hWndOwner, PFNPROPSHEETUI_API pfnSheet, LPARAM lParam, DWORD *pdwResult)
{
    char szPath[MAX_PATH];
    HMODULE hCompstui = LoadSystemLibraryA("compstui.dll", szPath, sizeof(szPath));
    if (!hCompstui)
        return -1;
    PFNCOMMONPROPERTYSHEETUIW pfnCommon =
        (PFNCOMMONPROPERTYSHEETUIW)GetProcAddress(hCompstui, "CommonPropertySheetUIW");
    LONG lResult = pfnCommon ? pfnCommon(hWndOwner, pfnSheet, lParam, pdwResult) : -1;
    DWORD dwError = GetLastError();  // a sheet that failed to start says why
    FreeLibrary(hCompstui);
    SetLastError(dwError);
    return lResult;
}

/* AddSheetPage: adds a 48-byte PROPSHEETPAGEW of template nTemplate (found
 * in LibraryInstance) with dwFlags, pfnDlgProc, pfnCallback (or NULL) and
 * pState as its lParam, through pInfo's pfnComPropSheet; its answer is not
 * examined. Only at PROPSHEETUI_REASON_INIT; pState outlives the page. */
void AddSheetPage(PPROPSHEETUI_INFO pInfo, int nTemplate, DWORD dwFlags, DLGPROC pfnDlgProc,
                  LPFNPSPCALLBACKW pfnCallback, SheetState *pState)
{
    PROPSHEETPAGEW page;
    ZeroMemory(&page, sizeof(page));
    page.dwSize = PROPSHEETPAGEW_V2_SIZE;
    page.dwFlags = dwFlags;
    page.hInstance = LibraryInstance;
    page.pszTemplate = MAKEINTRESOURCEW(nTemplate);
    page.pfnDlgProc = pfnDlgProc;
    page.pfnCallback = pfnCallback;
    page.lParam = (LPARAM)pState;
    pInfo->pfnComPropSheet(pInfo->hComPropSheet, CPSFUNC_ADD_PROPSHEETPAGEW, (LPARAM)&page, 0);
}

/* CopyAskedOutput: when pHeader->fMode has DM_UPDATE or DM_COPY, pState's
 * device mode to pHeader->pdmOut in pdmIn's shape. TRUE when written or not
 * asked; FALSE, pdmOut untouched, when pdmIn's shape is refused. */
static BOOL CopyAskedOutput(const SheetState *pState, const DOCUMENTPROPERTYHEADER *pHeader)
{
    return !(pHeader->fMode & (DM_UPDATE | DM_COPY)) ||
           CopyDevmodeOut(&pState->devmode, pHeader->pdmIn, pHeader->pdmOut);
}

/* DocumentPropertiesNoUi: sets pHeader->cbOut to 244; fMode 0 or no pdmOut:
 * 244. Else with DM_UPDATE or DM_COPY the merged device mode goes to pdmOut
 * in pdmIn's shape (244 bytes without pdmIn); 1, or -1 with the last error
 * when no state block could be made or pdmIn's shape is refused. */
LONG DocumentPropertiesNoUi(DOCUMENTPROPERTYHEADER *pHeader)
{
    pHeader->cbOut = sizeof(DriverDevmode);
    if (!pHeader->fMode || !pHeader->pdmOut)
        return sizeof(DriverDevmode);
    SheetState *pState = CreateSheetState(pHeader->hPrinter, pHeader->pdmIn);
    if (!pState)
        return -1;
    BOOL bWritten = CopyAskedOutput(pState, pHeader);
    DestroySheetState(pState);
    if (!bWritten) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    return 1;
}

/* DocumentPropertiesCore: builds the 28-byte DOCUMENTPROPERTYHEADER of its
 * arguments for this call only. With DM_PROMPT it shows the document sheet
 * owned by hWnd and blocks: 1 for OK, 0 for Cancel, -1 without compstui or
 * when the sheet did not start. Otherwise DocumentPropertiesNoUi's result. */
LONG DocumentPropertiesCore(HWND hWnd, HANDLE hPrinter, LPWSTR pDeviceName, PDEVMODEW pdmOut, PDEVMODEW pdmIn,
                            DWORD fMode)
{
    DOCUMENTPROPERTYHEADER header;
    header.cbSize = sizeof(header);
    header.Reserved = 0;
    header.hPrinter = hPrinter;
    header.pszPrinterName = pDeviceName;
    header.pdmIn = pdmIn;
    header.pdmOut = pdmOut;
    header.cbOut = 0;
    header.fMode = fMode;
    if (!(fMode & DM_PROMPT))
        return DocumentPropertiesNoUi(&header);
    DWORD dwResult = 0;
    if (ShowCommonPropertySheet(hWnd, DrvDocumentPropertySheets, (LPARAM)&header, &dwResult) < 0)
        return -1;
    return dwResult == CPSUI_OK ? 1 : 0;
}

/* DrvDocumentPropertySheets: the document sheet's function for compstui
 * (lParamInit: the caller's DOCUMENTPROPERTYHEADER), or without pInfo the
 * no-dialog path for the header in lParam. INIT makes the state, first output
 * (else -1, last error set, no page) and page; the state remembers where the
 * caller wants the output, so sheets open at once on several threads each
 * write their own; DESTROY drops them. 1 if handled, else -1. */
extern "C" __declspec(dllexport) LONG WINAPI DrvDocumentPropertySheets(PPROPSHEETUI_INFO pInfo, LPARAM lParam)
{
    DOCUMENTPROPERTYHEADER *pHeader = (DOCUMENTPROPERTYHEADER *)(pInfo ? pInfo->lParamInit : lParam);
    if (!pHeader)
        return -1;
    if (!pInfo)
        return DocumentPropertiesNoUi(pHeader);
    switch (pInfo->Reason) {
    case PROPSHEETUI_REASON_INIT: {
        SheetState *pState = CreateSheetState(pHeader->hPrinter, pHeader->pdmIn);
        if (!pState)
            return -1;
        // The first output before the page: a sheet that can't answer in
        // the caller's shape does not start, and no page holds its state.
        if (!CopyAskedOutput(pState, pHeader)) {
            DestroySheetState(pState);
            SetLastError(ERROR_INVALID_PARAMETER);
            return -1;
        }
        pInfo->UserData = (ULONG_PTR)pState;
        AddSheetPage(pInfo, IDD_SETTINGS, PSP_USEICONID | PSP_HASHELP | PSP_USECALLBACK, SettingsPageProc,
                     SettingsPageCallback, pState);
        if (pHeader->fMode & (DM_UPDATE | DM_COPY)) {
            pState->pdmAskedIn = pHeader->pdmIn;
            pState->pdmAskedOut = pHeader->pdmOut;
        }
        return 1;
    }
    case PROPSHEETUI_REASON_GET_INFO_HEADER: {
        PROPSHEETUI_INFO_HEADER *pInfoHeader = (PROPSHEETUI_INFO_HEADER *)lParam;
        pInfoHeader->Flags = PSUIHDRF_PROPTITLE;
        pInfoHeader->pTitle = pHeader->pszPrinterName;
        pInfoHeader->hInst = LibraryInstance;
        return 1;
    }
    case PROPSHEETUI_REASON_DESTROY:
        DestroySheetState((SheetState *)pInfo->UserData);
        pInfo->UserData = 0;
        return 1;
    case PROPSHEETUI_REASON_SET_RESULT:
        pInfo->Result = ((SETRESULT_INFO *)lParam)->Result;
        return 1;
    case PROPSHEETUI_REASON_GET_ICON:
        return 1;
    default:
        return -1;
    }
}

/* SettingsPageCallback: at PSPCB_RELEASE (before the sheet's DESTROY frees
 * the state) commits the page's SheetState, if it was applied, into the
 * output device mode its sheet's caller asked for, and the printer. Always 1. */
UINT CALLBACK SettingsPageCallback(HWND hWnd, UINT uMsg, LPPROPSHEETPAGEW pPage)
{
    if (uMsg == PSPCB_RELEASE && pPage) {
        SheetState *pState = (SheetState *)pPage->lParam;
        CommitSheetState(pState, pState->pdmAskedIn, pState->pdmAskedOut);
    }
    return 1;
}
