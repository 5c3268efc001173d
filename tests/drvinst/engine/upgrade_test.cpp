// Upgrades on machines where the administrator is a deployment tool: the
// second phase finds its package whoever starts it and whenever, stays
// registered until it has finished, and puts every queue back as it was; a
// run that could lose a queue is refused before it changes anything.
#include "executefixture.h"
#include "foldersecurity.h"
#include "queuestandin.h"
#include "queuesettingsfixture.h"
#include "regkeys.h"
#include "splstr.h"
#include "testenv.h"
#include <sddl.h>

namespace {

const char kPendingKey[] = "SOFTWARE\\Ostrel\\Pending";

}  // namespace

class UpgradeTest : public ExecuteTest {
protected:
    // The whole operation as the program runs it (RunOperation: its
    // preparation included) on the model on port with *mode set.
    BOOL RunWhole(BOOL CInstallContext::*mode, CInstallContext &c, const char *port = "LPT1:")
    {
        FreeSplStr(c.m_pLogFileName);
        c.m_pLogFileName = AllocSplStr(m_logPath.c_str());
        c.SetInfFileName((m_package + "\\TZ.INF").c_str());
        c.SetPrinterName(kModel);
        c.SetPortName(port);
        SetProgram(c);
        c.*mode = TRUE;
        return c.RunOperation(&m_dialogs);
    }
    // The registered second phase as the program runs it after the restart.
    BOOL RunWholeSecondPhase(const std::string &command, CInstallContext &c)
    {
        RemoveRunOnceEntries();  // Windows takes the value before it starts the command
        PrepareSecondPhaseLine(c, command);
        return c.RunOperation(&m_dialogs);
    }

    // A reinstall's first phase of the model on LPT1:, the restart declined;
    // the command it registered.
    std::string FirstPhase()
    {
        CInstallContext first;
        PrepareOperation(first, "LPT1:", &first.m_bReinstall);
        EXPECT_TRUE(first.Excecute()) << first.GetErrorText();
        return RegText(kRunOnceKey, "TZ.INF");
    }
};

// The second phase runs from the per-machine working folder, so the account
// that starts it (an administrator logging on, or SYSTEM) and its temporary
// folder do not matter; until it has finished it stays registered, in
// RunOnce and in its durable record, also when it fails before it starts.
TEST_F(UpgradeTest, SecondPhaseFinishesWhoeverStartsItAndStaysRegisteredUntilThen)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    std::string command = FirstPhase();
    EXPECT_EQ(0u, command.find(Quoted(KeptDirA() + "\\execute_test.exe"))) << command;
    EXPECT_EQ(command, RegText(kPendingKey, "TZ.INF"));

    // Started by another account: another temporary folder, empty.
    char temp[MAX_PATH] = "", tmp[MAX_PATH] = "";
    GetEnvironmentVariableA("TEMP", temp, sizeof(temp));
    GetEnvironmentVariableA("TMP", tmp, sizeof(tmp));
    CreateDirectoryA("C:\\kztother", NULL);
    SetEnvironmentVariableA("TEMP", "C:\\kztother");
    SetEnvironmentVariableA("TMP", "C:\\kztother");

    // Its preparation fails (its INF is unreadable for the moment): it is
    // registered again, with the same command, for the next start.
    std::string inf = m_work + "\\TZ.INF";
    ASSERT_TRUE(MoveFileA(inf.c_str(), (inf + ".away").c_str()));
    {
        CInstallContext second;
        EXPECT_FALSE(RunWholeSecondPhase(command, second));
    }
    EXPECT_EQ(command, RegText(kRunOnceKey, "TZ.INF"));
    EXPECT_EQ(command, RegText(kPendingKey, "TZ.INF"));
    EXPECT_TRUE(QueuesStartingWith("Ostrel").empty());

    // The next start: everything back, nothing pending any more.
    ASSERT_TRUE(MoveFileA((inf + ".away").c_str(), inf.c_str()));
    CInstallContext again;
    EXPECT_TRUE(RunWholeSecondPhase(command, again)) << again.GetErrorText();
    SetEnvironmentVariableA("TEMP", temp);
    SetEnvironmentVariableA("TMP", tmp);
    RemoveDirectoryA("C:\\kztother");
    EXPECT_TRUE(Has(ReadSpooler().queues, Queue(kModel, "LPT1:")));
    EXPECT_TRUE(RunOnceNames().empty());
    EXPECT_EQ("(none)", RegText(kPendingKey, "TZ.INF"));
}

