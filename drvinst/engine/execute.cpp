// The execution sequence of an install, an uninstall or a reinstall: the
// blocks the mode flags select, the nested contexts that act for each
// recorded queue, the removal of the print processor and language monitor
// once no driver uses them, and the rule that keeps queues off the generic
// USB port. A first phase checks all it needs before it removes anything; a
// second phase does all it can and stays registered when it could not
// finish; an operation never starts while a second phase of its INF waits.
#include "installcontext.h"
#include "enginedialogs.h"
#include "inflock.h"
#include "modellist.h"
#include "queuesettings.h"
#include "restart.h"
#include "spooler.h"
#include "splstr.h"
#include <memory>
#include <string.h>
#include <string>
#include <vector>

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
// for one recorded port and queue name): the outer context's log file and
// INF, the names, then SetupSysInfo, ParseInf and SetupSplInfo. Its mode
// flags stay 0, so its files come from the INF's own folder. FALSE when a
// step fails or wrote an error line (a missing section, a file list that
// cannot be read: the model's parse is incomplete); the text is in the nested
// context's m_strError.
static BOOL PrepareNested(const CInstallContext &outer, CInstallContext &nested, const char *pszDriver,
                          const char *pszPort = NULL, const char *pszQueue = NULL)
{
    // The outer run's log file ("/log" or the default): every line of the
    // run in one place.
    FreeSplStr(nested.m_pLogFileName);
    nested.m_pLogFileName = AllocSplStr(outer.m_pLogFileName);
    nested.SetInfFileName(outer.m_pInfFileName);
    nested.SetPrinterName(pszDriver);
    if (pszPort)
        nested.SetPortName(pszPort);
    if (pszQueue)
        nested.SetQueueName(pszQueue);
    return nested.SetupSysInfo() && nested.ParseInf() && nested.SetupSplInfo() && nested.m_strError.empty();
}

// A nested context failed: its error text replaces the outer one, which the
// user is shown. Always FALSE.
static BOOL TakeNestedError(CInstallContext &outer, const CInstallContext &nested)
{
    outer.m_strError = nested.m_strError;
    return FALSE;
}

