// The status monitor's side of a port's status channel. Finds the printer's
// port and language monitor from the printer name, and opens the channel's
// named objects anew for every operation, so the monitor may close the port
// between two of them. ANSI strings throughout; failures leave their texts
// in LastErrorText.
#pragma once
#include <windows.h>
#include <winspool.h>
#include <string>
#include "statusblock.h"

class LmChannel {
public:
    LmChannel();
    ~LmChannel();

    BOOL MyGetPrinterName();
    BOOL MyOpenTapline(LPCSTR pszPrinterName = NULL);
    BOOL SetWindowName(LPCSTR pszTitle);
    StatusBlock *MyGetMapView();
    BOOL MyGetPrinterDataIoCtl(DWORD dwCode, DWORD dwRequest, DWORD dwValue, LPBYTE pBuffer, DWORD cbBuffer,
                               LPDWORD pcbReturned);

    LPCSTR PrinterName() const { return m_strPrinterName.c_str(); }
    LPCSTR PortName() const { return m_strPortName.c_str(); }
    LPCSTR MonitorName() const { return m_strMonitorName.c_str(); }
    HANDLE Printer() const { return m_hPrinter; }
    LPCSTR LastErrorText() const { return m_strLastError.c_str(); }
    DWORD SetTimeout(DWORD dwTimeout);

    // The printer name in a command line: the program token (quoted or up to
    // the first blank), blanks, then the rest of the line. FALSE when absent.
    static BOOL ParsePrinterName(LPCSTR pszCommandLine, std::string *pstrName);

private:
    BOOL ReadPrinterInfo();
    BOOL QueryDeviceIdValue();
    BOOL OpenChannel();
    BOOL CloseChannel();
    BOOL Request(DWORD dwCode, DWORD dwRequest, DWORD dwValue, LPBYTE pBuffer, DWORD cbBuffer,
                 LPDWORD pcbReturned);
    BOOL WaitFor(HANDLE hEvent, DWORD dwWaitMs, LPCSTR pszWhat);
    BOOL WaitForEcho(DWORD dwId, BOOL bSignalFirst, LPCSTR pszWhat);
    void AddError(LPCSTR pszStep, DWORD dwError);
    void AddText(LPCSTR pszText) { m_strLastError += pszText; }

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
