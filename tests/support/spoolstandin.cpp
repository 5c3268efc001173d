#include "spoolstandin.h"
#include "importpatch.h"
#include "windowdriver.h"
#include <winspool.h>
#include <string.h>
#include <algorithm>

namespace {

// What the stand-in was told and what it saw; the library calls it on its
// sheet's thread while a test reads it on its own.
struct StandInState {
    volatile LONG bUserRights;
    volatile LONG nFailAt;       // WritePrinter call number that fails; 0 none
    volatile LONG dwFailError;
    volatile LONG nWrites;
    volatile LONG nWritesAfterFailure;
    volatile LONG nAborts;
    volatile LONG nEndDocs;
    volatile LONG nRefusedOpens;
    volatile LONG nEnumPortsSizeFailures;  // EnumPortsA size calls still to fail
    volatile LONG nEnumPortsFillFailures;  // EnumPortsA fills still to fail
    volatile LONG dwEnumPortsError;
    volatile LONG nEnumPortsCalls;
    volatile LONG nRefusedChanges;   // SetPrinterW and SetPrinterDataW refused for their rights
    volatile LONG nUserDefaults;     // SetPrinterW level 9 calls
    volatile LONG bRefuseUserDefaults;
};
// The device mode of the last level 9 call, whole (with its private part).
BYTE g_userDefault[4096];
volatile LONG g_cbUserDefault;
StandInState g_state;

// Rights a user without administer rights is given on a queue.
const DWORD kUserRights = PRINTER_ACCESS_USE | READ_CONTROL | SYNCHRONIZE | GENERIC_READ | GENERIC_EXECUTE;

BOOL WINAPI StandInOpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault)
{
    DWORD dwAccess = pDefault ? pDefault->DesiredAccess : PRINTER_ACCESS_USE;
    if (g_state.bUserRights && (dwAccess & ~kUserRights)) {
        InterlockedIncrement(&g_state.nRefusedOpens);
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return OpenPrinterW(pPrinterName, phPrinter, pDefault);
}

BOOL WINAPI StandInWritePrinter(HANDLE hPrinter, LPVOID pBuf, DWORD cbBuf, LPDWORD pcWritten)
{
    LONG n = InterlockedIncrement(&g_state.nWrites);
    LONG nFailAt = g_state.nFailAt;
    if (nFailAt && n > nFailAt)
        InterlockedIncrement(&g_state.nWritesAfterFailure);
    if (n == nFailAt) {
        if (pcWritten)
            *pcWritten = 0;
        SetLastError((DWORD)g_state.dwFailError);
        return FALSE;
    }
    return WritePrinter(hPrinter, pBuf, cbBuf, pcWritten);
}

BOOL WINAPI StandInAbortPrinter(HANDLE hPrinter)
{
    InterlockedIncrement(&g_state.nAborts);
    return AbortPrinter(hPrinter);
}

BOOL WINAPI StandInEndDocPrinter(HANDLE hPrinter)
{
    InterlockedIncrement(&g_state.nEndDocs);
    return EndDocPrinter(hPrinter);
}

// A user without administer rights may not change the printer (its
// settings, its shared default device mode, its data), only keep a device
// mode of their own (level 9). That one the stand-in keeps itself: Wine's
// level 9 writes the printer's shared default (it has no per-user one).
BOOL WINAPI StandInSetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD Command)
{
    if (Level == 9 && g_state.bRefuseUserDefaults) {
        InterlockedIncrement(&g_state.nRefusedChanges);
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (Level == 9 && pPrinter) {
        const DEVMODEW *pdm = ((PRINTER_INFO_9W *)pPrinter)->pDevMode;
        LONG cb = pdm ? (LONG)std::min<DWORD>(pdm->dmSize + pdm->dmDriverExtra, sizeof(g_userDefault)) : 0;
        if (pdm)
            memcpy(g_userDefault, pdm, cb);
        InterlockedExchange(&g_cbUserDefault, cb);
        InterlockedIncrement(&g_state.nUserDefaults);
        return TRUE;
    }
    if (g_state.bUserRights) {
        InterlockedIncrement(&g_state.nRefusedChanges);
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return SetPrinterW(hPrinter, Level, pPrinter, Command);
}

DWORD WINAPI StandInSetPrinterDataW(HANDLE hPrinter, LPWSTR pValueName, DWORD Type, LPBYTE pData, DWORD cbData)
{
    if (g_state.bUserRights) {
        InterlockedIncrement(&g_state.nRefusedChanges);
        return ERROR_ACCESS_DENIED;
    }
    return SetPrinterDataW(hPrinter, pValueName, Type, pData, cbData);
}

typedef BOOL(WINAPI *PFN_ENUMPORTSA)(LPSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD);

// Takes one of the failures still owed, if any.
bool TakeFailure(volatile LONG *pnLeft)
{
    for (LONG n = *pnLeft; n > 0; n = *pnLeft) {
        if (InterlockedCompareExchange(pnLeft, n - 1, n) == n)
            return true;
    }
    return false;
}

BOOL WINAPI StandInEnumPortsA(LPSTR pName, DWORD dwLevel, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded,
                              LPDWORD pcReturned)
{
    InterlockedIncrement(&g_state.nEnumPortsCalls);
    auto pfnEnumPorts = (PFN_ENUMPORTSA)GetProcAddress(GetModuleHandleA("winspool.drv"), "EnumPortsA");
    if (!TakeFailure(pPorts ? &g_state.nEnumPortsFillFailures : &g_state.nEnumPortsSizeFailures))
        return pfnEnumPorts(pName, dwLevel, pPorts, cbBuf, pcbNeeded, pcReturned);
    DWORD cbNeeded = 0, cReturned = 0;
    if (pPorts)
        pfnEnumPorts(pName, dwLevel, NULL, 0, &cbNeeded, &cReturned);
    *pcbNeeded = cbNeeded;
    *pcReturned = 0;
    SetLastError((DWORD)g_state.dwEnumPortsError);
    return FALSE;
}

struct Replacement {
    const char *pszName;
    ULONG_PTR pfnStandIn;
    ULONG_PTR pfnOriginal;  // the slot's value before the stand-in came
};
Replacement g_replacements[] = {
    {"OpenPrinterW", (ULONG_PTR)StandInOpenPrinterW, 0},
    {"WritePrinter", (ULONG_PTR)StandInWritePrinter, 0},
    {"AbortPrinter", (ULONG_PTR)StandInAbortPrinter, 0},
    {"EndDocPrinter", (ULONG_PTR)StandInEndDocPrinter, 0},
    {"EnumPortsA", (ULONG_PTR)StandInEnumPortsA, 0},
    {"SetPrinterW", (ULONG_PTR)StandInSetPrinterW, 0},
    {"SetPrinterDataW", (ULONG_PTR)StandInSetPrinterDataW, 0},
};

// Points every winspool import of hModule that has a replacement at the
// stand-in (bInstall) or back at Wine's function; the number of slots changed.
int PatchImports(HMODULE hModule, bool bInstall)
{
    int nPatched = 0;
    for (Replacement &r : g_replacements)
        nPatched += PatchImport(hModule, "WINSPOOL.DRV", r.pszName, bInstall ? r.pfnStandIn : r.pfnOriginal,
                                bInstall ? &r.pfnOriginal : NULL);
    return nPatched;
}

}  // namespace

SpoolerStandIn::SpoolerStandIn(HMODULE hLibrary) : m_hLibrary(hLibrary)
{
    ZeroMemory((void *)&g_state, sizeof(g_state));
    g_cbUserDefault = 0;
    m_installed = hLibrary && PatchImports(hLibrary, true) > 0;
}

SpoolerStandIn::~SpoolerStandIn()
{
    if (m_installed)
        PatchImports(m_hLibrary, false);
}

void SpoolerStandIn::UserWithoutAdministerRights() { InterlockedExchange(&g_state.bUserRights, 1); }

void SpoolerStandIn::FailWrite(LONG nth, DWORD dwError)
{
    InterlockedExchange(&g_state.dwFailError, (LONG)dwError);
    InterlockedExchange(&g_state.nFailAt, g_state.nWrites + nth);
}

void SpoolerStandIn::FailEnumPorts(bool bFill, LONG nTimes, DWORD dwError)
{
    InterlockedExchange(&g_state.dwEnumPortsError, (LONG)dwError);
    InterlockedExchange(bFill ? &g_state.nEnumPortsFillFailures : &g_state.nEnumPortsSizeFailures, nTimes);
}

LONG SpoolerStandIn::EnumPortsCalls() const { return g_state.nEnumPortsCalls; }

LONG SpoolerStandIn::Writes() const { return g_state.nWrites; }
LONG SpoolerStandIn::WritesAfterFailure() const { return g_state.nWritesAfterFailure; }
LONG SpoolerStandIn::Aborts() const { return g_state.nAborts; }
LONG SpoolerStandIn::EndDocs() const { return g_state.nEndDocs; }
LONG SpoolerStandIn::RefusedOpens() const { return g_state.nRefusedOpens; }

bool SpoolerStandIn::WaitForWrites(LONG n, DWORD timeoutMs) const
{
    return WaitUntil([&] { return g_state.nWrites >= n; }, timeoutMs);
}

LONG SpoolerStandIn::RefusedChanges() const { return g_state.nRefusedChanges; }
void SpoolerStandIn::RefuseUserDefaults() { InterlockedExchange(&g_state.bRefuseUserDefaults, 1); }
LONG SpoolerStandIn::UserDefaults() const { return g_state.nUserDefaults; }
std::vector<BYTE> SpoolerStandIn::LastUserDefault() const
{
    return std::vector<BYTE>(g_userDefault, g_userDefault + g_cbUserDefault);
}
