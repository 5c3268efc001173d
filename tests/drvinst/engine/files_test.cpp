// The driver files of a model: copied with the INF, kept or overwritten as
// the CopyFiles flag says, deleted at uninstall unless still used, and the
// system's copies of the INF removed; paths longer than the engine's buffers
// fail without being cut.
#include "filesfixture.h"
#include "regkeys.h"
#include "splstr.h"
#include "testenv.h"
#include <winspool.h>
#include <vector>

namespace {

const char kFilesDest[] = "[DestinationDirs]\nKZTF.Files=10,kztfiles\n";

std::string Lines(const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines)
        text += line + "\n";
    return text;
}

}  // namespace

class CopyFilesTest : public FilesTest {
protected:
    // Lines so far are left out of the next look-ups.
    void ForgetLog()
    {
        TakeLog();
        m_logSeen.clear();
    }
    std::string Src(const std::string &name) { return m_dir + "\\" + name; }
    std::string Dest(const std::string &name) { return m_dest + "\\" + name; }
    std::string InfCopy(const std::string &name = "OstrelKZTFILES.INF") { return m_infDir + "\\" + name; }
};

// Flag 16, written in decimal or as 0x10, keeps an existing target; any
// other flag, or none, overwrites. Read-only targets follow the same rule.
TEST_F(CopyFilesTest, FlagSixteenKeepsAnExistingTargetAndEveryOtherFlagOverwrites)
{
    struct Case {
        const char *file;
        const char *fields;  // what follows the name on its CopyFiles line
        bool exists;
        bool readOnly;
        bool kept;
    };
    const Case cases[] = {
        {"kztf16.dat", ",,,16", true, false, true},
        {"kztf16ro.dat", ",,,16", true, true, true},
        {"kztf16new.dat", ",,,16", false, false, false},
        {"kztf16blank.dat", ",,, 16", true, false, true},
        {"kztf0016.dat", ",,,0016", true, false, true},
        {"kztfhex.dat", ",,,0x10", true, false, true},
        {"kztfhexro.dat", ",,,0x10", true, true, true},
        {"kztfzero.dat", ",,,0", true, false, false},
        {"kztf32.dat", ",,,32", true, false, false},
        {"kztfnone.dat", "", true, true, false},
    };
    std::vector<std::string> section = {"[KZTF.Files]"};
    for (const Case &c : cases) {
        section.push_back(std::string(c.file) + c.fields);
        WriteFile(c.file, std::string("new ") + c.file);
    }
    std::string inf = WriteModelInf("CopyFiles=KZTF.Files", kFilesDest + Lines(section));
    ASSERT_NO_FATAL_FAILURE(PrepareInf(ctx, inf));
    std::vector<std::string> attrBefore;
    for (const Case &c : cases) {
        if (c.exists) {
            std::string target = Dest(c.file);
            HANDLE h = CreateFileA(target.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            DWORD cb;
            ::WriteFile(h, "old", 3, &cb, NULL);
            CloseHandle(h);
            if (c.readOnly)
                SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);
        }
        attrBefore.push_back(AttrText(Dest(c.file)));
    }

    EXPECT_TRUE(ctx.CopyInfFiles()) << ctx.GetErrorText();
    EXPECT_EQ("", ctx.m_strError);
    TakeLog();
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
        const Case &c = cases[i];
        SCOPED_TRACE(testing::Message() << "case " << i << " " << c.file << c.fields);
        std::string copyLine = "DBG ::CopyFile([" + Src(c.file) + "][" + Dest(c.file) + "]) R 1 E 0 ";
        if (c.kept) {
            EXPECT_EQ("old", ReadBytes(Dest(c.file)));
            EXPECT_EQ(attrBefore[i], AttrText(Dest(c.file)));  // a read-only target stays so
            EXPECT_TRUE(LogHas("DBG ::GetFileAttributes([" + Dest(c.file) + "]) R " + attrBefore[i] + " E 0 "));
            EXPECT_FALSE(LogHas(copyLine));
        } else {
            EXPECT_EQ(std::string("new ") + c.file, ReadBytes(Dest(c.file)));
            EXPECT_TRUE(LogHas(copyLine));
        }
    }
    EXPECT_EQ(ReadBytes(inf), ReadBytes(InfCopy()));
    EXPECT_TRUE(LogHas("DBG ::CopyFile([" + inf + "][" + InfCopy() + "]) R 1 E 0 "));
}

