// drvinst.exe /quiet as a deployment script runs it: no window at all, the
// answer in the exit code and the log. One table of command lines, each run
// from the state its row names; the exit code, the log's last line and the
// state after it. A first phase's second phase is then run as Windows would
// after the restart: the registered RunOnce command, taken out of RunOnce.
#include "drvinstdriver.h"
#include "installerfixture.h"
#include "regkeys.h"
#include "testenv.h"
#include "windowdriver.h"
#include <string.h>

namespace {

const char kLine[] = "TZ.INF \"Ostrel TZ-1000\" LPT1: ";
const DWORD kNotEnded = 0xFFFFFFFF;
const std::string kEntry = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ostrel TZ-1000";

// kStaleEntry: installed, with the Uninstall entry of an earlier release
// (another DisplayVersion, the same driver files).
enum State { kClean, kInstalled, kStaleEntry, kTwoQueues, kSecondPhasePending };

struct QuietRow {
    const char *what;
    State before;
    std::string args;     // after the program's path
    DWORD code;           // the exit code
    State after;
    const char *runOnce;  // the second phase's switches, when after is kSecondPhasePending
};

class QuietTest : public InstallerTest {
protected:
    // Runs program with arguments in its folder; its exit code, or kNotEnded
    // (with the message box it shows instead) when it did not end by itself.
    DWORD RunProgram(const std::string &program, const std::string &arguments)
    {
        InstallerRun run;
        DWORD code = kNotEnded;
        if (!run.Start(program, arguments))
            ADD_FAILURE() << program << " did not start: " << GetLastError();
        else if (!run.WaitEnded(60000, &code))
            ADD_FAILURE() << "still running; message box: " << AnswerBox(run.Pid());
        return code;
    }

    static std::string AnswerBox(DWORD pid)
    {
        std::string text;
        if (HWND box = WaitForMessageBox(pid, 0, &text))
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        return text;
    }

    // The registered second phase as Windows runs it after the restart: out
    // of RunOnce first, then started; its exit code.
    DWORD RunSecondPhaseCommand()
    {
        std::string command = RegText(kRunOnceKey, "TZ.INF");
        RemoveRunOnceEntries();
        size_t end = command.find('"', 1);
        return RunProgram(command.substr(1, end - 1), command.substr(end + 2));
    }

    void Reach(State state)
    {
        if (state == kClean)
            return;
        ASSERT_EQ(0u, RunProgram(m_exe, std::string(kLine) + "/Install /quiet"));
        if (state == kStaleEntry) {
            ASSERT_TRUE(SetValueText(kEntry, "DisplayVersion", "0.9.0.0"));
        }
        if (state == kSecondPhasePending) {
            ASSERT_EQ(3010u, RunProgram(m_exe, std::string(kLine) + "/Uninstall /quiet"));
        }
    }

    // log: the path the first run's "/log" named, which its second phase
    // must carry ("" for none).
    void ExpectState(State state, const char *runOnce, const std::string &why, const std::string &log = "")
    {
        SCOPED_TRACE(why);
        if (state == kClean) {
            ExpectNothingInstalled();
            return;
        }
        SpoolerState s = ReadSpooler();
        EXPECT_EQ(state == kInstalled || state == kTwoQueues, Has(s.queues, Queue(kModel, "LPT1:")));
        size_t cQueues = state == kInstalled ? 1 : state == kTwoQueues ? 2 : 0;
        EXPECT_EQ(cQueues, QueuesStartingWith(kModel).size());
        if (state == kInstalled) {
            EXPECT_EQ("1.0.0.1", RegText(kEntry, "DisplayVersion"));  // the INF's
        }
        if (state == kTwoQueues) {
            EXPECT_TRUE(Has(s.queues, Queue((std::string(kModel) + " (1)").c_str(), "LPT1:")));
        }
        if (state == kSecondPhasePending) {
            EXPECT_EQ(Quoted(m_work + "\\drvinst.exe") + " " + Quoted(m_work + "\\TZ.INF") + " " + Quoted(kModel) +
                          " \"LPT1:\" /RunOnce " + runOnce + " /quiet" + (log.empty() ? "" : " /log " + Quoted(log)),
                      RegText(kRunOnceKey, "TZ.INF"));
        }
    }

