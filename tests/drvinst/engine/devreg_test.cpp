// The port and device registry of the install engine, against Wine's real
// registry in the installer's own prefix: the queue records kept across a
// reinstall's restart, the model's parallel-port device entries with the
// access lists opened and put back on the way, and the Windows 95/98 USB
// entry (DevRegW95Test, in a prefix that reports Windows 98).
#include "../context/contextfixture.h"
#include "regkeys.h"
#include "splstr.h"
#include <algorithm>

static const std::string kOstrel = "SOFTWARE\\Ostrel";
static const std::string kRecords = kOstrel + "\\KZTDEVREG.INF";
static const std::string kLptEnum = "SYSTEM\\CurrentControlSet\\Enum\\LPTENUM";
static const std::string kRawPort = kLptEnum + "\\MicrosoftRawPort";
static const std::string kHardwareID = "KZTTEST-1000";
static const std::string kModelKey = kLptEnum + "\\" + kHardwareID;
static const std::string kUsbPrint = "Enum\\USBPRINT";
static const std::string kScratch = "SOFTWARE\\KztDevRegTest";
// Everyone may read, only the system may write: a list the installer may not write under.
static const char kLockedList[] = "D:(A;;KA;;;SY)(A;;KR;;;WD)";
static const char kNullList[] = "D:NO_ACCESS_CONTROL";

class DevRegTest : public ContextTest {
protected:
    void SetUp() override
    {
        ContextTest::SetUp();
        ctx.SetInfFileName((m_dir + "\\KZTDEVREG.INF").c_str());
        ASSERT_TRUE(ctx.SetInfDirBase());
        for (const std::string &path : {kOstrel, kLptEnum, kScratch, std::string("Enum")}) {
            if (!KeyExists(path))
                m_ownKeys.push_back(path);  // the test's own: gone again afterwards
        }
        for (const std::string &path : {kRecords, kRawPort, kModelKey, kScratch, kUsbPrint})
            DeleteKeyTree(path);
    }
    void TearDown() override
    {
        for (const std::string &path : {kRecords, kRawPort, kModelKey, kScratch, kUsbPrint})
            DeleteKeyTree(path);
        for (const std::string &path : m_ownKeys)
            DeleteKeyTree(path);
        RemoveTree(TempPathA() + "OstrelKZTDEVREG.INF");  // SetupSysInfo's working folder
        ContextTest::TearDown();
    }

    // The model's context as SetupSysInfo leaves it for this system.
    void SetupSystem()
    {
        ctx.SetPrinterName("KZT Test");
        ASSERT_TRUE(ctx.SetupSysInfo()) << ctx.GetErrorText();
    }
    void SeedRecord(int n, const char *printer, const char *port, const char *driver)
    {
        std::string key = kRecords + "\\" + std::to_string(n);
        ASSERT_TRUE(SetValueText(key, "PrinterName", printer));
        ASSERT_TRUE(SetValueText(key, "PortName", port));
        ASSERT_TRUE(SetValueText(key, "DriverName", driver));
    }
    // The log lines since the last look must begin as given, one for one.
    void ExpectLogLines(const std::vector<std::string> &starts)
    {
        std::vector<std::string> lines = TakeLog();
        ASSERT_EQ(starts.size(), lines.size()) << Joined(lines);
        for (size_t i = 0; i < starts.size(); i++)
            EXPECT_EQ(starts[i], lines[i].substr(0, starts[i].size())) << "line " << i << "\n" << Joined(lines);
    }
    // A line so far that begins so (the system's texts after a code vary).
    bool LogHasStart(const std::string &start)
    {
        TakeLog();
        return std::any_of(m_logSeen.begin(), m_logSeen.end(),
                           [&](const std::string &line) { return !line.compare(0, start.size(), start); });
    }
    size_t CountLogLines(const std::string &start)
    {
        std::vector<std::string> lines = TakeLog();
        return std::count_if(lines.begin(), lines.end(),
                             [&](const std::string &line) { return !line.compare(0, start.size(), start); });
    }
    static std::string Joined(const std::vector<std::string> &lines)
    {
        std::string text;
        for (const std::string &line : lines)
            text += line + "\n";
        return text;
    }

    std::vector<std::string> m_ownKeys;
};

// The queues of a context's list as "queue|port|driver".
static std::vector<std::string> Queues(const CInstallContext &c)
{
    std::vector<std::string> queues;
    for (const DrvingLink *p = c.m_pDrvingLink; p; p = p->pNext)
        queues.push_back(std::string(p->pPrinterName) + "|" + p->pPortName + "|" + p->pDriverName);
    return queues;
}

