// The status program of a port: the one started per port name, kept past
// the port's Close, and its start at a job. On Windows 2000 and XP it starts
// in the spooler's session as the design has it; on Vista and later, where
// the spooler runs in session 0 that no user sees, in the session of the
// job's owner, with that user's token and environment, or not at all.
#include "jobtap.h"
#include <wtsapi32.h>

// The status programs started, one per port name, kept past the port's Close
// so that a program still running (or still showing why it could not start)
// is not joined by another at every job. The list owns both handles of each
// program (the StatusBlock publishes their values) and closes them only when
// a later program of the port replaces them. Guarded by g_PortListLock.
struct StatusProgram {
    StatusProgram *pNext;
    LPWSTR pszPortName;
    HANDLE hProcess;
    HANDLE hThread;
};
static StatusProgram *g_StatusPrograms;

BOOL StatusProgramRunning(LPCWSTR pszPortName)
{
    BOOL bRunning = FALSE;
    EnterCriticalSection(&g_PortListLock);
    for (StatusProgram *p = g_StatusPrograms; p; p = p->pNext)
        if (lstrcmpiW(p->pszPortName, pszPortName) == 0)
            bRunning = WaitForSingleObject(p->hProcess, 0) == WAIT_TIMEOUT;
    LeaveCriticalSection(&g_PortListLock);
    return bRunning;
}

BOOL KeepStatusProgram(LPCWSTR pszPortName, HANDLE hProcess, HANDLE hThread)
{
    StatusProgram *pNew = (StatusProgram *)AllocSplMem(sizeof(StatusProgram));
    LPWSTR pszName = AllocSplStr(pszPortName);
    HANDLE ahOld[2] = {hProcess, hThread};    // closed below unless kept
    EnterCriticalSection(&g_PortListLock);
    StatusProgram **pp = &g_StatusPrograms;
    while (*pp && lstrcmpiW((*pp)->pszPortName, pszPortName) != 0)
        pp = &(*pp)->pNext;
    if (*pp) {
        ahOld[0] = (*pp)->hProcess;             // it has ended
        ahOld[1] = (*pp)->hThread;
        (*pp)->hProcess = hProcess;
        (*pp)->hThread = hThread;
    } else if (pNew && pszName) {
        pNew->pszPortName = pszName;
        pNew->hProcess = hProcess;
        pNew->hThread = hThread;
        *pp = pNew;
        pNew = NULL;
        pszName = NULL;
        ahOld[0] = ahOld[1] = NULL;
    }
    LeaveCriticalSection(&g_PortListLock);
    BOOL bKept = ahOld[0] != hProcess;
    for (HANDLE h : ahOld) {
        if (!h)
            continue;
        BOOL bOk = CloseHandle(h);
        DWORD dwError = GetLastError();
        (bOk ? LogDbg : LogErr)(L"Start CloseHandle x%x R %d E %d", LP(h), bOk, dwError);
    }
    FreeSplMem(pNew);
    FreeSplMem(pszName);
    return bKept;
}

typedef BOOL(WINAPI *PFN_WTSENUMERATESESSIONSW)(HANDLE, DWORD, DWORD, PWTS_SESSION_INFOW *, DWORD *);
typedef BOOL(WINAPI *PFN_WTSQUERYSESSIONINFORMATIONW)(HANDLE, DWORD, WTS_INFO_CLASS, LPWSTR *, DWORD *);
typedef BOOL(WINAPI *PFN_WTSQUERYUSERTOKEN)(ULONG, PHANDLE);
typedef void(WINAPI *PFN_WTSFREEMEMORY)(PVOID);
typedef BOOL(WINAPI *PFN_CREATEENVIRONMENTBLOCK)(LPVOID *, HANDLE, BOOL);
typedef BOOL(WINAPI *PFN_DESTROYENVIRONMENTBLOCK)(LPVOID);

