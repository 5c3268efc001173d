// Diagnostic log, wide form. One line is three appends (prefix, message,
// line end), each its own open/seek/write/close, so the file can be created
// or deleted at any time and every reader sees whole pieces.
#include "logw.h"
#include <stdarg.h>
#include <stdlib.h>

#define LOG_LINE_CCH   256   // formatting buffer, terminator included
#define LOG_BYTES_MAX  512   // conversion buffer
#define LOG_SCRATCH    1025  // wvsprintfW never writes more than 1024 characters

/* The log's path: the root of the Windows drive and "kztdebug.txt". */
static BOOL LogPath(WCHAR *szPath)
{
    UINT cch = GetWindowsDirectoryW(szPath, MAX_PATH);
    if (cch < 3 || cch >= MAX_PATH)
        return FALSE;
    lstrcpyW(szPath + 3, L"kztdebug.txt");
    return TRUE;
}

/* LogAppend: converts pszText with the C runtime's current locale and appends
 * it to the log. Every failure silently drops the text. */
void LogAppend(const WCHAR *pszText)
{
    WCHAR szPath[MAX_PATH];
    if (!LogPath(szPath))
        return;

    HANDLE hFile = CreateFileW(szPath, GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return;
    if (SetFilePointer(hFile, 0, NULL, FILE_END) != INVALID_SET_FILE_POINTER) {
        char abBytes[LOG_BYTES_MAX];
        size_t cb = wcstombs(abBytes, pszText, sizeof(abBytes));
        if (cb != (size_t)-1) {
            DWORD cbWritten = 0;
            WriteFile(hFile, abBytes, (DWORD)cb, &cbWritten, NULL);
        }
    }
    CloseHandle(hFile);
}

/* Formats with the wsprintf rules and cuts the result to the line buffer. */
static void LogFormatCut(WCHAR *szLine, const WCHAR *pszFormat, va_list args)
{
    WCHAR szScratch[LOG_SCRATCH];
    wvsprintfW(szScratch, pszFormat, args);
    szScratch[LOG_SCRATCH - 1] = 0;
    lstrcpynW(szLine, szScratch, LOG_LINE_CCH);
}

/* Whether the log file exists, looked up at most once per clock tick: a
 * disabled log then costs the job stream nothing measurable, and creating
 * or deleting the file still takes effect within one tick. The tick and the
 * answer share one 32-bit word, so threads never pair a tick with another
 * tick's answer. */
static BOOL LogFileExists(const WCHAR *szPath)
{
    static volatile LONG s_lastCheck = -1;     // (tick << 1) | exists
    LONG lTick = (LONG)(GetTickCount() << 1);
    LONG lLast = s_lastCheck;
    if (lLast != -1 && (lLast & ~1) == lTick)
        return lLast & 1;
    BOOL bExists = GetFileAttributesW(szPath) != INVALID_FILE_ATTRIBUTES;
    InterlockedExchange(&s_lastCheck, lTick | (bExists ? 1 : 0));
    return bExists;
}

/* One line in three appends. While the file is absent (the usual case)
 * nothing is formatted or opened. */
static void LogLine(const WCHAR *pszLevel, const WCHAR *pszFormat, va_list args)
{
    WCHAR szPath[MAX_PATH];
    if (!LogPath(szPath) || !LogFileExists(szPath))
        return;
    SYSTEMTIME st;
    WCHAR szLine[LOG_LINE_CCH];
    GetLocalTime(&st);
    wsprintfW(szLine, L"%4d/%02d/%02d %02d:%02d:%02d.%03d LM %s ",
              st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond,
              st.wMilliseconds, pszLevel);
    LogAppend(szLine);
    LogFormatCut(szLine, pszFormat, args);
    LogAppend(szLine);
    LogAppend(L"\r\n");
}

void LogDbg(const WCHAR *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    LogLine(L"DBG", pszFormat, args);
    va_end(args);
}

void LogErr(const WCHAR *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    LogLine(L"ERR", pszFormat, args);
    va_end(args);
}
