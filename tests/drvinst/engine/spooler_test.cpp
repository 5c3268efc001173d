// The spooler components of the install engine, through the installer's
// context, against Wine's spooler: the records built from the INF, the
// spooler's lists, adding and removing each component, the queue names, and
// the queues that use the driver.
#include "enginefixture.h"
#include "splstr.h"
#include "testenv.h"
#include <memory>

namespace {

const char kProcessorsW95[] = "System\\CurrentControlSet\\Control\\Print\\Environments\\Windows 4.0\\Print Processors";
const char kMonitorLine[] = "DBG ::AddMonitor([jobtap]) R 1 E 0 ";

// An INF with one model, "kzt model", whose install section holds lines.
std::string TinyInf(const std::string &lines)
{
    return "[Manufacturer]\nM=Models\n[Models]\n\"kzt model\" = Inst\n[DestinationDirs]\nDefaultDestDir=66000\n"
           "[Inst]\n" +
           lines;
}

std::string Str(const char *p)
{
    return p ? p : "(null)";
}

// The four records as one text: monitor, print processor, driver, queue.
std::string Records(const CInstallContext &c)
{
    const DRIVER_INFO_3A &d = c.m_DriverInfo3;
    const PRINTER_INFO_2A &q = c.m_PrinterInfo2;
    return "mon " + Str(c.m_MonitorInfo2.pName) + "|" + Str(c.m_MonitorInfo2.pEnvironment) + "|" +
           Str(c.m_MonitorInfo2.pDLLName) + "\nproc " + Str(c.m_PrnProcInfo.pName) + "|" +
           Str(c.m_PrnProcInfo.pEnvironment) + "|" + Str(c.m_PrnProcInfo.pDLLName) + "\ndrv " +
           std::to_string(d.cVersion) + "|" + Str(d.pName) + "|" + Str(d.pEnvironment) + "|" + Str(d.pDriverPath) +
           "|" + Str(d.pDataFile) + "|" + Str(d.pConfigFile) + "|" + Str(d.pHelpFile) + "|" +
           Str(d.pDependentFiles) + "|" + Str(d.pMonitorName) + "|" + Str(d.pDefaultDataType) + "\nqueue " +
           Str(q.pPrinterName) + "|" + Str(q.pPortName) + "|" + Str(q.pDriverName) + "|" + Str(q.pPrintProcessor) +
           "|" + Str(q.pDatatype) + "|" + std::to_string(q.Attributes) + "|" + std::to_string(q.Priority) + "|" +
           Str(q.pParameters) + "\n";
}

const std::string kEnv = sizeof(void *) == 8 ? "Windows x64" : "Windows NT x86";

// A driver record of the spooler, by name, as text; empty when absent.
std::string InstalledDriver(const char *name)
{
    DWORD cb = 0, c = 0;
    EnumPrinterDriversA(NULL, NULL, 3, NULL, 0, &cb, &c);
    std::vector<BYTE> b(cb + 4096);
    if (!EnumPrinterDriversA(NULL, NULL, 3, b.data(), cb, &cb, &c))
        return "";
    for (DWORD i = 0; i < c; i++) {
        const DRIVER_INFO_3A &d = ((const DRIVER_INFO_3A *)b.data())[i];
        if (lstrcmpiA(d.pName, name))
            continue;
        auto file = [](const char *p) {
            const char *slash = p ? strrchr(p, '\\') : NULL;
            return Str(slash ? slash + 1 : p);
        };
        std::string deps;
        for (const char *p = d.pDependentFiles; p && *p; p += strlen(p) + 1)
            deps += file(p) + ",";
        return file(d.pDriverPath) + "|" + file(d.pDataFile) + "|" + file(d.pConfigFile) + "|" +
               file(d.pHelpFile) + "|" + deps + "|" + Str(d.pMonitorName) + "|" + Str(d.pDefaultDataType);
    }
    return "";
}

// Copies a key's subkeys with their string values, deletes them and the key,
// and puts them back when it goes.
class KeyAway {
public:
    explicit KeyAway(const char *path) : path_(path)
    {
        HKEY h;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &h))
            return;
        char sub[256];
        for (DWORD i = 0;; i++) {
            DWORD cch = sizeof(sub);
            if (RegEnumKeyExA(h, i, sub, &cch, NULL, NULL, NULL, NULL))
                break;
            HKEY hs;
            if (RegOpenKeyExA(h, sub, 0, KEY_READ, &hs))
                continue;
            char name[256];
            BYTE data[512];
            for (DWORD j = 0;; j++) {
                DWORD cchName = sizeof(name), cb = sizeof(data), type = 0;
                if (RegEnumValueA(hs, j, name, &cchName, NULL, &type, data, &cb))
                    break;
                saved_.push_back({sub, name, std::string((char *)data, cb), type});
            }
            subkeys_.push_back(sub);
            RegCloseKey(hs);
        }
        for (const std::string &s : subkeys_)
            RegDeleteKeyA(h, s.c_str());
        RegCloseKey(h);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, path);
    }
    ~KeyAway()
    {
        for (const std::string &s : subkeys_) {
            HKEY h;
            RegCreateKeyExA(HKEY_LOCAL_MACHINE, (path_ + "\\" + s).c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &h, NULL);
            for (const Value &v : saved_) {
                if (v.sub == s)
                    RegSetValueExA(h, v.name.c_str(), 0, v.type, (const BYTE *)v.data.data(), (DWORD)v.data.size());
            }
            RegCloseKey(h);
        }
    }

