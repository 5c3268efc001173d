// Diagnostic log, wide form. A line is formatted whole (prefix, message,
// line end), converted, and written in one append on a handle opened for
// appending, so lines of the spooler's threads and the port workers never
// interleave; the file is opened and closed per line, so it can be created
// or deleted at any time.
#include "logw.h"
#include "logfile.h"
#include <stdarg.h>
#include <stdlib.h>

#define LOG_LINE_CCH    256   // formatting buffer, terminator included
#define LOG_BYTES_MAX   512   // converted bytes of one piece at most
#define LOG_PREFIX_MAX  64    // converted bytes of the time stamp, tag and level
#define LOG_SCRATCH     1025  // wvsprintfW never writes more than 1024 characters

/* The log's path: the root of the Windows drive and "kztdebug.txt". */
static BOOL LogPath(WCHAR *szPath)
{
    UINT cch = GetWindowsDirectoryW(szPath, MAX_PATH);
    if (cch < 3 || cch >= MAX_PATH)
        return FALSE;
    lstrcpyW(szPath + 3, L"kztdebug.txt");
    return TRUE;
}

/* Converts one piece of a line with the C runtime's current locale and adds
 * it at pb + *pcb, at most cbMax bytes. A piece that cannot be converted is
 * left out; the rest of the line still goes out. */
static void LogAddPiece(char *pb, DWORD *pcb, const WCHAR *pszText, DWORD cbMax)
{
    size_t cb = wcstombs(pb + *pcb, pszText, cbMax);
    if (cb != (size_t)-1)
        *pcb += (DWORD)cb;
}

/* Formats with the wsprintf rules and cuts the result to the line buffer.
 * Control characters (a document name comes from any user) are written as
 * "\xHH", so no argument can end a line early or forge one. */
static void LogFormatCut(WCHAR *szLine, const WCHAR *pszFormat, va_list args)
{
    WCHAR szScratch[LOG_SCRATCH];
    wvsprintfW(szScratch, pszFormat, args);
    szScratch[LOG_SCRATCH - 1] = 0;
    static const WCHAR s_hex[] = L"0123456789ABCDEF";
    int n = 0;
    for (const WCHAR *p = szScratch; *p && n < LOG_LINE_CCH - 1; ++p) {
        if (*p >= 0x20 && *p != 0x7F) {
            szLine[n++] = *p;
            continue;
        }
        if (n + 4 > LOG_LINE_CCH - 1)
            break;
        szLine[n++] = L'\\';
        szLine[n++] = L'x';
        szLine[n++] = s_hex[(*p >> 4) & 0xF];
        szLine[n++] = s_hex[*p & 0xF];
    }
    szLine[n] = 0;
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

/* One line in one append. While the file is absent (the usual case)
 * nothing is formatted or opened. */
static void LogLine(const WCHAR *pszLevel, const WCHAR *pszFormat, va_list args)
{
    WCHAR szPath[MAX_PATH];
    if (!LogPath(szPath) || !LogFileExists(szPath))
        return;
    SYSTEMTIME st;
    WCHAR szLine[LOG_LINE_CCH];
    char abLine[LOG_PREFIX_MAX + LOG_BYTES_MAX + 2];
    DWORD cbLine = 0;
    GetLocalTime(&st);
    wsprintfW(szLine, L"%4d/%02d/%02d %02d:%02d:%02d.%03d LM %s ",
              st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond,
              st.wMilliseconds, pszLevel);
    LogAddPiece(abLine, &cbLine, szLine, LOG_PREFIX_MAX);
    LogFormatCut(szLine, pszFormat, args);
    LogAddPiece(abLine, &cbLine, szLine, LOG_BYTES_MAX);
    LogAddPiece(abLine, &cbLine, L"\r\n", 2);
    LogAppendAndClose(LogOpenForAppendW(szPath), abLine, cbLine);
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
