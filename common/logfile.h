// The diagnostic log's file access, shared by the wide (language monitor) and
// the ANSI (installer) writers: each line goes out in one append, so lines
// written at once by several threads or processes never interleave.
#pragma once
#include <windows.h>

// Opens the existing log file for appending; INVALID_HANDLE_VALUE when it is
// absent or cannot be opened. Never creates the file. Read and write sharing
// let every writer and a viewer have it open at once.
HANDLE LogOpenForAppendW(const WCHAR *pszPath);
HANDLE LogOpenForAppendA(const char *pszPath);

// Writes cb bytes of pb at the end of the file in one WriteFile and closes
// hFile (a handle from LogOpenForAppend*). Failures drop the text; a file
// with more than one hard link is not written; the line lock is tried for a
// few milliseconds, then the line goes out without it.
void LogAppendAndClose(HANDLE hFile, const void *pb, DWORD cb);
