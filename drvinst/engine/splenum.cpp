// The spooler's lists of print processors, drivers and queues; which driver
// uses a file; the list of queues that use this driver.
#include "spooler.h"
#include "splstr.h"
#include "spoolrecord.h"
#include <string.h>

BOOL SameName(const char *psz1, const char *psz2)
{
    return psz1 && psz2 && !StrCmpI(psz1, psz2);
}

BOOL OpenQueue(const char *pszName, HANDLE *phPrinter)
{
    PRINTER_DEFAULTSA defaults = {(LPSTR) "RAW", NULL, PRINTER_ALL_ACCESS};
    *phPrinter = NULL;
    SetLastError(0);
    return OpenPrinterA((LPSTR)pszName, phPrinter, &defaults);
}

// One refresh of an enumeration buffer: the previous buffer is freed, the
// records are read for the local spooler and the current environment, and
// each step is logged with pszCall ("::EnumPrinters R %d E %d %s") or, for
// want of memory, pszNoMemory.
static BOOL EnumRecords(CInstallContext &ctx, PFN_SPOOLFILL pfnFill, DWORD dwFlags, DWORD dwLevel,
                        LPBYTE &pBuffer, DWORD &cRecords, const char *pszCall, const char *pszNoMemory)
{
    FreeSpoolRecord(pBuffer);
    pBuffer = NULL;
    cRecords = 0;
    SpoolCallArgs args = {};
    args.dwFlags = dwFlags;
    args.dwLevel = dwLevel;
    SpoolRecordResult result;
    pBuffer = AllocSpoolRecord(pfnFill, &args, 0, &result);
    if (result.step == SPOOL_STEP_ALLOC)
        ctx.LogErr("%s", pszNoMemory);
    else if (pBuffer)
        ctx.LogDbg(pszCall, result.bResult, 0, SysErrorText(0).c_str());
    else
        ctx.LogErr(pszCall, result.bResult, result.dwError, SysErrorText(result.dwError).c_str());
    if (!pBuffer) {
        SetLastError(result.dwError);
        return FALSE;
    }
    cRecords = result.cReturned;
    return TRUE;
}

// EnumProc, EnumDrv, EnumPrn: refresh m_pEnumProc1 (level 1), m_pEnumDrv3
// (level 3), m_pEnumPrn2 (level 2, local queues) and their counts. 0 on
// failure, with the count 0 and the buffer NULL.
BOOL CInstallContext::EnumProc()
{
    return EnumRecords(*this, SpoolEnumPrintProcessorsA, 0, 1, m_pEnumProc1, m_cEnumProc1,
                       "::EnumPrintProcessors R %d E %d %s", "EnumProc() m_pEnumProc1\r\n");
}

BOOL CInstallContext::EnumDrv()
{
    return EnumRecords(*this, SpoolEnumPrinterDriversA, 0, 3, m_pEnumDrv3, m_cEnumDrv3,
                       "::EnumPrinterDrivers R %d E %d %s", "EnumDrv() m_pEnumDrv3\r\n");
}

BOOL CInstallContext::EnumPrn()
{
    return EnumRecords(*this, SpoolEnumPrintersA, PRINTER_ENUM_LOCAL, 2, m_pEnumPrn2, m_cEnumPrn2,
                       "::EnumPrinters R %d E %d %s", "EnumPrn() m_pEnumPrn2\r\n");
}

// The first of a driver's file strings that holds pszFile: the four main
// files, then each entry of the dependent-file list.
static const char *FindFileOfDriver(const DRIVER_INFO_3A &di, const char *pszFile)
{
    const char *apszMain[] = {di.pDriverPath, di.pDataFile, di.pConfigFile, di.pHelpFile};
    for (const char *psz : apszMain) {
        if (psz && StrStrI(psz, pszFile))
            return psz;
    }
    for (const char *psz = di.pDependentFiles; psz && *psz; psz += strlen(psz) + 1) {
        if (StrStrI(psz, pszFile))
            return psz;
    }
    return NULL;
}

