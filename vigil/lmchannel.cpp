#include "lmchannel.h"
#include <stdarg.h>
#include <stdio.h>
#include "spoolrecord.h"
#include "sysmsg.h"
#include "viewcheck.h"

#define LM_DATA_MAX 4094          // largest request size sent through the block
#define DEVICE_ID_VALUE "IOCTL_PAR_QUERY_DEVICE_ID"

static StatusBlock g_MapViewCopy;   // program-wide snapshot area

/* Nothing open; timeout 0 (no limit) until the window sets one. */
LmChannel::LmChannel()
    : m_hPrinter(NULL), m_hFileMap(NULL), m_pView(NULL), m_hEventMap(NULL), m_hEventCmd(NULL),
      m_hEventRet(NULL), m_dwTimeout(0)
{
}

/* Closes what an interrupted operation left open, then the printer. */
LmChannel::~LmChannel()
{
    CloseChannel();
    if (m_hPrinter)
        ClosePrinter(m_hPrinter);
}

/* Sets the wait limit in milliseconds (0: none); returns the previous one. */
DWORD LmChannel::SetTimeout(DWORD dwTimeout)
{
    DWORD dwPrevious = m_dwTimeout;
    m_dwTimeout = dwTimeout;
    return dwPrevious;
}

/* Appends one printf-formatted text to *pstr, cut at 1023 characters. */
static void AppendFormat(std::string *pstr, LPCSTR pszFormat, ...)
{
    char szText[1024];
    va_list args;
    va_start(args, pszFormat);
    vsnprintf(szText, sizeof(szText), pszFormat, args);
    va_end(args);
    szText[sizeof(szText) - 1] = 0;
    *pstr += szText;
}

/* Appends "<step> E <code> <system text>" to LastErrorText: pszFormat holds
 * "%d %s" for the code and the system's message text (trailing blanks cut). */
void LmChannel::AddError(LPCSTR pszFormat, DWORD dwError)
{
    char szMessage[512];
    SystemMessageA(dwError, szMessage, sizeof(szMessage), TRUE);
    AppendFormat(&m_strLastError, pszFormat, (int)dwError, szMessage);
}

/* The printer name in a command line: after the program token (quoted, or up
 * to the first blank) and the blanks behind it, the rest of the trimmed line,
 * blanks included. FALSE, *pstrName untouched, when nothing follows. */
BOOL LmChannel::ParsePrinterName(LPCSTR pszCommandLine, std::string *pstrName)
{
    std::string line = pszCommandLine ? pszCommandLine : "";
    const char *pszSpace = " \t\r\n";
    size_t first = line.find_first_not_of(pszSpace);
    size_t last = line.find_last_not_of(pszSpace);
    line = first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
    size_t end;
    if (!line.empty() && line[0] == '"') {
        end = line.find('"', 1);
        if (end == std::string::npos)
            return FALSE;
        ++end;
    } else {
        end = line.find(' ');
        if (end == std::string::npos)
            return FALSE;
    }
    end = line.find_first_not_of(' ', end);
    if (end == std::string::npos)
        return FALSE;
    *pstrName = line.substr(end);
    return TRUE;
}

/* MyGetPrinterName: the printer name from this process's command line into
 * m_strPrinterName; FALSE with "MyGetPrinterName <trimmed line>" as
 * LastErrorText. */
BOOL LmChannel::MyGetPrinterName()
{
    LPCSTR pszCommandLine = GetCommandLineA();
    if (ParsePrinterName(pszCommandLine, &m_strPrinterName))
        return TRUE;
    std::string trimmed = pszCommandLine ? pszCommandLine : "";
    size_t first = trimmed.find_first_not_of(" \t\r\n"), last = trimmed.find_last_not_of(" \t\r\n");
    trimmed = first == std::string::npos ? std::string() : trimmed.substr(first, last - first + 1);
    m_strLastError.clear();
    AppendFormat(&m_strLastError, "MyGetPrinterName %s", trimmed.c_str());
    return FALSE;
}

/* Opens the printer (m_hPrinter, replacing an earlier handle) and reads its
 * port, driver and monitor names; an unknown driver leaves the monitor name
 * empty. FALSE with the failing step's text appended. */