private:
    struct Value {
        std::string sub, name, data;
        DWORD type;
    };
    std::string path_;
    std::vector<std::string> subkeys_;
    std::vector<Value> saved_;
};

bool KeyExists(const std::string &path)
{
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &h))
        return false;
    RegCloseKey(h);
    return true;
}

}  // namespace

class SpoolerTest : public EngineTest {
protected:
    // Monitor, print processor, driver and one queue of a prepared model, each
    // of which must succeed.
    void Install(CInstallContext &c)
    {
        CopyModelFiles(c);
        ASSERT_TRUE(c.AddMon()) << c.GetErrorText();
        ASSERT_TRUE(c.AddProc()) << c.GetErrorText();
        ASSERT_TRUE(c.AddDrv()) << c.GetErrorText();
        ASSERT_TRUE(c.AddQueue()) << c.GetErrorText();
    }
    // Log lines taken since the last call that start with start.
    std::vector<std::string> LinesStarting(const std::string &start)
    {
        std::vector<std::string> lines;
        for (const std::string &line : TakeLog()) {
            if (line.compare(0, start.size(), start) == 0)
                lines.push_back(line);
        }
        return lines;
    }
};

// --- the records ------------------------------------------------------------

TEST_F(SpoolerTest, SampleModelRecordsAreLoggedFieldByField)
{
    ASSERT_NO_FATAL_FAILURE(Prepare(ctx, "Ostrel TZ-1000"));
    TakeLog();
    ASSERT_TRUE(ctx.SetupSplInfo());  // a second time: the records are built afresh
    const std::vector<std::string> expected = {
        "DBG MONITOR_INFO_2.pName [jobtap]",
        "DBG MONITOR_INFO_2.pEnvironment [" + kEnv + "]",
        "DBG MONITOR_INFO_2.pDLLName [jobtap.dll]",
        "DBG PRNPROC_INFO.pName [KZT TZ Print Processor]",
        "DBG PRNPROC_INFO.pEnvironment [" + kEnv + "]",
        "DBG PRNPROC_INFO.pDLLName [KZTTZPP.DLL]",
        "DBG DRIVER_INFO_3.cVersion 0",
        "DBG DRIVER_INFO_3.pName [Ostrel TZ-1000]",
        "DBG DRIVER_INFO_3.pEnvironment [" + kEnv + "]",
        "DBG DRIVER_INFO_3.pDriverPath [KZTTZDRV.DLL]",
        "DBG DRIVER_INFO_3.pDataFile [KZTTZ1000.DAT]",
        "DBG DRIVER_INFO_3.pConfigFile [KZTTZUIF.DLL]",
        "DBG DRIVER_INFO_3.pHelpFile [KZTTZ.HLP]",
        "DBG DRIVER_INFO_3.pDependentFiles [KZTTZRES.DLL,jobtap.dll,vigil.exe,KZTTZPP.DLL,]",
        "DBG DRIVER_INFO_3.pMonitorName [jobtap]",
        "DBG DRIVER_INFO_3.pDefaultDataType [RAW]",
        "DBG PRINTER_INFO_2.pPrinterName [Ostrel TZ-1000]",
        "DBG PRINTER_INFO_2.pPortName [LPT1:]",
        "DBG PRINTER_INFO_2.pDriverName [Ostrel TZ-1000]",
        "DBG PRINTER_INFO_2.pPrintProcessor [KZT TZ Print Processor]",
        "DBG PRINTER_INFO_2.pDatatype [RAW]",
    };
    EXPECT_EQ(expected, TakeLog());
    // Owned copies: the driver's monitor name is not the monitor record's string.
    EXPECT_NE(ctx.m_MonitorInfo2.pName, ctx.m_DriverInfo3.pMonitorName);
    EXPECT_NE(ctx.m_pPrinterName, ctx.m_DriverInfo3.pName);
}

