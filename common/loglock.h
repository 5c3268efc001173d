// The line lock of the diagnostic log: the writers of every module and
// process take turns on it for one append, since not every file system makes
// an append one piece (Wine's finds the end, then writes).
#pragma once
#include <windows.h>

// One turn on the line lock, for one append to hFile.
struct LogLineLock {
    volatile LONG *pWord;      // the shared word taken, or NULL
    LONG lToken;               // the value this writer put there
    HANDLE hFile;              // the file whose byte lock was taken, or NULL
    OVERLAPPED ov;
};

// Takes the line lock before an append to hFile (a handle from
// LogOpenPlainFile*). The lock is a word in a small section that every writer
// on the machine maps once ("Global\Ostrel Log Lock"); where that section
// cannot be had, a lock of one byte far past any text in the file itself. It
// is tried for a few milliseconds at most, or only once within a second of a
// wait that failed; a word left taken by a writer that ended is taken over
// after a while. FALSE when the lock could not be had: the append then goes
// out without it. LogGiveLineLock after the append, whatever the result.
BOOL LogTakeLineLock(HANDLE hFile, LogLineLock *pLock);
void LogGiveLineLock(LogLineLock *pLock);

// Unmaps the lock section and closes it, for a module being unloaded while
// its process goes on (no writer of the module runs any more). The next line
// written maps it again.
void LogReleaseLineLock();
