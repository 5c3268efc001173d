// Adding the spooler components of a model: language monitor, print
// processor, driver and queue. A component that is already there counts as
// added.
#include "spooler.h"
#include "splstr.h"
#include "fixedtext.h"
#include "steplog.h"
#include <stdio.h>
#include <string.h>

// Registers the language monitor unless an installed driver names it. 1 when
// it is there afterwards (the spooler already having it counts);
// m_bMonitorAdded when this call added it.
BOOL CInstallContext::AddMon()
{
    if (!m_MonitorInfo2.pName || !*m_MonitorInfo2.pName) {
        LogDbg("AddMon() No User LanguageMonitor\r\n");
        return TRUE;
    }
    if (!EnumDrv())
        return FALSE;
    if (FindEnumDrvByMonitor(*this, m_MonitorInfo2.pName)) {
        LogDbg("AddMon() Installed LanguageMonitor [%s]\r\n", m_MonitorInfo2.pName);
        return TRUE;
    }
    SetLastError(0);
    BOOL bAdded = AddMonitorA(NULL, 2, (LPBYTE)&m_MonitorInfo2);
    DWORD dwError = CallError(bAdded);
    m_bMonitorAdded |= bAdded;
    // A monitor that the spooler already has is there afterwards, as asked.
    BOOL bPresent = bAdded || dwError == ERROR_PRINT_MONITOR_ALREADY_INSTALLED;
    LogStep(*this, bPresent, "::AddMonitor([%s]) R %d E %d %s", m_MonitorInfo2.pName, bAdded, dwError,
            SysErrorText(dwError).c_str());
    SetLastError(dwError);
    return bPresent;
}

// Adds the print processor unless the spooler lists it; 1 when it is there;
// m_bProcAdded when this call added it.
BOOL CInstallContext::AddProc()
{
    if (!m_PrnProcInfo.pName || !*m_PrnProcInfo.pName) {
        LogDbg("AddProc() No User PrintProcessor\r\n");
        return TRUE;
    }
    if (!EnumProc())
        return FALSE;
    if (FindEnumProc(*this, m_PrnProcInfo.pName)) {
        LogDbg("AddProc() Installed PrintProcessor [%s]\r\n", m_PrnProcInfo.pName);
        return TRUE;
    }
    SetLastError(0);
    BOOL bAdded = AddPrintProcessorA(NULL, m_PrnProcInfo.pEnvironment, m_PrnProcInfo.pDLLName, m_PrnProcInfo.pName);
    DWORD dwError = CallError(bAdded);
    m_bProcAdded |= bAdded;
    LogStep(*this, bAdded, "::AddPrintProcessor([%s]) R %d E %d %s", m_PrnProcInfo.pName, bAdded, dwError,
            SysErrorText(dwError).c_str());
    SetLastError(dwError);
    return bAdded;
}

// The dependent-file list in the spooler's form: every comma of "A,B," made
// a NUL, so that the trailing comma ends the list; two NULs close it even
// without one. NULL for NULL; a new block the caller frees.
static char *AllocMultiString(const char *pszList)
{
    if (!pszList)
        return NULL;
    size_t cch = strlen(pszList);
    char *pszMulti = (char *)AllocSplMem(cch + 2);
    if (!pszMulti)
        return NULL;
    memcpy(pszMulti, pszList, cch);
    for (size_t i = 0; i < cch;) {
        if (pszMulti[i] == ',')
            pszMulti[i++] = 0;
        else
            i = NextCharA(pszMulti + i) - pszMulti;
    }
    return pszMulti;
}

// 1 when the file pszName (NULL or empty: none) is in the printer-driver
// directory; else 0 after its GetFileAttributes error line. Windows refuses
// a driver whose files are missing; Wine adds it anyway, so the engine looks
// itself and a package that lost a file never installs as complete.
static BOOL DriverFileThere(CInstallContext &ctx, const char *pszName)
{
    if (!pszName || !*pszName)
        return TRUE;
    char szPath[INF_PATH_MAX];
    if (!FormatPath(ctx, szPath, sizeof(szPath), "AddDrv", "%s\\%s", LogStr(ctx.m_pPrnDrvDir), pszName))
        return FALSE;
    DWORD dwAttr = GetFileAttributesA(szPath);
    if (dwAttr != INVALID_FILE_ATTRIBUTES)
        return TRUE;
    DWORD dwError = GetLastError();
    ctx.LogErr("::GetFileAttributes([%s]) R %d E %d %s", szPath, dwAttr, dwError, SysErrorText(dwError).c_str());
    SetLastError(dwError);
    return FALSE;
}

