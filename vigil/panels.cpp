#include "panels.h"
#include <stdarg.h>
#include <stdio.h>
#include <vector>
#include "spoolrecord.h"

/* Appends printf-formatted text of any length to *pstr. */
static void Appendf(std::string *pstr, const char *pszFormat, ...)
{
    va_list args, copy;
    va_start(args, pszFormat);
    va_copy(copy, args);
    int cch = vsnprintf(NULL, 0, pszFormat, copy);
    va_end(copy);
    if (cch > 0) {
        std::vector<char> buffer(cch + 1);
        vsnprintf(buffer.data(), buffer.size(), pszFormat, args);
        pstr->append(buffer.data(), cch);
    }
    va_end(args);
}

// Null strings print as "KztNull", pointers as their low 32 bits.
static const char *Str(const char *psz) { return psz ? psz : "KztNull"; }
static unsigned Ptr(const void *p) { return (unsigned)(UINT_PTR)p; }

/* The Host Info line for the block's dwFlags (bit 0 printing, bit 1 write
 * failed), "\r\n" included. With neither bit set it is "Shutdown %d" with
 * 5 - idleCount and *pbIdle is TRUE: the caller then counts one idle tick.
 * pbIdle must not be null. */
std::string HostInfoLine(DWORD dwFlags, int idleCount, BOOL *pbIdle)
{
    *pbIdle = FALSE;
    BOOL bPrinting = (dwFlags & 1) != 0, bWriteFailed = (dwFlags & 2) != 0;
    if (bPrinting && !bWriteFailed)
        return "Printing\r\n";
    if (bPrinting)
        return "WriteError But Continuing\r\n";
    if (bWriteFailed)
        return "WriteError And Aborted\r\n";
    *pbIdle = TRUE;
    std::string line;
    Appendf(&line, "Shutdown %d\r\n", 5 - idleCount);
    return line;
}

/* The text a notification adds after the caller's time stamp, "\r\n"
 * included: wParam 1 to 4 name the event (2 and 3 with dwJobId, which the
 * caller takes from a fresh snapshot of the block); any other value shows
 * wParam and lParam. */
std::string NotificationLine(WPARAM wParam, LPARAM lParam, DWORD dwJobId)
{
    std::string line;
    switch (wParam) {
    case 1: return "OpenPortEx\r\n";
    case 2: Appendf(&line, "StartDoc JobId=%d\r\n", (int)dwJobId); return line;
    case 3: Appendf(&line, "EndDoc JobId=%d\r\n", (int)dwJobId); return line;
    case 4: return "ClosePort\r\n";
    default: Appendf(&line, "(%d,%d)\r\n", (int)wParam, (int)lParam); return line;
    }
}

/* " pDevMode->dmDeviceName [%s]" for a device mode; the name field holds 32
 * bytes that need not be terminated. */
static void AppendDeviceName(std::string *pstr, const DEVMODEA *pDevMode)
{
    if (!pDevMode)
        return;
    char szName[CCHDEVICENAME + 1];
    memcpy(szName, pDevMode->dmDeviceName, CCHDEVICENAME);
    szName[CCHDEVICENAME] = 0;
    Appendf(pstr, " pDevMode->dmDeviceName [%s]\r\n", szName);
}

/* The PRINTER_INFO_2 section of the Spool Info report. p is a record of the
 * spooler (not null; its strings may be null and print as "KztNull"); the
 * device name line follows when the record has a device mode. */
std::string FormatPrinterInfo2(const PRINTER_INFO_2A *p)
{
    std::string text;
    Appendf(&text,
            "GetPrinter PRNTER_INFO_2\r\n pServerName [%s]\r\n pPrinterName [%s]\r\n pShareName [%s]\r\n"
            " pPortName [%s]\r\n pDriverName [%s]\r\n pComment [%s]\r\n pLocation [%s]\r\n pDevMode x%x\r\n"
            " pSepFile [%s]\r\n pPrintProcessor [%s]\r\n pDatatype [%s]\r\n pParameters [%s]\r\n"
            " pSecurityDescriptor x%x\r\n Attributes %d\r\n Priority %d\r\n DefaultPriority %d\r\n"
            " StartTime %d\r\n UntilTime %d\r\n Status %d\r\n cJobs %d\r\n AveragePPM %d\r\n",
            Str(p->pServerName), Str(p->pPrinterName), Str(p->pShareName), Str(p->pPortName), Str(p->pDriverName),
            Str(p->pComment), Str(p->pLocation), Ptr(p->pDevMode), Str(p->pSepFile), Str(p->pPrintProcessor),
            Str(p->pDatatype), Str(p->pParameters), Ptr(p->pSecurityDescriptor), (int)p->Attributes,
            (int)p->Priority, (int)p->DefaultPriority, (int)p->StartTime, (int)p->UntilTime, (int)p->Status,
            (int)p->cJobs, (int)p->AveragePPM);
    AppendDeviceName(&text, p->pDevMode);
    return text;
}

