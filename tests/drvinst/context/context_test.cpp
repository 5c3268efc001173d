// The installer context: command line, system facts, working folder, copies,
// log and error text, and the shared string utilities.
#include "contextfixture.h"
#include "splstr.h"
#include <map>

namespace {

struct ArgCase {
    const char *line;
    BOOL result;
    const char *inf, *printer, *port;  // NULL: not set
    const char *flags;                 // Install Uninstall Reinstall Copy RunOnce
};

const ArgCase kArgCases[] = {
    {"drvinst.exe", TRUE, NULL, NULL, NULL, "00000"},
    {"\"C:\\dir\\drvinst.exe\" \"TZ.INF\" \"Ostrel TZ-1000\" \"LPT1:\"", TRUE, "TZ.INF", "Ostrel TZ-1000", "LPT1:",
     "00000"},
    {"  \t drvinst.exe D:TZ.INF", TRUE, "D:TZ.INF", NULL, NULL, "00000"},
    {"C:\\Program Files\\drvinst.exe TZ.INF", TRUE, "Files\\drvinst.exe", "TZ.INF", NULL, "00000"},
    {"a b c d e f", TRUE, "b", "c", "d", "00000"},
    {"a \"b\" \"\" LPT1:", TRUE, "b", "LPT1:", NULL, "00000"},
    {"a \"/Install\" /Copy", TRUE, "/Install", NULL, NULL, "10010"},
    {"a /install /UNINSTALL /Reinstall /copy /RunOnce", TRUE, NULL, NULL, NULL, "11111"},
    {"a x/Reinstallx C:/Uninstall/TZ.INF", TRUE, "x/Reinstallx", "C:/Uninstall/TZ.INF", NULL, "00000"},
    {"\"C:\\t\\drvinst.exe\" \"C:\\t\\TZ.INF\" \"TZ\" \"\" /RunOnce /Reinstall", TRUE, "C:\\t\\TZ.INF", "TZ", NULL,
     "00101"},
    {"a \"unterminated /Install", FALSE, NULL, NULL, NULL, "00000"},
    {"", FALSE, NULL, NULL, NULL, "00000"},
    {" \r\n\t\v\f", FALSE, NULL, NULL, NULL, "00000"},
};

std::string Flags(const CInstallContext &c)
{
    std::string s;
    for (BOOL b : {c.m_bInstall, c.m_bUninstall, c.m_bReinstall, c.m_bCopy, c.m_bRunOnce})
        s += b ? '1' : '0';
    return s;
}

std::string Str(const char *p)
{
    return p ? p : "(null)";
}

// Runs ctxprobe.exe with a command line; its printed fields by name.
std::map<std::string, std::string> Probe(const std::string &dir, const std::string &commandLine)
{
    std::map<std::string, std::string> fields;
    char exe[MAX_PATH];
    GetModuleFileNameA(NULL, exe, sizeof(exe));
    std::string probe = exe;
    probe = probe.substr(0, probe.rfind('\\')) + "\\ctxprobe.exe";
    std::string outPath = dir + "\\probe.out";
    SECURITY_ATTRIBUTES sa = {sizeof(sa), NULL, TRUE};
    HANDLE hOut = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, NULL);
    STARTUPINFOA si = {sizeof(si)};
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = hOut;
    PROCESS_INFORMATION pi;
    std::string line = commandLine;
    if (CreateProcessA(probe.c_str(), &line[0], NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
        WaitForSingleObject(pi.hProcess, 60000);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    CloseHandle(hOut);
    std::string text = ReadBytes(outPath);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string l = text.substr(pos, end - pos);
        while (!l.empty() && l.back() == '\r')  // an error text ends in its own line end
            l.pop_back();
        size_t eq = l.find('=');
        if (eq != std::string::npos)
            fields[l.substr(0, eq)] = l.substr(eq + 1);
        pos = end + 1;
    }
    return fields;
}

}  // namespace

TEST_F(ContextTest, ArgumentsFillTheirSlots)
{
    for (const ArgCase &c : kArgCases) {
        CInstallContext fresh;
        std::string line = c.line;
        EXPECT_EQ(c.result, fresh.ParseArguments(&line[0])) << c.line;
        EXPECT_EQ(Str(c.inf), Str(fresh.m_pInfFileName)) << c.line;
        EXPECT_EQ(Str(c.printer), Str(fresh.m_pPrinterName)) << c.line;
        EXPECT_EQ(Str(c.port), Str(fresh.m_pPortName)) << c.line;
        EXPECT_EQ(c.flags, Flags(fresh)) << c.line;
    }
}

