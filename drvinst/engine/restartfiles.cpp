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
 * Windows move it over pszTarget at the next restart; what an earlier run
 * left in the delayed operations for dropFirst is dropped once the fresh copy
 * is made, before the move is scheduled (after it, the new pair would go too:
 * a move that then fails has lost them). Sets m_bReplaceAtRestart. TRUE when
 * scheduled; FALSE after an error line (also on Windows 95/98, which cannot),
 * the fresh copy removed again. */
BOOL CInstallContext::ReplaceFileAtRestart(const char *pszSource, const char *pszTarget,
                                           const std::vector<std::string> &dropFirst)
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
    if (bDone && !DropRestartOperations(dropFirst)) {
        dwError = GetLastError();
        bDone = FALSE;
    }
    if (bDone) {
        bDone = MoveFileExA(szTemp, pszTarget, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING);
        dwError = CallError(bDone);
        LogStep(*this, bDone, "::MoveFileEx([%s][%s]) R %d E %d %s", szTemp, pszTarget, bDone, dwError,
                SysErrorText(dwError).c_str());
    }
    if (bDone) {
        m_bReplaceAtRestart = TRUE;
    } else {
        BOOL bDeleted = DeleteFileA(szTemp);
        DWORD dwDeleteError = CallError(bDeleted);
        LogStep(*this, TRUE, "::DeleteFile([%s]) R %d E %d %s", szTemp, bDeleted, dwDeleteError,
                SysErrorText(dwDeleteError).c_str());
    }
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

// The platform's name of pszPath in the delayed operations ("\??\C:\...").
static std::wstring RestartName(const std::string &strPath)
{
    WCHAR szWide[INF_PATH_MAX + 1] = L"";
    MultiByteToWideChar(CP_ACP, 0, strPath.c_str(), -1, szWide, INF_PATH_MAX);
    return std::wstring(L"\\??\\") + szWide;
}

static BOOL NamesAny(const WCHAR *pszName, const std::vector<std::wstring> &names)
{
    for (const std::wstring &name : names) {
        if (!_wcsicmp(pszName, name.c_str()))
            return TRUE;
    }
    return FALSE;
}

// Reads the delayed operations into list (with spare zeros that end
// unterminated data): ERROR_SUCCESS, ERROR_FILE_NOT_FOUND when none wait,
// or the error. A value that grows meanwhile is read again.
static LONG ReadRestartOperations(CInstallContext &ctx, HKEY hKey, std::vector<WCHAR> &list, DWORD *pcb)
{
    LONG lStatus = ERROR_MORE_DATA;
    DWORD dwType = 0;
    for (int nTry = 0; nTry < 3 && lStatus == ERROR_MORE_DATA; nTry++) {
        *pcb = 0;
        lStatus = RegQueryValueExW(hKey, L"PendingFileRenameOperations", NULL, &dwType, NULL, pcb);
        if (lStatus != ERROR_SUCCESS)
            break;
        list.assign(*pcb / sizeof(WCHAR) + 3, 0);
        lStatus = RegQueryValueExW(hKey, L"PendingFileRenameOperations", NULL, &dwType, (LPBYTE)&list[0], pcb);
    }
    // Another program's value of another type holds nothing of ours.
    if (lStatus == ERROR_SUCCESS && dwType != REG_MULTI_SZ)
        lStatus = ERROR_FILE_NOT_FOUND;
    LogStep(ctx, lStatus == ERROR_SUCCESS || lStatus == ERROR_FILE_NOT_FOUND,
            "::RegQueryValueEx([PendingFileRenameOperations]) R %d T %d E %d %s", (int)*pcb, (int)dwType, lStatus,
            SysErrorText(lStatus).c_str());
    return lStatus;
}

/* Windows NT: drops what an earlier run left in the delayed operations for
 * any of the paths in targets (its deletion, or its replacement by an older
 * copy, which is deleted now), so the files this run puts in place next
 * survive the restart. Other programs' operations are kept as they are.
 * Call once the files are in place, or just before their own replacement is
 * scheduled, so that a copy that fails keeps what was waiting. 1 when
 * nothing waits for them any more; 0 after an error line. */
BOOL CInstallContext::DropRestartOperations(const std::vector<std::string> &targets)
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
    std::vector<WCHAR> list;
    DWORD cb = 0;
    lStatus = ReadRestartOperations(*this, hKey, list, &cb);
    // Pairs of names: the file, then its new name ("!" first: replacing),
    // empty for a deletion. The kept pairs are moved to the front.
    std::vector<std::wstring> names;
    for (const std::string &target : targets)
        names.push_back(RestartName(target));
    size_t cchEnd = lStatus == ERROR_SUCCESS ? cb / sizeof(WCHAR) : 0, iRead = 0, iWrite = 0;
    BOOL bDropped = FALSE;
    while (iRead < cchEnd && list[iRead]) {
        const WCHAR *pszFrom = &list[iRead];
        size_t cchFrom = lstrlenW(pszFrom) + 1;
        const WCHAR *pszTo = &list[iRead + cchFrom];  // inside the spare zeros at worst
        size_t cchTo = lstrlenW(pszTo) + 1;
        const WCHAR *pszToName = pszTo[0] == L'!' ? pszTo + 1 : pszTo;
        if (*pszTo ? NamesAny(pszToName, names) : NamesAny(pszFrom, names)) {
            // The older copy that waited to replace it: only on a drive.
            if (*pszTo && !wcsncmp(pszFrom, L"\\??\\", 4) && pszFrom[5] == L':') {
                BOOL bDeleted = DeleteFileW(pszFrom + 4);
                DWORD dwError = CallError(bDeleted);
                LogStep(*this, TRUE, "::DeleteFile([%ls]) R %d E %d %s", pszFrom + 4, bDeleted, dwError,
                        SysErrorText(dwError).c_str());
            }
            LogDbg("DropRestartOperations() [%ls] [%ls]\r\n", pszFrom, pszTo);
            bDropped = TRUE;
        } else {
            memmove(&list[iWrite], pszFrom, (cchFrom + cchTo) * sizeof(WCHAR));
            iWrite += cchFrom + cchTo;
        }
        iRead += cchFrom + cchTo;
    }
    if (bDropped) {
        list[iWrite] = 0;
        if (iWrite) {
            lStatus = RegSetValueExW(hKey, L"PendingFileRenameOperations", 0, REG_MULTI_SZ, (const BYTE *)&list[0],
                                     (DWORD)((iWrite + 1) * sizeof(WCHAR)));
            LogStep(*this, lStatus == ERROR_SUCCESS, "::RegSetValueEx([PendingFileRenameOperations]) R %d E %d %s",
                    (int)iWrite, lStatus, SysErrorText(lStatus).c_str());
        } else {
            lStatus = RegDeleteValueW(hKey, L"PendingFileRenameOperations");
            LogStep(*this, lStatus == ERROR_SUCCESS, "::RegDeleteValue([PendingFileRenameOperations]) E %d %s",
                    lStatus, SysErrorText(lStatus).c_str());
        }
    } else if (lStatus == ERROR_FILE_NOT_FOUND) {
        lStatus = ERROR_SUCCESS;
    }
    LONG lClosed = RegCloseKey(hKey);
    LogStep(*this, TRUE, "::RegCloseKey E %d %s", lClosed, SysErrorText(lClosed).c_str());
    SetLastError(lStatus);
    return lStatus == ERROR_SUCCESS;
}

/* DropRestartOperations for one path. */
BOOL CInstallContext::DropRestartOperations(const char *pszTarget)
{
    return DropRestartOperations(std::vector<std::string>{pszTarget});
}
