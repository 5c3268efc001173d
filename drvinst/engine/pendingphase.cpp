// The record of a pending second phase that outlives RunOnce. Windows runs
// HKLM RunOnce only when an administrator logs on, and removes the value
// before it starts the command: a second phase that dies, or that nobody
// logs on to start, would be forgotten. So a first phase also writes the
// command under "SOFTWARE\Ostrel\Pending", in a value named after the INF
// (as the RunOnce value is); a second phase
// writes both back before it does anything else and removes both only once
// it has finished; and "drvinst.exe /finish" (a start-up script or a
// deployment tool, as SYSTEM) runs every pending phase without a logon.
#include "restart.h"
#include "fixedtext.h"
#include "splstr.h"
#include "steplog.h"
#include <sddl.h>
#include <string>
#include <vector>

static const char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
static const char kPendingKey[] = "SOFTWARE\\Ostrel\\Pending";
static const REGSAM kWriteAccess = KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE;  // 0x2001F
static const DWORD kFinishWaitMs = 30 * 60 * 1000;  // one second phase, at most

// Reads a text value of HKLM\pszKey into strOut; FALSE when it is not there
// (or cannot be read: then after an error line). At most 255 characters.
static BOOL ReadText(CInstallContext &ctx, const char *pszKey, const char *pszValue, std::string &strOut)
{
    strOut.clear();
    HKEY hKey = NULL;
    LONG lStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, KEY_READ, &hKey);
    char szText[INF_PATH_MAX + 1] = "";  // one spare byte keeps unterminated data terminated
    if (lStatus == ERROR_SUCCESS) {
        DWORD cb = INF_PATH_MAX;
        lStatus = RegQueryValueExA(hKey, pszValue, NULL, NULL, (LPBYTE)szText, &cb);
        RegCloseKey(hKey);
        szText[lStatus == ERROR_SUCCESS && cb < INF_PATH_MAX ? cb : INF_PATH_MAX] = 0;
    }
    BOOL bMissing = lStatus == ERROR_FILE_NOT_FOUND;
    LogStep(ctx, lStatus == ERROR_SUCCESS || bMissing, "::RegQueryValueEx([%s],[%s]) [%s] E %d %s", pszKey, pszValue,
            szText, lStatus, SysErrorText(lStatus).c_str());
    if (lStatus != ERROR_SUCCESS)
        return FALSE;
    strOut = szText;
    return TRUE;
}

// Writes (pszText) or deletes (NULL; one not there counts as deleted) a text
// value of HKLM\pszKey, the key created when missing. FALSE after an error
// line that names the call that failed.
static BOOL WriteText(CInstallContext &ctx, const char *pszKey, const char *pszValue, const char *pszText)
{
    HKEY hKey = NULL;
    LONG lStatus = pszText ? RegCreateKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, NULL, REG_OPTION_NON_VOLATILE,
                                             kWriteAccess, NULL, &hKey, NULL)
                           : RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, kWriteAccess, &hKey);
    if (lStatus != ERROR_SUCCESS) {
        BOOL bGone = !pszText && lStatus == ERROR_FILE_NOT_FOUND;
        LogStep(ctx, bGone, pszText ? "::RegCreateKeyEx([%s]) E %d %s" : "::RegOpenKeyEx([%s]) E %d %s", pszKey,
                lStatus, SysErrorText(lStatus).c_str());
        SetLastError(lStatus);
        return bGone;
    }
    lStatus = pszText ? RegSetValueExA(hKey, pszValue, 0, REG_SZ, (const BYTE *)pszText, lstrlenA(pszText) + 1)
                      : RegDeleteValueA(hKey, pszValue);
    RegCloseKey(hKey);
    BOOL bDone = lStatus == ERROR_SUCCESS || (!pszText && lStatus == ERROR_FILE_NOT_FOUND);
    if (pszText)
        LogStep(ctx, bDone, "::RegSetValueEx([%s],[%s],[%s]) E %d %s", pszKey, pszValue, pszText, lStatus,
                SysErrorText(lStatus).c_str());
    else
        LogStep(ctx, bDone, "::RegDeleteValue([%s],[%s]) E %d %s", pszKey, pszValue, lStatus,
                SysErrorText(lStatus).c_str());
    SetLastError(lStatus);
    return bDone;
}

