// The installer's kept copy: the program and its INF in a per-machine folder
// under the programs folder, which only administrators can write, for the
// Uninstall entry to run. The working folder under the temporary folder
// serves only what RunOnce runs between two phases: a disk clean-up may empty
// it, and another user may write there.
#include "fixedtext.h"
#include "modellist.h"
#include "spooler.h"
#include "splstr.h"
#include "steplog.h"
#include <string>

static const char kVersionKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

/* The kept folder of this INF, "<ProgramFilesDir>\Ostrel\Ostrel<INF name>",
 * read once and held in m_pKeptDirName (owned). NULL after an error line when
 * the programs folder cannot be read or the path does not fit in 256 bytes. */
const char *CInstallContext::KeptFolder()
{
    if (m_pKeptDirName)
        return m_pKeptDirName;
    HKEY hKey = NULL;
    LONG lStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kVersionKey, 0, KEY_READ, &hKey);
    LogStep(*this, lStatus == ERROR_SUCCESS, "::RegOpenKeyEx([%s]) E %d %s", kVersionKey, lStatus,
            SysErrorText(lStatus).c_str());
    if (lStatus != ERROR_SUCCESS)
        return NULL;
    char szPrograms[INF_PATH_MAX + 1] = "";  // one spare byte keeps unterminated data terminated
    DWORD cb = INF_PATH_MAX;
    DWORD dwType = 0;
    lStatus = RegQueryValueExA(hKey, "ProgramFilesDir", NULL, &dwType, (LPBYTE)szPrograms, &cb);
    RegCloseKey(hKey);
    if (lStatus == ERROR_SUCCESS && (dwType != REG_SZ || !cb))
        lStatus = ERROR_INVALID_DATA;
    szPrograms[lStatus == ERROR_SUCCESS && cb < INF_PATH_MAX ? cb : INF_PATH_MAX] = 0;
    LogStep(*this, lStatus == ERROR_SUCCESS, "::RegQueryValueEx([ProgramFilesDir]) [%s] E %d %s", szPrograms,
            lStatus, SysErrorText(lStatus).c_str());
    char szFolder[INF_PATH_MAX];
    if (lStatus != ERROR_SUCCESS ||
        !FormatPath(*this, szFolder, sizeof(szFolder), "KeptFolder", "%s\\Ostrel\\Ostrel%s", szPrograms,
                    LogStr(m_pInfBaseName)))
        return NULL;
    m_pKeptDirName = AllocSplStr(szFolder);
    if (!m_pKeptDirName)
        LogErr("KeptFolder() AllocSplStr\r\n");
    return m_pKeptDirName;
}

/* Copies the program and its INF into the kept folder, creating it (and
 * "<ProgramFilesDir>\Ostrel") with the access list it inherits there, and
 * then drops a deletion an earlier uninstall left for the restart. Nothing
 * to do when the program runs from that folder. 1, or 0 after an error
 * line. After ParseCommand and SetupSysInfo. */
BOOL CInstallContext::CopyToKeptFolder()
{
    const char *pszFolder = KeptFolder();
    if (!pszFolder)
        return FALSE;
    if (!StrCmpI(LogStr(m_pExeDirName), pszFolder))
        return TRUE;
    char szExe[INF_PATH_MAX], szInf[INF_PATH_MAX];
    return MakeFolder(pszFolder) &&
           FormatPath(*this, szExe, sizeof(szExe), "CopyToKeptFolder", "%s\\%s", pszFolder, LogStr(m_pExeBaseName)) &&
           FormatPath(*this, szInf, sizeof(szInf), "CopyToKeptFolder", "%s\\%s", pszFolder, LogStr(m_pInfBaseName)) &&
           CopyFileOverwrite(LogStr(m_pExeFileName), szExe) && DropRestartOperations(szExe) &&
           CopyFileOverwrite(LogStr(m_pInfFileName), szInf) && DropRestartOperations(szInf);
}

/* With the INF's last model uninstalled, removes the kept copy: the program,
 * the INF and the folder. What the running program holds (it may run from
 * there) goes at the next restart. Kept while another model of the INF is
 * installed. 1, or 0 after an error line. After EnumDrv. */
BOOL CInstallContext::DelKeptFolder()
{
    std::vector<std::string> models;
    if (!FindInfPrinters(models))
        return FALSE;
    for (const std::string &model : models) {
        if (FindEnumDrv(*this, model.c_str())) {
            LogDbg("DelKeptFolder() Installed [%s]\r\n", model.c_str());
            return TRUE;
        }
    }
    const char *pszFolder = KeptFolder();
    char szExe[INF_PATH_MAX], szInf[INF_PATH_MAX];
    if (!pszFolder ||
        !FormatPath(*this, szExe, sizeof(szExe), "DelKeptFolder", "%s\\%s", pszFolder, LogStr(m_pExeBaseName)) ||
        !FormatPath(*this, szInf, sizeof(szInf), "DelKeptFolder", "%s\\%s", pszFolder, LogStr(m_pInfBaseName)) ||
        !DelFile(szExe) || !DelFile(szInf))
        return FALSE;
    BOOL bRemoved = RemoveDirectoryA(pszFolder);
    DWORD dwError = CallError(bRemoved);
    BOOL bGone = bRemoved || dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND;
    // A folder whose program waits for the restart goes after it.
    BOOL bLater = !bGone && m_bReplaceAtRestart && m_bWinNT;
    LogStep(*this, bGone || bLater, "::RemoveDirectory([%s]) R %d E %d %s", pszFolder, bRemoved, dwError,
            SysErrorText(dwError).c_str());
    SetLastError(dwError);
    if (bGone) {
        // "<ProgramFilesDir>\Ostrel" goes too once no other INF keeps a copy there.
        std::string strParent(pszFolder, FindLastCharA(pszFolder, '\\') - pszFolder);
        BOOL bParent = RemoveDirectoryA(strParent.c_str());
        DWORD dwParentError = CallError(bParent);
        LogDbg("::RemoveDirectory([%s]) R %d E %d %s", strParent.c_str(), bParent, dwParentError,
               SysErrorText(dwParentError).c_str());
        SetLastError(dwError);
    }
    return bGone || (bLater && DeleteFileAtRestart(pszFolder));
}
