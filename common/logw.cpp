// Diagnostic log, wide form. A line is formatted whole (prefix, message,
// line end), converted, and written in one append on a handle opened for
// appending, so lines of the spooler's threads and the port workers never
// interleave. The file is kept open for a run of lines (see logfile.h) and
// asked again once per clock tick, so it can still be created, deleted or
// replaced at any time.
#include "logw.h"
#include "logfile.h"
#include <stdarg.h>
#include <stdlib.h>

#define LOG_LINE_CCH    256   // formatting buffer, terminator included
#define LOG_BYTES_MAX   512   // converted bytes of one piece at most
#define LOG_PREFIX_MAX  64    // converted bytes of the time stamp, tag and level
#define LOG_SCRATCH     1025  // wvsprintfW never writes more than 1024 characters
#define LOG_LINE_BYTES  (LOG_PREFIX_MAX + LOG_BYTES_MAX + 2)

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
 * it at pb + *pcb, at most cbMax bytes. A character the locale cannot write
 * (a Japanese printer name in the default locale) goes out as "\uHHHH",
 * and the rest of the piece as it is. */
static void LogAddPiece(char *pb, DWORD *pcb, const WCHAR *pszText, DWORD cbMax)
{
    size_t cb = wcstombs(pb + *pcb, pszText, cbMax);
    if (cb != (size_t)-1) {
        *pcb += (DWORD)cb;
        return;
    }
    DWORD cbUsed = 0;
    for (const WCHAR *p = pszText; *p; ++p) {
        char ach[16];
        int n = wctomb(ach, *p);
        if (n < 0)
            n = wsprintfA(ach, "\\u%04X", (unsigned)*p);
        if (cbUsed + (DWORD)n > cbMax)
            break;
        memcpy(pb + *pcb + cbUsed, ach, n);
        cbUsed += (DWORD)n;
    }
    *pcb += cbUsed;
}

/* Whether a character could end a line or forge one in a viewer: C0 and C1
 * controls, DEL, and the Unicode line and paragraph separators. */
static BOOL IsLineBreaking(WCHAR ch)
{
    return ch < 0x20 || (ch >= 0x7F && ch <= 0x9F) || ch == 0x2028 || ch == 0x2029;
}

/* Formats with the wsprintf rules and cuts the result to the line buffer.
 * Control characters (a document name comes from any user) are written as
 * "\xHH" and the line and paragraph separators as "\uHHHH", so no argument
 * can end a line early or forge one. */
static void LogFormatCut(WCHAR *szLine, const WCHAR *pszFormat, va_list args)
{
    WCHAR szScratch[LOG_SCRATCH];
    wvsprintfW(szScratch, pszFormat, args);
    szScratch[LOG_SCRATCH - 1] = 0;
    static const WCHAR s_hex[] = L"0123456789ABCDEF";
    int n = 0;
    for (const WCHAR *p = szScratch; *p && n < LOG_LINE_CCH - 1; ++p) {
        if (!IsLineBreaking(*p)) {
            szLine[n++] = *p;
            continue;
        }
        int cDigits = *p > 0xFF ? 4 : 2;
        if (n + 2 + cDigits > LOG_LINE_CCH - 1)
            break;
        szLine[n++] = L'\\';
        szLine[n++] = cDigits == 4 ? L'u' : L'x';
        for (int shift = 4 * (cDigits - 1); shift >= 0; shift -= 4)
            szLine[n++] = s_hex[(*p >> shift) & 0xF];
    }
    szLine[n] = 0;
}

/* Whether the log file exists as a plain file, looked up at most once per
 * clock tick (LogCheckFileW): a disabled log then costs the job stream
 * nothing measurable, and creating, deleting or replacing the file still
 * takes effect within one tick. The tick and the answer share one 32-bit
 * word, so threads never pair a tick with another tick's answer. */
static volatile LONG s_lastCheck = -1;         // (tick << 1) | exists

static BOOL LogFileExists(const WCHAR *szPath)
{
    LONG lTick = (LONG)(GetTickCount() << 1);
    LONG lLast = s_lastCheck;
    if (lLast != -1 && (lLast & ~1) == lTick)
        return lLast & 1;
    BOOL bExists = LogCheckFileW(szPath);
    InterlockedExchange(&s_lastCheck, lTick | (bExists ? 1 : 0));
    return bExists;
}

/* Adds one whole line (time stamp, tag, level, message, line end) at
 * pb + *pcb; pb has room for LOG_LINE_BYTES more. */
static void LogAddLine(char *pb, DWORD *pcb, const SYSTEMTIME &st, const WCHAR *pszLevel, const WCHAR *pszFormat,
                       va_list args)
{
    WCHAR szLine[LOG_LINE_CCH];
    wsprintfW(szLine, L"%4d/%02d/%02d %02d:%02d:%02d.%03d LM %s ",
              st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond,
              st.wMilliseconds, pszLevel);
    LogAddPiece(pb, pcb, szLine, LOG_PREFIX_MAX);
    LogFormatCut(szLine, pszFormat, args);
    LogAddPiece(pb, pcb, szLine, LOG_BYTES_MAX);
    LogAddPiece(pb, pcb, L"\r\n", 2);
}

static void LogAddLineF(char *pb, DWORD *pcb, const SYSTEMTIME &st, const WCHAR *pszLevel, const WCHAR *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    LogAddLine(pb, pcb, st, pszLevel, pszFormat, args);
    va_end(args);
}

/* One line in one append, after a line that counts the lines lost before it,
 * if any were. While the file is absent (the usual case) nothing is
 * formatted or opened. */
static void LogLine(const WCHAR *pszLevel, const WCHAR *pszFormat, va_list args)
{
    DWORD dwCallerError = GetLastError();     // kept for callers that log between a call and its error
    WCHAR szPath[MAX_PATH];
    if (!LogPath(szPath) || !LogFileExists(szPath)) {
        SetLastError(dwCallerError);
        return;
    }
    SYSTEMTIME st;
    char abLines[2 * LOG_LINE_BYTES];
    DWORD cbLines = 0;
    GetLocalTime(&st);
    char szNote[LOG_NOTE_CCH];
    DWORD cDropped = LogTakeDroppedNote(szNote);
    if (cDropped)
        LogAddLineF(abLines, &cbLines, st, L"ERR", L"%S", szNote);
    LogAddLine(abLines, &cbLines, st, pszLevel, pszFormat, args);
    // A file refused at its open (a hard link made since the last check)
    // counts as absent until the next tick, so it costs one open a tick.
    if (!LogAppendKeptW(szPath, abLines, cbLines, cDropped + 1))
        InterlockedExchange(&s_lastCheck, (LONG)(GetTickCount() << 1));
    SetLastError(dwCallerError);
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

BOOL LogRunEnds(BOOL bResult)
{
    DWORD dwError = GetLastError();
    LogReleaseFile();
    SetLastError(dwError);
    return bResult;
}

void LogUnload()
{
    LogReleaseFile(TRUE);
}
