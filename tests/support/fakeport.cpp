#include "fakeport.h"
#include "statusblock.h"
#include <stdio.h>
#include <map>

namespace {

struct FakePort {
    std::wstring name;
    HANDLE hFile;
    bool bOpen;
    int cInUse;                     // calls running on this handle
};

// Every handle ever handed out, closed ones included, so that a stale handle
// is told apart from one never opened. Handle values are never reused.
// Guarded by FakePortMonitor::lock.
std::map<HANDLE, FakePort *> g_ports;
UINT_PTR g_lastHandle = 0x4B5A0000;

FakePortMonitor &Fake() { return FakePortMonitor::Instance(); }

BOOL Fail(DWORD dwError)
{
    SetLastError(dwError);
    return FALSE;
}

std::string HandleText(HANDLE h)
{
    char sz[32];
    snprintf(sz, sizeof(sz), "x%llx", (unsigned long long)(UINT_PTR)h);
    return sz;
}

// Caller holds the lock.
void AddFault(const std::string &fault) { Fake().faults.push_back(fault); }

/* Begins a call of op on h: the open port, marked busy until Leave, or null
 * (a fault is recorded) when h is NULL, unknown or closed. */
FakePort *Enter(HANDLE h, const char *op)
{
    std::lock_guard<std::mutex> guard(Fake().lock);
    auto it = g_ports.find(h);
    if (it == g_ports.end() || !it->second->bOpen) {
        AddFault(std::string(op) + " on a " + (!h ? "NULL" : it == g_ports.end() ? "never-opened" : "closed") +
                 " handle " + HandleText(h));
        return nullptr;
    }
    ++it->second->cInUse;
    return it->second;
}

/* Ends a call begun by Enter; a handle closed while the call ran is a fault. */
void Leave(FakePort *port, HANDLE h, const char *op)
{
    std::lock_guard<std::mutex> guard(Fake().lock);
    --port->cInUse;
    if (!port->bOpen)
        AddFault(std::string("handle ") + HandleText(h) + " closed while " + op + " was running on it");
}

BOOL WINAPI FakeOpenPort(LPWSTR pName, PHANDLE pHandle)
{
    Fake().Record({"Open", pName ? pName : L"", {}, {}});
    if (Fake().script.dwFailOpen)
        return Fail(Fake().script.dwFailOpen);
    HANDLE hFile = CreateFileW(Fake().OutputPath(pName).c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return FALSE;
    std::lock_guard<std::mutex> guard(Fake().lock);
    g_lastHandle += 0x10;
    HANDLE h = (HANDLE)g_lastHandle;
    g_ports[h] = new FakePort{pName, hFile, true, 0};
    *pHandle = h;
    ++Fake().cOpen;
    return TRUE;
}

BOOL WINAPI FakeStartDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo)
{
    Fake().Record({"StartDoc", pPrinterName ? pPrinterName : L"", {JobId, Level}, {}});
    FakePort *port = Enter(hPort, "StartDoc");
    if (!port)
        return Fail(ERROR_INVALID_HANDLE);
    BOOL bOk = Fake().script.dwFailStartDoc ? Fail(Fake().script.dwFailStartDoc) : TRUE;
    Leave(port, hPort, "StartDoc");
    return bOk;
}

BOOL WINAPI FakeWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten)
{
    *pcbWritten = 0;
    FakePort *port = Enter(hPort, "Write");
    if (!port) {
        Fake().Record({"Write", L"", {cbBuf}, {}});
        return Fail(ERROR_INVALID_HANDLE);
    }
    BOOL bOk;
    bool bFail = Fake().script.dwFailWrite != 0;
    if (bFail && Fake().script.cWritesBeforeFail) {
        --Fake().script.cWritesBeforeFail;
        bFail = false;
    }
    if (bFail) {
        Fake().Record({"Write", port->name, {cbBuf}, {}});
        bOk = Fail(Fake().script.dwFailWrite);
    } else {
        DWORD cb = cbBuf;
        if (Fake().script.cbWriteMax && cb > Fake().script.cbWriteMax)
            cb = Fake().script.cbWriteMax;
        if (Fake().script.bWriteZero)
            cb = 0;
        Fake().Record({"Write", port->name, {cbBuf}, std::vector<BYTE>(pBuffer, pBuffer + cb)});
        bOk = WriteFile(port->hFile, pBuffer, cb, pcbWritten, nullptr);
    }
    Leave(port, hPort, "Write");
    return bOk;
}

BOOL WINAPI FakeReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead)
{
    FakePort *port = Enter(hPort, "Read");
    Fake().Record({"Read", port ? port->name : L"", {cbBuffer}, {}});
    if (!port)
        return Fail(ERROR_INVALID_HANDLE);
    BOOL bOk = TRUE;
    if (Fake().script.dwFailRead) {
        bOk = Fail(Fake().script.dwFailRead);
    } else {
        const std::string &reply = Fake().script.readReply;
        DWORD cb = (DWORD)std::min<size_t>(reply.size(), cbBuffer);
        memcpy(pBuffer, reply.data(), cb);
        *pcbRead = cb;
    }
    Leave(port, hPort, "Read");
    return bOk;
}

