// What spans the restart and outlives the installer: the RunOnce command of
// the second phase with its switches and its 256-byte limit, and the model's
// entry in the list of installed software.
#include "executefixture.h"
#include "regkeys.h"
#include "regstandin.h"
#include "splstr.h"

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
        EXPECT_EQ((std::vector<std::string>{"DBG ::RegCreateKeyEx([SOFTWARE\\Ostrel\\Pending]) E 0 ",
                                            "DBG ::RegSetValueEx([SOFTWARE\\Ostrel\\Pending],[TZ.INF],[" + command + "]) E 0 ",
                                            "DBG ::RegOpenKeyEx([SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce]) E 0 ",
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

// A working folder named after a long INF name: the folder fits its buffer,
// the commands (which hold it twice) do not.
static const std::string kLongInf = std::string(80, 'L') + ".INF";

// The first phases check the second phase's command before they remove
// anything: the installed model keeps its queue, driver, values and files,
// and nothing is recorded.
TEST_F(ExecuteTest, FirstPhaseFromALongWorkingFolderFailsAtTheRunOnceCommand)
{
    std::string inf = m_package + "\\" + kLongInf;
    ASSERT_TRUE(CopyFileA((m_package + "\\TZ.INF").c_str(), inf.c_str(), FALSE));
    std::string work = ProgramsDirA() + "\\Ostrel\\Ostrel" + kLongInf;
    const struct {
        BOOL CInstallContext::*mode;
        const char *switches;
    } cases[] = {{&CInstallContext::m_bUninstall, " /Uninstall"}, {&CInstallContext::m_bReinstall, " /Reinstall"}};
    for (const auto &c : cases) {
        ASSERT_NO_FATAL_FAILURE(Install());
        CInstallContext first;
        ASSERT_NO_FATAL_FAILURE(Prepare(first, kModel, "LPT1:", nullptr, inf));
        SetProgram(first);
        first.*c.mode = TRUE;
        first.m_pDialogs = &m_dialogs;
        EXPECT_FALSE(first.Excecute()) << c.switches;
        RemoveTree(work);
        std::string command = "\"" + work + "\\execute_test.exe\" \"" + work + "\\" + kLongInf + "\" \"" + kModel +
                              "\" \"LPT1:\" /RunOnce" + c.switches;
        EXPECT_EQ("AddRunOnce() Length [" + command + "]\r\n", first.m_strError) << c.switches;
        EXPECT_TRUE(RunOnceNames().empty());
        EXPECT_TRUE(m_dialogs.calls.empty());
        SpoolerState s = ReadSpooler();
        EXPECT_TRUE(Has(s.queues, Queue(kModel, "LPT1:"))) << c.switches;
        EXPECT_TRUE(Has(s.drivers, kModel)) << c.switches;
        EXPECT_EQ("vigil.exe", RegText(kMonitorKey, kModel)) << c.switches;
        EXPECT_EQ("1B40", RegText(kMonitorKey, "Ostrel TZ-1000 Head")) << c.switches;
        EXPECT_EQ("0C1B40", RegText(kMonitorKey, "Ostrel TZ-1000 Tail")) << c.switches;
        EXPECT_TRUE(ModelFilesInstalled()) << c.switches;
        EXPECT_TRUE(Records().empty()) << c.switches;
        ResetSpooler();
        RemoveWhatTheSequenceLeaves();
    }
}

// An install checks its Uninstall entry's command before it adds anything.
TEST_F(ExecuteTest, InstallFromALongWorkingFolderFailsAtTheUninstallEntryBeforeAddingAnything)
{
    std::string inf = m_package + "\\" + kLongInf;
    ASSERT_TRUE(CopyFileA((m_package + "\\TZ.INF").c_str(), inf.c_str(), FALSE));
    std::string work = ProgramsDirA() + "\\Ostrel\\Ostrel" + kLongInf;
    CInstallContext c;
    ASSERT_NO_FATAL_FAILURE(Prepare(c, kModel, "LPT1:", nullptr, inf));
    SetProgram(c);
    c.m_bInstall = TRUE;
    c.m_pDialogs = &m_dialogs;
    EXPECT_FALSE(c.Excecute());
    bool workFilled = FileExists(work + "\\execute_test.exe");
    RemoveTree(work);
    std::string kept = KeptDirA().substr(0, KeptDirA().rfind('\\') + 1) + "Ostrel" + kLongInf;
    EXPECT_EQ("AddUninstallKey() Length [\"" + kept + "\\execute_test.exe\" \"" + kept + "\\" + kLongInf + "\" \"" +
                  kModel + "\" /uninstall]\r\n",
              c.m_strError);
    EXPECT_FALSE(workFilled);
    SpoolerState s = ReadSpooler();
    EXPECT_TRUE(QueuesStartingWith("Ostrel").empty());
    EXPECT_FALSE(Has(s.drivers, kModel));
    EXPECT_FALSE(Has(s.monitors, "jobtap"));
    EXPECT_FALSE(Has(s.processors, kProcessor));
    for (const char *file : kModelFiles)
        EXPECT_FALSE(FileExists(PrinterDriverDirA() + "\\" + file)) << file;
    EXPECT_EQ("(none)", RegText(kMonitorKey, kModel));
    EXPECT_FALSE(KeyExists(std::string(kUninstallKey) + "\\" + kModel));
    EXPECT_TRUE(m_dialogs.calls.empty());
}

// --- the Uninstall entry -----------------------------------------------------------------

TEST_F(ExecuteTest, UninstallEntryIsWrittenAndDeleted)
{
    ctx.SetPrinterName(kModel);
    ctx.m_pTempDirName = AllocSplStr(KeptDirA().c_str());  // the working folder is the kept copy
    ctx.m_pExeBaseName = AllocSplStr("drvinst.exe");
    ctx.m_pInfBaseName = AllocSplStr("TZ.INF");
    std::string entry = std::string(kUninstallKey) + "\\" + kModel;
    TakeLog();
    SetLastError(0xdeadbeef);
    ASSERT_TRUE(ctx.AddUninstallKey()) << ctx.GetErrorText();
    EXPECT_EQ(0u, GetLastError());
    EXPECT_EQ(kModel, RegText(entry, "DisplayName"));
    // The kept copy in the programs folder.
    EXPECT_EQ(Quoted(KeptDirA() + "\\drvinst.exe") + " " + Quoted(KeptDirA() + "\\TZ.INF") + " \"Ostrel TZ-1000\" /uninstall",
              RegText(entry, "UninstallString"));
    // What deployment tools and inventories read (no INF here: no version).
    EXPECT_EQ("Ostrel", RegText(entry, "Publisher"));
    EXPECT_EQ(RegText(entry, "UninstallString") + " /quiet", RegText(entry, "QuietUninstallString"));
    for (const char *flag : {"NoModify", "NoRepair"}) {
        RegValue value = GetValue(entry, flag);
        EXPECT_TRUE(value.found && value.type == REG_DWORD && value.bytes == std::string("\1\0\0\0", 4)) << flag;
    }
    RegValue size = GetValue(entry, "EstimatedSize");
    EXPECT_TRUE(size.found && size.type == REG_DWORD && size.bytes.size() == 4);
    std::vector<std::string> log = TakeLog();
    ASSERT_EQ(14u, log.size());
    EXPECT_EQ(0u, log[0].find("DBG ::RegOpenKeyEx([SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall]) h x"));
    EXPECT_EQ(0u, log[1].find("DBG ::RegCreateKeyEx([Ostrel TZ-1000]) h x"));
    EXPECT_EQ("DBG ::RegSetValueEx([DisplayName],[Ostrel TZ-1000]) E 0 ", log[2]);
    EXPECT_EQ("DBG ::RegSetValueEx([UninstallString],[" + RegText(entry, "UninstallString") + "]) E 0 ", log[3]);
    EXPECT_EQ(0u, log[12].find("DBG ::RegCloseKey(x"));
    EXPECT_EQ(0u, log[13].find("DBG ::RegCloseKey(x"));

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

// A value of a new entry that cannot be written (the stand-in plays a full
// registry): the entry goes again, so that no model is listed without its
// uninstall command, and the failure is the result. An entry that was there
// before keeps what it had.
TEST_F(ExecuteTest, UninstallEntryThatCannotBeCompletedIsNotLeftBehind)
{
    ctx.SetPrinterName(kModel);
    ctx.m_pTempDirName = AllocSplStr(KeptDirA().c_str());  // the working folder is the kept copy
    ctx.m_pExeBaseName = AllocSplStr("drvinst.exe");
    ctx.m_pInfBaseName = AllocSplStr("TZ.INF");
    const std::string entry = std::string(kUninstallKey) + "\\" + kModel;
    for (const char *value : {"DisplayName", "UninstallString", "Publisher", "EstimatedSize"}) {
        RegistryStandIn registry;
        ASSERT_TRUE(registry.Installed());
        registry.FailSetValue(value, ERROR_NO_SYSTEM_RESOURCES);
        ctx.m_strError.clear();
        TakeLog();
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(ctx.AddUninstallKey()) << value;
        EXPECT_EQ((DWORD)ERROR_NO_SYSTEM_RESOURCES, GetLastError()) << value;
        EXPECT_EQ(1, registry.Refused()) << value;
        EXPECT_FALSE(KeyExists(entry)) << value;
        std::vector<std::string> log = TakeLog();
        ASSERT_LE(5u, log.size()) << value;
        const std::string failed = "ERR ::RegSetValueEx([" + std::string(value) + "],[";
        EXPECT_EQ(0u, log[log.size() - 4].find(failed)) << log[log.size() - 4];
        EXPECT_NE(std::string::npos, log[log.size() - 4].find("]) E 1450 ")) << log[log.size() - 4];
        EXPECT_EQ(0u, log[log.size() - 3].find("DBG ::RegCloseKey(x")) << log[log.size() - 3];
        EXPECT_EQ(0u, log[log.size() - 2].find("DBG ::RegDeleteKey(x")) << log[log.size() - 2];
        EXPECT_NE(std::string::npos, log[log.size() - 2].find(",[Ostrel TZ-1000]) E 0 ")) << log[log.size() - 2];
        EXPECT_EQ(0u, log[log.size() - 1].find("DBG ::RegCloseKey(x")) << log[log.size() - 1];
        EXPECT_EQ(0u, ctx.m_strError.find(failed.substr(4))) << ctx.m_strError;
    }
    ASSERT_TRUE(SetValueText(entry, "DisplayName", kModel));
    ASSERT_TRUE(SetValueText(entry, "UninstallString", "earlier"));
    {
        RegistryStandIn registry;
        registry.FailSetValue("UninstallString", ERROR_NO_SYSTEM_RESOURCES);
        EXPECT_FALSE(ctx.AddUninstallKey());
    }
    EXPECT_EQ(kModel, RegText(entry, "DisplayName"));
    EXPECT_EQ("earlier", RegText(entry, "UninstallString"));
}

TEST_F(ExecuteTest, UninstallEntryNeedsItsNamesAndAStringThatFits)
{
    ctx.m_pTempDirName = AllocSplStr(KeptDirA().c_str());  // the working folder is the kept copy
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
    EXPECT_EQ(0u, ctx.m_strError.find("AddUninstallKey() Length [\"" + KeptDirA() + "\\drvinst.exe\" ")) << ctx.m_strError;
    EXPECT_FALSE(KeyExists(std::string(kUninstallKey) + "\\" + model));
}
