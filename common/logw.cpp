// Diagnostic log, wide form. One line is three appends (prefix, message,
// line end), each its own open/seek/write/close, so the file can be created
// or deleted at any time and every reader sees whole pieces.
#include "logw.h"
#include <stdarg.h>
#include <stdlib.h>

#define LOG_LINE_CCH   256   // formatting buffer, terminator included
#define LOG_BYTES_MAX  512   // conversion buffer
#define LOG_SCRATCH    1025  // wvsprintfW never writes more than 1024 characters

/* LogAppend: converts pszText with the C runtime's current locale and appends
 * it to the log. Every failure silently drops the text. */
void LogAppend(const WCHAR *pszText)
{
    WCHAR szPath[MAX_PATH];
    UINT cch = GetWindowsDirectoryW(szPath, MAX_PATH);
    if (cch < 3 || cch >= MAX_PATH)
        return;
    lstrcpyW(szPath + 3, L"kztdebug.txt");

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

static void LogLine(const WCHAR *pszLevel, const WCHAR *pszFormat, va_list args)
{
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
