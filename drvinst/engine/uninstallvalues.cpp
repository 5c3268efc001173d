// The values of the model's Uninstall entry that deployment tools and
// inventories read beside the name and command: the version, the publisher,
// the quiet command, that there is nothing to modify or repair, and the size.
#include "restart.h"
#include "splstr.h"
#include "steplog.h"
#include <string>

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

// The bytes of the files matching pszPattern (a path, or a folder's "\*").
static ULONGLONG BytesOf(const std::string &strPattern)
{
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA(strPattern.c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return 0;
    ULONGLONG cb = 0;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            cb += ((ULONGLONG)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    } while (FindNextFileA(hFind, &data));
    FindClose(hFind);
    return cb;
}

// What the model takes on the disk, in KB as "EstimatedSize" counts: its
// installed files and the kept copy of the package.
static DWORD InstalledKilobytes(CInstallContext &ctx)
{
    ULONGLONG cb = 0;
    for (const FileLink *p = ctx.m_pFileLink; p; p = p->pNext) {
        if (p->pDir && p->pDst && *p->pDst)
            cb += BytesOf(std::string(p->pDir) + "\\" + p->pDst);
    }
    if (const char *pszKept = ctx.KeptFolder())
        cb += BytesOf(std::string(pszKept) + "\\*");
    return (DWORD)((cb + 1023) / 1024);
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
 * "DisplayVersion" (the INF's DriverVer version; left out, after a DBG line,
 * when the INF has none), "Publisher" "Ostrel", "QuietUninstallString"
 * (pszUninstall with " /quiet"), "NoModify" and "NoRepair" 1 and
 * "EstimatedSize" (KB) into the open model key. FALSE after the error line of
 * the first value that could not be written. After ParseInf and the copy of
 * the files. */
BOOL WriteUninstallValues(CInstallContext &ctx, HKEY hModel, const char *pszUninstall)
{
    if (!SetTextValue(ctx, hModel, "DisplayName", ctx.m_pPrinterName) ||
        !SetTextValue(ctx, hModel, "UninstallString", pszUninstall))
        return FALSE;
    std::string strVersion = DriverVersion(ctx);
    if (strVersion.empty())
        ctx.LogDbg("AddUninstallKey() no DriverVer version in [%s]\r\n", LogStr(ctx.m_pInfBaseName));
    else if (!SetTextValue(ctx, hModel, "DisplayVersion", strVersion.c_str()))
        return FALSE;
    std::string strQuiet = std::string(pszUninstall) + " /quiet";
    return SetTextValue(ctx, hModel, "Publisher", "Ostrel") &&
           SetTextValue(ctx, hModel, "QuietUninstallString", strQuiet.c_str()) &&
           SetNumberValue(ctx, hModel, "NoModify", 1) && SetNumberValue(ctx, hModel, "NoRepair", 1) &&
           SetNumberValue(ctx, hModel, "EstimatedSize", InstalledKilobytes(ctx));
}