TEST_F(SpoolerTest, RecordsFollowTheInstallSection)
{
    const std::string env = kEnv;
    const struct {
        const char *lines;
        const char *queue;  // m_pQueueName, or null
        std::string records;
    } cases[] = {
        // No directive: no monitor, no print processor; the install section's
        // name stands for the driver and data files, the driver file for the
        // configuration file, RAW for the data type.
        {"", nullptr,
         "mon (null)|(null)|(null)\nproc (null)|(null)|(null)\n"
         "drv 0|kzt model|" + env + "|Inst|Inst|Inst|(null)|(null)|(null)|RAW\n"
         "queue kzt model|LPT1:|kzt model|WinPrint|RAW|0|0|(null)\n"},
        {"DriverFile=D.DLL,ignored\nHelpFile=H.HLP\n", nullptr,
         "mon (null)|(null)|(null)\nproc (null)|(null)|(null)\n"
         "drv 0|kzt model|" + env + "|D.DLL|Inst|D.DLL|H.HLP|(null)|(null)|RAW\n"
         "queue kzt model|LPT1:|kzt model|WinPrint|RAW|0|0|(null)\n"},
        // Monitor and print processor keep their file; the data type becomes
        // the queue's too.
        {"LanguageMonitor=kztmon,kztmon.dll\nPrintProcessor=kztpp,pp.dll\nDefaultDataType=TEXT\n"
         "DataFile=X.DAT\nConfigFile=U.DLL\n",
         nullptr,
         "mon kztmon|" + env + "|kztmon.dll\nproc kztpp|" + env + "|pp.dll\n"
         "drv 0|kzt model|" + env + "|Inst|X.DAT|U.DLL|(null)|(null)|kztmon|TEXT\n"
         "queue kzt model|LPT1:|kzt model|kztpp|TEXT|0|0|(null)\n"},
        // A value without a comma is all name.
        {"LanguageMonitor=kztmon\nPrintProcessor=kztpp\n", nullptr,
         "mon kztmon|" + env + "|(null)\nproc kztpp|" + env + "|(null)\n"
         "drv 0|kzt model|" + env + "|Inst|Inst|Inst|(null)|(null)|kztmon|RAW\n"
         "queue kzt model|LPT1:|kzt model|kztpp|RAW|0|0|(null)\n"},
        // A queue name of its own; the driver keeps the model's name.
        {"CopyFiles=Files\n[Files]\nA.DLL\nB.HLP\n", "kzt queue",
         "mon (null)|(null)|(null)\nproc (null)|(null)|(null)\n"
         "drv 0|kzt model|" + env + "|Inst|Inst|Inst|(null)|A.DLL,B.HLP,|(null)|RAW\n"
         "queue kzt queue|LPT1:|kzt model|WinPrint|RAW|0|0|(null)\n"},
    };
    int i = 0;
    for (const auto &c : cases) {
        CInstallContext x;
        std::string inf = UseInf(TinyInf(c.lines), "T" + std::to_string(i) + ".INF");
        ASSERT_NO_FATAL_FAILURE(Prepare(x, "kzt model", "LPT1:", c.queue, inf));
        EXPECT_EQ(c.records, Records(x)) << "case " << i;
        i++;
    }
    EXPECT_TRUE(LogHas("DBG MONITOR_INFO_2.pName [KztNull]"));
    EXPECT_TRUE(LogHas("DBG DRIVER_INFO_3.pHelpFile [KztNull]"));
}

// --- the spooler's lists ------------------------------------------------------

TEST_F(SpoolerTest, EnumerationsReadTheSpoolersListsAfresh)
{
    ASSERT_NO_FATAL_FAILURE(Prepare(ctx, "Ostrel TZ-1000"));
    ASSERT_NO_FATAL_FAILURE(Install(ctx));
    TakeLog();
    ASSERT_TRUE(ctx.EnumProc());
    ASSERT_TRUE(ctx.EnumDrv());
    ASSERT_TRUE(ctx.EnumPrn());
    EXPECT_EQ((std::vector<std::string>{"DBG ::EnumPrintProcessors R 1 E 0 ", "DBG ::EnumPrinterDrivers R 1 E 0 ",
                                        "DBG ::EnumPrinters R 1 E 0 "}),
              TakeLog());
    SpoolerState s = ReadSpooler();
    std::vector<std::string> procs, drivers, queues;
    for (DWORD i = 0; i < ctx.m_cEnumProc1; i++)
        procs.push_back(((PRINTPROCESSOR_INFO_1A *)ctx.m_pEnumProc1)[i].pName);
    for (DWORD i = 0; i < ctx.m_cEnumDrv3; i++)
        drivers.push_back(((DRIVER_INFO_3A *)ctx.m_pEnumDrv3)[i].pName);
    for (DWORD i = 0; i < ctx.m_cEnumPrn2; i++)
        queues.push_back(((PRINTER_INFO_2A *)ctx.m_pEnumPrn2)[i].pPrinterName);
    EXPECT_EQ(s.processors, procs);
    EXPECT_EQ(s.drivers, drivers);
    EXPECT_EQ(QueuesStartingWith(""), queues);
    EXPECT_TRUE(Has(procs, "KZT TZ Print Processor"));
    EXPECT_TRUE(Has(drivers, "Ostrel TZ-1000"));

    // A queue added meanwhile is in the next list, and the old buffer is gone.
    ASSERT_TRUE(AddTestQueue("kzt later", "Ostrel TZ-1000"));
    ASSERT_TRUE(ctx.EnumPrn());
    EXPECT_EQ(queues.size() + 1, ctx.m_cEnumPrn2);
    EXPECT_EQ(QueuesStartingWith(""), [&] {
        std::vector<std::string> v;
        for (DWORD i = 0; i < ctx.m_cEnumPrn2; i++)
            v.push_back(((PRINTER_INFO_2A *)ctx.m_pEnumPrn2)[i].pPrinterName);
        return v;
    }());
}

// --- adding -----------------------------------------------------------------

