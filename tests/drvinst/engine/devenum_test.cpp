// The model's device entries under the parallel-port enumerator, against
// Wine's real registry in the installer's own prefix: which raw-port
// instances get an entry, its values, and the access lists opened on the way
// and put back, after success and after a failure in the middle.
#include "devregfixture.h"

// ---- The parallel-port device entries --------------------------------------

TEST_F(DevRegLptTest, EachInstanceOfThePortGetsTheModelsEntry)
{
    AddInstances({"LPT1", "lpt1&0001", "RawLPT2", "XLPT1Y"});
    const std::string enumList = CreateLockedKey(kLptEnum);
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
    std::string locked;
    for (const std::string &path : {kModelKey + "\\LPT1.4", kModelKey, kLptEnum})  // a locked key takes no subkey
        locked = CreateLockedKey(path);
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
    const std::string locked = CreateLockedKey(kModelKey, true);
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
    const std::string locked = CreateLockedKey(parent);
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
    const std::string locked = CreateLockedKey(parent, true);
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
    const std::string locked = CreateLockedKey(path);
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
