// The per-job filter library: loaded at StartDoc, fed by Write, drained to
// the port after every Write and after "Flush" at EndDoc, freed at EndDoc.
#include "jobtap.h"

static void ClearFilter(IniPort *pIniPort)
{
    pIniPort->hFilter = NULL;
    pIniPort->pfnFilterOpen = NULL;
    pIniPort->pfnFilterRead = NULL;
    pIniPort->pfnFilterWrite = NULL;
    pIniPort->pfnFilterFlush = NULL;
    pIniPort->pfnFilterClose = NULL;
}

static void FreeFilterBuffer(IniPort *pIniPort)
{
    FreeSplMem(pIniPort->pFilterBuffer);
    pIniPort->pFilterBuffer = NULL;
    pIniPort->cbFilterAlloc = 0;
}

/* Loads the " Filter" library of the port's printer, if one is configured and
 * has all five exports; otherwise the job runs unfiltered. */
void LoadFilter(IniPort *pIniPort)
{
    ClearFilter(pIniPort);
    pIniPort->cbFilterBuffer = 0;
    FreeFilterBuffer(pIniPort);

    LPWSTR pszPath = Regstr(pIniPort, L" Filter");
    if (!pszPath)
        return;
    HMODULE hModule = LoadLibraryW(pszPath);
    DWORD dwError = GetLastError();
    if (!hModule) {
        LogErr(L"Start LoadLibrary([%s]) R x%x E %d", pszPath, 0, dwError);
        FreeSplMem(pszPath);
        return;
    }
    LogDbg(L"Start LoadLibrary([%s]) R x%x E %d", pszPath, LP(hModule), dwError);
    FreeSplMem(pszPath);

    pIniPort->hFilter = hModule;
    pIniPort->pfnFilterOpen = (PFN_FILTER_OPEN)GetProcAddress(hModule, "Open");
    pIniPort->pfnFilterRead = (PFN_FILTER_READ)GetProcAddress(hModule, "Read");
    pIniPort->pfnFilterWrite = (PFN_FILTER_WRITE)GetProcAddress(hModule, "Write");
    pIniPort->pfnFilterFlush = (PFN_FILTER_FLUSH)GetProcAddress(hModule, "Flush");
    pIniPort->pfnFilterClose = (PFN_FILTER_CLOSE)GetProcAddress(hModule, "Close");
    BOOL bComplete = pIniPort->pfnFilterOpen && pIniPort->pfnFilterRead &&
                     pIniPort->pfnFilterWrite && pIniPort->pfnFilterFlush &&
                     pIniPort->pfnFilterClose;
    (bComplete ? LogDbg : LogErr)(L"Start GetProcAddress Open x%x Read x%x Write x%x Flush x%x Close x%x",
                                  LP(pIniPort->pfnFilterOpen), LP(pIniPort->pfnFilterRead),
                                  LP(pIniPort->pfnFilterWrite), LP(pIniPort->pfnFilterFlush),
                                  LP(pIniPort->pfnFilterClose));
    if (!bComplete) {
        BOOL bOk = FreeLibrary(hModule);
        dwError = GetLastError();
        (bOk ? LogDbg : LogErr)(L"Start FreeLibrary R %d E %d", bOk, dwError);
        ClearFilter(pIniPort);
    }
}

/* Calls "Close" and frees the library and the drain buffer. */
void UnloadFilter(IniPort *pIniPort)
{
    FreeFilterBuffer(pIniPort);
    pIniPort->pfnFilterClose();
    BOOL bOk = FreeLibrary(pIniPort->hFilter);
    DWORD dwError = GetLastError();
    LogDbg(L"End FreeLibrary R %d E %d", bOk, dwError);
    ClearFilter(pIniPort);
}

/* Writes all of pb to the port. A write that succeeds without progress would
 * loop forever; it fails the drain with ERROR_WRITE_FAULT instead. */
static BOOL WriteAllToPort(IniPort *pIniPort, LPBYTE pb, DWORD cb, LPCWSTR pszLogFormat)
{
    while (cb) {
        DWORD cbWritten = 0;
        BOOL bOk = pIniPort->Monitor.pfnWritePort(pIniPort->hPort, pb, cb, &cbWritten);
        DWORD dwError = GetLastError();
        LogDbg(pszLogFormat, cb, cbWritten, bOk, dwError);
        if (bOk && cbWritten == 0) {
            bOk = FALSE;
            dwError = ERROR_WRITE_FAULT;
        }
        if (!bOk) {
            SetLastError(dwError);
            return FALSE;
        }
        if (cbWritten > cb)
            cbWritten = cb;
        pb += cbWritten;
        cb -= cbWritten;
    }
    return TRUE;
}

/* Reads everything the filter has ready and writes it to the port, through
 * a buffer of the job's largest write size. The buffer is allocated when the
 * largest write grows and kept until the job ends, so a job of equal writes
 * allocates once. FALSE with the last error set when a port write fails or
 * no memory. */
BOOL FilterDrain(IniPort *pIniPort, LPCWSTR pszLogFormat)
{
    if (!pIniPort->pFilterBuffer || pIniPort->cbFilterAlloc < pIniPort->cbFilterBuffer) {
        FreeFilterBuffer(pIniPort);
        pIniPort->pFilterBuffer = (LPBYTE)AllocSplMem(pIniPort->cbFilterBuffer);
        if (!pIniPort->pFilterBuffer) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return FALSE;
        }
        pIniPort->cbFilterAlloc = pIniPort->cbFilterBuffer;
    }
    BOOL bOk = TRUE;
    for (;;) {
        DWORD cbRead = 0;
        if (!pIniPort->pfnFilterRead(pIniPort->pFilterBuffer, pIniPort->cbFilterBuffer, &cbRead)) {
            if (GetLastError() == 0)
                SetLastError(ERROR_READ_FAULT);
            bOk = FALSE;
            break;
        }
        if (cbRead == 0)
            break;
        if (cbRead > pIniPort->cbFilterBuffer)
            cbRead = pIniPort->cbFilterBuffer;   // never send past the buffer
        bOk = WriteAllToPort(pIniPort, pIniPort->pFilterBuffer, cbRead, pszLogFormat);
        if (!bOk)
            break;
    }
    SetLastError(bOk ? 0 : GetLastError());
    return bOk;
}

/* Write through the filter: the filter takes the data, then is drained to
 * the port. Reports the accepted count, or 0 when anything failed. */
BOOL FilterWrite(IniPort *pIniPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten)
{
    if (cbBuf > pIniPort->cbFilterBuffer)
        pIniPort->cbFilterBuffer = cbBuf;
    DWORD cbAccepted = 0;
    BOOL bOk = pIniPort->pfnFilterWrite(pBuffer, cbBuf, &cbAccepted);
    if (!bOk) {
        // A refusal before any port write: keep the filter's code, or name one.
        if (GetLastError() == 0)
            SetLastError(ERROR_WRITE_FAULT);
    } else {
        bOk = FilterDrain(pIniPort, L"Write pfnWrite %d %d R %d E %d");
    }
    if (pcbWritten)
        *pcbWritten = bOk ? cbAccepted : 0;
    return bOk;
}