TEST_F(SpoolerTest, InstallAddsMonitorProcessorDriverAndQueue)
{
    ASSERT_NO_FATAL_FAILURE(Prepare(ctx, "Ostrel TZ-1000"));
    CopyModelFiles(ctx);
    TakeLog();
    LogOn();  // the monitor's own log shows the spooler loading it
    BOOL bMon = ctx.AddMon();
    std::vector<std::string> monitorLog = LogMessages();
    LogOff();
    ASSERT_TRUE(bMon) << ctx.GetErrorText();
    EXPECT_TRUE(Has(monitorLog, "DBG Init LM [jobtap]"));
    ASSERT_TRUE(ctx.AddProc()) << ctx.GetErrorText();
    ASSERT_TRUE(ctx.AddDrv()) << ctx.GetErrorText();
    ASSERT_TRUE(ctx.AddQueue()) << ctx.GetErrorText();
    EXPECT_EQ((std::vector<std::string>{
                  "DBG ::EnumPrinterDrivers R 1 E 0 ", kMonitorLine,
                  "DBG ::EnumPrintProcessors R 1 E 0 ", "DBG ::AddPrintProcessor([KZT TZ Print Processor]) R 1 E 0 ",
                  "DBG ::EnumPrinterDrivers R 1 E 0 ", "DBG ::AddPrinterDriver([Ostrel TZ-1000]) R 1 E 0 ",
                  "DBG ::EnumPrinters R 1 E 0 ", "DBG ::ClosePrinter R 1 E 0 "}),
              [&] {
                  std::vector<std::string> v;
                  for (const std::string &l : TakeLog())
                      if (l.rfind("DBG ::AddPrinter(", 0) != 0)  // its E is whatever Wine leaves
                          v.push_back(l);
                  return v;
              }());
    EXPECT_TRUE(LogHasStart("DBG ::AddPrinter([Ostrel TZ-1000]) R x"));
    EXPECT_EQ("", ctx.m_strError);

    SpoolerState s = ReadSpooler();
    EXPECT_TRUE(Has(s.monitors, "jobtap"));
    EXPECT_TRUE(Has(s.processors, "KZT TZ Print Processor"));
    EXPECT_EQ("KZTTZDRV.DLL|KZTTZ1000.DAT|KZTTZUIF.DLL|KZTTZ.HLP|"
              "KZTTZRES.DLL,jobtap.dll,vigil.exe,KZTTZPP.DLL,|jobtap|RAW",
              InstalledDriver("Ostrel TZ-1000"));
    EXPECT_EQ((std::vector<std::string>{"Ostrel TZ-1000|LPT1:|Ostrel TZ-1000|KZT TZ Print Processor|RAW"}),
              s.queues);
    // left as it was
    EXPECT_STREQ("KZTTZRES.DLL,jobtap.dll,vigil.exe,KZTTZPP.DLL,", ctx.m_DriverInfo3.pDependentFiles);
}

TEST_F(SpoolerTest, AddingWhatIsInstalledAddsNoComponentAgain)
{
    ASSERT_NO_FATAL_FAILURE(Prepare(ctx, "Ostrel TZ-1000"));
    ASSERT_NO_FATAL_FAILURE(Install(ctx));
    SpoolerState before = ReadSpooler();
    const struct {
        BOOL (CInstallContext::*add)();
        const char *line;
    } cases[] = {
        {&CInstallContext::AddMon, "DBG AddMon() Installed LanguageMonitor [jobtap]"},
        {&CInstallContext::AddProc, "DBG AddProc() Installed PrintProcessor [KZT TZ Print Processor]"},
        {&CInstallContext::AddDrv, "DBG AddDrv() Installed Driver [Ostrel TZ-1000]"},
    };
    for (const auto &c : cases) {
        CInstallContext x;  // as the next run of the installer would
        ASSERT_NO_FATAL_FAILURE(Prepare(x, "Ostrel TZ-1000"));
        TakeLog();
        SetLastError(0xdeadbeef);
        EXPECT_TRUE((x.*c.add)()) << c.line;
        std::vector<std::string> log = TakeLog();
        ASSERT_EQ(2u, log.size()) << c.line;  // the enumeration, then the verdict
        EXPECT_EQ(c.line, log[1]);
        EXPECT_EQ("", x.m_strError);
    }
    SpoolerState after = ReadSpooler();
    EXPECT_EQ(before.monitors, after.monitors);
    EXPECT_EQ(before.processors, after.processors);
    EXPECT_EQ(before.drivers, after.drivers);
    EXPECT_EQ(before.queues, after.queues);
}

TEST_F(SpoolerTest, MonitorKnownOnlyToTheSpoolerCountsAsPresent)
{
    ASSERT_NO_FATAL_FAILURE(Prepare(ctx, "Ostrel TZ-1000"));
    CopyModelFiles(ctx);
    MONITOR_INFO_2A mi = {(LPSTR) "jobtap", NULL, (LPSTR) "jobtap.dll"};
    ASSERT_TRUE(AddMonitorA(NULL, 2, (LPBYTE)&mi));  // no driver names it
    TakeLog();
    EXPECT_TRUE(ctx.AddMon());
    EXPECT_TRUE(LogHasStart("DBG ::AddMonitor([jobtap]) R 0 E 3006 "));
    EXPECT_EQ("", ctx.m_strError);
}

TEST_F(SpoolerTest, WithoutMonitorOrProcessorDirectivesNothingIsAddedOrDeleted)
{
    std::string inf = UseInf(TinyInf(""));
    ASSERT_NO_FATAL_FAILURE(Prepare(ctx, "kzt model", "LPT1:", nullptr, inf));
    SpoolerState before = ReadSpooler();
    const struct {
        BOOL (CInstallContext::*op)();
        const char *line;
    } cases[] = {
        {&CInstallContext::AddMon, "DBG AddMon() No User LanguageMonitor"},
        {&CInstallContext::AddProc, "DBG AddProc() No User PrintProcessor"},
        {&CInstallContext::DelMon, "DBG DelMon() No User LanguageMonitor"},
        {&CInstallContext::DelProc, "DBG DelProc() No User PrintProcessor"},
    };
    for (const auto &c : cases) {
        TakeLog();
        EXPECT_TRUE((ctx.*c.op)()) << c.line;
        EXPECT_EQ(std::vector<std::string>{c.line}, TakeLog());
    }
    SpoolerState after = ReadSpooler();
    EXPECT_EQ(before.monitors, after.monitors);
    EXPECT_EQ(before.processors, after.processors);
}

