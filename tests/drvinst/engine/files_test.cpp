// The driver files of a model: copied with the INF, kept or overwritten as
// the CopyFiles flag says, deleted at uninstall unless still used, and the
// system's copies of the INF removed; paths longer than the engine's buffers
// fail without being cut.
#include "filesfixture.h"
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
    // A log line that begins so, among every line taken so far.
    bool LogHasStart(const std::string &start)
    {
        TakeLog();
        for (const std::string &line : m_logSeen) {
            if (line.compare(0, start.size(), start) == 0)
                return true;
        }
        return false;
    }
    std::string Src(const std::string &name) { return m_dir + "\\" + name; }
    std::string Dest(const std::string &name) { return m_dest + "\\" + name; }
    std::string InfCopy(const std::string &name = "OstrelKZTFILES.INF") { return m_infDir + "\\" + name; }
};

// Flag 16, read as a decimal number, keeps an existing target; 0x10 reads as
// 0 and overwrites like any other flag or none. Read-only targets follow the
// same rule.
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
        {"kztfhex.dat", ",,,0x10", true, false, false},
        {"kztfhexro.dat", ",,,0x10", true, true, false},
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
    Prepare(ctx, inf);
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
    Prepare(ctx, inf);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ctx.CopyInfFiles());
    std::string e2 = ErrorTail(ERROR_FILE_NOT_FOUND) + "\r\n";
    EXPECT_EQ("::CopyFile([" + Src("kztfmissing.dat") + "][" + Dest("kztfmissing.dat") + "]) R 0 " + e2 +
                  "::CopyFile([" + Src("kztfmissing16.dat") + "][" + Dest("kztfmissing16.dat") + "]) R 0 " + e2,
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
    Prepare(ctx, inf);
    EXPECT_EQ("GetDestDir() DirectoryID\r\n", ctx.m_strError);
    EXPECT_TRUE(ctx.CopyInfFiles());
    EXPECT_EQ("ok", ReadBytes(Dest("kztfok.dat")));
    EXPECT_FALSE(FileExists(Dest("kztfodd.dat")));
    EXPECT_FALSE(LogHasStart("DBG ::CopyFile([" + Src("kztfodd.dat") + "]"));
}

// No directory is created for a file: a missing destination fails its copy.
TEST_F(CopyFilesTest, MissingDestinationDirectoryFailsTheCopy)
{
    WriteFile("kztfa.dat", "a");
    std::string inf = WriteModelInf("CopyFiles=KZTF.Files",
                                    Lines({"[DestinationDirs]", "KZTF.Files=10,kztfiles\\none", "[KZTF.Files]",
                                           "kztfa.dat"}));
    Prepare(ctx, inf);
    EXPECT_FALSE(ctx.CopyInfFiles());
    EXPECT_EQ("::CopyFile([" + Src("kztfa.dat") + "][" + m_dest + "\\none\\kztfa.dat]) R 0 " +
                  ErrorTail(ERROR_PATH_NOT_FOUND) + "\r\n",
              ctx.m_strError);
    EXPECT_FALSE(FileExists(m_dest + "\\none"));
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
// files are deleted; a file another program holds open, a folder or a name
// the file system refuses fail with their error line.
TEST_F(CopyFilesTest, DelFileDeletesWhatIsThereAndFailsOnlyOnRealErrors)
{
    std::string readOnly = WriteFile("kztfro.dat", "x");
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    std::string held = WriteFile("kztfheld.dat", "x");
    HANDLE hHeld = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, hHeld);
    std::string folder = m_dir + "\\kztfdir";
    CreateDirectoryA(folder.c_str(), NULL);

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
        {held, FALSE, false, "ERR ::DeleteFile([" + held + "]) R 0 " + ErrorTail(ERROR_SHARING_VIOLATION),
         ERROR_SHARING_VIOLATION},
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
    EXPECT_EQ("::DeleteFile([" + held + "]) R 0 " + ErrorTail(ERROR_SHARING_VIOLATION) + "\r\n" + "::DeleteFile([" +
                  folder + "]) R 0 " + ErrorTail(ERROR_ACCESS_DENIED) + "\r\n",
              ctx.m_strError);
}
