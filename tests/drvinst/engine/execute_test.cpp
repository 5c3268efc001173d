// The execution sequence of the install engine through the installer's
// context, against Wine's spooler, file system and registry: an install of
// the sample package, the install that finds other files installed and turns
// into a reinstall, the first phases of a reinstall and an uninstall (RunOnce
// entry and restart question) and their second phases started from the very
// command the first phase registered, the generic USB port, a nested context
// that fails, and jobs printed through an installed queue.
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
    EXPECT_EQ(Quoted(KeptDirA() + "\\execute_test.exe") + " " + Quoted(KeptDirA() + "\\TZ.INF") + " " +
                  Quoted(kModel) + " /uninstall",
              RegText(entry, "UninstallString"));
    EXPECT_EQ("1.0.0.1", RegText(entry, "DisplayVersion"));  // the INF's DriverVer
    RegValue size = GetValue(entry, "EstimatedSize");         // the files, in KB
    ASSERT_EQ(4u, size.bytes.size());
    EXPECT_LE(100u, *(const DWORD *)size.bytes.data());
    EXPECT_EQ(ReadBytes(m_package + "\\TZ.INF"), ReadBytes(KeptDirA() + "\\TZ.INF"));
    EXPECT_TRUE(FileExists(KeptDirA() + "\\execute_test.exe"));
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

// --- printing through the installed queue -------------------------------------------

// The print processor's record of the spooler's calls (one line each), taken
// and removed.
static std::string TakeProcessorRecord()
{
    const std::string path = TempPathA() + "KZTTZPP.log";
    std::string text = ReadBytes(path);
    DeleteFileA(path.c_str());
    return text;
}

// An ANSI text as UTF-16, for the print processor's wide entry points.
static std::wstring Wide(const std::string &text)
{
    std::wstring wide(text.size() + 1, L'\0');
    int cch = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], (int)wide.size());
    wide.resize(cch > 0 ? cch - 1 : 0);
    return wide;
}

// Prints bytes as one RAW job on queue, into the file out, through the
// spooler: OpenPrinter, StartDocPrinter, WritePrinter, EndDocPrinter. Returns
// EndDocPrinter's result; *pJobId gets the job's id.
static BOOL PrintRawJob(const char *queue, const std::string &out, const std::string &bytes, DWORD *pJobId)
{
    HANDLE hPrinter = NULL;
    if (!OpenPrinterA((LPSTR)queue, &hPrinter, NULL)) {
        ADD_FAILURE() << "OpenPrinter " << queue << " E " << GetLastError();
        return FALSE;
    }
    DOC_INFO_1A doc = {(LPSTR) "kzt job", (LPSTR)out.c_str(), (LPSTR) "RAW"};
    *pJobId = StartDocPrinterA(hPrinter, 1, (LPBYTE)&doc);
    EXPECT_NE(0u, *pJobId) << GetLastError();
    DWORD cbWritten = 0;
    EXPECT_TRUE(WritePrinter(hPrinter, (LPVOID)bytes.data(), (DWORD)bytes.size(), &cbWritten)) << GetLastError();
    EXPECT_EQ(bytes.size(), cbWritten);
    BOOL bEnded = EndDocPrinter(hPrinter);
    DWORD dwError = GetLastError();
    ClosePrinter(hPrinter);
    SetLastError(dwError);
    return bEnded;
}

