// Models of an INF and the parse of a model's install section, on the
// shipped sample INF and on small INFs made for one rule each.
#include "contextfixture.h"
#include "splstr.h"
#include <algorithm>

namespace {

std::string SampleDir()
{
    char exe[MAX_PATH];
    GetModuleFileNameA(NULL, exe, sizeof(exe));
    std::string dir = exe;
    return dir.substr(0, dir.rfind('\\')) + "\\samples\\tz";
}

std::string Files(const CInstallContext &c)
{
    std::string s;
    for (const FileLink *p = c.m_pFileLink; p; p = p->pNext)
        s += std::string("[") + LogStr(p->pDst) + "][" + LogStr(p->pSrc) + "][" + LogStr(p->pTmp) + "][" +
             LogStr(p->pFlag) + "][" + LogStr(p->pDir) + "]\n";
    return s;
}

std::string Regs(const CInstallContext &c)
{
    std::string s;
    for (const RegLink *p = c.m_pRegLink; p; p = p->pNext)
        s += std::string("[") + LogStr(p->pRoot) + "][" + LogStr(p->pSubKey) + "][" + LogStr(p->pValueName) + "][" +
             LogStr(p->pFlag) + "][" + LogStr(p->pValue) + "]\n";
    return s;
}

}  // namespace

TEST_F(ContextTest, SampleInfListsItsModels)
{
    ctx.SetInfFileName((SampleDir() + "\\TZ.INF").c_str());
    ctx.m_wLangID = 0x0409;
    std::string models = "stale";
    ASSERT_TRUE(ctx.FindInfPrinters(models)) << ctx.GetErrorText();
    EXPECT_EQ("Ostrel TZ-1000,Ostrel TZ-2000,", models);
    EXPECT_TRUE(LogHas("DBG FindInfPrinters() [Ostrel TZ-1000,Ostrel TZ-2000,]"));
    EXPECT_TRUE(LogHas("DBG [Ostrel][Ostrel]"));
}

