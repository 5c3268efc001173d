// Diagnostic log, ANSI form: the installer's file writer and line format.
#include "loga.h"
#include "logfile.h"

BOOL LogPathForNameA(const char *pszName, char *pszPath, DWORD cchPath)
{
    char szDir[256];
    if (pszPath && cchPath)
        pszPath[0] = 0;
    UINT cch = GetWindowsDirectoryA(szDir, sizeof(szDir));
    if (cch < 3 || cch >= sizeof(szDir) || !pszName || !*pszName || !pszPath)
        return FALSE;
    if (szDir[0] != '\\' && !strchr(szDir, ':'))
        return FALSE;
    if (3 + lstrlenA(pszName) + 1 > (int)cchPath)
        return FALSE;
    lstrcpyA(szDir + 3, pszName);
    lstrcpyA(pszPath, szDir);
    return TRUE;
}

BOOL LogFileExistsA(const char *pszPath)
{
    static char s_szPath[MAX_PATH];
    static DWORD s_dwTick;
    static BOOL s_bExists;
    if (!pszPath || !*pszPath)
        return FALSE;
    DWORD dwTick = GetTickCount();
    if (s_szPath[0] && dwTick == s_dwTick && !lstrcmpA(s_szPath, pszPath))
        return s_bExists;
    s_bExists = GetFileAttributesA(pszPath) != INVALID_FILE_ATTRIBUTES;
    s_dwTick = dwTick;
    lstrcpynA(s_szPath, pszPath, sizeof(s_szPath));
    return s_bExists;
}

void LogFileWriteA(const char *pszPath, const char *pszText)
{
    if (!pszPath || !*pszPath || !pszText)
        return;
    // A line counting the lines lost before this text goes out with it.
    char szLines[256 + LOGA_TEXT_MAX];
    DWORD cbNote = 0;
    char szNote[LOG_NOTE_CCH + 2];
    DWORD cDropped = LogTakeDroppedNote(szNote);
    if (cDropped) {
        lstrcatA(szNote, "\r\n");
        LogFormatLineA(szLines, 256, TRUE, szNote);
        cbNote = (DWORD)lstrlenA(szLines);
    }
    int cb = lstrlenA(pszText);
    if (cb > LOGA_TEXT_MAX)
        cb = LOGA_TEXT_MAX;
    memcpy(szLines + cbNote, pszText, cb);
    LogAppendOnceA(pszPath, szLines, cbNote + (DWORD)cb, cDropped + 1);
}

void LogFormatLineA(char *pszLine, DWORD cchLine, BOOL bError, const char *pszMessage)
{
    SYSTEMTIME st;
    char szPrefix[64];
    if (!pszLine || !cchLine)
        return;
    GetLocalTime(&st);
    wsprintfA(szPrefix, "%4d/%02d/%02d %02d:%02d:%02d.%03d DI %s ",
              st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond,
              st.wMilliseconds, bError ? "ERR" : "DBG");
    lstrcpynA(pszLine, szPrefix, cchLine);
    int cch = lstrlenA(pszLine);
    if (pszMessage && (DWORD)cch + 1 < cchLine)
        lstrcpynA(pszLine + cch, pszMessage, cchLine - cch);
}
