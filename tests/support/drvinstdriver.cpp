#include "drvinstdriver.h"
#include "spoolrecord.h"
#include "testenv.h"
#include "windowdriver.h"
#include <tlhelp32.h>
#include <algorithm>
#include <string.h>

namespace {

bool CopyOver(const std::string &from, const std::string &to, std::string *why)
{
    SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (CopyFileA(from.c_str(), to.c_str(), FALSE))
        return true;
    *why = "copy " + from + " -> " + to + ": " + std::to_string(GetLastError());
    return false;
}

bool IsProcessOf(const std::string &name, const char *exe)
{
    return lstrcmpiA(name.c_str(), exe) == 0;
}

}  // namespace

bool LayOutPackage(const std::string &folder, std::string *why)
{
    CreateDirectoryA(folder.c_str(), NULL);
    std::string bin = Narrow(ExeDirectory());
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((bin + "\\samples\\tz\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) {
        *why = "no sample package in " + bin + "\\samples\\tz";
        return false;
    }
    bool ok = true;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            ok = ok && CopyOver(bin + "\\samples\\tz\\" + fd.cFileName, folder + "\\" + fd.cFileName, why);
    } while (ok && FindNextFileA(h, &fd));
    FindClose(h);
    for (const char *file : {"jobtap.dll", "vigil.exe", "KZTTZUIF.DLL", "KZTTZDRV.DLL", "KZTTZPP.DLL", "drvinst.exe"})
        ok = ok && CopyOver(bin + "\\" + file, folder + "\\" + file, why);
    return ok;
}

std::string ListEntry(HWND dialog, int id, int index)
{
    HWND list = GetDlgItem(dialog, id);
    DWORD_PTR cch = 0, got = 0;
    if (!SendMessageTimeoutW(list, CB_GETLBTEXTLEN, index, 0, SMTO_NORMAL, 5000, &cch) || cch == (DWORD_PTR)CB_ERR)
        return "";
    std::wstring text(cch + 1, L'\0');
    SendMessageTimeoutW(list, CB_GETLBTEXT, index, (LPARAM)&text[0], SMTO_NORMAL, 5000, &got);
    text.resize(got == (DWORD_PTR)CB_ERR ? 0 : got);
    int cb = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, NULL, 0, NULL, NULL);
    std::string ansi(cb > 0 ? cb : 1, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &ansi[0], cb, NULL, NULL);
    ansi.resize(strlen(ansi.c_str()));
    return ansi;
}

InstallerRun::~InstallerRun()
{
    if (!m_pi.hProcess)
        return;
    if (WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(m_pi.hProcess, 1);
        WaitForSingleObject(m_pi.hProcess, 5000);
    }
    CloseHandle(m_pi.hProcess);
}

bool InstallerRun::Start(const std::string &program, const std::string &arguments)
{
    std::string line = "\"" + program + "\"" + (arguments.empty() ? "" : " " + arguments);
    std::string dir = program.substr(0, program.rfind('\\'));
    if (!StartProgram(program, line, dir, &m_pi))
        return false;
    CloseHandle(m_pi.hThread);
    m_pi.hThread = NULL;
    return true;
}

HWND InstallerRun::MainDialog(DWORD timeoutMs)
{
    return WaitForPage(m_pi.dwProcessId, kIdStart, timeoutMs, nullptr);
}

bool InstallerRun::ClickButton(HWND dialog, int id)
{
    DWORD_PTR answer = 0;
    return SendMessageTimeoutA(GetDlgItem(dialog, id), BM_CLICK, 0, 0, SMTO_NORMAL, 10000, &answer) != 0;
}

bool InstallerRun::SelectText(HWND dialog, int id, const std::string &text)
{
    int count = (int)SendDlgItemMessageA(dialog, id, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; i++) {
        if (ListEntry(dialog, id, i) == text) {
            SelectListItem(dialog, id, i);
            return true;
        }
    }
    return false;
}

InstallerRun::Result InstallerRun::WaitForResult(DWORD timeoutMs, HWND *dialog, std::string *text)
{
    struct {
        int id;
        Result result;
    } const shown[] = {{kIdCompleteModel, kCompletion}, {kIdRebootIcon, kRestartQuestion}, {kIdUsbModel, kUsbNotice}};
    Result result = kTimeout;
    *dialog = nullptr;
    WaitUntil(
        [&] {
            for (const auto &s : shown) {
                if ((*dialog = WaitForPage(m_pi.dwProcessId, s.id, 0, nullptr)) != nullptr) {
                    result = s.result;
                    return true;
                }
            }
            // A result dialog that became visible just now looks like a
            // message box too (a dialog with static text): told by its ids.
            if ((*dialog = WaitForMessageBox(m_pi.dwProcessId, 0, text)) != nullptr) {
                result = kMessageBox;
                for (const auto &s : shown) {
                    if (GetDlgItem(*dialog, s.id))
                        result = s.result;
                }
                return true;
            }
            if (WaitForSingleObject(m_pi.hProcess, 0) == WAIT_OBJECT_0) {
                result = kEnded;
                return true;
            }
            return false;
        },
        timeoutMs);
    return result;
}

