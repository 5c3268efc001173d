// The status channel of a port: the named StatusBlock and its three events,
// the worker thread that runs device requests written into the block, the
// window notifications, and the monitor's printer-data entry point (Get).
#include "jobtap.h"
#include "viewcheck.h"

/* An event's name of a port, upper-cased as the kernel compares object
 * names, into szName (STATUS_NAME_CCH characters). The events' stems are the
 * longest, so their names cut the port's name shortest: two ports whose
 * events differ have different sections too. */
static void KernelObjectKey(const IniPort *pIniPort, WCHAR *szName)
{
    FormatStatusObjectName(szName, STATUS_NAME_CCH, StatusEventMap, (LPCWSTR)g_LmName,
                           (LPCWSTR)pIniPort->pszPortName);
    CharUpperBuffW(szName, lstrlenW(szName));
}

/* Another open port of this monitor whose objects have the same names as
 * this port's (names equal without case up to the first comma, or in the
 * part that fits the name buffer), or null. Caller holds g_PortListLock. */
static const IniPort *PortHoldingTheNames(const IniPort *pIniPort)
{
    WCHAR szMine[STATUS_NAME_CCH], szOther[STATUS_NAME_CCH];
    KernelObjectKey(pIniPort, szMine);
    for (const IniPort *p = g_PortList; p; p = p->pNext) {
        if (p == pIniPort || !p->bChannelClaimed)
            continue;
        KernelObjectKey(p, szOther);
        if (wcscmp(szMine, szOther) == 0)
            return p;
    }
    return NULL;
}

/* Sets the last error a failed set-up step read before it logged (the log's
 * own calls change it) and returns FAILED. */
static ChannelResult FailWith(DWORD dwError)
{
    SetLastError(dwError);
    return CHANNEL_FAILED;
}

/* Logs why the port goes without a channel and returns NONE. */
static ChannelResult NoChannel(LPCWSTR pszName, LPCWSTR pszWhy, DWORD dwError)
{
    LogErr(L"Open Untrusted([%s]) %s E %d", pszName, pszWhy, dwError);
    return CHANNEL_NONE;
}

/* Creates the port's named objects with their access lists (handles not
 * inheritable), checks any object that already existed under a name (no open
 * port of this monitor holds the names, see PortHoldingTheNames), clears the
 * block, starts StatusThread and registers the notification message. Logs
 * every step. NONE and FAILED leave objects for CloseStatusChannel. */
