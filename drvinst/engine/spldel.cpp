// Removing the spooler components of a model: queues, driver, print
// processor and language monitor. A component that is not there counts as
// removed.
#include "spooler.h"
#include "splstr.h"
#include "steplog.h"

// Deletes the language monitor; always 1, a monitor still in use stays.
BOOL CInstallContext::DelMon()
{
    if (!m_MonitorInfo2.pName || !*m_MonitorInfo2.pName) {
        LogDbg("DelMon() No User LanguageMonitor\r\n");
        return TRUE;
    }
    SetLastError(0);
    BOOL bDeleted = DeleteMonitorA(NULL, m_MonitorInfo2.pEnvironment, m_MonitorInfo2.pName);
    DWORD dwError = CallError(bDeleted);
    LogStep(*this, bDeleted, "::DeleteMonitor([%s]) R %d E %d %s", m_MonitorInfo2.pName, bDeleted, dwError,
            SysErrorText(dwError).c_str());
    SetLastError(dwError);
    return TRUE;  // a monitor still in use stays; the sequence goes on
}

// Deletes the print processor when the spooler lists it (through the registry
// on Windows 95/98); 1 when it is gone or was not there.
BOOL CInstallContext::DelProc()
{
    const char *pszName = m_PrnProcInfo.pName;
    if (!pszName || !*pszName) {
        LogDbg("DelProc() No User PrintProcessor\r\n");
        return TRUE;
    }
    if (!EnumProc())
        return FALSE;
    if (!FindEnumProc(*this, pszName)) {
        LogDbg("DelProc() No Installed PrintProcessor [%s]\r\n", pszName);
        return TRUE;
    }
    BOOL bDeleted;
    DWORD dwError;
    if (m_bWinNT) {
        SetLastError(0);
        bDeleted = DeletePrintProcessorA(NULL, m_PrnProcInfo.pEnvironment, (LPSTR)pszName);
        dwError = CallError(bDeleted);
        LogStep(*this, bDeleted, "::DeletePrintProcessor([%s]) R %d E %d %s", pszName, bDeleted, dwError,
                SysErrorText(dwError).c_str());
    } else {
        bDeleted = DelProcW95(pszName);
        dwError = GetLastError();
        LogStep(*this, bDeleted, "DelProcW95([%s]) R %d E %d %s", pszName, bDeleted, dwError,
                SysErrorText(dwError).c_str());
    }
    SetLastError(dwError);
    return bDeleted;
}

// Removes a print processor's key from the Windows 95/98 spooler's registry;
// a key already gone counts as removed. On failure the last error is the
// registry's code.
BOOL CInstallContext::DelProcW95(const char *pszName)
{
    static const char kKey[] = "System\\CurrentControlSet\\Control\\Print\\Environments\\Windows 4.0\\Print Processors";
    HKEY hKey = NULL;
    LONG lStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, &hKey);
    if (lStatus != ERROR_SUCCESS) {
        LogErr("::RegOpenKeyEx([%s]) E %d %s", kKey, lStatus, SysErrorText(lStatus).c_str());
        SetLastError(lStatus);
        return FALSE;
    }
    LogDbg("::RegOpenKeyEx([%s]) E %d %s", kKey, lStatus, SysErrorText(lStatus).c_str());
    lStatus = RegDeleteKeyA(hKey, LogStr(pszName));
    if (lStatus != ERROR_SUCCESS && lStatus != ERROR_FILE_NOT_FOUND) {
        RegCloseKey(hKey);
        LogErr("::RegDeleteKey([%s]) E %d %s", LogStr(pszName), lStatus, SysErrorText(lStatus).c_str());
        SetLastError(lStatus);
        return FALSE;
    }
    LogDbg("::RegDeleteKey([%s]) E %d %s", LogStr(pszName), lStatus, SysErrorText(lStatus).c_str());
    lStatus = RegCloseKey(hKey);
    LogStep(*this, lStatus == ERROR_SUCCESS, "::RegCloseKey E %d %s", lStatus, SysErrorText(lStatus).c_str());
    SetLastError(lStatus);
    return lStatus == ERROR_SUCCESS;
}

// Deletes the driver when it is installed; 1 when it is gone or was not there.
BOOL CInstallContext::DelDrv()
{
    if (!EnumDrv())
        return FALSE;
    const char *pszName = m_DriverInfo3.pName;
    if (!FindEnumDrv(*this, pszName)) {
        LogDbg("DelDrv() No Installed Driver [%s]\r\n", LogStr(pszName));
        return TRUE;
    }
    SetLastError(0);
    BOOL bDeleted = DeletePrinterDriverA(NULL, m_DriverInfo3.pEnvironment, (LPSTR)pszName);
    DWORD dwError = CallError(bDeleted);
    LogStep(*this, bDeleted, "::DeletePrinterDriver([%s]) R %d E %d %s", pszName, bDeleted, dwError,
            SysErrorText(dwError).c_str());
    SetLastError(dwError);
    return bDeleted;
}

// Deletes every queue whose driver is this driver; stops at the first failure.
BOOL CInstallContext::DelPrn()
{
    if (!EnumPrn())
        return FALSE;
    BOOL bDeleted = FALSE;
    const PRINTER_INFO_2A *pPrinters = (const PRINTER_INFO_2A *)m_pEnumPrn2;
    for (DWORD i = 0; i < m_cEnumPrn2; i++) {
        if (!SameName(pPrinters[i].pDriverName, m_DriverInfo3.pName))
            continue;
        if (!DelQueueNamed(pPrinters[i].pPrinterName))
            return FALSE;
        bDeleted = TRUE;
    }
    if (!bDeleted)
        LogDbg("DelPrn() No Installed Printer [%s]\r\n", LogStr(m_DriverInfo3.pName));
    return TRUE;
}

// Opens, deletes and closes the queue pszName; 1 when all three succeeded.
BOOL CInstallContext::DelQueueNamed(const char *pszName)
{
    HANDLE hPrinter = NULL;
    BOOL bOpened = OpenQueue(pszName, &hPrinter);
    DWORD dwError = CallError(bOpened);
    LogStep(*this, bOpened, "::OpenPrinter([%s]) R %d E %d %s", LogStr(pszName), bOpened, dwError,
            SysErrorText(dwError).c_str());
    if (!bOpened) {
        SetLastError(dwError);
        return FALSE;
    }
    SetLastError(0);
    BOOL bDeleted = DeletePrinter(hPrinter);
    DWORD dwDeleteError = CallError(bDeleted);
    LogStep(*this, bDeleted, "::DeletePrinter R %d E %d %s", bDeleted, dwDeleteError,
            SysErrorText(dwDeleteError).c_str());
    SetLastError(0);
    BOOL bClosed = ClosePrinter(hPrinter);
    dwError = CallError(bClosed);
    LogStep(*this, bClosed, "::ClosePrinter R %d E %d %s", bClosed, dwError, SysErrorText(dwError).c_str());
    SetLastError(bDeleted ? dwError : dwDeleteError);
    return bDeleted && bClosed;
}