TEST_F(SpoolerTest, FailedAddsReportTheSpoolersAnswer)
{
    const struct {
        const char *lines;
        BOOL (CInstallContext::*add)();
        const char *start;  // the ERR line, up to its error text
    } cases[] = {
        {"LanguageMonitor=kztmon,kztnosuch.dll\n", &CInstallContext::AddMon, "ERR ::AddMonitor([kztmon]) R 0 E 126 "},
        {"PrintProcessor=kztpp\n", &CInstallContext::AddProc, "ERR ::AddPrintProcessor([kztpp]) R 0 E 87 "},
        // The driver is not installed: the spooler refuses its queue.
        {"DriverFile=KZTTZDRV.DLL\n", &CInstallContext::AddQueue, "ERR ::AddPrinter([kzt model]) R x0 E 87 "},
    };
    int i = 0;
    for (const auto &c : cases) {
        CInstallContext x;
        std::string inf = UseInf(TinyInf(c.lines), "T" + std::to_string(i) + ".INF");
        ASSERT_NO_FATAL_FAILURE(Prepare(x, "kzt model", "LPT1:", nullptr, inf));
        TakeLog();
        SetLastError(0xdeadbeef);
        EXPECT_FALSE((x.*c.add)()) << c.start;
        DWORD dwError = GetLastError();
        EXPECT_TRUE(LogHasStart(c.start)) << c.start;
        std::string start = c.start;
        EXPECT_EQ(0u, x.m_strError.find(start.substr(4))) << x.m_strError;
        EXPECT_EQ(std::to_string(dwError), start.substr(start.find(" E ") + 3, start.size() - start.find(" E ") - 4))
            << c.start;
        i++;
    }
    EXPECT_TRUE(QueuesStartingWith("kzt model").empty());
}

TEST_F(SpoolerTest, QueueTakesTheDriversDefaultDataType)
{
    std::string inf = UseInf(TinyInf("DriverFile=KZTTZDRV.DLL\nDataFile=KZTTZ1000.DAT\nConfigFile=KZTTZUIF.DLL\n"
                                     "DefaultDataType=TEXT\n"));
    ASSERT_NO_FATAL_FAILURE(Prepare(ctx, "kzt model", "LPT1:", nullptr, inf));
    CInstallContext sample;
    ASSERT_NO_FATAL_FAILURE(Prepare(sample, "Ostrel TZ-1000"));
    CopyModelFiles(sample);  // the files this driver names too
    ASSERT_TRUE(ctx.AddDrv()) << ctx.GetErrorText();
    ASSERT_TRUE(ctx.AddQueue()) << ctx.GetErrorText();
    EXPECT_EQ((std::vector<std::string>{"kzt model|LPT1:|kzt model|WinPrint|TEXT"}), ReadSpooler().queues);
}

// --- queue names --------------------------------------------------------------

TEST_F(SpoolerTest, TakenQueueNameGetsTheFirstNumberNoQueueAnswersTo)
{
    const struct {
        std::vector<std::string> existing;
        const char *added;
    } cases[] = {
        {{}, "Ostrel TZ-1000"},
        {{"Ostrel TZ-1000"}, "Ostrel TZ-1000 (1)"},
        {{"OSTREL TZ-1000"}, "Ostrel TZ-1000 (1)"},  // names compare without regard to case
        {{"Ostrel TZ-1000", "Ostrel TZ-1000 (1)"}, "Ostrel TZ-1000 (2)"},
        {{"Ostrel TZ-1000", "Ostrel TZ-1000 (2)"}, "Ostrel TZ-1000 (1)"},
        {{"Ostrel TZ-1000 (1)"}, "Ostrel TZ-1000"},  // the plain name is free
    };
    ASSERT_NO_FATAL_FAILURE(Prepare(ctx, "Ostrel TZ-1000"));
    CopyModelFiles(ctx);
    ASSERT_TRUE(ctx.AddProc());
    ASSERT_TRUE(ctx.AddDrv());
    int i = 0;
    for (const auto &c : cases) {
        for (const std::string &name : QueuesStartingWith(""))
            ASSERT_TRUE(ctx.DelQueueNamed(name.c_str()));
        for (const std::string &name : c.existing)
            ASSERT_TRUE(AddTestQueue(name, "Ostrel TZ-1000")) << name;
        ASSERT_TRUE(ctx.AddQueue()) << ctx.GetErrorText();
        std::vector<std::string> now = QueuesStartingWith("");
        EXPECT_EQ(c.existing.size() + 1, now.size()) << "case " << i;
        EXPECT_TRUE(Has(now, c.added)) << "case " << i << ": " << c.added;
        i++;
    }
}

TEST_F(SpoolerTest, NumberedQueueNameBeyondItsBufferFails)
{
    const std::string base(252, 'k');  // base + " (1)" needs 257 bytes
    ASSERT_NO_FATAL_FAILURE(Prepare(ctx, "Ostrel TZ-1000", "LPT1:", base.c_str()));
    CopyModelFiles(ctx);
    ASSERT_TRUE(ctx.AddProc());
    ASSERT_TRUE(ctx.AddDrv());
    ASSERT_TRUE(AddTestQueue(base, "Ostrel TZ-1000"));
    TakeLog();
    EXPECT_FALSE(ctx.AddQueue());
    EXPECT_EQ((std::vector<std::string>{"DBG ::EnumPrinters R 1 E 0 ", "ERR AddQueue() Length"}), TakeLog());
    EXPECT_EQ("AddQueue() Length\r\n", ctx.m_strError);
    EXPECT_EQ(1u, ReadSpooler().queues.size());

    // A shorter name gets its number. (Wine's EnumPrintersA fails once a
    // queue's name comes near 255 characters, so the test stays below that.)
    CInstallContext x;
    const std::string shorter(240, 'k');
    ASSERT_NO_FATAL_FAILURE(Prepare(x, "Ostrel TZ-1000", "LPT1:", shorter.c_str()));
    ASSERT_TRUE(AddTestQueue(shorter, "Ostrel TZ-1000"));
    EXPECT_TRUE(x.AddQueue()) << x.GetErrorText();
    EXPECT_TRUE(Has(QueuesStartingWith(shorter), shorter + " (1)"));
}