ChannelResult CreateStatusChannel(IniPort *pIniPort)
{
    pIniPort->pSecurity = (ChannelSecurity *)AllocSplMem(2 * sizeof(ChannelSecurity));
    DWORD dwError = GetLastError();
    if (!pIniPort->pSecurity) {
        LogErr(L"Open pSecurityDescriptor R x%x E %d", 0, dwError);
        return FailWith(dwError);
    }
    ChannelSecurity *pSectionSecurity = &pIniPort->pSecurity[0], *pEventSecurity = &pIniPort->pSecurity[1];
    BOOL bOk = BuildChannelSecurity(pSectionSecurity, pEventSecurity);
    dwError = GetLastError();
    LogDbg(L"Open InitializeSecurityDescriptor R %d E %d", bOk, dwError);
    LogDbg(L"Open SetSecurityDescriptorDacl R %d E %d", bOk, dwError);
    if (!bOk)
        return FailWith(dwError);

    WCHAR szName[STATUS_NAME_CCH];
    LogDbg(L"Open hFileMap x%x pMapView x%x", 0, 0);
    EnterCriticalSection(&g_PortListLock);
    const IniPort *pHolder = PortHoldingTheNames(pIniPort);
    LPWSTR pszHolder = pHolder ? AllocSplStr(pHolder->pszPortName) : NULL;
    pIniPort->bChannelClaimed = !pHolder;
    LeaveCriticalSection(&g_PortListLock);
    if (pHolder) {
        LogErr(L"Open NameCollision([%s]) [%s]", pIniPort->pszPortName, LogStr(pszHolder));
        FreeSplMem(pszHolder);
        return CHANNEL_NONE;
    }

    SECURITY_ATTRIBUTES sa = {sizeof(sa), &pSectionSecurity->sd, FALSE};
    FormatStatusObjectName(szName, STATUS_NAME_CCH, StatusFileMap, (LPCWSTR)g_LmName,
                           (LPCWSTR)pIniPort->pszPortName);
    pIniPort->hFileMap = CreateFileMappingW(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0,
                                            sizeof(StatusBlock), szName);
    dwError = GetLastError();
    LogDbg(L"Open CreateFileMapping([%s]) R x%x E %d", szName, LP(pIniPort->hFileMap), dwError);
    if (!pIniPort->hFileMap)
        return NoChannel(szName, L"access", dwError);
    LPCWSTR pszWhy = dwError == ERROR_ALREADY_EXISTS ? CheckFoundObject(pIniPort->hFileMap, pSectionSecurity, NULL, FALSE) : NULL;
    if (pszWhy)
        return NoChannel(szName, pszWhy, dwError);
    // The whole section is mapped and measured: one made smaller by someone
    // else, or with pages reserved but not committed, is refused before the
    // block is touched.
    StatusBlock *pLm = (StatusBlock *)MapViewOfFile(pIniPort->hFileMap, FILE_MAP_WRITE, 0, 0, 0);
    dwError = GetLastError();
    if (pLm && !IsViewCommitted(pLm, sizeof(StatusBlock))) {
        UnmapViewOfFile(pLm);
        pLm = NULL;
        dwError = ERROR_INVALID_BLOCK_LENGTH;
    }
    if (pLm)
        ZeroMemory(pLm, sizeof(StatusBlock));
    pIniPort->pLm = pLm;
    LogDbg(L"Open MapViewOfFile R x%x E %d", LP(pLm), dwError);
    if (!pLm)
        return NoChannel(szName, L"size", dwError);

    static const struct { StatusObject object; BOOL bSignalled; } s_events[] = {
        {StatusEventMap, TRUE}, {StatusEventCmd, FALSE}, {StatusEventRet, FALSE}};
    HANDLE *phEvents[] = {&pIniPort->hEventMap, &pIniPort->hEventCmd, &pIniPort->hEventRet};
    sa.lpSecurityDescriptor = &pEventSecurity->sd;
    for (int i = 0; i < 3; ++i) {
        FormatStatusObjectName(szName, STATUS_NAME_CCH, s_events[i].object, (LPCWSTR)g_LmName,
                               (LPCWSTR)pIniPort->pszPortName);
        *phEvents[i] = CreateEventW(&sa, FALSE, s_events[i].bSignalled, szName);
        dwError = GetLastError();
        LogDbg(L"Open CreateEvent([%s]) R x%x E %d", szName, LP(*phEvents[i]), dwError);
        if (!*phEvents[i])
            return NoChannel(szName, L"access", dwError);
        pszWhy = dwError == ERROR_ALREADY_EXISTS
                     ? CheckFoundObject(*phEvents[i], pEventSecurity, *phEvents[i], s_events[i].bSignalled)
                     : NULL;
        if (pszWhy)
            return NoChannel(szName, pszWhy, dwError);
    }

    if (!StartStatusThread(pIniPort, L"Open CreateEvent_Exit R x%x E %d", L"Open CreateThread x%x R x%x E %d",
                           L"Open CloseHandle_Exit R %d E %d"))
        return FailWith(GetLastError());

    UINT uMsg = RegisterWindowMessageW(L"" STATUS_MSG_NAME);
    dwError = GetLastError();
    pIniPort->uMsgMonitor = uMsg;          // the block's copy is for clients only
    pIniPort->pLm->uMsgMonitor = uMsg;
    LogDbg(L"Open RegisterWindowMessage R x%x E %d", uMsg, dwError);
    if (!uMsg)
        return FailWith(dwError);
    return CHANNEL_READY;
}

static void CloseIfPresent(HANDLE *ph)
{
    if (*ph) {
        CloseHandle(*ph);
        *ph = NULL;
    }
}

