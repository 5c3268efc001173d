#include "fakeport.h"
#include "statusblock.h"
#include <stdio.h>

namespace {

struct FakePort {
    std::wstring name;
    HANDLE hFile;
};

FakePortMonitor &Fake() { return FakePortMonitor::Instance(); }

BOOL Fail(DWORD dwError)
{
    SetLastError(dwError);
    return FALSE;
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
    *pHandle = new FakePort{pName, hFile};
    std::lock_guard<std::mutex> guard(Fake().lock);
    ++Fake().cOpen;
    return TRUE;
}

BOOL WINAPI FakeStartDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo)
{
    Fake().Record({"StartDoc", pPrinterName ? pPrinterName : L"", {JobId, Level}, {}});
    if (Fake().script.dwFailStartDoc)
        return Fail(Fake().script.dwFailStartDoc);
    return TRUE;
}

BOOL WINAPI FakeWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten)
{
    FakePort *port = (FakePort *)hPort;
    *pcbWritten = 0;
    if (Fake().script.dwFailWrite) {
        Fake().Record({"Write", port->name, {cbBuf}, {}});
        return Fail(Fake().script.dwFailWrite);
    }
    DWORD cb = cbBuf;
    if (Fake().script.cbWriteMax && cb > Fake().script.cbWriteMax)
        cb = Fake().script.cbWriteMax;
    if (Fake().script.bWriteZero)
        cb = 0;
    Fake().Record({"Write", port->name, {cbBuf}, std::vector<BYTE>(pBuffer, pBuffer + cb)});
    return WriteFile(port->hFile, pBuffer, cb, pcbWritten, nullptr);
}

BOOL WINAPI FakeReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead)
{
    FakePort *port = (FakePort *)hPort;
    Fake().Record({"Read", port->name, {cbBuffer}, {}});
    if (Fake().script.dwFailRead)
        return Fail(Fake().script.dwFailRead);
    const std::string &reply = Fake().script.readReply;
    DWORD cb = (DWORD)std::min<size_t>(reply.size(), cbBuffer);
    memcpy(pBuffer, reply.data(), cb);
    *pcbRead = cb;
    return TRUE;
}

BOOL WINAPI FakeEndDocPort(HANDLE hPort)
{
    Fake().Record({"EndDoc", ((FakePort *)hPort)->name, {}, {}});
    if (Fake().script.dwFailEndDoc)
        return Fail(Fake().script.dwFailEndDoc);
    return TRUE;
}

BOOL WINAPI FakeClosePort(HANDLE hPort)
{
    FakePort *port = (FakePort *)hPort;
    Fake().Record({"Close", port ? port->name : L"", {}, {}});
    if (Fake().script.dwFailClose)
        return Fail(Fake().script.dwFailClose);
    CloseHandle(port->hFile);
    delete port;
    std::lock_guard<std::mutex> guard(Fake().lock);
    --Fake().cOpen;
    return TRUE;
}

/* Answers the device id for the parallel query, "V<request>:<value>" for a
 * vendor get (so the 3-byte header can be checked), nothing for a set. */
BOOL WINAPI FakeGetPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPWSTR pValueName, LPWSTR lpInBuffer,
                                       DWORD cbInBuffer, LPWSTR lpOutBuffer, DWORD cbOutBuffer,
                                       LPDWORD lpcbReturned)
{
    const BYTE *pbIn = (const BYTE *)lpInBuffer;
    Fake().Record({"Get", pValueName ? pValueName : L"<null>",
                   {ControlID, cbInBuffer, cbOutBuffer, lpOutBuffer ? 1u : 0u},
                   pbIn ? std::vector<BYTE>(pbIn, pbIn + cbInBuffer) : std::vector<BYTE>()});
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
    Fake().Record({"SetTimeOuts", ((FakePort *)hPort)->name,
                   {lpCTO->ReadIntervalTimeout, lpCTO->ReadTotalTimeoutMultiplier, lpCTO->ReadTotalTimeoutConstant,
                    lpCTO->WriteTotalTimeoutMultiplier, lpCTO->WriteTotalTimeoutConstant, reserved},
                   {}});
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
    return ExeDir() + L"\\port-" + file + L".out";
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

int FakePortMonitor::GetsDone()
{
    std::lock_guard<std::mutex> guard(lock);
    return cGetsDone;
}

void FakePortMonitor::ReleaseHungGets()
{
    SetEvent(hRelease);
}
