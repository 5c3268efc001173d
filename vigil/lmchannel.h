// The status monitor's side of a port's status channel. Finds the printer's
// port and language monitor from the printer name, and opens the channel's
// named objects anew for every operation, so the monitor may close the port
// between two of them. ANSI strings throughout; failures leave their texts
// in LastErrorText. One thread only: the object holds no lock.
#pragma once
#include <windows.h>
#include <winspool.h>
#include <string>
#include "statusblock.h"

class LmChannel {
public:
    // Nothing open, no names, timeout 0 (no limit).
    LmChannel();
    // Closes any channel object still open and the printer handle.
    ~LmChannel();

    // Takes the printer name from this process's command line ("$X <name>").
    // FALSE, with "MyGetPrinterName <trimmed line>" in LastErrorText, when the
    // line holds no name.
    BOOL MyGetPrinterName();
    // The start-up check, first call of all: the printer name (given, or from
    // the command line when NULL), the printer opened (held until the object
    // dies), its port, driver and monitor names read from the spooler, and a
    // device id query through the spooler (1024-byte buffer, discarded). TRUE
    // when every step succeeded; LastErrorText holds the failing steps.
    BOOL MyOpenTapline(LPCSTR pszPrinterName = NULL);
    // Stores pszTitle (at most 256 bytes, zero-filled behind a shorter one) in
    // the block's szWindowName, or clears it for NULL. After MyOpenTapline.
    BOOL SetWindowName(LPCSTR pszTitle);
    // A copy of the whole block taken without the lock, or NULL on failure.
    // The copy is program-wide storage owned by this module: the next call
    // overwrites it, and the caller never frees it. After MyOpenTapline.
    StatusBlock *MyGetMapView();
    // One device request through the block. dwRequest is cut to 8 bits,
    // dwValue to 16, cbBuffer to 4094 bytes. A set command sends that many
    // bytes of pBuffer; any other code receives at most that many into it.
    // *pcbReturned (may be NULL) gets the monitor's count, which may exceed
    // what was copied. Waits up to the timeout for the lock, for an earlier
    // request's late reply, and for its own reply. After MyOpenTapline.
    BOOL MyGetPrinterDataIoCtl(DWORD dwCode, DWORD dwRequest, DWORD dwValue, LPBYTE pBuffer, DWORD cbBuffer,
                               LPDWORD pcbReturned);

    // Names read by MyOpenTapline (empty before it); owned by the object,
    // valid until the next MyOpenTapline or MyGetPrinterName.
    LPCSTR PrinterName() const { return m_strPrinterName.c_str(); }
    LPCSTR PortName() const { return m_strPortName.c_str(); }
    LPCSTR MonitorName() const { return m_strMonitorName.c_str(); }
    // The printer handle opened by MyOpenTapline, or NULL; owned by the object.
    HANDLE Printer() const { return m_hPrinter; }
    // The texts of the last operation's failing steps, joined; owned by the
    // object, valid until its next operation.
    LPCSTR LastErrorText() const { return m_strLastError.c_str(); }
    // Sets the wait limit in milliseconds (0: no limit); returns the previous one.
    DWORD SetTimeout(DWORD dwTimeout);

    // The printer name in a command line: the program token (quoted or up to
    // the first blank), blanks, then the rest of the line into *pstrName.
    // FALSE, *pstrName unchanged, when absent.
    static BOOL ParsePrinterName(LPCSTR pszCommandLine, std::string *pstrName);

private:
    // Opens the printer and reads its port, driver and monitor names.
    BOOL ReadPrinterInfo();
    // The spooler's device id query on the open printer.
    BOOL QueryDeviceIdValue();
    // Opens section, view and the three events; on failure the caller still
    // calls CloseChannel, which closes what was opened.
    BOOL OpenChannel();
    // Closes whatever OpenChannel opened; FALSE when a close failed.
    BOOL CloseChannel();
    // The request protocol on an open channel (between Open and CloseChannel).
    BOOL Request(DWORD dwCode, DWORD dwRequest, DWORD dwValue, LPBYTE pBuffer, DWORD cbBuffer,
                 LPDWORD pcbReturned);
    // Waits for one event up to dwWaitMs (INFINITE allowed).
    BOOL WaitFor(HANDLE hEvent, DWORD dwWaitMs, LPCSTR pszWhat);
    // Waits until the worker's reply echoes request number dwId.
    BOOL WaitForEcho(DWORD dwId, BOOL bSignalFirst, LPCSTR pszWhat);
    // Appends "<step> E <code> <system text>" (pszFormat holds "%d %s").
    void AddError(LPCSTR pszFormat, DWORD dwError);

    HANDLE m_hPrinter;
    HANDLE m_hFileMap;
    StatusBlock *m_pView;
    HANDLE m_hEventMap;
    HANDLE m_hEventCmd;
    HANDLE m_hEventRet;
    DWORD m_dwTimeout;
    std::string m_strPrinterName;
    std::string m_strPortName;
    std::string m_strDriverName;
    std::string m_strMonitorName;
    std::string m_strLastError;
};
