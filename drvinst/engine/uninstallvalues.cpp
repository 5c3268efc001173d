// The values of the model's Uninstall entry that deployment tools and
// inventories read beside the name and command: the version, the publisher,
// the quiet command, that there is nothing to modify or repair, and the size.
#include "restart.h"
#include "splstr.h"
#include "steplog.h"
#include <string>
#include <vector>

// The version of the INF's "DriverVer" line ("12/07/2026,1.0.0.1" gives
// "1.0.0.1"); "" when the line or its version is missing.
static std::string DriverVersion(CInstallContext &ctx)
{
    char szLine[INF_LINE_MAX];
    if (!ctx.m_pInfFileName || !ctx.GetFirstLineText("Version", "DriverVer", szLine, sizeof(szLine)))
        return "";
    const char *pComma = FindCharA(szLine, ',');
    if (!pComma)
        return "";
    std::string strVersion = pComma + 1;
    size_t first = strVersion.find_first_not_of(" \t");
    size_t last = strVersion.find_last_not_of(" \t");
    return first == std::string::npos ? "" : strVersion.substr(first, last - first + 1);
}

// Adds the size of the file at strPath to *pcb: FALSE after an error line
// when it cannot be read (a file that is not there counts as none).
static BOOL AddFileBytes(CInstallContext &ctx, const std::string &strPath, ULONGLONG *pcb)
{
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA(strPath.c_str(), &data);
    DWORD dwError = hFind == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    BOOL bMissing = dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND;
    LogStep(ctx, hFind != INVALID_HANDLE_VALUE || bMissing, "::FindFirstFile([%s]) E %d %s", strPath.c_str(), dwError,
            SysErrorText(dwError).c_str());
    if (hFind == INVALID_HANDLE_VALUE)
        return bMissing;
    FindClose(hFind);
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        *pcb += ((ULONGLONG)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    return TRUE;
}

// What the model takes on the disk, in KB as "EstimatedSize" counts, into
// *pdwKB: the package's copies of its files (what the install puts in
// place, whatever a file in use or an earlier version left there), and the
// program and INF kept for its uninstall: the same after every install,
// reinstall or repeat of one package. FALSE after an error line.
static BOOL InstalledKilobytes(CInstallContext &ctx, DWORD *pdwKB)
{
    ULONGLONG cb = 0;
    std::vector<std::string> paths;
    for (const FileLink *p = ctx.m_pFileLink; p; p = p->pNext) {
        const char *pszSourceName = p->pSrc && *p->pSrc ? p->pSrc : p->pDst;
        if (pszSourceName && *pszSourceName)
            paths.push_back(std::string(LogStr(ctx.m_pDrvSrcDir)) + "\\" + pszSourceName);
    }
    if (const char *pszKept = ctx.KeptFolder()) {
        paths.push_back(std::string(pszKept) + "\\" + LogStr(ctx.m_pExeBaseName));
        paths.push_back(std::string(pszKept) + "\\" + LogStr(ctx.m_pInfBaseName));
    }
    for (const std::string &path : paths) {
        if (!AddFileBytes(ctx, path, &cb))
            return FALSE;
    }
    *pdwKB = (DWORD)((cb + 1023) / 1024);
    return TRUE;
}

static BOOL SetTextValue(CInstallContext &ctx, HKEY hKey, const char *pszName, const char *pszData)
{
    LONG lStatus = RegSetValueExA(hKey, pszName, 0, REG_SZ, (const BYTE *)pszData, lstrlenA(pszData) + 1);
    LogStep(ctx, lStatus == ERROR_SUCCESS, "::RegSetValueEx([%s],[%s]) E %d %s", pszName, pszData, lStatus,
            SysErrorText(lStatus).c_str());
    SetLastError(lStatus);
    return lStatus == ERROR_SUCCESS;
}

static BOOL SetNumberValue(CInstallContext &ctx, HKEY hKey, const char *pszName, DWORD dwData)
{
    LONG lStatus = RegSetValueExA(hKey, pszName, 0, REG_DWORD, (const BYTE *)&dwData, sizeof(dwData));
    LogStep(ctx, lStatus == ERROR_SUCCESS, "::RegSetValueEx([%s],[%lu]) E %d %s", pszName, dwData, lStatus,
            SysErrorText(lStatus).c_str());
    SetLastError(lStatus);
    return lStatus == ERROR_SUCCESS;
}

/* Writes "DisplayName" and "UninstallString" (pszUninstall), then
 * "Publisher" "Ostrel", "QuietUninstallString" (pszUninstall with
 * " /quiet"), "NoModify" and "NoRepair" 1, "EstimatedSize" (KB) and last
 * "DisplayVersion" (the INF's DriverVer version; left out, after a DBG line,
 * when the INF has none) into the open model key. FALSE after the error line of
 * the first value that could not be written, or of a file whose size could not
 * be read. After ParseInf and the copy of
 * the files. */
BOOL WriteUninstallValues(CInstallContext &ctx, HKEY hModel, const char *pszUninstall)
{
    if (!SetTextValue(ctx, hModel, "DisplayName", ctx.m_pPrinterName) ||
        !SetTextValue(ctx, hModel, "UninstallString", pszUninstall))
        return FALSE;
    std::string strQuiet = std::string(pszUninstall) + " /quiet";
    DWORD dwKB = 0;
    if (!SetTextValue(ctx, hModel, "Publisher", "Ostrel") ||
        !SetTextValue(ctx, hModel, "QuietUninstallString", strQuiet.c_str()) ||
        !SetNumberValue(ctx, hModel, "NoModify", 1) || !SetNumberValue(ctx, hModel, "NoRepair", 1) ||
        !InstalledKilobytes(ctx, &dwKB) || !SetNumberValue(ctx, hModel, "EstimatedSize", dwKB))
        return FALSE;
    // The version last: an entry that names it is complete (a repeated
    // install takes it as current).
    std::string strVersion = DriverVersion(ctx);
    if (strVersion.empty()) {
        ctx.LogDbg("AddUninstallKey() no DriverVer version in [%s]\r\n", LogStr(ctx.m_pInfBaseName));
        return TRUE;
    }
    return SetTextValue(ctx, hModel, "DisplayVersion", strVersion.c_str());
}

BOOL UninstallEntryIsCurrent(CInstallContext &ctx)
{
    std::string strKey = std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + LogStr(ctx.m_pPrinterName);
    HKEY hKey = NULL;
    LONG lStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, strKey.c_str(), 0, KEY_QUERY_VALUE, &hKey);
    LogStep(ctx, lStatus == ERROR_SUCCESS || lStatus == ERROR_FILE_NOT_FOUND, "::RegOpenKeyEx([%s]) E %d %s",
            strKey.c_str(), lStatus, SysErrorText(lStatus).c_str());
    if (lStatus != ERROR_SUCCESS)
        return FALSE;
    char szVersion[INF_LINE_MAX] = "";
    DWORD dwType = 0, cb = sizeof(szVersion) - 1;
    lStatus = RegQueryValueExA(hKey, "DisplayVersion", NULL, &dwType, (BYTE *)szVersion, &cb);
    RegCloseKey(hKey);
    if (lStatus != ERROR_SUCCESS || dwType != REG_SZ)
        szVersion[0] = 0;
    szVersion[lStatus == ERROR_SUCCESS && cb < sizeof(szVersion) ? cb : 0] = 0;  // the data may lack its NUL
    // An INF without a version: current when the entry names none either.
    std::string strVersion = DriverVersion(ctx);
    BOOL bCurrent = strVersion == szVersion && (szVersion[0] || lStatus == ERROR_FILE_NOT_FOUND);
    LogStep(ctx, lStatus == ERROR_SUCCESS || lStatus == ERROR_FILE_NOT_FOUND,
            "::RegQueryValueEx([DisplayVersion]) [%s] E %d %s: the INF's version [%s]", szVersion, lStatus,
            SysErrorText(lStatus).c_str(), strVersion.c_str());
    return bCurrent;
}
