// A quiet install run again: deployment tools repeat an install whenever
// their detection misses, and each repeat must not add a queue.
#include "installcontext.h"
#include "spooler.h"
#include "splstr.h"

/* The model's queue for a quiet install: *pbOnPort TRUE when a queue of the
 * model's driver (not one marked for deletion) is on m_pPortName; TRUE,
 * *pbOnPort FALSE, when the model has no queue. FALSE after an error line
 * when the queues cannot be listed, or when the model's queue is on another
 * port: a further queue needs "/addqueue". After SetupSplInfo. */
BOOL CInstallContext::FindModelQueue(BOOL *pbOnPort)
{
    *pbOnPort = FALSE;
    if (!EnumPrn())
        return FALSE;
    const PRINTER_INFO_2A *pQueues = (const PRINTER_INFO_2A *)m_pEnumPrn2;
    const PRINTER_INFO_2A *pOther = NULL;
    for (DWORD i = 0; i < m_cEnumPrn2; i++) {
        const PRINTER_INFO_2A &queue = pQueues[i];
        if (!SameName(queue.pDriverName, m_pPrinterName) || (queue.Status & PRINTER_STATUS_PENDING_DELETION))
            continue;
        if (SameName(queue.pPortName, m_pPortName)) {
            LogDbg("Excecute() Queue [%s] of [%s] on [%s]\r\n", LogStr(queue.pPrinterName), LogStr(m_pPrinterName),
                   LogStr(m_pPortName));
            *pbOnPort = TRUE;
            return TRUE;
        }
        pOther = pOther ? pOther : &queue;
    }
    if (!pOther)
        return TRUE;
    LogErr("Excecute() [%s] has the queue [%s] on [%s]: nothing changed; /addqueue adds another on [%s]\r\n",
           LogStr(m_pPrinterName), LogStr(pOther->pPrinterName), LogStr(pOther->pPortName), LogStr(m_pPortName));
    return FALSE;
}