TEST_F(SpoolerTest, AllNumberedQueueNamesTakenFails)
{
    ASSERT_NO_FATAL_FAILURE(Prepare(ctx, "Ostrel TZ-1000"));
    CopyModelFiles(ctx);
    ASSERT_TRUE(ctx.AddDrv());
    ASSERT_TRUE(AddTestQueue("Ostrel TZ-1000", "Ostrel TZ-1000"));
    for (int n = 1; n <= 255; n++)
        ASSERT_TRUE(AddTestQueue("Ostrel TZ-1000 (" + std::to_string(n) + ")", "Ostrel TZ-1000")) << n;
    TakeLog();
    EXPECT_FALSE(ctx.AddQueue());
    std::vector<std::string> log = TakeLog();
    EXPECT_EQ(1 + 255 * 2 + 1u, log.size());  // enumeration, 255 opens and closes, the verdict
    EXPECT_EQ("DBG ::OpenPrinter([Ostrel TZ-1000 (255)]) R 1 E 0 ", log[log.size() - 3]);
    EXPECT_EQ("ERR AddQueue() No Free Name [Ostrel TZ-1000]", log.back());
    EXPECT_EQ(256u, QueuesStartingWith("Ostrel TZ-1000").size());
}

// --- removing ----------------------------------------------------------------

TEST_F(SpoolerTest, DeletingRemovesWhatIsThereAndPassesOverWhatIsNot)
{
    ASSERT_NO_FATAL_FAILURE(Prepare(ctx, "Ostrel TZ-1000"));
    ASSERT_NO_FATAL_FAILURE(Install(ctx));
    ASSERT_TRUE(ctx.AddQueue());  // "Ostrel TZ-1000 (1)"
    ASSERT_TRUE(AddTestQueue("kzt other queue", "Ostrel TZ-1000"));
    const struct {
        BOOL (CInstallContext::*del)();
        const char *start;  // the last line the step writes, up to its error text
        BOOL result;
    } cases[] = {
        // Every queue of the driver, whatever its name; then there is none.
        {&CInstallContext::DelPrn, "DBG ::ClosePrinter R 1 E 0 ", TRUE},
        {&CInstallContext::DelPrn, "DBG DelPrn() No Installed Printer [Ostrel TZ-1000]", TRUE},
        {&CInstallContext::DelDrv, "DBG ::DeletePrinterDriver([Ostrel TZ-1000]) R 1 E 0 ", TRUE},
        {&CInstallContext::DelDrv, "DBG DelDrv() No Installed Driver [Ostrel TZ-1000]", TRUE},
        // Wine's DeletePrintProcessor answers success and keeps the processor.
        {&CInstallContext::DelProc, "DBG ::DeletePrintProcessor([KZT TZ Print Processor]) R 1 E 0 ", TRUE},
        {&CInstallContext::DelMon, "DBG ::DeleteMonitor([jobtap]) R 1 E 0 ", TRUE},
        // A monitor that cannot be deleted never stops the removal.
        {&CInstallContext::DelMon, "ERR ::DeleteMonitor([jobtap]) R 0 E 3000 ", TRUE},
    };
    for (const auto &c : cases) {
        TakeLog();
        EXPECT_EQ(c.result, (ctx.*c.del)()) << c.start;
        std::vector<std::string> log = TakeLog();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(0u, log.back().find(c.start)) << log.back();
    }
    SpoolerState s = ReadSpooler();
    EXPECT_TRUE(s.queues.empty());  // "kzt other queue" used the driver too
    EXPECT_FALSE(Has(s.drivers, "Ostrel TZ-1000"));
    EXPECT_FALSE(Has(s.monitors, "jobtap"));

    // A processor the spooler does not list is not deleted again.
    ResetSpooler();
    TakeLog();
    EXPECT_TRUE(ctx.DelProc());
    EXPECT_TRUE(LogHas("DBG DelProc() No Installed PrintProcessor [KZT TZ Print Processor]"));
}

TEST_F(SpoolerTest, DeletingANamedQueue)
{
    ASSERT_NO_FATAL_FAILURE(Prepare(ctx, "Ostrel TZ-1000"));
    ASSERT_NO_FATAL_FAILURE(Install(ctx));
    TakeLog();
    EXPECT_TRUE(ctx.DelQueueNamed("Ostrel TZ-1000"));
    EXPECT_EQ((std::vector<std::string>{"DBG ::OpenPrinter([Ostrel TZ-1000]) R 1 E 0 ",
                                        "DBG ::DeletePrinter R 1 E 0 ", "DBG ::ClosePrinter R 1 E 0 "}),
              TakeLog());
    EXPECT_TRUE(ReadSpooler().queues.empty());

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ctx.DelQueueNamed("Ostrel TZ-1000"));
    EXPECT_EQ((DWORD)ERROR_INVALID_PRINTER_NAME, GetLastError());
    std::vector<std::string> log = TakeLog();
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ(0u, log[0].find("ERR ::OpenPrinter([Ostrel TZ-1000]) R 0 E 1801 ")) << log[0];
}

