// What spans the restart and outlives the installer: the RunOnce entry that
// starts the second phase, the restart itself, and the model's entry in the
// system's list of installed software.
#include "restart.h"
#include "fixedtext.h"
#include "splstr.h"
#include "steplog.h"
#include <string.h>
#include <string>

static const char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
static const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
static const REGSAM kRunOnceAccess = KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE;  // 0x2001F

// The names a command of the working folder is made of: the folder, the
// program, the INF and the model. FALSE after "<pszOwner>() <member>\r\n" for
// the first that is missing or empty, since a command without it would start
// nothing (and an empty model would name the parent key itself). The
// command's buffer (cbCommand bytes) is emptied first.
static BOOL HasCommandNames(CInstallContext &ctx, const char *pszOwner, char *pszCommand, size_t cbCommand)
{
    if (cbCommand)
        pszCommand[0] = 0;
    const struct {
        const char *psz;
        const char *pszMember;
    } names[] = {{ctx.m_pTempDirName, "m_pTempDirName"},
                 {ctx.m_pExeBaseName, "m_pExeBaseName"},
                 {ctx.m_pInfBaseName, "m_pInfBaseName"},
                 {ctx.m_pPrinterName, "m_pPrinterName"}};
    for (const auto &name : names) {
        if (!name.psz || !*name.psz) {
            ctx.LogErr("%s() %s\r\n", pszOwner, name.pszMember);
            return FALSE;
        }
    }
    return TRUE;
}

BOOL FormatRunOnceCommand(CInstallContext &ctx, char *pszCommand, size_t cbCommand)
{
    if (!HasCommandNames(ctx, "AddRunOnce", pszCommand, cbCommand) ||
        !FormatPath(ctx, pszCommand, cbCommand, "AddRunOnce", "\"%s\\%s\" \"%s\\%s\" \"%s\" \"%s\" /RunOnce%s%s%s%s%s",
                    ctx.m_pTempDirName, ctx.m_pExeBaseName, ctx.m_pTempDirName, ctx.m_pInfBaseName,
                    ctx.m_pPrinterName, ctx.m_pPortName ? ctx.m_pPortName : "", ctx.m_bInstall ? " /Install" : "",
                    ctx.m_bUninstall ? " /Uninstall" : "", ctx.m_bReinstall ? " /Reinstall" : "",
                    ctx.m_bCopy ? " /Copy" : "", ctx.m_bQuiet ? " /quiet" : ""))
        return FALSE;
    // The second phase logs where the first one was told to (the full path),
    // when that still fits: a long log path must not refuse the operation.
    if (ctx.m_strLogPath.empty() || !ctx.m_pLogFileName)
        return TRUE;
    std::string strLog = std::string(" /log \"") + ctx.m_pLogFileName + "\"";
    if (strlen(pszCommand) + strLog.size() < cbCommand)
        lstrcatA(pszCommand, strLog.c_str());
    else
        ctx.LogDbg("AddRunOnce() Length: the second phase logs to the default log, not [%s]\r\n", ctx.m_pLogFileName);
    return TRUE;
}

BOOL FormatUninstallString(CInstallContext &ctx, char *pszCommand, size_t cbCommand)
{
    if (!HasCommandNames(ctx, "AddUninstallKey", pszCommand, cbCommand))
        return FALSE;
    const char *pszFolder = ctx.KeptFolder();
    return pszFolder && FormatPath(ctx, pszCommand, cbCommand, "AddUninstallKey", "\"%s\\%s\" \"%s\\%s\" \"%s\" /uninstall",
                                   pszFolder, ctx.m_pExeBaseName, pszFolder, ctx.m_pInfBaseName, ctx.m_pPrinterName);
}

// The action of a RunOnce command ("/Uninstall", "/Reinstall" or "/Install")
// and its model (its third quoted field) into pszModel (INF_PATH_MAX bytes).
static const char *PendingAction(const char *pszCommand, char *pszModel)
{
    pszModel[0] = 0;
    const char *p = pszCommand;
    for (int nField = 0; nField < 3 && (p = FindCharA(p, '"')) != NULL; nField++) {
        const char *pEnd = FindCharA(p + 1, '"');
        if (!pEnd)
            break;
        if (nField == 2 && pEnd - p - 1 < INF_PATH_MAX)
            lstrcpynA(pszModel, p + 1, (int)(pEnd - p));
        p = pEnd + 1;
    }
    for (const char *pszAction : {"/Uninstall", "/Reinstall", "/Install"}) {
        if (StrStrI(pszCommand, pszAction))
            return pszAction;
    }
    return "";
}