TEST_F(ContextTest, ArgumentsReplaceButNeverClear)
{
    ctx.SetPortName("COM1:");
    ctx.m_bCopy = TRUE;
    std::string line = "a b c /Install";
    ASSERT_TRUE(ctx.ParseArguments(&line[0]));
    EXPECT_STREQ("COM1:", ctx.m_pPortName);
    EXPECT_EQ("10010", Flags(ctx));
    std::string longArg = "a " + std::string(300, 'x');
    ASSERT_TRUE(ctx.ParseArguments(&longArg[0]));
    EXPECT_EQ(std::string(255, 'x'), ctx.m_pInfFileName);
    // A log path is no switch, whatever its folders are called.
    CInstallContext fresh;
    std::string logged = "a b c /Install /log C:/Reinstall/RunOnce.log";
    ASSERT_TRUE(fresh.ParseArguments(&logged[0]));
    EXPECT_EQ("10000", Flags(fresh));
    EXPECT_EQ("C:/Reinstall/RunOnce.log", fresh.m_strLogPath);
}

// Read before the line splits: only a word of its own asks for a quiet run.
TEST_F(ContextTest, QuietIsAskedByItsOwnWordOnly)
{
    const struct {
        const char *line;
        BOOL quiet;
    } rows[] = {
        {"TZ.INF \"Ostrel TZ-1000 /Install /QUIET", TRUE}, {"a b \"/quiet\"", TRUE},
        {"\"C:\\x/quiet\\TZ.INF\" \"Ostrel", FALSE},  {"a b /quieter", FALSE},
        {"a \"b /Install /qn", TRUE}, {"a /Q", TRUE}, {"a /qx", FALSE}, {"\"a /finish", TRUE},
        {"", FALSE},
    };
    for (const auto &row : rows)
        EXPECT_EQ(row.quiet, CInstallContext::AsksQuiet(row.line)) << row.line;
}

TEST_F(ContextTest, CommandLineOfTheProcess)
{
    auto f = Probe(m_dir, "\"C:\\dir\\drvinst.exe\" \"TZ.INF\" \"Ostrel TZ-1000\" \"LPT1:\" /Reinstall");
    ASSERT_EQ("1", f["result"]);
    std::string exeDir = f["exedir"];
    EXPECT_EQ(exeDir + "\\ctxprobe.exe", f["exe"]);
    EXPECT_EQ("ctxprobe.exe", f["exebase"]);
    EXPECT_EQ(exeDir + "\\TZ.INF", f["inf"]);  // relative to the program's folder
    EXPECT_EQ(exeDir, f["infdir"]);
    EXPECT_EQ("TZ.INF", f["infbase"]);
    EXPECT_EQ("Ostrel TZ-1000", f["printer"]);
    EXPECT_EQ("LPT1:", f["port"]);
    EXPECT_EQ("00100", f["flags"]);
    EXPECT_EQ(4u, f["lang"].size());

    f = Probe(m_dir, "drvinst.exe");
    EXPECT_EQ("1", f["result"]);
    EXPECT_EQ("KztNull", f["inf"]);
    EXPECT_EQ("KztNull", f["printer"]);
    EXPECT_EQ("00000", f["flags"]);

    // INF arguments as users write them: understood, or refused with the
    // message that the program shows.
    struct {
        const char *arg, *result, *inf, *error;
    } infArgs[] = {
        {"\\TZ.INF", "1", "\\TZ.INF", ""},
        {"C:/pkg/TZ.INF", "1", "C:\\pkg\\TZ.INF", ""},
        {"D:TZ.INF", "0", "D:TZ.INF",
         "ResolveInfFileName() INF [D:TZ.INF] Drive-relative path: give the full path, as D:\\folder\\TZ.INF"},
        {"\"open", "0", "KztNull", "ParseCommand() Quote not closed [drvinst.exe \"open]"},
    };
    for (const auto &c : infArgs) {
        f = Probe(m_dir, std::string("drvinst.exe ") + c.arg);
        EXPECT_EQ(c.result, f["result"]) << c.arg;
        EXPECT_EQ(c.inf, f["inf"]) << c.arg;
        EXPECT_EQ(c.error, f["error"]) << c.arg;
    }
}