BOOL WINAPI FakeEndDocPort(HANDLE hPort)
{
    FakePort *port = Enter(hPort, "EndDoc");
    Fake().Record({"EndDoc", port ? port->name : L"", {}, {}});
    if (!port)
        return Fail(ERROR_INVALID_HANDLE);
    BOOL bOk = Fake().script.dwFailEndDoc ? Fail(Fake().script.dwFailEndDoc) : TRUE;
    Leave(port, hPort, "EndDoc");
    return bOk;
}

/* Closing a handle that is not open, or one with a call still running on it,
 * is a fault; a refused close (script) leaves the handle open. */
BOOL WINAPI FakeClosePort(HANDLE hPort)
{
    std::unique_lock<std::mutex> guard(Fake().lock);
    auto it = g_ports.find(hPort);
    FakePort *port = it == g_ports.end() ? nullptr : it->second;
    Fake().calls.push_back({"Close", port ? port->name : L"", {}, {}});
    if (!port || !port->bOpen) {
        AddFault(std::string("Close on a ") + (!hPort ? "NULL" : !port ? "never-opened" : "closed") + " handle " +
                 HandleText(hPort));
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (port->cInUse)
        AddFault("Close of handle " + HandleText(hPort) + " while " + std::to_string(port->cInUse) +
                 " call(s) run on it");
    if (Fake().script.dwFailClose)
        return Fail(Fake().script.dwFailClose);
    port->bOpen = false;
    --Fake().cOpen;
    guard.unlock();
    CloseHandle(port->hFile);
    return TRUE;
}

/* The device's side of a Get: waits as the script says, then answers the
 * device id for the parallel query, "V<request>:<value>" for a vendor get (so
 * the 3-byte header can be checked), nothing for a set. */
BOOL AnswerGet(DWORD ControlID, const BYTE *pbIn, DWORD cbInBuffer, LPWSTR lpOutBuffer, DWORD cbOutBuffer,
               LPDWORD lpcbReturned)
{
    if (Fake().script.bGetHangs)
        WaitForSingleObject(Fake().hRelease, INFINITE);
    if (Fake().script.dwGetDelayMs)
        Sleep(Fake().script.dwGetDelayMs);
    if (Fake().script.dwFailGet)
        return Fail(Fake().script.dwFailGet);
    std::string reply;
    if (ControlID == KZT_IOCTL_PAR_QUERY_DEVICE_ID) {
        reply = Fake().script.deviceId;
    } else if (ControlID != KZT_IOCTL_USBPRINT_VENDOR_SET_COMMAND && pbIn && cbInBuffer >= 3) {
        char sz[64];
        snprintf(sz, sizeof(sz), "V%u:%u", pbIn[0], (pbIn[1] << 8) | pbIn[2]);
        reply = sz;
    }
    DWORD cb = (DWORD)std::min<size_t>(reply.size(), cbOutBuffer);
    if (cb)
        memcpy(lpOutBuffer, reply.data(), cb);
    if (lpcbReturned)
        *lpcbReturned = cb;
    SetLastError(0);
    return TRUE;
}

/* A device request: recorded, then answered on an open handle, which stays
 * busy while the device answers. */
BOOL WINAPI FakeGetPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPWSTR pValueName, LPWSTR lpInBuffer,
                                       DWORD cbInBuffer, LPWSTR lpOutBuffer, DWORD cbOutBuffer,
                                       LPDWORD lpcbReturned)
{
    const BYTE *pbIn = (const BYTE *)lpInBuffer;
    Fake().Record({"Get", pValueName ? pValueName : L"<null>",
                   {ControlID, cbInBuffer, cbOutBuffer, lpOutBuffer ? 1u : 0u},
                   pbIn ? std::vector<BYTE>(pbIn, pbIn + cbInBuffer) : std::vector<BYTE>()});
    FakePort *port = Enter(hPort, "Get");
    if (!port)
        return Fail(ERROR_INVALID_HANDLE);
    BOOL bOk = AnswerGet(ControlID, pbIn, cbInBuffer, lpOutBuffer, cbOutBuffer, lpcbReturned);
    DWORD dwError = GetLastError();
    if (bOk) {
        std::lock_guard<std::mutex> guard(Fake().lock);
        ++Fake().answered[port->name];
    }
    Leave(port, hPort, "Get");
    SetLastError(dwError);
    return bOk;
}

/* The table's Get: the answer above, counted once it has been given, so a
 * test can tell when a late answer has landed. */
BOOL WINAPI FakeCountedGet(HANDLE hPort, DWORD ControlID, LPWSTR pValueName, LPWSTR lpInBuffer, DWORD cbInBuffer,
                           LPWSTR lpOutBuffer, DWORD cbOutBuffer, LPDWORD lpcbReturned)
{
    BOOL bOk = FakeGetPrinterDataFromPort(hPort, ControlID, pValueName, lpInBuffer, cbInBuffer, lpOutBuffer,
                                          cbOutBuffer, lpcbReturned);
    DWORD dwError = GetLastError();
    {
        std::lock_guard<std::mutex> guard(Fake().lock);
        ++Fake().cGetsDone;
    }
    SetLastError(dwError);
    return bOk;
}

