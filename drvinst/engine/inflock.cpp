// One operation of an INF at a time: a second phase that RunOnce starts at
// logon (Windows has already removed its RunOnce value, so nothing shows it
// pending) and an install the user starts beside it would otherwise change
// the same queues together.
#include "inflock.h"
#include "splstr.h"
#include "steplog.h"
#include "fixedtext.h"

static const DWORD kSecondPhaseWaitMs = 60000;  // a first phase may be at its restart question

/* Takes the lock of this INF's operations, a mutex named "Ostrel<INF> Lock"
 * (this session's namespace). A second phase waits for it up to a minute;
 * anything else takes it only when free. The handle to pass to UnlockInf,
 * or NULL after an error line ("Excecute() Busy ..." when another run holds
 * it). After SetupSysInfo. */
HANDLE LockInf(CInstallContext &ctx)
{
    char szName[INF_PATH_MAX];
    if (!FormatPath(ctx, szName, sizeof(szName), "LockInf", "Ostrel%s Lock", LogStr(ctx.m_pInfBaseName)))
        return NULL;
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
    CloseHandle(hLock);
    SetLastError(dwWait == WAIT_TIMEOUT ? ERROR_INSTALL_ALREADY_RUNNING : dwError);
    return NULL;
}

/* Releases and closes what LockInf returned; the last error stays. */
void UnlockInf(CInstallContext &ctx, HANDLE hLock)
{
    DWORD dwLastError = GetLastError();
    BOOL bReleased = ReleaseMutex(hLock);
    DWORD dwError = CallError(bReleased);
    ctx.LogDbg("::ReleaseMutex R %d E %d %s\r\n", bReleased, dwError, SysErrorText(dwError).c_str());
    BOOL bClosed = CloseHandle(hLock);
    dwError = CallError(bClosed);
    ctx.LogDbg("::CloseHandle R %d E %d %s\r\n", bClosed, dwError, SysErrorText(dwError).c_str());
    SetLastError(dwLastError);
}