// A missing source file fails its copy with the system's answer in the
// error text; the other files and the INF are still copied.
TEST_F(CopyFilesTest, MissingSourceFileFailsItsCopyAndTheRestIsStillCopied)
{
    WriteFile("kztfthere.dat", "there");
    std::string inf = WriteModelInf("CopyFiles=KZTF.Files",
                                    kFilesDest + Lines({"[KZTF.Files]", "kztfmissing.dat", "kztfmissing16.dat,,,16",
                                                        "kztfthere.dat"}));
    ASSERT_NO_FATAL_FAILURE(PrepareInf(ctx, inf));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ctx.CopyInfFiles());
    std::string e2 = ErrorTail(ERROR_FILE_NOT_FOUND) + "\r\n";
    EXPECT_EQ("::CopyFile([" + Src("kztfmissing.dat") + "][" + Dest("kztfmissing.dat") + "]) R 0 " + e2 +
                  "CopyInfFiles() [kztfmissing.dat]\r\n::CopyFile([" + Src("kztfmissing16.dat") + "][" +
                  Dest("kztfmissing16.dat") + "]) R 0 " + e2 + "CopyInfFiles() [kztfmissing16.dat]\r\n",
              ctx.m_strError);
    EXPECT_EQ("there", ReadBytes(Dest("kztfthere.dat")));
    EXPECT_TRUE(FileExists(InfCopy()));
    EXPECT_FALSE(FileExists(Dest("kztfmissing.dat")));
}

// A section sent to a directory id the installer does not know is left out
// with its error; the other sections are copied.
TEST_F(CopyFilesTest, UnknownDirectoryIdLeavesItsSectionOutWithAnError)
{
    WriteFile("kztfok.dat", "ok");
    WriteFile("kztfodd.dat", "odd");
    std::string inf = WriteModelInf("CopyFiles=KZTF.Files,KZTF.Odd",
                                    Lines({"[DestinationDirs]", "KZTF.Files=10,kztfiles", "KZTF.Odd=12345",
                                           "[KZTF.Files]", "kztfok.dat", "[KZTF.Odd]", "kztfodd.dat"}));
    ASSERT_NO_FATAL_FAILURE(PrepareInf(ctx, inf));
    EXPECT_EQ("GetDestDir() DirectoryID\r\n", ctx.m_strError);
    EXPECT_TRUE(ctx.CopyInfFiles());
    EXPECT_EQ("ok", ReadBytes(Dest("kztfok.dat")));
    EXPECT_FALSE(FileExists(Dest("kztfodd.dat")));
    EXPECT_FALSE(LogHasStart("DBG ::CopyFile([" + Src("kztfodd.dat") + "]"));
}

// A missing destination folder is created, parents and all; the file list's
// second field names the source file copied.
TEST_F(CopyFilesTest, MissingDestinationFolderIsCreatedAndTheSourceNameIsCopied)
{
    WriteFile("kztfsrc.dat", "from the source name");
    std::string inf = WriteModelInf("CopyFiles=KZTF.Files",
                                    Lines({"[DestinationDirs]", "KZTF.Files=10,kztfiles\\none\\deeper", "[KZTF.Files]",
                                           "kztfa.dat,kztfsrc.dat"}));
    ASSERT_NO_FATAL_FAILURE(PrepareInf(ctx, inf));
    EXPECT_TRUE(ctx.CopyInfFiles()) << ctx.m_strError;
    EXPECT_EQ("from the source name", ReadBytes(m_dest + "\\none\\deeper\\kztfa.dat"));
    EXPECT_TRUE(LogHas("DBG ::CreateDirectory([" + m_dest + "\\none]) R 1 E 0 "));
    RemoveTree(m_dest + "\\none");
}

// The plain copy that keeps what is there, directly.
TEST_F(CopyFilesTest, CopyFileNoOverwriteCopiesOnlyWhereNothingIs)
{
    std::string src = WriteFile("kztfsrc.dat", "new");
    std::string there = WriteFile("kztfthere.dat", "old");
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(ctx.CopyFileNoOverwrite(src.c_str(), there.c_str()));
    EXPECT_EQ("old", ReadBytes(there));
    EXPECT_TRUE(ctx.CopyFileNoOverwrite(src.c_str(), Dest("kztffresh.dat").c_str()));
    EXPECT_EQ("new", ReadBytes(Dest("kztffresh.dat")));
    EXPECT_TRUE(LogHas("DBG ::GetFileAttributes([" + Dest("kztffresh.dat") + "]) R -1 " +
                       ErrorTail(ERROR_FILE_NOT_FOUND)));
    EXPECT_TRUE(LogHas("DBG ::CopyFile([" + src + "][" + Dest("kztffresh.dat") + "]) R 1 E 0 "));
    EXPECT_EQ("", ctx.m_strError);
}

