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
// hostile user) must not hold up the spooler's threads.
#define LOG_LOCK_TRIES 5

// Whether the open file has more than one name: a second hard link made by
// someone else would turn the log's appends into writes to a file of their
// choosing, so such a file is never written.
static BOOL HasOtherNames(HANDLE hFile)
{
    BY_HANDLE_FILE_INFORMATION info;
    return !GetFileInformationByHandle(hFile, &info) || info.nNumberOfLinks > 1;
}

void LogAppendAndClose(HANDLE hFile, const void *pb, DWORD cb)
{
    if (hFile == INVALID_HANDLE_VALUE)
        return;
    DWORD cbWritten = 0;
    if (IsWindows9x()) {
        if (SetFilePointer(hFile, 0, NULL, FILE_END) != INVALID_SET_FILE_POINTER)
            WriteFile(hFile, pb, cb, &cbWritten, NULL);
    } else if (!HasOtherNames(hFile)) {
        // Not every file system makes an append one piece (Wine's finds the
        // end, then writes): the writers of all threads and processes also
        // take turns on a lock of one byte far past any text, which never
        // stands in a reader's way. The lock is tried for a few milliseconds
        // only; without it the line still goes out.
        OVERLAPPED ov = {};
        ov.OffsetHigh = 0x7FFFFFFF;
        BOOL bLocked = FALSE;
        for (int i = 0; i < LOG_LOCK_TRIES && !bLocked; ++i) {
            bLocked = LockFileEx(hFile, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov);
            if (!bLocked)
                Sleep(1);
        }
        WriteFile(hFile, pb, cb, &cbWritten, NULL);
        if (bLocked)
            UnlockFileEx(hFile, 0, 1, 0, &ov);
    }
    CloseHandle(hFile);
}
