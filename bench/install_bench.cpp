// Cost of a whole install and a whole uninstall of the sample package by the
// install engine under Wine, and how much of it is Wine's spooler. Each
// operation runs as the program runs it: a context prepared (SetupSysInfo,
// ParseInf, SetupSplInfo) and Excecute; the uninstall's first phase with the
// restart declined, then its second phase from the command it registered
// under RunOnce. The spooler's share is measured on the very calls the
// engine makes: this program's imports from the spooler's client library are
// pointed at wrappers that time each call and pass it on unchanged. The rest
// is the engine's own work (with its file and registry calls).
// Run it in the installer tests' prefix (KZT_PREFIX=installer): it installs
// and removes the package there.
//   install_bench [runs]
#include "benchtime.h"
#include "enginedialogs.h"
#include "installcontext.h"
#include "splstr.h"
#include "importpatch.h"
#include <windows.h>
#include <winspool.h>
#include <algorithm>
#include <string.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

namespace {

const char kModel[] = "Ostrel TZ-1000";
const char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char kRunOnceValue[] = "TZ.INF";
const char kProcessor[] = "KZT TZ Print Processor";

// --- the spooler calls, timed ---------------------------------------------------------

struct TimedCall {
    const char *pszName;
    ULONG_PTR pfnWrapper;
    ULONG_PTR pfnOriginal;  // the import slot's value before the wrapper came
    int cCalls;
    double ms;
};

extern TimedCall g_calls[];

// Calls the original function, adds the time to its row and keeps the call's
// last error for the caller.
template <int I, class R, class... A> R WINAPI Timed(A... args)
{
    double t0 = Now();
    R result = ((R(WINAPI *)(A...))g_calls[I].pfnOriginal)(args...);
    DWORD dwError = GetLastError();
    g_calls[I].ms += Now() - t0;
    g_calls[I].cCalls++;
    SetLastError(dwError);
    return result;
}

template <int I, class R, class... A> ULONG_PTR WrapperOf(R(WINAPI *)(A...))
{
    return (ULONG_PTR)&Timed<I, R, A...>;
}

TimedCall g_calls[] = {
    {"AddMonitorA", WrapperOf<0>(&AddMonitorA), 0, 0, 0},
    {"AddPrintProcessorA", WrapperOf<1>(&AddPrintProcessorA), 0, 0, 0},
    {"AddPrinterDriverA", WrapperOf<2>(&AddPrinterDriverA), 0, 0, 0},
    {"AddPrinterA", WrapperOf<3>(&AddPrinterA), 0, 0, 0},
    {"DeleteMonitorA", WrapperOf<4>(&DeleteMonitorA), 0, 0, 0},
    {"DeletePrintProcessorA", WrapperOf<5>(&DeletePrintProcessorA), 0, 0, 0},
    {"DeletePrinterDriverA", WrapperOf<6>(&DeletePrinterDriverA), 0, 0, 0},
    {"DeletePrinter", WrapperOf<7>(&DeletePrinter), 0, 0, 0},
    {"OpenPrinterA", WrapperOf<8>(&OpenPrinterA), 0, 0, 0},
    {"ClosePrinter", WrapperOf<9>(&ClosePrinter), 0, 0, 0},
    {"EnumPrintersA", WrapperOf<10>(&EnumPrintersA), 0, 0, 0},
    {"EnumPrinterDriversA", WrapperOf<11>(&EnumPrinterDriversA), 0, 0, 0},
    {"EnumPrintProcessorsA", WrapperOf<12>(&EnumPrintProcessorsA), 0, 0, 0},
    {"EnumMonitorsA", WrapperOf<13>(&EnumMonitorsA), 0, 0, 0},
    {"EnumPortsA", WrapperOf<14>(&EnumPortsA), 0, 0, 0},
    {"GetPrinterDriverDirectoryA", WrapperOf<15>(&GetPrinterDriverDirectoryA), 0, 0, 0},
    {"GetPrintProcessorDirectoryA", WrapperOf<16>(&GetPrintProcessorDirectoryA), 0, 0, 0},
    {"GetPrinterA", WrapperOf<17>(&GetPrinterA), 0, 0, 0},
    {"GetPrinterDriverA", WrapperOf<18>(&GetPrinterDriverA), 0, 0, 0},
};
const int kCalls = sizeof(g_calls) / sizeof(g_calls[0]);

// Points this program's spooler imports that have a row at the row's
// wrapper; the names of the rows this program does not import.
std::vector<std::string> TimeSpoolerImports()
{
    std::vector<std::string> missing;
    for (TimedCall &row : g_calls) {
        if (!PatchImport(GetModuleHandleA(NULL), "WINSPOOL.DRV", row.pszName, row.pfnWrapper, &row.pfnOriginal))
            missing.push_back(row.pszName);
    }
    return missing;
}

double SpoolerMs()
{
    double ms = 0;
    for (const TimedCall &row : g_calls)
        ms += row.ms;
    return ms;
}

void ResetCalls()
{
    for (TimedCall &row : g_calls) {
        row.cCalls = 0;
        row.ms = 0;
    }
}

// --- the operations -------------------------------------------------------------------

// Nobody in front of the screen: the restart is declined.
class NoRestart : public CEngineDialogs {
public:
    int AskRestart() override { return IDCANCEL; }
    int ShowPlugUsb(const char *, const char *) override { return IDOK; }
};
NoRestart g_dialogs;

std::string g_package;  // the sample package of the built binaries
std::string g_program;  // this program, standing for the installer

void Fail(const char *pszWhat, CInstallContext &c)
{
    fprintf(stderr, "%s failed: %s\n", pszWhat, c.GetErrorText());
    exit(1);
}

void CopyInto(const std::string &from, const std::string &to)
{
    SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!CopyFileA(from.c_str(), to.c_str(), FALSE)) {
        fprintf(stderr, "copy %s: %lu\n", from.c_str(), GetLastError());
        exit(1);
    }
}

