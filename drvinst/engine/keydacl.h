// A registry key's access list, opened to everyone for the time of a change
// and put back afterwards, through the security calls of ADVAPI32.DLL looked
// up at run time.
#pragma once
#include "installcontext.h"
#include <accctrl.h>

class KeyDacl {
public:
    // hKey must stay open until Restore and carry WRITE_DAC and READ_CONTROL.
    KeyDacl(CInstallContext &ctx, HKEY hKey);
    ~KeyDacl();  // releases what Restore has not (no log line)

    // Loads ADVAPI32.DLL, reads the key's access list and replaces it by a
    // NULL list (open to everyone). FALSE after an error line.
    BOOL OpenToEveryone();
    // Puts back the list that was read (whether or not the NULL list was
    // set), frees the descriptor, releases the library, each step logged.
    // FALSE after an error line when any of them failed.
    BOOL Restore();

private:
    typedef DWORD(WINAPI *PFN_GETSECURITYINFO)(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID *, PSID *,
                                               PACL *, PACL *, PSECURITY_DESCRIPTOR *);
    typedef DWORD(WINAPI *PFN_SETSECURITYINFO)(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID, PACL,
                                               PACL);
    KeyDacl(const KeyDacl &) = delete;
    KeyDacl &operator=(const KeyDacl &) = delete;
    BOOL LoadSecurityCalls();

    CInstallContext &m_ctx;
    HKEY m_hKey;
    HMODULE m_hAdvapi;
    PFN_GETSECURITYINFO m_pfnGetSecurityInfo;
    PFN_SETSECURITYINFO m_pfnSetSecurityInfo;
    BOOL m_bRead;  // the list below was read and must be put back
    PACL m_pDacl;  // points into m_pSecurityDescriptor; NULL for a NULL list
    PSECURITY_DESCRIPTOR m_pSecurityDescriptor;
};