// The session calls, looked up at run time in the system's own libraries
// (Windows 2000 lacks WTSQueryUserToken). Load fills what it finds; Free
// gives the libraries back.
struct SessionCalls {
    HMODULE hWtsapi;
    HMODULE hUserenv;
    PFN_WTSENUMERATESESSIONSW pfnEnumerateSessions;
    PFN_WTSQUERYSESSIONINFORMATIONW pfnQuerySessionInformation;
    PFN_WTSQUERYUSERTOKEN pfnQueryUserToken;
    PFN_WTSFREEMEMORY pfnFreeMemory;
    PFN_CREATEENVIRONMENTBLOCK pfnCreateEnvironmentBlock;
    PFN_DESTROYENVIRONMENTBLOCK pfnDestroyEnvironmentBlock;
};

/* Into *pbApart: TRUE on Vista and later (NT 6 on), where the spooler's
 * session is no user's. FALSE, after an error line, when the version cannot
 * be read: then nothing may start, lest a SYSTEM window start where nobody
 * sees it. */
static BOOL SessionsApart(BOOL *pbApart)
{
    OSVERSIONINFOW osvi;
    ZeroMemory(&osvi, sizeof(osvi));
    osvi.dwOSVersionInfoSize = sizeof(osvi);
    if (!GetVersionExW(&osvi)) {
        LogErr(L"Start GetVersionEx R %d E %d", 0, GetLastError());
        return FALSE;
    }
    *pbApart = osvi.dwPlatformId == VER_PLATFORM_WIN32_NT && osvi.dwMajorVersion >= 6;
    return TRUE;
}

/* LoadLibraryW of pszName in the system directory (never by search path);
 * the module or NULL, logged. */
static HMODULE LoadSystemLibrary(LPCWSTR pszName)
{
    WCHAR szPath[MAX_PATH];
    UINT cch = GetSystemDirectoryW(szPath, MAX_PATH);
    if (!cch || cch + 1 + lstrlenW(pszName) >= MAX_PATH) {
        LogErr(L"Start GetSystemDirectory R %d E %d", cch, GetLastError());
        return NULL;
    }
    lstrcatW(szPath, L"\\");
    lstrcatW(szPath, pszName);
    HMODULE hModule = LoadLibraryW(szPath);
    DWORD dwError = GetLastError();
    (hModule ? LogDbg : LogErr)(L"Start LoadLibrary([%s]) R x%x E %d", szPath, LP(hModule), dwError);
    return hModule;
}

static void FreeSessionCalls(SessionCalls *pCalls)
{
    HMODULE ahModules[] = {pCalls->hWtsapi, pCalls->hUserenv};
    for (HMODULE hModule : ahModules) {
        if (!hModule)
            continue;
        BOOL bOk = FreeLibrary(hModule);
        DWORD dwError = GetLastError();
        (bOk ? LogDbg : LogErr)(L"Start FreeLibrary x%x R %d E %d", LP(hModule), bOk, dwError);
    }
    ZeroMemory(pCalls, sizeof(*pCalls));
}

/* Fills *pCalls; FALSE (after an error line, nothing left loaded) when a
 * library or a call is missing. */
