// Registry readers: the status monitor program and the per-driver " Head",
// " Tail" and " Filter" values under the monitor's own key.
#include "jobtap.h"
#include "spoolrecord.h"

#define REG_TEXT_CCH 256    // 512-byte value buffers

/* The log texts of one reader's printer look-up, and whether it probes the
 * size with a buffer (Vigilstr) or without one (Regstr). */
struct PrinterLookupTexts {
    LPCWSTR pszOpenPrinter;
    LPCWSTR pszGetPrinter;
    LPCWSTR pszAlloc;
    BOOL bProbeBuffer;
};

static const PrinterLookupTexts s_vigilstrTexts = {
    L"Vigilstr OpenPrinter [%s] R %d E %d", L"Vigilstr GetPrinter %d R %d E %d",
    L"Vigilstr AllocSplMem %d R x%x E %d", TRUE};
static const PrinterLookupTexts s_regstrTexts = {
    L"Regstr OpenPrinter([%s]) R %d E %d", L"Regstr GetPrinter %d R %d E %d",
    L"Regstr AllocSplMem(%d) R x%x E %d", FALSE};

/* Reads PRINTER_INFO_2 of an open printer into a new block (free with
 * FreeSpoolRecord); null on failure, which is logged. */
static PRINTER_INFO_2W *GetPrinterInfo2(HANDLE hPrinter, const PrinterLookupTexts &texts)
{
    // The probe announces the size of the record alone; the helper gives it
    // and the record room to spare, as Wine 8's GetPrinterW writes past both.
    SpoolCallArgs args = {};
    args.hPrinter = hPrinter;
    args.dwLevel = 2;
    SpoolRecordResult r;
    PRINTER_INFO_2W *pInfo = (PRINTER_INFO_2W *)AllocSpoolRecord(
        SpoolGetPrinterW, &args, texts.bProbeBuffer ? sizeof(PRINTER_INFO_2W) : 0, &r);
    if (!pInfo) {
        LogErr(r.step == SPOOL_STEP_ALLOC ? texts.pszAlloc : texts.pszGetPrinter, r.cbNeeded, 0, r.dwError);
        SetLastError(r.dwError);
        return NULL;
    }
    SetLastError(0);
    return pInfo;
}

/* Copies the driver name of a printer into szDriver (cut to cchDriver).
 * FALSE with the failing call's last error. */
static BOOL GetDriverName(LPCWSTR pszPrinterName, const PrinterLookupTexts &texts, LPWSTR szDriver, int cchDriver)
{
    HANDLE hPrinter = NULL;
    if (!OpenPrinterW((LPWSTR)pszPrinterName, &hPrinter, NULL)) {
        DWORD dwError = GetLastError();
        LogErr(texts.pszOpenPrinter, LogStr(pszPrinterName), 0, dwError);
        SetLastError(dwError);
        return FALSE;
    }
    PRINTER_INFO_2W *pInfo = GetPrinterInfo2(hPrinter, texts);
    DWORD dwError = GetLastError();
    if (pInfo) {
        lstrcpynW(szDriver, pInfo->pDriverName ? pInfo->pDriverName : L"", cchDriver);
        FreeSpoolRecord(pInfo);
    }
    ClosePrinter(hPrinter);
    SetLastError(dwError);
    return pInfo != NULL;
}

/* Reads a value of any type as text into pszOut, which has room for cbRoom
 * bytes plus one more character: the text is always terminated there. */
static LONG QueryText(HKEY hKey, LPCWSTR pszValue, LPWSTR pszOut, DWORD cbRoom, LPDWORD pcbData)
{
    DWORD cb = cbRoom;
    LONG lStatus = RegQueryValueExW(hKey, pszValue, NULL, NULL, (LPBYTE)pszOut, &cb);
    if (lStatus == ERROR_SUCCESS)
        pszOut[cb / sizeof(WCHAR)] = 0;
    *pcbData = cb;
    return lStatus;
}

/* Vigilstr: full path of the status monitor program configured for the
 * printer's driver (system directory, backslash, value), or null. */
