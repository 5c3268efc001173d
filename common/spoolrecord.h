// Spooler records in a buffer of their own. Every Enum* and Get* function of
// the spooler is used the same way: ask the size with an empty buffer,
// allocate, call again. The buffer gets room to spare beyond the size the
// spooler announced: Wine 8's 64-bit GetPrinterW level 2 writes past it.
// Plain functions over a plain structure, so that every deliverable (the
// language monitor included) can use them, ANSI or wide alike.
#pragma once
#include <windows.h>
#include <winspool.h>

#define SPOOL_RECORD_SLACK 2048  // zero bytes after the announced size

// Everything a spooler call takes besides its buffer; each call reads only
// the fields it has. Strings are LPCSTR for the A calls, LPCWSTR for the W ones.
struct SpoolCallArgs {
    HANDLE hPrinter;           // Get*, EnumJobs
    const void *pName;         // Enum*: server name, NULL for the local spooler
    const void *pEnvironment;  // NULL for the current environment
    DWORD dwFlags;             // EnumPrinters: PRINTER_ENUM_*
    DWORD dwFirstJob;          // EnumJobs
    DWORD cJobs;               // EnumJobs
    DWORD dwLevel;
};

// One spooler call into pBuffer (cbBuf bytes); *pcReturned receives the record
// count (1 for a Get* call). Returns the call's result; last error as it left it.
typedef BOOL (*PFN_SPOOLFILL)(const SpoolCallArgs *pArgs, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbNeeded,
                              LPDWORD pcReturned);

// The calls, ANSI and wide. Inline, so that a binary imports only the
// spooler functions it calls: the linker keeps every import of an object
// file it takes from a library, used or not.
inline BOOL SpoolEnumPrintersA(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    return EnumPrintersA(a->dwFlags, (LPSTR)a->pName, a->dwLevel, p, cb, pcb, pc);
}

inline BOOL SpoolEnumPrintersW(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    return EnumPrintersW(a->dwFlags, (LPWSTR)a->pName, a->dwLevel, p, cb, pcb, pc);
}

inline BOOL SpoolEnumPrinterDriversA(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    return EnumPrinterDriversA((LPSTR)a->pName, (LPSTR)a->pEnvironment, a->dwLevel, p, cb, pcb, pc);
}

inline BOOL SpoolEnumPrinterDriversW(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    return EnumPrinterDriversW((LPWSTR)a->pName, (LPWSTR)a->pEnvironment, a->dwLevel, p, cb, pcb, pc);
}

inline BOOL SpoolEnumPrintProcessorsA(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    return EnumPrintProcessorsA((LPSTR)a->pName, (LPSTR)a->pEnvironment, a->dwLevel, p, cb, pcb, pc);
}

inline BOOL SpoolEnumPrintProcessorsW(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    return EnumPrintProcessorsW((LPWSTR)a->pName, (LPWSTR)a->pEnvironment, a->dwLevel, p, cb, pcb, pc);
}

inline BOOL SpoolEnumJobsA(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    return EnumJobsA(a->hPrinter, a->dwFirstJob, a->cJobs, a->dwLevel, p, cb, pcb, pc);
}

inline BOOL SpoolEnumJobsW(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    return EnumJobsW(a->hPrinter, a->dwFirstJob, a->cJobs, a->dwLevel, p, cb, pcb, pc);
}

inline BOOL SpoolGetPrinterA(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    *pc = 1;
    return GetPrinterA(a->hPrinter, a->dwLevel, p, cb, pcb);
}

inline BOOL SpoolGetPrinterW(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    *pc = 1;
    return GetPrinterW(a->hPrinter, a->dwLevel, p, cb, pcb);
}

inline BOOL SpoolGetPrinterDriverA(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    *pc = 1;
    return GetPrinterDriverA(a->hPrinter, (LPSTR)a->pEnvironment, a->dwLevel, p, cb, pcb);
}

inline BOOL SpoolGetPrinterDriverW(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    *pc = 1;
    return GetPrinterDriverW(a->hPrinter, (LPWSTR)a->pEnvironment, a->dwLevel, p, cb, pcb);
}

// The driver directory of pName and pEnvironment as one terminated string.
inline BOOL SpoolGetPrinterDriverDirectoryW(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    *pc = 1;
    return GetPrinterDriverDirectoryW((LPWSTR)a->pName, (LPWSTR)a->pEnvironment, a->dwLevel, p, cb, pcb);
}

// Which call of AllocSpoolRecord failed, so that callers log their own texts.
enum SpoolRecordStep {
    SPOOL_STEP_DONE = 0,  // the records are in the buffer
    SPOOL_STEP_SIZE,      // the size call failed with another error than ERROR_INSUFFICIENT_BUFFER
    SPOOL_STEP_ALLOC,     // no memory for the buffer
    SPOOL_STEP_FILL,      // the second call failed
    SPOOL_STEP_EMPTY,     // AllocSingleSpoolRecord: the spooler announced no size
};

struct SpoolRecordResult {
    SpoolRecordStep step;
    BOOL bResult;     // result of the last spooler call made
    DWORD dwError;    // its last error (0 when it set none), or the allocation's
    DWORD cbNeeded;   // size the spooler announced
    DWORD cReturned;  // records in the buffer; 0 unless step is SPOOL_STEP_DONE
};

// Calls pfnFill twice: first for the size (with a NULL buffer when cbProbe is
// 0, else with a zero-filled buffer of cbProbe bytes plus the slack), then with
// a zero-filled buffer of the announced size plus SPOOL_RECORD_SLACK, passing
// the announced size. A probe that already succeeds is kept. The last error is
// cleared before each call. Returns the buffer (free it with FreeSpoolRecord)
// or NULL with pResult saying which step failed; pResult is always filled.
LPBYTE AllocSpoolRecord(PFN_SPOOLFILL pfnFill, const SpoolCallArgs *pArgs, DWORD cbProbe,
                        SpoolRecordResult *pResult);
// One record of a Get* call at dwLevel on hPrinter (NULL for a call that
// takes no printer), without a probe. As AllocSpoolRecord, except that a
// record of no size counts as none: NULL with step SPOOL_STEP_EMPTY.
LPBYTE AllocSingleSpoolRecord(PFN_SPOOLFILL pfnFill, HANDLE hPrinter, DWORD dwLevel, SpoolRecordResult *pResult);
void FreeSpoolRecord(LPVOID pBuffer);  // accepts NULL
