// The execution sequence of the install engine through the installer's
// context, against Wine's spooler, file system and registry: an install of
// the sample package, the install that finds other files installed and turns
// into a reinstall, the first phases of a reinstall and an uninstall (RunOnce
// entry and restart question) and their second phases started from the very
// command the first phase registered, the generic USB port, the RunOnce
// command's limit and the Uninstall entry. The restart question is answered
// by a stand-in that never says Yes: a Yes would make Wine play the restart.
#include "enginedialogs.h"
#include "enginefixture.h"
#include "regkeys.h"
#include "splstr.h"
#include "testenv.h"

namespace {

const char kModel[] = "Ostrel TZ-1000";
const char kProcessor[] = "KZT TZ Print Processor";
const char kMonitorKey[] = "System\\CurrentControlSet\\Control\\Print\\Monitors\\jobtap";
const char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kRecordsKey[] = "SOFTWARE\\Ostrel\\TZ.INF";
const char *const kModelFiles[] = {"KZTTZDRV.DLL", "KZTTZUIF.DLL", "KZTTZRES.DLL", "KZTTZ1000.DAT", "KZTTZ.HLP"};

// Answers the engine's dialogs as told and records every call. It never
// answers the restart question with Yes.
class RecordingDialogs : public CEngineDialogs {
public:
    int AskRestart() override
    {
        calls.push_back("restart");
        return restartAnswer;
    }
    int ShowPlugUsb(const char *model, const char *port) override
    {
        calls.push_back(std::string("usb ") + (model ? model : "(null)") + "|" + (port ? port : "(null)"));
        return usbAnswer;
    }
    int restartAnswer = IDCANCEL;
    int usbAnswer = IDOK;
    std::vector<std::string> calls;
};

// A text value of an HKLM key without its terminator, or "(none)" when the
// key or value is missing.
std::string RegText(const std::string &key, const char *value)
{
    RegValue v = GetValue(key, value);
    if (!v.found)
        return "(none)";
    return v.bytes.substr(0, v.bytes.find('\0'));
}

// The names of the values under HKLM RunOnce.
std::vector<std::string> RunOnceNames()
{
    std::vector<std::string> names;
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_READ, &h))
        return names;
    char name[512];
    for (DWORD i = 0;; i++) {
        DWORD cch = sizeof(name);
        if (RegEnumValueA(h, i, name, &cch, NULL, NULL, NULL, NULL))
            break;
        names.push_back(name);
    }
    RegCloseKey(h);
    return names;
}

// The saved queue records, "queue|port|driver" each, in record order.
std::vector<std::string> Records()
{
    std::vector<std::string> records;
    for (int n = 0; KeyExists(std::string(kRecordsKey) + "\\" + std::to_string(n)); n++) {
        std::string key = std::string(kRecordsKey) + "\\" + std::to_string(n);
        records.push_back(RegText(key, "PrinterName") + "|" + RegText(key, "PortName") + "|" +
                          RegText(key, "DriverName"));
    }
    return records;
}

void DeleteFileIfThere(const std::string &path)
{
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
}

std::string Quoted(const std::string &text)
{
    return "\"" + text + "\"";
}

class ExecuteTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        RemoveRunOnceEntries();
        RemoveWhatTheSequenceLeaves();
        // The nested contexts write the log the program writes, C:\kztdebug.txt:
        // the outer context writes there too, so that the case sees all of it.
        m_logPath = Narrow(LogPath());
        LogOn();
        FreeSplStr(ctx.m_pLogFileName);
        ctx.m_pLogFileName = AllocSplStr(m_logPath.c_str());
        m_work = TempPathA() + "OstrelTZ.INF";
        m_program = Narrow(ExePath(L"execute_test.exe"));
    }

    void TearDown() override
    {
        if (HasFailure()) {  // the whole log of the case, nested contexts included
            TakeLog();
            for (const std::string &line : m_logSeen)
                printf("log: %s\n", line.c_str());
        }
        RemoveRunOnceEntries();
        RemoveWhatTheSequenceLeaves();
        LogOff();
        EngineTest::TearDown();
    }

    // The registry entries, files and working folder an operation leaves.
    void RemoveWhatTheSequenceLeaves()
    {
        DeleteKeyTree(std::string(kUninstallKey) + "\\" + kModel);
        DeleteKeyTree("SOFTWARE\\Ostrel");
        std::string drvDir = PrinterDriverDirA();
        for (const char *file : kModelFiles) {
            for (const char *sub : {"\\", "\\2\\", "\\3\\"})
                DeleteFileIfThere(drvDir + sub + file);
        }
        char system[MAX_PATH];
        GetSystemDirectoryA(system, sizeof(system));
        for (const char *file : {"jobtap.dll", "vigil.exe"})
            DeleteFileIfThere(std::string(system) + "\\" + file);
        DeleteFileIfThere(WindowsDirA() + "\\INF\\OstrelTZ.INF");
        DeleteFileIfThere(WindowsDirA() + "\\INF\\OstrelTZ.PNF");
        RemoveTree(TempPathA() + "OstrelTZ.INF");
    }

    // Readies ctx for an operation on the model as the program does: the
    // program's own location (this test program stands for it), the names,
    // SetupSysInfo, ParseInf, SetupSplInfo, and the mode.
    void PrepareOperation(CInstallContext &c, const char *port, BOOL *mode)
    {
        ASSERT_NO_FATAL_FAILURE(Prepare(c, kModel, port));
        SetProgram(c);
        *mode = TRUE;
        c.m_pDialogs = &m_dialogs;
    }

    void SetProgram(CInstallContext &c)
    {
        FreeSplStr(c.m_pExeFileName);
        FreeSplStr(c.m_pExeDirName);
        FreeSplStr(c.m_pExeBaseName);
        c.m_pExeFileName = AllocSplStr(m_program.c_str());
        c.m_pExeDirName = AllocSplStr(m_program.substr(0, m_program.rfind('\\')).c_str());
        c.m_pExeBaseName = AllocSplStr(m_program.substr(m_program.rfind('\\') + 1).c_str());
    }

    // A fresh install of the model on port, which must succeed.
    void Install(const char *port = "LPT1:")
    {
        CInstallContext c;
        ASSERT_NO_FATAL_FAILURE(PrepareOperation(c, port, &c.m_bInstall));
        ASSERT_TRUE(c.Excecute()) << c.GetErrorText();
        m_dialogs.calls.clear();
    }

    // The second phase as Windows starts it after the restart: the command
    // the first phase registered, read back by the command-line parser,
    // removed from RunOnce (Wine would run it at its next start), then the
    // program's steps and Excecute.
    BOOL RunSecondPhase(CInstallContext &c, const std::string &command)
    {
        RemoveRunOnceEntries();
        std::vector<char> line(command.begin(), command.end());
        line.push_back(0);
        EXPECT_TRUE(c.ParseArguments(line.data()));
        FreeSplStr(c.m_pLogFileName);
        c.m_pLogFileName = AllocSplStr(m_logPath.c_str());
        EXPECT_TRUE(c.m_bRunOnce);
        EXPECT_TRUE(c.SetupSysInfo()) << c.GetErrorText();
        EXPECT_TRUE(c.ParseInf()) << c.GetErrorText();
        EXPECT_TRUE(c.SetupSplInfo());
        c.m_pDialogs = &m_dialogs;
        return c.Excecute();
    }

    // What the first phase registers for the model on port with its switches.
    std::string SecondPhaseCommand(const char *port, const char *switches)
    {
        return Quoted(m_work + "\\execute_test.exe") + " " + Quoted(m_work + "\\TZ.INF") + " " + Quoted(kModel) +
               " " + Quoted(port) + " /RunOnce" + switches;
    }

    // The working folder as a reinstall's first phase leaves it: every file
    // of the package.
    void FillWorkingFolder()
    {
        CreateDirectoryA(m_work.c_str(), NULL);
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((m_package + "\\*").c_str(), &fd);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                std::string name = fd.cFileName;
                EXPECT_TRUE(CopyFileA((m_package + "\\" + name).c_str(), (m_work + "\\" + name).c_str(), FALSE));
            }
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }

    bool ModelFilesInstalled()
    {
        for (const char *file : kModelFiles) {
            if (!FileExists(PrinterDriverDirA() + "\\" + file))
                return false;
        }
        return true;
    }

    RecordingDialogs m_dialogs;
    std::string m_work;     // the working folder of TZ.INF
    std::string m_program;  // this test program, standing for the installer
};

std::string Queue(const char *name, const char *port)
{
    return std::string(name) + "|" + port + "|" + kModel + "|" + kProcessor + "|RAW";
}

}  // namespace

// --- install ---------------------------------------------------------------------

