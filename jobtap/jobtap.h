// Language monitor internals: the per-port record, the global state and the
// routines shared between the library's files.
#pragma once
#include <windows.h>
#include <winspool.h>
#include <winsplp.h>
#include <aclapi.h>
#include <stdint.h>
#include "statusblock.h"
#include "logw.h"

#define INIPORT_SIGNATURE 0x004B5A54u   // bytes 54 5A 4B 00

// Handles and pointers print as "x%x"; the log shows their low 32 bits.
#define LP(p) ((unsigned)(UINT_PTR)(p))

// Filter library entry points; all use the Windows API calling convention.
typedef BOOL (WINAPI *PFN_FILTER_OPEN)(void);
typedef BOOL (WINAPI *PFN_FILTER_READ)(LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead);
typedef BOOL (WINAPI *PFN_FILTER_WRITE)(LPBYTE pData, DWORD cbData, LPDWORD pcbAccepted);
typedef BOOL (WINAPI *PFN_FILTER_FLUSH)(void);
typedef BOOL (WINAPI *PFN_FILTER_CLOSE)(void);

static_assert(sizeof(MONITOR) == 17 * sizeof(void *), "MONITOR is 17 pointers");

// One open port; the spooler's port handle is a pointer to it.
struct IniPort {
    IniPort *pNext;
    uint32_t dwSignature;
    LPWSTR pszPortName;                 // owned; the list key
    LPWSTR pszPrinterName;              // owned; printer of the latest StartDoc
    HANDLE hPort;                       // the port monitor's handle
    uint32_t dwJobId;
    MONITOR Monitor;                    // copy of the port monitor's table
    HANDLE hFileMap;
    StatusBlock *pLm;                   // mapped view of hFileMap
    struct ChannelSecurity *pSecurity;  // owned: the section's and the events' access lists
    HANDLE hEventMap;
    HANDLE hEventCmd;
    HANDLE hEventRet;
    HANDLE hThread;
    uint32_t dwThreadId;
    volatile LONG bExit;
    BOOL bChannelClaimed;               // this port's object names are taken (under g_PortListLock)
    BOOL bClosing;                      // Close runs: no new Get (under g_PortListLock)
    BOOL bDeleted;                      // DeletePortEntry ran; listed only while the port below waits to close
    volatile LONG cRefs;                // the open port's own reference and one per running Get
    HANDLE hEventExit;                  // the worker's own exit signal, unnamed
    uint32_t bSkipJob;
    HMODULE hFilter;
    PFN_FILTER_OPEN pfnFilterOpen;
    PFN_FILTER_READ pfnFilterRead;
    PFN_FILTER_WRITE pfnFilterWrite;
    PFN_FILTER_FLUSH pfnFilterFlush;
    PFN_FILTER_CLOSE pfnFilterClose;
    LPBYTE pFilterBuffer;               // drain buffer, kept for the job
    uint32_t cbFilterPending;           // drained bytes at its start that a failed port write left
    uint64_t cbFilterIn;                // bytes the filter took in the current job
    uint64_t cbFilterOut;               // bytes its "Read" handed out in the current job
    uint64_t cFilterReads;              // its reads that handed out bytes in the current job
    uint32_t dwFilterLost;              // error of job data a drain lost on the filter's side (0: none)
    UINT uMsgMonitor;                   // the notification message as Open registered it
};
// An absolute security descriptor with its own access list.
struct ChannelSecurity {
    SECURITY_DESCRIPTOR sd;
    BYTE abAcl[128];
};

static_assert(sizeof(((IniPort *)0)->dwSignature) == 4, "signature is 32 bits");
static_assert(sizeof(((IniPort *)0)->bExit) == 4, "exit request is 32 bits");

// monitor.cpp
extern LPWSTR g_RegistryRoot;
extern LPWSTR g_LmName;
extern IniPort *g_PortList;
extern CRITICAL_SECTION g_PortListLock;