BOOL WINAPI FakeSetPortTimeOuts(HANDLE hPort, LPCOMMTIMEOUTS lpCTO, DWORD reserved)
{
    FakePort *port = Enter(hPort, "SetTimeOuts");
    Fake().Record({"SetTimeOuts", port ? port->name : L"",
                   {lpCTO->ReadIntervalTimeout, lpCTO->ReadTotalTimeoutMultiplier, lpCTO->ReadTotalTimeoutConstant,
                    lpCTO->WriteTotalTimeoutMultiplier, lpCTO->WriteTotalTimeoutConstant, reserved},
                   {}});
    if (!port)
        return Fail(ERROR_INVALID_HANDLE);
    Leave(port, hPort, "SetTimeOuts");
    return TRUE;
}

std::wstring ExeDir()
{
    WCHAR sz[MAX_PATH];
    GetModuleFileNameW(nullptr, sz, MAX_PATH);
    std::wstring dir = sz;
    return dir.substr(0, dir.find_last_of(L'\\'));
}

} // namespace

FakePortMonitor &FakePortMonitor::Instance()
{
    static FakePortMonitor s_instance;
    return s_instance;
}

void FakePortMonitor::Reset(const FakeScript &newScript)
{
    std::lock_guard<std::mutex> guard(lock);
    script = newScript;
    calls.clear();
    cGetsDone = 0;
    answered.clear();
    if (!hRelease)
        hRelease = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ResetEvent(hRelease);
}

MONITOR *FakePortMonitor::Table()
{
    table_ = MONITOR{};
    table_.pfnOpenPort = FakeOpenPort;
    table_.pfnStartDocPort = FakeStartDocPort;
    table_.pfnWritePort = FakeWritePort;
    table_.pfnReadPort = FakeReadPort;
    table_.pfnEndDocPort = FakeEndDocPort;
    table_.pfnClosePort = FakeClosePort;
    table_.pfnGetPrinterDataFromPort = script.bNoGet ? nullptr : FakeCountedGet;
    table_.pfnSetPortTimeOuts = script.bNoSetTimeOuts ? nullptr : FakeSetPortTimeOuts;
    return &table_;
}

void FakePortMonitor::Record(FakeCall call)
{
    std::lock_guard<std::mutex> guard(lock);
    calls.push_back(std::move(call));
}

std::vector<FakeCall> FakePortMonitor::Calls()
{
    std::lock_guard<std::mutex> guard(lock);
    return calls;
}

std::vector<FakeCall> FakePortMonitor::CallsOf(const std::string &op)
{
    std::vector<FakeCall> result;
    for (auto &call : Calls())
        if (call.op == op)
            result.push_back(call);
    return result;
}

std::wstring FakePortMonitor::OutputPath(const std::wstring &portName)
{
    std::wstring file;
    for (wchar_t ch : portName)
        file += (ch == L'\\' || ch == L':' || ch == L',' || ch == L'/') ? L'_' : ch;
    if (file.size() > 80)   // keep long port names within a file name's limits
        file = file.substr(0, 80) + L"-" + std::to_wstring(file.size());
    // In the prefix's temporary folder, not beside the program: the binary
    // folder is shared by every prefix of the build tree, whose tests run
    // side by side and open the same port names.
    WCHAR szTemp[MAX_PATH];
    DWORD cch = GetTempPathW(MAX_PATH, szTemp);
    std::wstring dir = cch && cch < MAX_PATH ? std::wstring(szTemp, cch) : ExeDir() + L"\\";
    return dir + L"port-" + file + L".out";
}

std::vector<BYTE> FakePortMonitor::Output(const std::wstring &portName)
{
    std::vector<BYTE> bytes;
    HANDLE hFile = CreateFileW(OutputPath(portName).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return bytes;
    DWORD cb = GetFileSize(hFile, nullptr), cbRead = 0;
    bytes.resize(cb);
    if (cb)
        ReadFile(hFile, bytes.data(), cb, &cbRead, nullptr);
    CloseHandle(hFile);
    bytes.resize(cbRead);
    return bytes;
}

int FakePortMonitor::OpenPorts()
{
    std::lock_guard<std::mutex> guard(lock);
    return cOpen;
}

std::vector<std::string> FakePortMonitor::Faults()
{
    std::lock_guard<std::mutex> guard(lock);
    return faults;
}

void FakePortMonitor::ClearFaults()
{
    std::lock_guard<std::mutex> guard(lock);
    faults.clear();
}

int FakePortMonitor::GetsAnsweredOn(const std::wstring &portName)
{
    std::lock_guard<std::mutex> guard(lock);
    auto it = answered.find(portName);
    return it == answered.end() ? 0 : it->second;
}

int FakePortMonitor::GetsDone()
{
    std::lock_guard<std::mutex> guard(lock);
    return cGetsDone;
}

void FakePortMonitor::ReleaseHungGets()
{
    SetEvent(hRelease);
}
