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

// The first port of a queue's comma-separated list.
static std::string FirstPort(const char *pszQueuePorts)
{
    const char *pComma = FindCharA(pszQueuePorts, ',');
    return std::string(pszQueuePorts, pComma ? (size_t)(pComma - pszQueuePorts) : strlen(pszQueuePorts));
}

/* The model's queues, for a quiet install: *pbOnPort TRUE when a queue of the
 * model's driver (not one marked for deletion) prints to m_pPortName.
 * strKeepPort: the port an upgrade must name so that its second phase finds
 * the model's queue among its records and adds none (the second phase takes
 * a record whose port list begins with the command's port): "" when
 * m_pPortName serves, else the first port of the queue on m_pPortName
 * (pooled) or of the first queue elsewhere. FALSE after an error line when
 * the queues cannot be listed. After SetupSplInfo. */
BOOL CInstallContext::FindModelQueue(BOOL *pbOnPort, std::string &strKeepPort)
{
    *pbOnPort = FALSE;
    strKeepPort.clear();
    if (!EnumPrn())
        return FALSE;
    const PRINTER_INFO_2A *pQueues = (const PRINTER_INFO_2A *)m_pEnumPrn2;
    for (DWORD i = 0; i < m_cEnumPrn2; i++) {
        const PRINTER_INFO_2A &queue = pQueues[i];
        if (!SameName(queue.pDriverName, m_pPrinterName) || (queue.Status & PRINTER_STATUS_PENDING_DELETION))
            continue;
        if (QueueUsesPort(queue.pPortName, m_pPortName)) {
            LogDbg("Excecute() Queue [%s] of [%s] on [%s]\r\n", LogStr(queue.pPrinterName), LogStr(m_pPrinterName),
                   LogStr(queue.pPortName));
            *pbOnPort = TRUE;
            BOOL bPrefix = !StrNCmpI(queue.pPortName, m_pPortName, (int)strlen(m_pPortName));
            strKeepPort = bPrefix ? "" : FirstPort(queue.pPortName);
            return TRUE;
        }
        if (strKeepPort.empty() && queue.pPortName && *queue.pPortName)
            strKeepPort = FirstPort(queue.pPortName);
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
    std::string strKeepPort;
    char szDriver[INF_PATH_MAX];
    if (!FindModelQueue(&bOnPort, strKeepPort))
        return FALSE;
    BOOL bQueued = bOnPort || !strKeepPort.empty();
    if (DiffDriverFiles(szDriver)) {  // other files installed: the install becomes a reinstall
        m_bInstall = FALSE;
        m_bReinstall = TRUE;
    } else if (bQueued) {
        *pbDone = TRUE;
        *pbRefresh = !UninstallEntryIsCurrent(*this);
    }
    if (!strKeepPort.empty()) {
        if (!bOnPort)
            LogDbg("Excecute() [%s] has its queue on [%s], not on [%s]: kept there; /addqueue adds another\r\n",
                   LogStr(m_pPrinterName), strKeepPort.c_str(), LogStr(m_pPortName));
        SetPortName(strKeepPort.c_str());
    }
    if (*pbDone)
        LogDbg("Excecute() Already Installed [%s] on [%s]: %s\r\n", LogStr(m_pPrinterName), LogStr(m_pPortName),
               *pbRefresh ? "its files and Uninstall entry written again" : "nothing changed");
    return TRUE;
}
