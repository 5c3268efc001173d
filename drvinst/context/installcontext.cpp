// The context's life: construction, destruction, the log writers and the
// setters of the names it is about.
#include "installcontext.h"
#include "infcache.h"
#include "loga.h"
#include "splstr.h"
#include "spoolrecord.h"
#include "sysmsg.h"
#include <stdarg.h>
#include <stdio.h>

/* The system's text for dwError, line break included, held in the object
 * (512 bytes); "\r\n" alone for 0 or a code without text. Used as a
 * temporary inside one log call: c_str() lives as long as the object. */
SysErrorText::SysErrorText(DWORD dwError)
{
    m_szText[0] = 0;
    if (dwError)
        SystemMessageA(dwError, m_szText, sizeof(m_szText), FALSE);
    if (!m_szText[0])
        lstrcpyA(m_szText, "\r\n");
}

/* An empty context: flags 0, every string, list and table NULL. One context
 * serves one operation on one thread: SetLogFileName, then ParseCommand (or
 * the setters, for a nested context), SetupSysInfo, then the INF queries. */
CInstallContext::CInstallContext()
    : m_bInstall(0), m_bUninstall(0), m_bReinstall(0), m_bCopy(0), m_bRunOnce(0), m_bDialogShown(0),
      m_bRestartPending(0), m_bRestartStarted(0), m_bPendingRefused(0), m_bReplaceAtRestart(0), m_bRestartFailed(0),
      m_pLogFileName(NULL), m_pExeFileName(NULL), m_pExeDirName(NULL), m_pExeBaseName(NULL),
      m_pCommandLine(NULL), m_pInfFileName(NULL), m_pPrinterName(NULL), m_pPortName(NULL),
      m_pQueueName(NULL), m_pInfDirName(NULL), m_pInfBaseName(NULL), m_pTempDirName(NULL),
      m_pDrvSrcDir(NULL), m_wLangID(0), m_bWinNT(0), m_pDevicePath(NULL), m_pPrnDrvDir(NULL),
      m_pInstallSection(NULL), m_pHardwareID(NULL), m_pInfDirective(NULL), m_pFileLink(NULL),
      m_pRegLink(NULL), m_pStringLink(NULL), m_pInfCache(NULL), m_dwStringGeneration(0), m_cLongLineRefusals(0),
      m_pStringTail(NULL), m_pFileTail(NULL), m_pRegTail(NULL)
{
    ZeroMemory(&m_osvi, sizeof(m_osvi));
    ZeroMemory(&m_MonitorInfo2, sizeof(m_MonitorInfo2));
    ZeroMemory(&m_PrnProcInfo, sizeof(m_PrnProcInfo));
    ZeroMemory(&m_DriverInfo3, sizeof(m_DriverInfo3));
    ZeroMemory(&m_PrinterInfo2, sizeof(m_PrinterInfo2));
    m_pEnumProc1 = m_pEnumDrv3 = m_pEnumPrn2 = NULL;
    m_cEnumProc1 = m_cEnumDrv3 = m_cEnumPrn2 = 0;
    m_pDrvingLink = NULL;
}

/* Frees every member string, the directive table, the three lists and the
 * INF copy. Whatever the getters, GetDirective and GetErrorText handed out
 * goes with it. */
CInstallContext::~CInstallContext()
{
    char **strings[] = {&m_pLogFileName, &m_pExeFileName, &m_pExeDirName, &m_pExeBaseName,
                        &m_pCommandLine, &m_pInfFileName, &m_pPrinterName, &m_pPortName,
                        &m_pQueueName, &m_pInfDirName, &m_pInfBaseName, &m_pTempDirName,
                        &m_pDrvSrcDir, &m_pDevicePath, &m_pPrnDrvDir, &m_pInstallSection,
                        &m_pHardwareID};
    for (char **ppsz : strings)
        FreeSplStr(*ppsz);
    if (m_pInfDirective) {
        for (InfDirective *pRow = m_pInfDirective; pRow->pKey; pRow++)
            FreeSplStr(pRow->pValue);
        FreeSplMem(m_pInfDirective);
    }
    while (FileLink *p = m_pFileLink) {
        m_pFileLink = p->pNext;
        char **fields[] = {&p->pDst, &p->pSrc, &p->pTmp, &p->pFlag, &p->pDir};
        for (char **ppsz : fields)
            FreeSplStr(*ppsz);
        FreeSplMem(p);
    }
    while (RegLink *p = m_pRegLink) {
        m_pRegLink = p->pNext;
        char **fields[] = {&p->pRoot, &p->pSubKey, &p->pValueName, &p->pFlag, &p->pValue};
        for (char **ppsz : fields)
            FreeSplStr(*ppsz);
        FreeSplMem(p);
    }
    FreeStringLinks();
    delete m_pInfCache;
    FreeSplRecords();
    FreeSpoolRecord(m_pEnumProc1);
    FreeSpoolRecord(m_pEnumDrv3);
    FreeSpoolRecord(m_pEnumPrn2);
    FreeDrvingLink();
}