static std::string SzBytes(const std::string &text) { return std::string(text.c_str(), text.size() + 1); }

// A context of the second phase: the same INF file name, nothing else.
struct SecondPhase {
    explicit SecondPhase(const CInstallContext &first)
    {
        ctx.SetInfFileName(first.m_pInfFileName);
        ctx.SetInfDirBase();
    }
    CInstallContext ctx;
};

// ---- The queue records ----------------------------------------------------

TEST_F(DevRegTest, TwoQueuesOfOneDriverSurviveTheRestart)
{
    for (int n = 0; n < 4; n++)
        SeedRecord(n, "Old queue", "OLD:", "Old driver");
    ASSERT_TRUE(ctx.AddDrvingLink("KZT Q1", "LPT1:", "KZT TZ-1000"));
    ASSERT_TRUE(ctx.AddDrvingLink("KZT Q2", "FILE:", "KZT TZ-1000"));
    ASSERT_TRUE(ctx.SaveDrvingLink()) << ctx.GetErrorText();

    EXPECT_EQ((std::vector<std::string>{"0", "1"}), SubkeyNames(kRecords));  // the old set is replaced
    RegValue value = GetValue(kRecords + "\\1", "PrinterName");
    EXPECT_EQ((DWORD)REG_SZ, value.type);
    EXPECT_EQ(SzBytes("KZT Q2"), value.bytes);
    EXPECT_EQ(SzBytes("FILE:"), GetValue(kRecords + "\\1", "PortName").bytes);
    EXPECT_EQ(SzBytes("KZT TZ-1000"), GetValue(kRecords + "\\1", "DriverName").bytes);

    SecondPhase second(ctx);
    ASSERT_TRUE(second.ctx.AddDrvingLink("Stale", "LPT9:", "Stale driver"));
    ASSERT_TRUE(second.ctx.LoadDrvingLink()) << second.ctx.GetErrorText();
    EXPECT_EQ((std::vector<std::string>{"KZT Q1|LPT1:|KZT TZ-1000", "KZT Q2|FILE:|KZT TZ-1000"}),
              Queues(second.ctx));
    EXPECT_EQ("", ctx.m_strError);
    EXPECT_EQ("", second.ctx.m_strError);
}

TEST_F(DevRegTest, SaveAndLoadLogEachStep)
{
    SeedRecord(0, "Old queue", "OLD:", "Old driver");
    TakeLog();
    ASSERT_TRUE(ctx.AddDrvingLink("KZT Q1", "LPT1:", "KZT TZ-1000"));
    ASSERT_TRUE(ctx.SaveDrvingLink()) << ctx.GetErrorText();
    ExpectLogLines({
        "DBG ::RegCreateKeyEx(0,[SOFTWARE\\Ostrel\\KZTDEVREG.INF]) E 0 ",
        "DBG ::RegEnumKeyEx [0] E 0 ",
        "DBG ::RegDeleteKey([0]) E 0 ",
        "DBG ::RegEnumKeyEx E 259 ",
        "DBG ::RegCreateKeyEx(1,[0]) E 0 ",
        "DBG ::RegSetValueEx([PrinterName],[KZT Q1]) E 0 ",
        "DBG ::RegSetValueEx([PortName],[LPT1:]) E 0 ",
        "DBG ::RegSetValueEx([DriverName],[KZT TZ-1000]) E 0 ",
        "DBG ::RegCloseKey(1) E 0 ",
        "DBG ::RegCloseKey(0) E 0 ",
    });
    ASSERT_TRUE(ctx.LoadDrvingLink()) << ctx.GetErrorText();
    ExpectLogLines({
        "DBG ::RegOpenKeyEx([SOFTWARE\\Ostrel\\KZTDEVREG.INF]) E 0 ",
        "DBG ::RegOpenKeyEx([0]) E 0 ",
        "DBG ::RegQueryValueEx([PrinterName]) [KZT Q1] E 0 ",
        "DBG ::RegQueryValueEx([PortName]) [LPT1:] E 0 ",
        "DBG ::RegQueryValueEx([DriverName]) [KZT TZ-1000] E 0 ",
        "DBG ::RegCloseKey E 0 ",
        "DBG ::RegOpenKeyEx([1]) E 2 ",
        "DBG ::RegCloseKey E 0 ",
    });
}