LPVOID AllocSplMem(DWORD cb);
LPWSTR AllocSplStr(LPCWSTR psz);
BOOL FreeSplMem(LPVOID p);
IniPort *FindPortEntry(LPCWSTR pszPortName);
IniPort *CreatePortEntry(LPCWSTR pszPortName);
BOOL DeletePortEntry(IniPort *pIniPort);
BOOL IsValidPort(const IniPort *pIniPort);
// TRUE when pIniPort is a record of g_PortList (found by address) whose
// deletion has not run: an open port, not one whose close was put off. The
// caller holds no lock.
BOOL IsOpenPortEntry(const IniPort *pIniPort);
// Get's hold on a record: TRUE when pIniPort is an open port's record (found
// by address in the list, so a freed handle is never read) that is not
// closing; the record, and its port below, then stay until LeaveGet, which
// frees both when Close has meanwhile given up the port's own reference.
// The caller holds no lock.
BOOL EnterGet(IniPort *pIniPort);
void LeaveGet(IniPort *pIniPort);
// Drops one reference to the record (a Get's, the worker's or the open
// port's own); the last one closes what is left and frees the record. The
// caller holds no lock and no longer touches the record.
void ReleasePortEntry(IniPort *pIniPort);
// Closes the port below with pfnClosePort and logs "Close pfnClose R %d E %d";
// on success hPort becomes NULL. The port monitor's result and last error.
BOOL ClosePortBelow(IniPort *pIniPort);
// Close's side: bHold TRUE refuses new Gets and returns whether none runs
// now (the port below may then be closed at once); it never waits. FALSE
// lets Gets in again (the port below refused to close).
BOOL HoldGets(IniPort *pIniPort, BOOL bHold);

// config.cpp
LPWSTR Vigilstr(LPCWSTR pszPrinterName);
LPWSTR Regstr(IniPort *pIniPort, LPCWSTR pszSuffix, BOOL *pbAbsent = NULL);

// jobstream.cpp: the port operations of the table.
BOOL WINAPI LmOpenPortEx(LPWSTR pszPortName, LPWSTR pszPrinterName, PHANDLE pHandle, LPMONITOR pMonitor);
BOOL WINAPI LmStartDocPort(HANDLE hPort, LPWSTR pszPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo);
BOOL WINAPI LmWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten);
BOOL WINAPI LmReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead);
BOOL WINAPI LmEndDocPort(HANDLE hPort);
BOOL WINAPI LmClosePort(HANDLE hPort);

// headtail.cpp
DWORD DecodeHexBytes(LPCWSTR pszText, LPBYTE pbOut, DWORD cbOut);
BOOL SendHeadOrTail(IniPort *pIniPort, LPCWSTR pszSuffix, LPCWSTR pszSentFormat, LPCWSTR pszNoneFormat,
                    LPCWSTR pszCutFormat);

// filter.cpp
// Loads the " Filter" library of the port's printer and takes its module for
// this job (see filterlock.cpp). FALSE, logged, with ERROR_BUSY when another
// port's job keeps the module beyond the bound, or ERROR_NOT_ENOUGH_MEMORY;
// TRUE otherwise, filter loaded or not.
BOOL LoadFilter(IniPort *pIniPort);
void UnloadFilter(IniPort *pIniPort, LPCWSTR pszFreeFormat = L"End FreeLibrary R %d E %d");
BOOL FilterWrite(IniPort *pIniPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten);
BOOL FilterEndDoc(IniPort *pIniPort);

// channelsecurity.cpp
// Builds the section's and the events' descriptors (SYSTEM and Administrators
// all access, interactive users what the status monitor needs). FALSE with
// the last error set.
BOOL BuildChannelSecurity(ChannelSecurity *pSection, ChannelSecurity *pEvents);
// For an object that existed before this port opened it: null when it may be
// used (its owner is trusted; it now carries pSecurity's access list; an
// event given as hEventState is auto-reset, left signalled when bSignalled),
// else a word naming what is wrong ("owner", "access", "type").
LPCWSTR CheckFoundObject(HANDLE hObject, const ChannelSecurity *pSecurity, HANDLE hEventState, BOOL bSignalled);

