// One job at a time per filter library. The library's five entry points
// carry no context, so two ports printing through the same library at once
// would mix their data inside it; the second job's StartDoc waits for the
// first job's EndDoc instead, with a bound.
#include "jobtap.h"

// One record per port that holds or waits for a module, in the order of
// arrival: the first record of a module holds it, the others wait their turn.
// A port that gives the module up and comes back for its next job queues
// behind the ports already waiting.
struct FilterHold {
    FilterHold *pNext;
    HMODULE hModule;
    IniPort *pOwner;
};

static FilterHold *g_FilterHolds;   // guarded by g_PortListLock

/* The record that holds hModule (its first), or null; caller holds
 * g_PortListLock. */
static FilterHold *HolderOf(HMODULE hModule)
{
    for (FilterHold *p = g_FilterHolds; p; p = p->pNext)
        if (p->hModule == hModule)
            return p;
    return NULL;
}

BOOL AcquireFilterModule(IniPort *pIniPort, HMODULE hModule)
{
    FilterHold *pHold = (FilterHold *)AllocSplMem(sizeof(FilterHold));
    if (!pHold) {
        DWORD dwError = GetLastError();
        LogErr(L"Start AllocSplMem(%d) R x%x E %d", (int)sizeof(FilterHold), 0, dwError);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    pHold->hModule = hModule;
    pHold->pOwner = pIniPort;
    EnterCriticalSection(&g_PortListLock);
    FilterHold *pHolder = HolderOf(hModule);
    BOOL bHeld = pHolder && pHolder->pOwner == pIniPort;    // this port has it already
    if (!bHeld) {
        FilterHold **ppLink = &g_FilterHolds;
        while (*ppLink)
            ppLink = &(*ppLink)->pNext;
        *ppLink = pHold;
    }
    LeaveCriticalSection(&g_PortListLock);
    if (bHeld) {
        FreeSplMem(pHold);
        return TRUE;
    }
    DWORD dwStart = GetTickCount();
    for (;;) {
        EnterCriticalSection(&g_PortListLock);
        bHeld = HolderOf(hModule) == pHold;
        BOOL bTimedOut = !bHeld && GetTickCount() - dwStart >= FILTER_WAIT_MS;
        if (bTimedOut) {
            FilterHold **ppLink = &g_FilterHolds;
            while (*ppLink != pHold)
                ppLink = &(*ppLink)->pNext;
            *ppLink = pHold->pNext;
        }
        LeaveCriticalSection(&g_PortListLock);
        if (bHeld)
            return TRUE;
        if (bTimedOut) {
            FreeSplMem(pHold);
            SetLastError(ERROR_BUSY);
            return FALSE;
        }
        Sleep(10);
    }
}

void ReleaseFilterModule(IniPort *pIniPort)
{
    FilterHold *pFound = NULL;
    EnterCriticalSection(&g_PortListLock);
    for (FilterHold **pp = &g_FilterHolds; *pp; pp = &(*pp)->pNext) {
        if ((*pp)->pOwner == pIniPort && HolderOf((*pp)->hModule) == *pp) {   // held, not waited for
            pFound = *pp;
            *pp = pFound->pNext;
            break;
        }
    }
    LeaveCriticalSection(&g_PortListLock);
    FreeSplMem(pFound);
}
