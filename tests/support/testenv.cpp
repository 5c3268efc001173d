#include "testenv.h"
#include "sessionstandin.h"
#include <stdio.h>
#include <string.h>

const wchar_t kMonitorName[] = L"jobtap";
const wchar_t kMonitorRoot[] = L"System\\CurrentControlSet\\Control\\Print\\Monitors\\jobtap";
const wchar_t kTestDriver[] = L"KZT TZ Test Driver";
const wchar_t kTestPrinter[] = L"KZT TZ Test";

std::wstring ExeDirectory()
{
    WCHAR sz[MAX_PATH];
    GetModuleFileNameW(nullptr, sz, MAX_PATH);
    std::wstring dir = sz;
    return dir.substr(0, dir.find_last_of(L'\\'));
}

std::wstring ExePath(const wchar_t *fileName) { return ExeDirectory() + L"\\" + fileName; }

std::string Narrow(const std::wstring &text)
{
    std::string out;
    for (wchar_t ch : text)
        out += ch < 0x80 ? (char)ch : '?';
    return out;
}

std::wstring LogPath()
{
    WCHAR sz[MAX_PATH];
    GetWindowsDirectoryW(sz, MAX_PATH);
    return std::wstring(sz, 3) + L"kztdebug.txt";
}

void NextTick()
{
    DWORD t = GetTickCount();
    while (GetTickCount() == t)
        Sleep(1);
}

void LogOn()
{
    // Shared as a user's editor shares it: the monitor may keep it open
    // for a run of lines.
    HANDLE h = CreateFileW(LogPath().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(h);
    SetLastError(0);   // what the test does next starts from no error
    NextTick();
}

void LogOff()
{
    DeleteFileW(LogPath().c_str());
    NextTick();
}

std::string LogText() { return ReadTextFile(LogPath()); }

std::string ReadTextFile(const std::wstring &path)
{
    std::string text;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return text;
    char buf[65536];
    DWORD cb;
    while (ReadFile(h, buf, sizeof(buf), &cb, nullptr) && cb)
        text.append(buf, cb);
    CloseHandle(h);
    return text;
}

static bool HasStampPrefix(const std::string &line, const char *tag)
{
    // "2003/07/01 07:48:58.123 LM "
    const char *shape = "dddd/dd/dd dd:dd:dd.ddd ";
    if (line.size() < 27)
        return false;
    for (int i = 0; shape[i]; ++i) {
        if (shape[i] == 'd' ? !isdigit((unsigned char)line[i]) : line[i] != shape[i])
            return false;
    }
    return line.compare(24, 2, tag) == 0 && line[26] == ' ';
}

std::vector<std::string> LogMessages(const char *tag)
{
    std::vector<std::string> out;
    std::string text = LogText();
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        out.push_back(HasStampPrefix(line, tag) ? line.substr(27) : "<malformed> " + line);
        pos = end + 2;
    }
    return out;
}

bool LogHas(const std::string &message)
{
    for (auto &line : LogMessages())
        if (line == message)
            return true;
    return false;
}

bool LogHasPrefix(const std::string &start)
{
    for (auto &line : LogMessages())
        if (line.rfind(start, 0) == 0)
            return true;
    return false;
}

void SetMonitorValue(const std::wstring &name, const std::wstring &value)
{
    HKEY hKey;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMonitorRoot, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr))
        return;
    RegSetValueExW(hKey, name.c_str(), 0, REG_SZ, (const BYTE *)value.c_str(),
                   (DWORD)((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(hKey);
}

void DeleteMonitorValue(const std::wstring &name)
{
    HKEY hKey;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMonitorRoot, 0, KEY_ALL_ACCESS, &hKey))
        return;
    RegDeleteValueW(hKey, name.c_str());
    RegCloseKey(hKey);
}

void ClearDriverValues()
{
    std::wstring driver = kTestDriver;
    for (const wchar_t *suffix : {L"", L" Head", L" Tail", L" Filter"})
        DeleteMonitorValue(driver + suffix);
}

static bool PrinterExists(const wchar_t *name)
{
    HANDLE h = nullptr;
    if (!OpenPrinterW((LPWSTR)name, &h, nullptr))
        return false;
    ClosePrinter(h);
    return true;
}

// Copies a file beside the test program into the driver directory.
static bool CopyDriverFile(const wchar_t *source, const std::wstring &drvDir, std::wstring *target, std::string *why)
{
    std::wstring name = source;
    name = name.substr(name.find_last_of(L'\\') + 1);
    *target = drvDir + L"\\" + name;
    if (CopyFileW(ExePath(source).c_str(), target->c_str(), FALSE))
        return true;
    *why = "copy " + Narrow(source) + " " + std::to_string(GetLastError());
    return false;
}