TEST_F(ExecuteTest, InstallPutsEveryComponentFileAndValueInPlace)
{
    ASSERT_NO_FATAL_FAILURE(PrepareOperation(ctx, "LPT1:", &ctx.m_bInstall));
    ASSERT_TRUE(ctx.Excecute()) << ctx.GetErrorText();

    EXPECT_TRUE(ctx.m_bInstall);
    EXPECT_FALSE(ctx.m_bReinstall);
    EXPECT_FALSE(ctx.m_bDialogShown);
    EXPECT_TRUE(m_dialogs.calls.empty());
    EXPECT_EQ("", ctx.m_strError);

    SpoolerState s = ReadSpooler();
    EXPECT_TRUE(Has(s.monitors, "jobtap"));
    EXPECT_TRUE(Has(s.processors, kProcessor));
    EXPECT_TRUE(Has(s.drivers, kModel));
    EXPECT_TRUE(Has(s.queues, Queue(kModel, "LPT1:")));

    EXPECT_TRUE(ModelFilesInstalled());
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof(system));
    EXPECT_EQ(ReadBytes(m_package + "\\jobtap.dll"), ReadBytes(std::string(system) + "\\jobtap.dll"));
    EXPECT_TRUE(FileExists(std::string(system) + "\\vigil.exe"));
    EXPECT_EQ(ReadBytes(m_package + "\\TZ.INF"), ReadBytes(WindowsDirA() + "\\INF\\OstrelTZ.INF"));
    // The working folder holds the program and the INF, nothing else of the package.
    EXPECT_TRUE(FileExists(m_work + "\\execute_test.exe"));
    EXPECT_TRUE(FileExists(m_work + "\\TZ.INF"));
    EXPECT_FALSE(FileExists(m_work + "\\KZTTZDRV.DLL"));

    EXPECT_EQ("vigil.exe", RegText(kMonitorKey, kModel));
    EXPECT_EQ("1B40", RegText(kMonitorKey, "Ostrel TZ-1000 Head"));
    EXPECT_EQ("0C1B40", RegText(kMonitorKey, "Ostrel TZ-1000 Tail"));

    std::string entry = std::string(kUninstallKey) + "\\" + kModel;
    EXPECT_EQ(kModel, RegText(entry, "DisplayName"));
    EXPECT_EQ(Quoted(m_work + "\\execute_test.exe") + " " + Quoted(m_work + "\\TZ.INF") + " " + Quoted(kModel) +
                  " /uninstall",
              RegText(entry, "UninstallString"));
    EXPECT_TRUE(RunOnceNames().empty());
    EXPECT_TRUE(LogHasStart("DBG ::RegCreateKeyEx([Ostrel TZ-1000]) h x"));
}

TEST_F(ExecuteTest, InstallOverTheSameFilesAddsAnotherQueueOnly)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    ASSERT_NO_FATAL_FAILURE(PrepareOperation(ctx, "LPT2:", &ctx.m_bInstall));
    ASSERT_TRUE(ctx.Excecute()) << ctx.GetErrorText();
    EXPECT_TRUE(ctx.m_bInstall);
    EXPECT_FALSE(ctx.m_bReinstall);
    EXPECT_TRUE(LogHas("DBG AddMon() Installed LanguageMonitor [jobtap]"));
    EXPECT_TRUE(LogHas("DBG AddDrv() Installed Driver [Ostrel TZ-1000]"));
    SpoolerState s = ReadSpooler();
    EXPECT_TRUE(Has(s.queues, Queue(kModel, "LPT1:")));
    EXPECT_TRUE(Has(s.queues, Queue("Ostrel TZ-1000 (1)", "LPT2:")));
    EXPECT_TRUE(RunOnceNames().empty());
}

// --- the generic USB port ----------------------------------------------------------

TEST_F(ExecuteTest, PortRuleTellsTheGenericUsbChoiceFromRealPorts)
{
    const struct {
        const char *port;
        BOOL generic;
    } cases[] = {
        {"USB", TRUE},     {"usb", TRUE},     {"Usb", TRUE},     {"USB0", TRUE},    {"USB01", TRUE},
        {"USB0011", TRUE}, {"USB00A", TRUE},  {"USBA01", TRUE},  {"USB 01", TRUE},  {"USB001", FALSE},
        {"usb123", FALSE}, {"LPT1:", FALSE},  {"COM1:", FALSE},  {"US", FALSE},     {"XUSB", FALSE},
        {"", FALSE},       {nullptr, FALSE},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++)
        EXPECT_EQ(cases[i].generic, CInstallContext::IsGenericUsbPort(cases[i].port))
            << "case " << i << " " << (cases[i].port ? cases[i].port : "(null)");
}

TEST_F(ExecuteTest, InstallOnTheGenericUsbPortAddsNoQueueAndShowsTheUsbNotice)
{
    ASSERT_NO_FATAL_FAILURE(PrepareOperation(ctx, "USB", &ctx.m_bInstall));
    ASSERT_TRUE(ctx.Excecute()) << ctx.GetErrorText();

    EXPECT_EQ((std::vector<std::string>{"usb Ostrel TZ-1000|USB"}), m_dialogs.calls);
    EXPECT_TRUE(ctx.m_bDialogShown);
    SpoolerState s = ReadSpooler();
    EXPECT_TRUE(Has(s.monitors, "jobtap"));
    EXPECT_TRUE(Has(s.processors, kProcessor));
    EXPECT_TRUE(Has(s.drivers, kModel));
    EXPECT_TRUE(QueuesStartingWith("Ostrel").empty());
    EXPECT_EQ("(none)", RegText(kMonitorKey, kModel));  // no registry lines without a queue
    EXPECT_EQ(kModel, RegText(std::string(kUninstallKey) + "\\" + kModel, "DisplayName"));
}

