// Diagnostic log, wide form, for the language monitor. Appends to
// "kztdebug.txt" in the root of the Windows drive only when that file exists,
// one whole line per call.
#pragma once
#include <windows.h>

#define LOG_NULL_TEXT L"KztNull"

// Text for a string argument that may be null.
inline const WCHAR *LogStr(const WCHAR *psz) { return psz ? psz : LOG_NULL_TEXT; }

// Write one "LM DBG" or "LM ERR" line: a wsprintf format (wide strings) and its
// arguments, the message cut to 255 characters. Safe from any thread; the
// caller's last error is kept.
void LogDbg(const WCHAR *pszFormat, ...);
void LogErr(const WCHAR *pszFormat, ...);

// Ends a run of lines: the log file that stays open while lines come in
// quick succession (a job's Writes) is closed, so no handle is kept between
// jobs. Returns bResult; the caller's last error is kept. The entry points
// that end a run call it as they return: EndDoc, Close, Get, Init, a failed
// Open or StartDoc, and each port's worker after a request and once a second
// while idle.
BOOL LogRunEnds(BOOL bResult);

// The module is being unloaded while its process goes on: the kept log file
// and the line lock's section are let go. From DllMain only.
void LogUnload();
