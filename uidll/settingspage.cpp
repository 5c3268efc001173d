// The Settings page of the document sheet, its help, and the About box.
#include "resource.h"
#include "sheets.h"
#include <shellapi.h>
#include <stdio.h>

static const DWORD HelpIdTable[] = {
    IDC_MEDIA_GROUP, 1100, IDC_WIDTH_LABEL, 1101, IDC_WIDTH, 1101, IDC_LENGTH_LABEL, 1102, IDC_LENGTH, 1102,
    IDC_UNIT_LABEL, 1103, IDC_MILLIMETERS, 1104, IDC_INCHES, 1105, IDC_RESOLUTION_LABEL, 1106, IDC_RESOLUTION, 1106,
    IDC_DITHER_LABEL, 1107, IDC_DITHER, 1107, IDC_COMPRESS_LABEL, 1108, IDC_COMPRESS, 1108, IDC_INKGAIN_LABEL, 1109,
    IDC_INKGAIN, 1109, IDC_ABOUT, 1110, 0, 0,
};

/* GetHelpFilePath: the printer-driver directory followed by "\3\kzttzj.hlp"
 * for a Japanese user, else "\3\kzttz.hlp", in a block the caller frees
 * with FreeSpoolRecord; NULL when the directory can't be had. */
LPWSTR GetHelpFilePath()
{
    LPCWSTR pszSuffix = GetUserDefaultLangID() == 0x0411 ? L"\\3\\kzttzj.hlp" : L"\\3\\kzttz.hlp";
    SpoolRecordResult r;
    LPWSTR pszPath = (LPWSTR)AllocSingleSpoolRecord(SpoolGetPrinterDriverDirectoryW, NULL, 1, &r);
    // The block's slack beyond the directory holds the suffix.
    static_assert(sizeof(L"\\3\\kzttzj.hlp") < SPOOL_RECORD_SLACK, "suffix fits the slack");
    if (pszPath)
        lstrcatW(pszPath, pszSuffix);
    return pszPath;
}

/* ShowHtmlHelp: where WinHelp is gone, the HTML Help file the driver's
 * vendor ships beside the WinHelp file (pszPath, whose ".hlp" becomes
 * ".chm" in place; null when the driver directory is unknown), opened by
 * the system's viewer; without one, or when it cannot be opened, a box of
 * ours that names it. */
static void ShowHtmlHelp(HWND hWnd, LPWSTR pszPath)
{
    WCHAR szNone[1] = L"";  // the driver directory unknown: the box names no file
    if (!pszPath)
        pszPath = szNone;
    int cch = lstrlenW(pszPath);
    if (cch > 4)
        lstrcpyW(pszPath + cch - 3, L"chm");
    DWORD dwAttr = GetFileAttributesW(pszPath);
    if (dwAttr != INVALID_FILE_ATTRIBUTES && !(dwAttr & FILE_ATTRIBUTE_DIRECTORY)) {
        INT_PTR nResult = (INT_PTR)ShellExecuteW(hWnd, L"open", pszPath, NULL, NULL, SW_SHOWNORMAL);
        DebugPrint(L"KZTTZUIF ShellExecute([%s]) R %d", pszPath, (int)nResult);
        if (nResult > 32)
            return;
    }
    WCHAR szFormat[256];
    if (!LoadStringW(LibraryInstance, IDS_HELP_MISSING, szFormat, 256))
        return;
    WCHAR szText[1025];  // wvsprintfW's own limit
    wsprintfW(szText, szFormat, pszPath);
    MessageBoxW(hWnd ? hWnd : GetActiveWindow(), szText, NULL, MB_OK | MB_ICONINFORMATION);
}

/* ShowHelp: the Settings page's help, uCommand and dwData as WinHelpW takes
 * them; on Vista and later the HTML Help file instead (ShowHtmlHelp) for the
 * Help button and F1, and nothing for a right-click: WinHelp's "What's This?"
 * menu has no HTML Help counterpart here, and a box at every right-click on
 * the page would be wrong. */
static void ShowHelp(HWND hWnd, UINT uCommand, ULONG_PTR dwData)
{
    LPWSTR pszPath = GetHelpFilePath();
    // Vista and later: WinHelp is no longer part of Windows and answers only
    // with the system's "feature not included" box.
    if (RunsOnVistaOrLater()) {
        if (uCommand != HELP_CONTEXTMENU)
            ShowHtmlHelp(hWnd, pszPath);
    } else
        WinHelpW(hWnd, pszPath, uCommand, dwData);
    FreeSpoolRecord(pszPath);
}

static SheetState *PageState(HWND hDlg)
{
    return (SheetState *)GetWindowLongPtrW(hDlg, DWLP_USER);
}

