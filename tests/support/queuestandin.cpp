#include "queuestandin.h"
#include "importpatch.h"
#include <winspool.h>
#include <sddl.h>
#include <map>
#include <set>
#include <vector>

namespace {

const char kNewQueueSddl[] = "O:BAG:SYD:(A;;0xf000c;;;BA)(A;;0x20008;;;WD)";

struct State {
    std::map<std::string, std::vector<BYTE>> security;  // by upper-cased queue name
    std::map<std::string, LONG> jobs;
    std::map<HANDLE, std::string> jobHandles;           // handle of a begun job -> queue
    std::set<std::string> pendingDeletion;
};
State *g_pState;

std::string Key(const char *psz)
{
    std::string s = psz ? psz : "";
    CharUpperBuffA(&s[0], (DWORD)s.size());
    return s;
}

struct Replacement {
    const char *pszName;
    ULONG_PTR pfnStandIn;
    ULONG_PTR pfnOriginal;
};
extern Replacement g_replacements[];
template <class T> T Real(int i) { return (T)g_replacements[i].pfnOriginal; }
enum { kGetPrinter, kSetPrinter, kEnumPrinters, kStartDoc, kEndDoc, kDeletePrinter, kAddPrinter };

// The queue's name through Wine's own level 2, "" when it has none.
std::string QueueName(HANDLE hPrinter)
{
    DWORD cb = 0;
    auto pfnGet = Real<decltype(&GetPrinterA)>(kGetPrinter);
    pfnGet(hPrinter, 2, NULL, 0, &cb);
    std::vector<BYTE> buffer(cb + 2048);
    if (!cb || !pfnGet(hPrinter, 2, buffer.data(), (DWORD)buffer.size(), &cb))
        return "";
    const char *psz = ((PRINTER_INFO_2A *)buffer.data())->pPrinterName;
    return psz ? psz : "";
}

std::vector<BYTE> SecurityBytes(const std::string &key)
{
    auto it = g_pState->security.find(key);
    if (it != g_pState->security.end())
        return it->second;
    PSECURITY_DESCRIPTOR pSd = NULL;
    ULONG cb = 0;
    std::vector<BYTE> bytes;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(kNewQueueSddl, SDDL_REVISION_1, &pSd, &cb)) {
        bytes.assign((BYTE *)pSd, (BYTE *)pSd + cb);
        LocalFree(pSd);
    }
    return bytes;
}

void AddWhatWineLacks(PRINTER_INFO_2A *pInfo)
{
    std::string key = Key(pInfo->pPrinterName);
    auto it = g_pState->jobs.find(key);
    if (it != g_pState->jobs.end())
        pInfo->cJobs = (DWORD)it->second;
    if (g_pState->pendingDeletion.count(key))
        pInfo->Status |= PRINTER_STATUS_PENDING_DELETION;
}

BOOL WINAPI StandInGetPrinterA(HANDLE hPrinter, DWORD dwLevel, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbNeeded)
{
    if (dwLevel == 3) {
        std::string name = QueueName(hPrinter);
        if (name.empty()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        std::vector<BYTE> sd = SecurityBytes(Key(name.c_str()));
        DWORD cbNeeded = (DWORD)(sizeof(PRINTER_INFO_3) + sd.size());
        *pcbNeeded = cbNeeded;
        if (!pBuffer || cbBuf < cbNeeded) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        memcpy(pBuffer + sizeof(PRINTER_INFO_3), sd.data(), sd.size());
        ((PRINTER_INFO_3 *)pBuffer)->pSecurityDescriptor = pBuffer + sizeof(PRINTER_INFO_3);
        return TRUE;
    }
    BOOL bResult = Real<decltype(&GetPrinterA)>(kGetPrinter)(hPrinter, dwLevel, pBuffer, cbBuf, pcbNeeded);
    if (bResult && dwLevel == 2 && pBuffer)
        AddWhatWineLacks((PRINTER_INFO_2A *)pBuffer);
    return bResult;
}

BOOL WINAPI StandInSetPrinterA(HANDLE hPrinter, DWORD dwLevel, LPBYTE pInfo, DWORD dwCommand)
{
    if (dwLevel != 3 || !pInfo)
        return Real<decltype(&SetPrinterA)>(kSetPrinter)(hPrinter, dwLevel, pInfo, dwCommand);
    PSECURITY_DESCRIPTOR pSd = ((PRINTER_INFO_3 *)pInfo)->pSecurityDescriptor;
    std::string name = QueueName(hPrinter);
    if (name.empty() || !pSd || !IsValidSecurityDescriptor(pSd)) {
        SetLastError(name.empty() ? ERROR_INVALID_HANDLE : ERROR_INVALID_SECURITY_DESCR);
        return FALSE;
    }
    // As the spooler does: the parts the descriptor has replace the queue's.
    std::vector<BYTE> old = SecurityBytes(Key(name.c_str()));
    PSID pOwner = NULL, pGroup = NULL;
    PACL pDacl = NULL;
    BOOL bDefaulted = FALSE, bPresent = FALSE;
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    if ((GetSecurityDescriptorOwner(pSd, &pOwner, &bDefaulted) && pOwner) ||
        (!old.empty() && GetSecurityDescriptorOwner(old.data(), &pOwner, &bDefaulted)))
        SetSecurityDescriptorOwner(&sd, pOwner, FALSE);
    if ((GetSecurityDescriptorGroup(pSd, &pGroup, &bDefaulted) && pGroup) ||
        (!old.empty() && GetSecurityDescriptorGroup(old.data(), &pGroup, &bDefaulted)))
        SetSecurityDescriptorGroup(&sd, pGroup, FALSE);
    if ((GetSecurityDescriptorDacl(pSd, &bPresent, &pDacl, &bDefaulted) && bPresent) ||
        (!old.empty() && GetSecurityDescriptorDacl(old.data(), &bPresent, &pDacl, &bDefaulted)))
        SetSecurityDescriptorDacl(&sd, bPresent, pDacl, FALSE);
    DWORD cb = 0;
    MakeSelfRelativeSD(&sd, NULL, &cb);
    std::vector<BYTE> bytes(cb);
    if (!cb || !MakeSelfRelativeSD(&sd, bytes.data(), &cb)) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return FALSE;
    }
    g_pState->security[Key(name.c_str())] = bytes;
    return TRUE;
}