void CloseStatusChannel(IniPort *pIniPort)
{
    CloseIfPresent(&pIniPort->hEventMap);
    CloseIfPresent(&pIniPort->hEventCmd);
    CloseIfPresent(&pIniPort->hEventRet);
    if (pIniPort->pLm)
        UnmapViewOfFile(pIniPort->pLm);
    pIniPort->pLm = NULL;
    CloseIfPresent(&pIniPort->hFileMap);
    EnterCriticalSection(&g_PortListLock);
    pIniPort->bChannelClaimed = FALSE;
    LeaveCriticalSection(&g_PortListLock);
}

/* Starts the port's StatusThread with default security (no handle to it is
 * inheritable), and an unnamed exit event of its own: the named command
 * event can be set by any client, so it cannot tell the worker to end. The
 * worker holds a reference on the record until it ends. The three formats
 * log the event's and the thread's creation and the close of an exit event
 * (a leftover one, or the new one when the thread does not start). FALSE, with nothing left running, on
 * failure. Call order: the channel's events exist and no worker runs (an
 * exit event that a worker ended after StopStatusThread's bound left behind
 * is closed first); StopStatusThread before the port below is closed. */
BOOL StartStatusThread(IniPort *pIniPort, LPCWSTR pszEventFormat, LPCWSTR pszThreadFormat, LPCWSTR pszCloseFormat)
{
    CloseExitEvent(pIniPort, pszCloseFormat);
    pIniPort->hEventExit = CreateEventW(NULL, FALSE, FALSE, NULL);
    DWORD dwError = GetLastError();
    LogDbg(pszEventFormat, LP(pIniPort->hEventExit), dwError);
    if (!pIniPort->hEventExit)
        return FailWith(dwError);

    InterlockedExchange(&pIniPort->bExit, FALSE);
    InterlockedIncrement(&pIniPort->cRefs);
    DWORD dwThreadId = 0;
    pIniPort->hThread = CreateThread(NULL, 0, StatusThread, pIniPort, 0, &dwThreadId);
    dwError = GetLastError();
    pIniPort->dwThreadId = dwThreadId;
    LogDbg(pszThreadFormat, LP(pIniPort), LP(pIniPort->hThread), dwError);
    if (!pIniPort->hThread) {
        InterlockedDecrement(&pIniPort->cRefs);   // the caller's own reference remains
        CloseExitEvent(pIniPort, pszCloseFormat);
        SetLastError(dwError);
        return FALSE;
    }
    return TRUE;
}

void CloseExitEvent(IniPort *pIniPort, LPCWSTR pszFormat)
{
    if (!pIniPort->hEventExit)
        return;
    BOOL bOk = CloseHandle(pIniPort->hEventExit);
    DWORD dwError = GetLastError();
    (bOk ? LogDbg : LogErr)(pszFormat, bOk, dwError);
    pIniPort->hEventExit = NULL;
    SetLastError(dwError);
}

/* Sets the worker's exit request, signals its own exit event and waits up to
 * STATUS_STOP_WAIT_MS until it ends (a request in progress completes first).
 * TRUE when none runs any more: the thread and its event are closed. FALSE
 * when a device request keeps it (or kept it at an earlier call) beyond the bound: the thread is left to end
 * by itself, with its reference on the record, the channel, the exit event
 * and the port below, which the last reference closes (ReleasePortEntry).
 * The caller does not hold g_PortListLock. */
BOOL StopStatusThread(IniPort *pIniPort)
{
    if (!pIniPort->hThread)
        return !pIniPort->hEventExit;        // an exit event left behind: a worker still stuck
    InterlockedExchange(&pIniPort->bExit, TRUE);
    BOOL bOk = SetEvent(pIniPort->hEventExit);
    DWORD dwError = GetLastError();
    LogDbg(L"DeletePortEntry SetEvent_Exit R %d E %d", bOk, dwError);
    DWORD dwWait = WaitForSingleObject(pIniPort->hThread, STATUS_STOP_WAIT_MS);
    dwError = GetLastError();
    (dwWait == WAIT_OBJECT_0 ? LogDbg : LogErr)(L"DeletePortEntry WaitForSingleObject_Thread R %d E %d", dwWait,
                                                dwError);
    BOOL bEnded = dwWait == WAIT_OBJECT_0;
    if (bEnded) {
        DWORD dwExit = 0;
        bOk = GetExitCodeThread(pIniPort->hThread, &dwExit);
        dwError = GetLastError();
        LogDbg(L"DeletePortEntry GetExitCodeThread %d R %d E %d", dwExit, bOk, dwError);
    }
    bOk = CloseHandle(pIniPort->hThread);
    dwError = GetLastError();
    LogDbg(L"DeletePortEntry CloseHandle_Thread R %d E %d", bOk, dwError);
    pIniPort->hThread = NULL;
    pIniPort->dwThreadId = 0;
    if (bEnded)
        CloseExitEvent(pIniPort, L"DeletePortEntry CloseHandle_Exit R %d E %d");
    return bEnded;
}

