#include "contextfixture.h"
#include "splstr.h"
#include "testenv.h"
#include <windows.h>

std::string TempPathA()
{
    char sz[MAX_PATH];
    GetTempPathA(sizeof(sz), sz);
    return sz;
}

std::string WindowsDirA()
{
    char sz[MAX_PATH];
    GetWindowsDirectoryA(sz, sizeof(sz));
    return sz;
}

std::string ProgramsDirA()
{
    char sz[MAX_PATH] = "";
    DWORD cb = sizeof(sz) - 1;
    RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                 RRF_RT_REG_SZ, NULL, sz, &cb);
    return sz;
}

std::string PrinterDriverDirA()
{
    char sz[MAX_PATH];
    DWORD cb = 0;
    GetPrinterDriverDirectoryA(NULL, NULL, 1, (LPBYTE)sz, sizeof(sz), &cb);
    return sz;
}

std::string ReadBytes(const std::string &path)
{
    return ReadTextFile(std::wstring(path.begin(), path.end()));  // the tests' paths are ASCII
}

bool FileExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTree(const std::string &dir)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = fd.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = dir + "\\" + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
}

void WaitNextTick()
{
    DWORD dwTick = GetTickCount();
    while (GetTickCount() == dwTick)
        Sleep(1);
}

std::string JoinEntries(const char *p)
{
    std::string joined;
    for (; *p; p += strlen(p) + 1) {
        if (!joined.empty())
            joined += '|';
        joined += p;
    }
    return joined;
}

void ContextTest::SetUp()
{
    static int s_next;
    char name[64];
    wsprintfA(name, "kztctx-%lu-%d", GetCurrentProcessId(), ++s_next);
    m_dir = TempPathA() + name;
    RemoveTree(m_dir);
    CreateDirectoryA(m_dir.c_str(), NULL);
    m_logPath = WriteFile("kztdebug.txt", "");
    ctx.m_pLogFileName = AllocSplStr(m_logPath.c_str());
}

void ContextTest::TearDown()
{
    RemoveTree(m_dir);
}

std::string ContextTest::WriteFile(const std::string &name, const std::string &bytes)
{
    std::string path = m_dir + "\\" + name;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD cb = 0;
    if (h != INVALID_HANDLE_VALUE) {
        ::WriteFile(h, bytes.data(), (DWORD)bytes.size(), &cb, NULL);
        CloseHandle(h);
    }
    return path;
}

std::string ContextTest::UseInf(const std::string &text, const std::string &name)
{
    std::string crlf;
    for (char ch : text) {
        if (ch == '\n')
            crlf += '\r';
        crlf += ch;
    }
    WaitNextTick();  // so that the context's reader sees the new text
    std::string path = WriteFile(name, crlf);
    ctx.SetInfFileName(path.c_str());
    return path;
}

std::vector<std::string> ContextTest::TakeLog()
{
    std::string text = ReadBytes(m_logPath);
    std::vector<std::string> lines;
    // "yyyy/mm/dd hh:mm:ss.mmm DI DBG message\r\n"
    size_t pos = m_logTaken;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        size_t tag = line.find(" DI ");
        lines.push_back(tag == std::string::npos ? line : line.substr(tag + 4));
        pos = end + 2;
    }
    m_logTaken = text.size();
    m_logSeen.insert(m_logSeen.end(), lines.begin(), lines.end());
    return lines;
}

bool ContextTest::LogHas(const std::string &message)
{
    TakeLog();
    for (const std::string &line : m_logSeen) {
        if (line == message)
            return true;
    }
    return false;
}

bool ReadInfAsInstaller(const std::string &path, InfRound *round, std::string *what)
{
    CInstallContext fresh;  // no log file: the messages go to m_strError only
    fresh.SetInfFileName(path.c_str());
    fresh.m_wLangID = 0x0409;
    std::string models;
    round->listed = fresh.FindInfPrinters(models) != FALSE;
    if (!round->listed && fresh.m_strError.empty()) {
        *what = "the model list failed without a message";
        return false;
    }
    std::string model = models.substr(0, models.find(','));
    fresh.SetPrinterName(round->listed && !model.empty() ? model.c_str() : "TZ A");
    fresh.m_strError.clear();
    round->parsed = fresh.ParseInf() != FALSE;
    if (!round->parsed && fresh.m_strError.empty()) {
        *what = "ParseInf failed without a message";
        return false;
    }
    if (round->parsed)
        FreeSplMem(fresh.AllocDependentFiles());
    return true;
}
