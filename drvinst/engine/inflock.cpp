// One operation of an INF at a time: a second phase that RunOnce starts at
// logon (Windows has already removed its RunOnce value, so nothing shows it
// pending) and an install the user starts beside it would otherwise change
// the same queues together.
#include "inflock.h"
#include "splstr.h"
#include "steplog.h"
#include "fixedtext.h"

static const DWORD kSecondPhaseWaitMs = 10000;  // it runs at logon, before the desktop shows

/* Takes the lock of this INF's operations, a mutex named "Ostrel<INF> Lock"
 * (the global namespace where there is one, the INF's name in capitals).
 * A second phase waits for it up to ten seconds;
 * anything else takes it only when free. The handle to pass to UnlockInf,
 * or NULL after an error line ("Excecute() Busy ..." when another run holds
 * it). After SetupSysInfo. */
HANDLE LockInf(CInstallContext &ctx)
{
    char szName[INF_PATH_MAX];
    // One name for every session on Windows 2000 and later (a deployment
    // tool's service beside the logon's RunOnce); the INF's name compared
    // without case, as the RunOnce value and the records are.
    const char *pszSpace = ctx.m_bWinNT && ctx.m_osvi.dwMajorVersion >= 5 ? "Global\\" : "";
    if (!FormatPath(ctx, szName, sizeof(szName), "LockInf", "%sOstrel%s Lock", pszSpace, LogStr(ctx.m_pInfBaseName)))
        return NULL;
    int cchBefore = lstrlenA(pszSpace) + 6;  // the INF's name follows "Ostrel"
    CharUpperBuffA(szName + cchBefore, lstrlenA(szName) - cchBefore - 5);  // " Lock" ends it
    HANDLE hLock = CreateMutexA(NULL, FALSE, szName);
    DWORD dwError = CallError(hLock != NULL);
    LogStep(ctx, hLock != NULL, "::CreateMutex([%s]) R %p E %d %s", szName, hLock, dwError,
            SysErrorText(dwError).c_str());
    if (!hLock) {
        SetLastError(dwError);
        return NULL;
    }
    DWORD dwWait = WaitForSingleObject(hLock, ctx.m_bRunOnce ? kSecondPhaseWaitMs : 0);
    dwError = CallError(dwWait != WAIT_FAILED);
    // An abandoned lock was left by a run that ended part-way: its state is
    // what the checks of this run are for.
    BOOL bHeld = dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED;
    LogStep(ctx, bHeld, "::WaitForSingleObject([%s]) R %d E %d %s", szName, (int)dwWait, dwError,
            SysErrorText(dwError).c_str());
    if (bHeld)
        return hLock;
    if (dwWait == WAIT_TIMEOUT)
        ctx.LogErr("Excecute() Busy [%s]: another run of this INF is changing its printers\r\n",
                   LogStr(ctx.m_pInfBaseName));
    BOOL bClosed = CloseHandle(hLock);
    DWORD dwCloseError = CallError(bClosed);
    LogStep(ctx, bClosed, "::CloseHandle R %d E %d %s", bClosed, dwCloseError, SysErrorText(dwCloseError).c_str());
    SetLastError(dwWait == WAIT_TIMEOUT ? ERROR_INSTALL_ALREADY_RUNNING : dwError);
    return NULL;
}

/* Releases and closes what LockInf returned; the last error stays. */
void UnlockInf(CInstallContext &ctx, HANDLE hLock)
{
    DWORD dwLastError = GetLastError();
    BOOL bReleased = ReleaseMutex(hLock);
    DWORD dwError = CallError(bReleased);
    LogStep(ctx, bReleased, "::ReleaseMutex R %d E %d %s", bReleased, dwError, SysErrorText(dwError).c_str());
    BOOL bClosed = CloseHandle(hLock);
    dwError = CallError(bClosed);
    LogStep(ctx, bClosed, "::CloseHandle R %d E %d %s", bClosed, dwError, SysErrorText(dwError).c_str());
    SetLastError(dwLastError);
}
