// The Information page of the printer sheet, and the raw jobs it submits: its
// own text ("TestPrint") and a dropped file ("FilePrint"). Both go to the
// queue whose sheet is open. A job that fails on the way is cancelled rather
// than ended with part of its data, and the page tells the user.
#include "resource.h"
#include "sheets.h"
#include <shellapi.h>

/* Cancels a job whose data is not whole (the spooler drops what it holds of
 * it) and closes the printer handle. Keeps the caller's last error. */
static void CancelRawJob(HANDLE hPrinter)
{
    DWORD dwError = GetLastError();
    AbortPrinter(hPrinter);
    ClosePrinter(hPrinter);
    SetLastError(dwError);
}

/* Opens the sheet's queue by its own name, for use only (any user may print
 * there), and starts raw document pszDoc with one page. Returns the printer
 * handle for WriteRawBlock, then EndRawJob or CancelRawJob; or NULL with the
 * last error of the step that failed, with nothing left open. */
static HANDLE StartRawJob(SheetState *pState, LPCWSTR pszDoc)
{
    if (!pState->pszPrinterName) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return NULL;
    }
    PRINTER_DEFAULTSW defaults;
    defaults.pDatatype = (LPWSTR)L"RAW";
    defaults.pDevMode = &pState->devmode.dm;
    defaults.DesiredAccess = PRINTER_ACCESS_USE;
    HANDLE hPrinter = NULL;
    if (!OpenPrinterW(pState->pszPrinterName, &hPrinter, &defaults))
        return NULL;
    DOC_INFO_1W doc;
    doc.pDocName = (LPWSTR)pszDoc;
    doc.pOutputFile = NULL;
    doc.pDatatype = (LPWSTR)L"RAW";
    if (!StartDocPrinterW(hPrinter, 1, (LPBYTE)&doc)) {
        DWORD dwError = GetLastError();
        ClosePrinter(hPrinter);
        SetLastError(dwError);
        return NULL;
    }
    if (!StartPagePrinter(hPrinter)) {
        CancelRawJob(hPrinter);
        return NULL;
    }
    return hPrinter;
}

/* Passes cbBytes bytes to the job. FALSE with the last error when the
 * spooler refuses them, or with ERROR_WRITE_FAULT when it takes only part. */
static BOOL WriteRawBlock(HANDLE hPrinter, const BYTE *pBytes, DWORD cbBytes)
{
    DWORD cbWritten = 0;
    if (!WritePrinter(hPrinter, (LPVOID)pBytes, cbBytes, &cbWritten))
        return FALSE;
    if (cbWritten != cbBytes) {
        SetLastError(ERROR_WRITE_FAULT);
        return FALSE;
    }
    return TRUE;
}

/* Ends a job whose data is whole: its page, its document, then the handle.
 * FALSE with the spooler's last error when the page or document would not
 * end. */
static BOOL EndRawJob(HANDLE hPrinter)
{
    BOOL bEnded = EndPagePrinter(hPrinter);
    DWORD dwError = GetLastError();
    if (!EndDocPrinter(hPrinter)) {
        bEnded = FALSE;
        dwError = GetLastError();
    }
    ClosePrinter(hPrinter);
    SetLastError(dwError);
    return bEnded;
}

/* SendRawBuffer: cbBytes bytes as one raw job "TestPrint" on the sheet's
 * queue. TRUE when all of them were spooled and the job ended; FALSE with
 * the failed step's last error otherwise (a failed write cancels the job). */
BOOL SendRawBuffer(SheetState *pState, const BYTE *pBytes, DWORD cbBytes)
{
    HANDLE hPrinter = StartRawJob(pState, L"TestPrint");
    if (!hPrinter)
        return FALSE;
    if (!WriteRawBlock(hPrinter, pBytes, cbBytes)) {
        CancelRawJob(hPrinter);
        return FALSE;
    }
    return EndRawJob(hPrinter);
}

/* PrintFileRaw: the file at pszPath, unchanged, in 1024-byte blocks as raw
 * job "FilePrint" on the sheet's queue; no job unless the file opens. A block
 * not read or spooled whole cancels the job. TRUE when the job ended whole,
 * else FALSE with the failed step's last error. */
BOOL PrintFileRaw(SheetState *pState, LPCWSTR pszPath)
{
    const DWORD cbTransfer = 1024;
    BYTE *pBuffer = (BYTE *)GlobalAlloc(GMEM_FIXED, cbTransfer);
    if (!pBuffer)
        return FALSE;
    HANDLE hFile = CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    HANDLE hPrinter = hFile != INVALID_HANDLE_VALUE ? StartRawJob(pState, L"FilePrint") : NULL;
    BOOL bResult = FALSE;
    if (hPrinter) {
        SetFilePointer(hFile, 0, NULL, FILE_BEGIN);
        BOOL bWhole;
        for (;;) {
            DWORD cbRead = 0;
            bWhole = ReadFile(hFile, pBuffer, cbTransfer, &cbRead, NULL);
            if (!bWhole || !cbRead)
                break;  // a read error, or the end of the file
            bWhole = WriteRawBlock(hPrinter, pBuffer, cbRead);
            if (!bWhole)
                break;
        }
        if (bWhole)
            bResult = EndRawJob(hPrinter);
        else
            CancelRawJob(hPrinter);
    }
    DWORD dwError = GetLastError();
    if (hFile != INVALID_HANDLE_VALUE)
        CloseHandle(hFile);
    GlobalFree(pBuffer);
    SetLastError(dwError);
    return bResult;
}