// The four files of the driver record, which the driver directory holds
// (dependent files may live elsewhere, as a language monitor does).
static BOOL DriverFilesThere(CInstallContext &ctx, const DRIVER_INFO_3A &di)
{
    return DriverFileThere(ctx, di.pDriverPath) && DriverFileThere(ctx, di.pDataFile) &&
           DriverFileThere(ctx, di.pConfigFile) && DriverFileThere(ctx, di.pHelpFile);
}

// Adds the driver unless one of its name is installed (never replaced here);
// 1 when it is there. The driver's files must be in the driver directory:
// a missing one fails before the spooler is asked.
BOOL CInstallContext::AddDrv()
{
    DRIVER_INFO_3A di = m_DriverInfo3;
    di.pDependentFiles = AllocMultiString(m_DriverInfo3.pDependentFiles);
    if (m_DriverInfo3.pDependentFiles && !di.pDependentFiles) {
        LogErr("AddDrv() AllocSplMem\r\n");  // never a driver without its dependent files
        return FALSE;
    }
    BOOL bResult = EnumDrv();
    if (bResult && FindEnumDrv(*this, di.pName)) {
        LogDbg("AddDrv() Installed Driver [%s]\r\n", LogStr(di.pName));
    } else if (bResult && !DriverFilesThere(*this, di)) {
        bResult = FALSE;
    } else if (bResult) {
        SetLastError(0);
        bResult = AddPrinterDriverA(NULL, 3, (LPBYTE)&di);
        DWORD dwError = CallError(bResult);
        LogStep(*this, bResult, "::AddPrinterDriver([%s]) R %d E %d %s", LogStr(di.pName), bResult, dwError,
                SysErrorText(dwError).c_str());
        SetLastError(dwError);
    }
    FreeSplStr(di.pDependentFiles);
    return bResult;
}

// Adds a queue for the driver: under the template's name when no queue has
// it, else under the first free "name (n)", n = 1 to 255.
BOOL CInstallContext::AddQueue()
{
    if (!EnumPrn())
        return FALSE;
    const char *pszBase = m_PrinterInfo2.pPrinterName;
    if (!FindEnumPrn(*this, pszBase))
        return AddQueueNamed(pszBase);
    // The name is taken: the first of "name (1)" to "name (255)" that no
    // queue answers to.
    char szName[INF_PATH_MAX];
    for (int n = 1; n <= 255; n++) {
        int cch = _snprintf(szName, sizeof(szName), "%s (%d)", LogStr(pszBase), n);
        if (cch < 0 || cch >= (int)sizeof(szName)) {
            LogErr("AddQueue() Length\r\n");  // beyond the name buffer
            return FALSE;
        }
        HANDLE hPrinter = NULL;
        BOOL bOpened = OpenQueue(szName, &hPrinter);
        DWORD dwError = CallError(bOpened);
        LogDbg("::OpenPrinter([%s]) R %d E %d %s", szName, bOpened, dwError, SysErrorText(dwError).c_str());
        if (!bOpened)
            return AddQueueNamed(szName);
        SetLastError(0);
        BOOL bClosed = ClosePrinter(hPrinter);
        dwError = CallError(bClosed);
        LogStep(*this, bClosed, "::ClosePrinter R %d E %d %s", bClosed, dwError, SysErrorText(dwError).c_str());
    }
    LogErr("AddQueue() No Free Name [%s]\r\n", LogStr(pszBase));
    return FALSE;
}

// AddPrinter with the queue template under pszName; 1 when added and closed.
// The name of a queue added goes to m_strQueueAdded.
BOOL CInstallContext::AddQueueNamed(const char *pszName)
{
    PRINTER_INFO_2A pi = m_PrinterInfo2;
    pi.pPrinterName = (LPSTR)pszName;
    SetLastError(0);
    HANDLE hPrinter = AddPrinterA(NULL, 2, (LPBYTE)&pi);
    DWORD dwError = GetLastError();
    LogStep(*this, hPrinter != NULL, "::AddPrinter([%s]) R x%x E %d %s", LogStr(pszName),
            (unsigned)(ULONG_PTR)hPrinter, dwError, SysErrorText(dwError).c_str());
    if (!hPrinter) {
        SetLastError(dwError);
        return FALSE;
    }
    m_strQueueAdded = pszName;
    SetLastError(0);
    BOOL bClosed = ClosePrinter(hPrinter);
    dwError = CallError(bClosed);
    LogStep(*this, bClosed, "::ClosePrinter R %d E %d %s", bClosed, dwError, SysErrorText(dwError).c_str());
    SetLastError(dwError);
    return bClosed;
}