bool EnsurePrinterSetup(const PrinterSetup &setup, std::string *why)
{
    WCHAR szDrv[MAX_PATH];
    DWORD cb = 0;
    if (!GetPrinterDriverDirectoryW(nullptr, nullptr, 1, (LPBYTE)szDrv, sizeof(szDrv), &cb)) {
        *why = "GetPrinterDriverDirectory " + std::to_string(GetLastError());
        return false;
    }
    if (PrinterExists(setup.printer)) {
        // A queue made by an earlier run keeps the files of that build: the
        // spooler loads the driver's from its directory (and the "3" folder
        // Wine copies them to), which must be this build's.
        std::wstring copied;
        for (const wchar_t *file : {setup.configFile, setup.dataFile}) {
            for (std::wstring dir : {std::wstring(szDrv), std::wstring(szDrv) + L"\\3"}) {
                if (!CopyDriverFile(file ? file : L"kztstubui.dll", dir, &copied, why))
                    return false;
            }
        }
        return true;
    }
    WCHAR szSys[MAX_PATH];
    GetSystemDirectoryW(szSys, MAX_PATH);
    if (setup.monitor) {
        std::wstring monitorDll = std::wstring(szSys) + L"\\" + setup.monitor + L".dll";
        CopyFileW(ExePath(L"jobtap.dll").c_str(), monitorDll.c_str(), FALSE);
        std::wstring dllName = std::wstring(setup.monitor) + L".dll";
        MONITOR_INFO_2W mi = {(LPWSTR)setup.monitor, nullptr, (LPWSTR)dllName.c_str()};
        AddMonitorW(nullptr, 2, (LPBYTE)&mi);   // already installed is fine
    }
    std::wstring stub, config, data;
    if (!CopyDriverFile(L"kztstubui.dll", szDrv, &stub, why) ||
        !CopyDriverFile(setup.configFile ? setup.configFile : L"kztstubui.dll", szDrv, &config, why) ||
        !CopyDriverFile(setup.dataFile ? setup.dataFile : L"kztstubui.dll", szDrv, &data, why))
        return false;
    DRIVER_INFO_3W di = {};
    di.cVersion = 3;
    di.pName = (LPWSTR)setup.driver;
    di.pDriverPath = (LPWSTR)stub.c_str();
    di.pDataFile = (LPWSTR)data.c_str();
    di.pConfigFile = (LPWSTR)config.c_str();
    di.pMonitorName = (LPWSTR)setup.monitor;
    di.pDefaultDataType = (LPWSTR)L"RAW";
    if (!AddPrinterDriverW(nullptr, 3, (LPBYTE)&di) && GetLastError() != ERROR_PRINTER_DRIVER_ALREADY_INSTALLED) {
        *why = "AddPrinterDriver " + std::to_string(GetLastError());
        return false;
    }
    PRINTER_INFO_2W pi = {};
    pi.pPrinterName = (LPWSTR)setup.printer;
    pi.pPortName = (LPWSTR)setup.port;
    pi.pDriverName = (LPWSTR)setup.driver;
    pi.pPrintProcessor = (LPWSTR)L"winprint";
    pi.pDatatype = (LPWSTR)L"RAW";
    HANDLE h = AddPrinterW(nullptr, 2, (LPBYTE)&pi);
    if (!h) {
        *why = "AddPrinter " + std::to_string(GetLastError());
        return false;
    }
    ClosePrinter(h);
    return true;
}

bool EnsurePrinter(const wchar_t *printer, const wchar_t *driver, const wchar_t *port, const wchar_t *monitor,
                   std::string *why)
{
    return EnsurePrinterSetup({printer, driver, port, monitor, nullptr, nullptr}, why);
}

const wchar_t kUiPrinter[] = L"Ostrel TZ-1000";
const wchar_t kUiPort[] = L"C:\\kzt-tz1000.prn";

bool EnsureUiQueue(const wchar_t *printer, const wchar_t *port, std::string *why)
{
    return EnsurePrinterSetup({printer, kUiPrinter, port, nullptr, L"KZTTZUIF.DLL", L"samples\\tz\\KZTTZ1000.DAT"},
                              why);
}

bool EnsureUiPrinter(std::string *why) { return EnsureUiQueue(kUiPrinter, kUiPort, why); }

bool EnsureTestPrinter(std::string *why)
{
    return EnsurePrinter(kTestPrinter, kTestDriver, L"FILE:", kMonitorName, why);
}

SpoolerJob::SpoolerJob(const wchar_t *printer)
{
    if (!OpenPrinterW((LPWSTR)printer, &hPrinter_, nullptr))
        return;
    std::wstring out = ExePath(L"wine-job.prn");
    DOC_INFO_1W doc = {(LPWSTR)L"kzt test job", (LPWSTR)out.c_str(), (LPWSTR)L"RAW"};
    id_ = StartDocPrinterW(hPrinter_, 1, (LPBYTE)&doc);
}