bool InstallerRun::WaitEnded(DWORD timeoutMs, DWORD *exitCode)
{
    if (WaitForSingleObject(m_pi.hProcess, timeoutMs) != WAIT_OBJECT_0)
        return false;
    if (exitCode)
        GetExitCodeProcess(m_pi.hProcess, exitCode);
    return true;
}

// A record of the queue named printer read with fill at level (free it with
// FreeSpoolRecord), or null when there is no such queue or record.
static LPBYTE QueueRecord(const wchar_t *printer, PFN_SPOOLFILL fill, DWORD level)
{
    HANDLE h = nullptr;
    if (!OpenPrinterW((LPWSTR)printer, &h, nullptr))
        return nullptr;
    SpoolCallArgs args = {h, nullptr, nullptr, 0, 0, 0, level};
    SpoolRecordResult r;
    LPBYTE p = AllocSpoolRecord(fill, &args, 0, &r);
    ClosePrinter(h);
    return p;
}

bool InstalledQueue(const wchar_t *printer, std::wstring *port, std::wstring *driver)
{
    auto *pi = (PRINTER_INFO_2W *)QueueRecord(printer, SpoolGetPrinterW, 2);
    if (pi) {
        *port = pi->pPortName;
        *driver = pi->pDriverName;
    }
    FreeSpoolRecord(pi);
    return pi != nullptr;
}

bool WaitForSecondPhase(DWORD timeoutMs, std::vector<std::string> *boxes)
{
    std::vector<HWND> answered;  // a box being closed is seen again for a moment
    return WaitUntil(
        [&] {
            bool running = false;
            HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
            if (snapshot == INVALID_HANDLE_VALUE)
                return false;
            PROCESSENTRY32W entry = {sizeof(entry)};
            for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
                if (IsProcessOf(Narrow(entry.szExeFile), "wineboot.exe"))
                    running = true;
                if (!IsProcessOf(Narrow(entry.szExeFile), "drvinst.exe"))
                    continue;
                running = true;
                std::string text;
                HWND box = WaitForMessageBox(entry.th32ProcessID, 0, &text);
                if (box && std::find(answered.begin(), answered.end(), box) == answered.end()) {
                    answered.push_back(box);
                    boxes->push_back(text);
                    Click(box, IDOK);
                }
            }
            CloseHandle(snapshot);
            return !running;
        },
        timeoutMs);
}

#ifdef _WIN64
const wchar_t kDriverEnvironment[] = L"Windows x64";
#else
const wchar_t kDriverEnvironment[] = L"Windows NT x86";
#endif

bool QueueDriverFiles(const wchar_t *printer, std::wstring *environment, std::wstring *configFile)
{
    auto *di = (DRIVER_INFO_3W *)QueueRecord(printer, SpoolGetPrinterDriverW, 3);
    if (di) {
        *environment = di->pEnvironment ? di->pEnvironment : L"";
        *configFile = di->pConfigFile ? di->pConfigFile : L"";
    }
    FreeSpoolRecord(di);
    return di != nullptr;
}

std::wstring DriverDirectory(const wchar_t *environment)
{
    WCHAR dir[MAX_PATH] = L"";
    DWORD cb = 0;
    if (!GetPrinterDriverDirectoryW(nullptr, (LPWSTR)environment, 1, (LPBYTE)dir, sizeof(dir), &cb))
        return L"";
    return dir;
}

bool PathIn(const std::wstring &path, const std::wstring &folder)
{
    return !folder.empty() && path.size() > folder.size() && path[folder.size()] == L'\\' &&
           CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, path.c_str(), (int)folder.size(), folder.c_str(),
                          (int)folder.size()) == CSTR_EQUAL;
}

bool ProcessImage(DWORD pid, std::wstring *image, bool *native)
{
    // Both calls are newer than the product's target; the demo asks Wine.
    typedef BOOL(WINAPI * QueryImageFn)(HANDLE, DWORD, LPWSTR, PDWORD);
    typedef BOOL(WINAPI * IsWow64Fn)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto queryImage = (QueryImageFn)GetProcAddress(kernel, "QueryFullProcessImageNameW");
    auto isWow64 = (IsWow64Fn)GetProcAddress(kernel, "IsWow64Process");
    HANDLE process = OpenProcess(0x1000 /* PROCESS_QUERY_LIMITED_INFORMATION */, FALSE, pid);
    if (!process || !queryImage || !isWow64) {
        if (process)
            CloseHandle(process);
        return false;
    }
    WCHAR path[MAX_PATH] = L"";
    DWORD cch = MAX_PATH;
    BOOL wow64 = FALSE;
    bool ok = queryImage(process, 0, path, &cch) && isWow64(process, &wow64);
    CloseHandle(process);
    *image = path;
    *native = !wow64;
    return ok;
}
