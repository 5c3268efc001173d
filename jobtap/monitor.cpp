// Library entry, the monitor table, the list of open ports and the memory
// helpers. Nothing is released at unload: the globals live as long as the
// spooler process.
#include "jobtap.h"

LPWSTR g_RegistryRoot;
LPWSTR g_LmName;
IniPort *g_PortList;
CRITICAL_SECTION g_PortListLock;

static MONITOREX g_MonitorEx = {
    sizeof(MONITOR),
    {
        NULL,                       // pfnEnumPorts
        NULL,                       // pfnOpenPort
        LmOpenPortEx,
        LmStartDocPort,
        LmWritePort,
        LmReadPort,
        LmEndDocPort,
        LmClosePort,
        NULL,                       // pfnAddPort
        NULL,                       // pfnAddPortEx
        NULL,                       // pfnConfigurePort
        NULL,                       // pfnDeletePort
        LmGetPrinterDataFromPort,
        NULL,                       // pfnSetPortTimeOuts
        NULL,                       // pfnXcvOpenPort
        NULL,                       // pfnXcvDataPort
        NULL,                       // pfnXcvClosePort
    },
};

LPVOID AllocSplMem(DWORD cb)
{
    return (LPVOID)GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, cb ? cb : 1);
}

/* Heap copy of a wide string, terminator included; null for null or no memory. */
LPWSTR AllocSplStr(LPCWSTR psz)
{
    if (!psz)
        return NULL;
    DWORD cb = (lstrlenW(psz) + 1) * sizeof(WCHAR);
    LPWSTR pszCopy = (LPWSTR)AllocSplMem(cb);
    if (pszCopy)
        memcpy(pszCopy, psz, cb);
    return pszCopy;
}

BOOL FreeSplMem(LPVOID p)
{
    if (p)
        GlobalFree((HGLOBAL)p);
    return TRUE;
}

/* A port handle is usable when it is non-null and carries the signature. */
BOOL IsValidPort(const IniPort *pIniPort)
{
    return pIniPort && pIniPort->dwSignature == INIPORT_SIGNATURE;
}

/* Caller holds g_PortListLock. Null or empty names find nothing. */
IniPort *FindPortEntry(LPCWSTR pszPortName)
{
    if (!pszPortName || !*pszPortName)
        return NULL;
    for (IniPort *p = g_PortList; p; p = p->pNext)
        if (lstrcmpiW(p->pszPortName, pszPortName) == 0)
            return p;
    return NULL;
}

/* Caller holds g_PortListLock. Appends a new record at the end of the list. */
IniPort *CreatePortEntry(LPCWSTR pszPortName)
{
    IniPort *pIniPort = (IniPort *)AllocSplMem(sizeof(IniPort));
    if (!pIniPort)
        return NULL;
    pIniPort->pszPortName = AllocSplStr(pszPortName);
    if (!pIniPort->pszPortName) {
        FreeSplMem(pIniPort);
        return NULL;
    }
    pIniPort->dwSignature = INIPORT_SIGNATURE;
    pIniPort->cRefs = 1;
    IniPort **ppLink = &g_PortList;
    while (*ppLink)
        ppLink = &(*ppLink)->pNext;
    *ppLink = pIniPort;
    return pIniPort;
}

BOOL IsOpenPortEntry(const IniPort *pIniPort)
{
    BOOL bOpen = FALSE;
    EnterCriticalSection(&g_PortListLock);
    for (const IniPort *p = g_PortList; p; p = p->pNext) {
        if (p == pIniPort) {
            bOpen = IsValidPort(p) && !p->bDeleted;
            break;
        }
    }
    LeaveCriticalSection(&g_PortListLock);
    return bOpen;
}

BOOL EnterGet(IniPort *pIniPort)
{
    BOOL bEntered = FALSE;
    EnterCriticalSection(&g_PortListLock);
    for (IniPort *p = g_PortList; p; p = p->pNext) {
        if (p == pIniPort && IsValidPort(p) && !p->bClosing) {
            InterlockedIncrement(&p->cRefs);
            bEntered = TRUE;
            break;
        }
    }
    LeaveCriticalSection(&g_PortListLock);
    return bEntered;
}