TEST_F(SpoolerTest, DelProcW95RemovesTheProcessorsRegistryKey)
{
    const std::string key = std::string(kProcessorsW95) + "\\kzt w95 processor";
    const struct {
        bool keyThere;
        bool parentThere;
        BOOL result;
        DWORD error;
        std::vector<std::string> log;
    } cases[] = {
        {true, true, TRUE, 0,
         {"DBG ::RegOpenKeyEx([" + std::string(kProcessorsW95) + "]) E 0 ",
          "DBG ::RegDeleteKey([kzt w95 processor]) E 0 ", "DBG ::RegCloseKey E 0 "}},
        // A key already gone counts as deleted.
        {false, true, TRUE, 0,
         {"DBG ::RegOpenKeyEx([" + std::string(kProcessorsW95) + "]) E 0 ",
          "DBG ::RegDeleteKey([kzt w95 processor]) E 2 File not found.", "DBG ::RegCloseKey E 0 "}},
        // Without the processors' key the open fails, and its code is the last error.
        {false, false, FALSE, ERROR_FILE_NOT_FOUND,
         {"ERR ::RegOpenKeyEx([" + std::string(kProcessorsW95) + "]) E 2 File not found."}},
    };
    for (const auto &c : cases) {
        std::unique_ptr<KeyAway> away;
        if (!c.parentThere)
            away.reset(new KeyAway(kProcessorsW95));
        HKEY h;
        if (c.keyThere && !RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &h, NULL))
            RegCloseKey(h);
        TakeLog();
        SetLastError(0xdeadbeef);
        EXPECT_EQ(c.result, ctx.DelProcW95("kzt w95 processor"));
        EXPECT_EQ(c.error, GetLastError());
        EXPECT_EQ(c.log, TakeLog());
        EXPECT_FALSE(KeyExists(key));
    }
    EXPECT_TRUE(KeyExists(std::string(kProcessorsW95) + "\\winprint"));  // put back
}

TEST_F(SpoolerTest, DelProcOnWindows95GoesThroughTheRegistry)
{
    ASSERT_NO_FATAL_FAILURE(Prepare(ctx, "Ostrel TZ-1000"));
    CopyModelFiles(ctx);
    ASSERT_TRUE(ctx.AddProc());
    const std::string key = std::string(kProcessorsW95) + "\\KZT TZ Print Processor";
    HKEY h;
    ASSERT_EQ(0, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &h, NULL));
    RegCloseKey(h);
    ctx.m_bWinNT = FALSE;
    TakeLog();
    EXPECT_TRUE(ctx.DelProc());
    std::vector<std::string> log = TakeLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ("DBG DelProcW95([KZT TZ Print Processor]) R 1 E 0 ", log.back());
    EXPECT_FALSE(KeyExists(key));
}

// --- which driver uses a file, which queues use the driver -------------------

TEST_F(SpoolerTest, FindUsingDriverReturnsTheFirstDriverStringHoldingTheFile)
{
    ASSERT_NO_FATAL_FAILURE(Prepare(ctx, "Ostrel TZ-1000"));
    CopyModelFiles(ctx);
    ASSERT_TRUE(ctx.AddDrv());
    ASSERT_TRUE(ctx.EnumDrv());
    const std::string dir = PrinterDriverDirA() + "\\3\\";
    const struct {
        const char *file;
        std::string found;  // empty: none
        const char *name;   // what the name buffer holds afterwards
    } cases[] = {
        {"KZTTZDRV.DLL", dir + "KZTTZDRV.DLL", "Ostrel TZ-1000"},
        {"kzttz1000.dat", dir + "KZTTZ1000.DAT", "Ostrel TZ-1000"},
        {"KZTTZUIF.DLL", dir + "KZTTZUIF.DLL", "Ostrel TZ-1000"},
        {"KZTTZ.HLP", dir + "KZTTZ.HLP", "Ostrel TZ-1000"},
        {"vigil.exe", dir + "vigil.exe", "Ostrel TZ-1000"},  // an entry of the dependent files
        {"TTZRES", dir + "KZTTZRES.DLL", "Ostrel TZ-1000"},  // a part of a name is enough
        {"KZTTZ", dir + "KZTTZDRV.DLL", "Ostrel TZ-1000"},   // the driver file is looked at first
        {"nosuch.dll", "", "Ostrel TZ-1000"},                 // the last driver looked at
        {nullptr, "", "untouched"},
    };
    for (const auto &c : cases) {
        char name[INF_PATH_MAX] = "untouched";
        const char *found = ctx.FindUsingDriver(c.file, name);
        EXPECT_EQ(c.found, found ? found : "") << Str(c.file);
        EXPECT_STREQ(c.name, name) << Str(c.file);
    }
    EXPECT_EQ("", ctx.m_strError);

    // A driver name that does not fit the caller's buffer is left out, not cut;
    // the file is still found, and that is no error to show.
    char small[8] = "xxxxxxx";
    TakeLog();
    EXPECT_NE(nullptr, ctx.FindUsingDriver("KZTTZDRV.DLL", small, sizeof(small)));
    EXPECT_STREQ("", small);
    EXPECT_EQ((std::vector<std::string>{"DBG FindUsingDriver() Length"}), TakeLog());
    EXPECT_EQ("", ctx.m_strError);
}