BOOL LmChannel::ReadPrinterInfo()
{
    if (m_hPrinter)
        ClosePrinter(m_hPrinter);
    m_hPrinter = NULL;
    if (!OpenPrinterA((LPSTR)m_strPrinterName.c_str(), &m_hPrinter, NULL)) {
        m_hPrinter = NULL;
        AddError("OpenPrinter E %d %s", GetLastError());
        return FALSE;
    }
    SpoolCallArgs args = {};
    args.hPrinter = m_hPrinter;
    args.dwLevel = 2;
    SpoolRecordResult r;
    LPBYTE pRecord = AllocSpoolRecord(SpoolGetPrinterA, &args, 0, &r);
    if (!pRecord) {
        AddError("GetPrinter E %d %s", r.dwError);
        return FALSE;
    }
    const PRINTER_INFO_2A *pInfo = (const PRINTER_INFO_2A *)pRecord;
    m_strPortName = pInfo->pPortName ? pInfo->pPortName : "";
    m_strDriverName = pInfo->pDriverName ? pInfo->pDriverName : "";
    FreeSpoolRecord(pRecord);

    args.dwLevel = 3;  // local machine, current environment
    pRecord = AllocSpoolRecord(SpoolEnumPrinterDriversA, &args, 0, &r);
    if (!pRecord) {
        AddError("EnumPrinterDrivers E %d %s", r.dwError);
        return FALSE;
    }
    m_strMonitorName.clear();
    const DRIVER_INFO_3A *pDrivers = (const DRIVER_INFO_3A *)pRecord;
    for (DWORD i = 0; i < r.cReturned; ++i) {
        if (pDrivers[i].pName && lstrcmpiA(pDrivers[i].pName, m_strDriverName.c_str()) == 0) {
            m_strMonitorName = pDrivers[i].pMonitorName ? pDrivers[i].pMonitorName : "";
            break;
        }
    }
    FreeSpoolRecord(pRecord);
    return TRUE;
}

/* Asks the spooler for the device id value (into a 1024-byte buffer that is
 * then dropped), which the spooler passes to the language monitor. Needs the
 * printer opened by ReadPrinterInfo. Windows 2000, XP and every later NT
 * answer "not found" when the spooler does not pass the value to the monitor,
 * which counts as success there. */
BOOL LmChannel::QueryDeviceIdValue()
{
    OSVERSIONINFOA osvi = {sizeof(osvi)};
    GetVersionExA(&osvi);
    BOOL bWin9x = osvi.dwMajorVersion == 4 && osvi.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
    BOOL bNt5OrLater = osvi.dwMajorVersion >= 5 && osvi.dwPlatformId == VER_PLATFORM_WIN32_NT;
    char szMessage[512];
    if (bWin9x) {
        DWORD dwStatus = SetPrinterDataA(m_hPrinter, (LPSTR)DEVICE_ID_VALUE, 0, (LPBYTE)"", 0);
        if (dwStatus != 0 && dwStatus != ERROR_FILE_NOT_FOUND) {
            SystemMessageA(dwStatus, szMessage, sizeof(szMessage), TRUE);
            AppendFormat(&m_strLastError, "SetPrinterData(%s) R %d %s", DEVICE_ID_VALUE, (int)dwStatus, szMessage);
            return FALSE;
        }
    }
    BYTE abData[1024];
    DWORD cbNeeded = 0;
    DWORD dwStatus = GetPrinterDataA(m_hPrinter, (LPSTR)DEVICE_ID_VALUE, NULL, abData, sizeof(abData), &cbNeeded);
    if (dwStatus != 0) {
        if (dwStatus == ERROR_FILE_NOT_FOUND && bNt5OrLater)
            return TRUE;
        SystemMessageA(dwStatus, szMessage, sizeof(szMessage), TRUE);
        AppendFormat(&m_strLastError, "GetPrinterData(%s) R %d %s", DEVICE_ID_VALUE, (int)dwStatus, szMessage);
        return FALSE;
    }
    if (cbNeeded == 0) {
        AppendFormat(&m_strLastError, "GetPrinterData(%s) cbNeeded=%d", DEVICE_ID_VALUE, 0);
        return FALSE;
    }
    return TRUE;
}

/* MyOpenTapline: the start-up check; LastErrorText starts empty and collects
 * the failing step. */
BOOL LmChannel::MyOpenTapline(LPCSTR pszPrinterName)
{
    m_strLastError.clear();
    if (pszPrinterName)
        m_strPrinterName = pszPrinterName;
    else if (!MyGetPrinterName())
        return FALSE;
    return ReadPrinterInfo() && QueryDeviceIdValue();
}

/* The name of one channel object (at most 255 characters before conversion),
 * returned by value. The rule is applied to wide text and the
 * result converted back, so a double-byte character whose trail byte is a
 * backslash stays intact, as in the monitor's own (wide) names. */