// A job on a queue of the package runs through the package's print processor
// when the application ends it: the spooler asks for its data types, opens it
// for the job's port ("FILE:, Port" for a job with an output file) and has it
// print the job by name, then closes it. The bytes reach the file unchanged,
// in more than one block; Wine sends no job through the driver's language
// monitor, so none of its head and tail bytes appear.
TEST_F(ExecuteTest, JobOnAnInstalledQueueRunsThroughThePackagesPrintProcessor)
{
    TakeProcessorRecord();
    ASSERT_NO_FATAL_FAILURE(PrepareOperation(ctx, "FILE:", &ctx.m_bInstall));
    ASSERT_TRUE(ctx.Excecute()) << ctx.GetErrorText();
    ASSERT_TRUE(Has(ReadSpooler().queues, Queue(kModel, "FILE:")));

    std::string bytes = "\x1b@job";
    for (int i = 0; i < 10000; i++)
        bytes += (char)(i * 7);
    const std::string out = m_dir + "\\job.prn";
    DWORD id = 0;
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(PrintRawJob(kModel, out, bytes, &id)) << GetLastError();
    EXPECT_TRUE(ReadBytes(out) == bytes) << ReadBytes(out).size() << " bytes";

    const std::string job = std::string(kModel) + ", Job " + std::to_string(id);
    const std::string types = "EnumPrintProcessorDatatypesW [(null)] [" + std::string(kProcessor) + "] 1 ";
    EXPECT_EQ(types + "0\r\n" + types + std::to_string(sizeof(DATATYPES_INFO_1W) + sizeof(L"RAW")) + "\r\n" +
                  "OpenPrintProcessor [FILE:, Port] [RAW] " + std::to_string(id) + " [" + kModel + "] [kzt job] [" +
                  out + "] [(null)] devmode no\r\n" + "PrintDocumentOnPrintProcessor [" + job + "] job [" + job +
                  "] E 0 bytes " + std::to_string(bytes.size()) + "\r\nClosePrintProcessor\r\n",
              TakeProcessorRecord());
}

// A queue on a port that Wine's local port monitor cannot start a document on
// (LPT1:, no output file): the processor's StartDocPrinter on "LPT1:, Port"
// fails with ERROR_CALL_NOT_IMPLEMENTED, it reports that, and the
// application's EndDocPrinter fails.
TEST_F(ExecuteTest, JobOnAQueueWhosePortCannotPrintFailsAtEndDocPrinter)
{
    TakeProcessorRecord();
    ASSERT_NO_FATAL_FAILURE(Install("LPT1:"));
    HANDLE hPrinter = NULL;
    ASSERT_TRUE(OpenPrinterA((LPSTR)kModel, &hPrinter, NULL)) << GetLastError();
    DOC_INFO_1A doc = {(LPSTR) "kzt job", NULL, (LPSTR) "RAW"};
    DWORD id = StartDocPrinterA(hPrinter, 1, (LPBYTE)&doc);
    EXPECT_NE(0u, id);
    DWORD cbWritten = 0;
    EXPECT_TRUE(WritePrinter(hPrinter, (LPVOID) "\x1b@job", 5, &cbWritten));
    EXPECT_FALSE(EndDocPrinter(hPrinter));
    ClosePrinter(hPrinter);
    const std::string job = std::string(kModel) + ", Job " + std::to_string(id);
    std::string record = TakeProcessorRecord();
    EXPECT_NE(std::string::npos, record.find("OpenPrintProcessor [LPT1:, Port] [RAW] " + std::to_string(id) + " [" +
                                             kModel + "] [kzt job] [LPT1:] "))
        << record;
    EXPECT_NE(std::string::npos, record.find("PrintDocumentOnPrintProcessor [" + job + "] job [" + job +
                                             "] E 120 bytes 0\r\nClosePrintProcessor\r\n"))
        << record;
}

