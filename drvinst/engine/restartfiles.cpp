// Files that another process holds open: Windows NT replaces or deletes them
// at the next restart (its delayed file operations), and the operation
// reports that a restart is needed instead of failing or keeping them.
#include "fixedtext.h"
#include "splstr.h"
#include "steplog.h"
#include <string.h>

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
