#include "filesfixture.h"
#include "splstr.h"
#include "testenv.h"
#include <vector>

const char kModel[] = "kztf Model";
const char kTestKey[] = "SOFTWARE\\KztFilesTest";

namespace {

const char kCurrentVersion[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

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

// The files and keys of a case; its drivers and queues go with the spooler's
// reset.
static void RemoveCaseLeftovers(const std::string &dest, const std::string &infDir)
{
    std::string drv = PrinterDriverDirA();
    for (const char *sub : {"", "\\2", "\\3"})
        DeleteMatching(drv + sub, "kztf*");
    RemoveTree(dest);
    DeleteMatching(infDir, "OstrelKZTF*");
    DeleteMatching(infDir, "oemkztf*");
    DeleteMatching(infDir, "kztf*");
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kTestKey);
}

void FilesTest::SetUp()
{
    EngineTest::SetUp();
    m_dest = WindowsDirA() + "\\kztfiles";
    m_drvDir = PrinterDriverDirA();
    m_infDir = WindowsDirA() + "\\INF";
    RemoveCaseLeftovers(m_dest, m_infDir);
    CreateDirectoryA(m_dest.c_str(), NULL);
}

void FilesTest::TearDown()
{
    EngineTest::TearDown();  // queues and drivers first, then their files
    RemoveCaseLeftovers(m_dest, m_infDir);
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

std::string FilesTest::CopyStub(const std::string &dir, const std::string &name)
{
    std::string to = dir + "\\" + name;
    SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_NORMAL);
    CopyFileA(Narrow(ExePath(L"kztstubui.dll")).c_str(), to.c_str(), FALSE);
    return to;
}
