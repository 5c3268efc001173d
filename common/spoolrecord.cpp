#include "spoolrecord.h"

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

LPBYTE AllocSingleSpoolRecord(PFN_SPOOLFILL pfnFill, HANDLE hPrinter, DWORD dwLevel, SpoolRecordResult *pResult)
{
    SpoolCallArgs args = {};
    args.hPrinter = hPrinter;
    args.dwLevel = dwLevel;
    LPBYTE pBuffer = AllocSpoolRecord(pfnFill, &args, 0, pResult);
    if (pBuffer && !pResult->cbNeeded) {
        FreeSpoolRecord(pBuffer);
        pResult->step = SPOOL_STEP_EMPTY;
        pResult->cReturned = 0;
        return NULL;
    }
    return pBuffer;
}

void FreeSpoolRecord(LPVOID pBuffer)
{
    if (pBuffer)
        HeapFree(GetProcessHeap(), 0, pBuffer);
}
