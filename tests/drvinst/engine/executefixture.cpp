// The execution sequence's test fixture: the package's operations as the
// program runs them, the second phase from the RunOnce command, and what the
// cases read back from the registry.
#include "executefixture.h"
#include "regkeys.h"
#include "splstr.h"
#include "testenv.h"
#include <algorithm>

const char kModel[] = "Ostrel TZ-1000";
const char kProcessor[] = "KZT TZ Print Processor";
const char kMonitorKey[] = "System\\CurrentControlSet\\Control\\Print\\Monitors\\jobtap";
const char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kRecordsKey[] = "SOFTWARE\\Ostrel\\TZ.INF";
const char kSecondModel[] = "Ostrel TZ-2000";
const char kProcessorFile[] = "KZTTZPP.DLL";
const char *const kModelFiles[5] = {"KZTTZDRV.DLL", "KZTTZUIF.DLL", "KZTTZRES.DLL", "KZTTZ1000.DAT", "KZTTZ.HLP"};

std::string ProcessorDirA()
{
    char dir[MAX_PATH] = "";
    DWORD cb = 0;
    GetPrintProcessorDirectoryA(NULL, NULL, 1, (LPBYTE)dir, sizeof(dir), &cb);
    return dir;
}

std::string KeptDirA()
{
    return ProgramsDirA() + "\\Ostrel\\OstrelTZ.INF";
}

// A text value of an HKLM key without its terminator, or "(none)" when the
// key or value is missing.
std::string RegText(const std::string &key, const char *value)
{
    RegValue v = GetValue(key, value);
    if (!v.found)
        return "(none)";
    return v.bytes.substr(0, v.bytes.find('\0'));
}

// The names of the values under HKLM RunOnce.
std::vector<std::string> RunOnceNames()
{
    std::vector<std::string> names;
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_READ, &h))
        return names;
    char name[512];
    for (DWORD i = 0;; i++) {
        DWORD cch = sizeof(name);
        if (RegEnumValueA(h, i, name, &cch, NULL, NULL, NULL, NULL))
            break;
        names.push_back(name);
    }
    RegCloseKey(h);
    return names;
}

// The saved queue records, "queue|port|driver" each, in record order.
std::vector<std::string> Records()
{
    std::vector<std::string> records;
    for (int n = 0; KeyExists(std::string(kRecordsKey) + "\\" + std::to_string(n)); n++) {
        std::string key = std::string(kRecordsKey) + "\\" + std::to_string(n);
        records.push_back(RegText(key, "PrinterName") + "|" + RegText(key, "PortName") + "|" +
                          RegText(key, "DriverName"));
    }
    return records;
}

static void DeleteFileIfThere(const std::string &path)
{
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
}

std::string Quoted(const std::string &text)
{
    return "\"" + text + "\"";
}

const char kOfficeQueueBack[] = "Ostrel TZ-1000 Office|LPT2:|Ostrel TZ-1000|winprint|RAW";

std::string Queue(const char *name, const char *port)
{
    return std::string(name) + "|" + port + "|" + kModel + "|" + kProcessor + "|RAW";
}

void ExecuteTest::SetUp()
{
    EngineTest::SetUp();
    RemoveRunOnceEntries();
    RemoveWhatTheSequenceLeaves();
    // The nested contexts write the log the program writes, C:\kztdebug.txt:
    // the outer context writes there too, so that the case sees all of it.
    m_logPath = Narrow(LogPath());
    LogOn();
    FreeSplStr(ctx.m_pLogFileName);
    ctx.m_pLogFileName = AllocSplStr(m_logPath.c_str());
    m_work = KeptDirA();  // the working folder is the kept copy's
    m_program = Narrow(ExePath(L"execute_test.exe"));
}

void ExecuteTest::TearDown()
{
    if (HasFailure()) {  // the whole log of the case, nested contexts included
        TakeLog();
        for (const std::string &line : m_logSeen)
            printf("log: %s\n", line.c_str());
    }
    RemoveRunOnceEntries();
    RemoveWhatTheSequenceLeaves();
    LogOff();
    EngineTest::TearDown();
}

void ExecuteTest::RemoveWhatTheSequenceLeaves()
{
    for (const char *model : {kModel, kSecondModel})
        DeleteKeyTree(std::string(kUninstallKey) + "\\" + model);
    DeleteKeyTree("SOFTWARE\\Ostrel");
    std::string drvDir = PrinterDriverDirA();
    for (const char *file : kModelFiles) {
        for (const char *sub : {"\\", "\\2\\", "\\3\\"})
            DeleteFileIfThere(drvDir + sub + file);
    }
    for (const char *sub : {"\\", "\\2\\", "\\3\\"})
        DeleteFileIfThere(drvDir + sub + "KZTTZ2000.DAT");
    DeleteFileIfThere(ProcessorDirA() + "\\" + kProcessorFile);
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof(system));
    for (const char *file : {"jobtap.dll", "vigil.exe"})
        DeleteFileIfThere(std::string(system) + "\\" + file);
    DeleteFileIfThere(WindowsDirA() + "\\INF\\OstrelTZ.INF");
    DeleteFileIfThere(WindowsDirA() + "\\INF\\OstrelTZ.PNF");
    RemoveTree(TempPathA() + "OstrelTZ.INF");
    RemoveTree(ProgramsDirA() + "\\Ostrel");
    RemovePendingRenames();
    for (const std::string &dir : {drvDir, ProcessorDirA(), std::string(system)}) {  // copies left for the restart
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((dir + "\\KZT*.tmp").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE)
            continue;
        do
            DeleteFileIfThere(dir + "\\" + fd.cFileName);
        while (FindNextFileA(h, &fd));
        FindClose(h);
    }
}

