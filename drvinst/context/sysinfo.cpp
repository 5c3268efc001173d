// The system facts of an operation: language, platform, the working
// folder, the INF and printer-driver directories.
#include "installcontext.h"
#include "splstr.h"
#include <string>

// Logs a folder's attributes; a folder that is missing or no directory is
// created when bCreate is set, else the check fails; a look that fails for
// another reason than a missing file or path fails the check too.
BOOL CInstallContext::CheckOrCreateFolder(const char *pszFolder, BOOL bCreate)
{
    DWORD dwAttr = GetFileAttributesA(pszFolder);
    DWORD dwError = GetLastError();
    BOOL bFolder = dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_DIRECTORY);
    // A look that failed is no missing folder: creating one would fail with
    // "already exists" and hide the failed call.
    BOOL bLookFailed =
        dwAttr == INVALID_FILE_ATTRIBUTES && dwError != ERROR_FILE_NOT_FOUND && dwError != ERROR_PATH_NOT_FOUND;
    if (!bFolder && (!bCreate || bLookFailed)) {
        LogErr("::GetFileAttributes([%s]) R %d E %d %s", pszFolder, dwAttr, dwError, SysErrorText(dwError).c_str());
        return FALSE;
    }
    LogDbg("::GetFileAttributes([%s]) R %d E %d %s", pszFolder, dwAttr, dwError, SysErrorText(dwError).c_str());
    if (bFolder)
        return TRUE;
    BOOL bCreated = CreateDirectoryA(pszFolder, NULL);
    dwError = GetLastError();
    if (!bCreated) {
        LogErr("::CreateDirectory([%s]) R %d E %d %s", pszFolder, bCreated, dwError, SysErrorText(dwError).c_str());
        return FALSE;
    }
    LogDbg("::CreateDirectory([%s]) R %d E %d %s", pszFolder, bCreated, dwError, SysErrorText(dwError).c_str());
    return TRUE;
}

// Stores a heap copy in pszMember and logs it; a failed copy is an error.
BOOL CInstallContext::StoreSysString(char *&pszMember, const char *psz, const char *pszName)
{
    FreeSplStr(pszMember);
    if (!(pszMember = AllocSplStr(psz))) {
        LogErr("SetupSysInfo() %s\r\n", pszName);
        return FALSE;
    }
    LogDbg("SetupSysInfo() %s [%s]\r\n", pszName, pszMember);
    return TRUE;
}

/* TRUE, after an error line, when this 32-bit program runs on 64-bit Windows:
 * there the spooler takes 64-bit drivers and monitors only, and the 32-bit
 * package must not be installed. IsWow64Process is looked up at run time
 * (Windows 2000 lacks it: no 64-bit Windows there). */
BOOL CInstallContext::IsWow64()
{
#ifdef _WIN64
    return FALSE;
#else
    typedef BOOL(WINAPI * PFN_ISWOW64PROCESS)(HANDLE, PBOOL);
    HMODULE hKernel = GetModuleHandleA("kernel32.dll");
    PFN_ISWOW64PROCESS pfnIsWow64Process =
        hKernel ? (PFN_ISWOW64PROCESS)GetProcAddress(hKernel, "IsWow64Process") : NULL;
    BOOL bWow64 = FALSE;
    if (!pfnIsWow64Process || !pfnIsWow64Process(GetCurrentProcess(), &bWow64) || !bWow64)
        return FALSE;
    LogErr("SetupSysInfo() 64-bit Windows: run the 64-bit installer (the x64 package) instead\r\n");
    return TRUE;
#endif
}

/* Resolves the INF name, then sets m_wLangID, m_osvi, m_bWinNT, the working
 * folder m_pTempDirName (created when missing, refused when another user
 * could change it: SetupWorkingFolder), m_pDrvSrcDir, m_pDevicePath
 * and m_pPrnDrvDir. FALSE after an error line at the first failure, nothing
 * undone; the 32-bit program on 64-bit Windows fails here, before any change.
 * Needs ParseCommand or an absolute INF; precedes CopyToTemp, ParseInf. */
