// Stand-in print processor of the sample driver package (KZTTZPP.DLL): the
// package's print processor is not ours. A plain RAW print processor: the
// spooler opens it for a job, it reads the job's spooled bytes through a job
// handle and writes them unchanged to the printer it was opened for.
// Every call the spooler makes is recorded, one line each, in the file
// %TEMP%\KZTTZPP.log, so that a test can see what the spooler called.
#include <windows.h>
#include <winspool.h>
#include <winsplp.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

namespace {

const DWORD kMagic = 0x5050545a;  // "ZTPP": marks a live processor handle
const DWORD kBlock = 4096;        // bytes read from the job and written at a time

// What OpenPrintProcessor keeps for the job; the processor handle points here.
struct PrintProc {
    DWORD dwMagic;          // kMagic while open, 0 once closed
    DWORD JobId;            // the job the spooler opened us for
    WCHAR *pPrinterName;    // where the bytes go, as the spooler named it
    WCHAR *pQueueName;      // the queue that holds the job
    WCHAR *pDocumentName;   // the job's document name, for StartDocPrinter
    WCHAR *pOutputFile;     // the job's output file, or NULL
    HANDLE hRunning;        // manual-reset event: set unless the job is paused
    volatile LONG bCancel;  // set by JOB_CONTROL_CANCEL
};

WCHAR *Dup(const WCHAR *p)
{
    return p ? _wcsdup(p) : NULL;
}

const WCHAR *Show(const WCHAR *p)
{
    return p ? p : L"(null)";
}

// Appends one line to the record file; keeps the caller's last error.
void Record(const WCHAR *format, ...)
{
    DWORD dwError = GetLastError();
    WCHAR line[1024];
    va_list args;
    va_start(args, format);
    _vsnwprintf(line, 1022, format, args);
    va_end(args);
    line[1021] = 0;
    wcscat(line, L"\r\n");
    char text[2048];
    int cb = WideCharToMultiByte(CP_ACP, 0, line, -1, text, sizeof(text), NULL, NULL);
    WCHAR path[MAX_PATH];
    DWORD cch = GetTempPathW(MAX_PATH - 16, path);
    if (cb > 1 && cch && cch < MAX_PATH - 16) {
        wcscat(path, L"KZTTZPP.log");
        HANDLE h = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS, 0, NULL);
        if (h != INVALID_HANDLE_VALUE) {
            DWORD cbWritten = 0;
            WriteFile(h, text, cb - 1, &cbWritten, NULL);
            CloseHandle(h);
        }
    }
    SetLastError(dwError);
}

// The live processor behind a handle, or NULL with ERROR_INVALID_HANDLE.
PrintProc *FromHandle(HANDLE hPrintProcessor)
{
    PrintProc *pp = (PrintProc *)hPrintProcessor;
    if (!pp || pp->dwMagic != kMagic) {
        SetLastError(ERROR_INVALID_HANDLE);
        return NULL;
    }
    return pp;
}

void Free(PrintProc *pp)
{
    if (pp->hRunning)
        CloseHandle(pp->hRunning);
    free(pp->pPrinterName);
    free(pp->pQueueName);
    free(pp->pDocumentName);
    free(pp->pOutputFile);
    pp->dwMagic = 0;
    free(pp);
}

// Copies the job's bytes from hJob to hOut, block by block, until ReadPrinter
// gives none; waits while the job is paused and stops when it is cancelled.
// Returns the error that stopped it (ERROR_SUCCESS at the job's end); *pcb
// counts the bytes written.
DWORD CopyJob(PrintProc *pp, HANDLE hJob, HANDLE hOut, DWORD *pcb)
{
    BYTE buf[kBlock];
    for (;;) {
        WaitForSingleObject(pp->hRunning, INFINITE);
        if (pp->bCancel)
            return ERROR_PRINT_CANCELLED;
        DWORD cbRead = 0;
        if (!ReadPrinter(hJob, buf, sizeof(buf), &cbRead))
            return GetLastError();
        if (!cbRead)
            return ERROR_SUCCESS;
        DWORD cbWritten = 0;
        if (!WritePrinter(hOut, buf, cbRead, &cbWritten))
            return GetLastError();
        *pcb += cbWritten;
        if (cbWritten != cbRead)
            return ERROR_WRITE_FAULT;
    }
}

}  // namespace

