// The installer's two phases end to end, through the real program and the
// real restart: drvinst.exe beside the package, started with its command
// line, its dialogs answered through the window helper. The restart question
// is answered Yes; Wine's ExitWindowsEx plays the restart (it ends the
// processes that own windows, the first phase among them) and runs the
// RunOnce entry: the second phase, the program's copy in the working folder.
// This test program owns no window, so the played restart leaves it alone:
// it watches from outside, checks the state while the restart question is
// open (the first phase is done then) and after Wine has run the second
// phase. Runs in a prefix of its own, where a played restart disturbs no
// other test.
#include "drvinstdriver.h"
#include "executefixture.h"
#include "regkeys.h"
#include "testenv.h"
#include "windowdriver.h"
#include <functional>

namespace {

const char kPort[] = "LPT1:";

class TwoPhaseTest : public ExecuteTest {
protected:
    void SetUp() override
    {
        ExecuteTest::SetUp();
        m_program = m_package + "\\drvinst.exe";
        ASSERT_TRUE(CopyFileA(Narrow(ExePath(L"drvinst.exe")).c_str(), m_program.c_str(), FALSE)) << GetLastError();
    }

    // The arguments of an unattended run: INF, model, port and the switch.
    std::string Arguments(const char *switchText)
    {
        return Quoted(m_package + "\\TZ.INF") + " " + Quoted(kModel) + " " + Quoted(kPort) + " " + switchText;
    }

    // What the first phase registers under RunOnce: the program's copy in
    // the working folder, with the copy of the INF there.
    std::string SecondPhase(const char *switchText)
    {
        return Quoted(m_work + "\\drvinst.exe") + " " + Quoted(m_work + "\\TZ.INF") + " " + Quoted(kModel) + " " +
               Quoted(kPort) + " /RunOnce " + switchText;
    }

    // Starts the program with the switch, checks that the dialog comes up
    // locked to that action, and presses Start. *shown: the dialog the
    // program shows then.
    void StartAndPress(InstallerRun &run, const char *switchText, int radio, InstallerRun::Result expected,
                       HWND *shown)
    {
        ASSERT_TRUE(run.Start(m_program, Arguments(switchText))) << GetLastError();
        HWND dialog = run.MainDialog(30000);
        ASSERT_TRUE(dialog) << "no main dialog";
        EXPECT_EQ(BST_CHECKED, SendDlgItemMessageA(dialog, radio, BM_GETCHECK, 0, 0));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, kIdStart)));
        EXPECT_EQ(kModel, ItemText(dialog, kIdModel));
        Click(dialog, kIdStart);
        std::string text;
        InstallerRun::Result result = run.WaitForResult(120000, shown, &text);
        if (result == InstallerRun::kMessageBox)
            Click(*shown, IDOK);
        ASSERT_EQ(expected, result) << text;
    }

    // "/Install" through the program; the completion dialog is read and closed.
    void InstallThroughProgram()
    {
        InstallerRun run;
        HWND shown = nullptr;
        ASSERT_NO_FATAL_FAILURE(StartAndPress(run, "/Install", kIdInstall, InstallerRun::kCompletion, &shown));
        EXPECT_EQ(kModel, ItemText(shown, kIdCompleteModel));
        EXPECT_EQ(kPort, ItemText(shown, kIdCompletePort));
        Click(shown, IDOK);
        DWORD code = 99;
        ASSERT_TRUE(run.WaitEnded(30000, &code));
        EXPECT_EQ(0u, code);
        ASSERT_TRUE(Has(ReadSpooler().queues, Queue(kModel, kPort)));
    }

    // The first phase of the switch's operation up to the restart question;
    // atQuestion checks the state then; Yes; Wine's restart and second phase.
    void BothPhases(const char *switchText, int radio, const std::function<void()> &atQuestion)
    {
        InstallerRun run;
        HWND question = nullptr;
        ASSERT_NO_FATAL_FAILURE(StartAndPress(run, switchText, radio, InstallerRun::kRestartQuestion, &question));
        atQuestion();
        Click(question, IDOK);
        DWORD code = 99;
        ASSERT_TRUE(run.WaitEnded(30000, &code)) << "the played restart did not end the first phase";
        EXPECT_EQ(0u, code);  // Wine ends it with 0
        std::vector<std::string> boxes;
        ASSERT_TRUE(WaitForSecondPhase(120000, &boxes)) << "the second phase did not finish";
        EXPECT_TRUE(boxes.empty()) << boxes[0];
        EXPECT_TRUE(RunOnceNames().empty());
    }

    // Nothing of the package after an uninstall's second phase.
    void ExpectPackageGone();

    // The parts the first phase of both operations removes, and the command
    // it registered for the second.
    void ExpectFirstPhaseDone(const char *switchText)
    {
        SpoolerState s = ReadSpooler();
        EXPECT_TRUE(QueuesStartingWith(kModel).empty());
        EXPECT_FALSE(Has(s.drivers, kModel));
        EXPECT_EQ("(none)", RegText(kMonitorKey, "Ostrel TZ-1000 Head"));
        EXPECT_EQ(SecondPhase(switchText), RegText(kRunOnceKey, "TZ.INF"));
        EXPECT_TRUE(FileExists(m_work + "\\drvinst.exe"));
        EXPECT_TRUE(FileExists(m_work + "\\TZ.INF"));
    }
};

