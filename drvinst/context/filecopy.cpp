// Overwriting file copy, and the copy of the installer and its INF into the
// working folder.
#include "installcontext.h"
#include "splstr.h"
#include <string>

/* TRUE for the errors of a file that another process holds open or has
 * mapped: such a file can be replaced or deleted only at the next restart. */
BOOL IsFileInUseError(DWORD dwError)
{
    return dwError == ERROR_SHARING_VIOLATION || dwError == ERROR_LOCK_VIOLATION ||
           dwError == ERROR_ACCESS_DENIED || dwError == ERROR_USER_MAPPED_FILE;
}

/* Copies pszSource over pszTarget; a read-only, hidden or system target is
 * made normal first. Creates no directory. TRUE when copied, FALSE after an
 * error line with the failing call's last error. With bInUseAsked, a target
 * that exists and is in use (IsFileInUseError) fails with a DBG line instead:
 * the caller replaces it at the restart. */
BOOL CInstallContext::CopyFileOverwrite(const char *pszSource, const char *pszTarget, BOOL bInUseAsked)
{
    DWORD dwAttr = GetFileAttributesA(pszTarget);
    DWORD dwError = GetLastError();
    if (dwAttr != INVALID_FILE_ATTRIBUTES) {
        LogDbg("::GetFileAttributes([%s]) R %d E %d %s", LogStr(pszTarget), dwAttr, dwError,
               SysErrorText(dwError).c_str());
        BOOL bSet = SetFileAttributesA(pszTarget, FILE_ATTRIBUTE_NORMAL);
        dwError = GetLastError();
        if (!bSet) {
            LogErr("::SetFileAttributes([%s]) R %d E %d %s", LogStr(pszTarget), bSet, dwError,
                   SysErrorText(dwError).c_str());
            SetLastError(dwError);
            return FALSE;
        }
        LogDbg("::SetFileAttributes([%s]) R %d E %d %s", LogStr(pszTarget), bSet, dwError,
               SysErrorText(dwError).c_str());
    } else if (dwError != ERROR_FILE_NOT_FOUND && dwError != ERROR_PATH_NOT_FOUND) {
        LogErr("::GetFileAttributes([%s]) R %d E %d %s", LogStr(pszTarget), dwAttr, dwError,
               SysErrorText(dwError).c_str());
        SetLastError(dwError);
        return FALSE;
    } else {
        LogDbg("::GetFileAttributes([%s]) R %d E %d %s", LogStr(pszTarget), dwAttr, dwError,
               SysErrorText(dwError).c_str());
    }
    BOOL bCopied = CopyFileA(pszSource, pszTarget, FALSE);
    dwError = bCopied ? ERROR_SUCCESS : GetLastError();
    BOOL bInUse = !bCopied && bInUseAsked && dwAttr != INVALID_FILE_ATTRIBUTES && IsFileInUseError(dwError);
    if (bCopied || bInUse)
        LogDbg("::CopyFile([%s][%s]) R %d E %d %s", LogStr(pszSource), LogStr(pszTarget), bCopied, dwError,
               SysErrorText(dwError).c_str());
    else
        LogErr("::CopyFile([%s][%s]) R %d E %d %s", LogStr(pszSource), LogStr(pszTarget), bCopied, dwError,
               SysErrorText(dwError).c_str());
    SetLastError(dwError);
    return bCopied;
}

// dir\name, with "KztNull" for an absent part.
static std::string JoinPath(const char *pszDir, const char *pszName)
{
    return std::string(LogStr(pszDir)) + "\\" + LogStr(pszName);
}

/* Copies the installer and its INF into the working folder and, for a
 * reinstall (neither m_bInstall nor m_bUninstall), every plain file of the
 * INF's directory. TRUE at once when the INF lies there already. After
 * SetupSysInfo; FALSE at the first failed copy, earlier copies stay. */
BOOL CInstallContext::CopyToTemp()
{
    int nDiff = StrCmpI(LogStr(m_pInfDirName), LogStr(m_pTempDirName));
    LogDbg("CopyToTemp() Diff %d InfDir [%s] TmpDir [%s]\r\n", nDiff, LogStr(m_pInfDirName),
           LogStr(m_pTempDirName));
    if (!nDiff)
        return TRUE;
    if (!CopyFileOverwrite(m_pExeFileName, JoinPath(m_pTempDirName, m_pExeBaseName).c_str()))
        return FALSE;
    if (!CopyFileOverwrite(m_pInfFileName, JoinPath(m_pTempDirName, m_pInfBaseName).c_str()))
        return FALSE;
    if (m_bInstall || m_bUninstall)
        return TRUE;

    // Reinstall: every plain file of the INF directory goes along.
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA(JoinPath(m_pInfDirName, "*").c_str(), &fd);
    DWORD dwError = GetLastError();
    if (hFind == INVALID_HANDLE_VALUE) {
        LogErr("finder.FindFile R %d E %d %s", 0, dwError, SysErrorText(dwError).c_str());
        return FALSE;
    }
    BOOL bResult = TRUE;
    for (;;) {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !CopyFileOverwrite(JoinPath(m_pInfDirName, fd.cFileName).c_str(),
                               JoinPath(m_pTempDirName, fd.cFileName).c_str())) {
            bResult = FALSE;
            break;
        }
        if (!FindNextFileA(hFind, &fd)) {
            dwError = GetLastError();
            if (dwError != ERROR_NO_MORE_FILES) {
                LogErr("finder.FindNextFile R %d E %d %s", 0, dwError, SysErrorText(dwError).c_str());
                bResult = FALSE;
            }
            break;
        }
    }
    FindClose(hFind);
    return bResult;
}