BOOL ClosePortBelow(IniPort *pIniPort)
{
    BOOL bOk = pIniPort->Monitor.pfnClosePort(pIniPort->hPort);
    DWORD dwError = GetLastError();
    (bOk ? LogDbg : LogErr)(L"Close pfnClose R %d E %d", bOk, dwError);
    if (bOk)
        pIniPort->hPort = NULL;
    SetLastError(dwError);
    return bOk;
}

/* Drops one reference; the last one closes the port below if Close left it
 * open for a Get or a worker still running on it, closes the channel if a
 * stuck worker kept it, takes the record out of g_PortList (where a put-off
 * close kept it, so that the port's name stays taken until its port below is
 * closed) and frees it. The caller does not hold g_PortListLock. */
void ReleasePortEntry(IniPort *pIniPort)
{
    if (InterlockedDecrement(&pIniPort->cRefs) != 0)
        return;
    if (pIniPort->hPort && !ClosePortBelow(pIniPort))
        pIniPort->hPort = NULL;          // refused: nobody is left to close it again
    CloseStatusChannel(pIniPort);
    CloseExitEvent(pIniPort, L"DeletePortEntry CloseHandle_Exit R %d E %d");
    EnterCriticalSection(&g_PortListLock);
    IniPort **ppLink = &g_PortList;
    while (*ppLink && *ppLink != pIniPort)
        ppLink = &(*ppLink)->pNext;
    if (*ppLink)
        *ppLink = pIniPort->pNext;
    LeaveCriticalSection(&g_PortListLock);
    FreeSplMem(pIniPort->pSecurity);
    FreeSplMem(pIniPort->pszPrinterName);
    FreeSplMem(pIniPort->pszPortName);
    pIniPort->dwSignature = 0;
    FreeSplMem(pIniPort);
}

void LeaveGet(IniPort *pIniPort)
{
    ReleasePortEntry(pIniPort);
}

BOOL HoldGets(IniPort *pIniPort, BOOL bHold)
{
    EnterCriticalSection(&g_PortListLock);
    pIniPort->bClosing = bHold;
    BOOL bNoGet = InterlockedCompareExchange(&pIniPort->cRefs, 0, 0) == 1;
    LeaveCriticalSection(&g_PortListLock);
    return bNoGet;
}

/* Takes the record out of g_PortList under g_PortListLock, unless its port
 * below is still open (a close put off for a running Get or a stuck worker):
 * then the record stays listed, marked, and an Open of the same port is
 * refused until the last reference closes the port below (ReleasePortEntry).
 * Outside the lock it stops the StatusThread if one still runs, closes the
 * channel (unless a stuck worker still uses it) and the filter, and gives up
 * the port's own reference. Close never waits for a device that does not
 * answer. The caller does not hold the lock. FALSE, touching nothing, when
 * the record is not in the list or its deletion already ran. */
BOOL DeletePortEntry(IniPort *pIniPort)
{
    LogDbg(L"DeletePortEntry(x%x)", LP(pIniPort));

    EnterCriticalSection(&g_PortListLock);
    IniPort **ppLink = &g_PortList;
    while (*ppLink && *ppLink != pIniPort)
        ppLink = &(*ppLink)->pNext;
    BOOL bListed = pIniPort && *ppLink && !pIniPort->bDeleted;
    if (bListed) {
        pIniPort->bDeleted = TRUE;
        pIniPort->bClosing = TRUE;
        if (!pIniPort->hPort)
            *ppLink = pIniPort->pNext;
    }
    LeaveCriticalSection(&g_PortListLock);
    if (!bListed)
        return FALSE;

    if (StopStatusThread(pIniPort))
        CloseStatusChannel(pIniPort);
    if (pIniPort->hFilter)
        UnloadFilter(pIniPort, L"Close FreeLibrary R %d E %d");
    ReleasePortEntry(pIniPort);
    return TRUE;
}

