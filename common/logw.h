// Diagnostic log, wide form, for the language monitor. Appends to
// "kztdebug.txt" in the root of the Windows drive only when that file exists.
#pragma once
#include <windows.h>

#define LOG_NULL_TEXT L"KztNull"

// Text for a string argument that may be null.
inline const WCHAR *LogStr(const WCHAR *psz) { return psz ? psz : LOG_NULL_TEXT; }

void LogAppend(const WCHAR *pszText);
void LogDbg(const WCHAR *pszFormat, ...);
void LogErr(const WCHAR *pszFormat, ...);
