// A quiet install run again: deployment tools repeat an install whenever
// their detection misses, and each repeat must not add a queue.
#include "installcontext.h"
#include "restart.h"
#include "spooler.h"
#include "splstr.h"
#include <string.h>

// Whether pszPort is one of the comma-separated ports of a queue (a pooled
// queue prints to several), names compared without regard to case.
static BOOL QueueUsesPort(const char *pszQueuePorts, const char *pszPort)
{
    if (!pszQueuePorts || !pszPort || !*pszPort)
        return FALSE;
    size_t cchPort = strlen(pszPort);
    for (const char *p = pszQueuePorts; *p;) {
        const char *pEnd = FindCharA(p, ',');
        size_t cch = pEnd ? (size_t)(pEnd - p) : strlen(p);
        if (cch == cchPort && !StrNCmpI(p, pszPort, (int)cch))
            return TRUE;
        if (!pEnd)
            break;
        p = pEnd + 1;
    }
    return FALSE;
}

/* The model's queues, for a quiet install: *pbOnPort TRUE when a queue of the
 * model's driver (not one marked for deletion) prints to m_pPortName;
 * strOtherPort the port of the first such queue elsewhere ("" for none), when
 * none is on m_pPortName. FALSE after an error line when the queues cannot be
 * listed. After SetupSplInfo. */
BOOL CInstallContext::FindModelQueue(BOOL *pbOnPort, std::string &strOtherPort)
{
    *pbOnPort = FALSE;
    strOtherPort.clear();
    if (!EnumPrn())
        return FALSE;
    const PRINTER_INFO_2A *pQueues = (const PRINTER_INFO_2A *)m_pEnumPrn2;
    for (DWORD i = 0; i < m_cEnumPrn2; i++) {
        const PRINTER_INFO_2A &queue = pQueues[i];
        if (!SameName(queue.pDriverName, m_pPrinterName) || (queue.Status & PRINTER_STATUS_PENDING_DELETION))
            continue;
        if (QueueUsesPort(queue.pPortName, m_pPortName)) {
            LogDbg("Excecute() Queue [%s] of [%s] on [%s]\r\n", LogStr(queue.pPrinterName), LogStr(m_pPrinterName),
                   LogStr(m_pPortName));
            *pbOnPort = TRUE;
            strOtherPort.clear();
            return TRUE;
        }
        if (strOtherPort.empty() && queue.pPortName) {
            const char *pComma = FindCharA(queue.pPortName, ',');
            strOtherPort.assign(queue.pPortName, pComma ? (size_t)(pComma - queue.pPortName) : strlen(queue.pPortName));
        }
    }
    return TRUE;
}

/* A quiet install without "/addqueue" (m_bQuiet, not the generic USB port),
 * after EnumDrv: decides what the install still has to do. *pbDone TRUE,
 * after "Excecute() Already Installed" (DBG), when the model has its queue
 * (on m_pPortName, or elsewhere: it is installed) and the installed driver
 * files are the package's; *pbRefresh TRUE as well when the Uninstall entry
 * names another version than the INF, whose files and entry the install then
 * writes again, adding no queue. Other files installed turn it into a
 * reinstall (m_bReinstall), the upgrade; a model whose queue is on another
 * port keeps it there (m_pPortName becomes that port, so that the second
 * phase adds none). FALSE after an error line. */
BOOL CInstallContext::CheckRepeatedInstall(BOOL *pbDone, BOOL *pbRefresh)
{
    *pbDone = *pbRefresh = FALSE;
    BOOL bOnPort = FALSE;
    std::string strOtherPort;
    char szDriver[INF_PATH_MAX];
    if (!FindModelQueue(&bOnPort, strOtherPort))
        return FALSE;
    BOOL bQueued = bOnPort || !strOtherPort.empty();
    if (DiffDriverFiles(szDriver)) {  // other files installed: the install becomes a reinstall
        m_bInstall = FALSE;
        m_bReinstall = TRUE;
    } else if (bQueued) {
        *pbDone = TRUE;
        *pbRefresh = !UninstallEntryIsCurrent(*this);
    }
    if (!strOtherPort.empty()) {
        LogDbg("Excecute() [%s] has its queue on [%s], not on [%s]: kept there; /addqueue adds another\r\n",
               LogStr(m_pPrinterName), strOtherPort.c_str(), LogStr(m_pPortName));
        SetPortName(strOtherPort.c_str());
    }
    if (*pbDone)
        LogDbg("Excecute() Already Installed [%s] on [%s]: %s\r\n", LogStr(m_pPrinterName), LogStr(m_pPortName),
               *pbRefresh ? "its files and Uninstall entry written again" : "nothing changed");
    return TRUE;
}
