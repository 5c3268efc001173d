#include "installapp.h"
#include "exitcodes.h"
#include "installcontext.h"
#include "installdialog.h"
#include "modalenginedialogs.h"
#include "quietrun.h"
#include "splstr.h"

int CInstallApp::InitInstance()
{
    CInstallContext ctx;
    // A quiet run shows no box, even for a line that does not split: until
    // the line is split, "/quiet" is looked for as a word.
    BOOL bQuiet = CInstallContext::AsksQuiet(GetCommandLineA());
    // Runs with windows exit with 0 whatever happened, after their box.
    if (!ctx.SetLogFileName("kztdebug.txt")) {
        if (!bQuiet)
            ErrorBox("SetLogFileName");
        return bQuiet ? EXIT_FAILED : EXIT_DONE;
    }
    if (!ctx.ParseCommand()) {
        if (ctx.m_bLineSplit)
            bQuiet = ctx.m_bQuiet || ctx.m_bFinish;  // the line split, but its INF name did not resolve
        if (!bQuiet)
            ErrorBox(ctx.GetErrorText());
        return bQuiet ? EXIT_BAD_COMMAND : EXIT_DONE;
    }
    if (!ctx.m_strLogPath.empty() && !UseLogPath(ctx)) {
        // An unattended run whose log cannot be written does nothing: nobody
        // could tell what it did. A second phase still runs (into the default
        // log): refused, it would leave the machine half-installed.
        if ((ctx.m_bQuiet || ctx.m_bFinish) && !ctx.m_bRunOnce) {
            ctx.LogDbg("Quiet() exit code %d\r\n", EXIT_LOG_FAILED);
            return EXIT_LOG_FAILED;
        }
        ctx.m_strLogPath.clear();  // the second phase it registers logs to the default file too
    }
    ctx.LogSystemVersion();
    if (ctx.m_bUsage && !ctx.m_bQuiet && !ctx.m_bFinish)
        return ShowUsage();
    if (ctx.m_bFinish)
        return Finish(ctx);
    if (ctx.m_bQuiet) {
        CQuietRun run(ctx);
        return run.Run();
    }
    if (ctx.m_bRunOnce) {          // the second phase wins over "/Copy"
        RunSecondPhase(ctx);
    } else if (ctx.m_bCopy) {
        CopyFiles(ctx);
    } else {
        CInstallDialog dialog;
        dialog.DoModal(m_hInstance);
    }
    return EXIT_DONE;
}

// "/log path": the log goes to that file (relative to the current folder),
// created when missing, whatever the default log file says. FALSE, the log
// unchanged, when the file cannot be opened.
BOOL CInstallApp::UseLogPath(CInstallContext &ctx)
{
    char szPath[INF_PATH_MAX];
    DWORD cch = GetFullPathNameA(ctx.m_strLogPath.c_str(), sizeof(szPath), szPath, NULL);
    DWORD dwError = GetLastError();
    if (!cch || cch >= sizeof(szPath)) {
        ctx.LogErr("::GetFullPathName([%s]) R %d E %d %s", ctx.m_strLogPath.c_str(), cch, dwError,
                   SysErrorText(dwError).c_str());
        return FALSE;
    }
    HANDLE hFile = CreateFileA(szPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    dwError = GetLastError();
    if (hFile == INVALID_HANDLE_VALUE) {
        ctx.LogErr("::CreateFile([%s]) R 0 E %d %s", szPath, dwError, SysErrorText(dwError).c_str());
        SetLastError(dwError);
        return FALSE;
    }
    CloseHandle(hFile);
    char *pszLog = AllocSplStr(szPath);
    if (!pszLog) {
        ctx.LogErr("UseLogPath() m_pLogFileName\r\n");
        return FALSE;
    }
    FreeSplStr(ctx.m_pLogFileName);
    ctx.m_pLogFileName = pszLog;
    ctx.LogDbg("::CreateFile([%s]) R 1 E %d %s", szPath, dwError, SysErrorText(dwError).c_str());
    ctx.LogDbg("::GetCommandLine [%s]\r\n", GetCommandLineA());
    SetLastError(dwError);
    return TRUE;
}

// The second phase that Windows starts after the restart: INF, model and
// port from the command line, then the engine, whose restart question and
// USB notice have no owner. FALSE after the error box.
BOOL CInstallApp::RunSecondPhase(CInstallContext &ctx)
{
    CModalEngineDialogs dialogs(m_hInstance, NULL);
    BOOL bResult = ctx.RunOperation(&dialogs);
    if (!bResult)
        ErrorBox(ctx.GetErrorText());
    return bResult;
}

// "/Copy": the model's files to their directories, nothing else. A failed
// preparation shows its box; the copy's own result is not reported.
BOOL CInstallApp::CopyFiles(CInstallContext &ctx)
{
    if (!ctx.SetupSysInfo() || !ctx.ParseInf()) {
        ErrorBox(ctx.GetErrorText());
        return FALSE;
    }
    ctx.CopyInfFiles();
    return TRUE;
}

void CInstallApp::ErrorBox(const char *pszText) const
{
    MessageBoxA(NULL, pszText, g_szProgramName, MB_OK | MB_ICONHAND);
}

// "/finish": every second phase still pending on the machine, run quietly
// (a start-up script or deployment tool runs this as SYSTEM after the
// restart). Shows no window, with or without "/quiet"; the worst exit code
// of the phases, 0 when none was pending. With an install, uninstall or
// reinstall the operation runs next, quietly, so that one command line of a
// deployment tool also finishes what its last run left for the restart; its
// exit code is the answer. Not while a finished phase still waits for a
// restart (files in use): the operation would compare against the files
// about to go, and the answer is 3010. With "/Copy" or "/RunOnce" a bad
// command line.
int CInstallApp::Finish(CInstallContext &ctx)
{
    BOOL bOperation = ctx.m_bInstall || ctx.m_bUninstall || ctx.m_bReinstall;
    if (ctx.m_bCopy || ctx.m_bRunOnce || ctx.m_bBadCommand || ctx.m_bUsage) {
        ctx.LogErr("Finish() bad command line: an unknown switch, /Copy, /RunOnce or /? with /finish\r\n");
        ctx.LogDbg("Quiet() exit code %d\r\n", EXIT_BAD_COMMAND);
        return EXIT_BAD_COMMAND;
    }
    // Its own context: what the phases' checks report is not the operation's.
    CInstallContext finisher;
    finisher.m_pLogFileName = AllocSplStr(ctx.m_pLogFileName);
    finisher.m_strLogPath = ctx.m_strLogPath;
    int nCode = (int)finisher.FinishPendingPhases();
    if (bOperation && (nCode == EXIT_RESTART_NEEDED || nCode == EXIT_RESTART_STARTED)) {
        ctx.LogDbg("Finish() a finished phase waits for the restart: the operation runs after it\r\n");
        nCode = EXIT_RESTART_NEEDED;
    } else if (bOperation) {
        ctx.m_bQuiet = TRUE;
        CQuietRun run(ctx);
        return run.Run();  // its exit code line is the last
    }
    ctx.LogDbg("Quiet() exit code %d\r\n", nCode);
    return nCode;
}