static std::string ChannelObjectName(StatusObject object, const std::string &lmName, const std::string &portName)
{
    WCHAR szLm[STATUS_NAME_CCH] = L"", szPort[STATUS_NAME_CCH] = L"", szName[STATUS_NAME_CCH];
    MultiByteToWideChar(CP_ACP, 0, lmName.c_str(), -1, szLm, STATUS_NAME_CCH);
    MultiByteToWideChar(CP_ACP, 0, portName.c_str(), -1, szPort, STATUS_NAME_CCH);
    szLm[STATUS_NAME_CCH - 1] = szPort[STATUS_NAME_CCH - 1] = 0;
    FormatStatusObjectName(szName, STATUS_NAME_CCH, object, (LPCWSTR)szLm, (LPCWSTR)szPort);
    char szAnsi[STATUS_NAME_CCH * 2];
    if (!WideCharToMultiByte(CP_ACP, 0, szName, -1, szAnsi, sizeof(szAnsi), NULL, NULL))
        szAnsi[0] = 0;
    return szAnsi;
}

/* TRUE on Vista and later (NT 6 on): there the spooler runs in session 0,
 * whose objects a program in a user's session reaches only through the
 * "Global\" prefix. */
static BOOL GlobalNamespaceFirst()
{
    OSVERSIONINFOA osvi = {sizeof(osvi)};
    return GetVersionExA(&osvi) && osvi.dwPlatformId == VER_PLATFORM_WIN32_NT && osvi.dwMajorVersion >= 6;
}

/* Opens the section, maps all of it and opens the lock, command and reply
 * events, stopping at the first failure with its text appended. The caller
 * calls CloseChannel in every case. On Vista and later the objects are
 * looked for in the global namespace first, where the spooler's are; only
 * when no section of that name is there, under the plain names (a monitor
 * side in this session, as on Windows 2000/XP). All four from one namespace. */
BOOL LmChannel::OpenChannel()
{
    // Only the rights the monitor's access lists give the interactive user:
    // map for reading and writing, wait on and set the events.
    std::string strSpace;
    std::string strMap = ChannelObjectName(StatusFileMap, m_strMonitorName, m_strPortName);
    if (GlobalNamespaceFirst()) {
        m_hFileMap = OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, ("Global\\" + strMap).c_str());
        DWORD dwError = GetLastError();
        if (m_hFileMap)
            strSpace = "Global\\";
        else if (dwError != ERROR_FILE_NOT_FOUND) {
            // There, but refused: a plain name of this session is no stand-in.
            AddError("OpenFileMapping E %d %s", dwError);
            return FALSE;
        }
    }
    if (!m_hFileMap)
        m_hFileMap = OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, strMap.c_str());
    if (!m_hFileMap) {
        AddError("OpenFileMapping E %d %s", GetLastError());
        return FALSE;
    }
    m_pView = (StatusBlock *)MapViewOfFile(m_hFileMap, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0);
    if (!m_pView) {
        AddError("MapViewOfFile E %d %s", GetLastError());
        return FALSE;
    }
    // A section of that name made by someone else may be smaller than the
    // block or have pages that are not committed: measured before anything
    // in it is read.
    if (!IsViewCommitted(m_pView, sizeof(StatusBlock))) {
        AddError("MapViewOfFile E %d %s", ERROR_INVALID_BLOCK_LENGTH);
        return FALSE;
    }
    static const struct { StatusObject object; LPCSTR pszError; } s_events[] = {
        {StatusEventMap, "OpenEvent_Map E %d %s"},
        {StatusEventCmd, "OpenEvent_Cmd E %d %s"},
        {StatusEventRet, "OpenEvent_Ret E %d %s"}};
    HANDLE *phEvents[] = {&m_hEventMap, &m_hEventCmd, &m_hEventRet};
    for (int i = 0; i < 3; ++i) {
        std::string strEvent = strSpace + ChannelObjectName(s_events[i].object, m_strMonitorName, m_strPortName);
        *phEvents[i] = OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, strEvent.c_str());
        if (!*phEvents[i]) {
            AddError(s_events[i].pszError, GetLastError());
            return FALSE;
        }
    }
    return TRUE;
}

/* Closes the events, the view and the section that are open, clearing each
 * field; every failed close appends its text. FALSE when one failed. */
