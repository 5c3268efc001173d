// Whether the driver files already installed differ from the new ones: the
// decision that turns an install into a reinstall. Compared are size and
// contents of each file an installed driver names.
#include "filesfixture.h"
#include "testenv.h"
#include <vector>

namespace {

const char kDriverInstall[] =
    "CopyFiles=KZTF.Drv\nDriverFile=kztfdrv.dll\nConfigFile=kztfui.dll\nDataFile=kztfdata.dat";
const char kDriverFiles[] = "[DestinationDirs]\nKZTF.Drv=66000\n[KZTF.Drv]\nkztfdrv.dll\nkztfui.dll\nkztfdata.dat\n"
                            "kztfhelp.bpd\n";

ULONGLONG WriteTime(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return ((ULONGLONG)data.ftLastWriteTime.dwHighDateTime << 32) | data.ftLastWriteTime.dwLowDateTime;
}

void SetWriteTime(const std::string &path, ULONGLONG time)
{
    HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, 0, NULL);
    FILETIME ft = {(DWORD)time, (DWORD)(time >> 32)};
    SetFileTime(h, NULL, NULL, &ft);
    CloseHandle(h);
}

void AppendByte(const std::string &path)
{
    HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA, 0, NULL, OPEN_EXISTING, 0, NULL);
    DWORD cb;
    ::WriteFile(h, "+", 1, &cb, NULL);
    CloseHandle(h);
}

const ULONGLONG kSecond = 10000000;  // FILETIME units

}  // namespace

class DiffFilesTest : public FilesTest {
protected:
    // The model's driver installed from the scratch folder, as an install
    // leaves it: files copied, driver added to the spooler.
    void InstallDriver()
    {
        CopyStub(m_dir, "kztfdrv.dll");
        CopyStub(m_dir, "kztfui.dll");
        WriteFile("kztfdata.dat", "data");
        WriteFile("kztfhelp.bpd", "bpd");
        m_inf = WriteModelInf(kDriverInstall, kDriverFiles);
        CInstallContext c;
        ASSERT_NO_FATAL_FAILURE(PrepareInf(c, m_inf));
        ASSERT_TRUE(c.CopyInfFiles()) << c.GetErrorText();
        ASSERT_TRUE(c.AddDrv()) << c.GetErrorText();
    }
    std::string Installed(const std::string &name) { return m_drvDir + "\\3\\" + name; }
    std::string Src(const std::string &name) { return m_dir + "\\" + name; }
    // The Diff lines DiffDriverFiles wrote, in order.
    std::vector<std::string> DiffLines()
    {
        std::vector<std::string> lines;
        for (const std::string &line : TakeLog()) {
            if (line.compare(0, 9, "DBG Diff ") == 0)
                lines.push_back(line.substr(4));
        }
        return lines;
    }
    // DiffDriverFiles on a fresh context for an INF, after EnumDrv: its
    // result, the driver name it left, its Diff lines and its error text.
    struct DiffRun {
        BOOL result = FALSE;
        std::string name;
        std::vector<std::string> lines;
        std::string error;
    };
    void RunDiff(const std::string &inf, DiffRun *run)
    {
        CInstallContext c;
        ASSERT_NO_FATAL_FAILURE(PrepareInf(c, inf));
        ASSERT_TRUE(c.EnumDrv());
        TakeLog();
        char name[256] = "";
        run->result = c.DiffDriverFiles(name);
        run->name = name;
        run->lines = DiffLines();
        run->error = c.m_strError;
    }
    std::string CompareLine(const std::string &name, int result, const std::string &srcDir = "")
    {
        return "Diff [" + name + "] [" + Installed(name) + "] [" + (srcDir.empty() ? m_dir : srcDir) + "\\" + name +
               "] R " + std::to_string(result);
    }

    std::string m_inf;
};

// The same files as installed: no difference, each compared file logged.
TEST_F(DiffFilesTest, UnchangedDriverFilesMakeNoDifference)
{
    ASSERT_NO_FATAL_FAILURE(InstallDriver());
    DiffRun run;
    ASSERT_NO_FATAL_FAILURE(RunDiff(m_inf, &run));
    EXPECT_FALSE(run.result);
    EXPECT_EQ(kModel, run.name);
    const std::vector<std::string> &lines = run.lines;
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ(CompareLine("kztfdrv.dll", 0), lines[0]);
    EXPECT_EQ(CompareLine("kztfui.dll", 0), lines[1]);
    EXPECT_EQ(CompareLine("kztfdata.dat", 0), lines[2]);
    EXPECT_EQ(0u, lines[3].find("Diff [kztfhelp.bpd] ["));
    EXPECT_EQ("", run.error);
}

