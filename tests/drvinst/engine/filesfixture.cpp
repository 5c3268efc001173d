#include "filesfixture.h"
#include "splstr.h"
#include "spoolrecord.h"
#include "testenv.h"
#include <winspool.h>
#include <vector>

const char kModel[] = "kztf Model";
const char kTestKey[] = "SOFTWARE\\KztFilesTest";

namespace {

const char kCurrentVersion[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

bool StartsWithKztf(const char *name)
{
    return name && !StrNCmpI(name, "kztf", 4);
}

// Deletes the files of dir whose names match pattern.
void DeleteMatching(const std::string &dir, const std::string &pattern)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\" + pattern).c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string path = dir + "\\" + fd.cFileName;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}

// Deletes a key with its subkeys.
void DeleteKeyTree(HKEY hParent, const char *name)
{
    HKEY hKey;
    if (RegOpenKeyExA(hParent, name, 0, KEY_ALL_ACCESS, &hKey) == ERROR_SUCCESS) {
        std::vector<std::string> subkeys;
        char sub[256];
        for (DWORD i = 0;; i++) {
            DWORD cch = sizeof(sub);
            if (RegEnumKeyExA(hKey, i, sub, &cch, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
                break;
            subkeys.push_back(sub);
        }
        for (const std::string &s : subkeys)
            DeleteKeyTree(hKey, s.c_str());
        RegCloseKey(hKey);
    }
    RegDeleteKeyA(hParent, name);
}

}  // namespace

void RemoveTestDrivers()
{
    SpoolCallArgs args = {};
    SpoolRecordResult r;
    args.dwFlags = PRINTER_ENUM_LOCAL;
    args.dwLevel = 2;
    if (LPBYTE p = AllocSpoolRecord(SpoolEnumPrintersA, &args, 0, &r)) {
        for (DWORD i = 0; i < r.cReturned; i++) {
            const PRINTER_INFO_2A &q = ((const PRINTER_INFO_2A *)p)[i];
            if (!StartsWithKztf(q.pPrinterName) && !StartsWithKztf(q.pDriverName))
                continue;
            HANDLE h = NULL;
            PRINTER_DEFAULTSA defaults = {NULL, NULL, PRINTER_ALL_ACCESS};
            if (OpenPrinterA(q.pPrinterName, &h, &defaults)) {
                DeletePrinter(h);
                ClosePrinter(h);
            }
        }
        FreeSpoolRecord(p);
    }
    args = {};
    args.dwLevel = 3;
    if (LPBYTE p = AllocSpoolRecord(SpoolEnumPrinterDriversA, &args, 0, &r)) {
        for (DWORD i = 0; i < r.cReturned; i++) {
            const DRIVER_INFO_3A &d = ((const DRIVER_INFO_3A *)p)[i];
            if (StartsWithKztf(d.pName))
                DeletePrinterDriverA(NULL, NULL, d.pName);
        }
        FreeSpoolRecord(p);
    }
    std::string drv = PrinterDriverDirA();
    for (const char *sub : {"", "\\2", "\\3"})
        DeleteMatching(drv + sub, "kztf*");
}

bool AddQueueFor(const std::string &name, const std::string &driver)
{
    PRINTER_INFO_2A pi = {};
    pi.pPrinterName = (LPSTR)name.c_str();
    pi.pPortName = (LPSTR) "LPT1:";
    pi.pDriverName = (LPSTR)driver.c_str();
    pi.pPrintProcessor = (LPSTR) "winprint";
    pi.pDatatype = (LPSTR) "RAW";
    HANDLE h = AddPrinterA(NULL, 2, (LPBYTE)&pi);
    if (h)
        ClosePrinter(h);
    return h != NULL;
}

std::string ErrorTail(DWORD dwError)
{
    std::string text = SysErrorText(dwError).c_str();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return "E " + std::to_string(dwError) + " " + text;
}

std::string AttrText(const std::string &path)
{
    return std::to_string((int)GetFileAttributesA(path.c_str()));
}

DevicePathOverride::DevicePathOverride(const std::string &value)
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_READ | KEY_WRITE, &hKey))
        return;
    char saved[1024];
    DWORD cb = sizeof(saved);
    m_had = RegQueryValueExA(hKey, "OtherDevicePath", NULL, &m_type, (LPBYTE)saved, &cb) == ERROR_SUCCESS;
    if (m_had)
        m_saved.assign(saved, cb);
    RegSetValueExA(hKey, "OtherDevicePath", 0, REG_SZ, (const BYTE *)value.c_str(), (DWORD)value.size() + 1);
    RegCloseKey(hKey);
}

DevicePathOverride::~DevicePathOverride()
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_READ | KEY_WRITE, &hKey))
        return;
    if (m_had)
        RegSetValueExA(hKey, "OtherDevicePath", 0, m_type, (const BYTE *)m_saved.data(), (DWORD)m_saved.size());
    else
        RegDeleteValueA(hKey, "OtherDevicePath");
    RegCloseKey(hKey);
}

static void RemoveCaseLeftovers(const std::string &dest, const std::string &infDir)
{
    RemoveTestDrivers();
    RemoveTree(dest);
    DeleteMatching(infDir, "OstrelKZTF*");
    DeleteMatching(infDir, "oemkztf*");
    DeleteMatching(infDir, "kztf*");
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kTestKey);
}

void FilesTest::SetUp()
{
    ContextTest::SetUp();
    m_dest = WindowsDirA() + "\\kztfiles";
    m_drvDir = PrinterDriverDirA();
    m_infDir = WindowsDirA() + "\\INF";
    RemoveCaseLeftovers(m_dest, m_infDir);
    CreateDirectoryA(m_dest.c_str(), NULL);
}

void FilesTest::TearDown()
{
    RemoveCaseLeftovers(m_dest, m_infDir);
    ContextTest::TearDown();
}

std::string FilesTest::WriteModelInf(const std::string &install, const std::string &sections, const std::string &name,
                                     const std::string &dir)
{
    std::string text = "[Version]\nSignature=\"$Windows NT$\"\n\n[Manufacturer]\nKzt=Kzt.Models\n\n"
                       "[Kzt.Models]\n\"" +
                       std::string(kModel) + "\" = KZTF.Install\n\n[KZTF.Install]\n" + install + "\n\n" + sections +
                       "\n";
    std::string path = UseInf(text, name);
    if (dir.empty())
        return path;
    std::string moved = dir + "\\" + name;
    MoveFileA(path.c_str(), moved.c_str());
    ctx.SetInfFileName(moved.c_str());
    return moved;
}

void FilesTest::Prepare(CInstallContext &c, const std::string &inf, const char *model)
{
    if (&c != &ctx) {
        FreeSplStr(c.m_pLogFileName);
        c.m_pLogFileName = AllocSplStr(m_logPath.c_str());
    }
    c.SetInfFileName(inf.c_str());
    c.SetPrinterName(model);
    ASSERT_TRUE(c.SetupSysInfo()) << c.GetErrorText();
    ASSERT_TRUE(c.ParseInf()) << c.GetErrorText();
    ASSERT_TRUE(c.SetupSplInfo());
}

std::string FilesTest::CopyStub(const std::string &dir, const std::string &name)
{
    std::string to = dir + "\\" + name;
    SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_NORMAL);
    CopyFileA(Narrow(ExePath(L"kztstubui.dll")).c_str(), to.c_str(), FALSE);
    return to;
}