TEST_F(ContextTest, SampleInfParsesAModel)
{
    ctx.SetInfFileName((SampleDir() + "\\TZ.INF").c_str());
    ctx.SetPrinterName("Ostrel TZ-2000");
    ASSERT_TRUE(ctx.SetupSysInfo()) << ctx.GetErrorText();
    ctx.m_wLangID = 0x0409;
    ASSERT_TRUE(ctx.ParseInf()) << ctx.GetErrorText();
    EXPECT_STREQ("TZ2000.Install", ctx.m_pInstallSection);
    EXPECT_STREQ("OstrelTZ-2000", ctx.m_pHardwareID);
    EXPECT_STREQ("KZTTZDRV.DLL", ctx.GetDirective("driverfile"));
    EXPECT_STREQ("KZTTZUIF.DLL", ctx.GetDirective("ConfigFile"));
    EXPECT_STREQ("KZTTZ2000.DAT", ctx.GetDirective("DataFile"));      // install section wins
    EXPECT_STREQ("jobtap,jobtap.dll", ctx.GetDirective("LanguageMonitor"));  // keeps its comma
    EXPECT_STREQ("KZT TZ Print Processor,KZTTZPP.DLL", ctx.GetDirective("PrintProcessor"));
    EXPECT_STREQ("LPT1:,COM1:", ctx.GetPorts());
    EXPECT_STREQ("9600,8,N,1,X", ctx.GetComPortSettings());
    EXPECT_EQ(nullptr, ctx.GetDirective("ExcludeFromSelect"));
    EXPECT_EQ(nullptr, ctx.GetDirective("NoSuchDirective"));

    std::string drv = PrinterDriverDirA();
    char sys[MAX_PATH];
    GetSystemDirectoryA(sys, sizeof(sys));
    char proc[MAX_PATH];
    DWORD cbProc;
    ASSERT_TRUE(GetPrintProcessorDirectoryA(NULL, NULL, 1, (LPBYTE)proc, sizeof(proc), &cbProc));
    std::string expected = "[KZTTZDRV.DLL][KztNull][KztNull][KztNull][" + drv + "]\n" +
                           "[KZTTZUIF.DLL][KztNull][KztNull][KztNull][" + drv + "]\n" +
                           "[KZTTZRES.DLL][][][16][" + drv + "]\n" +
                           "[jobtap.dll][KztNull][KztNull][KztNull][" + sys + "]\n" +
                           "[vigil.exe][KztNull][KztNull][KztNull][" + sys + "]\n" +
                           "[KZTTZPP.DLL][KztNull][KztNull][KztNull][" + proc + "]\n" +
                           "[KZTTZ2000.DAT][KztNull][KztNull][KztNull][" + drv + "]\n" +
                           "[KZTTZ.HLP][KztNull][KztNull][KztNull][" + drv + "]\n";
    EXPECT_EQ(expected, Files(ctx));
    const std::string key = "System\\CurrentControlSet\\Control\\Print\\Monitors\\jobtap";
    EXPECT_EQ("[HKLM][" + key + "][Ostrel TZ-2000][0][vigil.exe]\n" +
                  "[HKLM][" + key + "][Ostrel TZ-2000 Head][0][1B401B2847]\n" +
                  "[HKLM][" + key + "][Ostrel TZ-2000 Tail][0][0C1B40]\n",
              Regs(ctx));
    EXPECT_TRUE(LogHas("DBG LanguageMonitor=jobtap,jobtap.dll"));
    EXPECT_TRUE(LogHas("DBG VendorSetup=KZTTZUIF.DLL,VendorSetup"));
    EXPECT_TRUE(LogHas("DBG ExcludeFromSelect=KztNull"));
    EXPECT_TRUE(LogHas("DBG [KZTTZRES.DLL][][][16][" + drv + "]"));

    char *deps = ctx.AllocDependentFiles();
    EXPECT_STREQ("KZTTZRES.DLL,jobtap.dll,vigil.exe,KZTTZPP.DLL,", deps);  // no driver, UI, data or help file
    FreeSplMem(deps);
    RemoveTree(ctx.m_pTempDirName);
}

TEST_F(ContextTest, SampleInfSpeaksJapaneseOnAJapaneseSystem)
{
    ctx.SetInfFileName((SampleDir() + "\\TZ.INF").c_str());
    ctx.m_wLangID = 0x0411;
    ASSERT_TRUE(ctx.ListStringDirectiveW95());
    const StringLink *p = ctx.m_pStringLink;
    ASSERT_TRUE(p);
    EXPECT_EQ("\x83\x49\x83\x58\x83\x67\x83\x8C\x83\x8B", std::string(p->pValue));  // katakana, Shift-JIS
}

TEST_F(ContextTest, ModelEntriesGiveSectionAndHardwareId)
{
    struct {
        const char *value;
        BOOL result;
        const char *section, *hardwareId, *error;
    } cases[] = {
        {"Inst", TRUE, "Inst", "(kept)", ""},
        {"Inst, LPTENUM\\XYZ-1000ABCD, extra", TRUE, "Inst", "XYZ-1000", ""},
        {"Inst,ABCD", TRUE, "Inst", "", ""},
        {"Inst,", FALSE, "Inst", "(kept)", "ParseInf() lenHardwareID\r\n"},
        {"Inst,X\\abc", FALSE, "Inst", "(kept)", "ParseInf() lenHardwareID\r\n"},
    };
    for (const auto &c : cases) {
        CInstallContext fresh;
        fresh.m_pHardwareID = AllocSplStr("(kept)");
        fresh.SetInfFileName(UseInf(std::string("[Manufacturer]\nM=Models\n[Models]\nP=") + c.value + "\n").c_str());
        fresh.SetPrinterName("P");
        EXPECT_EQ(c.result, fresh.ParseInf()) << c.value;
        EXPECT_STREQ(c.section, fresh.m_pInstallSection) << c.value;
        EXPECT_STREQ(c.hardwareId, fresh.m_pHardwareID) << c.value;
        EXPECT_EQ(0u, fresh.m_strError.find(c.error)) << c.value;
    }
}

