// The Information page of the printer sheet, and the raw jobs it submits: its
// own text ("TestPrint") and a dropped file ("FilePrint").
#include "resource.h"
#include "sheets.h"
#include <shellapi.h>

// Opens the state block's printer for a raw job and starts document pszDoc.
static HANDLE StartRawJob(SheetState *pState, LPCWSTR pszDoc)
{
    PRINTER_DEFAULTSW defaults;
    defaults.pDatatype = (LPWSTR)L"RAW";
    defaults.pDevMode = &pState->devmode.dm;
    defaults.DesiredAccess = PRINTER_ALL_ACCESS;
    HANDLE hPrinter = NULL;
    if (!OpenPrinterW(pState->devmode.dm.dmDeviceName, &hPrinter, &defaults))
        return NULL;
    DOC_INFO_1W doc;
    doc.pDocName = (LPWSTR)pszDoc;
    doc.pOutputFile = NULL;
    doc.pDatatype = (LPWSTR)L"RAW";
    if (!StartDocPrinterW(hPrinter, 1, (LPBYTE)&doc)) {
        ClosePrinter(hPrinter);
        return NULL;
    }
    StartPagePrinter(hPrinter);
    return hPrinter;
}

static void EndRawJob(HANDLE hPrinter)
{
    EndPagePrinter(hPrinter);
    EndDocPrinter(hPrinter);
    ClosePrinter(hPrinter);
}

BOOL SendRawBuffer(SheetState *pState, const BYTE *pBytes, DWORD cbBytes)
{
    HANDLE hPrinter = StartRawJob(pState, L"TestPrint");
    if (!hPrinter)
        return FALSE;
    DWORD cbWritten = 0;
    BOOL bWritten = WritePrinter(hPrinter, (LPVOID)pBytes, cbBytes, &cbWritten);
    EndRawJob(hPrinter);
    return bWritten && cbWritten == cbBytes;
}

BOOL PrintFileRaw(SheetState *pState, LPCWSTR pszPath)
{
    const DWORD cbTransfer = 1024;
    BYTE *pBuffer = (BYTE *)GlobalAlloc(GMEM_FIXED, cbTransfer);
    if (!pBuffer)
        return FALSE;
    HANDLE hFile = CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile != INVALID_HANDLE_VALUE)
        SetFilePointer(hFile, 0, NULL, FILE_BEGIN);
    BOOL bResult = FALSE;
    HANDLE hPrinter = StartRawJob(pState, L"FilePrint");
    if (hPrinter) {
        DWORD cbRead;
        while (hFile != INVALID_HANDLE_VALUE && ReadFile(hFile, pBuffer, cbTransfer, &cbRead, NULL) && cbRead) {
            DWORD cbWritten = 0;
            if (!WritePrinter(hPrinter, pBuffer, cbRead, &cbWritten))
                continue;
            if (cbWritten < cbRead) {
                bResult = FALSE;
                break;
            }
            bResult = TRUE;
        }
        EndRawJob(hPrinter);
    }
    if (hFile != INVALID_HANDLE_VALUE)
        CloseHandle(hFile);
    GlobalFree(pBuffer);
    return bResult;
}

static void AppendText(HWND hEdit, LPCWSTR pszText)
{
    SendMessageW(hEdit, EM_SETSEL, 0xFFFF, 0xFFFF);
    SendMessageW(hEdit, EM_REPLACESEL, FALSE, (LPARAM)pszText);
}

// Sends the edit's text, converted to the ANSI code page, as a test job.
static void SendPageText(HWND hDlg, SheetState *pState)
{
    HWND hEdit = GetDlgItem(hDlg, IDC_INFO_TEXT);
    int cch = (int)SendMessageW(hEdit, WM_GETTEXTLENGTH, 0, 0);
    LPWSTR pszText = (LPWSTR)HeapAlloc(pState->hHeap, HEAP_ZERO_MEMORY, (cch + 1) * sizeof(WCHAR));
    if (!pszText)
        return;
    SendMessageW(hEdit, WM_GETTEXT, cch + 1, (LPARAM)pszText);
    int cb = WideCharToMultiByte(CP_ACP, 0, pszText, cch, NULL, 0, NULL, NULL);
    char *pszAnsi = (char *)HeapAlloc(pState->hHeap, HEAP_ZERO_MEMORY, cb + 1);
    if (pszAnsi) {
        cb = WideCharToMultiByte(CP_ACP, 0, pszText, cch, pszAnsi, cb + 1, NULL, NULL);
        SendRawBuffer(pState, (const BYTE *)pszAnsi, (DWORD)cb);
        HeapFree(pState->hHeap, 0, pszAnsi);
    }
    HeapFree(pState->hHeap, 0, pszText);
}

static void PrintDroppedFile(HDROP hDrop, SheetState *pState)
{
    UINT cch = DragQueryFileW(hDrop, 0, NULL, 0);
    LPWSTR pszPath = (LPWSTR)GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, (cch + 1) * sizeof(WCHAR));
    if (pszPath) {
        DragQueryFileW(hDrop, 0, pszPath, cch + 1);
        PrintFileRaw(pState, pszPath);
        GlobalFree(pszPath);
    }
    DragFinish(hDrop);
}

INT_PTR CALLBACK InformationPageProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    SheetState *pState = (SheetState *)GetWindowLongPtrW(hDlg, DWLP_USER);
    switch (uMsg) {
    case WM_INITDIALOG: {
        pState = (SheetState *)((PROPSHEETPAGEW *)lParam)->lParam;
        SetWindowLongPtrW(hDlg, DWLP_USER, (LONG_PTR)pState);
        HWND hEdit = GetDlgItem(hDlg, IDC_INFO_TEXT);
        SetWindowTextW(hEdit, L"");
        if (ValidateSheetState(pState)) {
            AppendText(hEdit, pState->pszDriverName);
            AppendText(hEdit, L"\r\n");
        }
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
            EndDialog(hDlg, wParam);
            return TRUE;
        case IDC_SEND_DATA:
            if (ValidateSheetState(pState))
                SendPageText(hDlg, pState);
            return TRUE;
        }
        return FALSE;
    case WM_DROPFILES:
        if (ValidateSheetState(pState))
            PrintDroppedFile((HDROP)wParam, pState);
        else
            DragFinish((HDROP)wParam);
        return TRUE;
    }
    return FALSE;
}
