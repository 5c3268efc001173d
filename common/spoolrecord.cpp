#include "spoolrecord.h"

BOOL SpoolEnumPrintersA(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    return EnumPrintersA(a->dwFlags, (LPSTR)a->pName, a->dwLevel, p, cb, pcb, pc);
}

BOOL SpoolEnumPrintersW(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    return EnumPrintersW(a->dwFlags, (LPWSTR)a->pName, a->dwLevel, p, cb, pcb, pc);
}

BOOL SpoolEnumPrinterDriversA(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    return EnumPrinterDriversA((LPSTR)a->pName, (LPSTR)a->pEnvironment, a->dwLevel, p, cb, pcb, pc);
}

BOOL SpoolEnumPrinterDriversW(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    return EnumPrinterDriversW((LPWSTR)a->pName, (LPWSTR)a->pEnvironment, a->dwLevel, p, cb, pcb, pc);
}

BOOL SpoolEnumPrintProcessorsA(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    return EnumPrintProcessorsA((LPSTR)a->pName, (LPSTR)a->pEnvironment, a->dwLevel, p, cb, pcb, pc);
}

BOOL SpoolEnumPrintProcessorsW(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    return EnumPrintProcessorsW((LPWSTR)a->pName, (LPWSTR)a->pEnvironment, a->dwLevel, p, cb, pcb, pc);
}

BOOL SpoolEnumJobsA(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    return EnumJobsA(a->hPrinter, a->dwFirstJob, a->cJobs, a->dwLevel, p, cb, pcb, pc);
}

BOOL SpoolEnumJobsW(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    return EnumJobsW(a->hPrinter, a->dwFirstJob, a->cJobs, a->dwLevel, p, cb, pcb, pc);
}

BOOL SpoolGetPrinterA(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    *pc = 1;
    return GetPrinterA(a->hPrinter, a->dwLevel, p, cb, pcb);
}

BOOL SpoolGetPrinterW(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    *pc = 1;
    return GetPrinterW(a->hPrinter, a->dwLevel, p, cb, pcb);
}

BOOL SpoolGetPrinterDriverA(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    *pc = 1;
    return GetPrinterDriverA(a->hPrinter, (LPSTR)a->pEnvironment, a->dwLevel, p, cb, pcb);
}

BOOL SpoolGetPrinterDriverW(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    *pc = 1;
    return GetPrinterDriverW(a->hPrinter, (LPWSTR)a->pEnvironment, a->dwLevel, p, cb, pcb);
}

// A zero-filled block of cb bytes plus the slack, or NULL when cb is so large
// that the sum would wrap.
static LPBYTE AllocWithSlack(DWORD cb)
{
    if (cb > MAXDWORD - SPOOL_RECORD_SLACK) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    LPBYTE pBuffer = (LPBYTE)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, cb + SPOOL_RECORD_SLACK);
    if (!pBuffer)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);  // HeapAlloc sets none
    return pBuffer;
}

// One call with the last error cleared before it and read right after it.
static BOOL Fill(PFN_SPOOLFILL pfnFill, const SpoolCallArgs *pArgs, LPBYTE pBuffer, DWORD cbBuf,
                 SpoolRecordResult *pResult)
{
    DWORD cReturned = 0;
    SetLastError(0);
    pResult->bResult = pfnFill(pArgs, pBuffer, cbBuf, &pResult->cbNeeded, &cReturned);
    pResult->dwError = GetLastError();
    pResult->cReturned = pResult->bResult ? cReturned : 0;
    return pResult->bResult;
}

LPBYTE AllocSpoolRecord(PFN_SPOOLFILL pfnFill, const SpoolCallArgs *pArgs, DWORD cbProbe,
                        SpoolRecordResult *pResult)
{
    ZeroMemory(pResult, sizeof(*pResult));
    LPBYTE pBuffer = NULL;
    if (cbProbe) {
        pBuffer = AllocWithSlack(cbProbe);
        if (!pBuffer) {
            pResult->step = SPOOL_STEP_ALLOC;
            pResult->dwError = GetLastError();
            return NULL;
        }
    }
    if (Fill(pfnFill, pArgs, pBuffer, cbProbe, pResult) && pBuffer)
        return pBuffer;  // the probe held the records already
    FreeSpoolRecord(pBuffer);
    if (!pResult->bResult && pResult->dwError != ERROR_INSUFFICIENT_BUFFER) {
        pResult->step = SPOOL_STEP_SIZE;
        return NULL;
    }
    DWORD cbNeeded = pResult->cbNeeded;
    pBuffer = AllocWithSlack(cbNeeded);
    if (!pBuffer) {
        pResult->step = SPOOL_STEP_ALLOC;
        pResult->dwError = GetLastError();
        return NULL;
    }
    if (!Fill(pfnFill, pArgs, pBuffer, cbNeeded, pResult)) {
        pResult->step = SPOOL_STEP_FILL;
        FreeSpoolRecord(pBuffer);
        return NULL;
    }
    return pBuffer;
}

void FreeSpoolRecord(LPVOID pBuffer)
{
    if (pBuffer)
        HeapFree(GetProcessHeap(), 0, pBuffer);
}