static BOOL LoadSessionCalls(SessionCalls *pCalls)
{
    ZeroMemory(pCalls, sizeof(*pCalls));
    pCalls->hWtsapi = LoadSystemLibrary(L"wtsapi32.dll");
    pCalls->hUserenv = LoadSystemLibrary(L"userenv.dll");
    if (pCalls->hWtsapi) {
        pCalls->pfnEnumerateSessions =
            (PFN_WTSENUMERATESESSIONSW)GetProcAddress(pCalls->hWtsapi, "WTSEnumerateSessionsW");
        pCalls->pfnQuerySessionInformation =
            (PFN_WTSQUERYSESSIONINFORMATIONW)GetProcAddress(pCalls->hWtsapi, "WTSQuerySessionInformationW");
        pCalls->pfnQueryUserToken = (PFN_WTSQUERYUSERTOKEN)GetProcAddress(pCalls->hWtsapi, "WTSQueryUserToken");
        pCalls->pfnFreeMemory = (PFN_WTSFREEMEMORY)GetProcAddress(pCalls->hWtsapi, "WTSFreeMemory");
    }
    if (pCalls->hUserenv) {
        pCalls->pfnCreateEnvironmentBlock =
            (PFN_CREATEENVIRONMENTBLOCK)GetProcAddress(pCalls->hUserenv, "CreateEnvironmentBlock");
        pCalls->pfnDestroyEnvironmentBlock =
            (PFN_DESTROYENVIRONMENTBLOCK)GetProcAddress(pCalls->hUserenv, "DestroyEnvironmentBlock");
    }
    if (pCalls->pfnEnumerateSessions && pCalls->pfnQuerySessionInformation && pCalls->pfnQueryUserToken &&
        pCalls->pfnFreeMemory && pCalls->pfnCreateEnvironmentBlock && pCalls->pfnDestroyEnvironmentBlock)
        return TRUE;
    LogErr(L"Start GetProcAddress WTSEnumerateSessionsW x%x WTSQuerySessionInformationW x%x WTSQueryUserToken x%x "
           L"WTSFreeMemory x%x CreateEnvironmentBlock x%x DestroyEnvironmentBlock x%x",
           LP(pCalls->pfnEnumerateSessions), LP(pCalls->pfnQuerySessionInformation), LP(pCalls->pfnQueryUserToken),
           LP(pCalls->pfnFreeMemory), LP(pCalls->pfnCreateEnvironmentBlock), LP(pCalls->pfnDestroyEnvironmentBlock));
    FreeSessionCalls(pCalls);
    return FALSE;
}

/* Copies the owner (user name) and the machine the job came from into
 * szUser and szMachine (STATUS_NAME_CCH characters each; empty when the
 * spooler names none), from GetJobW level 1. FALSE after an error line. */