TEST_F(ExecuteTest, UsbNoticeThatCannotBeShownOrIsNotGivenCountsAsNotShown)
{
    m_dialogs.usbAnswer = -1;
    ASSERT_NO_FATAL_FAILURE(PrepareOperation(ctx, "usb", &ctx.m_bInstall));
    ASSERT_TRUE(ctx.Excecute()) << ctx.GetErrorText();
    EXPECT_EQ(1u, m_dialogs.calls.size());
    EXPECT_FALSE(ctx.m_bDialogShown);

    CInstallContext c;
    ASSERT_NO_FATAL_FAILURE(PrepareOperation(c, "USB", &c.m_bInstall));
    c.m_pDialogs = nullptr;
    ASSERT_TRUE(c.Excecute()) << c.GetErrorText();
    EXPECT_FALSE(c.m_bDialogShown);
    EXPECT_EQ(1u, m_dialogs.calls.size());
}

TEST_F(ExecuteTest, InstallOnANumberedUsbPortAddsTheQueue)
{
    ASSERT_NO_FATAL_FAILURE(PrepareOperation(ctx, "USB001", &ctx.m_bInstall));
    ASSERT_TRUE(ctx.Excecute()) << ctx.GetErrorText();
    EXPECT_TRUE(m_dialogs.calls.empty());
    EXPECT_FALSE(ctx.m_bDialogShown);
    EXPECT_TRUE(Has(ReadSpooler().queues, Queue(kModel, "USB001")));
    EXPECT_EQ("vigil.exe", RegText(kMonitorKey, kModel));
}

// --- reinstall -----------------------------------------------------------------------

TEST_F(ExecuteTest, ChangedDriverFileTurnsTheInstallIntoAReinstall)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    // A new build of the rendering library: one byte longer.
    std::string drv = m_package + "\\KZTTZDRV.DLL";
    std::string bytes = ReadBytes(drv) + "x";
    HANDLE h = CreateFileA(drv.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD cb = 0;
    ASSERT_TRUE(::WriteFile(h, bytes.data(), (DWORD)bytes.size(), &cb, NULL));
    CloseHandle(h);

    ASSERT_NO_FATAL_FAILURE(PrepareOperation(ctx, "LPT1:", &ctx.m_bInstall));
    ASSERT_TRUE(ctx.Excecute()) << ctx.GetErrorText();
    EXPECT_FALSE(ctx.m_bInstall);
    EXPECT_TRUE(ctx.m_bReinstall);
    EXPECT_TRUE(LogHasStart("DBG Diff [KZTTZDRV.DLL] ["));
    EXPECT_EQ((std::vector<std::string>{"restart"}), m_dialogs.calls);
    EXPECT_TRUE(ctx.m_bDialogShown);

    // First phase: the queue recorded and removed with the driver and values;
    // the whole package in the working folder; the second phase registered.
    EXPECT_EQ((std::vector<std::string>{"Ostrel TZ-1000|LPT1:|Ostrel TZ-1000"}), Records());
    SpoolerState s = ReadSpooler();
    EXPECT_TRUE(QueuesStartingWith("Ostrel").empty());
    EXPECT_FALSE(Has(s.drivers, kModel));
    EXPECT_EQ("(none)", RegText(kMonitorKey, kModel));
    EXPECT_EQ(bytes, ReadBytes(m_work + "\\KZTTZDRV.DLL"));
    std::string command = SecondPhaseCommand("LPT1:", " /Reinstall");
    EXPECT_EQ(command, RegText(kRunOnceKey, "TZ.INF"));

    // Second phase: the queue back under its name and port, the new file installed.
    CInstallContext second;
    ASSERT_TRUE(RunSecondPhase(second, command)) << second.GetErrorText();
    EXPECT_TRUE(LogHas("DBG Excecute() Reinstall Driver:[Ostrel TZ-1000] Port:[LPT1:] is not added"));
    s = ReadSpooler();
    EXPECT_TRUE(Has(s.drivers, kModel));
    EXPECT_EQ((std::vector<std::string>{kModel}), QueuesStartingWith("Ostrel"));
    EXPECT_TRUE(Has(s.queues, Queue(kModel, "LPT1:")));
    EXPECT_EQ(bytes, ReadBytes(PrinterDriverDirA() + "\\KZTTZDRV.DLL"));
    EXPECT_EQ("vigil.exe", RegText(kMonitorKey, kModel));
    EXPECT_TRUE(RunOnceNames().empty());
    EXPECT_EQ(1u, m_dialogs.calls.size());  // the second phase asks nothing
}