// The first string of an installed driver (in m_pEnumDrv3, which the caller
// refreshes) that holds pszFile, or NULL; pszName (cbName bytes) receives the
// name of the driver looked at last. The string lives as long as the list.
const char *CInstallContext::FindUsingDriver(const char *pszFile, char *pszName, DWORD cbName)
{
    if (!pszFile)
        return NULL;
    const DRIVER_INFO_3A *pDrivers = (const DRIVER_INFO_3A *)m_pEnumDrv3;
    for (DWORD i = 0; i < m_cEnumDrv3; i++) {
        // The name is only reported; one that does not fit is left out, never
        // cut. That is no failure: the search goes on, so a DBG line.
        const char *pszDriver = pDrivers[i].pName ? pDrivers[i].pName : "";
        if (strlen(pszDriver) < cbName) {
            lstrcpyA(pszName, pszDriver);
        } else {
            LogDbg("FindUsingDriver() Length\r\n");
            if (cbName)
                pszName[0] = 0;
        }
        if (const char *pszFound = FindFileOfDriver(pDrivers[i], pszFile))
            return pszFound;
    }
    return NULL;
}

// Appends a node with copies of the three strings to m_pDrvingLink; NULL
// (logged) when a string is missing or memory is short.
DrvingLink *CInstallContext::AddDrvingLink(const char *pszPrinter, const char *pszPort, const char *pszDriver)
{
    DrvingLink *pLink = (DrvingLink *)AllocSplMem(sizeof(DrvingLink));
    if (!pLink) {
        LogErr("AddDrvingLink() AllocSplMem\r\n");
        return NULL;
    }
    pLink->pPrinterName = AllocSplStr(pszPrinter);
    pLink->pPortName = AllocSplStr(pszPort);
    pLink->pDriverName = AllocSplStr(pszDriver);
    if (!pLink->pPrinterName || !pLink->pPortName || !pLink->pDriverName) {
        FreeSplStr(pLink->pPrinterName);
        FreeSplStr(pLink->pPortName);
        FreeSplStr(pLink->pDriverName);
        FreeSplMem(pLink);
        LogErr("AddDrvingLink() AllocSplStr\r\n");
        return NULL;
    }
    DrvingLink **ppTail = &m_pDrvingLink;
    while (*ppTail)
        ppTail = &(*ppTail)->pNext;
    *ppTail = pLink;
    return pLink;
}

// Rebuilds m_pDrvingLink from the installed queues whose driver's driver
// file has the file name of this model's, in the spooler's order.
BOOL CInstallContext::ListDrvingLink()
{
    if (!EnumPrn() || !EnumDrv())
        return FALSE;
    FreeDrvingLink();
    const PRINTER_INFO_2A *pPrinters = (const PRINTER_INFO_2A *)m_pEnumPrn2;
    for (DWORD i = 0; i < m_cEnumPrn2; i++) {
        const PRINTER_INFO_2A &queue = pPrinters[i];
        if (!queue.pDriverName) {
            LogErr("ListDrvingLink() pDriverName\r\n");
            return FALSE;
        }
        const DRIVER_INFO_3A *pDriver = FindEnumDrv(*this, queue.pDriverName);
        if (!pDriver)
            continue;  // its driver is not installed
        if (!pDriver->pDriverPath) {
            LogErr("ListDrvingLink() pDriverPath\r\n");
            return FALSE;
        }
        const char *pszFile = FindLastCharA(pDriver->pDriverPath, '\\');
        pszFile = pszFile ? pszFile + 1 : pDriver->pDriverPath;
        if (SameName(pszFile, m_DriverInfo3.pDriverPath) &&
            !AddDrvingLink(queue.pPrinterName, queue.pPortName, queue.pDriverName))
            return FALSE;
    }
    return TRUE;
}