// DelFile: a file or path that is not there counts as deleted; read-only
// files are deleted; a file another program holds open is deleted at the
// next restart; a folder fails with its error line.
TEST_F(CopyFilesTest, DelFileDeletesWhatIsThereAndFailsOnlyOnRealErrors)
{
    std::string readOnly = WriteFile("kztfro.dat", "x");
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    std::string held = WriteFile("kztfheld.dat", "x");
    HANDLE hHeld = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, hHeld);
    std::string folder = m_dir + "\\kztfdir";
    CreateDirectoryA(folder.c_str(), NULL);
    ctx.m_bWinNT = TRUE;  // the delayed deletion is Windows NT's

    struct Case {
        std::string path;
        BOOL result;
        bool goneAfter;
        std::string lastLine;  // the operation's last log line
        DWORD lastError;
    };
    std::string roAttr = AttrText(readOnly);
    const Case cases[] = {
        {m_dir + "\\kztfnothing.dat", TRUE, true,
         "DBG ::GetFileAttributes([" + m_dir + "\\kztfnothing.dat]) R -1 " + ErrorTail(ERROR_FILE_NOT_FOUND),
         ERROR_FILE_NOT_FOUND},
        {m_dir + "\\none\\kztf.dat", TRUE, true,
         "DBG ::GetFileAttributes([" + m_dir + "\\none\\kztf.dat]) R -1 " + ErrorTail(ERROR_PATH_NOT_FOUND),
         ERROR_PATH_NOT_FOUND},
        {readOnly, TRUE, true, "DBG ::DeleteFile([" + readOnly + "]) R 1 E 0 ", 0},
        {held, TRUE, false, "DBG ::MoveFileEx([" + held + "][KztNull]) R 1 E 0 ", 0},  // deleted at the restart
        {folder, FALSE, false, "ERR ::DeleteFile([" + folder + "]) R 0 " + ErrorTail(ERROR_ACCESS_DENIED),
         ERROR_ACCESS_DENIED},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
        const Case &c = cases[i];
        SCOPED_TRACE(testing::Message() << "case " << i << " " << c.path);
        TakeLog();
        SetLastError(0xdeadbeef);
        EXPECT_EQ(c.result, ctx.DelFile(c.path.c_str()));
        EXPECT_EQ(c.lastError, GetLastError());
        EXPECT_EQ(c.goneAfter, !FileExists(c.path));
        std::vector<std::string> lines = TakeLog();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(c.lastLine, lines.back());
    }
    EXPECT_TRUE(LogHas("DBG ::GetFileAttributes([" + readOnly + "]) R " + roAttr + " E 0 "));
    EXPECT_TRUE(LogHas("DBG ::SetFileAttributes([" + readOnly + "]) R 1 E 0 "));
    CloseHandle(hHeld);
    EXPECT_TRUE(ctx.m_bReplaceAtRestart);
    EXPECT_NE(std::string::npos, GetValue("System\\CurrentControlSet\\Control\\Session Manager",
                                          "PendingFileRenameOperations").bytes.find("kztfheld.dat"));
    EXPECT_EQ("::DeleteFile([" + folder + "]) R 0 " + ErrorTail(ERROR_ACCESS_DENIED) + "\r\n", ctx.m_strError);
}

class DelFilesTest : public CopyFilesTest {
protected:
    // Writes text as a file of the system INF directory.
    std::string SystemInf(const std::string &name, const std::string &text)
    {
        std::string path = m_infDir + "\\" + name;
        HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        DWORD cb = 0;
        ::WriteFile(h, text.data(), (DWORD)text.size(), &cb, NULL);
        CloseHandle(h);
        return path;
    }
    // Copies a source file to a folder of the driver directory ("" for the
    // directory itself, "\\3" for a version folder), creating the folder.
    std::string PutInDriverDir(const std::string &sub, const std::string &name)
    {
        std::string dir = m_drvDir + sub;
        CreateDirectoryA(dir.c_str(), NULL);
        CopyFileA(Src(name).c_str(), (dir + "\\" + name).c_str(), FALSE);
        return dir + "\\" + name;
    }
    // Another model's driver, "kztf Other", installed with the spooler: its
    // files kztfother.dll and the dependent file kztfshared.dll.
    void AddOtherDriver()
    {
        CopyStub(m_dir, "kztfother.dll");
        CopyStub(m_dir, "kztfshared.dll");
        PutInDriverDir("", "kztfother.dll");
        PutInDriverDir("", "kztfshared.dll");
        DRIVER_INFO_3A other = {};
        other.cVersion = 3;
        other.pName = (LPSTR) "kztf Other";
        other.pDriverPath = other.pDataFile = other.pConfigFile = (LPSTR) "kztfother.dll";
        other.pDependentFiles = (LPSTR) "kztfshared.dll\0";
        other.pDefaultDataType = (LPSTR) "RAW";
        ASSERT_TRUE(AddPrinterDriverA(NULL, 3, (LPBYTE)&other)) << GetLastError();
    }
};

