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
    std::string strProgram = CommandProgram(strCommand);
    if (!strProgram.empty() && GetFileAttributesA(strProgram.c_str()) != INVALID_FILE_ATTRIBUTES)
        return TRUE;
    ctx.LogDbg("PendingCommand() Not pending [%s]: its program is gone\r\n", strCommand.c_str());
    WriteText(ctx, kPendingKey, pszInfBase, NULL);
    strCommand.clear();
    return FALSE;
}

/* Writes the durable record of this INF's pending second phase (pszCommand,
 * the RunOnce command). FALSE after an error line. */
BOOL WritePendingCommand(CInstallContext &ctx, const char *pszCommand)
{
    return HasInfName(ctx, ctx.m_pInfBaseName) && WriteText(ctx, kPendingKey, ctx.m_pInfBaseName, pszCommand);
}

/* A second phase's first step: its RunOnce value and durable record are
 * written back (from the record, else from the line this program was
 * started with), so that whatever ends it before it has finished, it runs
 * again at the next start. A failure is logged and the phase goes on. */
void CInstallContext::KeepPhaseRegistered()
{
    if (!m_pInfBaseName && !SetInfDirBase())
        return;
    std::string strCommand;
    if (!ReadPendingCommand(*this, m_pInfBaseName, strCommand)) {
        strCommand = LogStr(m_pCommandLine);
        if (strCommand.size() >= INF_PATH_MAX || !WritePendingCommand(*this, strCommand.c_str()))
            return;
    }
    WriteText(*this, kRunOnceKey, m_pInfBaseName, strCommand.c_str());
}

/* A second phase has finished: its RunOnce value and durable record go.
 * FALSE after an error line when one could not be removed. */
BOOL CInstallContext::ClearPendingPhase()
{
    BOOL bRecord = HasInfName(*this, m_pInfBaseName) && WriteText(*this, kPendingKey, m_pInfBaseName, NULL);
    BOOL bRunOnce = WriteText(*this, kRunOnceKey, LogStr(m_pInfBaseName), NULL);
    LogDbg("Excecute() Finished: nothing of [%s] is pending\r\n", LogStr(m_pInfBaseName));
    return bRecord && bRunOnce;
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
    return bEnded ? dwCode : 1603;
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
 * other, each by the program and INF its first phase registered. The worst
 * exit code of them (0 when none is pending). After SetLogFileName. */
DWORD CInstallContext::FinishPendingPhases()
{
    HKEY hPending = NULL;
    LONG lStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPendingKey, 0, KEY_READ, &hPending);
    LogStep(*this, lStatus == ERROR_SUCCESS || lStatus == ERROR_FILE_NOT_FOUND, "::RegOpenKeyEx([%s]) E %d %s",
            kPendingKey, lStatus, SysErrorText(lStatus).c_str());
    if (lStatus != ERROR_SUCCESS)
        return lStatus == ERROR_FILE_NOT_FOUND ? 0 : 1603;
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
        dwResult = WorseCode(dwResult, RunPendingCommand(*this, strCommand));
    }
    LogDbg("Finish() exit code %d\r\n", dwResult);
    return dwResult;
}
