#include "foldersecurity.h"
#include "importpatch.h"
#include <aclapi.h>
#include <sddl.h>
#include <map>
#include <vector>

namespace {

std::map<std::string, std::vector<BYTE>> *g_pFolders;  // by upper-cased full path
ULONG_PTR g_pfnGetNamed, g_pfnSetNamed, g_pfnCreate, g_pfnRemove;

std::string Key(const char *psz)
{
    char sz[MAX_PATH] = "";
    if (!psz || !GetFullPathNameA(psz, sizeof(sz), sz, NULL))
        return "";
    std::string s = sz;
    while (s.size() > 3 && s.back() == '\\')
        s.pop_back();
    CharUpperBuffA(&s[0], (DWORD)s.size());
    return s;
}

std::vector<BYTE> SelfRelative(PSECURITY_DESCRIPTOR pSd)
{
    DWORD cb = 0;
    MakeSelfRelativeSD(pSd, NULL, &cb);
    std::vector<BYTE> bytes(cb ? cb : GetSecurityDescriptorLength(pSd));
    if (!cb || !MakeSelfRelativeSD(pSd, bytes.data(), &cb))
        memcpy(bytes.data(), pSd, bytes.size());
    return bytes;
}

DWORD WINAPI StandInGetNamedSecurityInfoA(LPSTR pszName, SE_OBJECT_TYPE type, SECURITY_INFORMATION info,
                                          PSID *ppOwner, PSID *ppGroup, PACL *ppDacl, PACL *ppSacl,
                                          PSECURITY_DESCRIPTOR *ppSd)
{
    auto it = type == SE_FILE_OBJECT ? g_pFolders->find(Key(pszName)) : g_pFolders->end();
    if (it == g_pFolders->end())
        return ((decltype(&GetNamedSecurityInfoA))g_pfnGetNamed)(pszName, type, info, ppOwner, ppGroup, ppDacl,
                                                                 ppSacl, ppSd);
    PSECURITY_DESCRIPTOR pSd = LocalAlloc(LMEM_FIXED, it->second.size());
    if (!pSd)
        return ERROR_NOT_ENOUGH_MEMORY;
    memcpy(pSd, it->second.data(), it->second.size());
    BOOL bDefaulted = FALSE, bPresent = FALSE;
    if (ppOwner && !GetSecurityDescriptorOwner(pSd, ppOwner, &bDefaulted))
        *ppOwner = NULL;
    if (ppGroup && !GetSecurityDescriptorGroup(pSd, ppGroup, &bDefaulted))
        *ppGroup = NULL;
    if (ppDacl && (!GetSecurityDescriptorDacl(pSd, &bPresent, ppDacl, &bDefaulted) || !bPresent))
        *ppDacl = NULL;
    if (ppSacl)
        *ppSacl = NULL;
    if (ppSd)
        *ppSd = pSd;
    else
        LocalFree(pSd);
    return ERROR_SUCCESS;
}

// As NTFS does: the parts given replace the folder's (its group kept), the
// list marked protected when asked; Wine's own function is not called (it
// would only change mode bits).
DWORD WINAPI StandInSetNamedSecurityInfoA(LPSTR pszName, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID pOwner,
                                          PSID pGroup, PACL pDacl, PACL pSacl)
{
    if (type != SE_FILE_OBJECT)
        return ((decltype(&SetNamedSecurityInfoA))g_pfnSetNamed)(pszName, type, info, pOwner, pGroup, pDacl, pSacl);
    PSID pOldOwner = NULL, pOldGroup = NULL;
    PACL pOldDacl = NULL;
    PSECURITY_DESCRIPTOR pOld = NULL;
    StandInGetNamedSecurityInfoA(pszName, type, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                                    DACL_SECURITY_INFORMATION,
                                 &pOldOwner, &pOldGroup, &pOldDacl, NULL, &pOld);
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorOwner(&sd, (info & OWNER_SECURITY_INFORMATION) ? pOwner : pOldOwner, FALSE);
    SetSecurityDescriptorGroup(&sd, (info & GROUP_SECURITY_INFORMATION) ? pGroup : pOldGroup, FALSE);
    SetSecurityDescriptorDacl(&sd, TRUE, (info & DACL_SECURITY_INFORMATION) ? pDacl : pOldDacl, FALSE);
    if (info & PROTECTED_DACL_SECURITY_INFORMATION)
        SetSecurityDescriptorControl(&sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    (*g_pFolders)[Key(pszName)] = SelfRelative(&sd);
    if (pOld)
        LocalFree(pOld);
    return ERROR_SUCCESS;
}

BOOL WINAPI StandInCreateDirectoryA(LPCSTR pszPath, LPSECURITY_ATTRIBUTES pSa)
{
    BOOL bCreated = ((decltype(&CreateDirectoryA))g_pfnCreate)(pszPath, pSa);
    DWORD dwError = GetLastError();
    if (bCreated && pSa && pSa->lpSecurityDescriptor)
        (*g_pFolders)[Key(pszPath)] = SelfRelative(pSa->lpSecurityDescriptor);
    SetLastError(dwError);
    return bCreated;
}

BOOL WINAPI StandInRemoveDirectoryA(LPCSTR pszPath)
{
    BOOL bRemoved = ((decltype(&RemoveDirectoryA))g_pfnRemove)(pszPath);
    DWORD dwError = GetLastError();
    if (bRemoved)
        g_pFolders->erase(Key(pszPath));
    SetLastError(dwError);
    return bRemoved;
}

bool Patch(bool bInstall)
{
    HMODULE hExe = GetModuleHandleA(NULL);
    HMODULE hAdvapi = GetModuleHandleA("advapi32.dll"), hKernel = GetModuleHandleA("kernel32.dll");
    if (bInstall) {
        g_pfnGetNamed = (ULONG_PTR)GetProcAddress(hAdvapi, "GetNamedSecurityInfoA");
        g_pfnSetNamed = (ULONG_PTR)GetProcAddress(hAdvapi, "SetNamedSecurityInfoA");
        g_pfnCreate = (ULONG_PTR)GetProcAddress(hKernel, "CreateDirectoryA");
        g_pfnRemove = (ULONG_PTR)GetProcAddress(hKernel, "RemoveDirectoryA");
    }
    int n = PatchImport(hExe, "ADVAPI32.DLL", "GetNamedSecurityInfoA",
                        bInstall ? (ULONG_PTR)StandInGetNamedSecurityInfoA : g_pfnGetNamed, NULL);
    n += PatchImport(hExe, "ADVAPI32.DLL", "SetNamedSecurityInfoA",
                     bInstall ? (ULONG_PTR)StandInSetNamedSecurityInfoA : g_pfnSetNamed, NULL);
    n += PatchImport(hExe, "KERNEL32.DLL", "CreateDirectoryA",
                     bInstall ? (ULONG_PTR)StandInCreateDirectoryA : g_pfnCreate, NULL);
    n += PatchImport(hExe, "KERNEL32.DLL", "RemoveDirectoryA",
                     bInstall ? (ULONG_PTR)StandInRemoveDirectoryA : g_pfnRemove, NULL);
    return n >= 4;
}

}  // namespace

FolderSecurityStandIn::FolderSecurityStandIn()
{
    g_pFolders = new std::map<std::string, std::vector<BYTE>>;
    m_installed = Patch(true);
}

FolderSecurityStandIn::~FolderSecurityStandIn()
{
    Patch(false);
    delete g_pFolders;
    g_pFolders = NULL;
}

void FolderSecurityStandIn::Plant(const std::string &path, const char *pszSddl)
{
    if (!pszSddl) {  // owned by Administrators (group SYSTEM), no access list at all: open to everyone
        SECURITY_DESCRIPTOR sd;
        InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        PSID pAdmins = NULL;
        AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                 &pAdmins);
        PSID pSystem = NULL;
        AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &pSystem);
        SetSecurityDescriptorOwner(&sd, pAdmins, FALSE);
        SetSecurityDescriptorGroup(&sd, pSystem, FALSE);
        SetSecurityDescriptorDacl(&sd, TRUE, NULL, FALSE);
        (*g_pFolders)[Key(path.c_str())] = SelfRelative(&sd);
        FreeSid(pAdmins);
        FreeSid(pSystem);
        return;
    }
    PSECURITY_DESCRIPTOR pSd = NULL;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(pszSddl, SDDL_REVISION_1, &pSd, NULL))
        return;
    (*g_pFolders)[Key(path.c_str())] = SelfRelative(pSd);
    LocalFree(pSd);
}

std::string FolderSecurityStandIn::SecurityOf(const std::string &path) const
{
    auto it = g_pFolders->find(Key(path.c_str()));
    char *psz = NULL;
    if (it == g_pFolders->end() ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorA(
            it->second.data(), SDDL_REVISION_1,
            OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &psz, NULL))
        return "(none)";
    std::string text = psz;
    LocalFree(psz);
    return text;
}