// filterlock.cpp: one job at a time per filter module, whose entry points
// have no context to tell two jobs apart.
// Waits up to FILTER_WAIT_MS until no other port's job holds hModule, then
// takes it for pIniPort; waiting ports take it in the order they came, so a
// port with job after job cannot keep another out. FALSE with ERROR_BUSY on
// timeout, or with ERROR_NOT_ENOUGH_MEMORY (logged) when memory runs out.
BOOL AcquireFilterModule(IniPort *pIniPort, HMODULE hModule);
// Gives the module free for the next job (a no-op when pIniPort holds none).
void ReleaseFilterModule(IniPort *pIniPort);
#define FILTER_WAIT_MS 30000
#define FILTER_CHUNK   0x40000   // bytes offered to the filter's "Read" at a time (256 KB)
// The drain buffer: small reads gather behind each other until a chunk's
// worth is there, and every read is still offered a whole chunk.
#define FILTER_BUFFER  (2 * FILTER_CHUNK)
// A filter may hand out more than it took (a job it expands), but not
// without end: a job's drains fail once the filter handed out more than
// FILTER_GROWTH_MAX times what it took, plus FILTER_GROWTH_SLACK bytes.
#define FILTER_GROWTH_MAX   16
#define FILTER_GROWTH_SLACK 0x40000000ull   // 1 GB
// Nor in crumbs without end: the drains fail once its reads that handed out
// bytes number more than the bytes it took, plus one per FILTER_READ_UNIT
// bytes it handed out, plus FILTER_READS_SLACK.
#define FILTER_READ_UNIT    64
#define FILTER_READS_SLACK  0x1000000ull   // 16 M

// statusstart.cpp: the status program started for a port, kept past Close.
// Whether the program last started for the port still runs.
BOOL StatusProgramRunning(LPCWSTR pszPortName);
// Keeps hProcess and hThread (both owned by the list from now on; the caller
// no longer uses them) as the port's program; closes those of the port's
// earlier program, which has ended. FALSE when memory ran out: both are
// closed then.
BOOL KeepStatusProgram(LPCWSTR pszPortName, HANDLE hProcess, HANDLE hThread);
// StartDoc's start of the configured status monitor for job JobId of the
// printer, when no program started for the port still runs: in the spooler's
// session on Windows 2000/XP, in the job owner's session (or not at all) on
// Vista and later. The status window found by its title then, or null.
// The port has a status channel (pIniPort->pLm).
HWND StartStatusMonitor(IniPort *pIniPort, LPCWSTR pszPrinterName, DWORD JobId);

// statuschannel.cpp
enum ChannelResult { CHANNEL_READY, CHANNEL_NONE, CHANNEL_FAILED };
// Sets up the port's channel at Open: READY; NONE when the names are taken or
// an object found under them is not trusted (the port then prints without a
// channel; the objects are closed again); FAILED with the last error set.
ChannelResult CreateStatusChannel(IniPort *pIniPort);
// Closes the port's events, view and section, gives its names free. The
// worker has been stopped. The caller does not hold g_PortListLock.
void CloseStatusChannel(IniPort *pIniPort);
BOOL StartStatusThread(IniPort *pIniPort, LPCWSTR pszEventFormat, LPCWSTR pszThreadFormat, LPCWSTR pszCloseFormat);
// Stops the port's worker, waiting at most STATUS_STOP_WAIT_MS. FALSE when it
// still runs a device request then: it keeps its own reference on the record
// and the channel, and the last reference closes both (ReleasePortEntry).
BOOL StopStatusThread(IniPort *pIniPort);
#define STATUS_STOP_WAIT_MS 5000
// Closes the worker's exit event, if there is one, once no worker uses it;
// pszFormat logs the close (its result and last error).
void CloseExitEvent(IniPort *pIniPort, LPCWSTR pszFormat);
HWND FindStatusWindow(IniPort *pIniPort);
void NotifyStatusWindow(IniPort *pIniPort, LPCWSTR pszFindFormat, LPCWSTR pszPostFormat, WPARAM wEvent);
DWORD WINAPI StatusThread(LPVOID pParam);
BOOL WINAPI LmGetPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPWSTR pValueName,
                                     LPWSTR lpInBuffer, DWORD cbInBuffer, LPWSTR lpOutBuffer,
                                     DWORD cbOutBuffer, LPDWORD lpcbReturned);
BOOL VendorRequest(LPCWSTR pszValueName, LPDWORD pdwControlId, LPDWORD pdwRequest, LPDWORD pdwValue);
