// The six port operations: each passes the call to the port monitor below
// and adds header, trailer, filter, job state and status notifications.
#include "jobtap.h"

/* Logs a refused handle with the entry point's text and fails. */
static BOOL RefuseHandle(LPCWSTR pszFormat, HANDLE hPort)
{
    const IniPort *pIniPort = (const IniPort *)hPort;
    LogErr(pszFormat, LP(hPort), pIniPort ? pIniPort->dwSignature : 0);
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

/* Open (pfnOpenPortEx): creates the port's record, opens the port below and
 * sets up the status channel. A port name already open, or none, is refused
 * with ERROR_INVALID_PARAMETER. */
static BOOL OpenPortEx(LPWSTR pszPortName, LPWSTR pszPrinterName, PHANDLE pHandle, LPMONITOR pMonitor)
{
    if (!pMonitor || !pMonitor->pfnOpenPort || !pMonitor->pfnStartDocPort || !pMonitor->pfnWritePort ||
        !pMonitor->pfnReadPort || !pMonitor->pfnEndDocPort || !pMonitor->pfnClosePort) {
        LogErr(L"Open pMonitor x%x pfnOpen x%x pfnStart x%x pfnWrite x%x pfnRead x%x pfnEnd x%x pfnClose x%x",
               LP(pMonitor), pMonitor ? LP(pMonitor->pfnOpenPort) : 0,
               pMonitor ? LP(pMonitor->pfnStartDocPort) : 0, pMonitor ? LP(pMonitor->pfnWritePort) : 0,
               pMonitor ? LP(pMonitor->pfnReadPort) : 0, pMonitor ? LP(pMonitor->pfnEndDocPort) : 0,
               pMonitor ? LP(pMonitor->pfnClosePort) : 0);
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    LogDbg(L"Open([%s] len=%d [%s] len=%d x%x x%x)", LogStr(pszPortName),
           pszPortName ? lstrlenW(pszPortName) : 0, LogStr(pszPrinterName),
           pszPrinterName ? lstrlenW(pszPrinterName) : 0, LP(pHandle), LP(pMonitor));
    if (!pHandle) {
        // Nowhere to return the handle: refuse before anything is opened.
        LogErr(L"Open pHandle x%x", 0);
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!pszPortName) {
        LogErr(L"Open pszPortName x%x", 0);
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }

    // Nothing is logged under the list lock: the log may wait on a file lock.
    EnterCriticalSection(&g_PortListLock);
    IniPort *pFound = FindPortEntry(pszPortName);
    BOOL bClosePending = pFound && pFound->bDeleted;
    IniPort *pIniPort = pFound ? NULL : CreatePortEntry(pszPortName);
    LeaveCriticalSection(&g_PortListLock);
    if (bClosePending) {
        // The port's last Close is put off until a Get or a device request
        // still running on it returns: until then it is not opened again,
        // so that the late close never lands in a new job.
        LogErr(L"Open FindPortEntry [%s] ClosePending R %d E %d", pszPortName, 0, ERROR_BUSY);
        SetLastError(ERROR_BUSY);
        return FALSE;
    }
    if (pFound) {
        LogErr(L"Open FindPortEntry [%s]", pszPortName);
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!pIniPort) {
        LogErr(L"Open CreatePortEntry([%s])", pszPortName);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }

    BOOL bOk = pMonitor->pfnOpenPort(pszPortName, &pIniPort->hPort);
    DWORD dwError = GetLastError();
    LogDbg(L"Open pfnOpen lm=x%x pm=x%x R %d E %d", LP(pIniPort), LP(pIniPort->hPort), bOk, dwError);
    if (!bOk) {
        pIniPort->hPort = NULL;           // nothing below to close with the record
        DeletePortEntry(pIniPort);
        SetLastError(dwError);
        return FALSE;
    }

    *pHandle = (HANDLE)pIniPort;
    pIniPort->Monitor = *pMonitor;

    if (pMonitor->pfnSetPortTimeOuts) {
        COMMTIMEOUTS cto = {0, 0, 0, 0, 0x7FFFFFFF};
        bOk = pMonitor->pfnSetPortTimeOuts(pIniPort->hPort, &cto, 0);
        dwError = GetLastError();
        LogDbg(L"Open pfnSetPortTimeOuts %d %d %d %d %d R %d E %d", cto.ReadIntervalTimeout,
               cto.ReadTotalTimeoutMultiplier, cto.ReadTotalTimeoutConstant,
               cto.WriteTotalTimeoutMultiplier, cto.WriteTotalTimeoutConstant, bOk, dwError);
    }

    ChannelResult channel = CreateStatusChannel(pIniPort);
    if (channel == CHANNEL_NONE) {
        // Printing goes on without a status channel: names taken by another
        // port, or objects someone else put there.
        StopStatusThread(pIniPort);
        CloseStatusChannel(pIniPort);
    } else if (channel == CHANNEL_FAILED) {
        dwError = GetLastError();
        // The port below was opened for this record: close it again, so the
        // port is not left held by a handle nobody owns; the worker, if it
        // started, stops first, so no request reaches a closing port; one
        // stuck in a request leaves the port below to its last reference.
        if (StopStatusThread(pIniPort)) {
            ClosePortBelow(pIniPort);
            pIniPort->hPort = NULL;
        }
        DeletePortEntry(pIniPort);
        *pHandle = NULL;
        SetLastError(dwError ? dwError : ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }

    NotifyStatusWindow(pIniPort, L"Open FindWindow R x%x E %d", L"Open PostMessage(x%x x%x %d %d) R %d E %d",
                       STATUS_NOTIFY_PORT_OPEN);
    return TRUE;
}

static void StartDocStatus(IniPort *pIniPort, LPCWSTR pszPrinterName, DWORD JobId);

// A StartDoc that failed: no job is printing on the port (an earlier one the
// spooler never ended included). Always FALSE, with dwError.
static BOOL FailStartDoc(IniPort *pIniPort, DWORD dwError)
{
    if (pIniPort->pLm)
        pIniPort->pLm->dwFlags &= ~STATUS_FLAG_PRINTING;
    SetLastError(dwError);
    return FALSE;
}

/* StartDoc: loads and opens the filter, starts the port's document, sends
 * the header whole (a port that fails it fails the job, its document ended),
 * records the job and starts and notifies the status monitor. A document without name, output file and
 * data type is skipped: only its data reaches the port. Follows Open or
 * EndDoc; a job left without EndDoc is given up (its filter closed, freed). */
static BOOL StartDocPort(HANDLE hPort, LPWSTR pszPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo)
{
    IniPort *pIniPort = (IniPort *)hPort;
    if (!IsValidPort(pIniPort) || !pszPrinterName || !*pszPrinterName || (Level != 1 && Level != 2) ||
        !pDocInfo) {
        LogErr(L"Start pIniPort x%x magic x%x pszPrinterName x%x *pszPrinterName x%x dwLevel %d pDocInfo x%x",
               LP(hPort), pIniPort ? pIniPort->dwSignature : 0, LP(pszPrinterName),
               pszPrinterName ? *pszPrinterName : 0, Level, LP(pDocInfo));
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // DOC_INFO_1 and DOC_INFO_2 both begin with these three strings.
    const DOC_INFO_1W *pInfo = (const DOC_INFO_1W *)pDocInfo;
    LogDbg(L"Start(h=x%x [%s] id=%d lv=%d [%s] [%s] [%s])", LP(hPort), pszPrinterName, JobId, Level,
           LogStr(pInfo->pDocName), LogStr(pInfo->pOutputFile), LogStr(pInfo->pDatatype));

    // A job the spooler never ended is given up: its filter holds that job's
    // data and must not see this one's.
    if (pIniPort->hFilter)
        UnloadFilter(pIniPort, L"Start FreeLibrary R %d E %d");
    pIniPort->bSkipJob = !pInfo->pDocName && !pInfo->pOutputFile && !pInfo->pDatatype;
    if (pIniPort->bSkipJob)
        return TRUE;

    if (!pIniPort->pszPrinterName || lstrcmpiW(pIniPort->pszPrinterName, pszPrinterName) != 0) {
        LPWSTR pszCopy = AllocSplStr(pszPrinterName);
        if (!pszCopy) {
            LogErr(L"Start AllocSplStr [%s]", pszPrinterName);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return FALSE;
        }
        FreeSplMem(pIniPort->pszPrinterName);
        pIniPort->pszPrinterName = pszCopy;
    }

    // The filter first: a library that another port's job holds is waited
    // for (with a bound) before anything of this job reaches the port.
    if (!LoadFilter(pIniPort))
        return FailStartDoc(pIniPort, GetLastError());  // its error line names the cause
    BOOL bOk = pIniPort->Monitor.pfnStartDocPort(pIniPort->hPort, pszPrinterName, JobId, Level, pDocInfo);
    DWORD dwError = GetLastError();
    LogDbg(L"Start pfnStart R %d E %d", bOk, dwError);
    if (!bOk) {
        if (pIniPort->hFilter)
            UnloadFilter(pIniPort, L"Start FreeLibrary R %d E %d");
        return FailStartDoc(pIniPort, dwError);
    }

    // The header whole before anything else of the job: one the port cut
    // would make the printer read the job's data as its rest.
    if (!SendHeadOrTail(pIniPort, L" Head", L"Start RegStrHead %d %d R %d E %d", L"Start RegStrHead %d",
                        L"Start RegStrHead Cut %d of %d E %d")) {
        dwError = GetLastError();
        bOk = pIniPort->Monitor.pfnEndDocPort(pIniPort->hPort);   // the port's document ends with it
        DWORD dwEndError = GetLastError();
        (bOk ? LogDbg : LogErr)(L"Start pfnEnd R %d E %d", bOk, dwEndError);
        if (pIniPort->hFilter)
            UnloadFilter(pIniPort, L"Start FreeLibrary R %d E %d");
        return FailStartDoc(pIniPort, dwError);
    }

    pIniPort->dwJobId = JobId;
    if (pIniPort->pLm)
        StartDocStatus(pIniPort, pszPrinterName, JobId);
    else
        LogErr(L"Start pLm x%x", 0);   // no status channel: the job prints all the same
    SetLastError(0);
    return TRUE;
}

/* StartDoc's part in the status channel (the port has one): the job's state
 * in the block, the status monitor found or started, and its notice. */
static void StartDocStatus(IniPort *pIniPort, LPCWSTR pszPrinterName, DWORD JobId)
{
    StatusBlock *pLm = pIniPort->pLm;
    pLm->dwSpoolerProcessId = GetCurrentProcessId();
    pLm->dwSpoolerThreadId = GetCurrentThreadId();
    pLm->dwJobId = JobId;
    pLm->dwFlags = (pLm->dwFlags | STATUS_FLAG_PRINTING) & ~STATUS_FLAG_WRITE_FAILED;

    // The notice goes to the window this call found by title, with the
    // message Open registered: the block's copies of both can be written by
    // any process.
    HWND hWnd = FindStatusWindow(pIniPort);
    DWORD dwError = GetLastError();
    LogDbg(L"Start FindWindow R x%x E %d", LP(hWnd), dwError);
    if (!hWnd)
        hWnd = StartStatusMonitor(pIniPort, pszPrinterName, JobId);
    if (hWnd) {
        BOOL bOk = PostMessageW(hWnd, pIniPort->uMsgMonitor, STATUS_NOTIFY_DOC_START, 0);
        dwError = GetLastError();
        LogDbg(L"Start PostMessage(x%x x%x %d %d) R %d E %d", LP(hWnd), pIniPort->uMsgMonitor,
               STATUS_NOTIFY_DOC_START, 0, bOk, dwError);
    }
}

/* Write: job data through the filter (if any) to the port; *pcbWritten is
 * what the port (or the filter) took, also on failure. Bit 1 of the block's
 * flags tells whether the write failed. Between StartDoc and EndDoc. */
BOOL WINAPI LmWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten)
{
    IniPort *pIniPort = (IniPort *)hPort;
    if (!IsValidPort(pIniPort))
        return RefuseHandle(L"Write pIniPort x%x magic x%x", hPort);
    LogDbg(L"Write(x%x x%x %d x%x)", LP(hPort), LP(pBuffer), cbBuf, LP(pcbWritten));

    BOOL bOk;
    DWORD dwError;
    if (!pIniPort->hFilter) {
        bOk = pIniPort->Monitor.pfnWritePort(pIniPort->hPort, pBuffer, cbBuf, pcbWritten);
        dwError = GetLastError();
        LogDbg(L"Write pfnWrite %d %d R %d E %d", cbBuf, pcbWritten ? *pcbWritten : 0, bOk, dwError);
    } else {
        bOk = FilterWrite(pIniPort, pBuffer, cbBuf, pcbWritten);
        dwError = GetLastError();
    }

    StatusBlock *pLm = pIniPort->pLm;
    if (pLm && bOk)
        pLm->dwFlags &= ~STATUS_FLAG_WRITE_FAILED;
    else if (pLm)
        pLm->dwFlags |= STATUS_FLAG_WRITE_FAILED;
    SetLastError(dwError);
    return bOk;
}

/* Read: straight to the port, never through the filter. */
BOOL WINAPI LmReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead)
{
    IniPort *pIniPort = (IniPort *)hPort;
    if (!IsValidPort(pIniPort))
        return RefuseHandle(L"Read pIniPort x%x magic x%x", hPort);
    LogDbg(L"Read(x%x x%x %d x%x)", LP(hPort), LP(pBuffer), cbBuffer, LP(pcbRead));
    BOOL bOk = pIniPort->Monitor.pfnReadPort(pIniPort->hPort, pBuffer, cbBuffer, pcbRead);
    DWORD dwError = GetLastError();
    LogDbg(L"Read pfnRead %d %d R %d E %d", cbBuffer, pcbRead ? *pcbRead : 0, bOk, dwError);
    SetLastError(dwError);
    return bOk;
}

/* EndDoc: drains and frees the filter, sends the trailer, notifies, ends the
 * document below and tells the spooler the last page is out. Job data that
 * did not reach the port fails the job: bit 1 set, FALSE with the port's
 * error, and no last-page notice to the spooler. Follows StartDoc. */
static BOOL EndDocPort(HANDLE hPort)
{
    IniPort *pIniPort = (IniPort *)hPort;
    if (!IsValidPort(pIniPort))
        return RefuseHandle(L"End pIniPort x%x magic x%x", hPort);
    LogDbg(L"End(x%x)", LP(hPort));

    if (pIniPort->bSkipJob) {
        pIniPort->bSkipJob = FALSE;
        return TRUE;
    }

    BOOL bDataOut = TRUE;
    DWORD dwDataError = 0;
    if (pIniPort->hFilter) {
        bDataOut = FilterEndDoc(pIniPort);
        dwDataError = GetLastError();
    }

    StatusBlock *pLm = pIniPort->pLm;
    if (!pLm)
        LogErr(L"End pLm x%x", 0);   // no status channel: the job ends all the same
    // A trailer the port cut leaves the printer waiting for its rest: the
    // job failed.
    BOOL bTail = SendHeadOrTail(pIniPort, L" Tail", L"End RegStrTail %d %d R %d E %d", L"End RegStrTail %d",
                                L"End RegStrTail Cut %d of %d E %d");
    if (bDataOut && !bTail) {
        bDataOut = FALSE;
        dwDataError = GetLastError();
    }
    if (pLm && !bDataOut)
        pLm->dwFlags |= STATUS_FLAG_WRITE_FAILED;
    if (pLm)
        pLm->dwFlags &= ~STATUS_FLAG_PRINTING;
    NotifyStatusWindow(pIniPort, L"End FindWindow R x%x E %d", L"End PostMessage(x%x x%x %d %d) R %d E %d",
                       STATUS_NOTIFY_DOC_END);

    BOOL bOk = pIniPort->Monitor.pfnEndDocPort(pIniPort->hPort);
    DWORD dwError = GetLastError();
    LogDbg(L"End pfnEnd R %d E %d", bOk, dwError);
    if (!bOk) {
        SetLastError(dwError);
        return FALSE;
    }
    if (!bDataOut) {
        SetLastError(dwDataError);
        return FALSE;
    }

    HANDLE hPrinter = NULL;
    if (!OpenPrinterW(pIniPort->pszPrinterName, &hPrinter, NULL)) {
        dwError = GetLastError();
        LogErr(L"End OpenPrinter R %d E %d", 0, dwError);
        SetLastError(dwError);
        return FALSE;
    }
    bOk = SetJobW(hPrinter, pIniPort->dwJobId, 0, NULL, JOB_CONTROL_LAST_PAGE_EJECTED);
    dwError = GetLastError();
    if (!bOk) {
        LogErr(L"End SetJob R %d E %d", 0, dwError);
        if (dwError == 0)
            dwError = ERROR_INVALID_PARAMETER;   // a refusal without a code: the job id is unknown
    }
    ClosePrinter(hPrinter);
    SetLastError(bOk ? 0 : dwError);
    return bOk;
}

/* Close: stops the port's worker, closes the port below, notifies, and
 * deletes the record with its channel. The worker stops first, so no device
 * request reaches the port monitor with a handle being closed; the port list
 * is not locked while it stops. When the port below refuses, the record,
 * its handle below and a new worker stay, and the handle stays valid. */
static BOOL CloseThePort(HANDLE hPort)
{
    IniPort *pIniPort = (IniPort *)hPort;
    // A record whose close was put off stays listed until its port below
    // closes: a second Close of it is refused before it touches the port below.
    if (!IsOpenPortEntry(pIniPort))
        return RefuseHandle(L"Close pIniPort x%x magic x%x", hPort);
    LogDbg(L"Close(x%x)", LP(hPort));

    // The worker stops first, within a bound; a worker still stuck in a
    // device request keeps its reference. Then no new Get enters. A Get or a
    // worker that runs keeps the handle below: the port below is then closed
    // by the last of them, and Close does not wait for a device that may
    // never answer.
    StopStatusThread(pIniPort);
    BOOL bNoGet = HoldGets(pIniPort, TRUE);
    if (!bNoGet) {
        LogDbg(L"Close pfnClose Deferred cRefs=%d", (int)pIniPort->cRefs);
    } else if (!ClosePortBelow(pIniPort)) {
        DWORD dwError = GetLastError();
        // The port stays open: its channel serves again.
        // A channel nobody would serve is closed: its clients then find no
        // channel at once instead of waiting for a reply that never comes,
        // and the port prints on without one.
        if (pIniPort->pLm &&
            !StartStatusThread(pIniPort, L"Close CreateEvent_Exit R x%x E %d", L"Close CreateThread x%x R x%x E %d",
                               L"Close CloseHandle_Exit R %d E %d")) {
            LogErr(L"Close StartStatusThread R %d E %d", 0, GetLastError());
            CloseStatusChannel(pIniPort);
        }
        HoldGets(pIniPort, FALSE);
        SetLastError(dwError);
        return FALSE;
    }
    if (!pIniPort->pLm)
        LogErr(L"Close pLm x%x", 0);   // no status channel: nothing to notify
    NotifyStatusWindow(pIniPort, L"Close FindWindow R x%x E %d", L"Close PostMessage(x%x x%x %d %d) R %d E %d",
                       STATUS_NOTIFY_PORT_CLOSE);

    if (!DeletePortEntry(pIniPort)) {
        LogErr(L"Close DeletePortEntry R %d", 0);
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    SetLastError(0);
    return TRUE;
}

// The entry points as the table has them. A run of log lines ends where no
// call of the same job is sure to follow: at EndDoc and Close, and at an Open
// or a StartDoc that failed (the spooler may never come back).
BOOL WINAPI LmOpenPortEx(LPWSTR pszPortName, LPWSTR pszPrinterName, PHANDLE pHandle, LPMONITOR pMonitor)
{
    BOOL bOk = OpenPortEx(pszPortName, pszPrinterName, pHandle, pMonitor);
    return bOk ? bOk : LogRunEnds(bOk);
}

BOOL WINAPI LmStartDocPort(HANDLE hPort, LPWSTR pszPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo)
{
    BOOL bOk = StartDocPort(hPort, pszPrinterName, JobId, Level, pDocInfo);
    return bOk ? bOk : LogRunEnds(bOk);
}

BOOL WINAPI LmEndDocPort(HANDLE hPort)
{
    return LogRunEnds(EndDocPort(hPort));
}

BOOL WINAPI LmClosePort(HANDLE hPort)
{
    return LogRunEnds(CloseThePort(hPort));
}
