// The installer's kept copy: the program and its INF in the per-machine
// working folder under the programs folder, which only administrators can
// write, for the Uninstall entry to run.
#include "fixedtext.h"
#include "modellist.h"
#include "spooler.h"
#include "splstr.h"
#include "steplog.h"
#include <string>

/* The kept folder of this INF: the working folder, "<ProgramFilesDir>\Ostrel\
 * Ostrel<INF name>" (SetupSysInfo made and checked it). NULL after an error
 * line before SetupSysInfo. */
const char *CInstallContext::KeptFolder()
{
    if (!m_pTempDirName)
        LogErr("KeptFolder() m_pTempDirName\r\n");
    return m_pTempDirName;
}

/* The files (not folders) of pszFolder as full paths into files. FALSE
 * after an error line when the folder cannot be listed; an empty or missing
 * folder gives none. */
static BOOL ListFolderFiles(CInstallContext &ctx, const char *pszFolder, std::vector<std::string> &files)
{
    files.clear();
    std::string strPattern = std::string(pszFolder) + "\\*";
    WIN32_FIND_DATAA find;
    HANDLE hFind = FindFirstFileA(strPattern.c_str(), &find);
    if (hFind == INVALID_HANDLE_VALUE) {
        DWORD dwError = GetLastError();
        BOOL bNone = dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND;
        LogStep(ctx, bNone, "::FindFirstFile([%s]) E %d %s", strPattern.c_str(), dwError,
                SysErrorText(dwError).c_str());
        return bNone;
    }
    do {
        if (!(find.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            files.push_back(std::string(pszFolder) + "\\" + find.cFileName);
    } while (FindNextFileA(hFind, &find));
    DWORD dwError = GetLastError();
    FindClose(hFind);
    LogStep(ctx, dwError == ERROR_NO_MORE_FILES, "::FindNextFile([%s]) E %d %s", strPattern.c_str(), dwError,
            SysErrorText(dwError).c_str());
    return dwError == ERROR_NO_MORE_FILES;
}

/* CopyToTemp, then whatever an earlier uninstall left in the platform's
 * delayed operations for the working folder and its files (their deletion
 * at the restart) is dropped: the second phase and the Uninstall entry run
 * from there. 1, or 0 after an error line. After SetupSysInfo. */
BOOL CInstallContext::CopyToWorkingFolder()
{
    std::vector<std::string> targets;
    if (!CopyToTemp() || !ListFolderFiles(*this, LogStr(m_pTempDirName), targets))
        return FALSE;
    targets.push_back(m_pTempDirName);
    return DropRestartOperations(targets);
}

/* With the INF's last model uninstalled, removes the kept copy: every file of
 * the folder (the program, the INF, a reinstall's package) and the folder. What the running program holds (it may run from
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
    std::vector<std::string> files;
    if (!pszFolder || !ListFolderFiles(*this, pszFolder, files))
        return FALSE;
    // The program that runs this phase from the folder goes at the next
    // restart, whenever that comes: it is nothing to ask a restart for.
    BOOL bRestartBefore = m_bReplaceAtRestart;
    BOOL bOwnLater = FALSE;
    for (const std::string &file : files) {
        BOOL bOwn = SameName(file.c_str(), m_pExeFileName);
        BOOL bReplaceBefore = m_bReplaceAtRestart;
        if (!DelFile(file.c_str()))
            return FALSE;
        if (bOwn && m_bReplaceAtRestart && !bReplaceBefore) {
            bOwnLater = TRUE;
            m_bReplaceAtRestart = FALSE;
        }
    }
    BOOL bRemoved = RemoveDirectoryA(pszFolder);
    DWORD dwError = CallError(bRemoved);
    BOOL bGone = bRemoved || dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND;
    // A folder whose program waits for the restart goes after it.
    BOOL bLater = !bGone && (m_bReplaceAtRestart || bOwnLater) && m_bWinNT;
    if (bLater && bOwnLater && !m_bReplaceAtRestart) {
        BOOL bScheduled = DeleteFileAtRestart(pszFolder);
        m_bReplaceAtRestart = bRestartBefore;
        LogStep(*this, bScheduled, "::RemoveDirectory([%s]) R %d E %d %s", pszFolder, bRemoved, dwError,
                SysErrorText(dwError).c_str());
        return bScheduled;
    }
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