TEST_F(ExecuteTest, ReinstallRecreatesEveryRecordedQueueOfTheDriver)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    ASSERT_TRUE(AddTestQueue("Ostrel TZ-1000 Office", kModel, "LPT2:"));

    ASSERT_NO_FATAL_FAILURE(PrepareOperation(ctx, "LPT3:", &ctx.m_bReinstall));
    ASSERT_TRUE(ctx.Excecute()) << ctx.GetErrorText();
    std::vector<std::string> records = Records();
    ASSERT_EQ(2u, records.size());
    EXPECT_TRUE(Has(records, "Ostrel TZ-1000|LPT1:|Ostrel TZ-1000"));
    EXPECT_TRUE(Has(records, "Ostrel TZ-1000 Office|LPT2:|Ostrel TZ-1000"));
    // The second record's removal finds everything gone already.
    EXPECT_TRUE(LogHas("DBG DelPrn() No Installed Printer [Ostrel TZ-1000]"));
    EXPECT_TRUE(LogHas("DBG DelDrv() No Installed Driver [Ostrel TZ-1000]"));
    EXPECT_TRUE(QueuesStartingWith("Ostrel").empty());
    std::string command = SecondPhaseCommand("LPT3:", " /Reinstall");
    EXPECT_EQ(command, RegText(kRunOnceKey, "TZ.INF"));

    CInstallContext second;
    ASSERT_TRUE(RunSecondPhase(second, command)) << second.GetErrorText();
    EXPECT_TRUE(LogHas("DBG Excecute() Reinstall Driver:[Ostrel TZ-1000] Port:[LPT3:] is added"));
    SpoolerState s = ReadSpooler();
    EXPECT_TRUE(Has(s.queues, Queue(kModel, "LPT1:")));
    EXPECT_TRUE(Has(s.queues, Queue("Ostrel TZ-1000 Office", "LPT2:")));
    EXPECT_TRUE(Has(s.queues, Queue("Ostrel TZ-1000 (1)", "LPT3:")));  // the model's name is taken
    EXPECT_EQ(3u, QueuesStartingWith("Ostrel").size());
    EXPECT_TRUE(LogHas("DBG AddDrv() Installed Driver [Ostrel TZ-1000]"));  // added once, for the first record
    EXPECT_EQ(records, Records());  // the records stay until the next reinstall
}

TEST_F(ExecuteTest, ReinstallSecondPhaseNeedsTheRecordsKey)
{
    FillWorkingFolder();
    std::string command = SecondPhaseCommand("LPT1:", " /Reinstall");
    {
        CInstallContext c;
        EXPECT_FALSE(RunSecondPhase(c, command));
        EXPECT_NE(std::string::npos, c.m_strError.find("::RegOpenKeyEx([SOFTWARE\\Ostrel\\TZ.INF]) E 2 "))
            << c.m_strError;
        EXPECT_TRUE(LogHasStart("ERR ::RegOpenKeyEx([SOFTWARE\\Ostrel\\TZ.INF]) E 2 "));
        EXPECT_TRUE(QueuesStartingWith("Ostrel").empty());
    }
    // An empty records key: only the queue of the command line.
    ASSERT_TRUE(CreateKey(kRecordsKey));
    CInstallContext c;
    ASSERT_TRUE(RunSecondPhase(c, command)) << c.GetErrorText();
    EXPECT_TRUE(LogHas("DBG Excecute() Reinstall Driver:[Ostrel TZ-1000] Port:[LPT1:] is added"));
    EXPECT_EQ((std::vector<std::string>{kModel}), QueuesStartingWith("Ostrel"));
    EXPECT_TRUE(Has(ReadSpooler().queues, Queue(kModel, "LPT1:")));
    EXPECT_TRUE(Records().empty());
}

TEST_F(ExecuteTest, ReinstallOnTheGenericUsbPortRecreatesNoQueueForIt)
{
    ASSERT_NO_FATAL_FAILURE(PrepareOperation(ctx, "USB", &ctx.m_bReinstall));
    ASSERT_TRUE(ctx.Excecute()) << ctx.GetErrorText();
    EXPECT_TRUE(Records().empty());
    std::string command = SecondPhaseCommand("USB", " /Reinstall");
    EXPECT_EQ(command, RegText(kRunOnceKey, "TZ.INF"));

    CInstallContext second;
    ASSERT_TRUE(RunSecondPhase(second, command)) << second.GetErrorText();
    EXPECT_TRUE(LogHas("DBG Excecute() Reinstall Driver:[Ostrel TZ-1000] Port:[USB] is added"));
    SpoolerState s = ReadSpooler();
    EXPECT_TRUE(Has(s.monitors, "jobtap"));
    EXPECT_TRUE(Has(s.drivers, kModel));
    EXPECT_TRUE(QueuesStartingWith("Ostrel").empty());
    EXPECT_EQ("(none)", RegText(kMonitorKey, kModel));
    EXPECT_EQ((std::vector<std::string>{"restart"}), m_dialogs.calls);  // and no USB notice in a reinstall
}