// The INF's name, the value's name; FALSE after an error line without one.
static BOOL HasInfName(CInstallContext &ctx, const char *pszInfBase)
{
    if (pszInfBase && *pszInfBase)
        return TRUE;
    ctx.LogErr("PendingCommand() m_pInfBaseName\r\n");
    return FALSE;
}

// The program a command starts: its first quoted field ("" without one).
static std::string CommandProgram(const std::string &strCommand)
{
    if (strCommand.size() < 2 || strCommand[0] != '"')
        return "";
    size_t nEnd = strCommand.find('"', 1);
    return nEnd == std::string::npos ? "" : strCommand.substr(1, nEnd - 1);
}

/* The pending command of the second phase of the INF named pszInfBase into
 * strCommand: the
 * durable record, TRUE when there is one. A record whose program is gone
 * can never run: it is removed ("PendingCommand() Not pending [...]") and
 * counts as none. FALSE also when the record cannot be read (error line). */
BOOL ReadPendingCommand(CInstallContext &ctx, const char *pszInfBase, std::string &strCommand)
{
    if (!HasInfName(ctx, pszInfBase) || !ReadText(ctx, kPendingKey, pszInfBase, strCommand))
        return FALSE;
    if (!CommandProgram(strCommand).empty() && CommandProgramExists(strCommand.c_str()))
        return TRUE;
    ctx.LogDbg("PendingCommand() Not pending [%s]: its program is gone\r\n", strCommand.c_str());
    WriteText(ctx, kPendingKey, pszInfBase, NULL);
    strCommand.clear();
    return FALSE;
}

// Creates "SOFTWARE\Ostrel\Pending" when it is missing, with an access list
// of its own: what /finish runs as SYSTEM only administrators may write.
// FALSE after an error line.
static BOOL CreatePendingKey(CInstallContext &ctx)
{
    SECURITY_ATTRIBUTES sa = {sizeof(sa), NULL, FALSE};
    if (ctx.m_bWinNT && !ConvertStringSecurityDescriptorToSecurityDescriptorA(
                            "D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)", SDDL_REVISION_1, &sa.lpSecurityDescriptor,
                            NULL)) {
        DWORD dwError = GetLastError();
        ctx.LogErr("::ConvertStringSecurityDescriptorToSecurityDescriptor R 0 E %d %s", dwError,
                   SysErrorText(dwError).c_str());
        return FALSE;
    }
    HKEY hKey = NULL;
    LONG lStatus = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPendingKey, 0, NULL, REG_OPTION_NON_VOLATILE, kWriteAccess,
                                   sa.lpSecurityDescriptor ? &sa : NULL, &hKey, NULL);
    if (sa.lpSecurityDescriptor)
        LocalFree(sa.lpSecurityDescriptor);
    LogStep(ctx, lStatus == ERROR_SUCCESS, "::RegCreateKeyEx([%s]) E %d %s", kPendingKey, lStatus,
            SysErrorText(lStatus).c_str());
    if (hKey)
        RegCloseKey(hKey);
    return lStatus == ERROR_SUCCESS;
}

/* Writes the durable record of this INF's pending second phase (pszCommand,
 * the RunOnce command), or deletes it (NULL; the key stays, so that no
 * other INF's record written meanwhile goes with it). FALSE after an error
 * line. */
BOOL WritePendingCommand(CInstallContext &ctx, const char *pszCommand)
{
    return HasInfName(ctx, ctx.m_pInfBaseName) && (!pszCommand || CreatePendingKey(ctx)) &&
           WriteText(ctx, kPendingKey, ctx.m_pInfBaseName, pszCommand);
}

/* TRUE unless the program a command starts (its first quoted field) is
 * surely gone: such a command can never run. */
BOOL CommandProgramExists(const char *pszCommand)
{
    std::string strProgram = CommandProgram(pszCommand ? pszCommand : "");
    if (strProgram.empty())
        return TRUE;
    DWORD dwAttr = GetFileAttributesA(strProgram.c_str());
    DWORD dwError = GetLastError();
    return dwAttr != INVALID_FILE_ATTRIBUTES || (dwError != ERROR_FILE_NOT_FOUND && dwError != ERROR_PATH_NOT_FOUND);
}

/* A second phase's first step: its RunOnce value is written back from its
 * durable record, so that whatever ends it before it has finished, it runs
 * again at the next start. Without a record nothing is written: the phase
 * has finished already (another run of it, such as /finish, was quicker),
 * or an earlier version registered it. A failure is logged and the phase
 * goes on. */