// Uninstall: every listed file goes, with its copies in the driver
// directory's version folders; then the INF copy, its ".PNF" and the
// system's own copies of the INF that name the model.
TEST_F(DelFilesTest, UninstallRemovesTheFilesTheInfCopiesAndTheSystemCopies)
{
    WriteFile("kztfa.dat", "a");
    WriteFile("kztfb.dat", "b");
    WriteFile("kztfdrvonly.dat", "d");
    std::string inf = WriteModelInf("CopyFiles=KZTF.Files,KZTF.Drv",
                                    Lines({"[DestinationDirs]", "KZTF.Files=10,kztfiles", "KZTF.Drv=66000",
                                           "[KZTF.Files]", "kztfa.dat", "kztfb.dat", "[KZTF.Drv]",
                                           "kztfdrvonly.dat"}));
    ASSERT_NO_FATAL_FAILURE(PrepareInf(ctx, inf));
    ASSERT_TRUE(ctx.CopyInfFiles()) << ctx.GetErrorText();
    SetFileAttributesA(Dest("kztfb.dat").c_str(), FILE_ATTRIBUTE_READONLY);
    std::string inVersion3 = PutInDriverDir("\\3", "kztfdrvonly.dat");
    std::string companion = SystemInf("OstrelKZTFILES.PNF", "pnf");
    std::string oem = SystemInf("oemkztf1.inf", "[Models]\r\n\"kztf Model\" = KZTF.Install\r\n");
    std::string oemPnf = SystemInf("oemkztf1.PNF", "pnf");

    EXPECT_TRUE(ctx.DelFiles()) << ctx.GetErrorText();
    EXPECT_EQ("", ctx.m_strError);
    for (const std::string &path : {Dest("kztfa.dat"), Dest("kztfb.dat"), m_drvDir + "\\kztfdrvonly.dat", inVersion3,
                                    InfCopy(), companion, oem, oemPnf})
        EXPECT_FALSE(FileExists(path)) << path;
    EXPECT_TRUE(LogHas("DBG ::DeleteFile([" + Dest("kztfb.dat") + "]) R 1 E 0 "));
    EXPECT_TRUE(LogHas("DBG ::DeleteFile([" + inVersion3 + "]) R 1 E 0 "));
    EXPECT_TRUE(LogHasStart("DBG ::GetFileAttributes([" + m_drvDir + "\\2\\kztfdrvonly.dat]) R -1 E "));
    EXPECT_TRUE(LogHas("DBG ::DeleteFile([" + companion + "]) R 1 E 0 "));
    EXPECT_TRUE(LogHas("DBG ::DeleteFile([" + oemPnf + "]) R 1 E 0 "));
    // Only the driver directory has version folders.
    EXPECT_FALSE(LogHasStart("DBG ::GetFileAttributes([" + m_dest + "\\3\\"));
}

// A file that another installed driver names (a library several models
// share) stays, in the driver directory and in its version folders.
TEST_F(DelFilesTest, FileStillUsedByAnotherDriverIsKept)
{
    ASSERT_NO_FATAL_FAILURE(AddOtherDriver());
    CopyStub(m_dir, "kztfown.dll");

    std::string inf = WriteModelInf("CopyFiles=KZTF.Drv",
                                    Lines({"[DestinationDirs]", "KZTF.Drv=66000", "[KZTF.Drv]", "kztfshared.dll",
                                           "kztfown.dll"}));
    ASSERT_NO_FATAL_FAILURE(PrepareInf(ctx, inf));
    ASSERT_TRUE(ctx.CopyInfFiles()) << ctx.GetErrorText();
    std::string shared2 = PutInDriverDir("\\2", "kztfshared.dll");
    std::string own3 = PutInDriverDir("\\3", "kztfown.dll");
    ASSERT_TRUE(FileExists(m_drvDir + "\\3\\kztfshared.dll"));  // the spooler's own copy

    ForgetLog();
    EXPECT_TRUE(ctx.DelFiles()) << ctx.GetErrorText();
    EXPECT_TRUE(FileExists(m_drvDir + "\\kztfshared.dll"));
    EXPECT_TRUE(FileExists(shared2));
    EXPECT_TRUE(FileExists(m_drvDir + "\\3\\kztfshared.dll"));
    EXPECT_FALSE(LogHasStart("DBG ::GetFileAttributes([" + m_drvDir + "\\kztfshared.dll"));
    EXPECT_FALSE(FileExists(m_drvDir + "\\kztfown.dll"));
    EXPECT_FALSE(FileExists(own3));
    EXPECT_FALSE(FileExists(InfCopy()));  // no queue uses this model's driver file
}

