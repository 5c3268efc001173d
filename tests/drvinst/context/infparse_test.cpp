// Models of an INF and the parse of a model's install section, on the
// shipped sample INF and on small INFs made for one rule each.
#include "contextfixture.h"
#include "fixedtext.h"
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
        {"Inst , XYZ-1000ABCD ", TRUE, "Inst", "XYZ-1000", ""},
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
    EXPECT_NE(std::string::npos, ctx.m_strError.find("GetPrivateProfileSectionReadOnly([Manufacturer]) R 0 E 2 "));
    EXPECT_NE(std::string::npos, ctx.m_strError.find("MISSING.INF] cannot be read")) << ctx.m_strError;
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
                  "[X.ICM][KztNull][KztNull][KztNull][" + s + "\\spool\\drivers\\color]\n" +
                  "[A.DLL][src.dll][tmp.dll][16][" + s + "]\n[D.DLL][KztNull][KztNull][KztNull][" + s + "]\n" +
                  "[h.hlp][KztNull][KztNull][KztNull][" + s + "]\n",
              Files(ctx));
    EXPECT_STREQ("D.DLL", ctx.GetDirective("DriverFile"));  // install section over data section
    EXPECT_STREQ("H.HLP", ctx.GetDirective("HelpFile"));    // cut at its comma
    // 42 is refused; Files2 and the single file have no destination, there
    // being no default.
    EXPECT_NE(std::string::npos, ctx.m_strError.find("GetDestDir() DirectoryID\r\n"));
    EXPECT_NE(std::string::npos, ctx.m_strError.find("GetDestDir() DefaultDestDir\r\n"));

    // Repeated names count once, at their last place; the driver never.
    char *deps = ctx.AllocDependentFiles();
    EXPECT_STREQ("C.DLL,X.ICM,A.DLL,", deps);
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
           "[R1]\nHKLM,\"Soft\\Key\",\"Name\",0,\"a b\",more\nHKCU,K\n"
           "[R2]\nHKLM,K,V,0,%Val%\n[Strings]\nVal=\"x y\"\n");
    ctx.SetPrinterName("P");
    ASSERT_TRUE(ctx.ParseInf());
    EXPECT_EQ("[HKLM][Soft\\Key][Name][0][a b]\n[HKCU][K][KztNull][KztNull][KztNull]\n[HKLM][K][V][0][x y]\n",
              Regs(ctx));
    EXPECT_TRUE(LogHas("DBG [HKLM][Soft\\Key][Name][0][a b]"));
}

TEST_F(ContextTest, FirstPrinterInfBesideTheProgram)
{
    const std::string autorun = "[autorun]\nopen=setup.exe\n[Models]\nP=x\n";
    const std::string noModels = "[Manufacturer]\nM=Missing\n[Version]\n";
    const std::string printer = "[Manufacturer]\n%M%=\"Models\" , NT\n[Models]\nP=Inst\n";
    struct {
        std::string dir;
        std::vector<std::pair<std::string, std::string>> infs;  // name, text
        std::string found, error;                               // the INF's name, or the error's start
    } cases[] = {
        {SampleDir(), {}, "TZ.INF", ""},
        {m_dir + "\\none", {}, "", "CFileFind.FindFile([" + m_dir + "\\none\\*.INF]) R 0 E "},
        {m_dir + "\\other", {{"AUTORUN.INF", autorun}, {"OTHER.INF", noModels}}, "",
         "FindFirstInf() No INF in [" + m_dir + "\\other] has [Manufacturer] with its models section\r\n"},
        {m_dir + "\\mixed", {{"AUTORUN.INF", autorun}, {"OTHER.INF", noModels}, {"TZ.INF", printer}}, "TZ.INF", ""},
    };
    for (const auto &c : cases) {
        CreateDirectoryA(c.dir.c_str(), NULL);
        for (const auto &inf : c.infs)
            WriteFile(c.dir.substr(m_dir.size() + 1) + "\\" + inf.first, inf.second);
        CInstallContext fresh;
        fresh.m_pExeDirName = AllocSplStr(c.dir.c_str());
        std::string path = "unchanged";
        EXPECT_EQ(!c.found.empty(), !!fresh.FindFirstInf(path)) << c.dir;
        EXPECT_EQ(c.found.empty() ? "unchanged" : c.dir + "\\" + c.found, path) << c.dir;
        EXPECT_EQ(0u, fresh.m_strError.find(c.error)) << c.dir << ": " << fresh.m_strError;
    }
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
         {"DBG ParseCopyFilesItem([]) Empty", "DBG ParseAddRegSection([]) Empty"}},
        {"At", "F1.DLL|x.dll|", "", {"DBG ParseCopyFilesItem([@]) Empty"}},
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

