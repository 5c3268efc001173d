#include "faultlayer.h"
#include "importpatch.h"
#include <aclapi.h>
#include <winspool.h>
#include <algorithm>
#include <ctype.h>
#include <string.h>

namespace {

// One call the layer stands in for. A row without a library is handed out
// by GetProcAddress (the engine looks the access-list calls up by name).
struct FaultRow {
    const char *pszDll;
    const char *pszName;
    ULONG_PTR pfnWrapper;
    ULONG_PTR pfnOriginal;  // the import slot's value before the wrapper came
    ULONG_PTR failValue;    // what the call returns when it fails
    bool bCallThrough;      // a closing call closes all the same, then reports the failure
};

extern FaultRow g_rows[];

bool g_armed = false;
int g_nCalls = 0;
int g_nFailAt = 0;
std::vector<std::string> g_trace;
std::string g_failed;
std::vector<HANDLE> g_logHandles;  // handles of the log file, open now

bool IsLogName(LPCSTR psz)
{
    static const char kLog[] = "kztdebug.txt";
    size_t cch = psz && (ULONG_PTR)psz > 0xFFFF ? strlen(psz) : 0;
    return cch >= sizeof(kLog) - 1 && !lstrcmpiA(psz + cch - (sizeof(kLog) - 1), kLog);
}

// Whether a call is the log's own: by the file name, or by a handle of the log.
template <class... R> bool IsLogCall(LPCSTR psz, R...)
{
    return IsLogName(psz);
}
template <class... R> bool IsLogCall(HANDLE h, R...)
{
    for (HANDLE open : g_logHandles) {
        if (open == h)
            return true;
    }
    return false;
}
template <class T, class... R> bool IsLogCall(T, R...)
{
    return false;
}

template <class R> void KeepLogHandle(R) {}
template <> void KeepLogHandle<HANDLE>(HANDLE h)
{
    if (h != INVALID_HANDLE_VALUE)
        g_logHandles.push_back(h);
}

template <class... R> void ForgetLogHandle(HANDLE h, R...)
{
    g_logHandles.erase(std::remove(g_logHandles.begin(), g_logHandles.end(), h), g_logHandles.end());
}
template <class T, class... R> void ForgetLogHandle(T, R...) {}

std::string TraceName(const FaultRow &row)
{
    std::string name = row.pszName;
    if (name.back() == 'A' || name.back() == 'W')  // the engine logs a call without its character set
        name.pop_back();
    std::string dll = row.pszDll ? row.pszDll : "ADVAPI32.DLL";
    dll = dll.substr(0, dll.find('.'));
    for (char &c : dll)
        c = (char)tolower((unsigned char)c);
    return dll + "!" + name;
}

// Passes the call on unless it is the one to fail; then returns the row's
// failure value with ERROR_NO_SYSTEM_RESOURCES as last error.
template <int I, class R, class... A> R WINAPI Faulty(A... args)
{
    FaultRow &row = g_rows[I];
    auto pfn = (R(WINAPI *)(A...))row.pfnOriginal;
    if (!g_armed)
        return pfn(args...);
    if (IsLogCall(args...)) {
        R result = pfn(args...);
        DWORD dwError = GetLastError();
        KeepLogHandle(result);
        if (I == 0)  // CloseHandle: the log's handle is closed
            ForgetLogHandle(args...);
        SetLastError(dwError);
        return result;
    }
    g_trace.push_back(TraceName(row));
    if (++g_nCalls != g_nFailAt)
        return pfn(args...);
    g_failed = g_trace.back();
    if (row.bCallThrough)
        pfn(args...);
    SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return (R)row.failValue;
}

template <int I, class R, class... A> ULONG_PTR WrapperOf(R(WINAPI *)(A...))
{
    return (ULONG_PTR)&Faulty<I, R, A...>;
}

const ULONG_PTR kStatus = ERROR_NO_SYSTEM_RESOURCES;  // the LONG or DWORD status of a failed call
const ULONG_PTR kInvalid = (ULONG_PTR)INVALID_HANDLE_VALUE;
const char kSpool[] = "WINSPOOL.DRV";
const char kAdvapi[] = "ADVAPI32.DLL";
const char kKernel[] = "KERNEL32.DLL";
const int kGetProcAddress = 49;

#define FAULT_ROW(i, dll, fn, fail, through) {dll, #fn, WrapperOf<i>(&fn), 0, (ULONG_PTR)(fail), through}

FARPROC WINAPI FaultyGetProcAddress(HMODULE hModule, LPCSTR pszName);

FaultRow g_rows[] = {
    FAULT_ROW(0, kKernel, CloseHandle, FALSE, true),  // first: its log handles are told apart by index
    FAULT_ROW(1, kSpool, AddMonitorA, FALSE, false),
    FAULT_ROW(2, kSpool, AddPrintProcessorA, FALSE, false),
    FAULT_ROW(3, kSpool, AddPrinterDriverA, FALSE, false),
    FAULT_ROW(4, kSpool, AddPrinterA, NULL, false),
    FAULT_ROW(5, kSpool, OpenPrinterA, FALSE, false),
    FAULT_ROW(6, kSpool, ClosePrinter, FALSE, true),
    FAULT_ROW(7, kSpool, DeletePrinter, FALSE, false),
    FAULT_ROW(8, kSpool, DeletePrinterDriverA, FALSE, false),
    FAULT_ROW(9, kSpool, DeletePrintProcessorA, FALSE, false),
    FAULT_ROW(10, kSpool, DeleteMonitorA, FALSE, false),
    FAULT_ROW(11, kSpool, EnumPrintersA, FALSE, false),
    FAULT_ROW(12, kSpool, EnumPrinterDriversA, FALSE, false),
    FAULT_ROW(13, kSpool, EnumPrintProcessorsA, FALSE, false),
    FAULT_ROW(14, kSpool, EnumMonitorsA, FALSE, false),
    FAULT_ROW(15, kSpool, EnumPortsA, FALSE, false),
    FAULT_ROW(16, kSpool, GetPrinterDriverDirectoryA, FALSE, false),
    FAULT_ROW(17, kSpool, GetPrintProcessorDirectoryA, FALSE, false),
    FAULT_ROW(18, kSpool, GetPrinterA, FALSE, false),
    FAULT_ROW(19, kSpool, GetPrinterDriverA, FALSE, false),
    FAULT_ROW(20, kSpool, SetPrinterA, FALSE, false),
    FAULT_ROW(21, kAdvapi, RegOpenKeyExA, kStatus, false),
    FAULT_ROW(22, kAdvapi, RegCreateKeyExA, kStatus, false),
    FAULT_ROW(23, kAdvapi, RegSetValueExA, kStatus, false),
    FAULT_ROW(24, kAdvapi, RegQueryValueExA, kStatus, false),
    FAULT_ROW(25, kAdvapi, RegDeleteKeyA, kStatus, false),
    FAULT_ROW(26, kAdvapi, RegDeleteValueA, kStatus, false),
    FAULT_ROW(27, kAdvapi, RegEnumKeyExA, kStatus, false),
    FAULT_ROW(28, kAdvapi, RegEnumValueA, kStatus, false),
    FAULT_ROW(29, kAdvapi, RegCloseKey, kStatus, true),
    FAULT_ROW(30, nullptr, GetSecurityInfo, kStatus, false),
    FAULT_ROW(31, nullptr, SetSecurityInfo, kStatus, false),
    FAULT_ROW(32, kKernel, CopyFileA, FALSE, false),
    FAULT_ROW(33, kKernel, DeleteFileA, FALSE, false),
    FAULT_ROW(34, kKernel, SetFileAttributesA, FALSE, false),
    FAULT_ROW(35, kKernel, GetFileAttributesA, INVALID_FILE_ATTRIBUTES, false),
    FAULT_ROW(36, kKernel, GetFileAttributesExA, FALSE, false),
    FAULT_ROW(37, kKernel, CreateDirectoryA, FALSE, false),
    FAULT_ROW(38, kKernel, RemoveDirectoryA, FALSE, false),
    FAULT_ROW(39, kKernel, MoveFileExA, FALSE, false),
    FAULT_ROW(40, kKernel, CreateFileA, kInvalid, false),
    FAULT_ROW(41, kKernel, ReadFile, FALSE, false),
    FAULT_ROW(42, kKernel, GetFileSize, INVALID_FILE_SIZE, false),
    FAULT_ROW(43, kKernel, GetFileInformationByHandle, FALSE, false),
    FAULT_ROW(44, kKernel, FindFirstFileA, kInvalid, false),
    FAULT_ROW(45, kKernel, FindNextFileA, FALSE, false),
    FAULT_ROW(46, kKernel, FindClose, FALSE, true),
    FAULT_ROW(47, kKernel, GetTempFileNameA, 0, false),
    FAULT_ROW(48, kKernel, GetTempPathA, 0, false),
    {kKernel, "GetProcAddress", (ULONG_PTR)&FaultyGetProcAddress, 0, 0, false},  // kGetProcAddress
    FAULT_ROW(50, kKernel, LoadLibraryA, NULL, false),
    FAULT_ROW(51, kKernel, FreeLibrary, FALSE, true),
    FAULT_ROW(52, kKernel, GetWindowsDirectoryA, 0, false),
    FAULT_ROW(53, kKernel, GetSystemDirectoryA, 0, false),
    FAULT_ROW(54, kKernel, GetModuleFileNameA, 0, false),
    FAULT_ROW(55, kAdvapi, RegQueryValueExW, kStatus, false),
    FAULT_ROW(56, kAdvapi, RegSetValueExW, kStatus, false),
    FAULT_ROW(57, kAdvapi, RegDeleteValueW, kStatus, false),
    FAULT_ROW(58, kKernel, CreateMutexA, NULL, false),
    FAULT_ROW(59, kKernel, WaitForSingleObject, WAIT_FAILED, false),
    FAULT_ROW(60, kKernel, ReleaseMutex, FALSE, true),
};

// The lookup fails like the other calls; the access-list calls it finds are
// handed out as their wrappers.
FARPROC WINAPI FaultyGetProcAddress(HMODULE hModule, LPCSTR pszName)
{
    FARPROC pfn = Faulty<kGetProcAddress, FARPROC, HMODULE, LPCSTR>(hModule, pszName);
    if (!pfn || (ULONG_PTR)pszName <= 0xFFFF)
        return pfn;
    for (FaultRow &row : g_rows) {
        if (!row.pszDll && !strcmp(row.pszName, pszName)) {
            row.pfnOriginal = (ULONG_PTR)pfn;
            return (FARPROC)row.pfnWrapper;
        }
    }
    return pfn;
}

}  // namespace

std::vector<std::string> FaultLayerInstall()
{
    static_assert(sizeof(g_rows) / sizeof(g_rows[0]) == kGetProcAddress + 12, "rows and their indexes");
    std::vector<std::string> missing;
    for (FaultRow &row : g_rows) {
        if (row.pszDll && !PatchImport(GetModuleHandleA(NULL), row.pszDll, row.pszName, row.pfnWrapper,
                                       &row.pfnOriginal))
            missing.push_back(row.pszName);
    }
    return missing;
}

void FaultArm(int nFailAt)
{
    g_nCalls = 0;
    g_nFailAt = nFailAt;
    g_trace.clear();
    g_failed.clear();
    g_armed = true;
}

int FaultDisarm()
{
    g_armed = false;
    return g_nCalls;
}

const std::vector<std::string> &FaultTrace()
{
    return g_trace;
}

std::string FaultFailedCall()
{
    return g_failed;
}