LPWSTR Vigilstr(LPCWSTR pszPrinterName)
{
    WCHAR szPath[REG_TEXT_CCH + 1];
    UINT cchDir = GetSystemDirectoryW(szPath, REG_TEXT_CCH);
    if (cchDir == 0 || cchDir >= REG_TEXT_CCH - 1) {
        DWORD dwError = GetLastError();
        szPath[0] = 0;
        LogErr(L"Vigilstr GetSystemDirectory [%s] R %d E %d", szPath, 0, dwError);
        return NULL;
    }

    WCHAR szDriver[REG_TEXT_CCH];
    if (!GetDriverName(pszPrinterName, s_vigilstrTexts, szDriver, REG_TEXT_CCH))
        return NULL;

    HKEY hKey = NULL;
    LONG lStatus = RegOpenKeyExW(HKEY_LOCAL_MACHINE, g_RegistryRoot, 0, KEY_READ, &hKey);
    if (lStatus != ERROR_SUCCESS) {
        LogErr(L"Vigilstr RegOpenKeyEx [%s] R %d", LogStr(g_RegistryRoot), lStatus);
        return NULL;
    }
    szPath[cchDir] = L'\\';
    szPath[cchDir + 1] = 0;
    DWORD cbData = 0;
    lStatus = QueryText(hKey, szDriver, szPath + cchDir + 1,
                        (REG_TEXT_CCH - cchDir - 1) * sizeof(WCHAR), &cbData);
    RegCloseKey(hKey);
    if (lStatus != ERROR_SUCCESS) {
        szPath[cchDir + 1] = 0;
        LogErr(L"Vigilstr RegQueryValueEx([%s]) [%s] R %d", szDriver, szPath, lStatus);
        return NULL;
    }
    LPWSTR pszResult = AllocSplStr(szPath);
    if (!pszResult) {
        DWORD dwError = GetLastError();
        LogErr(L"Vigilstr AllocSplStr [%s] R x%x E %d", szPath, 0, dwError);
    }
    return pszResult;
}

/* Regstr: the value named after the entry's printer's driver followed by
 * pszSuffix (" Head", " Tail", " Filter"), or null. With pbAbsent, *pbAbsent
 * tells a null for a value that does not exist from one for a lookup that
 * failed (the printer, the key, the memory). */
LPWSTR Regstr(IniPort *pIniPort, LPCWSTR pszSuffix, BOOL *pbAbsent)
{
    if (pbAbsent)
        *pbAbsent = FALSE;
    WCHAR szName[REG_TEXT_CCH];
    if (!GetDriverName(pIniPort->pszPrinterName, s_regstrTexts, szName, REG_TEXT_CCH))
        return NULL;
    int cch = lstrlenW(szName);
    lstrcpynW(szName + cch, pszSuffix, REG_TEXT_CCH - cch);

    HKEY hKey = NULL;
    LONG lStatus = RegOpenKeyExW(HKEY_LOCAL_MACHINE, g_RegistryRoot, 0, KEY_READ, &hKey);
    if (lStatus != ERROR_SUCCESS) {
        LogErr(L"Regstr RegOpenKeyEx([%s]) E %d", LogStr(g_RegistryRoot), lStatus);
        if (pbAbsent)
            *pbAbsent = lStatus == ERROR_FILE_NOT_FOUND;  // no key: no value either
        SetLastError(lStatus);
        return NULL;
    }
    WCHAR szData[REG_TEXT_CCH + 1];
    DWORD cbData = 0;
    lStatus = QueryText(hKey, szName, szData, REG_TEXT_CCH * sizeof(WCHAR), &cbData);
    if (lStatus != ERROR_SUCCESS) {
        LogErr(L"Regstr RegQueryValueEx([%s]) E %d", szName, lStatus);
        RegCloseKey(hKey);
        if (pbAbsent)
            *pbAbsent = lStatus == ERROR_FILE_NOT_FOUND;
        SetLastError(lStatus);
        return NULL;
    }
    LogDbg(L"Regstr RegQueryValueEx([%s]) pData [%s] cbData %d E %d", szName, szData, cbData, 0);
    RegCloseKey(hKey);
    LPWSTR pszResult = AllocSplStr(szData);
    if (!pszResult) {
        DWORD dwError = GetLastError();
        LogErr(L"Regstr AllocSplStr([%s]) R x%x E %d", szData, 0, dwError);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return pszResult;
}