TEST_F(ContextTest, ModelsAndManufacturerMustBeThere)
{
    std::string models;
    UseInf("[Version]\n");
    EXPECT_FALSE(ctx.FindInfPrinters(models));
    EXPECT_EQ("GetPrivateProfileSectionReadOnly([Manufacturer]) R 0 E 0 \r\nFindInfPrinters() Manufacturer\r\n",
              ctx.m_strError);

    ctx.m_strError.clear();
    UseInf("[Manufacturer]\nM=Models, NTx86\n[Models]\nA=a\nNoEquals\n");
    EXPECT_FALSE(ctx.FindInfPrinters(models));
    EXPECT_EQ("FindInfPrinters() pEqual\r\n", ctx.m_strError);
    EXPECT_EQ("", models);

    ctx.m_strError.clear();
    UseInf("[Manufacturer]\nM=Models\n[Models]\nA=a\n");
    ctx.SetPrinterName("Other");
    EXPECT_FALSE(ctx.ParseInf());
    EXPECT_EQ("ParseInf() Models\r\n", ctx.m_strError);

    ctx.m_strError.clear();
    ctx.SetInfFileName((m_dir + "\\MISSING.INF").c_str());
    EXPECT_FALSE(ctx.FindInfPrinters(models));
    EXPECT_EQ("GetPrivateProfileSectionReadOnly([Manufacturer]) R 0 E 2 ", ctx.m_strError.substr(0, 57));
}

TEST_F(ContextTest, MissingInstallSectionStillParses)
{
    UseInf("[Manufacturer]\nM=Models\n[Models]\nP=Gone\n");
    ctx.SetPrinterName("P");
    ASSERT_TRUE(ctx.ParseInf());
    size_t errors = 0;
    for (size_t pos = 0; (pos = ctx.m_strError.find("GetPrivateProfileSectionReadOnly([Gone]) R 0 E 0 \r\n", pos)) !=
                         std::string::npos;
         pos++)
        errors++;
    EXPECT_EQ(14u, errors);
    for (const InfDirective *p = ctx.m_pInfDirective; p->pKey; p++)
        EXPECT_EQ(nullptr, p->pValue) << p->pKey;
    EXPECT_EQ(nullptr, ctx.m_pFileLink);
    EXPECT_EQ(nullptr, ctx.m_pRegLink);
    EXPECT_EQ(nullptr, ctx.AllocDependentFiles());
}