// The data types the processor takes: one DATATYPES_INFO_1W record, "RAW",
// with its text behind it, in pDatatypes (cbBuf bytes). *pcbNeeded gets the
// size needed, *pcReturned the count (0 on failure). Level 1 only.
extern "C" __declspec(dllexport) BOOL WINAPI EnumPrintProcessorDatatypesW(LPWSTR pName, LPWSTR pPrintProcessorName,
                                                                          DWORD Level, LPBYTE pDatatypes, DWORD cbBuf,
                                                                          LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    static const WCHAR kRaw[] = L"RAW";
    Record(L"EnumPrintProcessorDatatypesW [%ls] [%ls] %lu %lu", Show(pName), Show(pPrintProcessorName), Level, cbBuf);
    if (!pcbNeeded || !pcReturned) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *pcReturned = 0;
    *pcbNeeded = sizeof(DATATYPES_INFO_1W) + sizeof(kRaw);
    if (Level != 1) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if (!pDatatypes || cbBuf < *pcbNeeded) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    DATATYPES_INFO_1W *pInfo = (DATATYPES_INFO_1W *)pDatatypes;
    pInfo->pName = (LPWSTR)(pInfo + 1);
    memcpy(pInfo->pName, kRaw, sizeof(kRaw));
    *pcReturned = 1;
    return TRUE;
}

