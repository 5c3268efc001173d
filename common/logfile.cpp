// The diagnostic log's file access: open an existing file for appending,
// write one whole line, close.
#include "logfile.h"

// Windows 95, 98 and Me know only read and write access and no waiting
// lock: there the file is opened for writing and the writer seeks to the
// end (the installer, the only writer there, logs from one thread).
static BOOL IsWindows9x()
{
    return (GetVersion() & 0x80000000u) != 0;
}

// Append access without FILE_WRITE_DATA: every WriteFile lands at the end of
// the file, after whatever other handles appended, with no seek that another
// writer could overtake. Read access lets the handle take the line lock.
static DWORD AppendAccess()
{
    return IsWindows9x() ? GENERIC_WRITE : FILE_READ_DATA | FILE_APPEND_DATA;
}

HANDLE LogOpenForAppendW(const WCHAR *pszPath)
{
    return CreateFileW(pszPath, AppendAccess(), FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

HANDLE LogOpenForAppendA(const char *pszPath)
{
    return CreateFileA(pszPath, AppendAccess(), FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

// How long a writer tries for the line lock before it writes without it:
// another process that holds a lock over the whole file (a viewer, or a
// hostile user) must not hold up the spooler's threads. Measured on the
// clock, so a Sleep that oversleeps under load does not stretch it.
#define LOG_LOCK_MS 5
// After a lock that could not be had, how long writers try it only once,
// without waiting: a holder that keeps the file locked costs a job one wait,
// not one per line.
#define LOG_LOCK_BACKOFF_MS 1000

// GetTickCount() of the latest failed try for the line lock, or 0 (none
// recent, or the lock was had since).
static volatile LONG s_dwLockFailedAt;

/* Takes the line lock of hFile at *pov: tries for LOG_LOCK_MS, or once only
 * within LOG_LOCK_BACKOFF_MS of a failed wait. Remembers a failed wait. */
static BOOL TakeLineLock(HANDLE hFile, OVERLAPPED *pov)
{
    DWORD dwStart = GetTickCount();
    DWORD dwFailedAt = (DWORD)InterlockedCompareExchange(&s_dwLockFailedAt, 0, 0);
    BOOL bWait = !dwFailedAt || dwStart - dwFailedAt >= LOG_LOCK_BACKOFF_MS;
    BOOL bLocked;
    while (!(bLocked = LockFileEx(hFile, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, pov)) &&
           bWait && GetTickCount() - dwStart < LOG_LOCK_MS)
        Sleep(1);
    // Only a failed wait starts a backoff: a single try that meets another
    // thread's append must not keep the unlocked second going.
    if (bLocked && dwFailedAt)
        InterlockedExchange(&s_dwLockFailedAt, 0);
    else if (!bLocked && bWait)
        InterlockedExchange(&s_dwLockFailedAt, (LONG)(GetTickCount() | 1));
    return bLocked;
}

// Lines lost since the last line that went out: a failed open of the
// existing file, a failed or short write (a whole-file lock of another
// process refuses the write).
static volatile LONG s_cDropped;

DWORD LogTakeDroppedLines()
{
    return (DWORD)InterlockedExchange(&s_cDropped, 0);
}

DWORD LogTakeDroppedNote(char *pszNote)
{
    DWORD cDropped = LogTakeDroppedLines();
    pszNote[0] = 0;
    if (cDropped)
        wsprintfA(pszNote, "Log %d lines dropped", cDropped);
    return cDropped;
}

// The writers of this module take turns before they append: the file's line
// lock is then contended by other modules and processes only, and a thread
// preempted in its append (a loaded machine) holds up this module's other
// writers for that append, instead of making them give up on the line lock
// after LOG_LOCK_MS and append at the same end. A turn lasts one bounded
// append, so waiting for it needs no bound of its own. A waiter yields a few
// times, then sleeps: Sleep(0) alone would spin past a holder of lower
// priority.
static volatile LONG s_lWriting;

static void TakeWritersTurn()
{
    for (int nTries = 0; InterlockedCompareExchange(&s_lWriting, 1, 0) != 0; nTries++)
        Sleep(nTries < 16 ? 0 : 1);
}

static void GiveWritersTurn()
{
    InterlockedExchange(&s_lWriting, 0);
}

// Whether the open file has more than one name: a second hard link made by
// someone else would turn the log's appends into writes to a file of their
// choosing, so such a file is never written.
static BOOL HasOtherNames(HANDLE hFile)
{
    BY_HANDLE_FILE_INFORMATION info;
    return !GetFileInformationByHandle(hFile, &info) || info.nNumberOfLinks > 1;
}

BOOL LogAppendAndClose(HANDLE hFile, const void *pb, DWORD cb, DWORD cLines)
{
    if (hFile == INVALID_HANDLE_VALUE) {
        DWORD dwError = GetLastError();
        if (dwError != ERROR_FILE_NOT_FOUND && dwError != ERROR_PATH_NOT_FOUND)
            InterlockedExchangeAdd(&s_cDropped, (LONG)cLines);
        return FALSE;
    }
    DWORD cbWritten = 0;
    BOOL bWritten = FALSE;
    TakeWritersTurn();
    if (IsWindows9x()) {
        if (SetFilePointer(hFile, 0, NULL, FILE_END) != INVALID_SET_FILE_POINTER)
            bWritten = WriteFile(hFile, pb, cb, &cbWritten, NULL) && cbWritten == cb;
    } else if (!HasOtherNames(hFile)) {
        // Not every file system makes an append one piece (Wine's finds the
        // end, then writes): the writers of all threads and processes also
        // take turns on a lock of one byte far past any text, which never
        // stands in a reader's way. The lock is tried for LOG_LOCK_MS at
        // most (see TakeLineLock); without it the line still goes out.
        OVERLAPPED ov = {};
        ov.OffsetHigh = 0x7FFFFFFF;
        BOOL bLocked = TakeLineLock(hFile, &ov);
        bWritten = WriteFile(hFile, pb, cb, &cbWritten, NULL) && cbWritten == cb;
        if (bLocked)
            UnlockFileEx(hFile, 0, 1, 0, &ov);
    } else {
        bWritten = TRUE;                     // refused on purpose: nothing is lost to count
    }
    GiveWritersTurn();
    if (!bWritten)
        InterlockedExchangeAdd(&s_cDropped, (LONG)cLines);
    CloseHandle(hFile);
    return bWritten;
}