BOOL WINAPI StandInEnumPrintersA(DWORD dwFlags, LPSTR pName, DWORD dwLevel, LPBYTE pBuffer, DWORD cbBuf,
                                 LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    BOOL bResult = Real<decltype(&EnumPrintersA)>(kEnumPrinters)(dwFlags, pName, dwLevel, pBuffer, cbBuf, pcbNeeded,
                                                                 pcReturned);
    if (bResult && dwLevel == 2 && pBuffer) {
        for (DWORD i = 0; i < *pcReturned; i++)
            AddWhatWineLacks((PRINTER_INFO_2A *)pBuffer + i);
    }
    return bResult;
}

DWORD WINAPI StandInStartDocPrinterA(HANDLE hPrinter, DWORD dwLevel, LPBYTE pDocInfo)
{
    DWORD dwJob = Real<decltype(&StartDocPrinterA)>(kStartDoc)(hPrinter, dwLevel, pDocInfo);
    if (dwJob) {
        std::string key = Key(QueueName(hPrinter).c_str());
        g_pState->jobs[key]++;
        g_pState->jobHandles[hPrinter] = key;
    }
    return dwJob;
}

BOOL WINAPI StandInEndDocPrinter(HANDLE hPrinter)
{
    BOOL bResult = Real<decltype(&EndDocPrinter)>(kEndDoc)(hPrinter);
    auto it = g_pState->jobHandles.find(hPrinter);
    if (it != g_pState->jobHandles.end()) {
        g_pState->jobs[it->second]--;
        g_pState->jobHandles.erase(it);
    }
    return bResult;
}

BOOL WINAPI StandInDeletePrinter(HANDLE hPrinter)
{
    std::string key = Key(QueueName(hPrinter).c_str());
    BOOL bResult = Real<decltype(&DeletePrinter)>(kDeletePrinter)(hPrinter);
    if (bResult) {
        g_pState->security.erase(key);
        g_pState->pendingDeletion.erase(key);
    }
    return bResult;
}

HANDLE WINAPI StandInAddPrinterA(LPSTR pName, DWORD dwLevel, LPBYTE pPrinter)
{
    HANDLE h = Real<decltype(&AddPrinterA)>(kAddPrinter)(pName, dwLevel, pPrinter);
    if (h && dwLevel == 2)
        g_pState->security.erase(Key(((PRINTER_INFO_2A *)pPrinter)->pPrinterName));  // a new queue's list
    return h;
}

Replacement g_replacements[] = {
    {"GetPrinterA", (ULONG_PTR)StandInGetPrinterA, 0},
    {"SetPrinterA", (ULONG_PTR)StandInSetPrinterA, 0},
    {"EnumPrintersA", (ULONG_PTR)StandInEnumPrintersA, 0},
    {"StartDocPrinterA", (ULONG_PTR)StandInStartDocPrinterA, 0},
    {"EndDocPrinter", (ULONG_PTR)StandInEndDocPrinter, 0},
    {"DeletePrinter", (ULONG_PTR)StandInDeletePrinter, 0},
    {"AddPrinterA", (ULONG_PTR)StandInAddPrinterA, 0},
};

// The real functions from winspool's exports, so that a slot this program
// does not import still has its original for the others' use.
bool Patch(bool bInstall)
{
    HMODULE hSpool = GetModuleHandleA("winspool.drv");
    bool bAll = hSpool != NULL;
    for (Replacement &r : g_replacements) {
        if (bInstall)
            r.pfnOriginal = (ULONG_PTR)GetProcAddress(hSpool, r.pszName);
        bAll &= r.pfnOriginal != 0;
        PatchImport(GetModuleHandleA(NULL), "WINSPOOL.DRV", r.pszName, bInstall ? r.pfnStandIn : r.pfnOriginal,
                    NULL);
    }
    return bAll;
}

}  // namespace

QueueStandIn::QueueStandIn()
{
    g_pState = new State;
    m_installed = Patch(true);
}

QueueStandIn::~QueueStandIn()
{
    Patch(false);
    delete g_pState;
    g_pState = NULL;
}

std::string QueueStandIn::SecurityOf(const char *pszQueue) const
{
    std::vector<BYTE> sd = SecurityBytes(Key(pszQueue));
    char *psz = NULL;
    if (sd.empty() || !ConvertSecurityDescriptorToStringSecurityDescriptorA(
                          sd.data(), SDDL_REVISION_1,
                          OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &psz,
                          NULL))
        return "(none)";
    std::string text = psz;
    LocalFree(psz);
    return text;
}

LONG QueueStandIn::Jobs(const char *pszQueue) const
{
    auto it = g_pState->jobs.find(Key(pszQueue));
    return it == g_pState->jobs.end() ? 0 : it->second;
}

void QueueStandIn::MarkPendingDeletion(const char *pszQueue) { g_pState->pendingDeletion.insert(Key(pszQueue)); }