// While a queue still uses the driver file, the INF copy, its ".PNF" and
// the system's copies stay.
TEST_F(DelFilesTest, QueueStillUsingTheDriverFileKeepsTheInfCopies)
{
    CopyStub(m_dir, "kztfdrv.dll");
    CopyStub(m_dir, "kztfui.dll");
    WriteFile("kztfdata.dat", "data");
    std::string inf = WriteModelInf("CopyFiles=KZTF.Drv\nDriverFile=kztfdrv.dll\nConfigFile=kztfui.dll\n"
                                    "DataFile=kztfdata.dat",
                                    Lines({"[DestinationDirs]", "KZTF.Drv=66000", "[KZTF.Drv]", "kztfdrv.dll",
                                           "kztfui.dll", "kztfdata.dat"}));
    ASSERT_NO_FATAL_FAILURE(PrepareInf(ctx, inf));
    ASSERT_TRUE(ctx.CopyInfFiles()) << ctx.GetErrorText();
    ASSERT_TRUE(ctx.AddDrv()) << ctx.GetErrorText();
    ASSERT_TRUE(AddTestQueue("kztf Queue", kModel));
    std::string companion = SystemInf("OstrelKZTFILES.PNF", "pnf");
    std::string oem = SystemInf("oemkztf2.inf", "\"kztf Model\"=KZTF.Install\r\n");

    CInstallContext c;
    ASSERT_NO_FATAL_FAILURE(PrepareInf(c, inf));
    EXPECT_TRUE(c.DelFiles()) << c.GetErrorText();
    ASSERT_NE(nullptr, c.m_pDrvingLink);
    EXPECT_STREQ("kztf Queue", c.m_pDrvingLink->pPrinterName);
    for (const std::string &path : {m_drvDir + "\\kztfdrv.dll", InfCopy(), companion, oem})
        EXPECT_TRUE(FileExists(path)) << path;
}

// The ".PNF" name is made at the INF name's first period; a name without
// one fails there, after the INF copy went.
TEST_F(DelFilesTest, InfNameWithoutPeriodFailsAtTheCompanion)
{
    WriteFile("kztfa.dat", "a");
    std::string inf = WriteModelInf("CopyFiles=KZTF.Files", kFilesDest + Lines({"[KZTF.Files]", "kztfa.dat"}),
                                    "KZTFNOEXT");
    ASSERT_NO_FATAL_FAILURE(PrepareInf(ctx, inf));
    ASSERT_TRUE(ctx.CopyInfFiles()) << ctx.GetErrorText();
    ASSERT_TRUE(FileExists(InfCopy("OstrelKZTFNOEXT")));
    EXPECT_FALSE(ctx.DelFiles());
    EXPECT_EQ("DelFiles() pPeriod\r\n", ctx.m_strError);
    EXPECT_FALSE(FileExists(InfCopy("OstrelKZTFNOEXT")));
    EXPECT_FALSE(FileExists(Dest("kztfa.dat")));
}

// On Windows 95/98 the driver directory has no version folders, and every
// INF of the system INF directory that names the model goes.
TEST_F(DelFilesTest, Windows95FamilyLeavesVersionFoldersAloneAndSearchesEveryInf)
{
    WriteFile("kztfw95.dat", "w");
    std::string inf = WriteModelInf("CopyFiles=KZTF.Drv",
                                    Lines({"[DestinationDirs]", "KZTF.Drv=66000", "[KZTF.Drv]", "kztfw95.dat"}));
    ASSERT_NO_FATAL_FAILURE(PrepareInf(ctx, inf));
    ctx.m_bWinNT = FALSE;
    ASSERT_TRUE(ctx.CopyInfFiles());
    std::string inVersion3 = PutInDriverDir("\\3", "kztfw95.dat");
    std::string named = SystemInf("kztfw95.inf", "[x]\r\nKZTF MODEL=yes\r\n");
    std::string namedPnf = SystemInf("kztfw95.PNF", "pnf");

    EXPECT_TRUE(ctx.DelFiles()) << ctx.GetErrorText();
    EXPECT_FALSE(FileExists(m_drvDir + "\\kztfw95.dat"));
    EXPECT_TRUE(FileExists(inVersion3));
    EXPECT_FALSE(FileExists(named));
    EXPECT_FALSE(FileExists(namedPnf));
}

