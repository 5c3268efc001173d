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
    if (pIniPort->pFilterBuffer)
        VirtualFree(pIniPort->pFilterBuffer, 0, MEM_RELEASE);
    pIniPort->pFilterBuffer = NULL;
    pIniPort->cbFilterPending = 0;
}

/* Whether a path names its drive or server ("C:\\..." or "\\\\..."). */
static BOOL IsAbsolutePath(LPCWSTR pszPath)
{
    return (pszPath[0] && pszPath[1] == L':' && (pszPath[2] == L'\\' || pszPath[2] == L'/')) ||
           ((pszPath[0] == L'\\' || pszPath[0] == L'/') && (pszPath[1] == L'\\' || pszPath[1] == L'/'));
}

#ifndef LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
#define LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR 0x00000100
#define LOAD_LIBRARY_SEARCH_SYSTEM32     0x00000800
#endif

/* Whether LoadLibraryExW takes the LOAD_LIBRARY_SEARCH_* flags: Windows 8
 * and later, and Vista and 7 with the update that added them (whose mark is
 * the export AddDllDirectory). Windows 2000 and XP lack them. */
static BOOL HasSearchFlags()
{
    HMODULE hKernel = GetModuleHandleW(L"kernel32.dll");
    DWORD dwError = GetLastError();
    (hKernel ? LogDbg : LogErr)(L"Start GetModuleHandle([kernel32.dll]) R x%x E %d", LP(hKernel), dwError);
    if (!hKernel) {
        SetLastError(dwError);
        return FALSE;
    }
    FARPROC pfn = GetProcAddress(hKernel, "AddDllDirectory");
    dwError = GetLastError();
    LogDbg(L"Start GetProcAddress([AddDllDirectory]) R x%x E %d", LP(pfn), dwError);
    SetLastError(dwError);
    return pfn != NULL;
}