BOOL CInstallContext::SetupSysInfo()
{
    if (!m_pInfFileName || !*m_pInfFileName)
        LogErr("SetupSysInfo() m_pInfFileName [%s]\r\n", LogStr(m_pInfFileName));
    else
        LogDbg("SetupSysInfo() m_pInfFileName [%s]\r\n", m_pInfFileName);
    if (!m_pPrinterName || !*m_pPrinterName)
        LogErr("SetupSysInfo() m_pPrinterName [%s]\r\n", LogStr(m_pPrinterName));
    else
        LogDbg("SetupSysInfo() m_pPrinterName [%s]\r\n", m_pPrinterName);
    LogDbg("SetupSysInfo() m_pPortName [%s]\r\n", LogStr(m_pPortName));

    if (!ResolveInfFileName())
        return FALSE;
    LogLanguage();

    ZeroMemory(&m_osvi, sizeof(m_osvi));
    m_osvi.dwOSVersionInfoSize = sizeof(m_osvi);
    BOOL bVersion = GetVersionExA(&m_osvi);
    DWORD dwError = GetLastError();
    if (!bVersion) {
        LogErr("::GetVersionEx R %d E %d %s", bVersion, dwError, SysErrorText(dwError).c_str());
        return FALSE;
    }
    m_bWinNT = m_osvi.dwPlatformId == VER_PLATFORM_WIN32_NT;
    LogDbg(m_bWinNT ? "::GetVersionEx VER_PLATFORM_WIN32_NT\r\n" : "::GetVersionEx VER_PLATFORM_WIN32_WINDOWS\r\n");
    if (IsWow64())
        return FALSE;

    // One folder per machine and INF, whoever runs the program: the second
    // phase and the Uninstall entry find it whatever account runs them.
    if (!SetupWorkingFolder())
        return FALSE;
    if (!StoreSysString(m_pDrvSrcDir, m_bRunOnce ? m_pTempDirName : m_pInfDirName, "m_pDrvSrcDir"))
        return FALSE;

    char *pDevicePath = AllocCurrentDevicePath();
    FreeSplStr(m_pDevicePath);
    if (!(m_pDevicePath = pDevicePath)) {
        LogErr("SetupSysInfo() m_pDevicePath\r\n");
        return FALSE;
    }
    LogDbg("SetupSysInfo() m_pDevicePath [%s]\r\n", m_pDevicePath);

    char szDrvDir[INF_PATH_MAX];
    DWORD cbNeeded = 0;
    BOOL bDrvDir = GetPrinterDriverDirectoryA(NULL, NULL, 1, (LPBYTE)szDrvDir, sizeof(szDrvDir), &cbNeeded);
    dwError = GetLastError();
    if (!bDrvDir) {
        LogErr("::GetPrinterDriverDirectory R %d E %d %s", bDrvDir, dwError, SysErrorText(dwError).c_str());
        return FALSE;
    }
    LogDbg("::GetPrinterDriverDirectory [%s] R %d E %d %s", szDrvDir, bDrvDir, dwError, SysErrorText(dwError).c_str());
    return StoreSysString(m_pPrnDrvDir, szDrvDir, "m_pPrnDrvDir");
}

/* The "OtherDevicePath" value, or the Windows directory followed by "\INF"
 * without one, environment-expanded (at most 255 characters). A heap string
 * the caller frees with FreeSplMem; NULL after an error line. */
char *CInstallContext::AllocCurrentDevicePath()
{
    static const char kKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    static const char kValue[] = "OtherDevicePath";
    HKEY hKey = NULL;
    LONG lStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &hKey);
    if (lStatus != ERROR_SUCCESS) {
        LogErr("::RegOpenKeyEx([%s]) E %d %s", kKey, lStatus, SysErrorText(lStatus).c_str());
        return NULL;
    }
    LogDbg("::RegOpenKeyEx([%s]) E %d %s", kKey, lStatus, SysErrorText(lStatus).c_str());

    char szPath[INF_PATH_MAX + 1];  // one spare byte keeps unterminated data terminated
    DWORD cbPath = INF_PATH_MAX;
    LONG lQuery = RegQueryValueExA(hKey, kValue, NULL, NULL, (LPBYTE)szPath, &cbPath);
    if (lQuery == ERROR_SUCCESS) {
        szPath[cbPath < INF_PATH_MAX ? cbPath : INF_PATH_MAX] = 0;
        LogDbg("::RegQueryValueEx([%s]) [%s] E %d %s", kValue, szPath, lQuery, SysErrorText(lQuery).c_str());
    } else {
        LogDbg("::RegQueryValueEx([%s]) E %d %s", kValue, lQuery, SysErrorText(lQuery).c_str());
    }
    lStatus = RegCloseKey(hKey);
    if (lStatus != ERROR_SUCCESS) {
        LogErr("::RegCloseKey E %d %s", lStatus, SysErrorText(lStatus).c_str());
        return NULL;
    }
    LogDbg("::RegCloseKey E %d %s", lStatus, SysErrorText(lStatus).c_str());

    if (lQuery != ERROR_SUCCESS) {
        UINT cch = GetWindowsDirectoryA(szPath, INF_PATH_MAX);
        DWORD dwError = GetLastError();
        if (!cch || cch + 4 >= INF_PATH_MAX) {
            LogErr("::GetWindowsDirectory() E %d %s", dwError, SysErrorText(dwError).c_str());
            return NULL;
        }
        lstrcatA(szPath, "\\INF");
    }
    char szExpanded[INF_PATH_MAX];
    DWORD cch = ExpandEnvironmentStringsA(szPath, szExpanded, sizeof(szExpanded));
    DWORD dwError = GetLastError();
    if (!cch || cch > sizeof(szExpanded)) {
        LogErr("::ExpandEnvironmentStrings([%s]) R %d E %d %s", szPath, cch, dwError, SysErrorText(dwError).c_str());
        return NULL;
    }
    LogDbg("::ExpandEnvironmentStrings([%s]) [%s] R %d E %d %s", szPath, szExpanded, cch, dwError,
           SysErrorText(dwError).c_str());
    char *pValue = AllocSplStr(szExpanded);
    if (!pValue)
        LogErr("AllocCurrentDevicePath() pValue\r\n");
    return pValue;
}