/* The window whose title the status monitor stored in the block, or null;
 * the result is also stored in the block. The stored title is untrusted: it
 * is converted within its 256 bytes and always terminated. */
HWND FindStatusWindow(IniPort *pIniPort)
{
    StatusBlock *pLm = pIniPort->pLm;
    if (!pLm)
        return NULL;
    char szTitle[sizeof(pLm->szWindowName)];
    memcpy(szTitle, (const void *)pLm->szWindowName, sizeof(szTitle));
    szTitle[sizeof(szTitle) - 1] = 0;
    HWND hWnd = NULL;
    if (szTitle[0]) {
        WCHAR szWide[256];
        int cch = MultiByteToWideChar(CP_ACP, 0, szTitle, -1, szWide, 256);
        szWide[cch > 0 ? cch - 1 : 0] = 0;
        szWide[255] = 0;
        hWnd = FindWindowW(NULL, szWide);
    }
    pLm->hWndMonitor = (uint32_t)(UINT_PTR)hWnd;
    return hWnd;
}

/* Looks up the status window anew and posts it one event with the message
 * Open registered; logs both steps with the caller's texts. */
void NotifyStatusWindow(IniPort *pIniPort, LPCWSTR pszFindFormat, LPCWSTR pszPostFormat, WPARAM wEvent)
{
    HWND hWnd = FindStatusWindow(pIniPort);
    DWORD dwError = GetLastError();
    LogDbg(pszFindFormat, LP(hWnd), dwError);
    if (!hWnd)
        return;
    UINT uMsg = pIniPort->uMsgMonitor;
    BOOL bOk = PostMessageW(hWnd, uMsg, wEvent, 0);
    dwError = GetLastError();
    LogDbg(pszPostFormat, LP(hWnd), uMsg, (int)wEvent, 0, bOk, dwError);
}

/* Writes the 3-byte request header: request number, then the 16-bit value
 * most significant byte first. */
static void PutRequestHeader(LPBYTE pb, DWORD dwRequest, DWORD dwValue)
{
    pb[0] = (BYTE)dwRequest;
    pb[1] = (BYTE)(dwValue >> 8);
    pb[2] = (BYTE)dwValue;
}

/* Runs one device request from the block through the port monitor and
 * writes the reply into the block. cbData comes from another process: it is
 * cut to the block's 4096 data bytes. dwReplyId says busy until the reply is
 * complete, then echoes the request's dwRequestId (see statusblock.h). */