// A new size or new contents of one file are a difference: the install
// becomes a reinstall, and the comparison stops at that file. A new time
// alone is none (FAT keeps times in 2-second steps).
TEST_F(DiffFilesTest, ChangedDriverFileTurnsTheInstallIntoAReinstall)
{
    ASSERT_NO_FATAL_FAILURE(InstallDriver());
    struct Case {
        const char *file;
        bool size;      // else the same size with one byte changed
        size_t lines;   // Diff lines, the last one R 1
    };
    const Case cases[] = {
        {"kztfui.dll", true, 2},
        {"kztfdata.dat", false, 3},
        {"kztfdrv.dll", false, 1},
    };
    const char *order[] = {"kztfdrv.dll", "kztfui.dll", "kztfdata.dat"};
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
        const Case &k = cases[i];
        SCOPED_TRACE(testing::Message() << "case " << i << " " << k.file);
        SetWriteTime(Src(k.file), WriteTime(Installed(k.file)) + 5 * kSecond);
        DiffRun run;
        ASSERT_NO_FATAL_FAILURE(RunDiff(m_inf, &run));
        EXPECT_FALSE(run.result);  // the time alone
        if (k.size) {
            AppendByte(Src(k.file));
        } else {
            std::string bytes = ReadBytes(Src(k.file));
            bytes.back() ^= 1;
            WriteFile(Src(k.file).substr(m_dir.size() + 1), bytes);
        }
        ASSERT_NO_FATAL_FAILURE(RunDiff(m_inf, &run));
        EXPECT_TRUE(run.result);
        const std::vector<std::string> &lines = run.lines;
        ASSERT_EQ(k.lines, lines.size());
        for (size_t n = 0; n < k.lines; n++)
            EXPECT_EQ(CompareLine(order[n], n + 1 == k.lines), lines[n]);
        // The installed copy back in place.
        ASSERT_TRUE(CopyFileA(Installed(k.file).c_str(), Src(k.file).c_str(), FALSE));
    }
}