/* TRUE when HKLM RunOnce holds a second phase of this INF (a value named
 * m_pInfBaseName), or its durable record does (ReadPendingCommand): its command goes to m_strPendingCommand, and an error
 * line names its action and model and asks for the restart that finishes
 * it. Also TRUE, after its error line, when RunOnce cannot be read: nothing
 * may start that could overwrite what a pending phase needs. FALSE when none
 * waits. */
BOOL CInstallContext::FindPendingPhase()
{
    HKEY hKey = NULL;
    LONG lStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_READ, &hKey);
    // Only "not there" means nothing waits: RunOnce that cannot be read refuses too.
    LogStep(*this, lStatus == ERROR_SUCCESS || lStatus == ERROR_FILE_NOT_FOUND, "::RegOpenKeyEx([%s]) E %d %s",
            kRunOnceKey, lStatus, SysErrorText(lStatus).c_str());
    if (lStatus == ERROR_FILE_NOT_FOUND)
        return FALSE;
    char szCommand[INF_PATH_MAX + 1] = "";  // one spare byte keeps unterminated data terminated
    if (lStatus == ERROR_SUCCESS) {
        DWORD cb = INF_PATH_MAX;
        lStatus = RegQueryValueExA(hKey, LogStr(m_pInfBaseName), NULL, NULL, (LPBYTE)szCommand, &cb);
        RegCloseKey(hKey);
        szCommand[lStatus == ERROR_SUCCESS && cb < INF_PATH_MAX ? cb : INF_PATH_MAX] = 0;
        BOOL bRead = lStatus == ERROR_SUCCESS || lStatus == ERROR_MORE_DATA || lStatus == ERROR_FILE_NOT_FOUND;
        LogStep(*this, bRead, "::RegQueryValueEx([%s]) [%s] E %d %s", LogStr(m_pInfBaseName), szCommand, lStatus,
                SysErrorText(lStatus).c_str());
        if (lStatus == ERROR_SUCCESS && !CommandProgramExists(szCommand)) {
            // Its program is gone (an emptied temporary folder): it can never
            // run, and would refuse every operation of the INF for ever.
            LogDbg("Excecute() Not pending [%s]: its program is gone\r\n", szCommand);
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, kRunOnceAccess, &hKey) == ERROR_SUCCESS) {
                RegDeleteValueA(hKey, LogStr(m_pInfBaseName));
                RegCloseKey(hKey);
            }
            lStatus = ERROR_FILE_NOT_FOUND;
        }
        if (lStatus == ERROR_FILE_NOT_FOUND) {
            // RunOnce was run (or never written): a phase that died or that
            // no administrator's logon started is still pending.
            std::string strRecord;
            if (!ReadPendingCommand(*this, m_pInfBaseName, strRecord))
                return FALSE;
            lstrcpynA(szCommand, strRecord.c_str(), sizeof(szCommand));
        }
    }
    m_strPendingCommand = szCommand;
    char szModel[INF_PATH_MAX];
    const char *pszAction = PendingAction(szCommand, szModel);
    LogErr("Excecute() Pending %s [%s] of [%s]: restart the computer, or run drvinst.exe /quiet /finish, to finish "
           "it first\r\n",
           pszAction, szModel, LogStr(m_pInfBaseName));
    return TRUE;
}

/* Writes the durable record of the second phase (WritePendingCommand), then
 * the value m_pInfBaseName under HKLM RunOnce: the working folder's
 * copy of the program with the copy of the INF, the model, the port (empty
 * when none), "/RunOnce" and the mode switches. The command must fit in 256
 * bytes and is never cut: a longer one fails before the key is opened. 1, or
 * 0 after an error line. */
