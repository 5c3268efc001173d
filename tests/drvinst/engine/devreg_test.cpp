// The port and device registry of the install engine, against Wine's real
// registry in the installer's own prefix: the queue records kept across a
// reinstall's restart, and the Windows 95/98 USB entry (DevRegW95Test, in a
// prefix that reports Windows 98).
#include "devregfixture.h"

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
        "DBG ::OpenPrinter([KZT Q1]) R 0 E 1801 ",  // no such queue: no settings to keep
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

// Without the INF's name (no SetupSysInfo) there is no records key to name:
// nothing is written under a made-up one.
TEST_F(DevRegTest, NoInfNameNoRecords)
{
    CInstallContext bare;
    ASSERT_TRUE(bare.AddDrvingLink("KZT Q1", "LPT1:", "KZT TZ-1000"));
    EXPECT_FALSE(bare.SaveDrvingLink());
    EXPECT_FALSE(bare.LoadDrvingLink());
    EXPECT_EQ("SaveDrvingLink() m_pInfBaseName\r\nLoadDrvingLink() m_pInfBaseName\r\n", bare.m_strError);
    EXPECT_EQ((std::vector<std::string>{"KZT Q1|LPT1:|KZT TZ-1000"}), Queues(bare));
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
