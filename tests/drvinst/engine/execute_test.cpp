// The execution sequence of the install engine through the installer's
// context, against Wine's spooler, file system and registry: an install of
// the sample package, the install that finds other files installed and turns
// into a reinstall, the first phases of a reinstall and an uninstall (RunOnce
// entry and restart question) and their second phases started from the very
// command the first phase registered, the generic USB port, a nested context
// that fails.
#include "executefixture.h"
#include "regkeys.h"
#include "testenv.h"

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

// Both models share the print processor, the language monitor and most
// files. Uninstalling one, both phases, leaves the other one printing: its
// driver, its queue, the processor (never asked to go) with its file, the
// monitor and every file its driver names; only the uninstalled model's own
// data file goes.
TEST_F(ExecuteTest, UninstallingOneModelKeepsWhatTheOtherModelUses)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    {
        CInstallContext other;
        ASSERT_NO_FATAL_FAILURE(Prepare(other, kSecondModel, "LPT2:"));
        SetProgram(other);
        other.m_bInstall = TRUE;
        ASSERT_TRUE(other.Excecute()) << other.GetErrorText();
    }
    const std::string processorFile = ProcessorDirA() + "\\" + kProcessorFile;
    EXPECT_TRUE(ReadBytes(m_package + "\\" + kProcessorFile) == ReadBytes(processorFile));  // no dump of a DLL

    ASSERT_NO_FATAL_FAILURE(PrepareOperation(ctx, "LPT1:", &ctx.m_bUninstall));
    ASSERT_TRUE(ctx.Excecute()) << ctx.GetErrorText();
    EXPECT_EQ((std::vector<std::string>{"restart"}), m_dialogs.calls);  // answered No
    CInstallContext second;
    ASSERT_TRUE(RunSecondPhase(second, SecondPhaseCommand("LPT1:", " /Uninstall"))) << second.GetErrorText();

    SpoolerState s = ReadSpooler();
    EXPECT_FALSE(Has(s.drivers, kModel));
    EXPECT_TRUE(Has(s.drivers, kSecondModel));
    EXPECT_EQ((std::vector<std::string>{kSecondModel}), QueuesStartingWith("Ostrel"));
    EXPECT_TRUE(Has(s.queues, std::string(kSecondModel) + "|LPT2:|" + kSecondModel + "|" + kProcessor + "|RAW"));
    EXPECT_TRUE(Has(s.processors, kProcessor));
    // Wine's DeletePrintProcessor deletes nothing: that it was never called shows.
    EXPECT_FALSE(LogHasStart("DBG ::DeletePrintProcessor("));
    EXPECT_FALSE(LogHasStart("DBG ::DeleteMonitor("));
    EXPECT_TRUE(Has(s.monitors, "jobtap"));
    EXPECT_TRUE(FileExists(processorFile));
    const std::string drvDir = PrinterDriverDirA();
    for (const char *file : {"KZTTZDRV.DLL", "KZTTZUIF.DLL", "KZTTZRES.DLL", "KZTTZ2000.DAT", "KZTTZ.HLP"})
        EXPECT_TRUE(FileExists(drvDir + "\\" + file)) << file;
    EXPECT_FALSE(FileExists(drvDir + "\\KZTTZ1000.DAT"));
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof(system));
    EXPECT_TRUE(FileExists(std::string(system) + "\\jobtap.dll"));
    EXPECT_EQ("vigil.exe", RegText(kMonitorKey, kSecondModel));
    EXPECT_FALSE(KeyExists(std::string(kUninstallKey) + "\\" + kModel));
    EXPECT_EQ(kSecondModel, RegText(std::string(kUninstallKey) + "\\" + kSecondModel, "DisplayName"));

    // A job on the remaining queue goes to the package's print processor: the
    // spooler loads it from its directory and opens it, and the stand-in
    // (which processes no job) answers ERROR_NOT_SUPPORTED. Without the file
    // Wine would print the job without it.
    const std::string out = m_dir + "\\second-model.prn";
    HANDLE hPrinter = NULL;
    ASSERT_TRUE(OpenPrinterA((LPSTR)kSecondModel, &hPrinter, NULL)) << GetLastError();
    DOC_INFO_1A doc = {(LPSTR) "kzt job", (LPSTR)out.c_str(), (LPSTR) "RAW"};
    EXPECT_NE(0u, StartDocPrinterA(hPrinter, 1, (LPBYTE)&doc)) << GetLastError();
    DWORD cbWritten = 0;
    EXPECT_TRUE(WritePrinter(hPrinter, (LPVOID) "\x1b@job", 5, &cbWritten));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(EndDocPrinter(hPrinter));
    EXPECT_EQ((DWORD)ERROR_NOT_SUPPORTED, GetLastError());
    ClosePrinter(hPrinter);
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