// DelOemInf on Windows NT: the "oem*.inf" files with a line that holds "="
// and the model name (in any case) go with their ".PNF"; others stay.
TEST_F(DelFilesTest, DelOemInfRemovesTheSystemCopiesThatNameTheModel)
{
    struct Case {
        const char *name;
        const char *text;
        bool readOnly;
        bool deleted;
    };
    const Case cases[] = {
        {"oemkztf1.inf", "[Kzt.Models]\r\n\"kztf Model\" = KZTF.Install\r\n", false, true},
        {"oemkztf2.inf", "[Kzt.Models]\r\n\"KZTF MODEL\"=KZTF.Install\r\n", true, true},
        {"oemkztf3.inf", "; kztf Model without an equals sign\r\n", false, false},
        {"oemkztf4.inf", "[Other.Models]\r\n\"Other Model\" = Other.Install\r\n", false, false},
        {"kztfnotoem.inf", "\"kztf Model\" = KZTF.Install\r\n", false, false},
    };
    for (const Case &c : cases) {
        std::string path = SystemInf(c.name, c.text);
        std::string pnf = path.substr(0, path.rfind('.')) + ".PNF";
        SystemInf(pnf.substr(m_infDir.size() + 1), "pnf");
        if (c.readOnly)
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    }
    std::string inf = WriteModelInf("DriverFile=kztfdrv.dll", "");
    ASSERT_NO_FATAL_FAILURE(PrepareInf(ctx, inf));
    EXPECT_TRUE(ctx.DelOemInf()) << ctx.GetErrorText();
    EXPECT_EQ("", ctx.m_strError);
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
        const Case &c = cases[i];
        SCOPED_TRACE(testing::Message() << "case " << i << " " << c.name);
        std::string path = m_infDir + "\\" + c.name;
        std::string pnf = path.substr(0, path.rfind('.')) + ".PNF";
        EXPECT_EQ(c.deleted, !FileExists(path));
        EXPECT_EQ(c.deleted, !FileExists(pnf));
        if (c.deleted) {
            EXPECT_TRUE(LogHas("DBG ::DeleteFile([" + path + "]) R 1 E 0 "));
            EXPECT_TRUE(LogHas("DBG ::DeleteFile([" + pnf + "]) R 1 E 0 "));
        }
    }
}

// A copy that cannot be read (held open by another program) is skipped; no
// copy at all, or a missing INF directory, are told apart.
TEST_F(DelFilesTest, DelOemInfSkipsUnreadableCopiesAndReportsAMissingDirectory)
{
    std::string inf = WriteModelInf("DriverFile=kztfdrv.dll", "");
    ASSERT_NO_FATAL_FAILURE(PrepareInf(ctx, inf));
    EXPECT_TRUE(ctx.DelOemInf());  // nothing of this kind in the prefix
    EXPECT_EQ("", ctx.m_strError);

    std::string held = SystemInf("oemkztf5.inf", "\"kztf Model\"=x\r\n");
    HANDLE hHeld = CreateFileA(held.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, hHeld);
    EXPECT_TRUE(ctx.DelOemInf());
    CloseHandle(hHeld);
    EXPECT_TRUE(FileExists(held));
    EXPECT_EQ("", ctx.m_strError);

    DevicePathOverride missing(m_dir + "\\noinf");
    CInstallContext c;
    ASSERT_NO_FATAL_FAILURE(PrepareInf(c, inf));
    EXPECT_FALSE(c.DelOemInf());
    EXPECT_EQ("finder.FindFile R 0 " + ErrorTail(ERROR_PATH_NOT_FOUND) + "\r\n", c.m_strError);
}

// An empty model name is in every line: it would take every system copy
// with it, so it is refused.
TEST_F(DelFilesTest, DelOemInfRefusesAnEmptyModelName)
{
    std::string oem = SystemInf("oemkztf6.inf", "\"kztf Model\"=x\r\n");
    std::string inf = WriteModelInf("DriverFile=kztfdrv.dll", "");
    ASSERT_NO_FATAL_FAILURE(PrepareInf(ctx, inf));
    ctx.SetPrinterName("");
    EXPECT_FALSE(ctx.DelOemInf());
    EXPECT_EQ("DelOemInf() m_pPrinterName\r\n", ctx.m_strError);
    EXPECT_TRUE(FileExists(oem));
}