// Readies the processor for one job: pPrinterName is where the bytes go (the
// name OpenPrinterW opens), pOpenData the job (RAW only, its id, its queue,
// document and output file). Returns a handle for PrintDocumentOnPrintProcessor,
// ControlPrintProcessor and ClosePrintProcessor, or NULL with the error.
extern "C" __declspec(dllexport) HANDLE WINAPI OpenPrintProcessor(LPWSTR pPrinterName,
                                                                 PPRINTPROCESSOROPENDATA pOpenData)
{
    if (!pOpenData) {
        Record(L"OpenPrintProcessor [%ls] (no open data)", Show(pPrinterName));
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    Record(L"OpenPrintProcessor [%ls] [%ls] %lu [%ls] [%ls] [%ls] [%ls] devmode %ls", Show(pPrinterName),
           Show(pOpenData->pDatatype), pOpenData->JobId, Show(pOpenData->pPrinterName),
           Show(pOpenData->pDocumentName), Show(pOpenData->pOutputFile), Show(pOpenData->pParameters),
           pOpenData->pDevMode ? L"yes" : L"no");
    if (!pPrinterName || !pOpenData->pPrinterName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    if (!pOpenData->pDatatype || _wcsicmp(pOpenData->pDatatype, L"RAW")) {
        SetLastError(ERROR_INVALID_DATATYPE);
        return NULL;
    }
    PrintProc *pp = (PrintProc *)calloc(1, sizeof(PrintProc));
    if (!pp) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    pp->dwMagic = kMagic;
    pp->JobId = pOpenData->JobId;
    pp->pPrinterName = Dup(pPrinterName);
    pp->pQueueName = Dup(pOpenData->pPrinterName);
    pp->pDocumentName = Dup(pOpenData->pDocumentName);
    pp->pOutputFile = Dup(pOpenData->pOutputFile);
    pp->hRunning = CreateEventW(NULL, TRUE, TRUE, NULL);
    if (!pp->pPrinterName || !pp->pQueueName || !pp->hRunning || (pOpenData->pDocumentName && !pp->pDocumentName) ||
        (pOpenData->pOutputFile && !pp->pOutputFile)) {
        Free(pp);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    return (HANDLE)pp;
}

// Prints the job: opens it as "<queue>, Job <id>" and reads it with
// ReadPrinter, and writes every block with WritePrinter to the printer named
// at OpenPrintProcessor, between StartDocPrinterW and EndDocPrinter.
// pDocumentName is the spooler's name of the job. Returns FALSE with the
// error that stopped it (ERROR_PRINT_CANCELLED after a cancel).
extern "C" __declspec(dllexport) BOOL WINAPI PrintDocumentOnPrintProcessor(HANDLE hPrintProcessor, LPWSTR pDocumentName)
{
    PrintProc *pp = FromHandle(hPrintProcessor);
    if (!pp) {
        Record(L"PrintDocumentOnPrintProcessor [%ls] invalid handle", Show(pDocumentName));
        return FALSE;
    }
    WCHAR jobName[512];
    _snwprintf(jobName, 511, L"%ls, Job %lu", pp->pQueueName, pp->JobId);
    jobName[511] = 0;
    HANDLE hJob = NULL, hOut = NULL;
    BOOL bStarted = FALSE;
    DWORD dwError = ERROR_SUCCESS, cb = 0;
    DOC_INFO_1W doc = {pp->pDocumentName, pp->pOutputFile, (LPWSTR)L"RAW"};

    if (!OpenPrinterW(jobName, &hJob, NULL) || !OpenPrinterW(pp->pPrinterName, &hOut, NULL)) {
        dwError = GetLastError();
        goto Cleanup;
    }
    if (!StartDocPrinterW(hOut, 1, (LPBYTE)&doc)) {
        dwError = GetLastError();
        goto Cleanup;
    }
    bStarted = TRUE;
    dwError = CopyJob(pp, hJob, hOut, &cb);

Cleanup:
    if (bStarted && !EndDocPrinter(hOut) && dwError == ERROR_SUCCESS)
        dwError = GetLastError();
    if (hOut)
        ClosePrinter(hOut);
    if (hJob)
        ClosePrinter(hJob);
    Record(L"PrintDocumentOnPrintProcessor [%ls] job [%ls] E %lu bytes %lu", Show(pDocumentName), jobName, dwError,
           cb);
    SetLastError(dwError);
    return dwError == ERROR_SUCCESS;
}

// Pauses (JOB_CONTROL_PAUSE), resumes (JOB_CONTROL_RESUME) or cancels
// (JOB_CONTROL_CANCEL) the job of an open processor; may come from another
// thread while PrintDocumentOnPrintProcessor runs. Other commands:
// ERROR_INVALID_PARAMETER.
extern "C" __declspec(dllexport) BOOL WINAPI ControlPrintProcessor(HANDLE hPrintProcessor, DWORD Command)
{
    Record(L"ControlPrintProcessor %lu", Command);
    PrintProc *pp = FromHandle(hPrintProcessor);
    if (!pp)
        return FALSE;
    switch (Command) {
    case JOB_CONTROL_PAUSE:
        ResetEvent(pp->hRunning);
        return TRUE;
    case JOB_CONTROL_CANCEL:
        InterlockedExchange(&pp->bCancel, TRUE);
        SetEvent(pp->hRunning);
        return TRUE;
    case JOB_CONTROL_RESUME:
        SetEvent(pp->hRunning);
        return TRUE;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
}

// Ends the processor's life: the handle is invalid afterwards.
extern "C" __declspec(dllexport) BOOL WINAPI ClosePrintProcessor(HANDLE hPrintProcessor)
{
    Record(L"ClosePrintProcessor");
    PrintProc *pp = FromHandle(hPrintProcessor);
    if (!pp)
        return FALSE;
    Free(pp);
    return TRUE;
}

// The processor offers no capabilities (copies, n-up, page order).
extern "C" __declspec(dllexport) DWORD WINAPI GetPrintProcessorCapabilities(LPWSTR pValueName, DWORD dwAttributes,
                                                                            LPBYTE pData, DWORD nSize,
                                                                            LPDWORD pcbNeeded)
{
    Record(L"GetPrintProcessorCapabilities [%ls] %lu %lu", Show(pValueName), dwAttributes, nSize);
    return ERROR_NOT_SUPPORTED;
}
