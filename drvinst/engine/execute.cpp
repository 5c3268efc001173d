// The execution sequence of an install, an uninstall or a reinstall: the
// blocks the mode flags select, the nested contexts that act for each
// recorded queue, the removal of the print processor and language monitor
// once no driver uses them, and the rule that keeps queues off the generic
// USB port.
#include "installcontext.h"
#include "enginedialogs.h"
#include "restart.h"
#include "splstr.h"
#include <string.h>

/* A name that begins with "USB" (any case) is the choice for a printer not
 * plugged in yet, unless it is "USB" and three digits: a real port. */
BOOL CInstallContext::IsGenericUsbPort(const char *pszPort)
{
    if (!pszPort || StrNCmpI(pszPort, "USB", 3))
        return FALSE;
    if (lstrlenA(pszPort) != 6)
        return TRUE;
    for (int i = 3; i < 6; i++) {
        if (pszPort[i] < '0' || pszPort[i] > '9')
            return TRUE;
    }
    return FALSE;
}

// Readies a nested context for one driver (in a reinstall's second phase also
// for one recorded port and queue name): the log file, the outer context's
// INF, the names, then SetupSysInfo, ParseInf and SetupSplInfo. Its mode
// flags stay 0, so its files come from the INF's own folder. FALSE when a
// step fails (its text is in the nested context's m_strError).
static BOOL PrepareNested(const CInstallContext &outer, CInstallContext &nested, const char *pszDriver,
                          const char *pszPort = NULL, const char *pszQueue = NULL)
{
    nested.SetLogFileName("kztdebug.txt");  // without it the nested steps log nothing; errors still count
    nested.SetInfFileName(outer.m_pInfFileName);
    nested.SetPrinterName(pszDriver);
    if (pszPort)
        nested.SetPortName(pszPort);
    if (pszQueue)
        nested.SetQueueName(pszQueue);
    return nested.SetupSysInfo() && nested.ParseInf() && nested.SetupSplInfo();
}

// A nested context failed: its error text replaces the outer one, which the
// user is shown. Always FALSE.
static BOOL TakeNestedError(CInstallContext &outer, const CInstallContext &nested)
{
    outer.m_strError = nested.m_strError;
    return FALSE;
}

// Removes the print processor, then the language monitor, when no installed
// driver names its file any more. FALSE when the spooler's drivers cannot be
// listed or the print processor cannot be removed.
static BOOL RemoveOrphans(CInstallContext &ctx)
{
    if (!ctx.EnumDrv())
        return FALSE;
    char szDriver[INF_PATH_MAX];
    if (ctx.m_PrnProcInfo.pDLLName && !ctx.FindUsingDriver(ctx.m_PrnProcInfo.pDLLName, szDriver) &&
        !ctx.DelProc())
        return FALSE;
    if (ctx.m_MonitorInfo2.pDLLName && !ctx.FindUsingDriver(ctx.m_MonitorInfo2.pDLLName, szDriver))
        ctx.DelMon();  // a monitor that stays is no failure
    return TRUE;
}

// A first phase ends by registering its second phase, an install by writing
// its Uninstall entry: a command that cannot be composed must stop the
// operation before it removes or adds anything, not half-way. Each is
// composed here only to be checked (with its ERR line when it fails) and
// composed again where it is written.
static BOOL RunOnceCommandFits(CInstallContext &ctx)
{
    char szCommand[INF_PATH_MAX];
    return FormatRunOnceCommand(ctx, szCommand, sizeof(szCommand));
}

static BOOL UninstallStringFits(CInstallContext &ctx)
{
    char szCommand[INF_PATH_MAX];
    return FormatUninstallString(ctx, szCommand, sizeof(szCommand));
}

// The end of a first phase: the second phase registered under RunOnce, then
// the restart question when the program gave its dialogs; Yes restarts.
// FALSE when the registration or the restart fails.
static BOOL EndFirstPhase(CInstallContext &ctx)
{
    if (!ctx.AddRunOnce())
        return FALSE;
    ctx.m_bRestartPending = TRUE;
    if (!ctx.m_pDialogs)
        return TRUE;  // nobody to ask: the second phase waits for the next start
    int nAnswer = ctx.m_pDialogs->AskRestart();
    if (nAnswer == IDOK) {
        if (!ctx.RestartWindows())
            return FALSE;
        ctx.m_bRestartStarted = TRUE;
    }
    ctx.m_bDialogShown = nAnswer != -1;  // a question that could not be shown was not asked
    return TRUE;
}

// Reinstall, first phase: the second phase's command is checked, the queues
// that use the driver file are recorded, then each recorded driver's
// registry lines, queues, driver and USB entry are removed through a nested
// context.
static BOOL ReinstallFirstPhase(CInstallContext &ctx)
{
    if (!RunOnceCommandFits(ctx) || !ctx.CopyToTemp() || !ctx.ListDrvingLink() || !ctx.SaveDrvingLink())
        return FALSE;
    for (const DrvingLink *p = ctx.m_pDrvingLink; p; p = p->pNext) {
        CInstallContext nested;
        if (!PrepareNested(ctx, nested, p->pDriverName) || !nested.DelReg() || !nested.DelPrn() ||
            !nested.DelDrv() || !nested.DelRegUsbPrint())
            return TakeNestedError(ctx, nested);
    }
    if (!ctx.m_bWinNT && !RemoveOrphans(ctx))
        return FALSE;
    return EndFirstPhase(ctx);
}