/* DllEntryPoint: at the first process attach turns off thread notifications
 * and sets up g_PortListLock, before any thread can call the table; lets the
 * log file go when the library is unloaded; TRUE for every reason. A
 * repeated attach touches nothing. */
extern "C" __declspec(dllexport) BOOL WINAPI DllEntryPoint(HINSTANCE hInstance, DWORD dwReason, LPVOID pReserved)
{
    static LONG s_bAttached;
    if (dwReason == DLL_PROCESS_ATTACH && InterlockedExchange(&s_bAttached, 1) == 0) {
        DisableThreadLibraryCalls(hInstance);
        InitializeCriticalSection(&g_PortListLock);
    }
    // Unloaded while the process goes on: the log file kept open for a run
    // of lines is let go, or it would stay open (and undeletable) for good;
    // so is the log's lock section.
    if (dwReason == DLL_PROCESS_DETACH && !pReserved)
        LogUnload();
    return TRUE;
}

// The C runtime's start-up code calls DllMain; it forwards to the export.
extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pReserved)
{
    return DllEntryPoint(hInstance, dwReason, pReserved);
}

/* InitializePrintMonitor: the first successful call keeps the registry root
 * and the monitor's name (its last component) for the life of the process
 * (running ports use them; they are never freed) and hands the spooler the
 * table. A later call with the same root (case aside) hands out the same
 * table; one with another root is refused with ERROR_ALREADY_INITIALIZED.
 * Null with the last error set when the root is unusable. Calls on several
 * threads at once are serialised by g_PortListLock. */
static LPMONITOREX InitMonitor(LPWSTR pszRegistryRoot)
{
    LogDbg(L"Init([%s]) Process=%d Thread=%d &psz=x%x", LogStr(pszRegistryRoot),
           GetCurrentProcessId(), GetCurrentThreadId(), LP(&g_RegistryRoot));

    if (!pszRegistryRoot || !*pszRegistryRoot) {
        LogErr(L"Init pszRegistryRoot x%x *pszRegistryRoot x%x", LP(pszRegistryRoot), 0);
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }

    LPCWSTR pszLast = NULL;
    for (LPCWSTR p = pszRegistryRoot; *p; ++p)
        if (*p == L'\\')
            pszLast = p;
    if (!pszLast) {
        LogErr(L"Init FindLmName [%s]", pszRegistryRoot);
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }

    LPMONITOREX pMonitorEx = NULL;
    EnterCriticalSection(&g_PortListLock);
    if (g_RegistryRoot) {
        if (lstrcmpiW(g_RegistryRoot, pszRegistryRoot) == 0) {
            LogDbg(L"Init LM [%s]", g_LmName);
            pMonitorEx = &g_MonitorEx;
        } else {
            LogErr(L"Init [%s] Already [%s]", pszRegistryRoot, g_RegistryRoot);
            SetLastError(ERROR_ALREADY_INITIALIZED);
        }
        LeaveCriticalSection(&g_PortListLock);
        return pMonitorEx;
    }

    LPWSTR pszRoot = AllocSplStr(pszRegistryRoot);
    LPWSTR pszLmName = pszRoot ? AllocSplStr(pszLast + 1) : NULL;
    if (!pszRoot) {
        LogErr(L"Init AllocSplStr [%s]", pszRegistryRoot);
    } else if (!pszLmName) {
        LogErr(L"Init AllocSplStr [%s]", pszLast + 1);
        FreeSplMem(pszRoot);
    } else {
        g_LmName = pszLmName;
        g_RegistryRoot = pszRoot;
        LogDbg(L"Init LM [%s]", g_LmName);
        pMonitorEx = &g_MonitorEx;
    }
    LeaveCriticalSection(&g_PortListLock);
    if (!pMonitorEx)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return pMonitorEx;
}

extern "C" __declspec(dllexport) LPMONITOREX WINAPI InitializePrintMonitor(LPWSTR pszRegistryRoot)
{
    LPMONITOREX pMonitorEx = InitMonitor(pszRegistryRoot);
    LogRunEnds(TRUE);
    return pMonitorEx;
}
