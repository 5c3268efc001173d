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

// SYSTEM, Administrators and TrustedInstaller, and the user this program
// runs as when it runs as an administrator: the accounts that may own or
// change the folder.
static BOOL IsMachineAccount(PSID pSid)
{
    static const char *const kSids[] = {"S-1-5-18", "S-1-5-32-544",
                                        "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};
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
    return bAdmin;
}

/* TRUE when only machine accounts (IsMachineAccount) own pszFolder and may
 * change it: its owner is one, and no entry of its access list that applies
 * to the folder itself lets another account add, replace or remove files or
 * change the list. FALSE after an error line that names the account (or
 * the call that failed). A folder without an access list is open to all. */
BOOL CInstallContext::CheckMachineFolder(const char *pszFolder)
{
    if (!m_bWinNT)
        return TRUE;  // Windows 95/98 keeps no owner or access list for files
    PSID pOwner = NULL;
    PACL pDacl = NULL;
    PSECURITY_DESCRIPTOR pSd = NULL;
    DWORD dwStatus = GetNamedSecurityInfoA((LPSTR)pszFolder, SE_FILE_OBJECT,
                                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &pOwner, NULL,
                                           &pDacl, NULL, &pSd);
    if (dwStatus != ERROR_SUCCESS) {
        LogErr("::GetNamedSecurityInfo([%s]) E %d %s", pszFolder, dwStatus, SysErrorText(dwStatus).c_str());
        return FALSE;
    }
    LogDbg("::GetNamedSecurityInfo([%s]) Owner [%s] E %d %s", pszFolder, SidText(pOwner).c_str(), dwStatus,
           SysErrorText(dwStatus).c_str());
    std::string strOther;
    if (!pOwner || !IsMachineAccount(pOwner)) {
        strOther = "owner " + SidText(pOwner);
    } else if (!pDacl) {
        strOther = "everyone (no access list)";
    } else {
        for (DWORD i = 0; i < pDacl->AceCount && strOther.empty(); i++) {
            ACE_HEADER *pAce = NULL;
            if (!GetAce(pDacl, i, (void **)&pAce) || pAce->AceType != ACCESS_ALLOWED_ACE_TYPE ||
                (pAce->AceFlags & INHERIT_ONLY_ACE))
                continue;
            ACCESS_ALLOWED_ACE *pAllowed = (ACCESS_ALLOWED_ACE *)pAce;
            PSID pSid = (PSID)&pAllowed->SidStart;
            if ((pAllowed->Mask & kChangeRights) && !IsMachineAccount(pSid))
                strOther = SidText(pSid);
        }
    }
    LocalFree(pSd);
    if (strOther.empty())
        return TRUE;
    LogErr("SetupSysInfo() [%s] can be changed by %s: not the machine's own folder, nothing changed\r\n", pszFolder,
           strOther.c_str());
    return FALSE;
}

/* Makes sure pszFolder exists, creating it with the machine's own access
 * list (kFolderSddl) when it is missing, then checks it (CheckMachineFolder).
 * FALSE after an error line. */
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
        if (m_bWinNT && !ConvertStringSecurityDescriptorToSecurityDescriptorA(kFolderSddl, SDDL_REVISION_1,
                                                                              &sa.lpSecurityDescriptor, NULL)) {
            dwError = GetLastError();
            LogErr("::ConvertStringSecurityDescriptorToSecurityDescriptor R 0 E %d %s", dwError,
                   SysErrorText(dwError).c_str());
            return FALSE;
        }
        BOOL bCreated = CreateDirectoryA(pszFolder, sa.lpSecurityDescriptor ? &sa : NULL);
        dwError = GetLastError();
        if (sa.lpSecurityDescriptor)
            LocalFree(sa.lpSecurityDescriptor);
        if (!bCreated) {
            LogErr("::CreateDirectory([%s]) R %d E %d %s", pszFolder, bCreated, dwError,
                   SysErrorText(dwError).c_str());
            return FALSE;
        }
        LogDbg("::CreateDirectory([%s]) R %d E %d %s", pszFolder, bCreated, dwError, SysErrorText(dwError).c_str());
    }
    return CheckMachineFolder(pszFolder);
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