// A phase whose RunOnce value Windows took (no administrator logged on, or
// it died) is still found from its durable record: every operation of the
// INF waits for it, and the record names what to run. One whose program
// is gone can never run and is cleaned up.
TEST_F(UpgradeTest, PendingPhaseIsFoundFromItsDurableRecordAndAStaleOneIsCleanedUp)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    std::string command = FirstPhase();
    RemoveRunOnceEntries();
    CInstallContext install;
    EXPECT_FALSE(Run(kModel, "LPT2:", &CInstallContext::m_bInstall, install));
    EXPECT_TRUE(install.m_bPendingRefused);
    EXPECT_EQ(command, install.m_strPendingCommand);
    EXPECT_NE(std::string::npos, install.m_strError.find("Pending /Reinstall [Ostrel TZ-1000] of [TZ.INF]"));

    // A record, or a RunOnce value left without one, whose program is gone.
    const std::string gone = "\"C:\\gone\\drvinst.exe\" \"C:\\gone\\TZ.INF\" \"x\" \"\" /RunOnce";
    ASSERT_TRUE(SetValueText(kPendingKey, "TZ.INF", gone));
    CInstallContext later;
    EXPECT_TRUE(Run(kModel, "LPT2:", &CInstallContext::m_bInstall, later)) << later.GetErrorText();
    EXPECT_TRUE(LogHasStart("DBG PendingCommand() Not pending [\"C:\\gone\\drvinst.exe\""));
    EXPECT_EQ("(none)", RegText(kPendingKey, "TZ.INF"));
    ASSERT_TRUE(SetValueText(kRunOnceKey, "TZ.INF", gone));
    CInstallContext last;
    EXPECT_TRUE(Run(kModel, "LPT3:", &CInstallContext::m_bInstall, last)) << last.GetErrorText();
    EXPECT_TRUE(RunOnceNames().empty());
}

