// Opening the diagnostic log through the native open call, which can name a
// link itself, refuse a directory and decline to wait for an opportunistic
// lock; what the file is gets asked of the handle, not of the name, so the
// answer belongs to the very file that will be written.
#include "logopen.h"

BOOL LogIsWindows9x()
{
    return (GetVersion() & 0x80000000u) != 0;
}

namespace {

typedef LONG NTSTATUS_T;

struct UnicodeString {
    USHORT Length;
    USHORT MaximumLength;
    PWSTR Buffer;
};

struct ObjectAttributes {
    ULONG Length;
    HANDLE RootDirectory;
    UnicodeString *ObjectName;
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
};

struct IoStatusBlock {
    union {
        NTSTATUS_T Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
};

struct FileBasicInformation {
    LARGE_INTEGER CreationTime, LastAccessTime, LastWriteTime, ChangeTime;
    ULONG FileAttributes;
};

struct FileStandardInformation {
    LARGE_INTEGER AllocationSize, EndOfFile;
    ULONG NumberOfLinks;
    BOOLEAN DeletePending;
    BOOLEAN Directory;
};

typedef NTSTATUS_T(WINAPI *NtCreateFileFn)(HANDLE *, ACCESS_MASK, ObjectAttributes *, IoStatusBlock *,
                                           LARGE_INTEGER *, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
typedef NTSTATUS_T(WINAPI *NtQueryInformationFileFn)(HANDLE, IoStatusBlock *, PVOID, ULONG, ULONG);
typedef BOOLEAN(WINAPI *RtlDosPathNameToNtPathNameFn)(PCWSTR, UnicodeString *, PWSTR *, PVOID);
typedef VOID(WINAPI *RtlFreeUnicodeStringFn)(UnicodeString *);
typedef ULONG(WINAPI *RtlNtStatusToDosErrorFn)(NTSTATUS_T);

const ULONG kObjCaseInsensitive = 0x40;
const ULONG kFileOpen = 1;
const ULONG kFileSynchronousIoNonalert = 0x20;
const ULONG kFileNonDirectoryFile = 0x40;
const ULONG kFileCompleteIfOplocked = 0x100;
const ULONG kFileOpenReparsePoint = 0x200000;
const ULONG kFileBasicInformationClass = 4;
const ULONG kFileStandardInformationClass = 5;
const NTSTATUS_T kStatusOplockBreakInProgress = 0x00000108;
const NTSTATUS_T kStatusObjectNameNotFound = (NTSTATUS_T)0xC0000034;
const NTSTATUS_T kStatusObjectPathNotFound = (NTSTATUS_T)0xC000003A;
const NTSTATUS_T kStatusFileIsADirectory = (NTSTATUS_T)0xC00000BA;
const NTSTATUS_T kStatusDeletePending = (NTSTATUS_T)0xC0000056;

// The system's code for an open that found an opportunistic lock being
// broken (not in every SDK's headers).
const DWORD kErrorOplockBreakInProgress = 742;

const DWORD kAppendAccess = FILE_READ_DATA | FILE_APPEND_DATA;
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The native calls, looked up in ntdll (present on every NT).
struct NativeCalls {
    NtCreateFileFn pfnCreate;
    NtQueryInformationFileFn pfnQuery;
    RtlDosPathNameToNtPathNameFn pfnToNtPath;
    RtlFreeUnicodeStringFn pfnFree;
    RtlNtStatusToDosErrorFn pfnToDosError;
};

BOOL FindNativeCalls(NativeCalls *pCalls)
{
    HMODULE hNtdll = GetModuleHandleW(L"ntdll.dll");
    if (!hNtdll)
        return FALSE;
    pCalls->pfnCreate = (NtCreateFileFn)GetProcAddress(hNtdll, "NtCreateFile");
    pCalls->pfnQuery = (NtQueryInformationFileFn)GetProcAddress(hNtdll, "NtQueryInformationFile");
    pCalls->pfnToNtPath = (RtlDosPathNameToNtPathNameFn)GetProcAddress(hNtdll, "RtlDosPathNameToNtPathName_U");
    pCalls->pfnFree = (RtlFreeUnicodeStringFn)GetProcAddress(hNtdll, "RtlFreeUnicodeString");
    pCalls->pfnToDosError = (RtlNtStatusToDosErrorFn)GetProcAddress(hNtdll, "RtlNtStatusToDosError");
    return pCalls->pfnCreate && pCalls->pfnQuery && pCalls->pfnToNtPath && pCalls->pfnFree &&
           pCalls->pfnToDosError;
}

/* What the open file is: refused unless a plain file with one name that is
 * not being deleted. A question the file system cannot answer refuses it
 * too (FAILED: it may be plain, so the line counts as lost). */
LogOpenResult CheckOpenFile(const NativeCalls &calls, HANDLE hFile)
{
    IoStatusBlock iosb = {};
    FileBasicInformation basic = {};
    FileStandardInformation standard = {};
    if (calls.pfnQuery(hFile, &iosb, &basic, sizeof(basic), kFileBasicInformationClass) < 0 ||
        calls.pfnQuery(hFile, &iosb, &standard, sizeof(standard), kFileStandardInformationClass) < 0)
        return LOG_FAILED;
    if (basic.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
        return LOG_REFUSED;
    if (standard.Directory || standard.DeletePending || standard.NumberOfLinks != 1)
        return LOG_REFUSED;
    return LOG_OPENED;
}

/* What a failed CreateFile of the log means: no such file, or a line lost. */
LogOpenResult FailedOpen()
{
    DWORD dwError = GetLastError();
    return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND ? LOG_ABSENT : LOG_FAILED;
}

/* The same questions through the documented call, where ntdll lacks one. */
LogOpenResult CheckThroughKernel32(HANDLE hFile)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(hFile, &info))
        return LOG_FAILED;
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY) ||
        info.nNumberOfLinks != 1)
        return LOG_REFUSED;
    return LOG_OPENED;
}