static void ShowLengths(HWND hDlg, const PrivateSettings &priv)
{
    WCHAR szText[32];
    FormatLengthText(priv.UserDefinedX, priv.UserUnit, szText, 32);
    SetDlgItemTextW(hDlg, IDC_WIDTH, szText);
    FormatLengthText(priv.UserDefinedY, priv.UserUnit, szText, 32);
    SetDlgItemTextW(hDlg, IDC_LENGTH, szText);
}

// A list, its items and the private field that stores its selection.
struct ListBinding {
    int nId;
    int16_t PrivateSettings::*pField;
    const wchar_t *const *ppszItems;  // NULL: the resolution table
    int nCount;
};

static const wchar_t *const kCompressItems[] = {L"None", L"RLE", L"TIFF"};
static const wchar_t *const kDitherItems[] = {L"Cluster", L"Scatter"};
static const wchar_t *const kInkGainItems[] = {L"High", L"Mid", L"Low"};
static const ListBinding kLists[] = {
    {IDC_RESOLUTION, &PrivateSettings::FrameDpiIdx, NULL, RESOLUTION_COUNT},
    {IDC_COMPRESS, &PrivateSettings::CompressIdx, kCompressItems, 3},
    {IDC_DITHER, &PrivateSettings::DitherIdx, kDitherItems, 2},
    {IDC_INKGAIN, &PrivateSettings::InkGainIdx, kInkGainItems, 3},
};

static void FillList(HWND hDlg, const ListBinding &list, PrivateSettings &priv)
{
    HWND hList = GetDlgItem(hDlg, list.nId);
    SendMessageW(hList, CB_RESETCONTENT, 0, 0);
    for (int i = 0; i < list.nCount; i++) {
        WCHAR szItem[16];
        if (list.ppszItems)
            lstrcpynW(szItem, list.ppszItems[i], 16);
        else
            wsprintfW(szItem, L" %d ", ResolutionTable[i]);
        SendMessageW(hList, CB_INSERTSTRING, (WPARAM)-1, (LPARAM)szItem);
    }
    int nIndex = priv.*list.pField;
    if (nIndex < 0 || nIndex >= list.nCount)
        nIndex = 0;
    SendMessageW(hList, CB_SETCURSEL, nIndex, 0);
    priv.*list.pField = (int16_t)nIndex;
}

static void InitSettingsPage(HWND hDlg, SheetState *pState)
{
    PrivateSettings &priv = pState->devmode.priv;
    SendDlgItemMessageW(hDlg, IDC_WIDTH, EM_LIMITTEXT, 6, 0);
    SendDlgItemMessageW(hDlg, IDC_LENGTH, EM_LIMITTEXT, 6, 0);
    CheckRadioButton(hDlg, IDC_MILLIMETERS, IDC_INCHES, priv.UserUnit == 0 ? IDC_MILLIMETERS : IDC_INCHES);
    ShowLengths(hDlg, priv);
    for (const ListBinding &list : kLists)
        FillList(hDlg, list, priv);
}

static BOOL OnSettingsCommand(HWND hDlg, SheetState *pState, int nId, int nCode)
{
    PrivateSettings &priv = pState->devmode.priv;
    switch (nId) {
    case IDC_WIDTH:
    case IDC_LENGTH:
        if (nCode == EN_SETFOCUS) {
            SendDlgItemMessageW(hDlg, nId, EM_SETSEL, 0, -1);
        } else if (nCode == EN_KILLFOCUS) {
            WCHAR szText[16];
            GetDlgItemTextW(hDlg, nId, szText, 16);
            int16_t nLength = (int16_t)ParseLengthText(szText, priv.UserUnit, LENGTH_MIN, LENGTH_MAX);
            (nId == IDC_WIDTH ? priv.UserDefinedX : priv.UserDefinedY) = nLength;
            ShowLengths(hDlg, priv);
        }
        return TRUE;
    case IDC_MILLIMETERS:
    case IDC_INCHES:
        CheckRadioButton(hDlg, IDC_MILLIMETERS, IDC_INCHES, nId);
        priv.UserUnit = nId == IDC_MILLIMETERS ? 0 : 1;
        ShowLengths(hDlg, priv);
        return TRUE;
    case IDC_ABOUT:
        DialogBoxParamW(LibraryInstance, MAKEINTRESOURCEW(IDD_ABOUT), hDlg, AboutDialogProc, 0);
        return TRUE;
    }
    for (const ListBinding &list : kLists) {
        if (list.nId != nId)
            continue;
        LRESULT nIndex = SendDlgItemMessageW(hDlg, nId, CB_GETCURSEL, 0, 0);
        if (nIndex == CB_ERR) {
            SendDlgItemMessageW(hDlg, nId, CB_SETCURSEL, 0, 0);
            nIndex = 0;
        }
        priv.*list.pField = (int16_t)nIndex;
        return TRUE;
    }
    return FALSE;
}

