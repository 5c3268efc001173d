// Diagnostic log, ANSI form, for the installer. The installer's context keeps
// the log path and the error text; these helpers do the file and format work.
#pragma once
#include <windows.h>

#define LOGA_TEXT_MAX 4096  // bytes written per append at most

// Forms the log path: the first three characters of the Windows directory
// followed by pszName. Returns FALSE (and an empty path) when the Windows
// directory is unusable or no name is given.
BOOL LogPathForNameA(const char *pszName, char *pszPath, DWORD cchPath);

// Whether the log file exists, asked of the file system at most once per
// clock tick for the same path (the installer logs from one thread).
BOOL LogFileExistsA(const char *pszPath);

// Appends pszText (cut to LOGA_TEXT_MAX bytes) to an existing file in one
// append, so a whole line never mixes with another writer's; never creates
// the file. A null or empty path does nothing.
void LogFileWriteA(const char *pszPath, const char *pszText);

// Formats "<time stamp> DI DBG <message>" (or ERR) into pszLine, cut to
// cchLine bytes. The message carries its own line end.
void LogFormatLineA(char *pszLine, DWORD cchLine, BOOL bError, const char *pszMessage);