TEST_F(DevRegTest, AnEmptyListLeavesAnEmptyRecordsKey)
{
    SeedRecord(0, "Old queue", "OLD:", "Old driver");
    SeedRecord(1, "Old queue 2", "OLD:", "Old driver");
    ASSERT_TRUE(ctx.SaveDrvingLink()) << ctx.GetErrorText();
    EXPECT_TRUE(KeyExists(kRecords));
    EXPECT_TRUE(SubkeyNames(kRecords).empty());

    SecondPhase second(ctx);
    ASSERT_TRUE(second.ctx.AddDrvingLink("Stale", "LPT9:", "Stale driver"));
    EXPECT_TRUE(second.ctx.LoadDrvingLink());
    EXPECT_TRUE(Queues(second.ctx).empty());
}

TEST_F(DevRegTest, AMissingRecordsKeyFailsAndKeepsTheList)
{
    ASSERT_TRUE(ctx.AddDrvingLink("KZT Q1", "LPT1:", "KZT TZ-1000"));
    EXPECT_FALSE(ctx.LoadDrvingLink());
    EXPECT_EQ(0u, ctx.m_strError.find("::RegOpenKeyEx([SOFTWARE\\Ostrel\\KZTDEVREG.INF]) E 2 ")) << ctx.m_strError;
    EXPECT_EQ((std::vector<std::string>{"KZT Q1|LPT1:|KZT TZ-1000"}), Queues(ctx));
}

TEST_F(DevRegTest, TheRecordsEndAtTheFirstMissingNumber)
{
    SeedRecord(0, "Q0", "LPT1:", "D");
    SeedRecord(1, "Q1", "LPT2:", "D");
    SeedRecord(3, "Q3", "LPT3:", "D");
    ASSERT_TRUE(ctx.LoadDrvingLink()) << ctx.GetErrorText();
    EXPECT_EQ((std::vector<std::string>{"Q0|LPT1:|D", "Q1|LPT2:|D"}), Queues(ctx));
    EXPECT_TRUE(LogHasStart("DBG ::RegOpenKeyEx([2]) E 2 "));
}

TEST_F(DevRegTest, ARecordWithoutAValueFails)
{
    SeedRecord(0, "Q0", "LPT1:", "D");
    ASSERT_TRUE(SetValueText(kRecords + "\\1", "PrinterName", "Q1"));
    ASSERT_TRUE(SetValueText(kRecords + "\\1", "DriverName", "D"));
    EXPECT_FALSE(ctx.LoadDrvingLink());
    EXPECT_EQ(0u, ctx.m_strError.find("::RegQueryValueEx([PortName]) E 2 ")) << ctx.m_strError;
}