TEST_F(ExecuteTest, NestedContextThatFailsHandsItsErrorTextToTheOuterOne)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    // Another driver with the model's driver file, and a queue for it: the
    // reinstall records it, and the INF has no model of that name.
    std::string drvDir = PrinterDriverDirA();
    DRIVER_INFO_3A d = {};
    d.pName = (LPSTR) "kzt other";
    d.pDriverPath = (LPSTR) "KZTTZDRV.DLL";
    d.pDataFile = (LPSTR) "KZTTZ1000.DAT";
    d.pConfigFile = (LPSTR) "KZTTZUIF.DLL";
    d.pDefaultDataType = (LPSTR) "RAW";
    ASSERT_TRUE(AddPrinterDriverA(NULL, 3, (LPBYTE)&d)) << GetLastError();
    ASSERT_TRUE(AddTestQueue("kzt other queue", "kzt other", "LPT2:"));

    ASSERT_NO_FATAL_FAILURE(PrepareOperation(ctx, "LPT1:", &ctx.m_bReinstall));
    ctx.m_strError = "outer text\r\n";
    EXPECT_FALSE(ctx.Excecute());
    EXPECT_TRUE(Has(Records(), "kzt other queue|LPT2:|kzt other"));

    // The text is the one the nested context's own preparation gives.
    CInstallContext nested;
    nested.SetInfFileName(ctx.m_pInfFileName);
    nested.SetPrinterName("kzt other");
    ASSERT_TRUE(nested.SetupSysInfo());
    EXPECT_FALSE(nested.ParseInf());
    ASSERT_NE("", nested.m_strError);
    EXPECT_EQ(nested.m_strError, ctx.m_strError);
    // The failed removal stopped there, and no second phase is registered.
    EXPECT_EQ((std::vector<std::string>{"kzt other queue"}), QueuesStartingWith("kzt other"));
    EXPECT_TRUE(RunOnceNames().empty());
    EXPECT_TRUE(m_dialogs.calls.empty());
}

// --- uninstall --------------------------------------------------------------------------

TEST_F(ExecuteTest, UninstallRemovesQueueDriverAndValuesThenFilesAfterTheRestart)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    ASSERT_NO_FATAL_FAILURE(PrepareOperation(ctx, "LPT1:", &ctx.m_bUninstall));
    ASSERT_TRUE(ctx.Excecute()) << ctx.GetErrorText();
    EXPECT_EQ((std::vector<std::string>{"restart"}), m_dialogs.calls);
    EXPECT_TRUE(ctx.m_bDialogShown);
    SpoolerState s = ReadSpooler();
    EXPECT_TRUE(QueuesStartingWith("Ostrel").empty());
    EXPECT_FALSE(Has(s.drivers, kModel));
    EXPECT_TRUE(Has(s.monitors, "jobtap"));  // on Windows NT the monitor goes in the second phase
    EXPECT_EQ("(none)", RegText(kMonitorKey, kModel));
    EXPECT_EQ("(none)", RegText(kMonitorKey, "Ostrel TZ-1000 Head"));
    EXPECT_TRUE(ModelFilesInstalled());
    EXPECT_EQ(kModel, RegText(std::string(kUninstallKey) + "\\" + kModel, "DisplayName"));
    std::string command = SecondPhaseCommand("LPT1:", " /Uninstall");
    EXPECT_EQ(command, RegText(kRunOnceKey, "TZ.INF"));
    EXPECT_EQ((std::vector<std::string>{"TZ.INF"}), RunOnceNames());

    CInstallContext second;
    ASSERT_TRUE(RunSecondPhase(second, command)) << second.GetErrorText();
    s = ReadSpooler();
    EXPECT_FALSE(Has(s.monitors, "jobtap"));
    // Wine's DeletePrintProcessor answers success and keeps the processor listed.
    EXPECT_TRUE(LogHasStart("DBG ::DeletePrintProcessor([KZT TZ Print Processor]) R 1 E 0 "));
    for (const char *file : kModelFiles)
        EXPECT_FALSE(FileExists(PrinterDriverDirA() + "\\" + file)) << file;
    EXPECT_FALSE(FileExists(WindowsDirA() + "\\INF\\OstrelTZ.INF"));
    EXPECT_FALSE(KeyExists(std::string(kUninstallKey) + "\\" + kModel));
    EXPECT_EQ(1u, m_dialogs.calls.size());
}

TEST_F(ExecuteTest, FirstPhaseWithoutDialogsRegistersTheSecondPhaseAndAsksNothing)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    ASSERT_NO_FATAL_FAILURE(PrepareOperation(ctx, "LPT1:", &ctx.m_bUninstall));
    ctx.m_pDialogs = nullptr;
    ASSERT_TRUE(ctx.Excecute()) << ctx.GetErrorText();
    EXPECT_FALSE(ctx.m_bDialogShown);
    EXPECT_EQ(SecondPhaseCommand("LPT1:", " /Uninstall"), RegText(kRunOnceKey, "TZ.INF"));
}

TEST_F(ExecuteTest, RestartQuestionThatCannotBeShownCountsAsNotAsked)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    m_dialogs.restartAnswer = -1;
    ASSERT_NO_FATAL_FAILURE(PrepareOperation(ctx, "LPT1:", &ctx.m_bUninstall));
    ASSERT_TRUE(ctx.Excecute()) << ctx.GetErrorText();
    EXPECT_EQ((std::vector<std::string>{"restart"}), m_dialogs.calls);
    EXPECT_FALSE(ctx.m_bDialogShown);
}

// --- RunOnce ---------------------------------------------------------------------------