void CInstallContext::KeepPhaseRegistered()
{
    if (!m_pInfBaseName && !SetInfDirBase())
        return;
    std::string strCommand;
    if (!ReadPendingCommand(*this, m_pInfBaseName, strCommand)) {
        LogDbg("KeepPhaseRegistered() [%s]: no pending record\r\n", LogStr(m_pInfBaseName));
        return;
    }
    WriteText(*this, kRunOnceKey, m_pInfBaseName, strCommand.c_str());
}

/* A second phase has finished: its RunOnce value and durable record go.
 * FALSE after an error line when one could not be removed. */
BOOL CInstallContext::ClearPendingPhase()
{
    // RunOnce first: a record left alone is found again by /finish and by
    // every operation of the INF, a RunOnce value left alone only at a logon.
    BOOL bRunOnce = HasInfName(*this, m_pInfBaseName) && WriteText(*this, kRunOnceKey, m_pInfBaseName, NULL);
    BOOL bRecord = bRunOnce && WritePendingCommand(*this, NULL);
    LogDbg("Excecute() Finished: nothing of [%s] is pending\r\n", LogStr(m_pInfBaseName));
    return bRecord && bRunOnce;
}

// The quoted field nField (0 the program, 1 the INF) of a command, "" without one.
static std::string QuotedField(const std::string &strCommand, int nField)
{
    size_t nAt = 0;
    for (int i = 0;; i++) {
        size_t nOpen = strCommand.find('"', nAt);
        size_t nClose = nOpen == std::string::npos ? nOpen : strCommand.find('"', nOpen + 1);
        if (nClose == std::string::npos)
            return "";
        if (i == nField)
            return strCommand.substr(nOpen + 1, nClose - nOpen - 1);
        nAt = nClose + 1;
    }
}

// A pending command /finish may run as SYSTEM: a program directly in the
// machine's working folder of the INF named pszInf, with that folder's copy
// of the INF, the folder checked (CheckMachineFolder). FALSE after an error
// line otherwise: a record is data another program could have written.
static BOOL IsMachineCommand(CInstallContext &ctx, const char *pszInf, const std::string &strCommand)
{
    char szPrograms[INF_PATH_MAX];
    if (!ctx.ReadProgramsDir(szPrograms, sizeof(szPrograms)))
        return FALSE;
    if (FindCharA(pszInf, '\\') || FindCharA(pszInf, '/') || FindCharA(pszInf, ':') || StrStrI(pszInf, "..")) {
        ctx.LogErr("Finish() [%s]: no INF name, not run\r\n", pszInf);
        return FALSE;
    }
    std::string strFolder = std::string(szPrograms) + "\\Ostrel\\Ostrel" + pszInf;
    std::string strProgram = QuotedField(strCommand, 0), strInf = QuotedField(strCommand, 1);
    BOOL bOurs = strProgram.size() > strFolder.size() + 1 &&
                 !StrNCmpI(strProgram.c_str(), (strFolder + "\\").c_str(), (int)strFolder.size() + 1) &&
                 !FindCharA(strProgram.c_str() + strFolder.size() + 1, '\\') &&
                 !StrCmpI(strInf.c_str(), (strFolder + "\\" + pszInf).c_str());
    if (!bOurs) {
        ctx.LogErr("Finish() [%s]: not the installer of the machine's folder [%s], not run\r\n", strCommand.c_str(),
                   strFolder.c_str());
        return FALSE;
    }
    return ctx.CheckMachineFolder((std::string(szPrograms) + "\\Ostrel").c_str()) &&
           ctx.CheckMachineFolder(strFolder.c_str());
}

