#include "sessionstandin.h"
#include <winspool.h>
#include <wtsapi32.h>
#include "importpatch.h"

namespace {

CRITICAL_SECTION g_lock;
bool g_lockReady = false;
std::wstring g_user, g_machine;
std::vector<StandInSession> g_sessions;
ProcessAsUserCall g_last;
ULONG_PTR g_realGetJob = 0, g_realGetProcAddress = 0, g_realCreateProcessAsUser = 0, g_realQueryUserToken = 0;

struct Locked {
    Locked() { EnterCriticalSection(&g_lock); }
    ~Locked() { LeaveCriticalSection(&g_lock); }
};

// The spooler's answer for level 1, built as it builds it: the record, then
// its strings in the caller's buffer. Other levels and a job Wine knows with
// an owner go to Wine.
BOOL WINAPI StandInGetJobW(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD cbBuf, LPDWORD pcbNeeded)
{
    auto real = (BOOL(WINAPI *)(HANDLE, DWORD, DWORD, LPBYTE, DWORD, LPDWORD))g_realGetJob;
    if (Level != 1)
        return real(hPrinter, JobId, Level, pJob, cbBuf, pcbNeeded);
    std::wstring user, machine;
    {
        Locked lock;
        user = g_user;
        machine = g_machine;
    }
    DWORD cbStrings = (DWORD)((user.size() + 1 + machine.size() + 1) * sizeof(WCHAR));
    DWORD cbNeeded = sizeof(JOB_INFO_1W) + cbStrings;
    if (pcbNeeded)
        *pcbNeeded = cbNeeded;
    if (!pJob || cbBuf < cbNeeded) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    JOB_INFO_1W *pInfo = (JOB_INFO_1W *)pJob;
    ZeroMemory(pInfo, sizeof(*pInfo));
    pInfo->JobId = JobId;
    WCHAR *p = (WCHAR *)(pJob + sizeof(JOB_INFO_1W));
    lstrcpyW(p, user.c_str());
    pInfo->pUserName = p;
    p += user.size() + 1;
    lstrcpyW(p, machine.c_str());
    pInfo->pMachineName = p;
    pInfo->Status = JOB_STATUS_PRINTING;
    return TRUE;
}

BOOL WINAPI StandInEnumerateSessionsW(HANDLE, DWORD, DWORD, PWTS_SESSION_INFOW *ppInfo, DWORD *pCount)
{
    Locked lock;
    size_t cb = g_sessions.size() * (sizeof(WTS_SESSION_INFOW) + 16 * sizeof(WCHAR)) + 1;
    BYTE *pb = (BYTE *)LocalAlloc(LPTR, cb);
    if (!pb)
        return FALSE;
    auto *pInfo = (WTS_SESSION_INFOW *)pb;
    WCHAR *pNames = (WCHAR *)(pb + g_sessions.size() * sizeof(WTS_SESSION_INFOW));
    for (size_t i = 0; i < g_sessions.size(); ++i) {
        pInfo[i].SessionId = g_sessions[i].id;
        pInfo[i].State = (WTS_CONNECTSTATE_CLASS)g_sessions[i].state;
        WCHAR *pName = pNames + i * 16;
        lstrcpyW(pName, g_sessions[i].id ? L"Console" : L"Services");
        pInfo[i].pWinStationName = pName;
    }
    *ppInfo = pInfo;
    *pCount = (DWORD)g_sessions.size();
    return TRUE;
}

BOOL WINAPI StandInQuerySessionInformationW(HANDLE, DWORD SessionId, WTS_INFO_CLASS info, LPWSTR *ppBuffer,
                                            DWORD *pcb)
{
    Locked lock;
    for (const StandInSession &s : g_sessions) {
        if (s.id != SessionId)
            continue;
        std::wstring text = info == WTSUserName ? s.user : std::wstring();
        DWORD cb = (DWORD)((text.size() + 1) * sizeof(WCHAR));
        *ppBuffer = (LPWSTR)LocalAlloc(LPTR, cb);
        if (!*ppBuffer)
            return FALSE;
        lstrcpyW(*ppBuffer, text.c_str());
        *pcb = cb;
        return TRUE;
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
}

void WINAPI StandInFreeMemory(PVOID p)
{
    LocalFree(p);
}

// Records the session asked for, and whether the thread impersonated (the
// real call needs the service's own rights), then lets Wine answer.
BOOL WINAPI StandInQueryUserToken(ULONG SessionId, PHANDLE phToken)
{
    HANDLE hThreadToken = nullptr;
    bool impersonating = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &hThreadToken) != FALSE;
    if (hThreadToken)
        CloseHandle(hThreadToken);
    {
        Locked lock;
        g_last.tokenSession = SessionId;
        g_last.tokenWhileImpersonating = impersonating;
    }
    return ((BOOL(WINAPI *)(ULONG, PHANDLE))g_realQueryUserToken)(SessionId, phToken);
}

FARPROC WINAPI StandInGetProcAddress(HMODULE hModule, LPCSTR pszName)
{
    auto real = (FARPROC(WINAPI *)(HMODULE, LPCSTR))g_realGetProcAddress;
    if ((ULONG_PTR)pszName > 0xFFFF) {
        if (!lstrcmpA(pszName, "WTSQueryUserToken")) {
            FARPROC pfn = real(hModule, pszName);
            if (!pfn)
                return nullptr;
            g_realQueryUserToken = (ULONG_PTR)pfn;
            return (FARPROC)StandInQueryUserToken;
        }
        if (!lstrcmpA(pszName, "WTSEnumerateSessionsW"))
            return (FARPROC)StandInEnumerateSessionsW;
        if (!lstrcmpA(pszName, "WTSQuerySessionInformationW"))
            return (FARPROC)StandInQuerySessionInformationW;
        if (!lstrcmpA(pszName, "WTSFreeMemory"))
            return (FARPROC)StandInFreeMemory;
    }
    return real(hModule, pszName);
}

// Records what jobtap asks for, then lets Wine start the process.
BOOL WINAPI StandInCreateProcessAsUserW(HANDLE hToken, LPCWSTR pszApplication, LPWSTR pszCommand,
                                        LPSECURITY_ATTRIBUTES psaProcess, LPSECURITY_ATTRIBUTES psaThread,
                                        BOOL bInherit, DWORD dwFlags, LPVOID pEnvironment, LPCWSTR pszDirectory,
                                        LPSTARTUPINFOW psi, LPPROCESS_INFORMATION ppi)
{
    {
        Locked lock;
        g_last.count++;
        g_last.tokenGiven = hToken != nullptr;
        g_last.inheritHandles = bInherit != FALSE;
        g_last.environmentGiven = pEnvironment != nullptr;
        g_last.flags = dwFlags;
        g_last.desktop = psi && psi->lpDesktop ? psi->lpDesktop : L"";
        g_last.commandLine = pszCommand ? pszCommand : L"";
    }
    auto real = (BOOL(WINAPI *)(HANDLE, LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                                LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION))g_realCreateProcessAsUser;
    return real(hToken, pszApplication, pszCommand, psaProcess, psaThread, bInherit, dwFlags, pEnvironment,
                pszDirectory, psi, ppi);
}

} // namespace