// Reinstall, second phase: the recorded drivers' files are removed, the
// model's queue joins the records unless one has its driver and port, and
// every record gets its components, its queue and registry lines again.
static BOOL ReinstallSecondPhase(CInstallContext &ctx)
{
    if (ctx.m_bWinNT && !RemoveOrphans(ctx))
        return FALSE;
    if (!ctx.LoadDrvingLink())
        return FALSE;
    const char *pszPort = ctx.m_pPortName ? ctx.m_pPortName : "";
    BOOL bRecorded = FALSE;
    for (const DrvingLink *p = ctx.m_pDrvingLink; p; p = p->pNext) {
        CInstallContext nested;
        if (!PrepareNested(ctx, nested, p->pDriverName) || !nested.DelFiles())
            return TakeNestedError(ctx, nested);
        if (!StrCmpI(p->pDriverName, LogStr(ctx.m_pPrinterName)) && !StrNCmpI(p->pPortName, pszPort, strlen(pszPort)))
            bRecorded = TRUE;
    }
    ctx.LogDbg("Excecute() Reinstall Driver:[%s] Port:[%s] %s\r\n", LogStr(ctx.m_pPrinterName),
               LogStr(ctx.m_pPortName), bRecorded ? "is not added" : "is added");
    if (!bRecorded && !ctx.AddDrvingLink(ctx.m_pPrinterName, ctx.m_pPortName, ctx.m_pPrinterName)) {
        ctx.LogErr("Excecute() AddDrvingLink\r\n");
        return FALSE;
    }
    for (const DrvingLink *p = ctx.m_pDrvingLink; p; p = p->pNext) {
        CInstallContext nested;
        if (!PrepareNested(ctx, nested, p->pDriverName, p->pPortName, p->pPrinterName))
            return TakeNestedError(ctx, nested);
        nested.CopyInfFiles();  // a file that did not copy stops nothing
        if (!nested.AddMon() || !nested.AddProc() || !nested.AddDrv())
            return TakeNestedError(ctx, nested);
        if (!CInstallContext::IsGenericUsbPort(p->pPortName) && (!nested.AddQueue() || !nested.AddReg()))
            return TakeNestedError(ctx, nested);
    }
    return ctx.AddRegLptEnum();
}

// Uninstall, first phase: once the second phase's command is known to fit,
// the model's registry lines, queues, driver and USB entry go.
static BOOL UninstallFirstPhase(CInstallContext &ctx)
{
    if (!RunOnceCommandFits(ctx) || !ctx.CopyToTemp() || !ctx.DelReg() || !ctx.DelPrn() || !ctx.DelDrv() ||
        !ctx.DelRegUsbPrint())
        return FALSE;
    if (!ctx.m_bWinNT && !RemoveOrphans(ctx))
        return FALSE;
    return EndFirstPhase(ctx);
}

// Uninstall, second phase: the files, the system's INF copies and the entry in
// the list of installed software go.
static BOOL UninstallSecondPhase(CInstallContext &ctx)
{
    if (ctx.m_bWinNT && !RemoveOrphans(ctx))
        return FALSE;
    {
        CInstallContext nested;
        if (!PrepareNested(ctx, nested, ctx.m_pPrinterName) || !nested.DelFiles())
            return TakeNestedError(ctx, nested);
    }
    return ctx.DelOemInf() && ctx.DelUninstallKey();
}

// Install: the Uninstall entry's command checked, then files, components,
// and a queue with its registry lines and parallel-port entries unless the
// port is the generic USB one (then the USB notice); the entry in the list
// of installed software decides.
static BOOL Install(CInstallContext &ctx)
{
    if (!UninstallStringFits(ctx) || !ctx.CopyToTemp())
        return FALSE;
    ctx.CopyInfFiles();  // a file that did not copy stops nothing
    if (!ctx.AddMon() || !ctx.AddProc() || !ctx.AddDrv())
        return FALSE;
    if (!CInstallContext::IsGenericUsbPort(ctx.m_pPortName)) {
        if (!ctx.AddQueue() || !ctx.AddReg() || !ctx.AddRegLptEnum())
            return FALSE;
    } else if (ctx.m_pDialogs) {
        // Its answer changes nothing; a notice that could not be shown leaves
        // the caller's completion dialog to say it.
        ctx.m_bDialogShown = ctx.m_pDialogs->ShowPlugUsb(ctx.m_pPrinterName, ctx.m_pPortName) != -1;
    }
    return ctx.AddUninstallKey();
}

/* Runs the blocks the mode flags select, in this order: the install check
 * (different files installed turn an install into a reinstall), reinstall
 * first and second phase, uninstall first and second phase, install. 1 when
 * all ran; 0 at the first failing step, nothing undone, m_strError telling
 * why. A first phase sets m_bDialogShown when it asked about the restart. */
BOOL CInstallContext::Excecute()
{
    if (m_bInstall && !m_bRunOnce) {
        if (!EnumDrv())
            return FALSE;
        char szDriver[INF_PATH_MAX];
        if (DiffDriverFiles(szDriver)) {  // other files installed: the install becomes a reinstall
            m_bInstall = FALSE;
            m_bReinstall = TRUE;
        }
    }
    if (m_bReinstall && !m_bRunOnce && !ReinstallFirstPhase(*this))
        return FALSE;
    if (m_bReinstall && m_bRunOnce && !ReinstallSecondPhase(*this))
        return FALSE;
    if (m_bUninstall && !m_bRunOnce && !UninstallFirstPhase(*this))
        return FALSE;
    if (m_bUninstall && m_bRunOnce && !UninstallSecondPhase(*this))
        return FALSE;
    if (!m_bInstall)
        return TRUE;
    return Install(*this);
}