    void Reset()
    {
        RemoveRunOnceEntries();
        ResetSpooler();
        RemoveWhatTheSequenceLeaves();
    }
};

TEST_F(QuietTest, ExitCodeAndStateForEachCommandLine)
{
    const std::string log = " /log quiet.log";
    const QuietRow rows[] = {
        {"an unknown switch", kClean, std::string(kLine) + "/Install /quiet /bogus" + log, 1639, kClean},
        {"/log without its path", kClean, std::string(kLine) + "/Install /quiet /log", 1639, kClean},
        {"no action", kClean, std::string(kLine) + "/quiet" + log, 1639, kClean},
        {"two actions", kClean, std::string(kLine) + "/Install /Uninstall /quiet" + log, 1639, kClean},
        {"no model", kClean, "TZ.INF /Install /quiet" + log, 1639, kClean},
        {"an install without a port", kClean, "TZ.INF \"Ostrel TZ-1000\" /Install /quiet" + log, 1639, kClean},
        {"/? in a quiet run: no window", kClean, std::string(kLine) + "/? /quiet" + log, 1639, kClean},
        {"an unclosed quote", kClean, "TZ.INF \"Ostrel TZ-1000 /Install /quiet", 1639, kClean},
        {"/qn and an unclosed quote: no window", kClean, "TZ.INF \"Ostrel TZ-1000 /Install /qn", 1639, kClean},
        {"/q and an unknown switch: no window", kClean, std::string(kLine) + "/Install /q /bogus" + log, 1639, kClean},
        {"/norestart with /forcerestart", kClean, std::string(kLine) + "/Install /quiet /norestart /forcerestart" + log,
         1639, kClean},
        {"a /log that cannot be written: nothing done", kClean,
         std::string(kLine) + "/Install /quiet /log C:\\no-such-folder\\quiet.log", 1622, kClean},
        {"a model the INF lacks", kClean, "TZ.INF \"Ostrel TZ-9999\" LPT1: /Install /quiet" + log, 1603, kClean},
        {"an INF that is not there", kClean, "NONE.INF \"Ostrel TZ-1000\" LPT1: /Install /quiet" + log, 1603, kClean},
        {"an uninstall of a model not installed: nothing waits", kClean,
         std::string(kLine) + "/Uninstall /quiet" + log, 0, kClean},
        {"install", kClean, std::string(kLine) + "/Install /quiet" + log, 0, kInstalled},
        {"/q", kClean, std::string(kLine) + "/Install /q /norestart" + log, 0, kInstalled},
        {"install again: nothing changed", kInstalled, std::string(kLine) + "/Install /quiet" + log, 0, kInstalled},
        {"/addqueue: a further queue", kInstalled, std::string(kLine) + "/Install /quiet /addqueue" + log, 0,
         kTwoQueues},
        {"the model's queue on another port: installed, no second one", kInstalled,
         "TZ.INF \"Ostrel TZ-1000\" LPT2: /Install /quiet" + log, 0, kInstalled},
        {"an earlier release's entry: written again, no queue", kStaleEntry, std::string(kLine) + "/Install /quiet" + log,
         0, kInstalled},
        {"uninstall", kInstalled, std::string(kLine) + "/Uninstall /quiet" + log, 3010, kSecondPhasePending,
         "/Uninstall"},
        {"reinstall", kInstalled, std::string(kLine) + "/Reinstall /quiet" + log, 3010, kSecondPhasePending,
         "/Reinstall"},
        {"/qn /norestart", kInstalled, std::string(kLine) + "/Reinstall /qn /norestart" + log, 3010,
         kSecondPhasePending, "/Reinstall"},
        {"/finish with nothing pending", kClean, "/quiet /finish" + log, 0, kClean},
        {"/finish with an install: nothing pending, installed", kClean,
         std::string(kLine) + "/Install /quiet /finish" + log, 0, kInstalled},
        {"/finish with /Copy", kClean, std::string(kLine) + "/Copy /quiet /finish" + log, 1639, kClean},
        // Last: refused while the uninstall's second phase waits, RunOnce untouched.
        {"an install while a second phase is pending", kSecondPhasePending, std::string(kLine) + "/Install /quiet" + log,
         1618, kSecondPhasePending, "/Uninstall"},
    };
    // Every line of a run with "/log" goes there, a nested step's and the
    // second phase's too: the default log, there to catch them, gets none.
    LogOn();
    const std::string path = m_package + "\\quiet.log";
    for (const QuietRow &row : rows) {
        SCOPED_TRACE(row.what);
        Reset();
        DeleteFileA(path.c_str());
        ASSERT_NO_FATAL_FAILURE(Reach(row.before));
        LogOn();
        EXPECT_EQ(row.code, RunProgram(m_exe, row.args));
        bool logged = row.args.find(log) != std::string::npos;
        if (logged) {
            std::string text = ReadTextFile(std::wstring(path.begin(), path.end()));
            EXPECT_NE(std::string::npos, text.find("DBG Quiet() exit code " + std::to_string(row.code))) << text;
            if (row.code != 0 && row.code != 3010) {
                EXPECT_NE(std::string::npos, text.find(" ERR ")) << text;
            }
            if (row.code == 1603) {
                EXPECT_NE(std::string::npos, text.find("ERR Quiet() failed: ")) << text;
            }
        }
        ExpectState(row.after, row.runOnce, "after the first run", logged && row.before != kSecondPhasePending ? path : "");
        if (row.after == kSecondPhasePending) {
            // The second phase, quiet as the first: no window, 0, and the
            // uninstall leaves nothing, the reinstall the queue.
            EXPECT_EQ(0u, RunSecondPhaseCommand());
            ExpectState(!strcmp(row.runOnce, "/Reinstall") ? kInstalled : kClean, "", "after the second phase");
        }
        if (logged && !strcmp(row.runOnce ? row.runOnce : "", "/Reinstall")) {
            std::string text = ReadTextFile(std::wstring(path.begin(), path.end()));
            size_t first = text.find("DBG Quiet() exit code 3010");
            EXPECT_NE(std::string::npos, text.find("::DeletePrinter R 1")) << "a nested step of the first phase";
            EXPECT_NE(std::string::npos, text.find("DBG Excecute() Reinstall Driver:[", first)) << "the second phase";
            EXPECT_NE(std::string::npos, text.find("DBG ::AddPrinter([" + std::string(kModel), first)) << text;
            EXPECT_NE(std::string::npos, text.find("DBG Quiet() exit code 0", first)) << text;
        }
        // (A phase registered without "/log" logs to the default file.)
        std::string defaultLog = LogText();
        for (const char *line : {"::DeletePrinter", "::AddPrinter(", "Quiet() exit code"}) {
            if (logged && row.before != kSecondPhasePending) {
                EXPECT_EQ(std::string::npos, defaultLog.find(line)) << line << " in the default log";
            }
        }
        if (row.code == 1622) {  // said where it can be
            EXPECT_NE(std::string::npos, defaultLog.find("DBG Quiet() exit code 1622")) << defaultLog;
        }
    }
    LogOff();
    Reset();
}

// A pending second phase that no administrator's logon starts is finished
// by "/quiet /finish", as a start-up script or deployment tool runs it after
// the restart: with RunOnce taken or still there, into the same log.
TEST_F(QuietTest, FinishRunsThePendingSecondPhaseWithoutALogon)
{
    // The third time with the install a deployment tool runs again after the
    // restart: the phase first, then an install that finds it all there.
    for (int variant : {0, 1, 2}) {
        bool runOnceTaken = variant != 1, withInstall = variant == 2;
        SCOPED_TRACE(withInstall ? "with an install" : runOnceTaken ? "RunOnce taken" : "RunOnce still there");
        Reset();
        ASSERT_NO_FATAL_FAILURE(Reach(kInstalled));
        ASSERT_EQ(3010u, RunProgram(m_exe, std::string(kLine) + "/Reinstall /quiet"));
        if (runOnceTaken)
            RemoveRunOnceEntries();
        DeleteFileA((m_package + "\\finish.log").c_str());
        EXPECT_EQ(0u, RunProgram(m_exe, std::string(withInstall ? kLine : "") + (withInstall ? "/Install " : "") +
                                            "/quiet /finish /log finish.log"));
        ExpectState(kInstalled, "", "after /finish");
        EXPECT_TRUE(RunOnceNames().empty());
        EXPECT_EQ("(none)", RegText("SOFTWARE\\Ostrel\\Pending", "TZ.INF"));
        std::string path = m_package + "\\finish.log";
        std::string text = ReadTextFile(std::wstring(path.begin(), path.end()));
        EXPECT_NE(std::string::npos, text.find("DBG Finish() Pending [")) << text;
        EXPECT_NE(std::string::npos, text.find("DBG Excecute() Finished: nothing of [TZ.INF] is pending")) << text;
        if (withInstall) {
            EXPECT_NE(std::string::npos, text.find("DBG Excecute() Already Installed [Ostrel TZ-1000] on [LPT1:]"))
                << text;
        }
        EXPECT_EQ(0u, RunProgram(m_exe, "/quiet /finish"));  // nothing left
    }
    // A record that names another program is data anyone with write access
    // could have put there: not run.
    Reset();
    std::string notepad = WindowsDirA() + "\\notepad.exe";
    ASSERT_TRUE(SetValueText("SOFTWARE\\Ostrel\\Pending", "TZ.INF", Quoted(notepad) + " " + Quoted(m_package + "\\TZ.INF")));
    DeleteFileA((m_package + "\\finish.log").c_str());
    EXPECT_EQ(1603u, RunProgram(m_exe, "/quiet /finish /log finish.log"));
    std::string path = m_package + "\\finish.log";
    std::string text = ReadTextFile(std::wstring(path.begin(), path.end()));
    EXPECT_NE(std::string::npos, text.find("not the installer of the machine's folder")) << text;
    EXPECT_EQ(std::string::npos, text.find("::CreateProcess(")) << text;
    Reset();
}

// A first phase that registered its second phase and then failed (here the
// monitor's values cannot be removed) answers 3010: the restart and the
// second phase put back what it recorded, so the tool must restart.
TEST_F(QuietTest, FirstPhaseThatFailsAfterRegisteringAsksForTheRestart)
{
    Reset();
    ASSERT_NO_FATAL_FAILURE(Reach(kInstalled));
    const std::string dacl = DaclText(kMonitorKey);
    ASSERT_TRUE(CreateReadOnlyKey(kMonitorKey));
    DeleteFileA((m_package + "\\quiet.log").c_str());
    DWORD code = RunProgram(m_exe, std::string(kLine) + "/Reinstall /quiet /log quiet.log");
    EXPECT_TRUE(SetDaclText(kMonitorKey, dacl.c_str()));
    EXPECT_EQ(3010u, code);
    std::string path = m_package + "\\quiet.log";
    std::string text = ReadTextFile(std::wstring(path.begin(), path.end()));
    EXPECT_NE(std::string::npos, text.find("ERR Quiet() failed: (a second phase is registered")) << text;
    ExpectState(kSecondPhasePending, "/Reinstall", "after the failed first phase", path);
    EXPECT_EQ(0u, RunSecondPhaseCommand());
    ExpectState(kInstalled, "", "after the second phase");
    Reset();
}

// A quiet install on a COM port writes the model's "ComPortSettings"
// (9600,8,N,1,X) into the port's default configuration, as the dialog's
// Start does; a repeated install that changes nothing leaves what the
// administrator set since.
TEST_F(QuietTest, InstallOnAComPortWritesTheModelsSerialSettings)
{
    Reset();
    COMMCONFIG start = {}, config = {};
    DWORD cb = sizeof(start);
    ASSERT_TRUE(GetDefaultCommConfigA("COM1", &start, &cb));
    config = start;
    config.dcb.BaudRate = 4800;
    config.dcb.ByteSize = 7;
    config.dcb.Parity = ODDPARITY;
    config.dcb.StopBits = TWOSTOPBITS;
    config.dcb.fOutX = config.dcb.fInX = FALSE;
    ASSERT_TRUE(SetDefaultCommConfigA("COM1", &config, sizeof(config)));
    const std::string line = "TZ.INF \"Ostrel TZ-2000\" COM1: /Install /quiet /log quiet.log";
    // A port whose configuration cannot be read: refused before anything changes.
    const std::string com1 = "System\\CurrentControlSet\\Services\\Class\\Ports\\COM1", dacl = DaclText(com1);
    ASSERT_TRUE(SetDaclText(com1, "D:P"));
    EXPECT_EQ(1603u, RunProgram(m_exe, line));
    EXPECT_TRUE(SetDaclText(com1, dacl.c_str()));
    ExpectNothingInstalled();
    EXPECT_EQ(0u, RunProgram(m_exe, line));
    cb = sizeof(config);
    ASSERT_TRUE(GetDefaultCommConfigA("COM1", &config, &cb));
    EXPECT_EQ(9600u, config.dcb.BaudRate);
    EXPECT_EQ(8, config.dcb.ByteSize);
    EXPECT_EQ(NOPARITY, config.dcb.Parity);
    EXPECT_EQ(ONESTOPBIT, config.dcb.StopBits);
    EXPECT_TRUE(config.dcb.fOutX && config.dcb.fInX);
    config.dcb.BaudRate = 19200;
    ASSERT_TRUE(SetDefaultCommConfigA("COM1", &config, sizeof(config)));
    EXPECT_EQ(0u, RunProgram(m_exe, line));
    cb = sizeof(config);
    ASSERT_TRUE(GetDefaultCommConfigA("COM1", &config, &cb));
    EXPECT_EQ(19200u, config.dcb.BaudRate);
    EXPECT_TRUE(SetDefaultCommConfigA("COM1", &start, sizeof(start)));
    Reset();
}

// The 32-bit installer started on 64-bit Windows refuses before it changes
// anything and says to run the 64-bit one.
TEST_F(QuietTest, ThirtyTwoBitInstallerRefusesSixtyFourBitWindows)
{
    if (sizeof(void *) != 8)
        GTEST_SKIP() << "needs the 64-bit prefix";
    std::string exe32 = "Z:";
    for (char ch : std::string(KZT_OTHER_ARCH_BIN) + "/drvinst.exe")
        exe32 += ch == '/' ? '\\' : ch;
    std::string copy = m_package + "\\drvinst32.exe";
    if (!CopyFileA(exe32.c_str(), copy.c_str(), FALSE))
        GTEST_SKIP() << "32-bit build not there: " << exe32;
    InstallerRun run;
    DeleteFileA((m_package + "\\quiet.log").c_str());
    if (!run.Start(copy, std::string(kLine) + "/Install /quiet /log quiet.log"))
        GTEST_SKIP() << "this machine runs no 32-bit programs";
    DWORD code = kNotEnded;
    ASSERT_TRUE(run.WaitEnded(60000, &code)) << AnswerBox(run.Pid());
    std::string path = m_package + "\\quiet.log";
    if (code == 0 && GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "the 32-bit program did not run (no 32-bit Wine here)";
    EXPECT_EQ(1603u, code);
    std::string text = ReadTextFile(std::wstring(path.begin(), path.end()));
    EXPECT_NE(std::string::npos, text.find("ERR SetupSysInfo() 64-bit Windows: run the 64-bit installer")) << text;
    ExpectNothingInstalled();
}

// The log begins with the system's real version for support, and the
// version functions tell the installer the same (its manifest lists the
// systems up to 10/11; without it, 8.1 and later report 6.2).
TEST_F(QuietTest, LogNamesTheRealVersionWhichTheProgramIsToldToo)
{
    RTL_OSVERSIONINFOW real = {sizeof(real)};
    auto rtlGetVersion = (LONG(WINAPI *)(RTL_OSVERSIONINFOW *))(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"),
                                                                                       "RtlGetVersion");
    ASSERT_TRUE(rtlGetVersion && rtlGetVersion(&real) == 0);
    DeleteFileA((m_package + "\\quiet.log").c_str());
    EXPECT_EQ(0u, RunProgram(m_exe, std::string(kLine) + "/Uninstall /quiet /log quiet.log"));
    std::string path = m_package + "\\quiet.log";
    std::string text = ReadTextFile(std::wstring(path.begin(), path.end()));
    const char *arch = sizeof(void *) == 8 ? "x64" : "x86";
    char line[160];
    snprintf(line, sizeof(line), "DBG LogSystemVersion() Windows %lu.%lu.%lu platform 2 [", real.dwMajorVersion,
             real.dwMinorVersion, real.dwBuildNumber);
    size_t at = text.find(line);
    ASSERT_NE(std::string::npos, at) << line << " in " << text;
    snprintf(line, sizeof(line), "] machine %s program %s, told %lu.%lu\r\n", arch, arch, real.dwMajorVersion,
             real.dwMinorVersion);
    EXPECT_NE(std::string::npos, text.find(line, at)) << line << " in " << text;
}

TEST_F(QuietTest, UsageListsTheExitCodes)
{
    ASSERT_TRUE(Start("/?"));
    std::string text = AnswerMessageBox();
    for (const char *code : {"3010", "1641", "1602", "1603", "1618", "1622", "1639", " 740 ", "/quiet", "/qn", "/forcerestart",
                             "/norestart", "/addqueue", "/log", "/finish"})
        EXPECT_NE(std::string::npos, text.find(code)) << code << " in " << text;
    DWORD code = 1;
    ASSERT_TRUE(Ended(15000, &code));
    EXPECT_EQ(0u, code);
}

}  // namespace