static INT_PTR OnSettingsNotify(SheetState *pState, const NMHDR *pHeader)
{
    switch (pHeader->code) {
    case PSN_APPLY:
        if (ValidateSheetState(pState))
            pState->dwApplied = 1;
        return FALSE;
    case PSN_KILLACTIVE:
    case PSN_RESET:
        return FALSE;
    case PSN_HELP:
        DebugPrint(L"**** PSN_HELP ****\r\n");
        ShowHelp(NULL, HELP_CONTENTS, 0);
        return TRUE;
    default:
        return TRUE;
    }
}

/* SettingsPageProc: the Settings page's dialog procedure. At WM_INITDIALOG
 * it keeps the SheetState of the page's lParam in DWLP_USER and fills the
 * controls; the controls change only that state; PSN_APPLY marks it for the
 * commit at the page's release. Help goes to WinHelpW (ShowHelp). */
INT_PTR CALLBACK SettingsPageProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_INITDIALOG) {
        SheetState *pState = (SheetState *)((PROPSHEETPAGEW *)lParam)->lParam;
        SetWindowLongPtrW(hDlg, DWLP_USER, (LONG_PTR)pState);
        if (ValidateSheetState(pState))
            InitSettingsPage(hDlg, pState);
        return TRUE;
    }
    SheetState *pState = PageState(hDlg);
    switch (uMsg) {
    case WM_COMMAND:
        return ValidateSheetState(pState) && OnSettingsCommand(hDlg, pState, LOWORD(wParam), HIWORD(wParam));
    case WM_NOTIFY:
        return OnSettingsNotify(pState, (const NMHDR *)lParam);
    case WM_HELP:
        ShowHelp((HWND)((HELPINFO *)lParam)->hItemHandle, HELP_WM_HELP, (ULONG_PTR)HelpIdTable);
        return TRUE;
    case WM_CONTEXTMENU:
        ShowHelp((HWND)wParam, HELP_CONTEXTMENU, (ULONG_PTR)HelpIdTable);
        return TRUE;
    case WM_PAINT:
        PaintBitmapCentered(hDlg, IDB_LOGO, IDC_LOGO_PLACE);
        return TRUE;
    }
    return FALSE;
}

/* PaintBitmapCentered: hWnd's WM_PAINT (BeginPaint to EndPaint): bitmap
 * nBitmap of the library drawn with its centre on that of the control
 * nPlaceholder, not clipped to it. Call only while handling WM_PAINT. */
void PaintBitmapCentered(HWND hWnd, int nBitmap, int nPlaceholder)
{
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(hWnd, &ps);
    HDC hdcMem = CreateCompatibleDC(hdc);
    HBITMAP hBitmap = LoadBitmapW(LibraryInstance, MAKEINTRESOURCEW(nBitmap));
    if (hdcMem && hBitmap) {
        BITMAP bm;
        GetObjectW(hBitmap, sizeof(bm), &bm);
        HGDIOBJ hOld = SelectObject(hdcMem, hBitmap);
        HWND hPlace = GetDlgItem(hWnd, nPlaceholder);
        RECT rc;
        GetClientRect(hPlace, &rc);
        POINT corners[2] = {{rc.left, rc.top}, {rc.right - 1, rc.bottom - 1}};
        for (POINT &pt : corners) {
            ClientToScreen(hPlace, &pt);
            ScreenToClient(hWnd, &pt);
        }
        int x = (corners[0].x + corners[1].x - bm.bmWidth) / 2;
        int y = (corners[0].y + corners[1].y - bm.bmHeight) / 2;
        BitBlt(hdc, x, y, bm.bmWidth, bm.bmHeight, hdcMem, 0, 0, SRCCOPY);
        SelectObject(hdcMem, hOld);
    }
    if (hBitmap)
        DeleteObject(hBitmap);
    if (hdcMem)
        DeleteDC(hdcMem);
    EndPaint(hWnd, &ps);
}

/* AboutDialogProc: the modal About box (DialogBoxParamW, template 5). OK and
 * Cancel end it; the web address button opens its own caption (at most 255
 * characters) with ShellExecuteW. */
INT_PTR CALLBACK AboutDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_PAINT:
        PaintBitmapCentered(hDlg, IDB_PRINTER, IDC_PRINTER_PICTURE);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
            EndDialog(hDlg, wParam);
            return TRUE;
        case IDC_WEBSITE: {
            WCHAR szAddress[256];
            GetDlgItemTextW(hDlg, IDC_WEBSITE, szAddress, 256);
            ShellExecuteW(hDlg, L"open", szAddress, NULL, NULL, SW_SHOW);
            return TRUE;
        }
        }
        return FALSE;
    }
    return FALSE;
}
