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

/* Frees the drain buffer, with any bytes still pending in it. */
static void FreeFilterBuffer(IniPort *pIniPort)
{
    FreeSplMem(pIniPort->pFilterBuffer);
    pIniPort->pFilterBuffer = NULL;
    pIniPort->cbFilterAlloc = 0;
    pIniPort->cbFilterPending = 0;
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

/* Calls "Close", frees the library and the drain buffer (bytes still
 * pending in it are dropped) and logs the FreeLibrary with the caller's text
 * ("End FreeLibrary R %d E %d" unless given). A filter must be loaded. */
void UnloadFilter(IniPort *pIniPort, LPCWSTR pszFreeFormat)
{
    FreeFilterBuffer(pIniPort);
    pIniPort->pfnFilterClose();
    BOOL bOk = FreeLibrary(pIniPort->hFilter);
    DWORD dwError = GetLastError();
    (bOk ? LogDbg : LogErr)(pszFreeFormat, bOk, dwError);
    ClearFilter(pIniPort);
}

/* Writes the first cb bytes of the drain buffer to the port, repeating with
 * the remainder until all are out. Bytes the port reports written count as
 * sent, also from a failed write. On failure the rest moves to the buffer's
 * start and stays pending, to go out first at the next drain. A write that
 * succeeds without progress would loop forever; it fails with
 * ERROR_WRITE_FAULT instead. */
static BOOL WriteBufferToPort(IniPort *pIniPort, DWORD cb, LPCWSTR pszLogFormat)
{
    LPBYTE pb = pIniPort->pFilterBuffer;
    pIniPort->cbFilterPending = 0;
    while (cb) {
        DWORD cbWritten = 0;
        BOOL bOk = pIniPort->Monitor.pfnWritePort(pIniPort->hPort, pb, cb, &cbWritten);
        DWORD dwError = GetLastError();
        LogDbg(pszLogFormat, cb, cbWritten, bOk, dwError);
        if (cbWritten > cb)
            cbWritten = cb;
        if (bOk && cbWritten == 0) {
            bOk = FALSE;
            dwError = ERROR_WRITE_FAULT;
        }
        pb += cbWritten;
        cb -= cbWritten;
        if (!bOk) {
            MoveMemory(pIniPort->pFilterBuffer, pb, cb);
            pIniPort->cbFilterPending = cb;
            SetLastError(dwError ? dwError : ERROR_WRITE_FAULT);
            return FALSE;
        }
    }
    return TRUE;
}

/* Sends what an earlier failed port write left pending, then reads everything
 * the filter has ready and writes it to the port, through a buffer of the
 * job's largest write size. The buffer is allocated when the largest write
 * grows (only once nothing is pending in it) and kept until the job ends, so
 * a job of equal writes allocates once. FALSE with the last error set when a
 * port write or the filter's "Read" fails or memory runs out. */
static BOOL FilterDrain(IniPort *pIniPort, LPCWSTR pszLogFormat)
{
    if (pIniPort->cbFilterPending && !WriteBufferToPort(pIniPort, pIniPort->cbFilterPending, pszLogFormat))
        return FALSE;
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
        SetLastError(0);                      // a filter failing without a code gets ERROR_READ_FAULT
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
        bOk = WriteBufferToPort(pIniPort, cbRead, pszLogFormat);
        if (!bOk)
            break;
    }
    SetLastError(bOk ? 0 : GetLastError());
    return bOk;
}

/* Write through the filter: what an earlier failed drain left goes out
 * first (until it has, the filter takes nothing new and the count is 0),
 * then the filter takes the data and is drained to the port. *pcbWritten is
 * what the filter took, also when the drain then fails: that data is the
 * filter's now, and a spooler that sent it again would print it twice. The
 * result is FALSE with the port's (or the filter's) error when anything
 * failed. */
BOOL FilterWrite(IniPort *pIniPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten)
{
    static const WCHAR s_szLogFormat[] = L"Write pfnWrite %d %d R %d E %d";
    if (pcbWritten)
        *pcbWritten = 0;
    if (cbBuf > pIniPort->cbFilterBuffer)
        pIniPort->cbFilterBuffer = cbBuf;
    if (pIniPort->cbFilterPending && !FilterDrain(pIniPort, s_szLogFormat))
        return FALSE;
    DWORD cbAccepted = 0;
    SetLastError(0);                          // not what the log's calls left
    BOOL bOk = pIniPort->pfnFilterWrite(pBuffer, cbBuf, &cbAccepted);
    if (!bOk) {
        // A refusal before any port write: keep the filter's code, or name one.
        if (GetLastError() == 0)
            SetLastError(ERROR_WRITE_FAULT);
        return FALSE;
    }
    if (pcbWritten)
        *pcbWritten = cbAccepted < cbBuf ? cbAccepted : cbBuf;
    return FilterDrain(pIniPort, s_szLogFormat);
}

/* At EndDoc: "Flush", then what an earlier failed port write left and all
 * the filter hands out go to the port; then "Close" and the library is
 * freed. FALSE with the port's (or the filter's) last error when job data did
 * not reach the port. A failed "Flush" holds back data of the job: only the
 * pending bytes go out, and the result is FALSE with the filter's code, or
 * ERROR_WRITE_FAULT when it set none. */
BOOL FilterEndDoc(IniPort *pIniPort)
{
    static const WCHAR s_szLogFormat[] = L"End pfnWrite %d %d R %d E %d";
    SetLastError(0);
    BOOL bOk = pIniPort->pfnFilterFlush();
    DWORD dwError = GetLastError();
    if (bOk) {
        bOk = FilterDrain(pIniPort, s_szLogFormat);
        dwError = GetLastError();
    } else {
        if (dwError == 0)
            dwError = ERROR_WRITE_FAULT;
        if (pIniPort->cbFilterPending)
            WriteBufferToPort(pIniPort, pIniPort->cbFilterPending, s_szLogFormat);
    }
    UnloadFilter(pIniPort);
    SetLastError(bOk ? 0 : dwError);
    return bOk;
}