// Paths are composed in 256-byte buffers. A path that does not fit fails
// its copy or deletion with an error line that shows it whole; it is never
// cut, so a file whose name is the cut path is neither copied nor deleted.
TEST_F(DelFilesTest, DestinationPathsBeyondTheBufferFailWithoutBeingCut)
{
    // A folder of 245 characters: its 9-character file fills the buffer.
    std::string sub = std::string(234 - 4, 'd') + "kztf";
    std::string longDir = WindowsDirA() + "\\" + sub;
    ASSERT_EQ(245u, longDir.size());
    ASSERT_TRUE(CreateDirectoryA(longDir.c_str(), NULL)) << GetLastError();
    std::string victim = longDir + "\\kztfv.dat";
    ASSERT_EQ(255u, victim.size());
    HANDLE h = CreateFileA(victim.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD cb;
    ::WriteFile(h, "victim", 6, &cb, NULL);
    CloseHandle(h);

    WriteFile("kztfv.datyyy", "long");
    WriteFile("kztfok.dat", "ok");
    std::string inf = WriteModelInf("CopyFiles=KZTF.Long,KZTF.Files",
                                    Lines({"[DestinationDirs]", "KZTF.Long=10," + sub, "KZTF.Files=10,kztfiles",
                                           "[KZTF.Long]", "kztfv.datyyy", "[KZTF.Files]", "kztfok.dat"}));
    ASSERT_NO_FATAL_FAILURE(PrepareInf(ctx, inf));
    std::string lengthLine = "() Length [" + longDir + "\\kztfv.datyyy]\r\n";
    EXPECT_FALSE(ctx.CopyInfFiles());
    EXPECT_EQ("CopyInfFiles" + lengthLine, ctx.m_strError);
    EXPECT_EQ("ok", ReadBytes(Dest("kztfok.dat")));
    EXPECT_EQ("victim", ReadBytes(victim));
    EXPECT_TRUE(FileExists(InfCopy()));

    ctx.m_strError.clear();
    EXPECT_FALSE(ctx.DelFiles());
    EXPECT_EQ("DelFiles" + lengthLine, ctx.m_strError);
    EXPECT_EQ("victim", ReadBytes(victim));
    EXPECT_FALSE(FileExists(Dest("kztfok.dat")));  // the loop went on
    EXPECT_FALSE(FileExists(InfCopy()));

    SetFileAttributesA(victim.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(victim.c_str());
    RemoveDirectoryA(longDir.c_str());
}

// The same for the source side, in a driver source folder of 243
// characters (the INF named K.INF lies there): the name cut to fit would be
// an existing file.
TEST_F(DelFilesTest, SourcePathsBeyondTheBufferFailWithoutBeingCut)
{
    std::string srcDir = m_dir + "\\" + std::string(243 - m_dir.size() - 1, 's');
    ASSERT_TRUE(CreateDirectoryA(srcDir.c_str(), NULL)) << GetLastError();
    std::string cutName = srcDir + "\\kztfcut.dat";
    ASSERT_EQ(255u, cutName.size());
    ASSERT_TRUE(CopyFileA(WriteFile("kztfcut.dat", "cut").c_str(), cutName.c_str(), FALSE));
    std::string inf = WriteModelInf("CopyFiles=KZTF.Files", kFilesDest + Lines({"[KZTF.Files]", "kztfcut.datxxxxx"}),
                                    "K.INF", srcDir);
    ASSERT_NO_FATAL_FAILURE(PrepareInf(ctx, inf));
    EXPECT_FALSE(ctx.CopyInfFiles());
    EXPECT_EQ("CopyInfFiles() Length [" + srcDir + "\\kztfcut.datxxxxx]\r\n", ctx.m_strError);
    EXPECT_FALSE(FileExists(Dest("kztfcut.datxxxxx")));
    EXPECT_FALSE(FileExists(Dest("kztfcut.dat")));
    EXPECT_TRUE(FileExists(InfCopy("OstrelK.INF")));
}

// A system INF directory of 248 characters leaves no room for the INF copy's
// name or the search pattern: both fail with their error lines.
TEST_F(DelFilesTest, LongSystemInfDirectoryFailsTheInfCopyAndTheSearch)
{
    std::string longInfDir = "C:\\" + std::string(245, 'i');
    DevicePathOverride path(longInfDir);
    WriteFile("kztfa.dat", "a");
    std::string inf = WriteModelInf("CopyFiles=KZTF.Files", kFilesDest + Lines({"[KZTF.Files]", "kztfa.dat"}));
    ASSERT_NO_FATAL_FAILURE(PrepareInf(ctx, inf));
    ASSERT_STREQ(longInfDir.c_str(), ctx.m_pDevicePath);
    EXPECT_FALSE(ctx.CopyInfFiles());
    EXPECT_EQ("CopyInfFiles() Length [" + longInfDir + "\\OstrelKZTFILES.INF]\r\n", ctx.m_strError);
    EXPECT_EQ("a", ReadBytes(Dest("kztfa.dat")));

    ctx.m_strError.clear();
    EXPECT_FALSE(ctx.DelOemInf());
    EXPECT_EQ("DelOemInf() Length [" + longInfDir + "\\oem*.inf]\r\n", ctx.m_strError);
}

// A file-list line with an empty name (",source") names no file: the copy,
// the removal and the comparison leave it out with their error line, never
// acting on the folder itself.
TEST_F(DelFilesTest, EmptyFileNameNamesNoFile)
{
    ASSERT_NO_FATAL_FAILURE(AddOtherDriver());
    WriteFile("kztfa.dat", "a");
    WriteFile("kztfsrc.dat", "src");
    std::string inf = WriteModelInf("CopyFiles=KZTF.Files", kFilesDest + Lines({"[KZTF.Files]", "kztfa.dat",
                                                                                ",kztfsrc.dat"}));
    ASSERT_NO_FATAL_FAILURE(PrepareInf(ctx, inf));
    SetFileAttributesA(m_dest.c_str(), FILE_ATTRIBUTE_READONLY);
    std::string destAttr = AttrText(m_dest);
    EXPECT_FALSE(ctx.CopyInfFiles());
    EXPECT_EQ("CopyInfFiles() p->pDst\r\n", ctx.m_strError);
    EXPECT_EQ("a", ReadBytes(Dest("kztfa.dat")));

    ASSERT_TRUE(ctx.EnumDrv());
    char name[256];
    EXPECT_FALSE(ctx.DiffDriverFiles(name));
    EXPECT_TRUE(LogHas("DBG Diff [] [KztNull]"));

    ctx.m_strError.clear();
    EXPECT_FALSE(ctx.DelFiles());
    EXPECT_EQ("DelFiles() p->pDst\r\n", ctx.m_strError);
    EXPECT_FALSE(FileExists(Dest("kztfa.dat")));
    EXPECT_EQ(destAttr, AttrText(m_dest));
    EXPECT_FALSE(LogHasStart("DBG ::SetFileAttributes([" + m_dest + "\\])"));
    SetFileAttributesA(m_dest.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Windows 95/98 only: these cases run in the 32-bit build, in a prefix that
// reports Windows 98, and skip wherever the system reports Windows NT.
class FilesW95Test : public DelFilesTest {
protected:
    void SetUp() override
    {
        DelFilesTest::SetUp();
        OSVERSIONINFOA osvi = {};
        osvi.dwOSVersionInfoSize = sizeof(osvi);
        GetVersionExA(&osvi);
        if (osvi.dwPlatformId == VER_PLATFORM_WIN32_NT)
            GTEST_SKIP() << "the Windows 95/98 path needs a system that reports the Windows 95 family; this one "
                            "reports Windows NT "
                         << osvi.dwMajorVersion << "." << osvi.dwMinorVersion
                         << " (these cases run in the 32-bit build with KZT_PREFIX=win98 KZT_WINE_VERSION=win98)";
    }
};

// Every INF of the system INF directory is searched, not only "oem*.inf".
TEST_F(FilesW95Test, DelOemInfSearchesEveryInfOfTheSystem)
{
    std::string named = SystemInf("kztfw95a.inf", "\"kztf Model\" = KZTF.Install\r\n");
    std::string namedPnf = SystemInf("kztfw95a.PNF", "pnf");
    std::string oem = SystemInf("oemkztf8.inf", "\"kztf Model\" = KZTF.Install\r\n");
    std::string other = SystemInf("kztfw95b.inf", "\"Other Model\" = Other.Install\r\n");
    std::string inf = WriteModelInf("DriverFile=kztfdrv.dll", "");
    ASSERT_NO_FATAL_FAILURE(PrepareInf(ctx, inf));
    ASSERT_FALSE(ctx.m_bWinNT);
    EXPECT_TRUE(ctx.DelOemInf()) << ctx.GetErrorText();
    EXPECT_FALSE(FileExists(named));
    EXPECT_FALSE(FileExists(namedPnf));
    EXPECT_FALSE(FileExists(oem));
    EXPECT_TRUE(FileExists(other));
    EXPECT_EQ("", ctx.m_strError);
}

// The driver directory of the "Windows 4.0" environment has no version
// folders: only the file itself goes.
TEST_F(FilesW95Test, DelFilesLeavesTheDriverDirectorysFoldersAlone)
{
    WriteFile("kztfw95.dat", "w");
    std::string inf = WriteModelInf("CopyFiles=KZTF.Drv",
                                    Lines({"[DestinationDirs]", "KZTF.Drv=66000", "[KZTF.Drv]", "kztfw95.dat"}));
    ASSERT_NO_FATAL_FAILURE(PrepareInf(ctx, inf));
    ASSERT_FALSE(ctx.m_bWinNT);
    CreateDirectoryA(m_drvDir.c_str(), NULL);
    ASSERT_TRUE(ctx.CopyInfFiles()) << ctx.GetErrorText();
    std::string inVersion3 = PutInDriverDir("\\3", "kztfw95.dat");
    EXPECT_TRUE(ctx.DelFiles()) << ctx.GetErrorText();
    EXPECT_FALSE(FileExists(m_drvDir + "\\kztfw95.dat"));
    EXPECT_TRUE(FileExists(inVersion3));
    EXPECT_FALSE(LogHasStart("DBG ::GetFileAttributes([" + m_drvDir + "\\2\\"));
}
