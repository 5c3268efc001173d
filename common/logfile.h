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
// hFile (a handle from LogOpenForAppend*; INVALID_HANDLE_VALUE is taken and
// counted as below unless the file is absent). The line lock is tried for a
// few milliseconds, then the text goes out without it; a file with more than
// one hard link is not written. Text that could not be written counts as
// cLines dropped lines. TRUE when the text went out (or was refused on
// purpose).
BOOL LogAppendAndClose(HANDLE hFile, const void *pb, DWORD cb, DWORD cLines = 1);

// The count of lines dropped since the last call (and resets it). A writer
// that gets a non-zero count puts a line saying so before its own, in the
// same append; should that fail too, it passes the count back in cLines.
DWORD LogTakeDroppedLines();

// Takes the count of dropped lines (LogTakeDroppedLines) and, when it is not
// zero, writes the note that says so, "Log %d lines dropped" without a line
// end, into pszNote (LOG_NOTE_CCH characters); else pszNote is empty.
// Returns the count.
#define LOG_NOTE_CCH 48
DWORD LogTakeDroppedNote(char *pszNote);