TEST_F(ExecuteTest, RunOnceCommandNamesTheWorkingFolderCopiesAndEverySwitch)
{
    ctx.SetPrinterName(kModel);
    ctx.m_pTempDirName = AllocSplStr("C:\\T\\OstrelTZ.INF");
    ctx.m_pExeBaseName = AllocSplStr("drvinst.exe");
    ctx.m_pInfBaseName = AllocSplStr("TZ.INF");
    TakeLog();
    const struct {
        const char *port;
        BOOL install, uninstall, reinstall, copy;
        const char *tail;
    } cases[] = {
        {"LPT1:", 1, 0, 0, 0, "\"LPT1:\" /RunOnce /Install"},
        {nullptr, 0, 1, 0, 0, "\"\" /RunOnce /Uninstall"},
        {"USB", 0, 0, 1, 0, "\"USB\" /RunOnce /Reinstall"},
        {"COM1:", 1, 1, 1, 1, "\"COM1:\" /RunOnce /Install /Uninstall /Reinstall /Copy"},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
        ctx.SetPortName(cases[i].port);
        ctx.m_bInstall = cases[i].install;
        ctx.m_bUninstall = cases[i].uninstall;
        ctx.m_bReinstall = cases[i].reinstall;
        ctx.m_bCopy = cases[i].copy;
        SetLastError(0xdeadbeef);
        ASSERT_TRUE(ctx.AddRunOnce()) << i << ctx.GetErrorText();
        EXPECT_EQ(0u, GetLastError()) << i;
        std::string command = "\"C:\\T\\OstrelTZ.INF\\drvinst.exe\" \"C:\\T\\OstrelTZ.INF\\TZ.INF\" "
                              "\"Ostrel TZ-1000\" " +
                              std::string(cases[i].tail);
        EXPECT_EQ(command, RegText(kRunOnceKey, "TZ.INF")) << i;
        EXPECT_EQ((std::vector<std::string>{"DBG ::RegOpenKeyEx([SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce]) E 0 ",
                                            "DBG ::RegSetValueEx([TZ.INF][" + command + "]) E 0 ",
                                            "DBG ::RegCloseKey E 0 "}),
                  TakeLog())
            << i;
    }
    EXPECT_EQ((std::vector<std::string>{"TZ.INF"}), RunOnceNames());
}

TEST_F(ExecuteTest, RunOnceCommandThatDoesNotFitIn256BytesIsNeverCut)
{
    // A working folder of n characters: the command holds it twice, with
    // 48 characters more for the names, quotes, blanks and switches.
    auto folder = [](size_t n) { return "C:\\" + std::string(n - 3, 'w'); };
    ctx.SetPrinterName("M");
    ctx.SetPortName("LPT1:");
    ctx.m_pExeBaseName = AllocSplStr("drvinst.exe");
    ctx.m_pInfBaseName = AllocSplStr("TZ.INF");
    ctx.m_bUninstall = TRUE;
    const size_t kRest = std::string("\"\\drvinst.exe\" \"\\TZ.INF\" \"M\" \"LPT1:\" /RunOnce /Uninstall").size();
    const struct {
        size_t length;  // the whole command's length
        bool fits;
    } cases[] = {{254, true}, {255, true}, {256, false}, {300, false}};
    for (const auto &c : cases) {
        size_t n = (c.length - kRest) / 2;
        std::string dir = folder(n);
        std::string exe = std::string(c.length - kRest - 2 * n, 'e') + "drvinst.exe";
        FreeSplStr(ctx.m_pTempDirName);
        FreeSplStr(ctx.m_pExeBaseName);
        ctx.m_pTempDirName = AllocSplStr(dir.c_str());
        ctx.m_pExeBaseName = AllocSplStr(exe.c_str());
        std::string command = "\"" + dir + "\\" + exe + "\" \"" + dir + "\\TZ.INF\" \"M\" \"LPT1:\" /RunOnce /Uninstall";
        ASSERT_EQ(c.length, command.size());
        RemoveRunOnceEntries();
        ctx.m_strError.clear();
        EXPECT_EQ(c.fits, !!ctx.AddRunOnce()) << c.length;
        if (c.fits) {
            EXPECT_EQ(command, RegText(kRunOnceKey, "TZ.INF")) << c.length;
            EXPECT_EQ("", ctx.m_strError);
        } else {
            EXPECT_TRUE(RunOnceNames().empty()) << c.length;
            EXPECT_EQ("AddRunOnce() Length [" + command + "]\r\n", ctx.m_strError);
        }
    }
}

TEST_F(ExecuteTest, FirstPhaseFromALongWorkingFolderFailsAtTheRunOnceCommand)
{
    // The working folder takes its name from the INF: a long INF name gives a
    // folder that fits, and a command (which holds it twice) that does not.
    std::string name = std::string(80, 'L') + ".INF";
    std::string inf = m_package + "\\" + name;
    ASSERT_TRUE(CopyFileA((m_package + "\\TZ.INF").c_str(), inf.c_str(), FALSE));
    CInstallContext c;
    ASSERT_NO_FATAL_FAILURE(Prepare(c, kModel, "LPT1:", nullptr, inf));
    SetProgram(c);
    c.m_bUninstall = TRUE;
    c.m_pDialogs = &m_dialogs;
    std::string work = TempPathA() + "Ostrel" + name;
    EXPECT_FALSE(c.Excecute());
    RemoveTree(work);
    EXPECT_EQ(0u, c.m_strError.find("AddRunOnce() Length [\"" + work + "\\execute_test.exe\" \"" + work + "\\" + name))
        << c.m_strError;
    EXPECT_TRUE(RunOnceNames().empty());
    EXPECT_TRUE(m_dialogs.calls.empty());
}