/* The PRINTER_INFO_5 section of the Spool Info report; p is not null, its
 * strings may be. */
std::string FormatPrinterInfo5(const PRINTER_INFO_5A *p)
{
    std::string text;
    Appendf(&text,
            "GetPrinter PRNTER_INFO_5\r\n pPrinterName [%s]\r\n pPortName [%s]\r\n Attributes %d\r\n"
            " DeviceNotSelectedTimeout %d\r\n TransmissionRetryTimeout %d\r\n",
            Str(p->pPrinterName), Str(p->pPortName), (int)p->Attributes, (int)p->DeviceNotSelectedTimeout,
            (int)p->TransmissionRetryTimeout);
    return text;
}

/* The JOB_INFO_2 section of the Spool Info report (without the submission
 * time); j is not null, its strings may be. The device name line follows
 * when the job has a device mode. */
std::string FormatJobInfo2(const JOB_INFO_2A *j)
{
    std::string text;
    Appendf(&text,
            "GetJob JOB_INFO_2\r\n JobId %d\r\n pPrinterName [%s]\r\n pMachineName [%s]\r\n pUserName [%s]\r\n"
            " pDocument [%s]\r\n pNotifyName [%s]\r\n pDatatype [%s]\r\n pPrintProcessor [%s]\r\n"
            " pParameters [%s]\r\n pDriverName [%s]\r\n pDevMode x%x\r\n pStatus [%s]\r\n"
            " pSecurityDescriptor x%x\r\n Status %d\r\n Priority %d\r\n Position %d\r\n StartTime %d\r\n"
            " UntilTime %d\r\n TotalPages %d\r\n Size %d\r\n Time %d\r\n PagesPrinted %d\r\n",
            (int)j->JobId, Str(j->pPrinterName), Str(j->pMachineName), Str(j->pUserName), Str(j->pDocument),
            Str(j->pNotifyName), Str(j->pDatatype), Str(j->pPrintProcessor), Str(j->pParameters),
            Str(j->pDriverName), Ptr(j->pDevMode), Str(j->pStatus), Ptr(j->pSecurityDescriptor), (int)j->Status,
            (int)j->Priority, (int)j->Position, (int)j->StartTime, (int)j->UntilTime, (int)j->TotalPages,
            (int)j->Size, (int)j->Time, (int)j->PagesPrinted);
    AppendDeviceName(&text, j->pDevMode);
    return text;
}

/* The last of the cJobs records whose Status has JOB_STATUS_PRINTING, as a
 * pointer into the caller's pJobs, or null (also for a null pJobs). */
const JOB_INFO_2A *FindPrintingJob(const JOB_INFO_2A *pJobs, DWORD cJobs)
{
    const JOB_INFO_2A *pFound = NULL;
    for (DWORD i = 0; pJobs && i < cJobs; ++i)
        if (pJobs[i].Status & JOB_STATUS_PRINTING)
            pFound = &pJobs[i];
    return pFound;
}

/* The Spool Info report for an open printer handle (the caller's; not closed
 * here): PRINTER_INFO_2, PRINTER_INFO_5, then the printing job among the
 * first cJobs jobs. A failed query leaves its section out silently; the
 * time line is the caller's. */
std::string SpoolInfoReport(HANDLE hPrinter)
{
    std::string text;
    SpoolRecordResult r;
    DWORD cJobs = 0;
    if (LPBYTE pRecord = AllocSingleSpoolRecord(SpoolGetPrinterA, hPrinter, 2, &r)) {
        const PRINTER_INFO_2A *pInfo = (const PRINTER_INFO_2A *)pRecord;
        text += FormatPrinterInfo2(pInfo);
        cJobs = pInfo->cJobs;
        FreeSpoolRecord(pRecord);
    }
    if (LPBYTE pRecord = AllocSingleSpoolRecord(SpoolGetPrinterA, hPrinter, 5, &r)) {
        text += FormatPrinterInfo5((const PRINTER_INFO_5A *)pRecord);
        FreeSpoolRecord(pRecord);
    }
    SpoolCallArgs args = {};
    args.hPrinter = hPrinter;
    args.cJobs = cJobs;
    args.dwLevel = 2;
    if (LPBYTE pRecord = AllocSpoolRecord(SpoolEnumJobsA, &args, 0, &r)) {
        const JOB_INFO_2A *pJob = FindPrintingJob((const JOB_INFO_2A *)pRecord, r.cReturned);
        if (pJob)
            text += FormatJobInfo2(pJob);
        FreeSpoolRecord(pRecord);
    }
    return text;
}