// A nested step of a second phase failed: its text joins the outer one and
// the phase goes on with the next record. Always FALSE.
static BOOL AddNestedError(CInstallContext &outer, const CInstallContext &nested)
{
    outer.m_strError += nested.m_strError;
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

// The second phase registered under RunOnce: from now on it runs at the next
// start. FALSE when the registration fails.
static BOOL RegisterSecondPhase(CInstallContext &ctx)
{
    if (!ctx.AddRunOnce())
        return FALSE;
    ctx.m_bRestartPending = TRUE;
    return TRUE;
}

// The restart question when the program gave its dialogs; Yes restarts.
// FALSE when the restart fails (m_bRestartFailed: all else was done).
static BOOL AskForRestart(CInstallContext &ctx)
{
    ctx.m_bRestartPending = TRUE;
    if (!ctx.m_pDialogs)
        return TRUE;  // nobody to ask: the work waits for the next start
    int nAnswer = ctx.m_pDialogs->AskRestart();
    if (nAnswer == IDOK) {
        if (!ctx.RestartWindows()) {
            ctx.m_bRestartFailed = TRUE;  // the work itself is done
            return FALSE;
        }
        ctx.m_bRestartStarted = TRUE;
    }
    ctx.m_bDialogShown = nAnswer != -1;  // a question that could not be shown was not asked
    return TRUE;
}

// A second phase that could not do everything registers itself again, so
// that the next start retries it with the same records, and says so. Always
// FALSE (the text of what failed is in m_strError).
static BOOL RetryAtNextStart(CInstallContext &ctx)
{
    ctx.LogErr("Excecute() Incomplete: it runs again at the next start\r\n");
    std::string strRecord;
    if (ReadPendingCommand(ctx, ctx.m_pInfBaseName, strRecord)) {
        ctx.KeepPhaseRegistered();  // its first phase's command, not this run's (which /finish made quiet)
        ctx.m_bRestartPending = TRUE;
    } else {
        RegisterSecondPhase(ctx);
    }
    return FALSE;
}

// The records of a reinstall: the queues whose driver has this model's driver
// file and is a model of this INF (queues of other drivers stay as they are,
// even when they share the file name), and each such driver that no queue
// uses, as a record on the generic "USB" port (driver only), so that the
// second phase puts it back with the new files. FALSE after an error line.
static BOOL ListReinstallRecords(CInstallContext &ctx, const std::vector<std::string> &models)
{
    if (!ctx.ListDrvingLink())
        return FALSE;
    for (DrvingLink **pp = &ctx.m_pDrvingLink; *pp;) {
        DrvingLink *p = *pp;
        if (IsInfModel(models, p->pDriverName)) {
            pp = &p->pNext;
            continue;
        }
        ctx.LogDbg("Excecute() Not of this INF [%s] [%s]\r\n", p->pPrinterName, p->pDriverName);
        *pp = p->pNext;
        FreeSplStr(p->pPrinterName);
        FreeSplStr(p->pPortName);
        FreeSplStr(p->pDriverName);
        FreeSplMem(p);
    }
    const DRIVER_INFO_3A *pDrivers = (const DRIVER_INFO_3A *)ctx.m_pEnumDrv3;
    for (DWORD i = 0; i < ctx.m_cEnumDrv3; i++) {
        const DRIVER_INFO_3A &driver = pDrivers[i];
        if (!driver.pName || !driver.pDriverPath || !IsInfModel(models, driver.pName))
            continue;
        const char *pszFile = FindLastCharA(driver.pDriverPath, '\\');
        if (!SameName(pszFile ? pszFile + 1 : driver.pDriverPath, ctx.m_DriverInfo3.pDriverPath))
            continue;
        BOOL bQueued = FALSE;
        for (const DrvingLink *p = ctx.m_pDrvingLink; p && !bQueued; p = p->pNext)
            bQueued = SameName(p->pDriverName, driver.pName);
        if (!bQueued && !ctx.AddDrvingLink(driver.pName, "USB", driver.pName))
            return FALSE;
    }
    return TRUE;
}

// TRUE, after an error line and with m_bPendingRefused (1618 when quiet),
// when a queue of the current m_pEnumPrn2 that uses pszDriver (or, with
// pRecords, one of the recorded queues) still has jobs: deleted now, the
// spooler would only mark it for deletion, and the jobs would be lost with
// it. Nothing has changed yet; the run may be repeated once they printed.
static BOOL QueueHasJobs(CInstallContext &ctx, const char *pszDriver, const DrvingLink *pRecords)
{
    const PRINTER_INFO_2A *pQueues = (const PRINTER_INFO_2A *)ctx.m_pEnumPrn2;
    for (DWORD i = 0; i < ctx.m_cEnumPrn2; i++) {
        const PRINTER_INFO_2A &queue = pQueues[i];
        BOOL bOurs = pszDriver && SameName(queue.pDriverName, pszDriver);
        for (const DrvingLink *p = pRecords; p && !bOurs; p = p->pNext)
            bOurs = SameName(queue.pPrinterName, p->pPrinterName);
        if (!bOurs || (!queue.cJobs && !(queue.Status & PRINTER_STATUS_PENDING_DELETION)))
            continue;
        ctx.LogErr("Excecute() Busy [%s]: the queue has %d jobs; nothing changed, run again once they have "
                   "printed\r\n",
                   LogStr(queue.pPrinterName), queue.cJobs);
        ctx.m_bPendingRefused = TRUE;
        return TRUE;
    }
    return FALSE;
}

// Reinstall, first phase. Everything it needs is checked before anything
// goes: the second phase's command and the Uninstall entry's, the working
// folder with the package, the records, and a nested context for each
// recorded driver. The records are saved and the second phase registered
// next, so that from then on no failure can lose a queue: the second phase
// puts back what the removal took. Then each recorded driver's registry
// lines, queues, driver and USB entry go.
static BOOL ReinstallFirstPhase(CInstallContext &ctx)
{
    std::vector<std::string> models;
    if (!RunOnceCommandFits(ctx) || !UninstallStringFits(ctx) || !ctx.CheckPackageFiles() ||
        !ctx.FindInfPrinters(models) || !ListReinstallRecords(ctx, models) || QueueHasJobs(ctx, NULL, ctx.m_pDrvingLink))
        return FALSE;
    std::vector<std::unique_ptr<CInstallContext>> nested;
    for (const DrvingLink *p = ctx.m_pDrvingLink; p; p = p->pNext) {
        nested.emplace_back(new CInstallContext);
        if (!PrepareNested(ctx, *nested.back(), p->pDriverName) || !nested.back()->CheckPackageFiles())
            return TakeNestedError(ctx, *nested.back());
    }
    // The package goes into the working folder (also the Uninstall entry's
    // copy) only once nothing can refuse the run any more.
    if (!ctx.CopyToWorkingFolder())
        return FALSE;
    if (!ctx.SaveDrvingLink() || !RegisterSecondPhase(ctx))
        return FALSE;
    for (const std::unique_ptr<CInstallContext> &pNested : nested) {
        if (!pNested->DelPrn() || !pNested->DelReg() || !pNested->DelDrv() || !pNested->DelRegUsbPrint())
            return TakeNestedError(ctx, *pNested);
    }
    if (!ctx.m_bWinNT && !RemoveOrphans(ctx))
        return FALSE;
    return AskForRestart(ctx);
}

// The recorded queue is there already (a second phase that runs again): a
// queue of the record's driver on its port, named as recorded or, for a
// queue the phase added under a taken name, "<name> (<number>)"; its name
// into strQueue. A queue marked for deletion (it still had jobs) is gone.
static BOOL RecordedQueueThere(CInstallContext &nested, const DrvingLink &record, std::string &strQueue)
{
    if (!nested.EnumPrn())
        return FALSE;
    size_t cchName = strlen(record.pPrinterName);
    const PRINTER_INFO_2A *pQueues = (const PRINTER_INFO_2A *)nested.m_pEnumPrn2;
    auto isOurs = [&](const PRINTER_INFO_2A &queue) {
        return SameName(queue.pDriverName, record.pDriverName) && SameName(queue.pPortName, record.pPortName) &&
               !(queue.Status & PRINTER_STATUS_PENDING_DELETION);
    };
    // The recorded name itself; a numbered one only while another queue
    // holds that name (AddQueue took the number then): otherwise "<name> (1)"
    // is a queue of its own, such as a second install made.
    BOOL bNameTaken = FALSE;
    for (DWORD i = 0; i < nested.m_cEnumPrn2; i++) {
        if (!pQueues[i].pPrinterName || StrCmpI(pQueues[i].pPrinterName, record.pPrinterName))
            continue;
        if (isOurs(pQueues[i])) {
            strQueue = pQueues[i].pPrinterName;
            return TRUE;
        }
        bNameTaken = TRUE;
    }
    for (DWORD i = 0; bNameTaken && i < nested.m_cEnumPrn2; i++) {
        const PRINTER_INFO_2A &queue = pQueues[i];
        if (!queue.pPrinterName || !isOurs(queue) || StrNCmpI(queue.pPrinterName, record.pPrinterName, cchName))
            continue;
        // Only "<name> (<digits>)": "<name> (Office)" is another queue.
        const char *pszRest = queue.pPrinterName + cchName;
        if (strncmp(pszRest, " (", 2) || !pszRest[2])
            continue;
        const char *p = pszRest + 2;
        while (*p >= '0' && *p <= '9')
            p++;
        if (p > pszRest + 2 && !strcmp(p, ")")) {
            strQueue = queue.pPrinterName;
            return TRUE;
        }
    }
    return FALSE;
}

// Puts record nRecord back through its nested context: the files, monitor,
// print processor and driver, and unless its port is the generic USB one its
// queue (unless there already) with the settings the record keeps, and the
// registry lines. FALSE when a step failed; the steps after a failed file
// copy still run. Settings the new driver or the spooler refused are
// reported (m_bSettingsLost) but leave the record done.
static BOOL PutRecordBack(CInstallContext &ctx, const DrvingLink &record, int nRecord)
{
    CInstallContext nested;
    if (!PrepareNested(ctx, nested, record.pDriverName, record.pPortName, record.pPrinterName))
        return AddNestedError(ctx, nested);
    BOOL bResult = nested.CopyInfFiles();
    if (nested.AddMon() && nested.AddProc() && nested.AddDrv()) {
        std::string strQueue;
        if (!CInstallContext::IsGenericUsbPort(record.pPortName)) {
            nested.m_strQueueAdded.clear();
            if ((!RecordedQueueThere(nested, record, strQueue) && !nested.AddQueue()) || !nested.AddReg())
                bResult = FALSE;
            if (strQueue.empty())
                strQueue = nested.m_strQueueAdded;
            BOOL bDevmodeLost = FALSE;
            if (!strQueue.empty() &&
                (!RestoreQueueSettings(nested, nRecord, strQueue.c_str(), &bDevmodeLost) || bDevmodeLost)) {
                // Reported, never retried: a setting refused once is refused
                // at every start, and the INF would wait for ever.
                ctx.m_bSettingsLost = TRUE;
                AddNestedError(ctx, nested);
                nested.m_strError.clear();
            }
        }
    } else {
        bResult = FALSE;
    }
    ctx.m_bReplaceAtRestart |= nested.m_bReplaceAtRestart;
    return bResult || AddNestedError(ctx, nested);
}

// The model's Uninstall entry, written by an install and refreshed by a
// reinstall; its command is checked first. It runs the copy of the
// installer in the working folder, which CopyToWorkingFolder filled (or the
// second phase runs from).
static BOOL AddUninstallEntry(CInstallContext &ctx)
{
    return UninstallStringFits(ctx) && ctx.AddUninstallKey();
}

// Reinstall, second phase: the recorded drivers' files are removed, the
// model's queue joins the records unless one has its driver and port, and
// every record gets its components, its queue and registry lines again. Each
// record is put back on its own: one that fails does not stop the others,
// and the phase then runs again at the next start.
static BOOL ReinstallSecondPhase(CInstallContext &ctx)
{
    BOOL bComplete = (!ctx.m_bWinNT || RemoveOrphans(ctx)) && !ctx.m_bPrepIncomplete;
    if (!ctx.LoadDrvingLink())
        return RetryAtNextStart(ctx);
    const char *pszPort = ctx.m_pPortName ? ctx.m_pPortName : "";
    BOOL bRecorded = FALSE;
    for (const DrvingLink *p = ctx.m_pDrvingLink; p; p = p->pNext) {
        CInstallContext nested;
        // A file in use stays: its replacement is copied next, or waits for the restart.
        if (!PrepareNested(ctx, nested, p->pDriverName) || !nested.DelFiles(TRUE))
            bComplete = AddNestedError(ctx, nested);
        ctx.m_bReplaceAtRestart |= nested.m_bReplaceAtRestart;
        if (!StrCmpI(p->pDriverName, LogStr(ctx.m_pPrinterName)) && !StrNCmpI(p->pPortName, pszPort, strlen(pszPort)))
            bRecorded = TRUE;
    }
    ctx.LogDbg("Excecute() Reinstall Driver:[%s] Port:[%s] %s\r\n", LogStr(ctx.m_pPrinterName),
               LogStr(ctx.m_pPortName), bRecorded ? "is not added" : "is added");
    if (!bRecorded && !ctx.AddDrvingLink(ctx.m_pPrinterName, ctx.m_pPortName, ctx.m_pPrinterName)) {
        ctx.LogErr("Excecute() AddDrvingLink\r\n");
        return RetryAtNextStart(ctx);
    }
    int nRecord = 0;
    for (const DrvingLink *p = ctx.m_pDrvingLink; p; p = p->pNext)
        bComplete &= PutRecordBack(ctx, *p, nRecord++);
    bComplete &= ctx.AddRegLptEnum();
    bComplete = bComplete && AddUninstallEntry(ctx);
    if (!bComplete)
        return RetryAtNextStart(ctx);
    ctx.m_bPhaseFinished = TRUE;
    if (ctx.m_bSettingsLost) {
        // Every queue is back; what the new driver refused is named above
        // and fails the phase, which does not run again for it. Files that
        // wait for the restart still ask for it.
        ctx.LogErr("Excecute() Finished, but queue settings were not restored (above)\r\n");
        if (ctx.m_bReplaceAtRestart)
            AskForRestart(ctx);
        return FALSE;
    }
    return !ctx.m_bReplaceAtRestart || AskForRestart(ctx);
}

// Uninstall, first phase: once the second phase's command is known to fit
// and the working folder holds the program, the model's registry lines,
// queues, driver and USB entry go; the second phase is registered last, so
// that a removal that stopped half-way leaves the model listed for another
// try. A model with neither a driver nor an Uninstall entry is not
// installed: nothing changes, and no restart is asked for.
static BOOL UninstallFirstPhase(CInstallContext &ctx)
{
    BOOL bListed = FALSE;
    if (!ctx.EnumDrv() || !ctx.FindUninstallKey(&bListed))
        return FALSE;
    if (!bListed && !FindEnumDrv(ctx, ctx.m_pPrinterName)) {
        ctx.LogDbg("Excecute() Not Installed [%s]: nothing to uninstall\r\n", ctx.m_pPrinterName);
        return TRUE;
    }
    // The queues go before the registry lines: a queue that cannot be
    // removed keeps the monitor's values it prints with.
    if (!ctx.EnumPrn() || QueueHasJobs(ctx, ctx.m_pPrinterName, NULL) || !RunOnceCommandFits(ctx) ||
        !ctx.CopyToWorkingFolder() || !ctx.DelPrn() || !ctx.DelReg() || !ctx.DelDrv() || !ctx.DelRegUsbPrint())
        return FALSE;
    if (!ctx.m_bWinNT && !RemoveOrphans(ctx))
        return FALSE;
    return RegisterSecondPhase(ctx) && AskForRestart(ctx);
}

// Uninstall, second phase: the files (those in use at the next restart), the
// system's INF copies, the entry in the list of installed software and, with
// the INF's last model, the installer's kept copy go. A model installed again
// meanwhile keeps its entry. What could not be done runs again at the next
// start.
static BOOL UninstallSecondPhase(CInstallContext &ctx)
{
    BOOL bComplete = (!ctx.m_bWinNT || RemoveOrphans(ctx)) && !ctx.m_bPrepIncomplete;
    {
        CInstallContext nested;
        if (!PrepareNested(ctx, nested, ctx.m_pPrinterName) || !nested.DelFiles())
            bComplete = AddNestedError(ctx, nested);
        ctx.m_bReplaceAtRestart |= nested.m_bReplaceAtRestart;
    }
    bComplete &= ctx.DelOemInf();
    if (!ctx.EnumDrv()) {
        bComplete = FALSE;
    } else if (FindEnumDrv(ctx, ctx.m_pPrinterName)) {
        ctx.LogDbg("Excecute() Installed Again [%s]\r\n", ctx.m_pPrinterName);
    } else {
        bComplete &= ctx.DelUninstallKey() && ctx.DelKeptFolder();
    }
    if (!bComplete)
        return RetryAtNextStart(ctx);
    ctx.m_bPhaseFinished = TRUE;
    return !ctx.m_bReplaceAtRestart || AskForRestart(ctx);
}

// An install that failed once it began to copy files takes back what this
// run made: its queue; the driver with its registry lines, files and
// Uninstall entry when the driver was not there before (they may serve other
// queues otherwise); and the print processor and monitor when this run
// added them.
// Always FALSE; the error text stays the failing step's.
static BOOL TakeBackInstall(CInstallContext &ctx, BOOL bDriverWasThere)
{
    ctx.LogDbg("Excecute() Install taken back [%s]\r\n", ctx.m_strQueueAdded.c_str());
    if (!ctx.m_strQueueAdded.empty())
        ctx.DelQueueNamed(ctx.m_strQueueAdded.c_str());
    if (!bDriverWasThere) {
        ctx.DelReg();
        ctx.DelDrv();
        ctx.DelFiles(TRUE);     // those no other driver names; one in use stays
        ctx.DelUninstallKey();  // written whole, then a failed close of its parent key
    }
    if (ctx.m_bProcAdded)
        ctx.DelProc();
    if (ctx.m_bMonitorAdded)
        ctx.DelMon();
    return FALSE;
}

// Install: the Uninstall entry's command checked, then files (a file that
// cannot be copied fails the install before anything is added; one in use is
// replaced at the restart, which is then asked for), components, and a queue
// with its registry lines and parallel-port entries unless the port is the
// generic USB one (then the USB notice); the kept copy of the installer and
// the entry in the list of installed software decide. A failure after the
// queue was made takes back what this run made. Without bAddQueue (a repeated
// quiet install whose model has its queue) all but the queue is written.
static BOOL Install(CInstallContext &ctx, BOOL bAddQueue)
{
    if (!UninstallStringFits(ctx) || !ctx.CheckPackageFiles() || !ctx.CopyToWorkingFolder() || !ctx.EnumDrv())
        return FALSE;
    BOOL bDriverWasThere = FindEnumDrv(ctx, ctx.m_DriverInfo3.pName) != NULL;
    ctx.m_strQueueAdded.clear();
    ctx.m_bMonitorAdded = ctx.m_bProcAdded = FALSE;
    if (!ctx.CopyInfFiles() || !ctx.AddMon() || !ctx.AddProc() || !ctx.AddDrv())
        return TakeBackInstall(ctx, bDriverWasThere);
    if (!CInstallContext::IsGenericUsbPort(ctx.m_pPortName)) {
        if ((bAddQueue && !ctx.AddQueue()) || !ctx.AddReg() || !ctx.AddRegLptEnum())
            return TakeBackInstall(ctx, bDriverWasThere);
    } else if (ctx.m_pDialogs) {
        // Its answer changes nothing; a notice that could not be shown leaves
        // the caller's completion dialog to say it.
        ctx.m_bDialogShown = ctx.m_pDialogs->ShowPlugUsb(ctx.m_pPrinterName, ctx.m_pPortName) != -1;
    }
    if (!AddUninstallEntry(ctx))
        return TakeBackInstall(ctx, bDriverWasThere);
    return !ctx.m_bReplaceAtRestart || AskForRestart(ctx);
}

/* Runs the blocks the mode flags select, in this order: the install check
 * (different files installed turn an install into a reinstall), reinstall
 * first and second phase, uninstall first and second phase, install. Outside
 * a second phase, an operation whose preparation wrote error lines, or whose
 * INF still has a second phase pending, is refused before anything changes
 * (the latter with m_bPendingRefused, and the restart that finishes it is
 * offered). One operation of an INF runs at a time: another run holding
 * its lock refuses this one (m_bPendingRefused; a second phase registers
 * itself again). 1 when all ran; 0 when a step failed, m_strError
 * telling why. A first phase sets m_bDialogShown when it asked about the
 * restart; m_bRestartPending and m_bRestartStarted say what waits. */
BOOL CInstallContext::Excecute()
{
    if (!m_bInstall && !m_bUninstall && !m_bReinstall)
        return TRUE;
    HANDLE hLock = LockInf(*this);
    if (!hLock) {
        // Busy: refused (a second phase once it has registered itself again
        // for the next start); any other error is a failure.
        BOOL bBusy = GetLastError() == ERROR_INSTALL_ALREADY_RUNNING;
        if (m_bRunOnce)
            RetryAtNextStart(*this);
        m_bPendingRefused = bBusy && (!m_bRunOnce || m_bRestartPending);
        return FALSE;
    }
    BOOL bResult = ExcecuteSteps();
    // A second phase that did all its work (a restart that could not be
    // started aside) is no longer pending; one that did not stays registered.
    // One whose registration cannot be removed fails: it runs once more.
    if (m_bRunOnce && m_bPhaseFinished && !ClearPendingPhase())
        bResult = FALSE;
    UnlockInf(*this, hLock);
    return bResult;
}

/* The whole operation, as the main dialog's Start, the second phase and a
 * quiet run do it: a second phase first writes its registration back
 * (KeepPhaseRegistered), then SetupSysInfo, ParseInf, SetupSplInfo and Excecute, with
 * pDialogs (the caller's; NULL for none) answering Excecute's questions
 * during this call only. FALSE after the first step that fails, m_strError
 * telling why. After ParseCommand or the setters. */
BOOL CInstallContext::RunOperation(CEngineDialogs *pDialogs)
{
    m_pDialogs = pDialogs;
    if (m_bRunOnce)
        KeepPhaseRegistered();  // before anything that can fail
    m_cchErrorBeforePrep = m_strError.size();  // what the preparation adds tells whether the INF was read whole
    BOOL bResult = SetupSysInfo() && ParseInf() && SetupSplInfo() && Excecute();
    m_pDialogs = NULL;
    return bResult;
}

// Excecute's blocks, run while this run holds the INF's lock.
BOOL CInstallContext::ExcecuteSteps()
{
    if (!m_bRunOnce && !m_strError.empty()) {
        // The preparation wrote error lines (a file list or registry section
        // of the model that could not be read): the operation would be
        // incomplete, and its second phase could never prepare the model.
        LogErr("Excecute() [%s] of [%s]: the INF has errors, nothing changed\r\n", LogStr(m_pPrinterName),
               LogStr(m_pInfBaseName));
        return FALSE;
    }
    // A second phase whose own INF was not read whole (a section that could
    // not be read) does what it can, but is not finished: the model's names,
    // files and Uninstall entry it works from may be incomplete.
    m_bPrepIncomplete = m_bRunOnce && m_strError.size() > m_cchErrorBeforePrep;
    if (m_bPrepIncomplete)
        LogErr("Excecute() [%s] of [%s]: the INF was not read whole; the phase runs again at the next start\r\n",
               LogStr(m_pPrinterName), LogStr(m_pInfBaseName));
    if (!m_bRunOnce && FindPendingPhase()) {
        m_bPendingRefused = TRUE;
        m_bRestartPending = TRUE;
        if (m_pDialogs && m_pDialogs->AskRestart() == IDOK && RestartWindows())
            m_bRestartStarted = TRUE;
        return FALSE;
    }
    BOOL bRefresh = FALSE;
    if (m_bInstall && !m_bRunOnce) {
        if (!EnumDrv())
            return FALSE;
        char szDriver[INF_PATH_MAX];
        if (m_bQuiet && !m_bAddQueue && !IsGenericUsbPort(m_pPortName)) {
            // A quiet install repeated by a deployment tool adds no queue.
            if (!CheckRepeatedInstall(&m_bAlreadyInstalled, &bRefresh))
                return FALSE;
            if (m_bAlreadyInstalled && !bRefresh)
                return TRUE;
        } else if (DiffDriverFiles(szDriver)) {  // other files installed: the install becomes a reinstall
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
    return Install(*this, !bRefresh);
}