// Files with the extension "BPD" are never compared, and a file no
// installed driver names (new in this version of the INF) has nothing to be
// compared with.
TEST_F(DiffFilesTest, BpdFilesAndFilesNoDriverNamesAreNotCompared)
{
    ASSERT_NO_FATAL_FAILURE(InstallDriver());
    std::string v2 = m_dir + "\\v2";
    CreateDirectoryA(v2.c_str(), NULL);
    for (const char *file : {"kztfdrv.dll", "kztfui.dll", "kztfdata.dat", "kztfhelp.bpd"})
        CopyFileA(Src(file).c_str(), (v2 + "\\" + file).c_str(), FALSE);
    AppendByte(v2 + "\\kztfhelp.bpd");
    HANDLE h = CreateFileA((v2 + "\\kztfnew.dat").c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    CloseHandle(h);
    std::string inf = WriteModelInf(kDriverInstall, std::string(kDriverFiles) + "kztfnew.dat\n", "KZTFILES.INF", v2);
    DiffRun run;
    ASSERT_NO_FATAL_FAILURE(RunDiff(inf, &run));
    EXPECT_FALSE(run.result);
    const std::vector<std::string> &lines = run.lines;
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ(0u, lines[3].find("Diff [kztfhelp.bpd] ["));
    EXPECT_EQ(std::string::npos, lines[3].find(" R "));
    EXPECT_NE(std::string::npos, lines[3].find("kztfhelp.bpd]", 20));  // the file as the driver names it
    EXPECT_EQ("Diff [kztfnew.dat] [KztNull]", lines[4]);
}

// An installed file removed by hand cannot be read: no difference.
TEST_F(DiffFilesTest, InstalledFileRemovedByHandMakesNoDifference)
{
    ASSERT_NO_FATAL_FAILURE(InstallDriver());
    ASSERT_TRUE(DeleteFileA(Installed("kztfui.dll").c_str()));
    AppendByte(Src("kztfui.dll"));
    DiffRun run;
    ASSERT_NO_FATAL_FAILURE(RunDiff(m_inf, &run));
    EXPECT_FALSE(run.result);
    const std::vector<std::string> &lines = run.lines;
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ(CompareLine("kztfui.dll", 0), lines[1]);
}

// A new file's path that does not fit its buffer is left uncompared with an
// error line; it is never cut (the cut name is a file that differs).
TEST_F(DiffFilesTest, NewPathBeyondTheBufferIsNotCompared)
{
    ASSERT_NO_FATAL_FAILURE(InstallDriver());
    std::string srcDir = m_dir + "\\" + std::string(243 - m_dir.size() - 1, 's');
    ASSERT_TRUE(CreateDirectoryA(srcDir.c_str(), NULL)) << GetLastError();
    for (const char *file : {"kztfdrv.dll", "kztfui.dll", "kztfdata.dat", "kztfhelp.bpd"})
        CopyFileA(Src(file).c_str(), (srcDir + "\\" + file).c_str(), FALSE);
    std::string cut = srcDir + "\\kztfdata.da";
    ASSERT_EQ(255u, cut.size());
    HANDLE h = CreateFileA(cut.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    CloseHandle(h);
    std::string inf = WriteModelInf(kDriverInstall, kDriverFiles, "K.INF", srcDir);
    DiffRun run;
    ASSERT_NO_FATAL_FAILURE(RunDiff(inf, &run));
    EXPECT_FALSE(run.result);
    EXPECT_EQ("DiffDriverFiles() Length [" + srcDir + "\\kztfdata.dat]\r\n", run.error);
    const std::vector<std::string> &lines = run.lines;
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ(CompareLine("kztfdrv.dll", 0, srcDir), lines[0]);
    EXPECT_EQ(CompareLine("kztfui.dll", 0, srcDir), lines[1]);
    EXPECT_EQ(0u, lines[2].find("Diff [kztfhelp.bpd] ["));
}

// DiffFile directly: size and contents decide, times do not; a file that
// cannot be opened makes no difference; a file another program writes to is
// still read.
TEST_F(DiffFilesTest, DiffFileComparesSizeAndContentsOnly)
{
    const ULONGLONG base = 132000000000000000ULL + 2 * 1000000;  // 0.2 s past a whole second
    const std::string big(200000, 'b');  // beyond one 64 KB piece
    struct Case {
        const char *name;
        std::string installed, fresh;
        ULONGLONG freshTime;
        BOOL result;
    };
    const Case cases[] = {
        {"same", "abc", "abc", base, FALSE},
        {"other contents", "abc", "xyz", base, TRUE},
        {"two seconds later (FAT)", "abc", "abc", base + 2 * kSecond, FALSE},
        {"other size", "abc", "abcd", base, TRUE},
        {"same large", big, big, base, FALSE},
        {"last byte of the third piece", big, big.substr(0, big.size() - 1) + "c", base, TRUE},
        {"both empty", "", "", base, FALSE},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
        const Case &k = cases[i];
        SCOPED_TRACE(testing::Message() << "case " << i << " " << k.name);
        std::string installed = WriteFile("kztfinst.dat", k.installed);
        std::string fresh = WriteFile("kztffresh.dat", k.fresh);
        SetWriteTime(installed, base);
        SetWriteTime(fresh, k.freshTime);
        EXPECT_EQ(k.result, ctx.DiffFile(installed.c_str(), fresh.c_str()));
    }

    std::string installed = WriteFile("kztfinst.dat", "abc");
    std::string fresh = WriteFile("kztffresh.dat", "abcd");
    EXPECT_FALSE(ctx.DiffFile((m_dir + "\\kztfnone.dat").c_str(), fresh.c_str()));
    EXPECT_FALSE(ctx.DiffFile(installed.c_str(), (m_dir + "\\kztfnone.dat").c_str()));

    HANDLE hWriter = CreateFileA(installed.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                 OPEN_EXISTING, 0, NULL);
    EXPECT_TRUE(ctx.DiffFile(installed.c_str(), fresh.c_str()));
    CloseHandle(hWriter);
    HANDLE hLocked = CreateFileA(installed.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_FALSE(ctx.DiffFile(installed.c_str(), fresh.c_str()));
    CloseHandle(hLocked);
    EXPECT_EQ("", ctx.m_strError);
}