BOOL LmChannel::CloseChannel()
{
    BOOL bOk = TRUE;
    static const LPCSTR s_errors[] = {"CloseEvent_Map E %d %s", "CloseEvent_Cmd E %d %s", "CloseEvent_Ret E %d %s"};
    HANDLE *phEvents[] = {&m_hEventMap, &m_hEventCmd, &m_hEventRet};
    for (int i = 0; i < 3; ++i) {
        if (*phEvents[i] && !CloseHandle(*phEvents[i])) {
            AddError(s_errors[i], GetLastError());
            bOk = FALSE;
        }
        *phEvents[i] = NULL;
    }
    if (m_pView && !UnmapViewOfFile(m_pView)) {
        AddError("UnmapViewOfFile E %d %s", GetLastError());
        bOk = FALSE;
    }
    m_pView = NULL;
    if (m_hFileMap && !CloseHandle(m_hFileMap)) {
        AddError("CloseFileMapping E %d %s", GetLastError());
        bOk = FALSE;
    }
    m_hFileMap = NULL;
    return bOk;
}

/* SetWindowName: at most 256 bytes of pszTitle into szWindowName, zeros
 * behind; NULL clears the field. No lock: the monitor only reads it. */
BOOL LmChannel::SetWindowName(LPCSTR pszTitle)
{
    m_strLastError.clear();
    BOOL bOk = OpenChannel();
    if (bOk) {
        ZeroMemory(m_pView->szWindowName, sizeof(m_pView->szWindowName));
        if (pszTitle) {
            size_t cb = strlen(pszTitle);
            memcpy(m_pView->szWindowName, pszTitle, cb < sizeof(m_pView->szWindowName) ? cb : sizeof(m_pView->szWindowName));
        }
    }
    return CloseChannel() && bOk;
}

/* MyGetMapView: the 4428-byte block copied without the lock into the
 * program-wide copy area, which the caller must not free; NULL on failure. */
StatusBlock *LmChannel::MyGetMapView()
{
    m_strLastError.clear();
    BOOL bOk = OpenChannel();
    if (bOk)
        memcpy(&g_MapViewCopy, m_pView, sizeof(StatusBlock));
    bOk = CloseChannel() && bOk;
    return bOk ? &g_MapViewCopy : NULL;
}

/* Waits for one event up to dwWaitMs (INFINITE allowed); FALSE with the text
 * of the failed wait, pszWhat naming the step, appended to LastErrorText. */
BOOL LmChannel::WaitFor(HANDLE hEvent, DWORD dwWaitMs, LPCSTR pszWhat)
{
    DWORD dwWait = WaitForSingleObject(hEvent, dwWaitMs);
    if (dwWait == WAIT_OBJECT_0)
        return TRUE;
    if (dwWait == WAIT_TIMEOUT) {
        AppendFormat(&m_strLastError, "%s WAIT_TIMEOUT", pszWhat);
    } else if (dwWait == WAIT_ABANDONED) {
        AppendFormat(&m_strLastError, "%s WAIT_ABANDONED", pszWhat);
    } else if (dwWait == WAIT_FAILED) {
        DWORD dwError = GetLastError();
        char szMessage[512];
        SystemMessageA(dwError, szMessage, sizeof(szMessage), TRUE);
        AppendFormat(&m_strLastError, "%s R %d E %d %s", pszWhat, -1, (int)dwError, szMessage);
    } else {
        AppendFormat(&m_strLastError, "%s KZT_UNKNOWN", pszWhat);
    }
    return FALSE;
}

/* The number the monitor's worker last echoed in dwReplyId, read before any
 * reply field that it guards. */
static DWORD ReadReplyId(const StatusBlock *pLm)
{
    DWORD dwReplyId = *(const volatile uint32_t *)&pLm->dwReplyId;
    MemoryBarrier();
    return dwReplyId;
}

/* The number of the next request: one more than the last one in the block,
 * never 0 (a client that does not number) nor STATUS_REPLY_BUSY. */
static DWORD NextRequestId(DWORD dwLastId)
{
    DWORD dwId = dwLastId + 1;
    while (dwId == 0 || dwId == STATUS_REPLY_BUSY)
        ++dwId;
    return dwId;
}

/* Waits on the reply event until the worker's dwReplyId echoes dwId, within
 * the timeout over all signals; a signal whose echo is another number is a
 * late reply to an earlier request and is passed over. A dwReplyId of 0 means
 * a monitor that does not number its replies (it never writes the field):
 * the first signal is the reply, as that monitor's protocol has it, and
 * nothing is owed before a request. bSignalFirst: take one signal before the
 * first look (a request just sent has no reply yet). */