// Frees every string of the four spooler records and zeroes the records.
void CInstallContext::FreeSplRecords()
{
    char **strings[] = {&m_MonitorInfo2.pName, &m_MonitorInfo2.pEnvironment, &m_MonitorInfo2.pDLLName,
                        &m_PrnProcInfo.pName, &m_PrnProcInfo.pEnvironment, &m_PrnProcInfo.pDLLName,
                        &m_DriverInfo3.pName, &m_DriverInfo3.pEnvironment, &m_DriverInfo3.pDriverPath,
                        &m_DriverInfo3.pDataFile, &m_DriverInfo3.pConfigFile, &m_DriverInfo3.pHelpFile,
                        &m_DriverInfo3.pDependentFiles, &m_DriverInfo3.pMonitorName,
                        &m_DriverInfo3.pDefaultDataType, &m_PrinterInfo2.pPrinterName,
                        &m_PrinterInfo2.pPortName, &m_PrinterInfo2.pDriverName, &m_PrinterInfo2.pPrintProcessor,
                        &m_PrinterInfo2.pDatatype};
    for (char **ppsz : strings)
        FreeSplStr(*ppsz);
    ZeroMemory(&m_DriverInfo3, sizeof(m_DriverInfo3));
    ZeroMemory(&m_PrinterInfo2, sizeof(m_PrinterInfo2));
}

// Frees every DrvingLink node with its strings; the list is empty afterwards.
void CInstallContext::FreeDrvingLink()
{
    while (DrvingLink *p = m_pDrvingLink) {
        m_pDrvingLink = p->pNext;
        FreeSplStr(p->pPrinterName);
        FreeSplStr(p->pPortName);
        FreeSplStr(p->pDriverName);
        FreeSplMem(p);
    }
}

/* Sets m_pLogFileName to the Windows drive's root followed by pszName
 * ("kztdebug.txt"). FALSE, logging off (NULL), when the name is NULL or empty,
 * the Windows directory is unusable, or no memory. Call it first: error texts
 * reach m_strError either way, but log lines need the path. */
BOOL CInstallContext::SetLogFileName(const char *pszName)
{
    char szPath[INF_PATH_MAX + 16];
    FreeSplStr(m_pLogFileName);
    if (!LogPathForNameA(pszName, szPath, sizeof(szPath)))
        return FALSE;
    m_pLogFileName = AllocSplStr(szPath);
    return m_pLogFileName != NULL;
}

/* Appends pszText as it is (at most 4096 bytes) to the log file when the
 * path is set and the file exists; never creates the file, never fails. */
void CInstallContext::LogWrite(const char *pszText)
{
    LogFileWriteA(m_pLogFileName, pszText);
}

/* Writes one stamped line when the file exists; an error's message also
 * goes to m_strError. */
void CInstallContext::LogLine(BOOL bError, const char *pszMessage)
{
    if (LogFileExistsA(m_pLogFileName)) {
        char szLine[LOGA_TEXT_MAX];
        LogFormatLineA(szLine, sizeof(szLine), bError, pszMessage);
        LogWrite(szLine);
    }
    if (bError)
        m_strError += pszMessage;
}

// Formats into a buffer of the writer's limit; a longer message is cut.
static void FormatMessageArgs(char *pszMessage, size_t cbMessage, const char *pszFormat, va_list args)
{
    _vsnprintf(pszMessage, cbMessage - 1, pszFormat, args);
    pszMessage[cbMessage - 1] = 0;
}

/* Debug line: a printf-style message that carries its own "\r\n", cut to
 * fit 4096 bytes with its stamp, written only while the log file exists
 * (looked up at most once per tick). The caller's last error is kept. */
void CInstallContext::LogDbg(const char *pszFormat, ...)
{
    DWORD dwError = GetLastError();
    if (!LogFileExistsA(m_pLogFileName)) {
        SetLastError(dwError);
        return;  // nothing to format for a debug line without its file
    }
    char szMessage[LOGA_TEXT_MAX];
    va_list args;
    va_start(args, pszFormat);
    FormatMessageArgs(szMessage, sizeof(szMessage), pszFormat, args);
    va_end(args);
    LogLine(FALSE, szMessage);
    SetLastError(dwError);
}