// Runs one pending command quietly (and with the caller's log file) and
// waits for it, at most kFinishWaitMs. Its exit code, or 1603 when it could
// not be started or did not end in time.
static DWORD RunPendingCommand(CInstallContext &ctx, const std::string &strPending)
{
    std::string strCommand = strPending;
    if (!CInstallContext::AsksQuiet(strCommand.c_str()))
        strCommand += " /quiet";
    if (!ctx.m_strLogPath.empty() && ctx.m_pLogFileName)
        strCommand += std::string(" /log \"") + ctx.m_pLogFileName + "\"";
    std::vector<char> line(strCommand.begin(), strCommand.end());
    line.push_back(0);
    STARTUPINFOA si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    BOOL bStarted = CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi);
    DWORD dwError = CallError(bStarted);
    LogStep(ctx, bStarted, "::CreateProcess([%s]) R %d E %d %s", strCommand.c_str(), bStarted, dwError,
            SysErrorText(dwError).c_str());
    if (!bStarted)
        return 1603;
    CloseHandle(pi.hThread);
    DWORD dwWait = WaitForSingleObject(pi.hProcess, kFinishWaitMs);
    DWORD dwCode = 1603;
    BOOL bEnded = dwWait == WAIT_OBJECT_0 && GetExitCodeProcess(pi.hProcess, &dwCode);
    dwError = CallError(bEnded);
    CloseHandle(pi.hProcess);
    LogStep(ctx, bEnded, "Finish() [%s] ended with %d (wait %d) E %d %s", strPending.c_str(), bEnded ? dwCode : 0,
            dwWait, dwError, SysErrorText(dwError).c_str());
    if (!bEnded)
        return 1603;
    // A code of the installer's own, or a failure (a crash's status) otherwise.
    for (DWORD dwKnown : {0u, 1603u, 1618u, 1622u, 1639u, 1641u, 3010u}) {
        if (dwCode == dwKnown)
            return dwCode;
    }
    return 1603;
}

// The worse of two exit codes of pending phases: a failure (1603 or any
// other) over busy (1618) over a restart (3010, 1641) over done (0).
static DWORD WorseCode(DWORD dwA, DWORD dwB)
{
    auto rank = [](DWORD dw) { return dw == 0 ? 0 : dw == 3010 || dw == 1641 ? 1 : dw == 1618 ? 2 : 3; };
    return rank(dwB) > rank(dwA) ? dwB : dwA;
}

/* "/finish": every pending second phase on the machine (the durable records
 * under "SOFTWARE\Ostrel\Pending", one per INF) is run quietly, one after the
 * other, each by the program and INF its first phase registered, when they
 * lie in the machine's checked working folder of that INF (IsMachineCommand). The worst
 * exit code of them (0 when none is pending). After SetLogFileName. */
DWORD CInstallContext::FinishPendingPhases()
{
    m_bWinNT = (GetVersion() & 0x80000000) == 0;  // the folder check needs it; no SetupSysInfo here
    HKEY hPending = NULL;
    LONG lStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPendingKey, 0, KEY_READ, &hPending);
    LogStep(*this, lStatus == ERROR_SUCCESS || lStatus == ERROR_FILE_NOT_FOUND, "::RegOpenKeyEx([%s]) E %d %s",
            kPendingKey, lStatus, SysErrorText(lStatus).c_str());
    if (lStatus != ERROR_SUCCESS) {
        DWORD dwNone = lStatus == ERROR_FILE_NOT_FOUND ? 0 : 1603;  // no key: nothing pending
        LogDbg("Finish() exit code %d\r\n", dwNone);
        return dwNone;
    }
    std::vector<std::string> infs;
    char szName[INF_PATH_MAX];
    for (DWORD i = 0;; i++) {
        DWORD cch = sizeof(szName);
        lStatus = RegEnumValueA(hPending, i, szName, &cch, NULL, NULL, NULL, NULL);
        if (lStatus != ERROR_SUCCESS)
            break;
        infs.push_back(szName);
    }
    RegCloseKey(hPending);
    LogStep(*this, lStatus == ERROR_NO_MORE_ITEMS, "::RegEnumValue([%s]) E %d %s", kPendingKey, lStatus,
            SysErrorText(lStatus).c_str());
    DWORD dwResult = lStatus == ERROR_NO_MORE_ITEMS ? 0 : 1603;
    for (const std::string &inf : infs) {
        std::string strCommand;
        if (!ReadPendingCommand(*this, inf.c_str(), strCommand))
            continue;
        LogDbg("Finish() Pending [%s] of [%s]\r\n", strCommand.c_str(), inf.c_str());
        if (!IsMachineCommand(*this, inf.c_str(), strCommand)) {
            dwResult = WorseCode(dwResult, 1603);
            continue;
        }
        dwResult = WorseCode(dwResult, RunPendingCommand(*this, strCommand));
    }
    LogDbg("Finish() exit code %d\r\n", dwResult);
    return dwResult;
}