// --- the Uninstall entry -----------------------------------------------------------------

TEST_F(ExecuteTest, UninstallEntryIsWrittenAndDeleted)
{
    ctx.SetPrinterName(kModel);
    ctx.m_pTempDirName = AllocSplStr("C:\\T\\OstrelTZ.INF");
    ctx.m_pExeBaseName = AllocSplStr("drvinst.exe");
    ctx.m_pInfBaseName = AllocSplStr("TZ.INF");
    std::string entry = std::string(kUninstallKey) + "\\" + kModel;
    TakeLog();
    SetLastError(0xdeadbeef);
    ASSERT_TRUE(ctx.AddUninstallKey()) << ctx.GetErrorText();
    EXPECT_EQ(0u, GetLastError());
    EXPECT_EQ(kModel, RegText(entry, "DisplayName"));
    EXPECT_EQ("\"C:\\T\\OstrelTZ.INF\\drvinst.exe\" \"C:\\T\\OstrelTZ.INF\\TZ.INF\" \"Ostrel TZ-1000\" /uninstall",
              RegText(entry, "UninstallString"));
    std::vector<std::string> log = TakeLog();
    ASSERT_EQ(6u, log.size());
    EXPECT_EQ(0u, log[0].find("DBG ::RegOpenKeyEx([SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall]) h x"));
    EXPECT_EQ(0u, log[1].find("DBG ::RegCreateKeyEx([Ostrel TZ-1000]) h x"));
    EXPECT_EQ("DBG ::RegSetValueEx([DisplayName],[Ostrel TZ-1000]) E 0 ", log[2]);
    EXPECT_EQ("DBG ::RegSetValueEx([UninstallString],[" + RegText(entry, "UninstallString") + "]) E 0 ", log[3]);
    EXPECT_EQ(0u, log[4].find("DBG ::RegCloseKey(x"));
    EXPECT_EQ(0u, log[5].find("DBG ::RegCloseKey(x"));

    // Written again over itself; deleted; deleting what is gone succeeds.
    ASSERT_TRUE(ctx.AddUninstallKey());
    ASSERT_TRUE(ctx.DelUninstallKey()) << ctx.GetErrorText();
    EXPECT_FALSE(KeyExists(entry));
    TakeLog();
    ASSERT_TRUE(ctx.DelUninstallKey()) << ctx.GetErrorText();
    log = TakeLog();
    ASSERT_EQ(3u, log.size());
    EXPECT_NE(std::string::npos, log[1].find(",[Ostrel TZ-1000]) E 2 ")) << log[1];
    EXPECT_EQ(0u, log[1].find("DBG ::RegDeleteKey(x"));
    EXPECT_TRUE(KeyExists(kUninstallKey));
    EXPECT_EQ("", ctx.m_strError);
}

TEST_F(ExecuteTest, UninstallEntryNeedsItsNamesAndAStringThatFits)
{
    ctx.m_pTempDirName = AllocSplStr("C:\\T\\OstrelTZ.INF");
    ctx.m_pExeBaseName = AllocSplStr("drvinst.exe");
    ctx.m_pInfBaseName = AllocSplStr("TZ.INF");
    // Without a model name the Uninstall key itself would be written or deleted.
    for (const char *model : {(const char *)nullptr, ""}) {
        ctx.SetPrinterName(model);
        ctx.m_strError.clear();
        EXPECT_FALSE(ctx.AddUninstallKey());
        EXPECT_EQ("AddUninstallKey() m_pPrinterName\r\n", ctx.m_strError);
        ctx.m_strError.clear();
        EXPECT_FALSE(ctx.DelUninstallKey());
        EXPECT_EQ("DelUninstallKey() m_pPrinterName\r\n", ctx.m_strError);
        EXPECT_EQ("(none)", RegText(kUninstallKey, "DisplayName"));
        EXPECT_TRUE(KeyExists(kUninstallKey));
    }
    // An uninstall command beyond 256 bytes is no entry at all.
    std::string model(220, 'm');
    ctx.SetPrinterName(model.c_str());
    ctx.m_strError.clear();
    EXPECT_FALSE(ctx.AddUninstallKey());
    EXPECT_EQ(0u, ctx.m_strError.find("AddUninstallKey() Length [\"C:\\T\\OstrelTZ.INF\\drvinst.exe\" ")) << ctx.m_strError;
    EXPECT_FALSE(KeyExists(std::string(kUninstallKey) + "\\" + model));
}