void ExecuteTest::PrepareOperation(CInstallContext &c, const char *port, BOOL *mode)
{
    ASSERT_NO_FATAL_FAILURE(Prepare(c, kModel, port));
    SetProgram(c);
    *mode = TRUE;
    c.m_pDialogs = &m_dialogs;
}

void ExecuteTest::SetProgram(CInstallContext &c)
{
    FreeSplStr(c.m_pExeFileName);
    FreeSplStr(c.m_pExeDirName);
    FreeSplStr(c.m_pExeBaseName);
    c.m_pExeFileName = AllocSplStr(m_program.c_str());
    c.m_pExeDirName = AllocSplStr(m_program.substr(0, m_program.rfind('\\')).c_str());
    c.m_pExeBaseName = AllocSplStr(m_program.substr(m_program.rfind('\\') + 1).c_str());
}

void ExecuteTest::Install(const char *port, const char *model)
{
    CInstallContext c;
    ASSERT_NO_FATAL_FAILURE(Prepare(c, model, port));
    SetProgram(c);
    c.m_bInstall = TRUE;
    c.m_pDialogs = &m_dialogs;
    ASSERT_TRUE(c.Excecute()) << c.GetErrorText();
    m_dialogs.calls.clear();
}

BOOL ExecuteTest::RunSecondPhase(CInstallContext &c, const std::string &command)
{
    PrepareSecondPhase(c, command);
    return c.Excecute();
}

void ExecuteTest::PrepareSecondPhase(CInstallContext &c, const std::string &command)
{
    RemoveRunOnceEntries();
    PrepareSecondPhaseLine(c, command);
    c.KeepPhaseRegistered();  // as RunOperation does first
    EXPECT_TRUE(c.SetupSysInfo()) << c.GetErrorText();
    EXPECT_TRUE(c.ParseInf()) << c.GetErrorText();
    EXPECT_TRUE(c.SetupSplInfo());
}

void ExecuteTest::PrepareSecondPhaseLine(CInstallContext &c, const std::string &command)
{
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    EXPECT_TRUE(c.ParseArguments(line.data()));
    c.m_pCommandLine = AllocSplStr(command.c_str());
    // The program Windows starts is the working folder's copy.
    std::string program = m_work + "\\execute_test.exe";
    c.m_pExeFileName = AllocSplStr(program.c_str());
    c.m_pExeDirName = AllocSplStr(m_work.c_str());
    c.m_pExeBaseName = AllocSplStr("execute_test.exe");
    FreeSplStr(c.m_pLogFileName);
    c.m_pLogFileName = AllocSplStr(m_logPath.c_str());
    EXPECT_TRUE(c.m_bRunOnce);
    c.m_pDialogs = &m_dialogs;
}

void ExecuteTest::PrepareRun(const char *model, const char *port, BOOL CInstallContext::*mode, CInstallContext &c)
{
    Prepare(c, model, port);
    SetProgram(c);
    c.*mode = TRUE;
    c.m_pDialogs = &m_dialogs;
}

BOOL ExecuteTest::Run(const char *model, const char *port, BOOL CInstallContext::*mode, CInstallContext &c)
{
    PrepareRun(model, port, mode, c);
    return c.Excecute();
}

BOOL ExecuteTest::Run(const char *model, const char *port, BOOL CInstallContext::*mode)
{
    CInstallContext c;
    return Run(model, port, mode, c);
}

std::string ExecuteTest::SecondPhaseCommand(const char *port, const char *switches)
{
    return Quoted(m_work + "\\execute_test.exe") + " " + Quoted(m_work + "\\TZ.INF") + " " + Quoted(kModel) +
           " " + Quoted(port) + " /RunOnce" + switches;
}

void ExecuteTest::FillWorkingFolder()
{
    CreateDirectoryA(m_work.substr(0, m_work.rfind('\\')).c_str(), NULL);
    CreateDirectoryA(m_work.c_str(), NULL);
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((m_package + "\\*").c_str(), &fd);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            std::string name = fd.cFileName;
            EXPECT_TRUE(CopyFileA((m_package + "\\" + name).c_str(), (m_work + "\\" + name).c_str(), FALSE));
        }
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    EXPECT_TRUE(CopyFileA(m_program.c_str(), (m_work + "\\execute_test.exe").c_str(), FALSE));  // the phase's program
}

bool ExecuteTest::ModelFilesInstalled()
{
    for (const char *file : kModelFiles) {
        if (!FileExists(PrinterDriverDirA() + "\\" + file))
            return false;
    }
    return true;
}