BOOL CInstallContext::AddRunOnce()
{
    char szCommand[INF_PATH_MAX];
    if (!FormatRunOnceCommand(*this, szCommand, sizeof(szCommand)) || !WritePendingCommand(*this, szCommand))
        return FALSE;

    HKEY hKey = NULL;
    LONG lStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, kRunOnceAccess, &hKey);
    LogStep(*this, lStatus == ERROR_SUCCESS, "::RegOpenKeyEx([%s]) E %d %s", kRunOnceKey, lStatus,
            SysErrorText(lStatus).c_str());
    if (lStatus != ERROR_SUCCESS) {
        if (!m_bRunOnce)
            WritePendingCommand(*this, NULL);
        SetLastError(lStatus);
        return FALSE;
    }
    lStatus = RegSetValueExA(hKey, m_pInfBaseName, 0, REG_SZ, (const BYTE *)szCommand, lstrlenA(szCommand) + 1);
    if (lStatus != ERROR_SUCCESS)
        RegCloseKey(hKey);
    LogStep(*this, lStatus == ERROR_SUCCESS, "::RegSetValueEx([%s][%s]) E %d %s", m_pInfBaseName, szCommand,
            lStatus, SysErrorText(lStatus).c_str());
    if (lStatus != ERROR_SUCCESS) {
        if (!m_bRunOnce)
            WritePendingCommand(*this, NULL);  // a first phase that registered nothing leaves no record
        SetLastError(lStatus);
        return FALSE;
    }
    lStatus = RegCloseKey(hKey);
    LogStep(*this, lStatus == ERROR_SUCCESS, "::RegCloseKey E %d %s", lStatus, SysErrorText(lStatus).c_str());
    SetLastError(lStatus);
    return lStatus == ERROR_SUCCESS;
}

// A restart step failed: "<call> R 0 E <code> <text>\r\n" as an error line,
// the code left as the last error. Always FALSE.
static BOOL RestartFailed(CInstallContext &ctx, const char *pszCall, DWORD dwError, BOOL bReturned = FALSE)
{
    ctx.LogErr("%s R %d E %d %s\r\n", pszCall, bReturned, dwError, SysErrorText(dwError).c_str());
    SetLastError(dwError);
    return FALSE;
}

/* Asks Windows to restart the computer: on Windows NT after enabling the
 * shutdown privilege of the process token (the token is closed on every
 * path). 1 when ExitWindowsEx accepted (the process ends soon after), 0
 * after an error line naming the first step that failed. */
BOOL CInstallContext::RestartWindows()
{
    if (!m_bWinNT) {
        if (ExitWindowsEx(EWX_REBOOT, 0))
            return TRUE;
        return RestartFailed(*this, "::ExitWindowsEx", GetLastError());
    }
    HANDLE hToken = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &hToken))
        return RestartFailed(*this, "::OpenProcessToken", GetLastError());
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    const char *pszFailed = NULL;
    BOOL bReturned = FALSE;  // AdjustTokenPrivileges succeeds without a privilege the token lacks
    if (!LookupPrivilegeValueA(NULL, "SeShutdownPrivilege", &privileges.Privileges[0].Luid))
        pszFailed = "::LookupPrivilegeValue";
    else if (!(bReturned = AdjustTokenPrivileges(hToken, FALSE, &privileges, 0, NULL, NULL)) ||
             GetLastError() == ERROR_NOT_ALL_ASSIGNED)
        pszFailed = "::AdjustTokenPrivileges";
    else if (!(bReturned = ExitWindowsEx(EWX_REBOOT, 0)))
        pszFailed = "::ExitWindowsEx";
    DWORD dwError = GetLastError();
    CloseHandle(hToken);
    if (pszFailed)
        return RestartFailed(*this, pszFailed, dwError, bReturned);
    SetLastError(dwError);
    return TRUE;
}

// Closes a key of the Uninstall entry, logged with its handle.
static BOOL CloseUninstallKey(CInstallContext &ctx, HKEY hKey)
{
    LONG lStatus = RegCloseKey(hKey);
    LogStep(ctx, lStatus == ERROR_SUCCESS, "::RegCloseKey(x%x) E %d %s", (unsigned)(ULONG_PTR)hKey, lStatus,
            SysErrorText(lStatus).c_str());
    SetLastError(lStatus);
    return lStatus == ERROR_SUCCESS;
}

// Opens HKLM's Uninstall key with every right, logged with the handle.
static BOOL OpenUninstallKey(CInstallContext &ctx, HKEY *phKey)
{
    *phKey = NULL;
    LONG lStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_ALL_ACCESS, phKey);
    LogStep(ctx, lStatus == ERROR_SUCCESS, "::RegOpenKeyEx([%s]) h x%x E %d %s", kUninstallKey,
            (unsigned)(ULONG_PTR)*phKey, lStatus, SysErrorText(lStatus).c_str());
    SetLastError(lStatus);
    return lStatus == ERROR_SUCCESS;
}

