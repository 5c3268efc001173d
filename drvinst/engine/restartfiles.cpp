// Files that another process holds open: Windows NT replaces or deletes them
// at the next restart (its delayed file operations), and the operation
// reports that a restart is needed instead of failing or keeping them.
#include "fixedtext.h"
#include "splstr.h"
#include "steplog.h"
#include <string.h>
#include <wchar.h>
#include <vector>

static const char kSessionKey[] = "System\\CurrentControlSet\\Control\\Session Manager";

// The folder part of pszPath (before its last backslash) into pszDir
// (INF_PATH_MAX bytes); FALSE when there is none.
static BOOL FolderOf(const char *pszPath, char *pszDir)
{
    const char *pSlash = FindLastCharA(pszPath, '\\');
    if (!pSlash || pSlash - pszPath >= INF_PATH_MAX)
        return FALSE;
    lstrcpynA(pszDir, pszPath, (int)(pSlash - pszPath) + 1);
    return TRUE;
}

/* Windows NT: copies pszSource beside pszTarget under a fresh name and has
 * Windows move it over pszTarget at the next restart. Sets
 * m_bReplaceAtRestart. TRUE when scheduled; FALSE after an error line (also
 * on Windows 95/98, which cannot), the fresh copy removed again. */
BOOL CInstallContext::ReplaceFileAtRestart(const char *pszSource, const char *pszTarget)
{
    char szDir[INF_PATH_MAX], szTemp[MAX_PATH];
    if (!m_bWinNT || !FolderOf(pszTarget, szDir)) {
        LogErr("ReplaceFileAtRestart() [%s]\r\n", LogStr(pszTarget));
        return FALSE;
    }
    UINT uUnique = GetTempFileNameA(szDir, "KZT", 0, szTemp);
    DWORD dwError = CallError(uUnique != 0);
    LogStep(*this, uUnique != 0, "::GetTempFileName([%s]) [%s] R %d E %d %s", szDir, uUnique ? szTemp : "", uUnique,
            dwError, SysErrorText(dwError).c_str());
    if (!uUnique) {
        SetLastError(dwError);
        return FALSE;
    }
    BOOL bDone = CopyFileA(pszSource, szTemp, FALSE);
    dwError = CallError(bDone);
    LogStep(*this, bDone, "::CopyFile([%s][%s]) R %d E %d %s", LogStr(pszSource), szTemp, bDone, dwError,
            SysErrorText(dwError).c_str());
    if (bDone) {
        bDone = MoveFileExA(szTemp, pszTarget, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING);
        dwError = CallError(bDone);
        LogStep(*this, bDone, "::MoveFileEx([%s][%s]) R %d E %d %s", szTemp, pszTarget, bDone, dwError,
                SysErrorText(dwError).c_str());
    }
    if (bDone)
        m_bReplaceAtRestart = TRUE;
    else
        DeleteFileA(szTemp);
    SetLastError(dwError);
    return bDone;
}

/* Windows NT: has Windows delete pszPath at the next restart. Sets
 * m_bReplaceAtRestart. TRUE when scheduled; FALSE after an error line (also
 * on Windows 95/98). */