BOOL LmChannel::WaitForEcho(DWORD dwId, BOOL bSignalFirst, LPCSTR pszWhat)
{
    DWORD dwStart = GetTickCount();
    if (!bSignalFirst && (ReadReplyId(m_pView) == dwId || ReadReplyId(m_pView) == 0))
        return TRUE;
    // One late reply is looked past at once; wakes that keep echoing another
    // number (a reply event someone made manual-reset stays signalled) are
    // taken at most one per pause, so that they cost next to no CPU. A
    // signal set during the pause stays set for the next wait.
    const DWORD kStaleWakePauseMs = 10;
    DWORD cStaleWakes = 0;
    for (;;) {
        if (cStaleWakes++ > 1)
            Sleep(kStaleWakePauseMs);
        DWORD dwWaitMs = INFINITE;
        if (m_dwTimeout) {
            DWORD dwSpent = GetTickCount() - dwStart;
            if (dwSpent >= m_dwTimeout) {
                // Time is up though the event may still be signalled; a
                // reply that came during the last pause still counts.
                DWORD dwLast = ReadReplyId(m_pView);
                if (dwLast == dwId || dwLast == 0)
                    return TRUE;
                AppendFormat(&m_strLastError, "%s WAIT_TIMEOUT", pszWhat);
                return FALSE;
            }
            dwWaitMs = m_dwTimeout - dwSpent;
        }
        if (!WaitFor(m_hEventRet, dwWaitMs, pszWhat))
            return FALSE;
        DWORD dwReplyId = ReadReplyId(m_pView);
        if (dwReplyId == dwId || dwReplyId == 0)
            return TRUE;
    }
}

/* One request under the lock, on a channel OpenChannel opened; arguments as
 * MyGetPrinterDataIoCtl. A request that timed out earlier may still be with
 * the port monitor: its reply would land on this one, so this request starts
 * only once that reply is in, and takes only the reply that echoes its own
 * number. The lock is released after every request that acquired it,
 * whatever happened later. */
BOOL LmChannel::Request(DWORD dwCode, DWORD dwRequest, DWORD dwValue, LPBYTE pBuffer, DWORD cbBuffer,
                        LPDWORD pcbReturned)
{
    if (!WaitFor(m_hEventMap, m_dwTimeout ? m_dwTimeout : INFINITE, "WaitForSingleObject_Map"))
        return FALSE;
    StatusBlock *pLm = m_pView;
    DWORD dwLastId = pLm->dwRequestId;
    DWORD cbData = cbBuffer > LM_DATA_MAX ? LM_DATA_MAX : cbBuffer;
    BOOL bOk = WaitForEcho(dwLastId, FALSE, "WaitForSingleObject_Busy");
    if (bOk) {
        DWORD dwId = NextRequestId(dwLastId);
        pLm->dwRequest = dwRequest & 0xFF;
        pLm->dwIoControlCode = dwCode;
        pLm->dwValue = dwValue & 0xFFFF;
        pLm->cbData = cbData;
        if (dwCode == KZT_IOCTL_USBPRINT_VENDOR_SET_COMMAND && pBuffer)
            memcpy(pLm->abData, pBuffer, cbData);
        pLm->dwRequestId = dwId;
        SetEvent(m_hEventCmd);
        bOk = WaitForEcho(dwId, TRUE, "WaitForSingleObject_Ret");
    }
    if (bOk) {
        // The reply comes from another process: never copy more than the
        // caller's buffer or the block holds.
        DWORD cbReturned = pLm->cbReturned;
        if (pcbReturned)
            *pcbReturned = cbReturned;
        if (pLm->bResult) {
            if (dwCode != KZT_IOCTL_USBPRINT_VENDOR_SET_COMMAND && pBuffer)
                memcpy(pBuffer, pLm->abData, cbReturned < cbData ? cbReturned : cbData);
        } else {
            DWORD dwError = pLm->dwError;
            char szMessage[512];
            SystemMessageA(dwError, szMessage, sizeof(szMessage), TRUE);
            AppendFormat(&m_strLastError, "IOCTL id=x%x req=x%x val=x%x R %d E %d %s", dwCode, dwRequest, dwValue, 0,
                         (int)dwError, szMessage);
            bOk = FALSE;
        }
    }
    SetEvent(m_hEventMap);
    return bOk;
}

/* MyGetPrinterDataIoCtl: opens the channel, runs one request, closes it.
 * pBuffer holds cbBuffer bytes (up to 4094 used); *pcbReturned may be NULL. */
BOOL LmChannel::MyGetPrinterDataIoCtl(DWORD dwCode, DWORD dwRequest, DWORD dwValue, LPBYTE pBuffer,
                                      DWORD cbBuffer, LPDWORD pcbReturned)
{
    m_strLastError.clear();
    BOOL bOk = OpenChannel() && Request(dwCode, dwRequest, dwValue, pBuffer, cbBuffer, pcbReturned);
    return CloseChannel() && bOk;
}