TEST_F(ContextTest, CopyFilesItemsAndDestinations)
{
    UseInf("[Manufacturer]\nM=Models\n[Models]\nP=Inst\n"
           "[Inst]\nCopyFiles=Files1, Files2,Sub,Color,Odd,@single.dll,Files1\nDataSection=Data\nDriverFile=D.DLL\n"
           "[Data]\nDriverFile=Other.DLL\nHelpFile=H.HLP, more\n"
           "[DestinationDirs]\nFiles1=11\nSub=66000,sub\\deeper\nColor=66003\nOdd=42\n"
           "[Files1]\nA.DLL,src.dll,tmp.dll,16,extra\nD.DLL\n\nh.hlp\n"
           "[Files2]\nB.DLL\n[Sub]\nC.DLL\n[Color]\nX.ICM\n[Odd]\nY.DLL\n");
    ctx.SetPrinterName("P");
    ASSERT_TRUE(ctx.ParseInf());
    char sys[MAX_PATH];
    GetSystemDirectoryA(sys, sizeof(sys));
    std::string s = sys;
    std::string sub = PrinterDriverDirA() + "\\sub\\deeper";
    EXPECT_EQ("[A.DLL][src.dll][tmp.dll][16][" + s + "]\n[D.DLL][KztNull][KztNull][KztNull][" + s + "]\n" +
                  "[h.hlp][KztNull][KztNull][KztNull][" + s + "]\n" +
                  "[C.DLL][KztNull][KztNull][KztNull][" + sub + "]\n" +
                  "[A.DLL][src.dll][tmp.dll][16][" + s + "]\n[D.DLL][KztNull][KztNull][KztNull][" + s + "]\n" +
                  "[h.hlp][KztNull][KztNull][KztNull][" + s + "]\n",
              Files(ctx));
    EXPECT_STREQ("D.DLL", ctx.GetDirective("DriverFile"));  // install section over data section
    EXPECT_STREQ("H.HLP", ctx.GetDirective("HelpFile"));    // cut at its comma
    // " Files2" keeps its blank and is not found; 66003 and 42 are refused;
    // the single file has no default destination.
    EXPECT_NE(std::string::npos, ctx.m_strError.find("GetPrivateProfileSectionReadOnly([ Files2]) R 0 E 0 \r\n"));
    EXPECT_NE(std::string::npos, ctx.m_strError.find("GetDestDir() No MSCMS_LIB\r\n"));
    EXPECT_NE(std::string::npos, ctx.m_strError.find("GetDestDir() DirectoryID\r\n"));
    EXPECT_NE(std::string::npos, ctx.m_strError.find("GetDestDir() DefaultDestDir\r\n"));

    // Repeated names count once, at their last place; the driver never.
    char *deps = ctx.AllocDependentFiles();
    EXPECT_STREQ("C.DLL,A.DLL,", deps);
    FreeSplMem(deps);
}

TEST_F(ContextTest, DestinationDirectoryIds)
{
    UseInf("[DestinationDirs]\nDefaultDestDir = 10\nWin=10,\nSys= 11 ,x\nSys2=66002\nDrv=66000,a b\nProc=66001\n");
    char sys[MAX_PATH];
    GetSystemDirectoryA(sys, sizeof(sys));
    char proc[MAX_PATH];
    DWORD cb;
    GetPrintProcessorDirectoryA(NULL, NULL, 1, (LPBYTE)proc, sizeof(proc), &cb);
    struct {
        const char *section;
        std::string dir;
    } cases[] = {
        {NULL, WindowsDirA()},          {"Win", WindowsDirA()},
        {"Sys", std::string(sys) + "\\x"}, {"Sys2", sys},
        {"Drv", PrinterDriverDirA() + "\\a b"}, {"Proc", proc},
        {"Unlisted", WindowsDirA()},
    };
    for (const auto &c : cases) {
        char out[MAX_PATH];
        ASSERT_TRUE(ctx.GetDestDir(c.section, out, sizeof(out))) << LogStr(c.section);
        EXPECT_EQ(c.dir, out) << LogStr(c.section);
    }
}

TEST_F(ContextTest, RegistrySectionsSplitIntoFiveFields)
{
    UseInf("[Manufacturer]\nM=Models\n[Models]\nP=Inst\n[Inst]\nAddReg=R1,Missing,R2\n"
           "[R1]\nHKLM,\"Soft\\Key\",\"Name\",0,\"a,b\"\nHKCU,K\n[R2]\nHKLM,K,V,0,%Val%\n[Strings]\nVal=\"x y\"\n");
    ctx.SetPrinterName("P");
    ASSERT_TRUE(ctx.ParseInf());
    EXPECT_EQ("[HKLM][Soft\\Key][Name][0][a]\n[HKCU][K][KztNull][KztNull][KztNull]\n[HKLM][K][V][0][x y]\n",
              Regs(ctx));
    EXPECT_TRUE(LogHas("DBG [HKLM][Soft\\Key][Name][0][a]"));
}

