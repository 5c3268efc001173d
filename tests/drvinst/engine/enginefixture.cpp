#include "enginefixture.h"
#include "splstr.h"
#include "spoolrecord.h"
#include "testenv.h"
#include <winspool.h>

namespace {

const char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char kProcessorKeyFormat[] = "System\\CurrentControlSet\\Control\\Print\\Environments\\%s\\Print Processors";

bool IsTestName(const char *name)
{
    return name && (!StrNCmpI(name, "Ostrel", 6) || !StrNCmpI(name, "kzt", 3));
}

// The records of an ANSI Enum call, in a buffer of their own.
struct Records {
    LPBYTE p = nullptr;
    DWORD c = 0;
    Records(PFN_SPOOLFILL fill, DWORD flags, DWORD level)
    {
        SpoolCallArgs args = {};
        args.dwFlags = flags;
        args.dwLevel = level;
        SpoolRecordResult r;
        p = AllocSpoolRecord(fill, &args, 0, &r);
        c = r.cReturned;
    }
    ~Records() { FreeSpoolRecord(p); }
    template <class T> const T &at(DWORD i) const { return ((const T *)p)[i]; }
};

std::string Str(const char *p)
{
    return p ? p : "(null)";
}

void CopyInto(const std::string &from, const std::string &to)
{
    SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_NORMAL);
    CopyFileA(from.c_str(), to.c_str(), FALSE);
}

}  // namespace

void RemoveRunOnceEntries()
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_ALL_ACCESS, &hKey))
        return;
    char name[512];
    for (;;) {
        DWORD cch = sizeof(name);
        if (RegEnumValueA(hKey, 0, name, &cch, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        if (RegDeleteValueA(hKey, name) != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(hKey);
}

void RemovePendingRenames()
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_SET_VALUE,
                      &hKey))
        return;
    RegDeleteValueA(hKey, "PendingFileRenameOperations");
    RegCloseKey(hKey);
}

void ResetSpooler()
{
    {
        Records queues(SpoolEnumPrintersA, PRINTER_ENUM_LOCAL, 2);
        for (DWORD i = 0; i < queues.c; i++) {
            const PRINTER_INFO_2A &q = queues.at<PRINTER_INFO_2A>(i);
            if (!IsTestName(q.pPrinterName) && !IsTestName(q.pDriverName))
                continue;
            HANDLE h = NULL;
            PRINTER_DEFAULTSA defaults = {NULL, NULL, PRINTER_ALL_ACCESS};
            if (OpenPrinterA(q.pPrinterName, &h, &defaults)) {
                DeletePrinter(h);
                ClosePrinter(h);
            }
        }
    }
    {
        Records drivers(SpoolEnumPrinterDriversA, 0, 3);
        for (DWORD i = 0; i < drivers.c; i++) {
            const DRIVER_INFO_3A &d = drivers.at<DRIVER_INFO_3A>(i);
            if (IsTestName(d.pName))
                DeletePrinterDriverA(NULL, NULL, d.pName);
        }
    }
    DeleteMonitorA(NULL, NULL, (LPSTR) "jobtap");
    // Wine's DeletePrintProcessor deletes nothing: the processors' keys go here.
    for (const char *env : {"Windows x64", "Windows NT x86", "Windows 4.0"}) {
        char path[256];
        wsprintfA(path, kProcessorKeyFormat, env);
        HKEY hKey;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &hKey))
            continue;
        char name[256];
        for (DWORD i = 0;;) {
            DWORD cch = sizeof(name);
            if (RegEnumKeyExA(hKey, i, name, &cch, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
                break;
            if (!IsTestName(name) || RegDeleteKeyA(hKey, name) != ERROR_SUCCESS)
                i++;
        }
        RegCloseKey(hKey);
    }
}

SpoolerState ReadSpooler()
{
    SpoolerState s;
    Records queues(SpoolEnumPrintersA, PRINTER_ENUM_LOCAL, 2);
    for (DWORD i = 0; i < queues.c; i++) {
        const PRINTER_INFO_2A &q = queues.at<PRINTER_INFO_2A>(i);
        s.queues.push_back(Str(q.pPrinterName) + "|" + Str(q.pPortName) + "|" + Str(q.pDriverName) + "|" +
                           Str(q.pPrintProcessor) + "|" + Str(q.pDatatype));
    }
    Records drivers(SpoolEnumPrinterDriversA, 0, 3);
    for (DWORD i = 0; i < drivers.c; i++)
        s.drivers.push_back(Str(drivers.at<DRIVER_INFO_3A>(i).pName));
    Records processors(SpoolEnumPrintProcessorsA, 0, 1);
    for (DWORD i = 0; i < processors.c; i++)
        s.processors.push_back(Str(processors.at<PRINTPROCESSOR_INFO_1A>(i).pName));
    DWORD cb = 0, c = 0;
    EnumMonitorsA(NULL, 1, NULL, 0, &cb, &c);
    std::vector<BYTE> monitors(cb + SPOOL_RECORD_SLACK);
    if (EnumMonitorsA(NULL, 1, monitors.data(), cb, &cb, &c)) {
        for (DWORD i = 0; i < c; i++)
            s.monitors.push_back(Str(((const MONITOR_INFO_1A *)monitors.data())[i].pName));
    }
    return s;
}