TEST_F(ContextTest, SetupSysInfoGathersTheSystemFacts)
{
    std::string inf = UseInf("[Version]\n");
    ctx.SetPrinterName("Ostrel TZ-1000");
    ASSERT_TRUE(ctx.SetupSysInfo()) << ctx.GetErrorText();
    // One folder per machine under the programs folder, whatever %TEMP% is.
    std::string folder = ProgramsDirA() + "\\Ostrel\\OstrelTEST.INF";
    EXPECT_STREQ(folder.c_str(), ctx.m_pTempDirName);
    EXPECT_TRUE(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_STREQ(m_dir.c_str(), ctx.m_pInfDirName);
    EXPECT_STREQ("TEST.INF", ctx.m_pInfBaseName);
    EXPECT_STREQ(m_dir.c_str(), ctx.m_pDrvSrcDir);
    EXPECT_STREQ(PrinterDriverDirA().c_str(), ctx.m_pPrnDrvDir);
    EXPECT_EQ(148u, ctx.m_osvi.dwOSVersionInfoSize);
    EXPECT_TRUE(ctx.m_bWinNT);
    EXPECT_EQ(GetSystemDefaultLangID(), ctx.m_wLangID);
    EXPECT_TRUE(ctx.m_pDevicePath && *ctx.m_pDevicePath);
    EXPECT_EQ("", ctx.m_strError);
    EXPECT_TRUE(LogHas("DBG SetupSysInfo() m_pInfFileName [" + inf + "]"));
    EXPECT_TRUE(LogHas("DBG SetupSysInfo() m_pPortName [KztNull]"));
    EXPECT_TRUE(LogHas("DBG ::GetVersionEx VER_PLATFORM_WIN32_NT"));
    EXPECT_TRUE(LogHas("DBG SetupSysInfo() m_pTempDirName [" + folder + "]"));
    EXPECT_TRUE(LogHas("DBG SetupSysInfo() m_pPrnDrvDir [" + PrinterDriverDirA() + "]"));

    // Second time: the folder is reused; in the second phase the files come
    // from the working folder.
    ctx.m_bRunOnce = TRUE;
    ASSERT_TRUE(ctx.SetupSysInfo());
    EXPECT_STREQ(folder.c_str(), ctx.m_pDrvSrcDir);
    RemoveTree(folder);
}

TEST_F(ContextTest, SetupSysInfoReportsMissingNamesAndABlockedFolder)
{
    // No INF and no model: both texts are errors, and the split fails.
    EXPECT_FALSE(ctx.SetupSysInfo());
    EXPECT_EQ("SetupSysInfo() m_pInfFileName [KztNull]\r\nSetupSysInfo() m_pPrinterName [KztNull]\r\n"
              "SetInfDirBase() INF pLast\r\n",
              ctx.m_strError);

    // A file where the working folder should be.
    CreateDirectoryA((ProgramsDirA() + "\\Ostrel").c_str(), NULL);
    std::string blocker = ProgramsDirA() + "\\Ostrel\\OstrelBLOCK.INF";
    RemoveTree(blocker);
    HANDLE h = CreateFileA(blocker.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    CloseHandle(h);
    CInstallContext other;
    other.m_pLogFileName = AllocSplStr(m_logPath.c_str());
    other.SetInfFileName((m_dir + "\\BLOCK.INF").c_str());
    other.SetPrinterName("TZ");
    EXPECT_FALSE(other.SetupSysInfo());
    EXPECT_EQ(0u, other.m_strError.find("::GetFileAttributes([" + blocker + "]) R 32 E ")) << other.m_strError;
    EXPECT_FALSE(other.m_pTempDirName);
    DeleteFileA(blocker.c_str());
}

TEST_F(ContextTest, PathsBeyondTheBuffersFailWithAMessage)
{
    std::string longInf = "C:\\" + std::string(300, 'd') + "\\TZ.INF";
    ctx.SetInfFileName(longInf.c_str());
    EXPECT_FALSE(ctx.SetInfDirBase());
    EXPECT_EQ("SetInfDirBase() Length\r\n", ctx.m_strError);
    EXPECT_EQ(nullptr, ctx.m_pInfDirName);

    // A relative name joined to a long program folder, the same.
    CInstallContext other;
    other.m_pExeDirName = AllocSplStr(("C:\\" + std::string(250, 'e')).c_str());
    std::string line = "drvinst.exe TZ.INF";
    ASSERT_TRUE(other.ParseArguments(&line[0]));
    other.SetPrinterName("TZ");
    EXPECT_FALSE(other.SetupSysInfo());
    EXPECT_NE(std::string::npos, other.m_strError.find("SetInfDirBase() Length\r\n"));
}

TEST_F(ContextTest, DevicePathComesFromTheRegistryOrTheWindowsFolder)
{
    HKEY hKey;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                                           KEY_READ | KEY_WRITE, &hKey));
    char saved[MAX_PATH];
    DWORD cbSaved = sizeof(saved), type = 0;
    bool hadValue = RegQueryValueExA(hKey, "OtherDevicePath", NULL, &type, (LPBYTE)saved, &cbSaved) == 0;

    RegDeleteValueA(hKey, "OtherDevicePath");
    char *p = ctx.AllocCurrentDevicePath();
    EXPECT_EQ(WindowsDirA() + "\\INF", Str(p));
    FreeSplMem(p);

    const char value[] = "%SystemRoot%\\Inf;C:\\more";
    RegSetValueExA(hKey, "OtherDevicePath", 0, REG_EXPAND_SZ, (const BYTE *)value, sizeof(value));
    p = ctx.AllocCurrentDevicePath();
    EXPECT_EQ(WindowsDirA() + "\\Inf;C:\\more", Str(p));  // used whole
    FreeSplMem(p);
    EXPECT_TRUE(LogHas("DBG ::RegQueryValueEx([OtherDevicePath]) [%SystemRoot%\\Inf;C:\\more] E 0 "));

    if (hadValue)
        RegSetValueExA(hKey, "OtherDevicePath", 0, type, (const BYTE *)saved, cbSaved);
    else
        RegDeleteValueA(hKey, "OtherDevicePath");
    RegCloseKey(hKey);
}