namespace {

// One question about the INF: "section:S", "first:S:key", "string:key",
// "models", "dir:S", or, after ParseInf, "files", "regs", "directive:name"
// and "flag" (the first registry line's flags field, else the first file's,
// as ReadFieldNumber reads it, followed by what it left unread). A failed
// call answers "ERR" and its first error line.
std::string Ask(CInstallContext &c, const std::string &query)
{
    static char buffer[INF_SECTION_MAX];
    std::string verb = query.substr(0, query.find(':'));
    std::string arg = query.substr(verb.size() + (verb.size() < query.size()));
    std::string answer;
    BOOL ok = TRUE;
    if (verb == "section") {
        ok = c.GetPrivateProfileSectionReadOnly(arg.c_str(), buffer, INF_SECTION_MAX, c.m_pInfFileName) != 0;
        answer = JoinEntries(buffer);
    } else if (verb == "first") {
        std::string section = arg.substr(0, arg.find(':'));
        ok = c.GetFirstLineText(section.c_str(), arg.substr(section.size() + 1).c_str(), buffer, INF_LINE_MAX);
        answer = buffer;
    } else if (verb == "string") {
        ok = c.ListStringDirectiveW95();
        for (const StringLink *p = c.m_pStringLink; p && answer.empty(); p = p->pNext)
            answer = arg == p->pKey ? p->pValue : "";
    } else if (verb == "models") {
        std::vector<std::string> models;
        ok = c.FindInfPrinters(models);
        for (const std::string &model : models)
            answer += (answer.empty() ? "" : "|") + model;
    } else if (verb == "dir") {
        ok = c.GetDestDir(arg.c_str(), buffer, INF_LINE_MAX);
        answer = buffer;
    } else if ((ok = c.ParseInf())) {
        const char *pszFlag = c.m_pRegLink ? c.m_pRegLink->pFlag : c.m_pFileLink ? c.m_pFileLink->pFlag : NULL;
        const char *pszRest = "";
        DWORD dwFlag = ReadFieldNumber(pszFlag, &pszRest);
        answer = verb == "files"       ? Files(c)
                 : verb == "regs"      ? Regs(c)
                 : verb == "directive" ? LogStr(c.GetDirective(arg.c_str()))
                                       : std::to_string(dwFlag) + LogStr(pszRest);
    }
    return ok ? answer : "ERR " + c.m_strError.substr(0, c.m_strError.find("\r\n"));
}

}  // namespace

