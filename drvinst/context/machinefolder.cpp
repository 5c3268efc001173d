// The working folder of an INF: "<ProgramFilesDir>\Ostrel\Ostrel<INF name>",
// one per machine. It holds the program, the INF and (for a reinstall) the
// whole package between the two phases, and the copy the Uninstall entry
// runs. Whatever runs from it runs as an administrator or as SYSTEM, so it
// is used only while no other user can change it: the installer creates it
// with an access list of its own, and checks the owner and access list of
// the folder and of "<ProgramFilesDir>\Ostrel" at every use.
#include "installcontext.h"
#include "splstr.h"
#include <aclapi.h>
#include <sddl.h>
#include <string>

static const char kVersionKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

// SYSTEM and Administrators may do everything, users read and run; nothing
// is inherited from above, everything below inherits it. Owner Administrators.
static const char kFolderSddl[] = "O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// The rights that let a holder put, replace or remove a file in the folder,
// or give itself those rights.
static const DWORD kChangeRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | FILE_WRITE_EA |
                                   FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                   GENERIC_ALL | MAXIMUM_ALLOWED;

/* The programs folder, from HKLM's "ProgramFilesDir" (REG_SZ), into pszOut
 * (cbOut bytes). FALSE after an error line. */
BOOL CInstallContext::ReadProgramsDir(char *pszOut, DWORD cbOut)
{
    pszOut[0] = 0;
    HKEY hKey = NULL;
    LONG lStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kVersionKey, 0, KEY_READ, &hKey);
    if (lStatus != ERROR_SUCCESS) {
        LogErr("::RegOpenKeyEx([%s]) E %d %s", kVersionKey, lStatus, SysErrorText(lStatus).c_str());
        return FALSE;
    }
    LogDbg("::RegOpenKeyEx([%s]) E %d %s", kVersionKey, lStatus, SysErrorText(lStatus).c_str());
    char szPrograms[INF_PATH_MAX + 1] = "";  // one spare byte keeps unterminated data terminated
    DWORD cb = INF_PATH_MAX;
    DWORD dwType = 0;
    lStatus = RegQueryValueExA(hKey, "ProgramFilesDir", NULL, &dwType, (LPBYTE)szPrograms, &cb);
    RegCloseKey(hKey);
    if (lStatus == ERROR_SUCCESS && (dwType != REG_SZ || !cb))
        lStatus = ERROR_INVALID_DATA;
    szPrograms[lStatus == ERROR_SUCCESS && cb < INF_PATH_MAX ? cb : INF_PATH_MAX] = 0;
    if (lStatus != ERROR_SUCCESS || (DWORD)lstrlenA(szPrograms) >= cbOut) {
        LogErr("::RegQueryValueEx([ProgramFilesDir]) [%s] E %d %s", szPrograms, lStatus,
               SysErrorText(lStatus).c_str());
        return FALSE;
    }
    LogDbg("::RegQueryValueEx([ProgramFilesDir]) [%s] E %d %s", szPrograms, lStatus, SysErrorText(lStatus).c_str());
    lstrcpynA(pszOut, szPrograms, (int)cbOut);
    return TRUE;
}

// A SID as text ("S-1-5-18"), "?" when it cannot be converted.
static std::string SidText(PSID pSid)
{
    char *psz = NULL;
    if (!pSid || !ConvertSidToStringSidA(pSid, &psz))
        return "?";
    std::string strText = psz;
    LocalFree(psz);
    return strText;
}

// The machine's own descriptor for the folder (kFolderSddl) into *ppSd
// (LocalFree it). FALSE after an error line.
static BOOL AllocFolderSecurity(CInstallContext &ctx, PSECURITY_DESCRIPTOR *ppSd)
{
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(kFolderSddl, SDDL_REVISION_1, ppSd, NULL))
        return TRUE;
    DWORD dwError = GetLastError();
    ctx.LogErr("::ConvertStringSecurityDescriptorToSecurityDescriptor R 0 E %d %s", dwError,
               SysErrorText(dwError).c_str());
    return FALSE;
}

// Whether two folder paths name the same folder (case and a trailing
// backslash aside); FALSE when either is missing.
static BOOL SameFolder(const char *psz1, const char *psz2)
{
    if (!psz1 || !psz2)
        return FALSE;
    std::string str1 = psz1, str2 = psz2;
    while (!str1.empty() && str1.back() == '\\')
        str1.pop_back();
    while (!str2.empty() && str2.back() == '\\')
        str2.pop_back();
    return !StrCmpI(str1.c_str(), str2.c_str());
}

