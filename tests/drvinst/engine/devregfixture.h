// The fixture of the port and device registry tests: a context whose INF is
// KZTDEVREG.INF, the registry keys the tests use (removed before and after
// each test, and the keys they had to create), log checks.
#pragma once
#include "../context/contextfixture.h"
#include "regkeys.h"
#include "splstr.h"
#include <algorithm>

inline const std::string kOstrel = "SOFTWARE\\Ostrel";
inline const std::string kRecords = kOstrel + "\\KZTDEVREG.INF";
inline const std::string kLptEnum = "SYSTEM\\CurrentControlSet\\Enum\\LPTENUM";
inline const std::string kRawPort = kLptEnum + "\\MicrosoftRawPort";
inline const std::string kHardwareID = "KZTTEST-1000";
inline const std::string kModelKey = kLptEnum + "\\" + kHardwareID;
inline const std::string kUsbPrint = "Enum\\USBPRINT";
inline const std::string kScratch = "SOFTWARE\\KztDevRegTest";
// Everyone may read, only the system may write: a list the installer may not write under.
inline const char kLockedList[] = "D:(A;;KA;;;SY)(A;;KR;;;WD)";
inline const char kNullList[] = "D:NO_ACCESS_CONTROL";

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
    // Creates the key (and its parents) with a list that lets everyone read
    // and only the system write: a key the installer may not write. Returns
    // that list as the key reports it.
    std::string CreateLockedKey(const std::string &path, bool bVolatile = false)
    {
        EXPECT_TRUE(CreateKey(path, bVolatile)) << path;
        EXPECT_TRUE(SetDaclText(path, kLockedList)) << path;
        std::string list = DaclText(path);
        EXPECT_NE(kNullList, list) << path;
        return list;
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
inline std::vector<std::string> Queues(const CInstallContext &c)
{
    std::vector<std::string> queues;
    for (const DrvingLink *p = c.m_pDrvingLink; p; p = p->pNext)
        queues.push_back(std::string(p->pPrinterName) + "|" + p->pPortName + "|" + p->pDriverName);
    return queues;
}

inline std::string SzBytes(const std::string &text) { return std::string(text.c_str(), text.size() + 1); }

// A context of the second phase: the same INF file name, nothing else.
struct SecondPhase {
    explicit SecondPhase(const CInstallContext &first)
    {
        ctx.SetInfFileName(first.m_pInfFileName);
        ctx.SetInfDirBase();
    }
    CInstallContext ctx;
};

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

inline std::vector<std::string> Sorted(std::vector<std::string> names)
{
    for (std::string &name : names)
        CharUpperA(&name[0]);
    std::sort(names.begin(), names.end());
    return names;
}