SpoolerJob::~SpoolerJob()
{
    if (id_)
        EndDocPrinter(hPrinter_);
    if (hPrinter_)
        ClosePrinter(hPrinter_);
}

bool SpoolerHost::Load()
{
    hModule = LoadLibraryW(path.empty() ? ExePath(L"jobtap.dll").c_str() : path.c_str());
    if (!hModule)
        return false;
    pfnInit = (LPMONITOREX(WINAPI *)(LPWSTR))GetProcAddress(hModule, "InitializePrintMonitor");
    // The job owners and sessions Wine does not have, for the start of the
    // status monitor on Vista and later.
    SessionStandIn::Install(hModule);
    return pfnInit != nullptr;
}

bool SpoolerHost::Init(const wchar_t *root)
{
    if (!pfnInit && !Load())
        return false;
    LPMONITOREX ex = pfnInit((LPWSTR)root);
    lm = ex ? &ex->Monitor : nullptr;
    return lm != nullptr;
}

bool SpoolerHost::RunJob(const Job &job, MONITOR *below, std::string *why)
{
    HANDLE hPort = nullptr;
    if (!lm->pfnOpenPortEx((LPWSTR)job.port.c_str(), (LPWSTR)job.printer.c_str(), &hPort, below)) {
        *why = "Open " + std::to_string(GetLastError());
        return false;
    }
    bool ok = RunDoc(hPort, job, why);
    if (!lm->pfnClosePort(hPort) && ok) {
        *why = "Close " + std::to_string(GetLastError());
        ok = false;
    }
    return ok;
}

bool SpoolerHost::RunDoc(HANDLE hPort, const Job &job, std::string *why)
{
    DOC_INFO_1W doc = {(LPWSTR)L"doc", nullptr, (LPWSTR)L"RAW"};
    bool ok = lm->pfnStartDocPort(hPort, (LPWSTR)job.printer.c_str(), job.jobId, 1, (LPBYTE)&doc);
    if (!ok)
        *why = "StartDoc " + std::to_string(GetLastError());
    for (size_t off = 0; ok && off < job.data.size(); off += job.chunk) {
        DWORD cb = (DWORD)std::min<size_t>(job.chunk, job.data.size() - off), written = 0;
        ok = lm->pfnWritePort(hPort, (LPBYTE)job.data.data() + off, cb, &written) && written == cb;
        if (!ok)
            *why = "Write " + std::to_string(GetLastError());
    }
    if (ok) {
        lm->pfnEndDocPort(hPort);   // SetJob fails without a live job; the bytes are out by then
    }
    return ok;
}

HANDLE StartChannelClient(const std::wstring &port, int count)
{
    std::wstring cmd = L"\"" + ExePath(L"chanclient.exe") + L"\" jobtap " + port + L" " + std::to_wstring(count) +
                       L" \"MFG:Ostrel;CMD:TZ;MDL:TZ-1200;\"";
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi;
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

std::vector<BYTE> Bytes(const char *text) { return std::vector<BYTE>(text, text + strlen(text)); }

std::vector<BYTE> PatternBytes(size_t cb, unsigned seed)
{
    std::vector<BYTE> v(cb);
    unsigned x = seed * 2654435761u + 1;
    for (auto &b : v) {
        x = x * 1103515245u + 12345u;
        b = (BYTE)(x >> 16);
    }
    return v;
}

int HandleCount()
{
    // Wine's GetProcessHandleCount always answers 0: probe the handle table
    // instead (handle values are multiples of 4).
    int count = 0;
    for (UINT_PTR h = 4; h < 0x20000; h += 4) {
        DWORD flags;
        if (GetHandleInformation((HANDLE)h, &flags))
            ++count;
    }
    return count;
}

bool StartProgram(const std::string &program, std::string line, const std::string &dir, PROCESS_INFORMATION *pi)
{
    for (int attempt = 0;; ++attempt) {
        STARTUPINFOA si = {sizeof(si)};
        if (CreateProcessA(program.c_str(), &line[0], NULL, NULL, FALSE, 0, NULL, dir.empty() ? NULL : dir.c_str(),
                           &si, pi))
            return true;
        if (GetLastError() != ERROR_INTERNAL_ERROR || attempt == 2)
            return false;
        Sleep(500);
    }
}

bool ReportsVistaOrLater()
{
    OSVERSIONINFOW osvi = {sizeof(osvi)};
    return GetVersionExW(&osvi) && osvi.dwPlatformId == VER_PLATFORM_WIN32_NT && osvi.dwMajorVersion >= 6;
}
