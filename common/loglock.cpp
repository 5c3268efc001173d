// The log's line lock. A word in shared memory costs an interlocked
// operation; the file's own byte lock, kept for when the section cannot be
// had, costs two round trips to the file system per line.
#include "loglock.h"

// How long a writer tries for the line lock before it writes without it:
// another process that holds the lock (a hostile user) must not hold up the
// spooler's threads for long. A holder keeps it for one WriteFile, but on a
// loaded machine it may lose the processor in there for several
// milliseconds: giving up sooner would append at the same end as the holder.
// Measured on the clock, so a Sleep that oversleeps under load does not
// stretch it.
#define LOG_LOCK_MS 50
// After a lock that could not be had, how long writers try it only once,
// without waiting: a holder that keeps it costs a job one wait, not one per
// line.
#define LOG_LOCK_BACKOFF_MS 1000
// A word taken longer ago than this belongs to a writer that ended (or
// stopped) in its append, which lasts microseconds: it is taken over.
#define LOG_LOCK_STALE_MS 50

#define LOG_LOCK_SECTION L"Global\\Ostrel Log Lock"
#define LOG_LOCK_SECTION_BYTES 4096

// The mapped word, (volatile LONG *)1 when the section cannot be had, or NULL
// before the first look.
static volatile LONG *volatile s_pWord;
static HANDLE s_hSection;                  // kept open with the view (see LockWord)

/* Maps the lock section once per module: created with a null DACL, as every
 * writer (the spooler's and an administrator's) must open it, or opened when
 * another made it. A section too small or not committed is not used. */
static volatile LONG *LockWord()
{
    volatile LONG *pWord = s_pWord;
    if (pWord)
        return pWord == (volatile LONG *)1 ? NULL : pWord;
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, NULL, FALSE);
    SECURITY_ATTRIBUTES sa = {sizeof(sa), &sd, FALSE};
    HANDLE hSection = CreateFileMappingW(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, LOG_LOCK_SECTION_BYTES,
                                         LOG_LOCK_SECTION);
    LPVOID pView = hSection ? MapViewOfFile(hSection, FILE_MAP_WRITE, 0, 0, 0) : NULL;
    MEMORY_BASIC_INFORMATION mbi = {};
    if (pView && (VirtualQuery(pView, &mbi, sizeof(mbi)) < sizeof(mbi) || mbi.State != MEM_COMMIT ||
                  mbi.RegionSize < sizeof(LONG) || !(mbi.Protect & PAGE_READWRITE))) {
        UnmapViewOfFile(pView);
        pView = NULL;
    }
    // The handle stays open for the life of the module: a view alone keeps
    // the memory but not always the name (Wine drops it with the last
    // handle), and the next writer would make a section of its own.
    if (hSection && !pView)
        CloseHandle(hSection);
    volatile LONG *pNew = pView ? (volatile LONG *)pView : (volatile LONG *)1;
    volatile LONG *pOld = (volatile LONG *)InterlockedCompareExchangePointer((PVOID volatile *)&s_pWord,
                                                                             (PVOID)pNew, NULL);
    if (pOld) {                           // another thread mapped it first
        if (pView) {
            UnmapViewOfFile(pView);
            CloseHandle(hSection);
        }
        pNew = pOld;
    } else if (pView) {
        s_hSection = hSection;
    }
    return pNew == (volatile LONG *)1 ? NULL : pNew;
}

/* One try at the word: free, or taken so long ago that its writer ended. */
static BOOL TryWord(volatile LONG *pWord, LONG *plToken)
{
    LONG lNow = (LONG)(GetTickCount() | 1);
    LONG lHeld = InterlockedCompareExchange(pWord, lNow, 0);
    if (lHeld != 0 && (DWORD)lNow - (DWORD)lHeld >= LOG_LOCK_STALE_MS &&
        (DWORD)lNow - (DWORD)lHeld < 0x80000000u)
        lHeld = InterlockedCompareExchange(pWord, lNow, lHeld) == lHeld ? 0 : lHeld;
    if (lHeld != 0)
        return FALSE;
    *plToken = lNow;
    return TRUE;
}

static BOOL TryByte(HANDLE hFile, OVERLAPPED *pov)
{
    return LockFileEx(hFile, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, pov);
}

// GetTickCount() of the latest failed wait for the line lock, or 0 (none
// recent, or the lock was had since).
static volatile LONG s_dwLockFailedAt;

BOOL LogTakeLineLock(HANDLE hFile, LogLineLock *pLock)
{
    ZeroMemory(pLock, sizeof(*pLock));
    volatile LONG *pWord = LockWord();
    // The byte lock lies far past any text, so it never stands in a reader's way.
    pLock->ov.OffsetHigh = 0x7FFFFFFF;
    DWORD dwStart = GetTickCount();
    DWORD dwFailedAt = (DWORD)InterlockedCompareExchange(&s_dwLockFailedAt, 0, 0);
    BOOL bWait = !dwFailedAt || dwStart - dwFailedAt >= LOG_LOCK_BACKOFF_MS;
    BOOL bLocked;
    while (!(bLocked = pWord ? TryWord(pWord, &pLock->lToken) : TryByte(hFile, &pLock->ov)) && bWait &&
           GetTickCount() - dwStart < LOG_LOCK_MS)
        Sleep(1);
    // Only a failed wait starts a backoff: a single try that meets another
    // writer's append must not keep the unlocked second going.
    if (bLocked && dwFailedAt)
        InterlockedExchange(&s_dwLockFailedAt, 0);
    else if (!bLocked && bWait)
        InterlockedExchange(&s_dwLockFailedAt, (LONG)(GetTickCount() | 1));
    if (bLocked) {
        pLock->pWord = pWord;
        pLock->hFile = pWord ? NULL : hFile;
    }
    return bLocked;
}

void LogGiveLineLock(LogLineLock *pLock)
{
    if (pLock->pWord)
        InterlockedCompareExchange(pLock->pWord, 0, pLock->lToken);   // unless taken over meanwhile
    else if (pLock->hFile)
        UnlockFileEx(pLock->hFile, 0, 1, 0, &pLock->ov);
    pLock->pWord = NULL;
    pLock->hFile = NULL;
}

void LogReleaseLineLock()
{
    volatile LONG *pWord = (volatile LONG *)InterlockedExchangePointer((PVOID volatile *)&s_pWord, NULL);
    if (pWord && pWord != (volatile LONG *)1)
        UnmapViewOfFile((LPCVOID)pWord);
    if (s_hSection)
        CloseHandle(s_hSection);
    s_hSection = NULL;
}