// LoadLibraryExW of a full path with the narrowest search the platform
// has; a platform that lists the search flags but refuses them
// (ERROR_INVALID_PARAMETER) gets the older flag instead.
static HMODULE LoadWithSearchFlags(LPCWSTR pszFullPath)
{
    if (HasSearchFlags()) {
        HMODULE hModule =
            LoadLibraryExW(pszFullPath, NULL, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (hModule || GetLastError() != ERROR_INVALID_PARAMETER)
            return hModule;
        LogDbg(L"Start LoadLibraryEx([%s]) search flags refused E %d", pszFullPath, ERROR_INVALID_PARAMETER);
    }
    return LoadLibraryExW(pszFullPath, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}

/* Loads a filter library inside the spooler. A relative name is taken from
 * the system directory only; an absolute path as given. Its own imports are
 * looked up in its folder, then the system directory, and nowhere else where
 * the platform has the LOAD_LIBRARY_SEARCH_* flags; elsewhere (Windows 2000,
 * XP) the library's folder replaces the program's at the head of the usual
 * search (LOAD_WITH_ALTERED_SEARCH_PATH). Null with the last error set. */
static HMODULE LoadFilterLibrary(LPCWSTR pszPath)
{
    if (IsAbsolutePath(pszPath))
        return LoadWithSearchFlags(pszPath);
    WCHAR szFull[MAX_PATH];
    UINT cch = GetSystemDirectoryW(szFull, MAX_PATH);
    if (cch == 0 || cch + 1 + lstrlenW(pszPath) >= MAX_PATH || pszPath[0] == L'\\' || pszPath[0] == L'/' ||
        wcsstr(pszPath, L"..")) {
        SetLastError(ERROR_BAD_PATHNAME);
        return NULL;
    }
    lstrcatW(szFull, L"\\");
    lstrcatW(szFull, pszPath);
    return LoadWithSearchFlags(szFull);
}

/* Loads and opens the " Filter" library of the port's printer; TRUE with
 * none loaded when the printer has no such value. The module is taken for
 * this job (AcquireFilterModule). FALSE, nothing loaded, after an ERR line
 * naming the cause, when the value cannot be looked up, the library does
 * not load (its error), lacks one of the five exports
 * (ERROR_PROC_NOT_FOUND) or its "Open" fails (its error, or
 * ERROR_OPEN_FAILED); with ERROR_BUSY when another port's job kept it beyond
 * the bound, or ERROR_NOT_ENOUGH_MEMORY: the job must not run unfiltered. */
BOOL LoadFilter(IniPort *pIniPort)
{
    ClearFilter(pIniPort);
    pIniPort->cbFilterIn = 0;
    pIniPort->cbFilterOut = 0;
    pIniPort->cFilterReads = 0;
    pIniPort->dwFilterLost = 0;
    FreeFilterBuffer(pIniPort);

    BOOL bAbsent = FALSE;
    LPWSTR pszPath = Regstr(pIniPort, L" Filter", &bAbsent);
    if (!pszPath) {
        if (bAbsent)
            return TRUE;                      // no " Filter" value: no filter
        // Whether the job needs a filter is unknown: printed unfiltered, a
        // converting filter's job would be garbage reported as printed.
        DWORD dwError = GetLastError() ? GetLastError() : ERROR_CANTREAD;
        LogErr(L"Start Filter lookup R %d E %d", 0, dwError);
        SetLastError(dwError);
        return FALSE;
    }
    HMODULE hModule = LoadFilterLibrary(pszPath);
    DWORD dwError = GetLastError();
    if (!hModule) {
        LogErr(L"Start LoadLibrary([%s]) R x%x E %d", pszPath, 0, dwError);
        FreeSplMem(pszPath);
        SetLastError(dwError ? dwError : ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    LogDbg(L"Start LoadLibrary([%s]) R x%x E %d", pszPath, LP(hModule), dwError);
    if (!AcquireFilterModule(pIniPort, hModule)) {
        dwError = GetLastError();
        if (dwError == ERROR_BUSY)
            LogErr(L"Start FilterBusy([%s]) %d R %d E %d", pszPath, FILTER_WAIT_MS, 0, ERROR_BUSY);
        FreeSplMem(pszPath);
        BOOL bFreed = FreeLibrary(hModule);
        DWORD dwFreeError = GetLastError();
        (bFreed ? LogDbg : LogErr)(L"Start FreeLibrary R %d E %d", bFreed, dwFreeError);
        SetLastError(dwError);
        return FALSE;
    }
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
    if (bComplete) {
        // Opened before the port sees a byte; one that cannot open fails
        // the job (and is not closed: it never opened).
        SetLastError(0);
        if (pIniPort->pfnFilterOpen())
            return TRUE;
        dwError = GetLastError() ? GetLastError() : ERROR_OPEN_FAILED;
        LogErr(L"Start pfnFilterOpen R %d E %d", 0, dwError);
    } else {
        dwError = ERROR_PROC_NOT_FOUND;
    }
    ReleaseFilterModule(pIniPort);
    BOOL bOk = FreeLibrary(hModule);
    DWORD dwFreeError = GetLastError();
    (bOk ? LogDbg : LogErr)(L"Start FreeLibrary R %d E %d", bOk, dwFreeError);
    ClearFilter(pIniPort);
    SetLastError(dwError);
    return FALSE;
}

/* Calls "Close", frees the library and the drain buffer (bytes still
 * pending in it are dropped) and logs the FreeLibrary with the caller's text
 * ("End FreeLibrary R %d E %d" unless given). A filter must be loaded. */
void UnloadFilter(IniPort *pIniPort, LPCWSTR pszFreeFormat)
{
    FreeFilterBuffer(pIniPort);
    pIniPort->pfnFilterClose();
    ReleaseFilterModule(pIniPort);
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
 * the filter has ready and writes it to the port, through a buffer of
 * FILTER_BUFFER bytes allocated once per job (logged with pszAllocFormat):
 * the size of the job's writes never decides how much the spooler allocates.
 * Every "Read" is offered FILTER_CHUNK bytes; small reads are gathered behind
 * each other until a chunk's worth or more is there or a read brings nothing,
 * so a filter that hands out crumbs costs calls into it, not port writes. A
 * filter that reports more bytes than it was offered has handed over data it
 * cannot have placed: the drain fails with ERROR_INVALID_DATA and nothing of
 * that read is sent. A filter that never runs dry fails the same way once it
 * has handed out more than the job can account for (FILTER_GROWTH_MAX times
 * what it took, plus FILTER_GROWTH_SLACK), or in more reads than it took
 * bytes plus one per FILTER_READ_UNIT it handed out, plus FILTER_READS_SLACK:
 * the drain never loops for long. A failure on the filter's side loses job
 * data: what it handed out before still goes out, and dwFilterLost keeps the
 * error for EndDoc. FALSE with the last error set when a port write or the
 * filter's "Read" fails or memory runs out. */
static BOOL FilterDrain(IniPort *pIniPort, LPCWSTR pszLogFormat, LPCWSTR pszAllocFormat)
{
    if (pIniPort->cbFilterPending && !WriteBufferToPort(pIniPort, pIniPort->cbFilterPending, pszLogFormat))
        return FALSE;
    if (!pIniPort->pFilterBuffer) {
        // Page-aligned: the filter's copy into it runs at full speed.
        pIniPort->pFilterBuffer = (LPBYTE)VirtualAlloc(NULL, FILTER_BUFFER, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        DWORD dwError = GetLastError();
        (pIniPort->pFilterBuffer ? LogDbg : LogErr)(pszAllocFormat, FILTER_BUFFER, LP(pIniPort->pFilterBuffer),
                                                    dwError);
        if (!pIniPort->pFilterBuffer) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return FALSE;
        }
    }
    uint64_t cbAllowed = pIniPort->cbFilterIn * FILTER_GROWTH_MAX + FILTER_GROWTH_SLACK;
    DWORD cbFilled = 0;                       // read into the buffer, not sent yet (below FILTER_CHUNK)
    DWORD dwLost = 0;                         // the filter's failure
    BOOL bOk = TRUE;
    for (;;) {
        DWORD cbRead = 0;
        SetLastError(0);                      // a filter failing without a code gets ERROR_READ_FAULT
        BOOL bRead = pIniPort->pfnFilterRead(pIniPort->pFilterBuffer + cbFilled, FILTER_CHUNK, &cbRead);
        DWORD dwError = GetLastError();
        if (!bRead || cbRead > FILTER_CHUNK) {
            dwLost = !bRead ? (dwError ? dwError : ERROR_READ_FAULT) : ERROR_INVALID_DATA;
            LogErr(L"Read pfnFilterRead %d %d R %d E %d", FILTER_CHUNK, cbRead, 0, dwLost);
            break;
        }
        pIniPort->cbFilterOut += cbRead;
        pIniPort->cFilterReads += cbRead != 0;
        uint64_t cReadsAllowed =
            pIniPort->cbFilterIn + pIniPort->cbFilterOut / FILTER_READ_UNIT + FILTER_READS_SLACK;
        if (pIniPort->cbFilterOut > cbAllowed || pIniPort->cFilterReads > cReadsAllowed) {
            dwLost = ERROR_INVALID_DATA;
            LogErr(L"Read pfnFilterRead Unending %d R %d E %d", (DWORD)pIniPort->cFilterReads, 0, dwLost);
            break;
        }
        cbFilled += cbRead;
        if (cbRead && cbFilled < FILTER_CHUNK)
            continue;                         // the next read joins this port write
        if (cbFilled) {
            bOk = WriteBufferToPort(pIniPort, cbFilled, pszLogFormat);
            cbFilled = 0;
            if (!bOk)
                break;
        }
        if (!cbRead)
            break;                            // dry
    }
    if (dwLost) {
        if (cbFilled)
            WriteBufferToPort(pIniPort, cbFilled, pszLogFormat);   // what it handed out before
        if (!pIniPort->dwFilterLost)
            pIniPort->dwFilterLost = dwLost;
        SetLastError(dwLost);
        return FALSE;
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
    static const WCHAR s_szAllocFormat[] = L"Write VirtualAlloc %d R x%x E %d";
    if (pcbWritten)
        *pcbWritten = 0;
    if (pIniPort->cbFilterPending && !FilterDrain(pIniPort, s_szLogFormat, s_szAllocFormat))
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
    if (cbAccepted > cbBuf)
        cbAccepted = cbBuf;                   // a count it cannot have taken
    if (!cbAccepted && cbBuf) {
        // Nothing taken: once more after its output went to the port; a
        // filter that still takes nothing would have the spooler send these
        // bytes for ever.
        if (!FilterDrain(pIniPort, s_szLogFormat, s_szAllocFormat))
            return FALSE;
        SetLastError(0);
        bOk = pIniPort->pfnFilterWrite(pBuffer, cbBuf, &cbAccepted);
        if (bOk && !cbAccepted) {
            LogErr(L"Write pfnFilterWrite %d %d R %d E %d", cbBuf, 0, 0, ERROR_WRITE_FAULT);
            SetLastError(ERROR_WRITE_FAULT);
            return FALSE;
        }
        if (!bOk) {
            if (GetLastError() == 0)
                SetLastError(ERROR_WRITE_FAULT);
            return FALSE;
        }
        if (cbAccepted > cbBuf)
            cbAccepted = cbBuf;
    }
    pIniPort->cbFilterIn += cbAccepted;
    if (pcbWritten)
        *pcbWritten = cbAccepted;
    return FilterDrain(pIniPort, s_szLogFormat, s_szAllocFormat);
}

/* At EndDoc: "Flush", then what an earlier failed port write left and all
 * the filter hands out go to the port; then "Close" and the library is
 * freed. FALSE with the port's (or the filter's) last error when job data did
 * not reach the port, now or in a drain of an earlier Write. A failed "Flush"
 * holds back data of the job: only the pending bytes go out, and the result
 * is FALSE with the filter's code, or ERROR_WRITE_FAULT when it set none. */
BOOL FilterEndDoc(IniPort *pIniPort)
{
    static const WCHAR s_szLogFormat[] = L"End pfnWrite %d %d R %d E %d";
    static const WCHAR s_szAllocFormat[] = L"End VirtualAlloc %d R x%x E %d";
    SetLastError(0);
    BOOL bOk = pIniPort->pfnFilterFlush();
    DWORD dwError = GetLastError();
    if (bOk) {
        bOk = FilterDrain(pIniPort, s_szLogFormat, s_szAllocFormat);
        dwError = GetLastError();
    } else {
        if (dwError == 0)
            dwError = ERROR_WRITE_FAULT;
        if (pIniPort->cbFilterPending)
            WriteBufferToPort(pIniPort, pIniPort->cbFilterPending, s_szLogFormat);
    }
    if (bOk && pIniPort->dwFilterLost) {
        // Lost in the drain of an earlier Write: not all of the job is out.
        bOk = FALSE;
        dwError = pIniPort->dwFilterLost;
        LogErr(L"End pfnFilterRead Lost R %d E %d", 0, dwError);
    }
    UnloadFilter(pIniPort);
    SetLastError(bOk ? 0 : dwError);
    return bOk;
}
