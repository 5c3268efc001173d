// The diagnostic log's appends: the writers of one module take turns, then
// the line lock of every writer, then one WriteFile of whole lines.
#include "logfile.h"
#include "loglock.h"
#include "logopen.h"

// Lines lost since the last line that went out: a failed open of the
// existing file, a failed or short write (a whole-file lock of another
// process refuses the write).
static volatile LONG s_cDropped;

DWORD LogTakeDroppedLines()
{
    return (DWORD)InterlockedExchange(&s_cDropped, 0);
}

DWORD LogTakeDroppedNote(char *pszNote)
{
    DWORD cDropped = LogTakeDroppedLines();
    pszNote[0] = 0;
    if (cDropped)
        wsprintfA(pszNote, "Log %d lines dropped", cDropped);
    return cDropped;
}

static void CountDropped(DWORD cLines)
{
    InterlockedExchangeAdd(&s_cDropped, (LONG)cLines);
}

// The writers of this module take turns before they append: the line lock
// is then contended by other modules and processes only, and a thread
// preempted in its append (a loaded machine) holds up this module's other
// writers for that append, instead of making them give up on the line lock
// and append at the same end. The turn also guards the kept handle. A turn
// lasts one bounded append (an open that may not wait, a lock tried for a few
// milliseconds), so waiting for it needs no bound of its own. A waiter yields
// a few times, then sleeps: Sleep(0) alone would spin past a holder of lower
// priority.
static volatile LONG s_lWriting;

static void TakeWritersTurn()
{
    for (int nTries = 0; InterlockedCompareExchange(&s_lWriting, 1, 0) != 0; nTries++)
        Sleep(nTries < 16 ? 0 : 1);
}

static void GiveWritersTurn()
{
    InterlockedExchange(&s_lWriting, 0);
}

/* One append of cb bytes under the line lock, on the caller's turn. On
 * Windows 95, 98 and Me (the installer alone, from one thread) the writer
 * seeks to the end instead. */
static BOOL AppendOnTurn(HANDLE hFile, const void *pb, DWORD cb)
{
    DWORD cbWritten = 0;
    if (LogIsWindows9x())
        return SetFilePointer(hFile, 0, NULL, FILE_END) != INVALID_SET_FILE_POINTER &&
               WriteFile(hFile, pb, cb, &cbWritten, NULL) && cbWritten == cb;
    LogLineLock lock;
    LogTakeLineLock(hFile, &lock);
    BOOL bWritten = WriteFile(hFile, pb, cb, &cbWritten, NULL) && cbWritten == cb;
    LogGiveLineLock(&lock);
    return bWritten;
}

void LogAppendOnceA(const char *pszPath, const void *pb, DWORD cb, DWORD cLines)
{
    HANDLE hFile;
    LogOpenResult result = LogOpenPlainFileA(pszPath, &hFile);
    if (result != LOG_OPENED) {
        if (result == LOG_FAILED)
            CountDropped(cLines);
        return;
    }
    TakeWritersTurn();
    BOOL bWritten = AppendOnTurn(hFile, pb, cb);
    GiveWritersTurn();
    CloseHandle(hFile);
    if (!bWritten)
        CountDropped(cLines);
}

// The monitor's kept handle, or INVALID_HANDLE_VALUE; read and changed only
// on a writers' turn.
static HANDLE s_hKept = INVALID_HANDLE_VALUE;

static void CloseKeptOnTurn()
{
    if (s_hKept != INVALID_HANDLE_VALUE)
        CloseHandle(s_hKept);
    s_hKept = INVALID_HANDLE_VALUE;
}

BOOL LogCheckFileW(const WCHAR *pszPath)
{
    // Asked on the turn, so no append of this module comes between the
    // name's answer and the handle's.
    TakeWritersTurn();
    WIN32_FILE_ATTRIBUTE_DATA data;
    BOOL bPlain = GetFileAttributesExW(pszPath, GetFileExInfoStandard, &data) &&
                  !(data.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
    if (s_hKept != INVALID_HANDLE_VALUE) {
        // The name and the handle agree on the size only while they are the
        // same file (an append of another process in between costs a
        // reopen). A file deleted while it is open keeps its name until its
        // last handle closes: the kept handle lets it go.
        DWORD dwHigh = 0;
        DWORD dwLow = GetFileSize(s_hKept, &dwHigh);
        BOOL bSame = bPlain && dwLow == data.nFileSizeLow && dwHigh == data.nFileSizeHigh;
        LogOpenResult still = bSame ? LogCheckOpenFile(s_hKept) : LOG_FAILED;
        if (still != LOG_OPENED)
            CloseKeptOnTurn();
        if (still == LOG_REFUSED)
            bPlain = FALSE;
    }
    GiveWritersTurn();
    return bPlain;
}

BOOL LogAppendKeptW(const WCHAR *pszPath, const void *pb, DWORD cb, DWORD cLines)
{
    TakeWritersTurn();
    LogOpenResult result = LOG_OPENED;
    if (s_hKept == INVALID_HANDLE_VALUE)
        result = LogOpenPlainFileW(pszPath, &s_hKept);
    BOOL bWritten = result == LOG_OPENED && AppendOnTurn(s_hKept, pb, cb);
    if (result == LOG_OPENED && !bWritten)
        CloseKeptOnTurn();                   // the next line opens it again
    GiveWritersTurn();
    if (result == LOG_FAILED || (result == LOG_OPENED && !bWritten))
        CountDropped(cLines);
    return result != LOG_REFUSED;
}

void LogReleaseFile(BOOL bUnload)
{
    if (bUnload)
        LogReleaseLineLock();
    if (*(HANDLE volatile *)&s_hKept == INVALID_HANDLE_VALUE)   // read without the turn: a hint only
        return;
    TakeWritersTurn();
    CloseKeptOnTurn();
    GiveWritersTurn();
}
