// The log file's stand-in: NtQueryInformationFile and NtCreateFile as jobtap
// finds them, each calling the real one first.
#include "logfilestandin.h"
#include "importpatch.h"

namespace {

typedef LONG(WINAPI *QueryFn)(HANDLE, PVOID, PVOID, ULONG, ULONG);
typedef LONG(WINAPI *CreateFn)(HANDLE *, ACCESS_MASK, PVOID, PVOID, PVOID, ULONG, ULONG, ULONG, ULONG, PVOID,
                               ULONG);

ULONG_PTR g_realGetProcAddress;
// Handles of opens that named the link itself (FILE_OPEN_REPARSE_POINT):
// only they see the link; an open without it follows the link to its target,
// played here by the log itself.
HANDLE g_linkOpens[16];
volatile LONG g_cLinkOpens;
QueryFn g_realQuery;
CreateFn g_realCreate;
volatile LONG g_fact = LogFileStandIn::kNone;

const ULONG kFileBasicInformation = 4;
const LONG kStatusOplockBreakInProgress = 0x108;

struct BasicInformation {
    LARGE_INTEGER times[4];
    ULONG FileAttributes;
};

LONG WINAPI StandInQuery(HANDLE hFile, PVOID pIosb, PVOID pInfo, ULONG cbInfo, ULONG infoClass)
{
    LONG status = g_realQuery(hFile, pIosb, pInfo, cbInfo, infoClass);
    if (status < 0 || infoClass != kFileBasicInformation || g_fact != LogFileStandIn::kReparsePoint)
        return status;
    for (LONG i = 0; i < g_cLinkOpens && i < 16; ++i)
        if (g_linkOpens[i] == hFile)
            ((BasicInformation *)pInfo)->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    return status;
}

LONG WINAPI StandInCreate(HANDLE *phFile, ACCESS_MASK access, PVOID pAttributes, PVOID pIosb, PVOID pSize,
                          ULONG attributes, ULONG share, ULONG disposition, ULONG options, PVOID pEa, ULONG cbEa)
{
    LONG status = g_realCreate(phFile, access, pAttributes, pIosb, pSize, attributes, share, disposition, options,
                               pEa, cbEa);
    // The open succeeded, as one that found a lock being broken does; only
    // a caller that asked not to wait for the break hears of it.
    if (status == 0 && g_fact == LogFileStandIn::kOplockBreaking && (options & 0x100))
        return kStatusOplockBreakInProgress;
    if (status == 0 && g_fact == LogFileStandIn::kReparsePoint && (options & 0x200000)) {
        LONG i = InterlockedIncrement(&g_cLinkOpens) - 1;
        if (i < 16)
            g_linkOpens[i] = *phFile;
    }
    return status;
}

FARPROC WINAPI StandInGetProcAddress(HMODULE hModule, LPCSTR pszName)
{
    auto real = (FARPROC(WINAPI *)(HMODULE, LPCSTR))g_realGetProcAddress;
    FARPROC pfn = real(hModule, pszName);
    if ((ULONG_PTR)pszName <= 0xFFFF || !pfn)
        return pfn;
    if (!lstrcmpA(pszName, "NtQueryInformationFile")) {
        g_realQuery = (QueryFn)pfn;
        return (FARPROC)StandInQuery;
    }
    if (!lstrcmpA(pszName, "NtCreateFile")) {
        g_realCreate = (CreateFn)pfn;
        return (FARPROC)StandInCreate;
    }
    return pfn;
}

} // namespace

bool LogFileStandIn::Install(HMODULE hJobtap)
{
    if (g_realGetProcAddress)
        return true;
    return PatchImport(hJobtap, "KERNEL32.DLL", "GetProcAddress", (ULONG_PTR)StandInGetProcAddress,
                       &g_realGetProcAddress) > 0;
}

void LogFileStandIn::Set(Fact fact)
{
    InterlockedExchange(&g_fact, fact);
    InterlockedExchange(&g_cLinkOpens, 0);
}