/* Tells the user that a raw job on the sheet's queue failed: a message box
 * owned by the page with the queue's name, the error number and the
 * system's text for it. */
static void ReportPrintFailure(HWND hDlg, const SheetState *pState, DWORD dwError)
{
    WCHAR szFormat[256];
    if (!LoadStringW(LibraryInstance, IDS_PRINT_FAILED, szFormat, 256))
        return;
    WCHAR szSystem[512] = L"";
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, dwError, 0, szSystem, 512, NULL);
    WCHAR szText[1025];  // wvsprintfW's own limit
    wsprintfW(szText, szFormat, pState->pszPrinterName ? pState->pszPrinterName : L"", dwError, szSystem);
    MessageBoxW(hDlg, szText, pState->pszDriverName, MB_OK | MB_ICONEXCLAMATION);
}

static void AppendText(HWND hEdit, LPCWSTR pszText)
{
    SendMessageW(hEdit, EM_SETSEL, 0xFFFF, 0xFFFF);
    SendMessageW(hEdit, EM_REPLACESEL, FALSE, (LPARAM)pszText);
}

/* Sends the edit's text, converted to the ANSI code page, as a test job.
 * FALSE with the last error when the job failed or memory was short. */
static BOOL SendPageText(HWND hDlg, SheetState *pState)
{
    HWND hEdit = GetDlgItem(hDlg, IDC_INFO_TEXT);
    int cch = (int)SendMessageW(hEdit, WM_GETTEXTLENGTH, 0, 0);
    LPWSTR pszText = (LPWSTR)HeapAlloc(pState->hHeap, HEAP_ZERO_MEMORY, (cch + 1) * sizeof(WCHAR));
    if (!pszText) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    SendMessageW(hEdit, WM_GETTEXT, cch + 1, (LPARAM)pszText);
    int cb = WideCharToMultiByte(CP_ACP, 0, pszText, cch, NULL, 0, NULL, NULL);
    char *pszAnsi = (char *)HeapAlloc(pState->hHeap, HEAP_ZERO_MEMORY, cb + 1);
    BOOL bSent = FALSE;
    if (pszAnsi) {
        cb = WideCharToMultiByte(CP_ACP, 0, pszText, cch, pszAnsi, cb + 1, NULL, NULL);
        bSent = SendRawBuffer(pState, (const BYTE *)pszAnsi, (DWORD)cb);
    } else {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    DWORD dwError = GetLastError();
    if (pszAnsi)
        HeapFree(pState->hHeap, 0, pszAnsi);
    HeapFree(pState->hHeap, 0, pszText);
    SetLastError(dwError);
    return bSent;
}

/* Prints the first file of a drop as a raw job and ends the drop; the other
 * files are ignored. A failure is reported once the drop is released. */
static void PrintDroppedFile(HWND hDlg, HDROP hDrop, SheetState *pState)
{
    UINT cch = DragQueryFileW(hDrop, 0, NULL, 0);
    LPWSTR pszPath = (LPWSTR)GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, (cch + 1) * sizeof(WCHAR));
    BOOL bPrinted = FALSE;
    DWORD dwError = ERROR_NOT_ENOUGH_MEMORY;
    if (pszPath) {
        DragQueryFileW(hDrop, 0, pszPath, cch + 1);
        bPrinted = PrintFileRaw(pState, pszPath);
        dwError = GetLastError();
        GlobalFree(pszPath);
    }
    DragFinish(hDrop);
    if (!bPrinted)
        ReportPrintFailure(hDlg, pState, dwError);
}

/* InformationPageProc: WM_INITDIALOG keeps the page lParam's SheetState in
 * DWLP_USER and shows the driver's name. "Send Data" and a dropped file each
 * print one raw job on the sheet's queue, on this thread; a failure is shown
 * in a message box. */
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
            if (ValidateSheetState(pState) && !SendPageText(hDlg, pState))
                ReportPrintFailure(hDlg, pState, GetLastError());
            return TRUE;
        }
        return FALSE;
    case WM_DROPFILES:
        if (ValidateSheetState(pState))
            PrintDroppedFile(hDlg, (HDROP)wParam, pState);
        else
            DragFinish((HDROP)wParam);
        return TRUE;
    }
    return FALSE;
}