TEST_F(SpoolerTest, DrvingLinkListsTheQueuesWhoseDriverHasTheModelsDriverFile)
{
    ASSERT_NO_FATAL_FAILURE(Prepare(ctx, "Ostrel TZ-1000"));
    ASSERT_NO_FATAL_FAILURE(Install(ctx));
    CInstallContext other;  // another model with the same driver file
    ASSERT_NO_FATAL_FAILURE(Prepare(other, "Ostrel TZ-2000", "LPT2:"));
    ASSERT_NO_FATAL_FAILURE(Install(other));
    ASSERT_TRUE(AddTestQueue("kzt second", "Ostrel TZ-1000", "LPT3:"));
    // A queue of a driver with another driver file, and one whose driver is gone.
    std::string why;
    ASSERT_TRUE(EnsurePrinter(L"kzt stub queue", L"kzt stub driver", L"FILE:", nullptr, &why)) << why;
    CInstallContext gone;
    std::string inf = UseInf(TinyInf("DriverFile=KZTTZDRV.DLL\nDataFile=KZTTZ1000.DAT\nConfigFile=KZTTZUIF.DLL\n"));
    ASSERT_NO_FATAL_FAILURE(Prepare(gone, "kzt model", "COM1:", nullptr, inf));
    ASSERT_TRUE(gone.AddDrv());
    ASSERT_TRUE(gone.AddQueue());
    ASSERT_TRUE(DeletePrinterDriverA(NULL, NULL, (LPSTR) "kzt model"));

    ASSERT_TRUE(ctx.AddDrvingLink("stale", "stale", "stale"));  // replaced by the list
    ASSERT_TRUE(ctx.ListDrvingLink()) << ctx.GetErrorText();
    std::vector<std::string> links;
    for (const DrvingLink *p = ctx.m_pDrvingLink; p; p = p->pNext)
        links.push_back(std::string(p->pPrinterName) + "|" + p->pPortName + "|" + p->pDriverName);
    std::vector<std::string> expected;  // in the spooler's order
    for (const std::string &q : ReadSpooler().queues) {
        if (q.find("Ostrel TZ-") != std::string::npos || q.rfind("kzt second", 0) == 0)
            expected.push_back(q.substr(0, q.rfind('|', q.rfind('|') - 1)));
    }
    EXPECT_EQ(3u, expected.size());
    EXPECT_EQ(expected, links);
    EXPECT_TRUE(Has(links, "kzt second|LPT3:|Ostrel TZ-1000"));
    EXPECT_TRUE(Has(links, "Ostrel TZ-2000|LPT2:|Ostrel TZ-2000"));
}

TEST_F(SpoolerTest, TwoRecordedQueuesWithTheSameDriverAreRemovedOnce)
{
    ASSERT_NO_FATAL_FAILURE(Prepare(ctx, "Ostrel TZ-1000"));
    ASSERT_NO_FATAL_FAILURE(Install(ctx));
    ASSERT_TRUE(ctx.AddQueue());
    ASSERT_TRUE(ctx.ListDrvingLink());
    ASSERT_TRUE(ctx.m_pDrvingLink && ctx.m_pDrvingLink->pNext && !ctx.m_pDrvingLink->pNext->pNext);
    // Each recorded queue gets a context of its own for its driver, as the
    // removal of a reinstall does: the first removes both queues and the
    // driver, the second finds them gone.
    int i = 0;
    for (const DrvingLink *p = ctx.m_pDrvingLink; p; p = p->pNext, i++) {
        CInstallContext nested;
        ASSERT_NO_FATAL_FAILURE(Prepare(nested, p->pDriverName));
        TakeLog();
        EXPECT_TRUE(nested.DelPrn()) << nested.GetErrorText();
        EXPECT_TRUE(nested.DelDrv()) << nested.GetErrorText();
        bool bGone = LogHas("DBG DelPrn() No Installed Printer [Ostrel TZ-1000]") &&
                     LogHas("DBG DelDrv() No Installed Driver [Ostrel TZ-1000]");
        EXPECT_EQ(i == 1, bGone) << "queue record " << i;
    }
    EXPECT_TRUE(ReadSpooler().queues.empty());
}

TEST_F(SpoolerTest, DrvingLinkNodesAreCompleteAndKeptInOrder)
{
    const struct {
        const char *printer, *port, *driver;
        bool added;
    } cases[] = {
        {"q1", "LPT1:", "d", true},
        {"q2", nullptr, "d", false},
        {nullptr, "LPT1:", "d", false},
        {"q3", "", "d", true},
        {"q4", "LPT2:", nullptr, false},
    };
    for (const auto &c : cases) {
        ctx.m_strError.clear();
        DrvingLink *p = ctx.AddDrvingLink(c.printer, c.port, c.driver);
        EXPECT_EQ(c.added, p != nullptr) << Str(c.printer);
        EXPECT_EQ(c.added ? "" : "AddDrvingLink() AllocSplStr\r\n", ctx.m_strError);
    }
    std::string order;
    for (const DrvingLink *p = ctx.m_pDrvingLink; p; p = p->pNext)
        order += std::string(p->pPrinterName) + "|" + p->pPortName + "|" + p->pDriverName + ";";
    EXPECT_EQ("q1|LPT1:|d;q3||d;", order);
    ctx.FreeDrvingLink();
    EXPECT_EQ(nullptr, ctx.m_pDrvingLink);
}