void ListFiles(const std::string &dir, std::vector<std::string> *out, bool bRecurse)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = fd.cFileName;
        if (name == "." || name == "..")
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (bRecurse)
                ListFiles(dir + "\\" + name, out);
        } else
            out->push_back(dir + "\\" + name + "|" + std::to_string(fd.nFileSizeLow));
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}

static std::string Hex(const BYTE *p, DWORD cb)
{
    std::string text;
    char two[3];
    for (DWORD i = 0; i < cb; i++) {
        wsprintfA(two, "%02x", p[i]);
        text += two;
    }
    return text;
}

// A registry tree of HKLM as "key\\value=type:bytes" lines (and "key\\" for
// each key), sorted; nothing when the key is missing.
static void ListKey(const std::string &path, std::vector<std::string> *out)
{
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &h))
        return;
    out->push_back(path + "\\");
    char name[512];
    BYTE data[4096];
    for (DWORD i = 0;; i++) {
        DWORD cch = sizeof(name), cb = sizeof(data), type = 0;
        if (RegEnumValueA(h, i, name, &cch, NULL, &type, data, &cb))
            break;
        out->push_back(path + "\\" + name + "=" + std::to_string(type) + ":" + Hex(data, cb));
    }
    RegCloseKey(h);
    for (const std::string &sub : SubkeyNames(path))
        ListKey(path + "\\" + sub, out);
}

std::string SystemDirA()
{
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof(system));
    return system;
}

MachineState Snapshot(const std::string &work, bool bWhole)
{
    MachineState s;
    s.spooler = ReadSpooler();
    for (std::vector<std::string> *list :
         {&s.spooler.queues, &s.spooler.drivers, &s.spooler.monitors, &s.spooler.processors})
        std::sort(list->begin(), list->end());
    ListFiles(PrinterDriverDirA(), &s.files);
    ListFiles(ProcessorDirA(), &s.files);
    if (bWhole) {
        ListFiles(SystemDirA(), &s.files, false);
        ListFiles(WindowsDirA() + "\\INF", &s.files);
        ListFiles(KeptDirA().substr(0, KeptDirA().rfind('\\')), &s.files);
    } else {
        for (const char *file : {"\\jobtap.dll", "\\vigil.exe"}) {
            if (FileExists(SystemDirA() + file))
                s.files.push_back(SystemDirA() + file);
        }
        for (const char *file : {"\\INF\\OstrelTZ.INF", "\\INF\\OstrelTZ.PNF"}) {
            if (FileExists(WindowsDirA() + file))
                s.files.push_back(WindowsDirA() + file);
        }
    }
    std::sort(s.files.begin(), s.files.end());
    ListKey(kMonitorKey, &s.keys);
    ListKey(bWhole ? std::string(kUninstallKey) : std::string(kUninstallKey) + "\\" + kModel, &s.keys);
    ListKey(kRunOnceKey, &s.keys);
    {
        // A pending second phase's durable records; the key itself stays.
        std::vector<std::string> pending;
        ListKey("SOFTWARE\\Ostrel\\Pending", &pending);
        for (const std::string &line : pending) {
            if (line.back() != '\\')
                s.keys.push_back(line);
        }
    }
    if (bWhole)
        ListKey("SYSTEM\\CurrentControlSet\\Enum\\LPTENUM", &s.keys);  // the parallel-port device entries
    std::sort(s.keys.begin(), s.keys.end());
    ListKey(kRecordsKey, &s.records);
    std::sort(s.records.begin(), s.records.end());
    ListFiles(work, &s.work);
    std::sort(s.work.begin(), s.work.end());
    return s;
}

std::string Changes(const std::vector<std::string> &a, const std::vector<std::string> &b)
{
    std::string text;
    for (const std::string &line : b) {
        if (!Has(a, line))
            text += "\n+ " + line;
    }
    for (const std::string &line : a) {
        if (!Has(b, line))
            text += "\n- " + line;
    }
    return text;
}

std::string Changes(const MachineState &a, const MachineState &b)
{
    return Changes(a.spooler.queues, b.spooler.queues) + Changes(a.spooler.drivers, b.spooler.drivers) +
           Changes(a.spooler.monitors, b.spooler.monitors) + Changes(a.spooler.processors, b.spooler.processors) +
           Changes(a.files, b.files) + Changes(a.keys, b.keys);
}

void ExecuteTest::BothPhases(BOOL CInstallContext::*mode, const char *what)
{
    CInstallContext first;
    ASSERT_NO_FATAL_FAILURE(PrepareOperation(first, "LPT1:", &(first.*mode)));
    ASSERT_TRUE(first.Excecute()) << what << ": " << first.GetErrorText();
    ASSERT_EQ("restart", m_dialogs.calls.back()) << what;
    std::string command = RegText(kRunOnceKey, "TZ.INF");
    ASSERT_NE("(none)", command) << what;
    CInstallContext second;
    ASSERT_TRUE(RunSecondPhase(second, command)) << what << ": " << second.GetErrorText();
    EXPECT_TRUE(RunOnceNames().empty()) << what;
}