TEST_F(ContextTest, CopyFileOverwriteReplacesProtectedTargets)
{
    std::string src = WriteFile("src.bin", "new");
    std::string dst = WriteFile("dst.bin", "old");
    SetFileAttributesA(dst.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(ctx.CopyFileOverwrite(src.c_str(), dst.c_str()));
    EXPECT_EQ("new", ReadBytes(dst));
    EXPECT_TRUE(LogHas("DBG ::CopyFile([" + src + "][" + dst + "]) R 1 E 0 "));

    std::string fresh = m_dir + "\\fresh.bin";
    EXPECT_TRUE(ctx.CopyFileOverwrite(src.c_str(), fresh.c_str()));
    EXPECT_EQ("new", ReadBytes(fresh));

    // No folder is created for the target.
    std::string nowhere = m_dir + "\\none\\x.bin";
    EXPECT_FALSE(ctx.CopyFileOverwrite(src.c_str(), nowhere.c_str()));
    EXPECT_EQ(0u, ctx.m_strError.find("::CopyFile([" + src + "][" + nowhere + "]) R 0 E 3 "));
}

TEST_F(ContextTest, CopyToTempTakesTheInstallerAndItsInf)
{
    UseInf("[Version]\n");
    WriteFile("KZTTZDRV.DLL", "drv");
    WriteFile("README.TXT", "r");
    CreateDirectoryA((m_dir + "\\sub").c_str(), NULL);
    ctx.SetPrinterName("TZ");
    char exe[MAX_PATH];
    GetModuleFileNameA(NULL, exe, sizeof(exe));
    ctx.m_pExeFileName = AllocSplStr(exe);
    ctx.m_pExeBaseName = AllocSplStr(strrchr(exe, '\\') + 1);
    ASSERT_TRUE(ctx.SetupSysInfo());
    std::string folder = ctx.m_pTempDirName;
    RemoveTree(folder);
    CreateDirectoryA(folder.c_str(), NULL);

    ctx.m_bInstall = TRUE;
    ASSERT_TRUE(ctx.CopyToTemp()) << ctx.GetErrorText();
    EXPECT_TRUE(FileExists(folder + "\\TEST.INF"));
    EXPECT_TRUE(FileExists(folder + "\\" + ctx.m_pExeBaseName));
    EXPECT_FALSE(FileExists(folder + "\\README.TXT"));

    // A reinstall takes every plain file of the INF's folder, no folders.
    ctx.m_bInstall = FALSE;
    ctx.m_bReinstall = TRUE;
    ASSERT_TRUE(ctx.CopyToTemp()) << ctx.GetErrorText();
    for (const char *name : {"TEST.INF", "KZTTZDRV.DLL", "README.TXT", "kztdebug.txt"})
        EXPECT_TRUE(FileExists(folder + "\\" + name)) << name;
    EXPECT_FALSE(FileExists(folder + "\\sub"));

    // Running from the working folder already: nothing to copy.
    CInstallContext inTemp;
    inTemp.m_pLogFileName = AllocSplStr(m_logPath.c_str());
    inTemp.SetInfFileName((folder + "\\TEST.INF").c_str());
    inTemp.SetPrinterName("TZ");
    ASSERT_TRUE(inTemp.SetupSysInfo());
    TakeLog();
    EXPECT_TRUE(inTemp.CopyToTemp());
    std::vector<std::string> log = TakeLog();
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ("DBG CopyToTemp() Diff 0 InfDir [" + folder + "] TmpDir [" + folder + "]", log[0]);
    RemoveTree(folder);
}

TEST_F(ContextTest, ErrorsCollectAndTheLogNeedsItsFile)
{
    SetLastError(77);
    ctx.LogErr("first %s\r\n", "x");
    EXPECT_EQ(77u, GetLastError());
    ctx.LogDbg("quiet\r\n");
    ctx.LogErr("second\r\n");
    EXPECT_EQ("first x\r\nsecond\r\n", ctx.m_strError);
    std::string text = ReadBytes(m_logPath);
    EXPECT_NE(std::string::npos, text.find(" DI ERR first x\r\n"));
    EXPECT_NE(std::string::npos, text.find(" DI DBG quiet\r\n"));
    EXPECT_EQ(' ', text[23]);  // "yyyy/mm/dd hh:mm:ss.mmm DI ..."

    // Without the file nothing is written, and the error text still grows.
    DeleteFileA(m_logPath.c_str());
    ctx.LogErr("third\r\n");
    EXPECT_FALSE(FileExists(m_logPath));
    EXPECT_EQ("first x\r\nsecond\r\nthird\r\n", ctx.m_strError);

    CInstallContext named;
    ASSERT_TRUE(named.SetLogFileName("kztdebug.txt"));
    EXPECT_EQ(WindowsDirA().substr(0, 3) + "kztdebug.txt", named.m_pLogFileName);
    EXPECT_FALSE(named.SetLogFileName(NULL));
    EXPECT_FALSE(named.m_pLogFileName);
}

TEST(SplStr, CompareSearchAndScan)
{
    EXPECT_EQ(0, StrNCmpI("abcX", "ABCy", 3));
    EXPECT_NE(0, StrNCmpI("abc", "abd", 3));
    EXPECT_EQ(0, StrNCmpI("ab", "AB", 5));  // stops at the NUL of the first
    EXPECT_STREQ("Install]", StrStrI("[TZ.Install]", "install"));
    EXPECT_STREQ("abc", StrStrI("abc", ""));
    EXPECT_EQ(nullptr, StrStrI("ab", "abc"));
    EXPECT_EQ(nullptr, StrStrI(NULL, "a"));
    EXPECT_EQ(nullptr, StrStrI("a", NULL));
    EXPECT_TRUE(IsAbsolutePathA("\\x"));
    EXPECT_TRUE(IsAbsolutePathA("D:x"));
    EXPECT_FALSE(IsAbsolutePathA("dir\\x"));
    char *p = AllocSplStr("copy");
    EXPECT_STREQ("copy", p);
    FreeSplStr(p);
    EXPECT_EQ(nullptr, p);
    EXPECT_EQ(nullptr, AllocSplStr(NULL));
    FreeSplMem(NULL);
}