static BOOL ReadJobOwner(LPCWSTR pszPrinterName, DWORD JobId, LPWSTR szUser, LPWSTR szMachine)
{
    szUser[0] = szMachine[0] = 0;
    HANDLE hPrinter = NULL;
    if (!OpenPrinterW((LPWSTR)pszPrinterName, &hPrinter, NULL)) {
        LogErr(L"Start OpenPrinter([%s]) R %d E %d", pszPrinterName, 0, GetLastError());
        return FALSE;
    }
    DWORD cbNeeded = 0;
    GetJobW(hPrinter, JobId, 1, NULL, 0, &cbNeeded);
    DWORD dwError = GetLastError();
    // Slack for a spooler that writes past the size it announced.
    BYTE *pbJob = cbNeeded ? (BYTE *)AllocSplMem(cbNeeded + 64) : NULL;
    BOOL bOk = FALSE;
    if (pbJob) {
        bOk = GetJobW(hPrinter, JobId, 1, pbJob, cbNeeded, &cbNeeded);
        dwError = GetLastError();
    } else if (cbNeeded) {
        dwError = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (bOk) {
        const JOB_INFO_1W *pJob = (const JOB_INFO_1W *)pbJob;
        if (pJob->pUserName)
            lstrcpynW(szUser, pJob->pUserName, STATUS_NAME_CCH);
        if (pJob->pMachineName)
            lstrcpynW(szMachine, pJob->pMachineName, STATUS_NAME_CCH);
    }
    (bOk ? LogDbg : LogErr)(L"Start GetJob(%d) R %d E %d [%s] [%s]", JobId, bOk, dwError, szUser, szMachine);
    FreeSplMem(pbJob);
    BOOL bClosed = ClosePrinter(hPrinter);
    dwError = GetLastError();
    (bClosed ? LogDbg : LogErr)(L"Start ClosePrinter x%x R %d E %d", LP(hPrinter), bClosed, dwError);
    return bOk;
}

/* Whether the machine a job names (as "\\NAME", or none) is this one, by
 * its NetBIOS name, DNS host name or fully qualified DNS name. */
static BOOL IsThisMachine(LPCWSTR pszMachine)
{
    while (*pszMachine == L'\\')
        ++pszMachine;
    if (!*pszMachine)
        return TRUE;
    static const COMPUTER_NAME_FORMAT s_formats[] = {ComputerNameNetBIOS, ComputerNameDnsHostname,
                                                     ComputerNameDnsFullyQualified};
    for (COMPUTER_NAME_FORMAT format : s_formats) {
        WCHAR szName[STATUS_NAME_CCH] = L"";
        DWORD cch = STATUS_NAME_CCH;
        BOOL bOk = GetComputerNameExW(format, szName, &cch);
        DWORD dwError = GetLastError();
        (bOk ? LogDbg : LogErr)(L"Start GetComputerNameEx(%d) R %d E %d [%s]", (int)format, bOk, dwError,
                                bOk ? szName : L"");
        if (bOk && lstrcmpiW(szName, pszMachine) == 0)
            return TRUE;
    }
    return FALSE;
}

/* The active session (not session 0) whose user is pszUser, compared
 * without case; FALSE when there is none. */
static BOOL FindUserSession(const SessionCalls &calls, LPCWSTR pszUser, DWORD *pdwSession)
{
    PWTS_SESSION_INFOW pSessions = NULL;
    DWORD cSessions = 0;
    BOOL bOk = calls.pfnEnumerateSessions(WTS_CURRENT_SERVER_HANDLE, 0, 1, &pSessions, &cSessions);
    DWORD dwError = GetLastError();
    (bOk ? LogDbg : LogErr)(L"Start WTSEnumerateSessions R %d E %d count %d", bOk, dwError, bOk ? cSessions : 0);
    BOOL bFound = FALSE;
    for (DWORD i = 0; bOk && i < cSessions && !bFound; ++i) {
        if (pSessions[i].SessionId == 0 || pSessions[i].State != WTSActive)
            continue;
        LPWSTR pszName = NULL;
        DWORD cbName = 0;
        BOOL bName = calls.pfnQuerySessionInformation(WTS_CURRENT_SERVER_HANDLE, pSessions[i].SessionId, WTSUserName,
                                                      &pszName, &cbName);
        dwError = GetLastError();
        (bName ? LogDbg : LogErr)(L"Start WTSQuerySessionInformation(%d WTSUserName) R %d E %d [%s]",
                                  pSessions[i].SessionId, bName, dwError, bName ? LogStr(pszName) : L"");
        if (bName && pszName && lstrcmpiW(pszName, pszUser) == 0) {
            *pdwSession = pSessions[i].SessionId;
            bFound = TRUE;
        }
        if (pszName)
            calls.pfnFreeMemory(pszName);
    }
    if (pSessions)
        calls.pfnFreeMemory(pSessions);
    return bFound;
}

/* Vista and later: starts pszProgram with szCommand in the session of the
 * job's owner, with the owner's token and environment, on the interactive
 * desktop of that session, inheriting no handle; *ppi receives both handles
 * (the caller owns them). A job whose owner has no active session on this
 * machine (a job from a print server's client, an owner logged off) starts
 * nothing: the log line says why. FALSE when nothing started; a SYSTEM
 * process is never started instead. */
static BOOL StartInOwnersSession(LPCWSTR pszProgram, LPWSTR szCommand, LPCWSTR pszPrinterName, DWORD JobId,
                                 PROCESS_INFORMATION *ppi)
{
    WCHAR szUser[STATUS_NAME_CCH], szMachine[STATUS_NAME_CCH];
    if (!ReadJobOwner(pszPrinterName, JobId, szUser, szMachine))
        return FALSE;
    if (!szUser[0] || !IsThisMachine(szMachine)) {
        LogDbg(L"Start the job's owner [%s] on [%s] has no session on this machine: no status monitor", szUser,
               szMachine);
        return FALSE;
    }
    SessionCalls calls;
    if (!LoadSessionCalls(&calls))
        return FALSE;
    BOOL bOk = FALSE;
    DWORD dwSession = 0;
    if (!FindUserSession(calls, szUser, &dwSession)) {
        LogDbg(L"Start the job's owner [%s] has no active session: no status monitor", szUser);
        FreeSessionCalls(&calls);
        return FALSE;
    }
    HANDLE hToken = NULL;
    BOOL bToken = calls.pfnQueryUserToken(dwSession, &hToken);
    DWORD dwError = GetLastError();
    (bToken ? LogDbg : LogErr)(L"Start WTSQueryUserToken(%d) R %d E %d", dwSession, bToken, dwError);
    LPVOID pEnvironment = NULL;
    BOOL bEnvironment = bToken && calls.pfnCreateEnvironmentBlock(&pEnvironment, hToken, FALSE);
    if (bToken) {
        dwError = GetLastError();
        (bEnvironment ? LogDbg : LogErr)(L"Start CreateEnvironmentBlock R %d E %d", bEnvironment, dwError);
    }
    if (bEnvironment) {
        STARTUPINFOW si;
        ZeroMemory(&si, sizeof(si));
        si.cb = sizeof(si);
        si.lpDesktop = (LPWSTR)L"winsta0\\default";
        bOk = CreateProcessAsUserW(hToken, pszProgram, szCommand, NULL, NULL, FALSE,
                                   CREATE_NEW_CONSOLE | CREATE_UNICODE_ENVIRONMENT, pEnvironment, NULL, &si, ppi);
        dwError = GetLastError();
        (bOk ? LogDbg : LogErr)(L"Start CreateProcessAsUser([%s] [%s] session %d) R %d E %d", pszProgram, szCommand,
                                dwSession, bOk, dwError);
        BOOL bDestroyed = calls.pfnDestroyEnvironmentBlock(pEnvironment);
        dwError = GetLastError();
        (bDestroyed ? LogDbg : LogErr)(L"Start DestroyEnvironmentBlock R %d E %d", bDestroyed, dwError);
    }
    if (hToken) {
        BOOL bClosed = CloseHandle(hToken);
        dwError = GetLastError();
        (bClosed ? LogDbg : LogErr)(L"Start CloseHandle x%x R %d E %d", LP(hToken), bClosed, dwError);
    }
    FreeSessionCalls(&calls);
    return bOk;
}

/* PutClientIdentityAside: the identity of the client this thread acts for,
 * when it impersonates one (a job printed straight to the port runs on the
 * client's call), put aside so that the session calls run with the
 * spooler's own rights (WTSQueryUserToken needs them): *phClient is that
 * identity, or null when the thread has none. FALSE when it could not be
 * read or put aside: then nothing may start. PutClientIdentityBack restores
 * and closes it. */
static BOOL PutClientIdentityAside(HANDLE *phClient)
{
    *phClient = NULL;
    BOOL bOpened = OpenThreadToken(GetCurrentThread(), TOKEN_IMPERSONATE, TRUE, phClient);
    DWORD dwError = GetLastError();
    if (!bOpened) {
        // ERROR_NO_TOKEN: the thread acts for nobody but the spooler.
        (dwError == ERROR_NO_TOKEN ? LogDbg : LogErr)(L"Start OpenThreadToken R %d E %d", bOpened, dwError);
        *phClient = NULL;
        return dwError == ERROR_NO_TOKEN;
    }
    LogDbg(L"Start OpenThreadToken R %d E %d", bOpened, dwError);
    BOOL bReverted = RevertToSelf();
    dwError = GetLastError();
    (bReverted ? LogDbg : LogErr)(L"Start RevertToSelf R %d E %d", bReverted, dwError);
    return bReverted;
}

static void PutClientIdentityBack(HANDLE hClient)
{
    if (!hClient)
        return;
    BOOL bBack = SetThreadToken(NULL, hClient);
    DWORD dwError = GetLastError();
    (bBack ? LogDbg : LogErr)(L"Start SetThreadToken R %d E %d", bBack, dwError);
    BOOL bClosed = CloseHandle(hClient);
    dwError = GetLastError();
    (bClosed ? LogDbg : LogErr)(L"Start CloseHandle x%x R %d E %d", LP(hClient), bClosed, dwError);
}

/* Starts the configured status monitor for the printer when no status window
 * exists yet and no program started for the port still runs, and waits (up
 * to 10 s) until it is ready for input. Windows 2000 and XP: in the spooler's
 * session; Vista and later: in the session of job JobId's owner, or not at
 * all. Returns the window then found by its title, or null (always null when
 * the program runs in another session: no window there can be found). */
HWND StartStatusMonitor(IniPort *pIniPort, LPCWSTR pszPrinterName, DWORD JobId)
{
    // One status monitor per port at a time: one that is still starting, or
    // showing why it could not, is not joined by another at every job.
    if (StatusProgramRunning(pIniPort->pszPortName))
        return NULL;
    LPWSTR pszProgram = Vigilstr(pszPrinterName);
    if (!pszProgram)
        return NULL;
    WCHAR szCommand[256];
    lstrcpynW(szCommand, pszPrinterName, 256 - 3);   // cut to fit "$X " in front
    WCHAR szName[256];
    lstrcpyW(szName, szCommand);
    wsprintfW(szCommand, L"$X %s", szName);
    PROCESS_INFORMATION pi = {};
    BOOL bOk = FALSE, bApart = FALSE;
    if (!SessionsApart(&bApart)) {
        bOk = FALSE;
    } else if (bApart) {
        HANDLE hClient = NULL;
        if (PutClientIdentityAside(&hClient))
            bOk = StartInOwnersSession(pszProgram, szCommand, pszPrinterName, JobId, &pi);
        PutClientIdentityBack(hClient);
    } else {
        STARTUPINFOW si;
        GetStartupInfoW(&si);
        // No handles are inherited: the status monitor opens the channel by
        // name, and inherited handles of the spooler would keep this port's
        // channel (and whatever else the spooler holds) alive in it after Close.
        bOk = CreateProcessW(pszProgram, szCommand, NULL, NULL, FALSE, CREATE_NEW_CONSOLE, NULL, NULL, &si, &pi);
        DWORD dwError = GetLastError();
        LogDbg(L"Start CreateProcess([%s] [%s]) R %d E %d", pszProgram, szCommand, bOk, dwError);
    }
    FreeSplMem(pszProgram);
    if (!bOk)
        return NULL;
    // This call waits on the process before the list takes both handles:
    // from then on only the list uses or closes them.
    StatusBlock *pLm = pIniPort->pLm;
    pLm->dwMonitorProcessId = pi.dwProcessId;
    pLm->dwMonitorThreadId = pi.dwThreadId;
    DWORD dwWait = WaitForInputIdle(pi.hProcess, 10000);
    DWORD dwError = GetLastError();
    if (KeepStatusProgram(pIniPort->pszPortName, pi.hProcess, pi.hThread)) {
        pLm->hMonitorProcess = (uint32_t)(UINT_PTR)pi.hProcess;
        pLm->hMonitorThread = (uint32_t)(UINT_PTR)pi.hThread;
    }
    LogDbg(L"Start WaitForInputIdle R %d E %d", dwWait, dwError);
    if (dwWait != 0)
        return NULL;
    HWND hWnd = FindStatusWindow(pIniPort);
    dwError = GetLastError();
    LogDbg(L"Start FindWindow R x%x E %d", LP(hWnd), dwError);
    return hWnd;
}