// The print processor as the spooler drives it, called directly on a job
// that an application has written and not yet ended: a data type other than
// RAW is refused at the opening, a cancelled job is not printed, a paused and
// resumed one is, and commands it does not know or handles it did not give
// fail as the platform's processors fail them.
TEST_F(ExecuteTest, PackagesPrintProcessorRefusesOtherDataTypesAndHonoursJobControl)
{
    ASSERT_NO_FATAL_FAILURE(Install("FILE:"));
    HMODULE hDll = LoadLibraryA((ProcessorDirA() + "\\" + kProcessorFile).c_str());
    ASSERT_TRUE(hDll != NULL) << GetLastError();
    auto open = (HANDLE(WINAPI *)(LPWSTR, PPRINTPROCESSOROPENDATA))GetProcAddress(hDll, "OpenPrintProcessor");
    auto print = (BOOL(WINAPI *)(HANDLE, LPWSTR))GetProcAddress(hDll, "PrintDocumentOnPrintProcessor");
    auto control = (BOOL(WINAPI *)(HANDLE, DWORD))GetProcAddress(hDll, "ControlPrintProcessor");
    auto close = (BOOL(WINAPI *)(HANDLE))GetProcAddress(hDll, "ClosePrintProcessor");
    ASSERT_TRUE(open && print && control && close);

    HANDLE hPrinter = NULL;
    ASSERT_TRUE(OpenPrinterA((LPSTR)kModel, &hPrinter, NULL)) << GetLastError();
    DOC_INFO_1A doc = {(LPSTR) "kzt job", NULL, (LPSTR) "RAW"};
    DWORD id = StartDocPrinterA(hPrinter, 1, (LPBYTE)&doc);
    ASSERT_NE(0u, id) << GetLastError();
    DWORD cbWritten = 0;
    EXPECT_TRUE(WritePrinter(hPrinter, (LPVOID) "\x1b@job", 5, &cbWritten));

    const std::wstring out = Wide(m_dir + "\\direct.prn");
    const std::wstring job = Wide(std::string(kModel) + ", Job " + std::to_string(id));
    std::wstring port = L"FILE:, Port", queue = Wide(kModel), name = L"kzt job", text = L"TEXT", raw = L"RAW";
    PRINTPROCESSOROPENDATA data = {NULL, &text[0], NULL, &name[0], id, (LPWSTR)out.c_str(), &queue[0]};
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(open(&port[0], &data) == NULL);
    EXPECT_EQ((DWORD)ERROR_INVALID_DATATYPE, GetLastError());

    data.pDatatype = &raw[0];
    HANDLE h = open(&port[0], &data);
    ASSERT_TRUE(h != NULL) << GetLastError();
    EXPECT_TRUE(control(h, JOB_CONTROL_CANCEL));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(print(h, (LPWSTR)job.c_str()));
    EXPECT_EQ((DWORD)ERROR_PRINT_CANCELLED, GetLastError());
    EXPECT_EQ("", ReadBytes(Narrow(out)));
    EXPECT_TRUE(close(h));

    h = open(&port[0], &data);
    ASSERT_TRUE(h != NULL) << GetLastError();
    EXPECT_TRUE(control(h, JOB_CONTROL_PAUSE));
    EXPECT_TRUE(control(h, JOB_CONTROL_RESUME));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(control(h, JOB_CONTROL_RESTART));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
    EXPECT_TRUE(print(h, (LPWSTR)job.c_str())) << GetLastError();
    EXPECT_EQ("\x1b@job", ReadBytes(Narrow(out)));
    EXPECT_TRUE(close(h));

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(control(NULL, JOB_CONTROL_PAUSE));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(print(NULL, (LPWSTR)job.c_str()));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());

    EXPECT_TRUE(EndDocPrinter(hPrinter));  // the application's job, printed as usual
    ClosePrinter(hPrinter);
    FreeLibrary(hDll);
    TakeProcessorRecord();
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

// Quiet, and for another port than the queue's (it was moved): the upgrade
// keeps the queue where it is and adds none on the command line's port.
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

    ASSERT_NO_FATAL_FAILURE(PrepareOperation(ctx, "LPT2:", &ctx.m_bInstall));
    ctx.m_bQuiet = TRUE;
    ASSERT_TRUE(ctx.Excecute()) << ctx.GetErrorText();
    EXPECT_FALSE(ctx.m_bInstall);
    EXPECT_TRUE(ctx.m_bReinstall);
    EXPECT_TRUE(LogHasStart("DBG Diff [KZTTZDRV.DLL] ["));
    EXPECT_TRUE(LogHasStart("DBG Excecute() [Ostrel TZ-1000] has its queue on [LPT1:], not on [LPT2:]: kept there"));
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
    std::string command = SecondPhaseCommand("LPT1:", " /Reinstall /quiet");
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
    EXPECT_TRUE(Has(s.queues, kOfficeQueueBack));
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