// SYSTEM, Administrators and TrustedInstaller, and the user this program
// runs as when it runs as an administrator (*pbSelf then): the accounts
// that may own or change the folder.
static BOOL IsMachineAccount(PSID pSid, BOOL *pbSelf = NULL)
{
    static const char *const kSids[] = {"S-1-5-18", "S-1-5-32-544",
                                        "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};
    if (pbSelf)
        *pbSelf = FALSE;
    std::string strSid = SidText(pSid);
    for (const char *pszSid : kSids) {
        if (strSid == pszSid)
            return TRUE;
    }
    HANDLE hToken = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken))
        return FALSE;
    BYTE user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
    DWORD cb = 0;
    BOOL bSelf = GetTokenInformation(hToken, TokenUser, user, sizeof(user), &cb) &&
                 EqualSid(((TOKEN_USER *)user)->User.Sid, pSid);
    CloseHandle(hToken);
    if (!bSelf)
        return FALSE;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID pAdmins = NULL;
    BOOL bAdmin = FALSE;
    if (AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                 &pAdmins)) {
        if (!CheckTokenMembership(NULL, pAdmins, &bAdmin))
            bAdmin = FALSE;
        FreeSid(pAdmins);
    }
    if (pbSelf)
        *pbSelf = bAdmin;
    return bAdmin;
}

// Who else may change pszFolder, into strOther: its owner when that is no
// machine account ("owner <sid>", *pbForeignOwner), or the first account an
// entry of its access list lets add, replace or remove files or change the
// list (entries only what is made inside inherits count too: they decide
// the rights on the program copied there), or everyone without a list; ""
// when nobody. *pbSelfOwned: the owner is this administrator's own account.
// FALSE after an error line when the descriptor cannot be read.
static BOOL FindOtherWriter(CInstallContext &ctx, const char *pszFolder, std::string &strOther, BOOL *pbForeignOwner,
                            BOOL *pbSelfOwned)
{
    strOther.clear();
    *pbForeignOwner = *pbSelfOwned = FALSE;
    PSID pOwner = NULL;
    PACL pDacl = NULL;
    PSECURITY_DESCRIPTOR pSd = NULL;
    DWORD dwStatus = GetNamedSecurityInfoA((LPSTR)pszFolder, SE_FILE_OBJECT,
                                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &pOwner, NULL,
                                           &pDacl, NULL, &pSd);
    if (dwStatus != ERROR_SUCCESS) {
        ctx.LogErr("::GetNamedSecurityInfo([%s]) E %d %s", pszFolder, dwStatus, SysErrorText(dwStatus).c_str());
        return FALSE;
    }
    ctx.LogDbg("::GetNamedSecurityInfo([%s]) Owner [%s] E %d %s", pszFolder, SidText(pOwner).c_str(), dwStatus,
               SysErrorText(dwStatus).c_str());
    if (!pOwner || !IsMachineAccount(pOwner, pbSelfOwned)) {
        strOther = "owner " + SidText(pOwner);
        *pbForeignOwner = TRUE;
    } else if (!pDacl) {
        strOther = "everyone (no access list)";
    } else {
        for (DWORD i = 0; i < pDacl->AceCount && strOther.empty(); i++) {
            ACE_HEADER *pAce = NULL;
            if (!GetAce(pDacl, i, (void **)&pAce) || pAce->AceType == ACCESS_DENIED_ACE_TYPE ||
                pAce->AceType == SYSTEM_AUDIT_ACE_TYPE)
                continue;
            DWORD dwMask = ((ACCESS_ALLOWED_ACE *)pAce)->Mask;  // the same place in every allowing entry
            if (!(dwMask & kChangeRights))
                continue;
            if (pAce->AceType != ACCESS_ALLOWED_ACE_TYPE) {
                strOther = "an entry of type " + std::to_string(pAce->AceType);  // object or condition entries
                continue;
            }
            PSID pSid = (PSID)&((ACCESS_ALLOWED_ACE *)pAce)->SidStart;
            std::string strSid = SidText(pSid);
            // The creator's entry stands for whoever makes a file there: an administrator.
            BOOL bCreator = (pAce->AceFlags & INHERIT_ONLY_ACE) && (strSid == "S-1-3-0" || strSid == "S-1-3-1");
            if (!bCreator && !IsMachineAccount(pSid))
                strOther = strSid;
        }
    }
    LocalFree(pSd);
    return TRUE;
}

/* TRUE when only machine accounts own pszFolder and may change it: its
 * owner is SYSTEM, Administrators, TrustedInstaller or the administrator
 * running this program, and no entry of its access list lets another
 * account add, replace or remove files or change the list (FindOtherWriter).
 * FALSE after an error line that names the account or the failed call. */
BOOL CInstallContext::CheckMachineFolder(const char *pszFolder)
{
    if (!m_bWinNT)
        return TRUE;  // Windows 95/98 keeps no owner or access list for files
    std::string strOther;
    BOOL bForeign = FALSE, bSelf = FALSE;
    if (!FindOtherWriter(*this, pszFolder, strOther, &bForeign, &bSelf))
        return FALSE;
    if (strOther.empty())
        return TRUE;
    LogErr("SetupSysInfo() [%s] can be changed by %s: not the machine's own folder, nothing changed\r\n", pszFolder,
           strOther.c_str());
    return FALSE;
}