LogOpenResult OpenThroughKernel32(const WCHAR *pszPath, HANDLE *phFile)
{
    HANDLE hFile = CreateFileW(pszPath, kAppendAccess, kShareAll, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (hFile == INVALID_HANDLE_VALUE) {
        return FailedOpen();
    }
    LogOpenResult result = CheckThroughKernel32(hFile);
    if (result != LOG_OPENED) {
        CloseHandle(hFile);
        return result;
    }
    *phFile = hFile;
    return LOG_OPENED;
}

} // namespace

LogOpenResult LogOpenPlainFileW(const WCHAR *pszPath, HANDLE *phFile)
{
    *phFile = INVALID_HANDLE_VALUE;
    NativeCalls calls;
    if (!FindNativeCalls(&calls))
        return OpenThroughKernel32(pszPath, phFile);
    UnicodeString ntPath = {};
    if (!calls.pfnToNtPath(pszPath, &ntPath, NULL, NULL)) {
        SetLastError(ERROR_INVALID_NAME);
        return LOG_FAILED;
    }
    ObjectAttributes oa = {sizeof(oa), NULL, &ntPath, kObjCaseInsensitive, NULL, NULL};
    IoStatusBlock iosb = {};
    HANDLE hFile = NULL;
    NTSTATUS_T status = calls.pfnCreate(&hFile, kAppendAccess | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &oa, &iosb,
                                        NULL, FILE_ATTRIBUTE_NORMAL, kShareAll, kFileOpen,
                                        kFileNonDirectoryFile | kFileSynchronousIoNonalert |
                                            kFileOpenReparsePoint | kFileCompleteIfOplocked,
                                        NULL, 0);
    calls.pfnFree(&ntPath);
    if (status == kStatusObjectNameNotFound || status == kStatusObjectPathNotFound ||
        status == kStatusDeletePending)
        return LOG_ABSENT;
    if (status == kStatusFileIsADirectory)
        return LOG_REFUSED;
    if (status < 0) {
        SetLastError(calls.pfnToDosError(status));
        return LOG_FAILED;
    }
    // Opened while another process's opportunistic lock is being broken:
    // writing would wait for that process, so the line is given up.
    if (status == kStatusOplockBreakInProgress) {
        CloseHandle(hFile);
        SetLastError(kErrorOplockBreakInProgress);
        return LOG_FAILED;
    }
    LogOpenResult result = CheckOpenFile(calls, hFile);
    if (result != LOG_OPENED) {
        CloseHandle(hFile);
        return result;
    }
    *phFile = hFile;
    return LOG_OPENED;
}

LogOpenResult LogCheckOpenFile(HANDLE hFile)
{
    NativeCalls calls;
    return FindNativeCalls(&calls) ? CheckOpenFile(calls, hFile) : CheckThroughKernel32(hFile);
}

LogOpenResult LogOpenPlainFileA(const char *pszPath, HANDLE *phFile)
{
    *phFile = INVALID_HANDLE_VALUE;
    if (LogIsWindows9x()) {
        HANDLE hFile = CreateFileA(pszPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, NULL);
        if (hFile == INVALID_HANDLE_VALUE) {
            return FailedOpen();
        }
        *phFile = hFile;
        return LOG_OPENED;
    }
    WCHAR szPath[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, pszPath, -1, szPath, MAX_PATH))
        return LOG_FAILED;
    return LogOpenPlainFileW(szPath, phFile);
}