// The package as the tests lay it out: the sample INF and its files, with
// the built binaries and the stand-ins in place of the placeholders.
void MakePackage(const std::string &bin)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    g_package = std::string(temp) + "kzt-install-bench";
    CreateDirectoryA(g_package.c_str(), NULL);
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((bin + "\\samples\\tz\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "no sample package in %s\\samples\\tz\n", bin.c_str());
        exit(1);
    }
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            CopyInto(bin + "\\samples\\tz\\" + fd.cFileName, g_package + "\\" + fd.cFileName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    for (const char *file : {"jobtap.dll", "vigil.exe", "KZTTZUIF.DLL", "KZTTZDRV.DLL", "KZTTZPP.DLL"})
        CopyInto(bin + "\\" + file, g_package + "\\" + file);
}

// The package folder goes when the runs are done.
void RemovePackage()
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((g_package + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA((g_package + "\\" + fd.cFileName).c_str());
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(g_package.c_str());
}

// A context for the model on LPT1: as the main dialog prepares it.
void Prepare(CInstallContext &c, BOOL CInstallContext::*mode)
{
    c.SetLogFileName("kztdebug.txt");  // as the installer runs: written only when the file exists
    c.SetInfFileName((g_package + "\\TZ.INF").c_str());
    c.SetPrinterName(kModel);
    c.SetPortName("LPT1:");
    size_t slash = g_program.rfind('\\');
    c.m_pExeFileName = AllocSplStr(g_program.c_str());
    c.m_pExeDirName = AllocSplStr(g_program.substr(0, slash).c_str());
    c.m_pExeBaseName = AllocSplStr(g_program.substr(slash + 1).c_str());
    if (!c.SetupSysInfo() || !c.ParseInf() || !c.SetupSplInfo())
        Fail("preparation", c);
    c.m_pDialogs = &g_dialogs;
    c.*mode = TRUE;
}

std::string TakeRunOnce()
{
    HKEY hKey;
    std::string command;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_ALL_ACCESS, &hKey))
        return command;
    char text[1024];
    DWORD cb = sizeof(text) - 1, type = 0;
    if (!RegQueryValueExA(hKey, kRunOnceValue, NULL, &type, (LPBYTE)text, &cb)) {
        text[cb] = 0;
        command = text;
    }
    RegDeleteValueA(hKey, kRunOnceValue);  // Wine would run it at its next start
    RegCloseKey(hKey);
    return command;
}

void Install()
{
    CInstallContext c;
    Prepare(c, &CInstallContext::m_bInstall);
    if (!c.Excecute() || !c.m_bInstall)
        Fail("install", c);
}

