// The diagnostic log's file access, shared by the wide (language monitor) and
// the ANSI (installer) writers: each line goes out in one append under the
// line lock, so lines written at once by several threads or processes never
// interleave; the file is written only while it is a plain file with one name
// (see logopen.h).
#pragma once
#include <windows.h>

// The installer's writer: opens the existing file pszPath, appends cb bytes
// of pb in one WriteFile and closes it again. Text that could not be written
// (the file shared with nobody, a write refused by another's lock) counts as
// cLines dropped lines; an absent file, or one that is not a plain file with
// one name, is not written and nothing is counted.
void LogAppendOnceA(const char *pszPath, const void *pb, DWORD cb, DWORD cLines);

// The language monitor's writer. Its handle stays open from the first line
// of a run of lines to LogReleaseFile, so a job's lines cost one open, not
// one each; pszPath is the same on every call.
//
// LogCheckFileW, once per clock tick: TRUE while the file exists as a plain
// file. It closes the kept handle when the name is gone, is no longer a plain
// file, or names another file than the handle (deleted and made again).
BOOL LogCheckFileW(const WCHAR *pszPath);
// Appends as LogAppendOnceA does, on the kept handle (opened first when
// there is none). A write that fails closes it. FALSE when the file was
// refused at its open (not a plain file with one name): the caller need not
// try again before the next check.
BOOL LogAppendKeptW(const WCHAR *pszPath, const void *pb, DWORD cb, DWORD cLines);
// Closes the kept handle, if any: the monitor calls it when an entry point
// that ends a run of lines returns (EndDoc, Close, Get, Init, a failed Open
// or StartDoc, a served request) and once a second from each port's idle
// worker, so no handle stays open between jobs. Safe from any thread at any
// time. With bUnload (the module is unloaded, no writer of it runs) the line
// lock's section is let go too.
void LogReleaseFile(BOOL bUnload = FALSE);

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
