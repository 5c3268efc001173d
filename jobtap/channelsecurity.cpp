// Access lists of a port's named objects, and the checks that decide whether
// an object found under a port's name can be trusted.
#include "jobtap.h"

// What the status monitor, running as the interactive user, needs: map the
// block for reading and writing; wait on the events and set them.
#define SECTION_CLIENT_ACCESS (SECTION_MAP_READ | SECTION_MAP_WRITE)
#define EVENT_CLIENT_ACCESS   (SYNCHRONIZE | EVENT_MODIFY_STATE)

/* Fills pSecurity with an absolute descriptor whose access list gives SYSTEM
 * and Administrators full access (dwAllAccess) and interactive users
 * dwClientAccess, and nothing else to anybody: no one but the owner may
 * change the list or the owner. FALSE with the last error set on failure. */
static BOOL BuildObjectSecurity(ChannelSecurity *pSecurity, DWORD dwAllAccess, DWORD dwClientAccess)
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID pSystem = NULL, pAdmins = NULL, pInteractive = NULL;
    BOOL bOk = AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &pSystem) &&
               AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                        0, 0, 0, &pAdmins) &&
               AllocateAndInitializeSid(&nt, 1, SECURITY_INTERACTIVE_RID, 0, 0, 0, 0, 0, 0, 0, &pInteractive) &&
               InitializeAcl((PACL)pSecurity->abAcl, sizeof(pSecurity->abAcl), ACL_REVISION) &&
               AddAccessAllowedAce((PACL)pSecurity->abAcl, ACL_REVISION, dwAllAccess, pSystem) &&
               AddAccessAllowedAce((PACL)pSecurity->abAcl, ACL_REVISION, dwAllAccess, pAdmins) &&
               AddAccessAllowedAce((PACL)pSecurity->abAcl, ACL_REVISION, dwClientAccess, pInteractive) &&
               InitializeSecurityDescriptor(&pSecurity->sd, SECURITY_DESCRIPTOR_REVISION) &&
               SetSecurityDescriptorDacl(&pSecurity->sd, TRUE, (PACL)pSecurity->abAcl, FALSE);
    DWORD dwError = GetLastError();
    if (pSystem)
        FreeSid(pSystem);
    if (pAdmins)
        FreeSid(pAdmins);
    if (pInteractive)
        FreeSid(pInteractive);
    SetLastError(dwError);
    return bOk;
}

BOOL BuildChannelSecurity(ChannelSecurity *pSection, ChannelSecurity *pEvents)
{
    return BuildObjectSecurity(pSection, SECTION_ALL_ACCESS, SECTION_CLIENT_ACCESS) &&
           BuildObjectSecurity(pEvents, EVENT_ALL_ACCESS, EVENT_CLIENT_ACCESS);
}

/* Whether pSid is SYSTEM, Administrators, or this process's user or default
 * owner: the only owners whose objects the spooler may reuse. */
static BOOL IsTrustedOwner(PSID pSid)
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID pWellKnown = NULL;
    BOOL bTrusted = FALSE;
    if (AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &pWellKnown)) {
        bTrusted = EqualSid(pSid, pWellKnown);
        FreeSid(pWellKnown);
    }
    if (!bTrusted && AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                              0, 0, 0, 0, &pWellKnown)) {
        bTrusted = EqualSid(pSid, pWellKnown);
        FreeSid(pWellKnown);
    }
    HANDLE hToken = NULL;
    if (!bTrusted && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken)) {
        BYTE abInfo[256];
        DWORD cb = 0;
        if (GetTokenInformation(hToken, TokenUser, abInfo, sizeof(abInfo), &cb))
            bTrusted = EqualSid(pSid, ((TOKEN_USER *)abInfo)->User.Sid);
        if (!bTrusted && GetTokenInformation(hToken, TokenOwner, abInfo, sizeof(abInfo), &cb))
            bTrusted = EqualSid(pSid, ((TOKEN_OWNER *)abInfo)->Owner);
        CloseHandle(hToken);
    }
    return bTrusted;
}

/* Whether an auto-reset event behaves as one: set, one wait takes the
 * signal, a second wait finds none. bSignalled says the state to leave it
 * in. A manual-reset event stays signalled and would keep a waiter spinning. */
static BOOL IsAutoResetEvent(HANDLE hEvent, BOOL bSignalled)
{
    SetEvent(hEvent);
    WaitForSingleObject(hEvent, 0);
    BOOL bAuto = WaitForSingleObject(hEvent, 0) == WAIT_TIMEOUT;
    if (!bAuto)
        ResetEvent(hEvent);
    if (bSignalled)
        SetEvent(hEvent);
    return bAuto;
}

LPCWSTR CheckFoundObject(HANDLE hObject, const ChannelSecurity *pSecurity, HANDLE hEventState, BOOL bSignalled)
{
    PSID pOwner = NULL;
    PSECURITY_DESCRIPTOR pSd = NULL;
    DWORD dwStatus = GetSecurityInfo(hObject, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &pOwner, NULL, NULL,
                                     NULL, &pSd);
    BOOL bOwner = dwStatus == ERROR_SUCCESS && pOwner && IsTrustedOwner(pOwner);
    if (pSd)
        LocalFree(pSd);
    if (!bOwner)
        return L"owner";
    // Ours or an earlier instance's: it gets this instance's access list.
    BOOL bDacl = FALSE, bDefaulted = FALSE;
    PACL pAcl = NULL;
    GetSecurityDescriptorDacl((PSECURITY_DESCRIPTOR)&pSecurity->sd, &bDacl, &pAcl, &bDefaulted);
    dwStatus = SetSecurityInfo(hObject, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, NULL, NULL, pAcl, NULL);
    if (dwStatus != ERROR_SUCCESS)
        return L"access";
    if (hEventState && !IsAutoResetEvent(hEventState, bSignalled))
        return L"type";
    return NULL;
}