// A working folder that another user owns or may change is never used, by
// a first phase or a second one: a program or INF planted there would run as
// SYSTEM. Nothing changes, and a pending second phase stays registered. The
// folder the installer creates is the machine's own from the start.
TEST_F(UpgradeTest, WorkingFolderAnotherUserCouldChangeIsRefusedBeforeAnyChange)
{
    FolderSecurityStandIn security;
    ASSERT_TRUE(security.Installed());
    const char kOwn[] = "O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    ASSERT_NO_FATAL_FAILURE(Install());
    EXPECT_EQ(kOwn, security.SecurityOf(m_work));
    const std::string parent = m_work.substr(0, m_work.rfind('\\'));
    const struct {
        const char *what;
        std::string folder;
        const char *sddl;
        const char *named;  // in the error line
    } cases[] = {
        {"owned by a user", m_work, "O:S-1-5-21-1-2-3-1001G:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
         "owner S-1-5-21-1-2-3-1001"},
        {"users may write", m_work, "O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)", "S-1-5-32-545"},
        {"users get what is made inside", m_work, "O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;FA;;;BU)",
         "S-1-5-32-545"},
        {"no access list", m_work, nullptr, "everyone"},
        {"everyone may add files above it", parent, "O:BAG:SYD:(A;;FA;;;BA)(A;;0x1200af;;;WD)", "S-1-1-0"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::string command = FirstPhase();
        security.Plant(c.folder, c.sddl);
        CInstallContext second;
        EXPECT_FALSE(RunWholeSecondPhase(command, second));
        EXPECT_NE(std::string::npos, second.m_strError.find("can be changed by " + std::string(c.named)))
            << second.m_strError;
        EXPECT_TRUE(QueuesStartingWith("Ostrel").empty());
        EXPECT_EQ(command, RegText(kRunOnceKey, "TZ.INF"));

        RemoveRunOnceEntries();
        DeleteKeyTree("SOFTWARE\\Ostrel\\Pending");
        MachineState before = Snapshot(m_work);
        CInstallContext install;
        EXPECT_FALSE(RunWhole(&CInstallContext::m_bInstall, install));
        EXPECT_NE(std::string::npos, install.m_strError.find("can be changed by " + std::string(c.named)));
        EXPECT_EQ("", Changes(before, Snapshot(m_work)));
        security.Plant(c.folder, kOwn);
        ASSERT_NO_FATAL_FAILURE(Install());
    }
}

// A shared, configured queue comes back from a reinstall with every setting
// it had: the printer record's texts and numbers, its printing defaults, its
// access list and its printer data.
TEST_F(UpgradeTest, ReinstallPutsEveryQueueBackWithEverySetting)
{
    QueueStandIn standIn;
    ASSERT_TRUE(standIn.Installed());
    ASSERT_NO_FATAL_FAILURE(Install());
    ASSERT_TRUE(AddTestQueue("Ostrel TZ-1000 Office", kModel, "LPT2:"));
    ASSERT_TRUE(ConfigureQueue(kModel, true));
    const std::string model = QueueSettings(kModel, &standIn), office = QueueSettings("Ostrel TZ-1000 Office", &standIn);
    ASSERT_NE(std::string::npos, model.find("copies 3"));

    ASSERT_NO_FATAL_FAILURE(BothPhases(&CInstallContext::m_bReinstall, "reinstall"));
    EXPECT_EQ(model, QueueSettings(kModel, &standIn));
    EXPECT_EQ(office, QueueSettings("Ostrel TZ-1000 Office", &standIn));
    EXPECT_FALSE(LogHasStart("ERR "));

    // The other queue on the model's port too, and a second phase that runs
    // again after it had made that one but not the model's queue: each gets
    // its own settings back, none another's.
    ASSERT_TRUE(AddTestQueue("Ostrel TZ-1000 Plans", kModel, "LPT1:"));
    const std::string plans = QueueSettings("Ostrel TZ-1000 Plans", &standIn);
    std::string command = FirstPhase();
    CInstallContext second;
    ASSERT_TRUE(RunSecondPhase(second, command)) << second.GetErrorText();
    ASSERT_TRUE(DeleteTestQueue(kModel));
    CInstallContext again;
    ASSERT_TRUE(RunSecondPhase(again, command)) << again.GetErrorText();
    EXPECT_EQ(model, QueueSettings(kModel, &standIn));
    EXPECT_EQ(plans, QueueSettings("Ostrel TZ-1000 Plans", &standIn));
}

// A queue with a job is not deleted (the spooler would only mark it, and
// its jobs would go with it): the run is refused before anything changes,
// and goes ahead once the job is done. A queue marked for deletion is no
// queue a second phase finds in place.
TEST_F(UpgradeTest, QueueWithAJobRefusesTheRunAndAQueueMarkedForDeletionIsGone)
{
    QueueStandIn standIn;
    ASSERT_TRUE(standIn.Installed());
    ASSERT_NO_FATAL_FAILURE(Install());
    HANDLE h = NULL;
    ASSERT_TRUE(OpenPrinterA((LPSTR)kModel, &h, NULL));
    DOC_INFO_1A doc = {(LPSTR) "drawing", (LPSTR) "C:\\kztjob.prn", (LPSTR) "RAW"};
    ASSERT_NE(0u, StartDocPrinterA(h, 1, (LPBYTE)&doc));
    ASSERT_EQ(1, standIn.Jobs(kModel));
    for (BOOL CInstallContext::*mode : {&CInstallContext::m_bReinstall, &CInstallContext::m_bUninstall}) {
        MachineState before = Snapshot(m_work);
        CInstallContext c;
        EXPECT_FALSE(Run(kModel, "LPT1:", mode, c));
        EXPECT_TRUE(c.m_bPendingRefused);
        EXPECT_NE(std::string::npos, c.m_strError.find("Busy [Ostrel TZ-1000]: the queue has 1 jobs")) << c.m_strError;
        EXPECT_EQ("", Changes(before, Snapshot(m_work)));
        EXPECT_TRUE(RunOnceNames().empty());
    }
    EndDocPrinter(h);
    ClosePrinter(h);
    DeleteFileA("C:\\kztjob.prn");

    // The second phase runs again (it died after it had made the queue), and
    // meanwhile that queue was deleted with a job in it.
    std::string command = FirstPhase();
    CInstallContext second;
    EXPECT_TRUE(RunSecondPhase(second, command)) << second.GetErrorText();
    standIn.MarkPendingDeletion(kModel);
    CInstallContext again;
    EXPECT_TRUE(RunSecondPhase(again, command)) << again.GetErrorText();
    EXPECT_TRUE(LogHasStart("DBG ::AddPrinter([Ostrel TZ-1000 (1)]) R x"));
}

// A package folder that lacks a file of the model changes nothing: no
// install half-made, no queue removed that the second phase could not put
// back.
TEST_F(UpgradeTest, PackageFolderMissingAFileChangesNothing)
{
    const std::string file = m_package + "\\KZTTZUIF.DLL", kept = ReadBytes(file);
    ASSERT_TRUE(DeleteFileA(file.c_str()));
    MachineState clean = Snapshot(m_work);
    CInstallContext install;
    EXPECT_FALSE(Run(kModel, "LPT1:", &CInstallContext::m_bInstall, install));
    EXPECT_EQ(0u, install.m_strError.find("CheckPackageFiles() Missing [" + file + "] ::GetFileAttributes R -1 E 2 ")) << install.m_strError;
    EXPECT_EQ("", Changes(clean, Snapshot(m_work)));

    HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD cb = 0;
    ::WriteFile(h, kept.data(), (DWORD)kept.size(), &cb, NULL);
    CloseHandle(h);
    ASSERT_NO_FATAL_FAILURE(Install());
    ASSERT_TRUE(DeleteFileA(file.c_str()));
    MachineState installed = Snapshot(m_work);
    CInstallContext reinstall;
    EXPECT_FALSE(Run(kModel, "LPT1:", &CInstallContext::m_bReinstall, reinstall));
    EXPECT_NE(std::string::npos, reinstall.m_strError.find("CheckPackageFiles() Missing [" + file + "]"));
    EXPECT_EQ("", Changes(installed, Snapshot(m_work)));
    EXPECT_TRUE(RunOnceNames().empty());
}