// Whatever a record's value holds, its text ends within the 256-byte buffer:
// at the data's first NUL or its end. Text that cannot end there fails.
TEST_F(DevRegTest, ValuesReadBackAreTerminatedWhateverTheirTypeAndLength)
{
    const std::string k255(255, 'P'), k256(256, 'P'), k300(300, 'P');
    struct Case {
        const char *what;
        DWORD type;
        std::string bytes;
        bool loads;
        std::string port;
    } cases[] = {
        {"REG_SZ without its NUL", REG_SZ, "LPT7:", true, "LPT7:"},
        {"REG_EXPAND_SZ without its NUL", REG_EXPAND_SZ, "LPT7:", true, "LPT7:"},
        {"REG_BINARY, no NUL", REG_BINARY, "LPT7:", true, "LPT7:"},
        {"REG_DWORD", REG_DWORD, "LPT:", true, "LPT:"},
        {"REG_BINARY, a NUL inside", REG_BINARY, std::string("LPT7:\0junk", 10), true, "LPT7:"},
        {"REG_MULTI_SZ", REG_MULTI_SZ, std::string("LPT7:\0LPT8:\0\0", 13), true, "LPT7:"},
        {"REG_BINARY, empty", REG_BINARY, "", true, ""},
        {"REG_SZ, 255 characters", REG_SZ, SzBytes(k255), true, k255},
        {"REG_SZ, 255 characters without NUL", REG_SZ, k255, true, k255},
        {"REG_BINARY, 255 bytes, no NUL", REG_BINARY, k255, true, k255},
        {"REG_BINARY, 256 bytes, no NUL", REG_BINARY, k256, false, ""},
        {"REG_SZ, 256 characters without NUL", REG_SZ, k256, false, ""},
        {"REG_SZ, 300 characters", REG_SZ, SzBytes(k300), false, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        DeleteKeyTree(kRecords);
        SeedRecord(0, "Q0", "unused", "D");
        ASSERT_TRUE(SetValueBytes(kRecords + "\\0", "PortName", c.type, c.bytes));
        CInstallContext load;
        load.SetInfFileName(ctx.m_pInfFileName);
        load.SetInfDirBase();
        EXPECT_EQ(c.loads, !!load.LoadDrvingLink()) << load.m_strError;
        if (c.loads) {
            EXPECT_EQ(std::vector<std::string>{"Q0|" + c.port + "|D"}, Queues(load));
            EXPECT_EQ("", load.m_strError);
        } else {
            EXPECT_EQ(0u, load.m_strError.find("::RegQueryValueEx([PortName]) E 234 ")) << load.m_strError;
        }
    }
}

TEST_F(DevRegTest, TheLongestNamesRoundTrip)
{
    const std::string queue(255, 'Q');
    FreeSplStr(ctx.m_pInfBaseName);
    const std::string infName = "KZT" + std::string(239 - 3, 'L');  // the records path is 255 characters
    ctx.m_pInfBaseName = AllocSplStr(infName.c_str());
    m_ownKeys.push_back(kOstrel + "\\" + infName);
    ASSERT_TRUE(ctx.AddDrvingLink(queue.c_str(), "LPT1:", "KZT TZ-1000"));
    ASSERT_TRUE(ctx.SaveDrvingLink()) << ctx.GetErrorText();
    CInstallContext load;
    load.m_pInfBaseName = AllocSplStr(infName.c_str());
    ASSERT_TRUE(load.LoadDrvingLink()) << load.GetErrorText();
    EXPECT_EQ(std::vector<std::string>{queue + "|LPT1:|KZT TZ-1000"}, Queues(load));
}

// A records path or a queue name beyond the 256-byte buffers fails before
// anything is written: never a record under a cut name, never a record the
// second phase cannot read back.
TEST_F(DevRegTest, NamesBeyondTheBuffersFailUncut)
{
    SeedRecord(0, "Old queue", "OLD:", "Old driver");
    ASSERT_TRUE(ctx.AddDrvingLink(std::string(256, 'Q').c_str(), "LPT1:", "KZT TZ-1000"));
    EXPECT_FALSE(ctx.SaveDrvingLink());
    EXPECT_EQ("SaveDrvingLink() Length\r\n", ctx.m_strError);
    EXPECT_EQ(SzBytes("Old queue"), GetValue(kRecords + "\\0", "PrinterName").bytes);

    CInstallContext longInf;
    longInf.m_pInfBaseName = AllocSplStr(("KZTLONG" + std::string(240 - 7, 'L')).c_str());
    ASSERT_TRUE(longInf.AddDrvingLink("KZT Q1", "LPT1:", "KZT TZ-1000"));
    EXPECT_FALSE(longInf.SaveDrvingLink());
    EXPECT_FALSE(longInf.LoadDrvingLink());
    EXPECT_EQ("SaveDrvingLink() Length\r\nLoadDrvingLink() Length\r\n", longInf.m_strError);
    for (const std::string &name : SubkeyNames(kOstrel))
        EXPECT_NE(0u, name.find("KZTLONG")) << name;
    EXPECT_EQ((std::vector<std::string>{"KZT Q1|LPT1:|KZT TZ-1000"}), Queues(longInf));
}

// ---- The parallel-port device entries --------------------------------------

class DevRegLptTest : public DevRegTest {
protected:
    void SetUp() override
    {
        DevRegTest::SetUp();
        ctx.m_pHardwareID = AllocSplStr(kHardwareID.c_str());
        ctx.SetPortName("LPT1:");
    }
    void AddInstances(std::initializer_list<std::string> names)
    {
        for (const std::string &name : names)
            ASSERT_TRUE(CreateKey(kRawPort + "\\" + name)) << name;
    }
    // The model's entry has its two values, as the system expects them.
    void ExpectEntryValues(const std::string &entry)
    {
        std::string path = kModelKey + "\\" + entry;
        RegValue value = GetValue(path, "Class");
        EXPECT_EQ((DWORD)REG_SZ, value.type) << entry;
        EXPECT_EQ(SzBytes("Printer"), value.bytes) << entry;
        value = GetValue(path, "ConfigFlags");
        EXPECT_EQ((DWORD)REG_DWORD, value.type) << entry;
        EXPECT_EQ(std::string(4, '\0'), value.bytes) << entry;
    }
    // The list a key of the scratch area gets when it is created now.
    std::string NewKeyList()
    {
        std::string path = kScratch + "\\NewKey";
        CreateKey(path);
        std::string list = DaclText(path);
        DeleteKeyTree(path);
        return list;
    }
};

static std::vector<std::string> Sorted(std::vector<std::string> names)
{
    for (std::string &name : names)
        CharUpperA(&name[0]);
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(DevRegLptTest, EachInstanceOfThePortGetsTheModelsEntry)
{
    AddInstances({"LPT1", "lpt1&0001", "RawLPT2", "XLPT1Y"});
    ASSERT_TRUE(CreateKey(kLptEnum));
    ASSERT_TRUE(SetDaclText(kLptEnum, kLockedList));
    const std::string enumList = DaclText(kLptEnum);
    ASSERT_NE(kNullList, enumList);
    const std::string newList = NewKeyList();
    struct Case {
        const char *port;
        std::vector<std::string> entries;
    } cases[] = {
        {"LPT1:", {"LPT1.4", "lpt1&0001.4", "XLPT1Y.4"}},
        {"LPT1", {"LPT1.4", "lpt1&0001.4", "XLPT1Y.4"}},
        {"lpt2:", {"RawLPT2.4"}},
        {"LPT3:", {}},
        {"FILE:", {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.port);
        DeleteKeyTree(kModelKey);
        ctx.SetPortName(c.port);
        ctx.m_strError.clear();
        EXPECT_TRUE(ctx.AddRegLptEnum()) << ctx.m_strError;
        EXPECT_EQ("", ctx.m_strError);
        EXPECT_EQ(Sorted(c.entries), Sorted(SubkeyNames(kModelKey)));
        EXPECT_EQ(!c.entries.empty(), KeyExists(kModelKey));  // no parallel port, no change
        for (const std::string &entry : c.entries) {
            ExpectEntryValues(entry);
            EXPECT_EQ(newList, DaclText(kModelKey + "\\" + entry)) << entry;
        }
        if (!c.entries.empty()) {
            EXPECT_EQ(newList, DaclText(kModelKey));
        }
        EXPECT_EQ(enumList, DaclText(kLptEnum));
    }
}

TEST_F(DevRegLptTest, OneEntryLogsEachStep)
{
    AddInstances({"LPT1"});
    TakeLog();
    ASSERT_TRUE(ctx.AddRegLptEnum()) << ctx.m_strError;
    std::vector<std::string> lines = TakeLog();
    const std::string raw = "[SYSTEM\\CurrentControlSet\\Enum\\LPTENUM\\MicrosoftRawPort]";
    ASSERT_LE(4u, lines.size());
    EXPECT_EQ("DBG ::RegOpenKeyEx(" + raw + ") E 0 ", lines[0]);
    EXPECT_EQ("DBG ::RegEnumKeyEx(" + raw + ",0) [LPT1] E 0 ", lines[1]);
    EXPECT_EQ(0u, lines[lines.size() - 2].find("DBG ::RegEnumKeyEx(" + raw + ",1) E 259 "));
    EXPECT_EQ("DBG ::RegCloseKey " + raw + " E 0 ", lines.back());
    // Two keys created, one key written: the access list opened three times.
    EXPECT_EQ(3, std::count_if(lines.begin(), lines.end(), [](const std::string &line) {
                  return !line.compare(0, 34, "DBG ::LoadLibrary([ADVAPI32.DLL]) ");
              }));
    EXPECT_TRUE(std::find(lines.begin(), lines.end(), "DBG ::RegCreateKeyEx([KZTTEST-1000]) E 0 ") != lines.end());
    EXPECT_TRUE(std::find(lines.begin(), lines.end(), "DBG ::RegCreateKeyEx([LPT1.4]) E 0 ") != lines.end());
}

// Keys the installer may not write: the entry keys exist with a list that
// lets everyone read and only the system write. Existing keys are not
// touched to be created; the entry's values are written through the opened
// list, and every list is back as it was.
TEST_F(DevRegLptTest, KeysTheInstallerMayNotWriteGetTheirListsBack)
{
    AddInstances({"LPT1"});
    ASSERT_TRUE(CreateKey(kModelKey + "\\LPT1.4"));
    for (const std::string &path : {kLptEnum, kModelKey, kModelKey + "\\LPT1.4"})
        ASSERT_TRUE(SetDaclText(path, kLockedList)) << path;
    const std::string locked = DaclText(kModelKey);
    HKEY hKey;
    ASSERT_EQ((LONG)ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_LOCAL_MACHINE, (kModelKey + "\\LPT1.4").c_str(), 0,
                                                  KEY_WRITE, &hKey));
    TakeLog();
    ASSERT_TRUE(ctx.AddRegLptEnum()) << ctx.m_strError;
    ExpectEntryValues("LPT1.4");
    for (const std::string &path : {kLptEnum, kModelKey, kModelKey + "\\LPT1.4"})
        EXPECT_EQ(locked, DaclText(path)) << path;
    EXPECT_EQ(1u, CountLogLines("DBG ::LoadLibrary([ADVAPI32.DLL]) "));  // only for the values
}

// The model's key is volatile, so its non-volatile entry cannot be created:
// AddRegLptEnum fails in the middle, and the model key's list is back.
TEST_F(DevRegLptTest, AFailureInTheMiddlePutsTheListBack)
{
    AddInstances({"LPT1"});
    ASSERT_TRUE(CreateKey(kModelKey, true));
    ASSERT_TRUE(SetDaclText(kModelKey, kLockedList));
    const std::string locked = DaclText(kModelKey);
    EXPECT_FALSE(ctx.AddRegLptEnum());
    EXPECT_NE(std::string::npos, ctx.m_strError.find("::RegCreateKeyEx([LPT1.4]) E 1021 ")) << ctx.m_strError;
    EXPECT_EQ(locked, DaclText(kModelKey));
    EXPECT_FALSE(KeyExists(kModelKey + "\\LPT1.4"));
}

// Composed names must fit 256 bytes whole: the entry "<instance>.4" and the
// path LPTENUM\<hardware id>\<entry>. A name that does not fit fails before
// any key is made; an instance name the enumeration cannot hold fails there.
TEST_F(DevRegLptTest, InstanceNamesBeyondTheBuffersFailUncut)
{
    const size_t cchFits = 255 - (kModelKey.size() + 1) - 2;  // the entry path is 255 characters
    struct Case {
        size_t cchName;
        bool added;
        const char *error;
    } cases[] = {
        {cchFits, true, ""},
        {cchFits + 1, false, "AddRegLptEnum() Length\r\n"},
        {253, false, "AddRegLptEnum() Length\r\n"},
        {255, false, "AddRegLptEnum() Length\r\n"},
        {256, false, "::RegEnumKeyEx([SYSTEM\\CurrentControlSet\\Enum\\LPTENUM\\MicrosoftRawPort],0) E 234 "},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.cchName);
        DeleteKeyTree(kRawPort);
        DeleteKeyTree(kModelKey);
        const std::string name = "LPT1" + std::string(c.cchName - 4, 'x');
        AddInstances({name});
        ctx.m_strError.clear();
        EXPECT_EQ(c.added, !!ctx.AddRegLptEnum());
        EXPECT_EQ(0u, ctx.m_strError.find(c.error)) << ctx.m_strError;
        EXPECT_EQ(c.added, ctx.m_strError.empty()) << ctx.m_strError;
        if (c.added)
            ExpectEntryValues(name + ".4");
        else
            EXPECT_FALSE(KeyExists(kModelKey));
    }

    DeleteKeyTree(kRawPort);
    AddInstances({"LPT1"});
    FreeSplStr(ctx.m_pHardwareID);
    ctx.m_pHardwareID = AllocSplStr(std::string(255 - kLptEnum.size(), 'H').c_str());
    ctx.m_strError.clear();
    EXPECT_FALSE(ctx.AddRegLptEnum());
    EXPECT_EQ("AddRegLptEnum() Length\r\n", ctx.m_strError);
}

TEST_F(DevRegLptTest, NothingToDoWithoutRawPortsOrHardwareId)
{
    EXPECT_TRUE(ctx.AddRegLptEnum());  // no such enumerator, as on Windows 95/98
    EXPECT_TRUE(LogHasStart("DBG ::RegOpenKeyEx([SYSTEM\\CurrentControlSet\\Enum\\LPTENUM\\MicrosoftRawPort]) E 2 "));

    AddInstances({"LPT1"});
    FreeSplStr(ctx.m_pHardwareID);
    EXPECT_TRUE(ctx.AddRegLptEnum());
    EXPECT_TRUE(LogHas("DBG AddRegLptEnum m_pHardwareID"));
    EXPECT_FALSE(KeyExists(kModelKey));
    EXPECT_EQ("", ctx.m_strError);

    ctx.m_pHardwareID = AllocSplStr(kHardwareID.c_str());
    ctx.SetPortName(NULL);
    EXPECT_FALSE(ctx.AddRegLptEnum());
    EXPECT_EQ("AddRegLptEnum m_pPortName\r\n", ctx.m_strError);
    EXPECT_FALSE(KeyExists(kModelKey));
}

// ---- The two key operations, step by step ---------------------------------

TEST_F(DevRegTest, CreateEnumKeyOpensTheParentsListOnlyToCreate)
{
    const std::string parent = kScratch + "\\Parent";
    ASSERT_TRUE(CreateKey(parent));
    ASSERT_TRUE(SetDaclText(parent, kLockedList));
    const std::string locked = DaclText(parent);
    TakeLog();
    ASSERT_TRUE(ctx.CreateEnumKey(parent.c_str(), "Child")) << ctx.m_strError;
    EXPECT_TRUE(KeyExists(parent + "\\Child"));
    EXPECT_EQ(locked, DaclText(parent));
    ExpectLogLines({
        "DBG ::RegOpenKeyEx([SOFTWARE\\KztDevRegTest\\Parent]) E 0 ",
        "DBG ::RegOpenKeyEx([Child]) E 2 ",
        "DBG ::LoadLibrary([ADVAPI32.DLL]) R x",
        "DBG MyGetSecurityInfo E 0 ",
        "DBG MySetSecurityInfo E 0 ",
        "DBG ::RegCreateKeyEx([Child]) E 0 ",
        "DBG ::RegCloseKey [Child] E 0 ",
        "DBG MySetSecurityInfo E 0 ",
        "DBG ::LocalFree R 0 E 0 ",
        "DBG ::FreeLibrary R 1 E 0 ",
        "DBG ::RegCloseKey [SOFTWARE\\KztDevRegTest\\Parent] E 0 ",
    });

    ASSERT_TRUE(ctx.CreateEnumKey(parent.c_str(), "Child"));  // there already: the list is not touched
    ExpectLogLines({
        "DBG ::RegOpenKeyEx([SOFTWARE\\KztDevRegTest\\Parent]) E 0 ",
        "DBG ::RegOpenKeyEx([Child]) E 0 ",
        "DBG ::RegCloseKey [Child] E 0 ",
        "DBG ::RegCloseKey [SOFTWARE\\KztDevRegTest\\Parent] E 0 ",
    });
    EXPECT_EQ("", ctx.m_strError);
}

TEST_F(DevRegTest, CreateEnumKeyPutsTheListBackAfterAFailedCreate)
{
    const std::string parent = kScratch + "\\Volatile";
    ASSERT_TRUE(CreateKey(parent, true));
    ASSERT_TRUE(SetDaclText(parent, kLockedList));
    const std::string locked = DaclText(parent);
    TakeLog();
    EXPECT_FALSE(ctx.CreateEnumKey(parent.c_str(), "Child"));
    EXPECT_EQ(0u, ctx.m_strError.find("::RegCreateKeyEx([Child]) E 1021 ")) << ctx.m_strError;
    EXPECT_EQ(locked, DaclText(parent));
    std::vector<std::string> lines = TakeLog();
    ASSERT_EQ(10u, lines.size());
    EXPECT_EQ("DBG MySetSecurityInfo E 0 ", lines[6]);  // the list put back
    EXPECT_EQ("DBG ::RegCloseKey [SOFTWARE\\KztDevRegTest\\Volatile] E 0 ", lines[9]);

    ctx.m_strError.clear();
    EXPECT_FALSE(ctx.CreateEnumKey((kScratch + "\\Missing").c_str(), "Child"));
    EXPECT_EQ(0u, ctx.m_strError.find("::RegOpenKeyEx([SOFTWARE\\KztDevRegTest\\Missing]) E 2 "));
}

TEST_F(DevRegTest, SetEnumKeyValuesWritesThroughTheOpenedListAndPutsItBack)
{
    const std::string path = kScratch + "\\Entry";
    ASSERT_TRUE(CreateKey(path));
    ASSERT_TRUE(SetDaclText(path, kLockedList));
    const std::string locked = DaclText(path);
    TakeLog();
    ASSERT_TRUE(ctx.SetEnumKeyValues(path.c_str())) << ctx.m_strError;
    EXPECT_EQ(SzBytes("Printer"), GetValue(path, "Class").bytes);
    EXPECT_EQ(std::string(4, '\0'), GetValue(path, "ConfigFlags").bytes);
    EXPECT_EQ(locked, DaclText(path));
    ExpectLogLines({
        "DBG ::RegOpenKeyEx([SOFTWARE\\KztDevRegTest\\Entry]) E 0 ",
        "DBG ::LoadLibrary([ADVAPI32.DLL]) R x",
        "DBG MyGetSecurityInfo E 0 ",
        "DBG MySetSecurityInfo E 0 ",
        "DBG ::RegOpenKeyEx([SOFTWARE\\KztDevRegTest\\Entry]) E 0 ",
        "DBG ::RegSetValueEx([Class],[Printer]) E 0 ",
        "DBG ::RegSetValueEx([ConfigFlags],0) E 0 ",
        "DBG ::RegCloseKey [SOFTWARE\\KztDevRegTest\\Entry] E 0 ",
        "DBG MySetSecurityInfo E 0 ",
        "DBG ::LocalFree R 0 E 0 ",
        "DBG ::FreeLibrary R 1 E 0 ",
        "DBG ::RegCloseKey [SOFTWARE\\KztDevRegTest\\Entry] E 0 ",
    });

    EXPECT_FALSE(ctx.SetEnumKeyValues((kScratch + "\\Missing").c_str()));
    EXPECT_EQ(0u, ctx.m_strError.find("::RegOpenKeyEx([SOFTWARE\\KztDevRegTest\\Missing]) E 2 "));
    EXPECT_EQ(0u, CountLogLines("DBG ::LoadLibrary"));
}

// ---- The USB entry ----------------------------------------------------------

TEST_F(DevRegTest, DelRegUsbPrintLeavesWindowsNtAlone)
{
    SetupSystem();
    ASSERT_TRUE(ctx.m_bWinNT);
    ctx.m_pHardwareID = AllocSplStr(kHardwareID.c_str());
    ASSERT_TRUE(CreateKey(kUsbPrint + "\\" + kHardwareID));
    TakeLog();
    EXPECT_TRUE(ctx.DelRegUsbPrint());
    EXPECT_TRUE(KeyExists(kUsbPrint + "\\" + kHardwareID));
    EXPECT_TRUE(TakeLog().empty());
}

// Windows 95/98 only: these cases run in the 32-bit build, in a prefix that
// reports Windows 98, and skip wherever the system reports Windows NT.
class DevRegW95Test : public DevRegTest {
protected:
    void SetUp() override
    {
        DevRegTest::SetUp();
        SetupSystem();
        if (ctx.m_bWinNT)
            GTEST_SKIP() << "the Windows 95/98 path needs a system that reports the Windows 95 family; this one "
                            "reports Windows NT "
                         << ctx.m_osvi.dwMajorVersion << "." << ctx.m_osvi.dwMinorVersion
                         << " (these cases run in the 32-bit build with KZT_PREFIX=win98 KZT_WINE_VERSION=win98)";
        ctx.m_pHardwareID = AllocSplStr(kHardwareID.c_str());
        TakeLog();
    }
};

TEST_F(DevRegW95Test, DelRegUsbPrintDeletesOnlyTheModelsEntry)
{
    for (const char *name : {"AAA-0001", "kzttest-1000", "OTHER-2000"})
        ASSERT_TRUE(CreateKey(kUsbPrint + "\\" + name));
    ASSERT_TRUE(ctx.DelRegUsbPrint()) << ctx.m_strError;
    EXPECT_EQ(Sorted({"AAA-0001", "OTHER-2000"}), Sorted(SubkeyNames(kUsbPrint)));
    std::vector<std::string> lines = TakeLog();
    ASSERT_LE(4u, lines.size());
    EXPECT_EQ("DBG ::RegOpenKeyEx([Enum\\USBPRINT]) E 0 ", lines[0]);
    EXPECT_EQ("DBG ::RegEnumKeyEx(0) [AAA-0001] E 0 ", lines[1]);
    EXPECT_EQ("DBG ::RegEnumKeyEx(1) [kzttest-1000] E 0 ", lines[2]);
    EXPECT_EQ("DBG ::RegDeleteKey([kzttest-1000]) E 0 ", lines[3]);
    EXPECT_EQ("DBG ::RegCloseKey E 0 ", lines.back());
    EXPECT_EQ("", ctx.m_strError);
}

TEST_F(DevRegW95Test, DelRegUsbPrintWithoutTheEntryChangesNothing)
{
    EXPECT_TRUE(ctx.DelRegUsbPrint());  // no USB printer ever enumerated
    EXPECT_TRUE(LogHasStart("DBG ::RegOpenKeyEx([Enum\\USBPRINT]) E 2 "));

    ASSERT_TRUE(CreateKey(kUsbPrint + "\\OTHER-2000"));
    EXPECT_TRUE(ctx.DelRegUsbPrint());
    EXPECT_EQ(std::vector<std::string>{"OTHER-2000"}, SubkeyNames(kUsbPrint));
    EXPECT_EQ("", ctx.m_strError);
}

TEST_F(DevRegW95Test, AddRegLptEnumFindsNoRawPortEnumerator)
{
    ctx.SetPortName("LPT1:");
    EXPECT_TRUE(ctx.AddRegLptEnum());
    EXPECT_EQ("", ctx.m_strError);
    EXPECT_FALSE(KeyExists(kModelKey));
}
