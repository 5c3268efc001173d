#include "quietrun.h"
#include "comsettings.h"
#include "enginedialogs.h"
#include "exitcodes.h"
#include "installcontext.h"
#include "splstr.h"
#include <string.h>

namespace {

// The engine's closing dialogs without a window: the restart question is
// answered Yes only when the command line said "/forcerestart", the USB
// notice is taken as read.
class CQuietEngineDialogs : public CEngineDialogs {
public:
    explicit CQuietEngineDialogs(BOOL bForceRestart) : m_bForceRestart(bForceRestart) {}
    int AskRestart() override { return m_bForceRestart ? IDOK : IDCANCEL; }
    int ShowPlugUsb(const char *, const char *) override { return IDOK; }

private:
    BOOL m_bForceRestart;
};

}  // namespace

// EXIT_DONE when the line names an INF, a model and one action (a port too
// for an install or reinstall) and nothing unknown; otherwise
// EXIT_BAD_COMMAND after an error line.
int CQuietRun::CheckCommand()
{
    int cActions = !!m_ctx.m_bInstall + !!m_ctx.m_bUninstall + !!m_ctx.m_bReinstall + !!m_ctx.m_bCopy;
    BOOL bNeedsPort = (m_ctx.m_bInstall || m_ctx.m_bReinstall) && !m_ctx.m_bRunOnce;
    const char *pszWhy = m_ctx.m_bUsage                               ? "/? shows no window in a quiet run"
                         : m_ctx.m_bBadCommand                        ? "unknown switch, /log without a path or too many arguments"
                         : !m_ctx.GetInfFileName()                    ? "no INF"
                         : !m_ctx.GetPrinterName()                    ? "no model"
                         : cActions != 1                              ? "not one of /Install, /Uninstall, /Reinstall, /Copy"
                         : bNeedsPort && !m_ctx.GetPortName()         ? "no port"
                                                                      : NULL;
    if (!pszWhy)
        return EXIT_DONE;
    m_ctx.LogErr("Quiet() bad command line: %s\r\n", pszWhy);
    return EXIT_BAD_COMMAND;
}

// The operation itself, as the main dialog's Start or the second phase runs
// it; a "/Copy" that could not copy every file fails, one that left a file in
// use for the restart needs it.
int CQuietRun::Execute()
{
    if (m_ctx.m_bCopy && !m_ctx.m_bRunOnce) {
        if (!m_ctx.SetupSysInfo() || !m_ctx.ParseInf())
            return EXIT_FAILED;
        if (!m_ctx.CopyInfFiles())
            return EXIT_FAILED;
        return m_ctx.m_bReplaceAtRestart ? EXIT_RESTART_NEEDED : EXIT_DONE;  // a file in use waits
    }
    if (!WriteComDefaults(TRUE))  // a port whose settings cannot be read: nothing changes
        return EXIT_FAILED;
    CQuietEngineDialogs dialogs(m_ctx.m_bForceRestart);
    BOOL bResult = m_ctx.RunOperation(&dialogs);
    if (!bResult && m_ctx.m_bRestartFailed)
        return EXIT_RESTART_NEEDED;  // done; the restart that finishes it did not start
    if (!bResult && m_ctx.m_bPendingRefused)
        return EXIT_PENDING;
    if (!bResult && m_ctx.m_bRestartPending && !m_ctx.m_bRunOnce) {
        // A first phase that failed after it registered its second phase:
        // the restart and that phase put back what it recorded, so the
        // deployment tool must restart (3010), not give up (1603).
        LogFailure();
        return EXIT_RESTART_NEEDED;
    }
    if (!bResult || !WriteComDefaults(FALSE))
        return EXIT_FAILED;
    if (m_ctx.m_bRestartStarted)
        return EXIT_RESTART_STARTED;
    return m_ctx.m_bRestartPending ? EXIT_RESTART_NEEDED : EXIT_DONE;
}

// "COM<digits>" with or without its colon: a serial port, not a network
// port whose host name begins with "COM".
static BOOL IsSerialPortName(const char *pszPort)
{
    if (!pszPort || StrNCmpI(pszPort, "COM", 3) || pszPort[3] < '0' || pszPort[3] > '9')
        return FALSE;
    const char *p = pszPort + 3;
    while (*p >= '0' && *p <= '9')
        p++;
    return !*p || !strcmp(p, ":");
}

// The serial step the dialog's Start runs after an install on a COM port:
// the model's "ComPortSettings" written into the port's default
// configuration. Not after an install that found the model installed (the
// settings there may be an administrator's own since). With bCheckOnly,
// before the install, only reads the configuration, so that a port without
// one fails the run before anything changes. FALSE after an error line.
BOOL CQuietRun::WriteComDefaults(BOOL bCheckOnly)
{
    const char *pszPort = m_ctx.GetPortName();
    if (!m_ctx.m_bInstall || m_ctx.m_bRunOnce || m_ctx.m_bAlreadyInstalled || !IsSerialPortName(pszPort))
        return TRUE;
    const char *pszSettings = m_ctx.GetComPortSettings();
    COMMCONFIG config;
    std::string strError;
    if (!SetComDefaults(pszPort, pszSettings, TRUE, TRUE, bCheckOnly, &config, &strError)) {
        m_ctx.LogErr(bCheckOnly ? "Quiet() the port's settings cannot be read, nothing changed: %s\r\n"
                                : "Quiet() the queue is installed, but the port's settings were not written: %s\r\n",
                     strError.c_str());
        return FALSE;
    }
    if (!bCheckOnly) {
        m_ctx.LogDbg("Quiet() port [%s] set to [%s]: %lu baud, %d data bits, parity %d, stop bits %d\r\n", pszPort,
                     LogStr(pszSettings), config.dcb.BaudRate, config.dcb.ByteSize, config.dcb.Parity,
                     config.dcb.StopBits);
    }
    return TRUE;
}

// What failed, summed up at the log's end. The note first: a long error text
// is cut at the line's end.
void CQuietRun::LogFailure()
{
    m_ctx.LogErr("Quiet() failed: %s%s\r\n",
                 m_ctx.m_bRestartPending ? "(a second phase is registered: a restart finishes it) " : "",
                 m_ctx.GetErrorText());
}

int CQuietRun::Run()
{
    int nCode = CheckCommand();
    if (nCode == EXIT_DONE)
        nCode = Execute();
    if (nCode == EXIT_PENDING && !m_ctx.m_strPendingCommand.empty())  // else another run was busy
        m_ctx.LogErr("Quiet() pending: [%s]\r\n", m_ctx.m_strPendingCommand.c_str());
    if (nCode == EXIT_FAILED)
        LogFailure();
    m_ctx.LogDbg("Quiet() exit code %d\r\n", nCode);
    return nCode;
}