// A queue whose driver shares the model's driver file but is no model of the
// INF is none of the reinstall's business: it is neither recorded nor
// removed.
TEST_F(ExecuteTest, ReinstallLeavesQueuesOfDriversThatAreNoModelOfTheInfAlone)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    DRIVER_INFO_3A d = {};
    d.pName = (LPSTR) "kzt other";
    d.pDriverPath = (LPSTR) "KZTTZDRV.DLL";
    d.pDataFile = (LPSTR) "KZTTZ1000.DAT";
    d.pConfigFile = (LPSTR) "KZTTZUIF.DLL";
    d.pDefaultDataType = (LPSTR) "RAW";
    ASSERT_TRUE(AddPrinterDriverA(NULL, 3, (LPBYTE)&d)) << GetLastError();
    ASSERT_TRUE(AddTestQueue("kzt other queue", "kzt other", "LPT2:"));

    ASSERT_NO_FATAL_FAILURE(PrepareOperation(ctx, "LPT1:", &ctx.m_bReinstall));
    ASSERT_TRUE(ctx.Excecute()) << ctx.GetErrorText();
    EXPECT_EQ((std::vector<std::string>{"Ostrel TZ-1000|LPT1:|Ostrel TZ-1000"}), Records());
    EXPECT_TRUE(LogHas("DBG Excecute() Not of this INF [kzt other queue] [kzt other]"));
    EXPECT_EQ((std::vector<std::string>{"kzt other queue"}), QueuesStartingWith("kzt other"));
}

// A recorded driver whose nested context cannot be prepared whole (its
// install section is gone from the INF) stops the first phase before
// anything is removed or registered; its text is the nested context's own.
TEST_F(ExecuteTest, NestedContextThatFailsStopsTheFirstPhaseBeforeAnyRemoval)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    ASSERT_NO_FATAL_FAILURE(Install("LPT2:", kSecondModel));
    const std::string inf = m_package + "\\TZ.INF";
    std::string text = ReadBytes(inf);
    text.replace(text.find("= TZ2000.Install"), 16, "= TZ2000.Gone");
    WriteFile("package\\TZ.INF", text);

    ASSERT_NO_FATAL_FAILURE(PrepareOperation(ctx, "LPT1:", &ctx.m_bReinstall));
    EXPECT_FALSE(ctx.Excecute());
    CInstallContext nested;
    nested.SetInfFileName(ctx.m_pInfFileName);
    nested.SetPrinterName(kSecondModel);
    ASSERT_TRUE(nested.SetupSysInfo());
    nested.ParseInf();
    nested.SetupSplInfo();
    ASSERT_NE(std::string::npos, nested.m_strError.find("[TZ2000.Gone]")) << nested.m_strError;
    EXPECT_EQ(nested.m_strError, ctx.m_strError);
    EXPECT_EQ((std::vector<std::string>{kModel, kSecondModel}), QueuesStartingWith("Ostrel"));
    EXPECT_TRUE(Has(ReadSpooler().drivers, kModel));
    EXPECT_TRUE(Records().empty());
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
    EXPECT_FALSE(FileExists(KeptDirA() + "\\TZ.INF"));  // the INF's last model went
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
    ASSERT_NO_FATAL_FAILURE(Install("LPT2:", kSecondModel));
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

    // A job on the remaining queue still prints: the spooler loads the
    // package's print processor from its directory, and the bytes reach the file.
    const std::string out = m_dir + "\\second-model.prn";
    DWORD id = 0;
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(PrintRawJob(kSecondModel, out, "\x1b@job", &id)) << GetLastError();
    EXPECT_EQ("\x1b@job", ReadBytes(out));
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