// Deletes the model's key under the open Uninstall key; one that is not
// there counts as deleted. The outcome is logged with the handle and left as
// the last error.
static BOOL DeleteModelKey(CInstallContext &ctx, HKEY hUninstall, const char *pszModel)
{
    LONG lStatus = RegDeleteKeyA(hUninstall, pszModel);
    BOOL bResult = lStatus == ERROR_SUCCESS || lStatus == ERROR_FILE_NOT_FOUND;
    LogStep(ctx, bResult, "::RegDeleteKey(x%x,[%s]) E %d %s", (unsigned)(ULONG_PTR)hUninstall, pszModel, lStatus,
            SysErrorText(lStatus).c_str());
    SetLastError(lStatus);
    return bResult;
}

/* Writes the model's entry under HKLM's Uninstall key: "DisplayName" the
 * model, "UninstallString" the working folder's program with its INF, the
 * model and "/uninstall" (composed in 256 bytes, never cut: a longer one
 * fails before anything is opened), and the values of WriteUninstallValues. Every key opened is closed. 1 when every
 * step succeeded, else 0 after its error line; a model key this call created
 * is then deleted again, so that no entry without its command is listed. */
BOOL CInstallContext::AddUninstallKey()
{
    char szUninstall[INF_PATH_MAX];
    if (!FormatUninstallString(*this, szUninstall, sizeof(szUninstall)))
        return FALSE;
    HKEY hUninstall;
    if (!OpenUninstallKey(*this, &hUninstall))
        return FALSE;

    HKEY hModel = NULL;
    DWORD dwDisposition = 0;
    LONG lStatus = RegCreateKeyExA(hUninstall, m_pPrinterName, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                   NULL, &hModel, &dwDisposition);
    LogStep(*this, lStatus == ERROR_SUCCESS, "::RegCreateKeyEx([%s]) h x%x E %d %s", m_pPrinterName,
            (unsigned)(ULONG_PTR)hModel, lStatus, SysErrorText(lStatus).c_str());
    BOOL bResult = lStatus == ERROR_SUCCESS;
    DWORD dwError = lStatus;
    if (bResult) {
        bResult = WriteUninstallValues(*this, hModel, szUninstall);
        dwError = GetLastError();
        if (!CloseUninstallKey(*this, hModel) && bResult) {
            bResult = FALSE;
            dwError = GetLastError();
        }
        // An entry that was there before keeps what it had; a new one that
        // could not be completed goes (a failed delete is one more error line).
        if (!bResult && dwDisposition == REG_CREATED_NEW_KEY)
            DeleteModelKey(*this, hUninstall, m_pPrinterName);
    }
    if (!CloseUninstallKey(*this, hUninstall) && bResult) {
        bResult = FALSE;
        dwError = GetLastError();
    }
    SetLastError(dwError);
    return bResult;
}

/* Whether the model has an entry under HKLM's Uninstall key, in *pbListed.
 * 1 when that could be read (the open and close logged), 0 after an error
 * line. */
BOOL CInstallContext::FindUninstallKey(BOOL *pbListed)
{
    *pbListed = FALSE;
    char szKey[INF_PATH_MAX];
    if (!FormatPath(*this, szKey, sizeof(szKey), "FindUninstallKey", "%s\\%s", kUninstallKey, LogStr(m_pPrinterName)))
        return FALSE;
    HKEY hKey = NULL;
    LONG lStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, szKey, 0, KEY_READ, &hKey);
    BOOL bRead = lStatus == ERROR_SUCCESS || lStatus == ERROR_FILE_NOT_FOUND;
    LogStep(*this, bRead, "::RegOpenKeyEx([%s]) h x%x E %d %s", szKey, (unsigned)(ULONG_PTR)hKey, lStatus,
            SysErrorText(lStatus).c_str());
    if (lStatus != ERROR_SUCCESS) {
        SetLastError(lStatus);
        return bRead;
    }
    *pbListed = TRUE;
    return CloseUninstallKey(*this, hKey);
}

/* Deletes the model's entry under HKLM's Uninstall key; an entry that is not
 * there counts as deleted. 1 when every step succeeded, else 0 after its
 * error line. */
BOOL CInstallContext::DelUninstallKey()
{
    if (!m_pPrinterName || !*m_pPrinterName) {
        LogErr("DelUninstallKey() m_pPrinterName\r\n");  // an empty name would delete the Uninstall key itself
        return FALSE;
    }
    HKEY hUninstall;
    if (!OpenUninstallKey(*this, &hUninstall))
        return FALSE;
    BOOL bResult = DeleteModelKey(*this, hUninstall, m_pPrinterName);
    DWORD dwError = GetLastError();
    if (!CloseUninstallKey(*this, hUninstall) && bResult) {
        bResult = FALSE;
        dwError = GetLastError();
    }
    SetLastError(dwError);
    return bResult;
}
