#include "regstandin.h"
#include "importpatch.h"

namespace {

struct StandInState {
    const char *volatile pszFailName;
    volatile LONG dwFailError;
    volatile LONG nRefused;
};
StandInState g_state;
ULONG_PTR g_pfnOriginal;

LONG WINAPI StandInRegSetValueExA(HKEY hKey, LPCSTR pszValueName, DWORD dwReserved, DWORD dwType,
                                  const BYTE *pData, DWORD cbData)
{
    const char *pszFail = g_state.pszFailName;
    if (pszFail && pszValueName && !lstrcmpiA(pszFail, pszValueName)) {
        InterlockedIncrement(&g_state.nRefused);
        return g_state.dwFailError;
    }
    // Through the saved slot: this program's own call would come back here.
    return ((decltype(&RegSetValueExA))g_pfnOriginal)(hKey, pszValueName, dwReserved, dwType, pData, cbData);
}

}  // namespace

RegistryStandIn::RegistryStandIn()
{
    ZeroMemory((void *)&g_state, sizeof(g_state));
    m_installed = PatchImport(GetModuleHandleA(NULL), "ADVAPI32.DLL", "RegSetValueExA",
                              (ULONG_PTR)StandInRegSetValueExA, &g_pfnOriginal) > 0;
}

RegistryStandIn::~RegistryStandIn()
{
    if (m_installed)
        PatchImport(GetModuleHandleA(NULL), "ADVAPI32.DLL", "RegSetValueExA", g_pfnOriginal, NULL);
}

void RegistryStandIn::FailSetValue(const char *pszValueName, DWORD dwError)
{
    InterlockedExchange(&g_state.dwFailError, (LONG)dwError);
    g_state.pszFailName = pszValueName;
}

LONG RegistryStandIn::Refused() const { return g_state.nRefused; }