// Gives pszFolder the machine's own owner and access list (kFolderSddl, not
// inherited). FALSE after an error line.
static BOOL TakeMachineFolder(CInstallContext &ctx, const char *pszFolder)
{
    PSECURITY_DESCRIPTOR pSd = NULL;
    if (!AllocFolderSecurity(ctx, &pSd))
        return FALSE;
    PSID pOwner = NULL;
    PACL pDacl = NULL;
    BOOL bDefaulted = FALSE, bPresent = FALSE;
    GetSecurityDescriptorOwner(pSd, &pOwner, &bDefaulted);
    GetSecurityDescriptorDacl(pSd, &bPresent, &pDacl, &bDefaulted);
    DWORD dwStatus = SetNamedSecurityInfoA(
        (LPSTR)pszFolder, SE_FILE_OBJECT,
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, pOwner, NULL,
        pDacl, NULL);
    LocalFree(pSd);
    if (dwStatus != ERROR_SUCCESS) {
        ctx.LogErr("::SetNamedSecurityInfo([%s]) E %d %s", pszFolder, dwStatus, SysErrorText(dwStatus).c_str());
        return FALSE;
    }
    ctx.LogDbg("::SetNamedSecurityInfo([%s]) E %d %s", pszFolder, dwStatus, SysErrorText(dwStatus).c_str());
    return TRUE;
}

/* Makes sure pszFolder exists, creating it with the machine's own access
 * list (kFolderSddl) when it is missing (or taking the one another run just
 * made), then checks it (CheckMachineFolder): a folder another account owns
 * or may change is refused. One owned by the running administrator's own
 * account is given the machine's owner and list by an operation's own
 * context, so that SYSTEM accepts it later. FALSE after an error line. */
BOOL CInstallContext::ReadyMachineFolder(const char *pszFolder)
{
    DWORD dwAttr = GetFileAttributesA(pszFolder);
    DWORD dwError = GetLastError();
    BOOL bFolder = dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_DIRECTORY);
    if (!bFolder && (dwAttr != INVALID_FILE_ATTRIBUTES ||
                     (dwError != ERROR_FILE_NOT_FOUND && dwError != ERROR_PATH_NOT_FOUND))) {
        LogErr("::GetFileAttributes([%s]) R %d E %d %s", pszFolder, dwAttr, dwError, SysErrorText(dwError).c_str());
        return FALSE;
    }
    LogDbg("::GetFileAttributes([%s]) R %d E %d %s", pszFolder, dwAttr, dwError, SysErrorText(dwError).c_str());
    if (!bFolder) {
        SECURITY_ATTRIBUTES sa = {sizeof(sa), NULL, FALSE};
        if (m_bWinNT && !AllocFolderSecurity(*this, &sa.lpSecurityDescriptor))
            return FALSE;
        BOOL bCreated = CreateDirectoryA(pszFolder, sa.lpSecurityDescriptor ? &sa : NULL);
        dwError = GetLastError();
        if (sa.lpSecurityDescriptor)
            LocalFree(sa.lpSecurityDescriptor);
        // Another run that made it first: it is checked like any other.
        BOOL bThere = bCreated || dwError == ERROR_ALREADY_EXISTS;
        if (!bThere) {
            LogErr("::CreateDirectory([%s]) R %d E %d %s", pszFolder, bCreated, dwError,
                   SysErrorText(dwError).c_str());
            return FALSE;
        }
        LogDbg("::CreateDirectory([%s]) R %d E %d %s", pszFolder, bCreated, dwError, SysErrorText(dwError).c_str());
    }
    if (!m_bWinNT)
        return TRUE;  // Windows 95/98 keeps no owner or access list for files
    std::string strOther;
    BOOL bForeign = FALSE, bSelf = FALSE;
    if (!FindOtherWriter(*this, pszFolder, strOther, &bForeign, &bSelf))
        return FALSE;
    // A folder this administrator's own account owns (one an earlier version
    // made) gets the machine's owner and list, so that SYSTEM accepts it
    // later; only by the operation's own context (a nested one has no mode
    // of its own) and never when another account could change it.
    BOOL bFills = (m_bInstall || m_bUninstall || m_bReinstall) && !m_bRunOnce;
    if (bFills && bSelf && strOther.empty() && !SameFolder(m_pExeDirName, pszFolder) &&
        !TakeMachineFolder(*this, pszFolder))
        return FALSE;
    return strOther.empty() || CheckMachineFolder(pszFolder);
}

/* The working folder m_pTempDirName, "<ProgramFilesDir>\Ostrel\Ostrel<INF
 * name>", and "<ProgramFilesDir>\Ostrel" above it, each made ready with
 * ReadyMachineFolder. FALSE after an error line, m_pTempDirName unchanged. */
BOOL CInstallContext::SetupWorkingFolder()
{
    char szPrograms[INF_PATH_MAX];
    if (!ReadProgramsDir(szPrograms, sizeof(szPrograms)))
        return FALSE;
    std::string strParent = std::string(szPrograms) + "\\Ostrel";
    std::string strFolder = strParent + "\\Ostrel" + LogStr(m_pInfBaseName);
    if (strFolder.size() >= INF_PATH_MAX) {
        LogErr("SetupSysInfo() m_pTempDirName\r\n");  // beyond every path buffer
        return FALSE;
    }
    return ReadyMachineFolder(strParent.c_str()) && ReadyMachineFolder(strFolder.c_str()) &&
           StoreSysString(m_pTempDirName, strFolder.c_str(), "m_pTempDirName");
}
