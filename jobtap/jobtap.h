// Language monitor internals: the per-port record, the global state and the
// routines shared between the library's files.
#pragma once
#include <windows.h>
#include <winspool.h>
#include <winsplp.h>
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
    PSECURITY_DESCRIPTOR pSecurityDescriptor;  // owned, null DACL
    HANDLE hEventMap;
    HANDLE hEventCmd;
    HANDLE hEventRet;
    HANDLE hThread;
    uint32_t dwThreadId;
    volatile LONG bExit;
    HANDLE hEventExit;                  // the worker's own exit signal, unnamed
    uint32_t bSkipJob;
    HMODULE hFilter;
    PFN_FILTER_OPEN pfnFilterOpen;
    PFN_FILTER_READ pfnFilterRead;
    PFN_FILTER_WRITE pfnFilterWrite;
    PFN_FILTER_FLUSH pfnFilterFlush;
    PFN_FILTER_CLOSE pfnFilterClose;
    uint32_t cbFilterBuffer;            // largest write of the current job
    LPBYTE pFilterBuffer;               // drain buffer, kept for the job
    uint32_t cbFilterAlloc;             // its allocated size
    uint32_t cbFilterPending;           // drained bytes at its start that a failed port write left
    UINT uMsgMonitor;                   // the notification message as Open registered it
    HANDLE hMonitorProcess;             // status monitor started by this port, closed with it
    HANDLE hMonitorThread;
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

// config.cpp
LPWSTR Vigilstr(LPCWSTR pszPrinterName);
LPWSTR Regstr(IniPort *pIniPort, LPCWSTR pszSuffix);

// jobstream.cpp: the port operations of the table.
BOOL WINAPI LmOpenPortEx(LPWSTR pszPortName, LPWSTR pszPrinterName, PHANDLE pHandle, LPMONITOR pMonitor);
BOOL WINAPI LmStartDocPort(HANDLE hPort, LPWSTR pszPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo);
BOOL WINAPI LmWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten);
BOOL WINAPI LmReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead);
BOOL WINAPI LmEndDocPort(HANDLE hPort);
BOOL WINAPI LmClosePort(HANDLE hPort);

// headtail.cpp
DWORD DecodeHexBytes(LPCWSTR pszText, LPBYTE pbOut, DWORD cbOut);
void SendHeadOrTail(IniPort *pIniPort, LPCWSTR pszSuffix, LPCWSTR pszSentFormat, LPCWSTR pszNoneFormat);

// filter.cpp
void LoadFilter(IniPort *pIniPort);
void UnloadFilter(IniPort *pIniPort, LPCWSTR pszFreeFormat = L"End FreeLibrary R %d E %d");
BOOL FilterWrite(IniPort *pIniPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten);
BOOL FilterEndDoc(IniPort *pIniPort);

// statuschannel.cpp
BOOL CreateStatusChannel(IniPort *pIniPort);
BOOL StartStatusThread(IniPort *pIniPort, LPCWSTR pszEventFormat, LPCWSTR pszThreadFormat);
void StopStatusThread(IniPort *pIniPort);
HWND FindStatusWindow(IniPort *pIniPort);
void NotifyStatusWindow(IniPort *pIniPort, LPCWSTR pszFindFormat, LPCWSTR pszPostFormat, WPARAM wEvent);
DWORD WINAPI StatusThread(LPVOID pParam);
BOOL WINAPI LmGetPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPWSTR pValueName,
                                     LPWSTR lpInBuffer, DWORD cbInBuffer, LPWSTR lpOutBuffer,
                                     DWORD cbOutBuffer, LPDWORD lpcbReturned);
BOOL VendorRequest(LPCWSTR pszValueName, LPDWORD pdwControlId, LPDWORD pdwRequest, LPDWORD pdwValue);