void UninstallFirstPhase()
{
    CInstallContext c;
    Prepare(c, &CInstallContext::m_bUninstall);
    if (!c.Excecute())
        Fail("uninstall, first phase", c);
}

// The second phase as Windows starts it: the registered command line.
void UninstallSecondPhase()
{
    std::string command = TakeRunOnce();
    if (command.empty()) {
        fprintf(stderr, "no second phase registered\n");
        exit(1);
    }
    CInstallContext c;
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    c.SetLogFileName("kztdebug.txt");
    if (!c.ParseArguments(line.data()) || !c.m_bRunOnce || !c.SetupSysInfo() || !c.ParseInf() ||
        !c.SetupSplInfo())
        Fail("uninstall, second phase preparation", c);
    c.m_pDialogs = &g_dialogs;
    if (!c.Excecute())
        Fail("uninstall, second phase", c);
}

// Wine's DeletePrintProcessor deletes nothing: its key goes here, between
// runs and untimed, so that every install adds the processor again as on a
// machine without it.
void ForgetProcessor()
{
    for (const char *pszEnv : {"Windows x64", "Windows NT x86"}) {
        std::string key = std::string("System\\CurrentControlSet\\Control\\Print\\Environments\\") + pszEnv +
                          "\\Print Processors\\" + kProcessor;
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
    }
}

struct Sample {
    double total;
    double spooler;
};

Sample Measure(void (*operation)())
{
    ResetCalls();
    double t0 = Now();
    operation();
    return {Now() - t0, SpoolerMs()};
}

void Report(const char *pszWhat, const std::vector<Sample> &samples)
{
    std::vector<double> total, spooler, own;
    for (const Sample &s : samples) {
        total.push_back(s.total);
        spooler.push_back(s.spooler);
        own.push_back(s.total - s.spooler);
    }
    auto line = [](const char *pszPart, const std::vector<double> &v) {
        printf("  %-22s median %8.1f ms  min %8.1f  max %8.1f\n", pszPart, Median(v),
               *std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()));
    };
    printf("%s (%u runs)\n", pszWhat, (unsigned)samples.size());
    line("total", total);
    line("Wine's spooler calls", spooler);
    line("the engine's own work", own);
    printf("  spooler share of the median total: %.0f %%\n", 100.0 * Median(spooler) / Median(total));
}

// The spooler calls of the operation measured last, by function.
void ReportCalls(const char *pszWhat)
{
    printf("  spooler calls of the last %s:", pszWhat);
    for (const TimedCall &row : g_calls) {
        if (row.cCalls)
            printf(" %s x%d %.1f ms;", row.pszName, row.cCalls, row.ms);
    }
    printf("\n");
}

}  // namespace

int main(int argc, char **argv)
{
    int runs = argc > 1 ? atoi(argv[1]) : 7;
    if (runs < 1)
        runs = 1;
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, sizeof(path));
    g_program = path;
    MakePackage(g_program.substr(0, g_program.rfind('\\')));
    std::vector<std::string> missing = TimeSpoolerImports();
    if (!missing.empty()) {
        printf("spooler calls this program does not import:");
        for (const std::string &name : missing)
            printf(" %s", name.c_str());
        printf("\n");
    }
    TakeRunOnce();

    // A round first, uncounted: it also clears what an earlier run may have left.
    Install();
    UninstallFirstPhase();
    UninstallSecondPhase();
    ForgetProcessor();

    std::vector<Sample> install, uninstall, first, second;
    for (int r = 0; r < runs; r++) {
        install.push_back(Measure(Install));
        if (r == runs - 1)
            ReportCalls("install");
        first.push_back(Measure(UninstallFirstPhase));
        if (r == runs - 1)
            ReportCalls("uninstall, first phase");
        second.push_back(Measure(UninstallSecondPhase));
        if (r == runs - 1)
            ReportCalls("uninstall, second phase");
        uninstall.push_back({first.back().total + second.back().total, first.back().spooler + second.back().spooler});
        ForgetProcessor();
    }
    Report("install (SetupSysInfo, ParseInf, SetupSplInfo, Excecute)", install);
    Report("uninstall, both phases", uninstall);
    Report("  of it the first phase (restart declined)", first);
    Report("  of it the second phase (/RunOnce)", second);
    TakeRunOnce();
    RemovePackage();
    return 0;
}