TEST_F(ContextTest, InfTextMeansWhatItSays)
{
    const std::string x300(300, 'x');
    char sys[MAX_PATH];
    GetSystemDirectoryA(sys, sizeof(sys));
    const std::string longLine = "ERR GetPrivateProfileSectionReadOnly([S]) Line 2 longer than 255 characters";
    struct {
        const char *what;
        std::string inf;  // followed by [Manufacturer], [Models] P=Inst, DefaultDestDir=11 ({sys})
        const char *query;
        std::string answer;
        LANGID lang;
    } cases[] = {
        {"blanks after list commas", "[Inst]\nCopyFiles=F1, F2\n[F1]\nA.DLL\n[F2]\nB.DLL\n", "files",
         "[A.DLL][KztNull][KztNull][KztNull][{sys}]\n[B.DLL][KztNull][KztNull][KztNull][{sys}]\n"},
        {"blanks around registry fields", "[Inst]\nAddReg=R\n[R]\nHKLM, %Key%, Name, 0, Value\n[Strings]\nKey=Soft\n",
         "regs", "[HKLM][Soft][Name][0][Value]\n"},
        {"blanks in a monitor's list", "[Inst]\nLanguageMonitor=%Name%, jobtap.dll\n[Strings]\nName=jobtap\n",
         "directive:LanguageMonitor", "jobtap,jobtap.dll"},
        {"blanks in the line settings", "[Inst]\nComPortSettings=9600, 8, E, 2, H\n", "directive:ComPortSettings",
         "9600,8,E,2,H"},
        {"blanks around a source name", "[Inst]\nCopyFiles=F1\n[F1]\ndest.dll, src.dll , , 16\n", "files",
         "[dest.dll][src.dll][][16][{sys}]\n"},
        {"blanks around a subfolder", "[Inst]\nCopyFiles=F1\n[DestinationDirs]\nF1=66000, sub\\dir\n[F1]\nA.DLL\n",
         "files", "[A.DLL][KztNull][KztNull][KztNull][" + PrinterDriverDirA() + "\\sub\\dir]\n"},
        {"a section by its exact name", "[TZ10000]\nA=wrong\n[TZ1000]\nA=right\n", "first:TZ1000:A", "right"},
        {"Strings.0011 first, English system", "[Strings.0011]\nN=ja\n[Strings]\nN=en\n", "string:N", "en"},
        {"full language id first", "[Strings.0011]\nN=primary\n[Strings.0411]\nN=full\n", "string:N", "full",
         0x0411},
        {"a quoted comma in a field", "[Inst]\nAddReg=R\n[R]\nHKLM,K,V,0,\"a,b\"\n", "regs", "[HKLM][K][V][0][a,b]\n"},
        {"a string with a comma is one field", "[Inst]\nAddReg=R\n[R]\nHKLM,K,V,0,%L%\n[Strings]\nL=\"a, b\"\n",
         "regs", "[HKLM][K][V][0][a, b]\n"},
        {"a quoted semicolon", "[S]\nA=\"x;y\" ; note\n", "first:S:A", "x;y"},
        {"a model name with a comma", "[Manufacturer]\nM=Models\n[Models]\n\"TZ, Deluxe\"=Inst\nB=Inst\n", "models",
         "TZ, Deluxe|B"},
        {"a line too long", "[S]\nA=" + x300 + "\n", "first:S:A", longLine},
        {"a line too long in a file list", "[Inst]\nCopyFiles=S\n[S]\n" + x300 + "\n", "files",
         "ERR GetPrivateProfileSectionReadOnly([S]) Line 4 longer than 255 characters"},
        {"a long comment is no line too long", "[S]\nA=1 ; " + x300 + "\nB=2\n", "section:S", "A=1|B=2"},
        {"hexadecimal AddReg flag", "[Inst]\nAddReg=R\n[R]\nHKLM,K,V,0x00000000,x\n", "flag", "0"},
        {"hexadecimal CopyFiles flag", "[Inst]\nCopyFiles=F1\n[F1]\nA.DLL,,,0x10\n", "flag", "16"},
        {"drivers directory 12", "[DestinationDirs]\nF1=12\n", "dir:F1", "{sys}\\drivers"},
        {"color directory 66003", "[DestinationDirs]\nF1=66003\n", "dir:F1", "{sys}\\spool\\drivers\\color"},
    };
    for (auto &c : cases) {
        CInstallContext fresh;
        const std::string base = "[Manufacturer]\nM=Models\n[Models]\nP=Inst\n[DestinationDirs]\nDefaultDestDir=11\n";
        fresh.SetInfFileName(UseInf(c.inf + base).c_str());
        fresh.SetPrinterName("P");
        fresh.m_wLangID = c.lang ? c.lang : 0x0409;
        std::string expected = c.answer;
        for (size_t at; (at = expected.find("{sys}")) != std::string::npos;)
            expected.replace(at, 5, sys);
        EXPECT_EQ(expected, Ask(fresh, c.query)) << c.what;
    }
}