TEST_F(TwoPhaseTest, ReinstallWithRestartPutsDriverAndQueueBack)
{
    ASSERT_NO_FATAL_FAILURE(InstallThroughProgram());
    ASSERT_NO_FATAL_FAILURE(BothPhases("/Reinstall", 1007, [&] {
        ExpectFirstPhaseDone("/Reinstall");
        EXPECT_EQ((std::vector<std::string>{std::string(kModel) + "|" + kPort + "|" + kModel}), Records());
        EXPECT_TRUE(Has(ReadSpooler().monitors, "jobtap"));  // NT: kept until the second phase
    }));
    SpoolerState s = ReadSpooler();
    EXPECT_EQ((std::vector<std::string>{kModel}), QueuesStartingWith(kModel));
    EXPECT_TRUE(Has(s.queues, Queue(kModel, kPort)));
    EXPECT_TRUE(Has(s.drivers, kModel));
    EXPECT_TRUE(Has(s.monitors, "jobtap"));
    EXPECT_TRUE(Has(s.processors, kProcessor));
    EXPECT_EQ("1B40", RegText(kMonitorKey, "Ostrel TZ-1000 Head"));
    EXPECT_EQ("vigil.exe", RegText(kMonitorKey, kModel));
    EXPECT_TRUE(ModelFilesInstalled());
    EXPECT_TRUE(LogHas("DBG Excecute() Reinstall Driver:[Ostrel TZ-1000] Port:[LPT1:] is not added"));
}

TEST_F(TwoPhaseTest, UninstallWithRestartLeavesNothingOfThePackage)
{
    ASSERT_NO_FATAL_FAILURE(InstallThroughProgram());
    ASSERT_NO_FATAL_FAILURE(BothPhases("/Uninstall", kIdUninstall, [&] { ExpectFirstPhaseDone("/Uninstall"); }));
    ExpectPackageGone();
}

// "/quiet /forcerestart": no question, the restart is started (1641), and the
// second phase that Wine runs from RunOnce is quiet too: no box.
TEST_F(TwoPhaseTest, QuietUninstallWithForceRestartRestartsAndLeavesNothing)
{
    InstallerRun install;
    DWORD code = 99;
    ASSERT_TRUE(install.Start(m_program, Arguments("/Install /quiet"))) << GetLastError();
    ASSERT_TRUE(install.WaitEnded(60000, &code));
    ASSERT_EQ(0u, code);
    InstallerRun run;
    ASSERT_TRUE(run.Start(m_program, Arguments("/Uninstall /quiet /forcerestart"))) << GetLastError();
    ASSERT_TRUE(run.WaitEnded(60000, &code)) << "the first phase did not end";
    EXPECT_EQ(1641u, code);
    std::vector<std::string> boxes;
    ASSERT_TRUE(WaitForSecondPhase(120000, &boxes)) << "the second phase did not finish";
    EXPECT_TRUE(boxes.empty()) << boxes[0];
    EXPECT_TRUE(RunOnceNames().empty());
    ExpectPackageGone();
}

void TwoPhaseTest::ExpectPackageGone()
{
    SpoolerState s = ReadSpooler();
    EXPECT_TRUE(QueuesStartingWith(kModel).empty());
    EXPECT_FALSE(Has(s.drivers, kModel));
    EXPECT_FALSE(Has(s.monitors, "jobtap"));
    // Wine's DeletePrintProcessor reports success but deletes nothing.
    EXPECT_TRUE(LogHasStart("DBG ::DeletePrintProcessor([KZT TZ Print Processor]) R 1 "));
    EXPECT_EQ("(none)", RegText(kMonitorKey, kModel));
    for (const char *file : kModelFiles)
        EXPECT_FALSE(FileExists(PrinterDriverDirA() + "\\" + file)) << file;
    EXPECT_FALSE(KeyExists(std::string(kUninstallKey) + "\\" + kModel));
    EXPECT_FALSE(FileExists(WindowsDirA() + "\\INF\\OstrelTZ.INF"));
}

}  // namespace