TEST_F(ContextTest, FirstInfBesideTheProgram)
{
    std::string path;
    ctx.m_pExeDirName = AllocSplStr(SampleDir().c_str());
    ASSERT_TRUE(ctx.FindFirstInf(path));
    EXPECT_EQ(SampleDir() + "\\TZ.INF", path);
    FreeSplStr(ctx.m_pExeDirName);
    ctx.m_pExeDirName = AllocSplStr(m_dir.c_str());
    EXPECT_FALSE(ctx.FindFirstInf(path));
    EXPECT_EQ(0u, ctx.m_strError.find("CFileFind.FindFile([" + m_dir + "\\*.INF]) R 0 E "));
}

TEST_F(ContextTest, EmptyListItemsAreSkippedNotReadAsTheFirstSection)
{
    // An empty name would match the first header ([Version]) and turn its
    // lines into files and registry lines.
    std::string inf = UseInf("[Version]\nSignature=\"$Windows NT$\"\nClass=Printer\n"
                             "[Manufacturer]\nM=Models\n"
                             "[Models]\nTrail=Trail\nDouble=Double\nLead=Lead\nBlanks=Blanks\nAt=At\n"
                             "[Trail]\nCopyFiles=Files1,\nAddReg=Reg1,\n"
                             "[Double]\nCopyFiles=Files1,,Files2\nAddReg=Reg1,,Reg2\n"
                             "[Lead]\nCopyFiles=,Files2\nAddReg=,Reg2\n"
                             "[Blanks]\nCopyFiles=Files1, ,Files2\nAddReg=Reg1,\t,Reg2\n"
                             "[At]\nCopyFiles=@,Files1,@ ,@x.dll\n"
                             "[DestinationDirs]\nDefaultDestDir=11\n"
                             "[Files1]\nF1.DLL\n[Files2]\nF2.DLL\n"
                             "[Reg1]\nHKLM,K,V1,0,a\n[Reg2]\nHKLM,K,V2,0,b\n");
    struct {
        const char *model;
        const char *files, *regs;
        std::vector<std::string> skipped;
    } cases[] = {
        {"Trail", "F1.DLL|", "V1|", {"DBG ParseCopyFilesItem([]) Empty", "DBG ParseAddRegSection([]) Empty"}},
        {"Double", "F1.DLL|F2.DLL|", "V1|V2|",
         {"DBG ParseCopyFilesItem([]) Empty", "DBG ParseAddRegSection([]) Empty"}},
        {"Lead", "F2.DLL|", "V2|", {"DBG ParseCopyFilesItem([]) Empty", "DBG ParseAddRegSection([]) Empty"}},
        {"Blanks", "F1.DLL|F2.DLL|", "V1|V2|",
         {"DBG ParseCopyFilesItem([ ]) Empty", "DBG ParseAddRegSection([\t]) Empty"}},
        {"At", "F1.DLL|x.dll|", "", {"DBG ParseCopyFilesItem([@]) Empty", "DBG ParseCopyFilesItem([@ ]) Empty"}},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
        const auto &c = cases[i];
        CInstallContext fresh;
        fresh.m_pLogFileName = AllocSplStr(m_logPath.c_str());
        fresh.SetInfFileName(inf.c_str());
        fresh.SetPrinterName(c.model);
        TakeLog();
        ASSERT_TRUE(fresh.ParseInf()) << i << ": " << fresh.GetErrorText();
        std::string files, regs;
        for (const FileLink *p = fresh.m_pFileLink; p; p = p->pNext)
            files += std::string(LogStr(p->pDst)) + "|";
        for (const RegLink *p = fresh.m_pRegLink; p; p = p->pNext)
            regs += std::string(LogStr(p->pValueName)) + "|";
        EXPECT_EQ(c.files, files) << i;
        EXPECT_EQ(c.regs, regs) << i;
        EXPECT_EQ("", fresh.m_strError) << i;  // an empty item is no error
        std::vector<std::string> log = TakeLog();
        for (const std::string &line : c.skipped)
            EXPECT_TRUE(std::find(log.begin(), log.end(), line) != log.end()) << i << ": " << line;
    }
}