/* Error line: written as LogDbg writes, and the message is always appended
 * to m_strError (GetErrorText), file or not. The caller's last error is kept. */
void CInstallContext::LogErr(const char *pszFormat, ...)
{
    DWORD dwError = GetLastError();
    char szMessage[LOGA_TEXT_MAX];
    va_list args;
    va_start(args, pszFormat);
    FormatMessageArgs(szMessage, sizeof(szMessage), pszFormat, args);
    va_end(args);
    LogLine(TRUE, szMessage);
    SetLastError(dwError);
}

// A failed copy leaves the member NULL; the setters still report success.
static BOOL ReplaceString(char *&pszMember, const char *psz)
{
    FreeSplStr(pszMember);
    pszMember = AllocSplStr(psz);
    return TRUE;
}

/* The four setters replace their member with a context-owned copy of psz
 * (NULL clears it) and always answer TRUE; a failed copy leaves the member
 * NULL for a later step to report. */
BOOL CInstallContext::SetInfFileName(const char *psz) { return ReplaceString(m_pInfFileName, psz); }
BOOL CInstallContext::SetPrinterName(const char *psz) { return ReplaceString(m_pPrinterName, psz); }
BOOL CInstallContext::SetPortName(const char *psz) { return ReplaceString(m_pPortName, psz); }
BOOL CInstallContext::SetQueueName(const char *psz) { return ReplaceString(m_pQueueName, psz); }

/* Splits m_pInfFileName at its last backslash into m_pInfDirName and
 * m_pInfBaseName. FALSE after an error line when there is no name, no
 * backslash, 256 characters or more, or a failed copy. */
BOOL CInstallContext::SetInfDirBase()
{
    if (m_pInfFileName && lstrlenA(m_pInfFileName) >= INF_PATH_MAX) {
        LogErr("SetInfDirBase() Length\r\n");  // beyond every path buffer
        return FALSE;
    }
    return SplitPathMembers(m_pInfFileName ? m_pInfFileName : "", m_pInfDirName, m_pInfBaseName,
                            "SetInfDirBase() INF pLast\r\n", "SetInfDirBase() m_pInfDirName\r\n",
                            "SetInfDirBase() m_pInfBaseName\r\n");
}

// Splits a path (at most 255 characters) at its last backslash into a
// directory and a file-name member; each failure is the caller's error.
BOOL CInstallContext::SplitPathMembers(const char *pszPath, char *&pszDir, char *&pszBase, const char *pszNoLast,
                                       const char *pszNoDir, const char *pszNoBase)
{
    char szPath[INF_PATH_MAX];
    lstrcpynA(szPath, pszPath, sizeof(szPath));
    char *pLast = (char *)FindLastCharA(szPath, '\\');
    if (!pLast) {
        LogErr("%s", pszNoLast);
        return FALSE;
    }
    *pLast = 0;
    FreeSplStr(pszDir);
    if (!(pszDir = AllocSplStr(szPath))) {
        LogErr("%s", pszNoDir);
        return FALSE;
    }
    FreeSplStr(pszBase);
    if (!(pszBase = AllocSplStr(pLast + 1))) {
        LogErr("%s", pszNoBase);
        return FALSE;
    }
    return TRUE;
}

// A relative INF name is taken relative to the installer's directory (set by
// ParseCommand), then split by SetInfDirBase, whose result this is. Forward
// slashes count as backslashes; a drive-relative name (D:TZ.INF), which
// would depend on that drive's current folder, fails after an error line.
BOOL CInstallContext::ResolveInfFileName()
{
    for (char *p = m_pInfFileName; p && *p; p = (char *)NextCharA(p)) {
        if (*p == '/')
            *p = '\\';
    }
    if (m_pInfFileName && IsDriveRelativePathA(m_pInfFileName)) {
        LogErr("ResolveInfFileName() INF [%s] Drive-relative path: give the full path, as %.2s\\folder\\%s\r\n",
               m_pInfFileName, m_pInfFileName, m_pInfFileName + 2);
        return FALSE;
    }
    if (m_pInfFileName && !IsAbsolutePathA(m_pInfFileName)) {
        std::string strPath = std::string(LogStr(m_pExeDirName)) + "\\" + m_pInfFileName;
        SetInfFileName(strPath.c_str());
    }
    return SetInfDirBase();
}

// Sets m_wLangID to the system's default language; logs it and the user's.
void CInstallContext::LogLanguage()
{
    m_wLangID = GetSystemDefaultLangID();
    LogDbg("::GetSystemDefaultLangID R 0x%04X\r\n", m_wLangID);
    LogDbg("::GetUserDefaultLangID R 0x%04X\r\n", GetUserDefaultLangID());
}