static void ServeRequest(IniPort *pIniPort, StatusBlock *pLm)
{
    DWORD dwRequestId = pLm->dwRequestId;
    InterlockedExchange((LONG volatile *)&pLm->dwReplyId, (LONG)STATUS_REPLY_BUSY);
    DWORD dwCode = pLm->dwIoControlCode;
    DWORD dwRequest = pLm->dwRequest;
    DWORD dwValue = pLm->dwValue;
    DWORD cbData = pLm->cbData;
    if (cbData > STATUSBLOCK_DATA_MAX)
        cbData = STATUSBLOCK_DATA_MAX;

    BOOL bSet = dwCode == KZT_IOCTL_USBPRINT_VENDOR_SET_COMMAND;
    // Any user may write the block: only the three device requests go to the
    // port below from it, never a control code of the caller's choosing.
    BOOL bKnown = bSet || dwCode == KZT_IOCTL_USBPRINT_VENDOR_GET_COMMAND || dwCode == KZT_IOCTL_PAR_QUERY_DEVICE_ID;
    DWORD cbIn = bSet ? cbData + 3 : 3;
    LPBYTE pbIn = (LPBYTE)AllocSplMem(cbIn);
    LPBYTE pbOut = bSet ? NULL : pLm->abData;
    DWORD cbOut = bSet ? 0 : cbData;

    if (!bKnown) {
        pLm->cbReturned = 0;
        pLm->bResult = 0;
        pLm->dwError = ERROR_INVALID_PARAMETER;
        LogErr(L"Thread dwIoControlCode x%x R %d E %d", dwCode, 0, ERROR_INVALID_PARAMETER);
    } else if (!pIniPort->Monitor.pfnGetPrinterDataFromPort) {
        pLm->cbReturned = 0;
        pLm->bResult = 0;
        pLm->dwError = 0;
        LogDbg(L"Thread pfnGet NotSupported R %d E %d", 0, 0);
    } else if (!pbIn) {
        pLm->cbReturned = 0;
        pLm->bResult = 0;
        pLm->dwError = ERROR_NOT_ENOUGH_MEMORY;
        LogErr(L"Thread AllocSplMem %d R x%x E %d", cbIn, 0, ERROR_NOT_ENOUGH_MEMORY);
    } else {
        PutRequestHeader(pbIn, dwRequest, dwValue);
        if (bSet)
            memcpy(pbIn + 3, pLm->abData, cbData);
        DWORD cbReturned = 0;
        BOOL bOk = pIniPort->Monitor.pfnGetPrinterDataFromPort(pIniPort->hPort, dwCode, NULL, (LPWSTR)pbIn,
                                                               cbIn, (LPWSTR)pbOut, cbOut, &cbReturned);
        DWORD dwError = GetLastError();
        pLm->cbReturned = cbReturned;
        pLm->bResult = bOk;
        pLm->dwError = dwError;
        LogDbg(L"Thread pfnGet(x%x x%x [%s] x%x %d x%x %d %d) R %d E %d DevReq(x%x,x%x,x%x)",
               LP(pIniPort->hPort), dwCode, LOG_NULL_TEXT, LP(pbIn), cbIn, LP(pbOut), cbOut, cbReturned,
               bOk, dwError, dwRequest, dwValue, cbData);
    }
    FreeSplMem(pbIn);
    InterlockedExchange((LONG volatile *)&pLm->dwReplyId, (LONG)dwRequestId);   // last write of the reply
}

// How often an idle worker looks at the lock event, and how long it may be
// seen taken with no request coming before the worker gives it back. A
// client holds it for one request only (its request is in the block within
// microseconds of taking it), so a lock taken that long belongs to a client
// that ended holding it (killed, logged off, crashed). The bound lets the
// next status monitor's request (which waits 5 s for the lock) through.
#define STATUS_LOCK_CHECK_MS 1000
#define STATUS_LOCK_HELD_MS  2000

/* One look at the lock event of an idle worker. *pdwTakenSince is the tick
 * at which the lock was first seen taken since the last request, or 0. A
 * lock found free is taken for that moment and given back; one taken for
 * STATUS_LOCK_HELD_MS is given back, with the block's numbering made even
 * and a reply its client never waited for taken off the reply event, so the
 * next client neither waits for a reply that is not coming nor reads another's
 * as its own. The event stays the auto-reset event every client knows. Only a
 * lock given back is logged: a line a second per open port would bury the
 * job's lines. */
static void LookAtLock(IniPort *pIniPort, DWORD *pdwTakenSince)
{
    DWORD dwWait = WaitForSingleObject(pIniPort->hEventMap, 0);
    if (dwWait == WAIT_OBJECT_0) {
        SetEvent(pIniPort->hEventMap);
        *pdwTakenSince = 0;
        return;
    }
    if (dwWait != WAIT_TIMEOUT)
        return;
    DWORD dwNow = GetTickCount() | 1;
    if (!*pdwTakenSince) {
        *pdwTakenSince = dwNow;
        return;
    }
    // Looks come STATUS_LOCK_CHECK_MS apart, give or take a clock tick: the
    // third look that finds it taken gives it back.
    DWORD dwHeld = dwNow - *pdwTakenSince;
    if (dwHeld < STATUS_LOCK_HELD_MS - STATUS_LOCK_CHECK_MS / 2)
        return;
    // A client that ended between numbering its request and sending it
    // left the block owing a reply nobody will give: the numbering is set
    // even again, or every later client would wait its whole bound for it.
    StatusBlock *pLm = pIniPort->pLm;
    InterlockedExchange((LONG volatile *)&pLm->dwReplyId, (LONG)pLm->dwRequestId);
    ResetEvent(pIniPort->hEventRet);
    BOOL bOk = SetEvent(pIniPort->hEventMap);
    DWORD dwError = GetLastError();
    LogErr(L"Thread LockEvent Held %d ms Released R %d E %d", dwHeld, bOk, dwError);
    *pdwTakenSince = 0;
}