BOOL CInstallContext::DeleteFileAtRestart(const char *pszPath)
{
    if (!m_bWinNT) {
        LogErr("DeleteFileAtRestart() [%s]\r\n", LogStr(pszPath));
        return FALSE;
    }
    BOOL bDone = MoveFileExA(pszPath, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    DWORD dwError = CallError(bDone);
    LogStep(*this, bDone, "::MoveFileEx([%s][KztNull]) R %d E %d %s", LogStr(pszPath), bDone, dwError,
            SysErrorText(dwError).c_str());
    if (bDone)
        m_bReplaceAtRestart = TRUE;
    SetLastError(dwError);
    return bDone;
}

// The platform's name of pszPath in the delayed operations ("\??\C:\...")
// into pszName (INF_PATH_MAX + 4 wide characters).
static void RestartName(const char *pszPath, WCHAR *pszName)
{
    lstrcpyW(pszName, L"\\??\\");
    MultiByteToWideChar(CP_ACP, 0, pszPath, -1, pszName + 4, INF_PATH_MAX);
}

/* Windows NT: drops what an earlier run left for pszTarget in the delayed
 * operations (its deletion, or its replacement by an older copy, which is
 * deleted now), so the file this run puts in place next survives the restart.
 * Other programs' operations are kept as they are. Call before the copy.
 * 1 when nothing waits for pszTarget any more; 0 after an error line. */
BOOL CInstallContext::DropRestartOperations(const char *pszTarget)
{
    if (!m_bWinNT)
        return TRUE;
    HKEY hKey = NULL;
    LONG lStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &hKey);
    LogStep(*this, lStatus == ERROR_SUCCESS, "::RegOpenKeyEx([%s]) E %d %s", kSessionKey, lStatus,
            SysErrorText(lStatus).c_str());
    if (lStatus != ERROR_SUCCESS) {
        SetLastError(lStatus);
        return FALSE;
    }
    DWORD cb = 0, dwType = 0;
    lStatus = RegQueryValueExW(hKey, L"PendingFileRenameOperations", NULL, &dwType, NULL, &cb);
    std::vector<WCHAR> list(cb / sizeof(WCHAR) + 3, 0);  // spare zeros end unterminated data
    if (lStatus == ERROR_SUCCESS)
        lStatus = RegQueryValueExW(hKey, L"PendingFileRenameOperations", NULL, &dwType, (LPBYTE)&list[0], &cb);
    if (lStatus == ERROR_SUCCESS && dwType != REG_MULTI_SZ)
        lStatus = ERROR_INVALID_DATA;
    BOOL bNone = lStatus == ERROR_FILE_NOT_FOUND;
    LogStep(*this, lStatus == ERROR_SUCCESS || bNone, "::RegQueryValueEx([PendingFileRenameOperations]) R %d E %d %s",
            (int)cb, lStatus, SysErrorText(lStatus).c_str());
    if (lStatus != ERROR_SUCCESS) {
        RegCloseKey(hKey);
        SetLastError(bNone ? ERROR_SUCCESS : lStatus);
        return bNone;
    }
    // Pairs of names: the file, then its new name ("!" first: replacing),
    // empty for a deletion. The kept pairs are moved to the front.
    WCHAR szName[INF_PATH_MAX + 4];
    RestartName(pszTarget, szName);
    size_t cchEnd = cb / sizeof(WCHAR), iRead = 0, iWrite = 0;
    BOOL bDropped = FALSE;
    while (iRead < cchEnd && list[iRead]) {
        const WCHAR *pszFrom = &list[iRead];
        size_t cchFrom = lstrlenW(pszFrom) + 1;
        const WCHAR *pszTo = &list[iRead + cchFrom];  // inside the spare zeros at worst
        size_t cchTo = lstrlenW(pszTo) + 1;
        const WCHAR *pszToName = pszTo[0] == L'!' ? pszTo + 1 : pszTo;
        BOOL bDrop = *pszTo ? !lstrcmpiW(pszToName, szName) : !lstrcmpiW(pszFrom, szName);
        if (bDrop) {
            if (*pszTo && !wcsncmp(pszFrom, L"\\??\\", 4))
                DeleteFileW(pszFrom + 4);  // the older copy that waited to replace it
            LogDbg("DropRestartOperations() [%s]\r\n", pszTarget);
            bDropped = TRUE;
        } else {
            memmove(&list[iWrite], pszFrom, (cchFrom + cchTo) * sizeof(WCHAR));
            iWrite += cchFrom + cchTo;
        }
        iRead += cchFrom + cchTo;
    }
    if (bDropped) {
        list[iWrite] = 0;
        lStatus = iWrite ? RegSetValueExW(hKey, L"PendingFileRenameOperations", 0, REG_MULTI_SZ, (const BYTE *)&list[0],
                                          (DWORD)((iWrite + 1) * sizeof(WCHAR)))
                         : RegDeleteValueW(hKey, L"PendingFileRenameOperations");
        LogStep(*this, lStatus == ERROR_SUCCESS, "::RegSetValueEx([PendingFileRenameOperations]) R %d E %d %s",
                (int)iWrite, lStatus, SysErrorText(lStatus).c_str());
    }
    RegCloseKey(hKey);
    SetLastError(lStatus);
    return lStatus == ERROR_SUCCESS;
}
