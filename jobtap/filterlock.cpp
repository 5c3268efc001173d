// One job at a time per filter library. The library's five entry points
// carry no context, so two ports printing through the same library at once
// would mix their data inside it; the second job's StartDoc waits for the
// first job's EndDoc instead, with a bound.
#include "jobtap.h"

struct FilterHold {
    FilterHold *pNext;
    HMODULE hModule;
    IniPort *pOwner;
};

static FilterHold *g_FilterHolds;   // guarded by g_PortListLock

/* Takes hModule for pIniPort when no other port's job holds it; caller holds
 * g_PortListLock. FALSE while another holds it. */
static BOOL TryHold(IniPort *pIniPort, HMODULE hModule, FilterHold **ppFree)
{
    for (FilterHold *p = g_FilterHolds; p; p = p->pNext)
        if (p->hModule == hModule && p->pOwner != pIniPort)
            return FALSE;
    FilterHold *pHold = *ppFree;
    *ppFree = NULL;
    pHold->hModule = hModule;
    pHold->pOwner = pIniPort;
    pHold->pNext = g_FilterHolds;
    g_FilterHolds = pHold;
    return TRUE;
}

BOOL AcquireFilterModule(IniPort *pIniPort, HMODULE hModule)
{
    FilterHold *pFree = (FilterHold *)AllocSplMem(sizeof(FilterHold));
    if (!pFree) {
        DWORD dwError = GetLastError();
        LogErr(L"Start AllocSplMem(%d) R x%x E %d", (int)sizeof(FilterHold), 0, dwError);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    DWORD dwStart = GetTickCount();
    for (;;) {
        EnterCriticalSection(&g_PortListLock);
        BOOL bHeld = TryHold(pIniPort, hModule, &pFree);
        LeaveCriticalSection(&g_PortListLock);
        if (bHeld)
            return TRUE;
        if (GetTickCount() - dwStart >= FILTER_WAIT_MS) {
            FreeSplMem(pFree);
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
        if ((*pp)->pOwner == pIniPort) {
            pFound = *pp;
            *pp = pFound->pNext;
            break;
        }
    }
    LeaveCriticalSection(&g_PortListLock);
    FreeSplMem(pFound);
}