/* StatusThread: serves the port's device requests until its exit event is
 * signalled (StopStatusThread), then drops its reference on the record
 * (the last one closes the port below and frees it). The exit event comes
 * first in the wait, so a flood of commands cannot keep the thread from
 * ending. A command that woke the thread has been taken off its event and is
 * always served, even when the exit request was set meanwhile: its client
 * waits for the reply, and the numbering of later requests on the channel
 * relies on it (the port below is closed only after the worker has stopped or
 * by its own last reference, so serving it is safe). While idle it looks at
 * the lock event every STATUS_LOCK_CHECK_MS (LookAtLock). A failed
 * wait means an event is unusable: the thread ends rather than spin. Exit
 * code 0. */
DWORD WINAPI StatusThread(LPVOID pParam)
{
    IniPort *pIniPort = (IniPort *)pParam;
    StatusBlock *pLm = pIniPort->pLm;
    HANDLE ahWait[2] = {pIniPort->hEventExit, pIniPort->hEventCmd};
    DWORD dwLockTakenSince = 0;
    for (;;) {
        DWORD dwWait = WaitForMultipleObjects(2, ahWait, FALSE, STATUS_LOCK_CHECK_MS);
        DWORD dwError = GetLastError();
        if (dwWait == WAIT_TIMEOUT) {
            LookAtLock(pIniPort, &dwLockTakenSince);
            LogRunEnds(TRUE);                // a log file kept open is let go within a second
            continue;
        }
        // Logged as one wait for "an event": 0 when either woke the thread.
        BOOL bWoken = dwWait == WAIT_OBJECT_0 || dwWait == WAIT_OBJECT_0 + 1;
        (bWoken ? LogDbg : LogErr)(L"Thread WaitForSingleObject bExit=%d R %d E %d", pIniPort->bExit,
                                   bWoken ? WAIT_OBJECT_0 : dwWait, dwError);
        if (dwWait != WAIT_OBJECT_0 + 1)
            break;
        dwLockTakenSince = 0;                 // a client is there: the lock is its own
        ServeRequest(pIniPort, pLm);
        if (SetEvent(pIniPort->hEventRet))
            LogDbg(L"Thread SetEvent R %d E %d", 1, GetLastError());
        else
            LogErr(L"Thread SetEvent R %d E %d", 0, GetLastError());
        LogRunEnds(TRUE);
    }
    ReleasePortEntry(pIniPort);
    return 0;
}

/* VendorRequest: turns a printer-data value name into a device request.
 * Names are compared with regard to case. */
BOOL VendorRequest(LPCWSTR pszValueName, LPDWORD pdwControlId, LPDWORD pdwRequest, LPDWORD pdwValue)
{
    static const WCHAR s_szVendorGet[] = L"IOCTL_USBPRINT_VENDOR_GET_COMMAND";
    const int cchVendorGet = (int)(sizeof(s_szVendorGet) / sizeof(WCHAR)) - 1;
    *pdwControlId = 0;
    *pdwRequest = 0;
    *pdwValue = 0;
    if (!pszValueName)
        return FALSE;
    if (lstrcmpW(pszValueName, L"IOCTL_PAR_QUERY_DEVICE_ID") == 0 || lstrcmpW(pszValueName, L"DeviceID") == 0) {
        *pdwControlId = KZT_IOCTL_PAR_QUERY_DEVICE_ID;
        return TRUE;
    }
    if (wcsncmp(pszValueName, s_szVendorGet, cchVendorGet) != 0 || !pszValueName[cchVendorGet])
        return FALSE;

    DWORD adwNumbers[2] = {0, 0};
    LPCWSTR p = pszValueName + cchVendorGet;
    for (int i = 0; i < 2; ++i) {
        while (*p && (*p < L'0' || *p > L'9'))
            ++p;
        if (!*p)
            return FALSE;
        while (*p >= L'0' && *p <= L'9')
            adwNumbers[i] = adwNumbers[i] * 10 + (DWORD)(*p++ - L'0');
    }
    *pdwControlId = KZT_IOCTL_USBPRINT_VENDOR_GET_COMMAND;
    *pdwRequest = adwNumbers[0];
    *pdwValue = adwNumbers[1];
    return TRUE;
}