namespace SessionStandIn {

std::wstring ThisUser()
{
    WCHAR name[256] = L"";
    DWORD cch = 256;
    GetUserNameW(name, &cch);
    return name;
}

std::wstring ThisMachine()
{
    WCHAR name[256] = L"";
    DWORD cch = 256;
    GetComputerNameW(name, &cch);
    return std::wstring(L"\\\\") + name;
}

void Reset()
{
    DWORD session = 1;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    Locked lock;
    g_user = ThisUser();
    g_machine = ThisMachine();
    g_sessions = {{0, WTSDisconnected, L""}, {session, WTSActive, g_user}};
    g_last = ProcessAsUserCall();
}

bool Install(HMODULE hJobtap)
{
    if (!g_lockReady) {
        InitializeCriticalSection(&g_lock);
        g_lockReady = true;
        Reset();
    }
    // A module patched before (a second Load of the same DLL) hands back the
    // stand-in itself: the real function stays the one found first.
    const struct {
        const char *dll, *name;
        ULONG_PTR standIn;
        ULONG_PTR *real;
    } patches[] = {
        {"WINSPOOL.DRV", "GetJobW", (ULONG_PTR)StandInGetJobW, &g_realGetJob},
        {"KERNEL32.DLL", "GetProcAddress", (ULONG_PTR)StandInGetProcAddress, &g_realGetProcAddress},
        {"ADVAPI32.DLL", "CreateProcessAsUserW", (ULONG_PTR)StandInCreateProcessAsUserW, &g_realCreateProcessAsUser},
    };
    int n = 0;
    for (const auto &patch : patches) {
        ULONG_PTR old = 0;
        if (!PatchImport(hJobtap, patch.dll, patch.name, patch.standIn, &old))
            continue;
        ++n;
        if (old != patch.standIn)
            *patch.real = old;
    }
    return n == 3;
}

void SetOwner(const std::wstring &user, const std::wstring &machine)
{
    Locked lock;
    g_user = user;
    g_machine = machine;
}

void SetSessions(const std::vector<StandInSession> &sessions)
{
    Locked lock;
    g_sessions = sessions;
}

ProcessAsUserCall LastCall()
{
    Locked lock;
    return g_last;
}

} // namespace SessionStandIn
