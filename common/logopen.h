// Opening the diagnostic log: only an existing plain file with one name, and
// without waiting on anybody else's hold on it. The log is written as SYSTEM
// (the spooler) and as an administrator (the installer) while any user may
// create the file, so its name must not lead the writes anywhere else.
#pragma once
#include <windows.h>

enum LogOpenResult {
    LOG_OPENED,     // *phFile is an append handle of the plain file
    LOG_ABSENT,     // no file of that name (logging is off)
    LOG_REFUSED,    // a directory, a reparse point (link, junction), a file
                    // with a second name, or one being deleted: never written
    LOG_FAILED      // could not be opened now (shared with nobody, its holder
                    // breaking an opportunistic lock, out of handles): the
                    // line is lost and counted
};

// Opens the existing file at pszPath for appending: append access without
// FILE_WRITE_DATA, so every write lands at the end, plus read access for the
// line lock; read, write and delete shared, so a viewer can read it and
// anyone may delete or rename it while it is open. The open names the link
// itself rather than what it points to, refuses a directory, and does not
// wait for another process's opportunistic lock to be given back: such an
// open fails at once. On LOG_OPENED the caller owns *phFile (CloseHandle);
// otherwise *phFile is INVALID_HANDLE_VALUE. On Windows 95, 98 and Me (no
// links, no such locks) the file is opened for writing, as the writer there
// seeks to the end.
LogOpenResult LogOpenPlainFileW(const WCHAR *pszPath, HANDLE *phFile);
LogOpenResult LogOpenPlainFileA(const char *pszPath, HANDLE *phFile);

// Asks an open handle of the log again what LogOpenPlainFileW asked at its
// open: LOG_OPENED while it is still a plain file with one name that is not
// being deleted (Wine, like Windows before POSIX deletes, keeps the name of
// a file deleted while it is open until the last handle closes), else
// LOG_REFUSED, or LOG_FAILED when the question could not be answered.
LogOpenResult LogCheckOpenFile(HANDLE hFile);

// Whether this is Windows 95, 98 or Me.
BOOL LogIsWindows9x();