/* Get (pfnGetPrinterDataFromPort): a non-zero control id passes through; with
 * control id 0 the value name names a device request (see VendorRequest). */
static BOOL GetFromPort(HANDLE hPort, DWORD ControlID, LPWSTR pValueName, LPWSTR lpInBuffer, DWORD cbInBuffer,
                        LPWSTR lpOutBuffer, DWORD cbOutBuffer, LPDWORD lpcbReturned)
{
    DWORD dwCallerError = GetLastError();
    IniPort *pIniPort = (IniPort *)hPort;
    LogDbg(L"Get(h=x%x id=%d [%s] x%x cbIn=%d x%x cbOut=%d x%x)", LP(hPort), ControlID, LogStr(pValueName),
           LP(lpInBuffer), cbInBuffer, LP(lpOutBuffer), cbOutBuffer, LP(lpcbReturned));
    // The record stays alive, and its port below open, until this call ends.
    BOOL bEntered = EnterGet(pIniPort);
    if (!bEntered || !pIniPort->Monitor.pfnGetPrinterDataFromPort) {
        // A record Get could not enter may be freed already: it is not read.
        LogErr(L"Get pIniPort x%x magic x%x pfnGet x%x", LP(hPort), bEntered ? pIniPort->dwSignature : 0,
               bEntered ? LP(pIniPort->Monitor.pfnGetPrinterDataFromPort) : 0);
        if (bEntered)
            LeaveGet(pIniPort);
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }

    BYTE abHeader[3];
    if (ControlID == 0) {
        if (!pValueName) {
            LogErr(L"Get pValueName x%x", 0);
            LeaveGet(pIniPort);
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        DWORD dwRequest, dwValue;
        BOOL bKnown = VendorRequest(pValueName, &ControlID, &dwRequest, &dwValue);
        LogDbg(L"Get VendorRequest([%s]) x%x x%x x%x R %d", pValueName, ControlID, dwRequest, dwValue, bKnown);
        if (!bKnown) {
            LeaveGet(pIniPort);
            SetLastError(dwCallerError);
            return FALSE;
        }
        PutRequestHeader(abHeader, dwRequest, dwValue);
        lpInBuffer = (LPWSTR)abHeader;
        cbInBuffer = sizeof(abHeader);
    }

    DWORD cbReturned = 0;
    BOOL bOk = pIniPort->Monitor.pfnGetPrinterDataFromPort(pIniPort->hPort, ControlID, pValueName, lpInBuffer,
                                                           cbInBuffer, lpOutBuffer, cbOutBuffer,
                                                           lpcbReturned ? lpcbReturned : &cbReturned);
    DWORD dwError = GetLastError();
    LogDbg(L"Get pfnGet(x%x x%x [%s] x%x %d x%x %d %d) R %d E %d", LP(pIniPort->hPort), ControlID,
           LogStr(pValueName), LP(lpInBuffer), cbInBuffer, LP(lpOutBuffer), cbOutBuffer,
           lpcbReturned ? *lpcbReturned : cbReturned, bOk, dwError);
    LeaveGet(pIniPort);
    SetLastError(dwError);
    return bOk;
}

BOOL WINAPI LmGetPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPWSTR pValueName,
                                     LPWSTR lpInBuffer, DWORD cbInBuffer, LPWSTR lpOutBuffer,
                                     DWORD cbOutBuffer, LPDWORD lpcbReturned)
{
    return LogRunEnds(GetFromPort(hPort, ControlID, pValueName, lpInBuffer, cbInBuffer, lpOutBuffer, cbOutBuffer,
                                  lpcbReturned));
}