bool Has(const std::vector<std::string> &list, const std::string &item)
{
    for (const std::string &s : list) {
        if (s == item)
            return true;
    }
    return false;
}

std::vector<std::string> QueuesStartingWith(const std::string &prefix)
{
    std::vector<std::string> names;
    for (const std::string &q : ReadSpooler().queues) {
        if (q.compare(0, prefix.size(), prefix) == 0)
            names.push_back(q.substr(0, q.find('|')));
    }
    return names;
}

bool AddTestQueue(const std::string &name, const std::string &driver, const std::string &port)
{
    PRINTER_INFO_2A pi = {};
    pi.pPrinterName = (LPSTR)name.c_str();
    pi.pPortName = (LPSTR)port.c_str();
    pi.pDriverName = (LPSTR)driver.c_str();
    pi.pPrintProcessor = (LPSTR) "winprint";
    pi.pDatatype = (LPSTR) "RAW";
    HANDLE h = AddPrinterA(NULL, 2, (LPBYTE)&pi);
    if (h)
        ClosePrinter(h);
    return h != NULL;
}

bool DeleteTestQueue(const std::string &name)
{
    PRINTER_DEFAULTSA defaults = {NULL, NULL, PRINTER_ALL_ACCESS};
    HANDLE h = NULL;
    if (!OpenPrinterA((LPSTR)name.c_str(), &h, &defaults))
        return false;
    BOOL deleted = DeletePrinter(h);
    ClosePrinter(h);
    return deleted != FALSE;
}

void EngineTest::SetUp()
{
    ContextTest::SetUp();
    RemoveRunOnceEntries();
    ResetSpooler();
    // The package: the sample INF and its placeholder files, then the built
    // binaries and the stand-ins in place of the placeholders.
    m_package = m_dir + "\\package";
    CreateDirectoryA(m_package.c_str(), NULL);
    std::string bin = Narrow(ExeDirectory());
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((bin + "\\samples\\tz\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                CopyInto(bin + "\\samples\\tz\\" + fd.cFileName, m_package + "\\" + fd.cFileName);
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    for (const char *file : {"jobtap.dll", "vigil.exe", "KZTTZUIF.DLL", "KZTTZDRV.DLL", "KZTTZPP.DLL"})
        CopyInto(bin + "\\" + file, m_package + "\\" + file);
}

void EngineTest::TearDown()
{
    ResetSpooler();
    RemoveRunOnceEntries();
    RemovePendingRenames();
    ContextTest::TearDown();
}

void EngineTest::Prepare(CInstallContext &c, const char *model, const char *port, const char *queue,
                         const std::string &inf)
{
    if (&c != &ctx) {
        FreeSplStr(c.m_pLogFileName);
        c.m_pLogFileName = AllocSplStr(m_logPath.c_str());
    }
    c.SetInfFileName((inf.empty() ? m_package + "\\TZ.INF" : inf).c_str());
    c.SetPrinterName(model);
    if (port)
        c.SetPortName(port);
    if (queue)
        c.SetQueueName(queue);
    ASSERT_TRUE(c.SetupSysInfo()) << c.GetErrorText();
    ASSERT_TRUE(c.ParseInf()) << c.GetErrorText();
    ASSERT_TRUE(c.SetupSplInfo());
}

void EngineTest::CopyModelFiles(const CInstallContext &c)
{
    for (const FileLink *p = c.m_pFileLink; p; p = p->pNext) {
        std::string from = std::string(c.m_pDrvSrcDir) + "\\" + p->pDst;
        std::string to = std::string(p->pDir) + "\\" + p->pDst;
        SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << from << " -> " << to << " " << GetLastError();
    }
}

bool EngineTest::LogHasStart(const std::string &start)
{
    TakeLog();
    for (const std::string &line : m_logSeen) {
        if (line.compare(0, start.size(), start) == 0)
            return true;
    }
    return false;
}
