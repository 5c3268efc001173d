// The installer's part of the demo, through the real program and its real
// dialogs: drvinst.exe laid out beside the sample package and driven as a
// person would drive it. Three steps, each its own process, because the
// uninstall's played restart ends the processes that own windows:
//   instdemo install    lay out the package, start drvinst.exe, Install,
//                       model, port, Start, read the completion dialog;
//                       the installed state through the spooler
//   instdemo uninstall  start drvinst.exe, Uninstall, Start, the restart
//                       question answered Yes; Wine plays the restart and
//                       runs the second phase from RunOnce; the state after
//   instdemo check      the state once more from a fresh process, and any
//                       RunOnce entry left behind removed
// Each step prints one-line summaries. Screenshots of the dialogs go to
// KZT_DEMO_OUT as drvinst-demo-<step>-<en|ja>.bmp.
#include <stddef.h>
#include <stdio.h>
#include "drvinstdriver.h"
#include "spoolrecord.h"
#include "testenv.h"
#include "windowdriver.h"

namespace {

const char kPackage[] = "C:\\OstrelTZ";
const char kModel[] = "Ostrel TZ-1000";
const char kPort[] = "LPT1:";
const char kProcessor[] = "KZT TZ Print Processor";
const char kMonitorKey[] = "System\\CurrentControlSet\\Control\\Print\\Monitors\\jobtap";
const char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ostrel TZ-1000";
const char *const kDriverFiles[] = {"KZTTZDRV.DLL", "KZTTZUIF.DLL", "KZTTZRES.DLL", "KZTTZ1000.DAT", "KZTTZ.HLP"};

std::string Shot(const char *step)
{
    char dir[MAX_PATH] = "";
    GetEnvironmentVariableA("KZT_DEMO_OUT", dir, MAX_PATH);
    const char *lang = GetUserDefaultLangID() == 0x0411 ? "ja" : "en";
    return std::string(dir[0] ? dir : Narrow(ExeDirectory()).c_str()) + "\\drvinst-demo-" + step + "-" + lang + ".bmp";
}

// Saves the window's screenshot a moment after it painted; the file's name.
std::string Screenshot(HWND window, const char *step)
{
    Sleep(400);
    std::string path = Shot(step);
    SaveScreenshot(std::wstring(path.begin(), path.end()), window);
    return path.substr(path.rfind('\\') + 1);
}

// A text value of an HKLM key, or "" when key or value is missing.
std::string RegText(const char *key, const char *value)
{
    char text[512] = "";
    DWORD cb = sizeof(text) - 1, type = 0;
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &h))
        return "";
    if (RegQueryValueExA(h, value, NULL, &type, (LPBYTE)text, &cb) || type != REG_SZ)
        text[0] = 0;
    RegCloseKey(h);
    return text;
}

bool KeyExists(const char *key)
{
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &h))
        return false;
    RegCloseKey(h);
    return true;
}

// The RunOnce entries, "name = command" each; removed when remove is set.
std::vector<std::string> RunOnceEntries(bool remove)
{
    std::vector<std::string> entries;
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_ALL_ACCESS, &h))
        return entries;
    for (DWORD i = 0;;) {
        char name[256], data[1024] = "";
        DWORD cchName = sizeof(name), cbData = sizeof(data) - 1;
        if (RegEnumValueA(h, i, name, &cchName, NULL, NULL, (LPBYTE)data, &cbData))
            break;
        entries.push_back(std::string(name) + " = " + data);
        if (!remove || RegDeleteValueA(h, name))
            i++;
    }
    RegCloseKey(h);
    return entries;
}

// Whether the spooler's level-1 list holds a record named name: cbRecord
// is the record's size, nameOffset where its name pointer lies.
bool SpoolerLists(PFN_SPOOLFILL fill, const char *name, size_t cbRecord, size_t nameOffset = 0)
{
    SpoolCallArgs args = {};
    args.dwFlags = PRINTER_ENUM_LOCAL;
    args.dwLevel = 1;
    SpoolRecordResult r;
    LPBYTE p = AllocSpoolRecord(fill, &args, 0, &r);
    bool found = false;
    for (DWORD i = 0; p && i < r.cReturned && !found; i++) {
        LPCSTR recordName = *(LPCSTR *)(p + i * cbRecord + nameOffset);
        found = recordName && !lstrcmpiA(recordName, name);
    }
    FreeSpoolRecord(p);
    return found;
}

BOOL EnumMonitorsLevel1(const SpoolCallArgs *, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    return EnumMonitorsA(NULL, 1, pBuffer, cbBuf, pcbNeeded, pcReturned);
}


bool FileThere(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// What the package put on the machine, a line each; true when every part is
// there (installed) or every part is gone (!installed).
bool ReportState(bool installed)
{
    int expected = 0, parts = 0;
    auto part = [&](bool there, const std::string &line) {
        printf("  %-7s %s\n", there ? "present" : "gone", line.c_str());
        parts++;
        expected += there == installed;
    };
    HANDLE h = NULL;
    std::string queue = "queue \"" + std::string(kModel) + "\"";
    if (OpenPrinterA((LPSTR)kModel, &h, NULL)) {
        SpoolCallArgs args = {h, NULL, NULL, 0, 0, 0, 2};
        SpoolRecordResult r;
        auto *pi = (PRINTER_INFO_2A *)AllocSpoolRecord(SpoolGetPrinterA, &args, 0, &r);
        if (pi)
            queue += std::string(": port ") + pi->pPortName + ", driver \"" + pi->pDriverName + "\", data type " +
                     (pi->pDatatype ? pi->pDatatype : "(none)");
        FreeSpoolRecord(pi);
        args.dwLevel = 3;
        auto *di = (DRIVER_INFO_3A *)AllocSpoolRecord(SpoolGetPrinterDriverA, &args, 0, &r);
        if (di) {
            std::string config = di->pConfigFile ? di->pConfigFile : "";
            queue += ", configuration " + config.substr(config.rfind('\\') + 1) + ", language monitor " +
                     (di->pMonitorName ? di->pMonitorName : "(none)");
        }
        FreeSpoolRecord(di);
        ClosePrinter(h);
        part(true, queue);
    } else {
        part(false, queue);
    }
    // The driver of this build's architecture: its environment, and its
    // configuration library in that environment's driver directory.
    std::wstring environment, config;
    if (installed) {
        bool known = QueueDriverFiles(L"Ostrel TZ-1000", &environment, &config);
        part(known && environment == kDriverEnvironment && PathIn(config, DriverDirectory(kDriverEnvironment)),
             "driver environment \"" + Narrow(environment) + "\", configuration library " + Narrow(config));
    }
    part(SpoolerLists(SpoolEnumPrinterDriversA, kModel, sizeof(DRIVER_INFO_1A)),
         "driver \"" + std::string(kModel) + "\"");
    part(SpoolerLists(EnumMonitorsLevel1, "jobtap", sizeof(MONITOR_INFO_1A)), "language monitor \"jobtap\"");
    // Wine's DeletePrintProcessor reports success but deletes nothing: after
    // an uninstall the processor stays listed, which says nothing here.
    bool processor = SpoolerLists(SpoolEnumPrintProcessorsA, kProcessor, sizeof(PRINTPROCESSOR_INFO_1A));
    if (installed || !processor)
        part(processor, "print processor \"" + std::string(kProcessor) + "\"");
    else
        printf("  %-7s print processor \"%s\" (Wine's DeletePrintProcessor deletes nothing)\n", "listed", kProcessor);
    std::string head = RegText(kMonitorKey, "Ostrel TZ-1000 Head"), tail = RegText(kMonitorKey, "Ostrel TZ-1000 Tail");
    std::string program = RegText(kMonitorKey, kModel);
    part(!program.empty(), "monitor values: status monitor \"" + program + "\", Head \"" + head + "\", Tail \"" +
                               tail + "\"");
    std::string drvDir = Narrow(DriverDirectory(kDriverEnvironment));
    int files = 0;
    for (const char *file : kDriverFiles)
        files += FileThere(drvDir + "\\" + file);
    part(files > 0, "driver files in " + drvDir + ": " + std::to_string(files) + " of 5");
    part(KeyExists(kUninstallKey), "Uninstall entry: \"" + RegText(kUninstallKey, "UninstallString") + "\"");
    std::vector<std::string> runOnce = RunOnceEntries(false);
    printf("  RunOnce: %s\n", runOnce.empty() ? "empty" : runOnce[0].c_str());
    bool whole = expected == parts && runOnce.empty();
    printf("  => %s\n", whole ? (installed ? "installed completely" : "nothing of the package is left")
                              : "NOT AS EXPECTED");
    return whole;
}

// Starts drvinst.exe without arguments and waits for its main dialog.
HWND StartProgram(InstallerRun &run)
{
    std::string program = std::string(kPackage) + "\\drvinst.exe";
    if (!run.Start(program)) {
        printf("start     %s did not start: %lu\n", program.c_str(), GetLastError());
        return NULL;
    }
    HWND dialog = run.MainDialog(60000);
    if (!dialog) {
        std::string text;
        HWND box = WaitForMessageBox(run.Pid(), 0, &text);
        printf("start     no main dialog appeared%s%s\n", box ? "; message box: " : "", text.c_str());
        return NULL;
    }
    std::string models, ports;
    for (int i = 0; i < (int)SendDlgItemMessageA(dialog, kIdModel, CB_GETCOUNT, 0, 0); i++)
        models += (i ? ", " : "") + ListEntry(dialog, kIdModel, i);
    for (int i = 0; i < (int)SendDlgItemMessageA(dialog, kIdPort, CB_GETCOUNT, 0, 0); i++)
        ports += (i ? ", " : "") + ListEntry(dialog, kIdPort, i);
    printf("start     drvinst.exe (no arguments): main dialog, models [%s], ports [%s], Start %s; %s\n",
           models.c_str(), ports.c_str(), IsWindowEnabled(GetDlgItem(dialog, kIdStart)) ? "enabled" : "disabled",
           Screenshot(dialog, "start").c_str());
    return dialog;
}

// Presses Start and waits for the program's answer; a message box is read,
// printed and closed.
InstallerRun::Result PressStart(InstallerRun &run, HWND dialog, HWND *shown)
{
    Click(dialog, kIdStart);
    std::string text;
    InstallerRun::Result result = run.WaitForResult(120000, shown, &text);
    if (result == InstallerRun::kMessageBox) {
        printf("          message box: %s\n", text.c_str());
        Screenshot(*shown, "error");
        Click(*shown, IDOK);
    }
    return result;
}

int Install()
{
    std::string why;
    if (!LayOutPackage(kPackage, &why)) {
        printf("package   %s\n", why.c_str());
        return 1;
    }
    printf("package   %s: TZ.INF, drvinst.exe, jobtap.dll, vigil.exe, KZTTZUIF.DLL and the package's other files\n",
           kPackage);
    LogOn();
    InstallerRun run;
    HWND dialog = StartProgram(run);
    if (!dialog)
        return 1;
    bool chosen = run.ClickButton(dialog, kIdInstall) && run.SelectText(dialog, kIdModel, kModel) &&
                  run.SelectText(dialog, kIdPort, kPort);
    printf("choose    Install, model \"%s\", port \"%s\": %s; %s\n", kModel, kPort, chosen ? "done" : "FAILED",
           Screenshot(dialog, "install").c_str());
    if (!chosen)
        return 1;
    HWND shown = NULL;
    InstallerRun::Result result = PressStart(run, dialog, &shown);
    if (result != InstallerRun::kCompletion) {
        printf("Start     no completion dialog (result %d)\n", (int)result);
        return 1;
    }
    printf("Start     completion dialog: model \"%s\", port \"%s\"; %s\n", ItemText(shown, kIdCompleteModel).c_str(),
           ItemText(shown, kIdCompletePort).c_str(), Screenshot(shown, "complete").c_str());
    Click(shown, IDOK);
    DWORD code = 0;
    bool ended = run.WaitEnded(30000, &code);
    auto lines = LogMessages("DI");
    size_t errors = 0;
    for (const std::string &line : lines)
        errors += line.compare(0, 4, "ERR ") == 0;
    printf("Close     drvinst.exe %s (exit code %lu); its log: %zu lines, %zu ERR\n",
           ended ? "ended" : "STILL RUNS", code, lines.size(), errors);
    printf("spooler   the installed state:\n");
    return ReportState(true) && ended ? 0 : 1;
}

int Uninstall()
{
    InstallerRun run;
    HWND dialog = StartProgram(run);
    if (!dialog)
        return 1;
    bool chosen = run.ClickButton(dialog, kIdUninstall) && run.SelectText(dialog, kIdModel, kModel);
    printf("choose    Uninstall, model \"%s\": %s; port list %s; %s\n", kModel, chosen ? "done" : "FAILED",
           IsWindowEnabled(GetDlgItem(dialog, kIdPort)) ? "enabled" : "disabled",
           Screenshot(dialog, "uninstall").c_str());
    if (!chosen)
        return 1;
    HWND shown = NULL;
    InstallerRun::Result result = PressStart(run, dialog, &shown);
    if (result != InstallerRun::kRestartQuestion) {
        printf("Start     no restart question (result %d)\n", (int)result);
        return 1;
    }
    // The first phase is done while the question is open: what it removed is
    // gone, and RunOnce names the second phase.
    std::vector<std::string> runOnce = RunOnceEntries(false);
    printf("Start     first phase done, restart question shown; %s\n", Screenshot(shown, "restart").c_str());
    printf("          queue %s, driver %s; RunOnce: %s\n",
           SpoolerLists(SpoolEnumPrintersA, kModel, sizeof(PRINTER_INFO_1A), offsetof(PRINTER_INFO_1A, pName)) ? "still there" : "gone",
           SpoolerLists(SpoolEnumPrinterDriversA, kModel, sizeof(DRIVER_INFO_1A)) ? "still there" : "gone",
           runOnce.empty() ? "EMPTY" : runOnce[0].c_str());
    DWORD start = GetTickCount();
    Click(shown, IDOK);
    DWORD code = 0;
    bool ended = run.WaitEnded(30000, &code);
    DWORD firstEnded = GetTickCount() - start;
    std::vector<std::string> boxes;
    bool phaseDone = WaitForSecondPhase(120000, &boxes);
    printf("Yes       Wine played the restart: the first phase %s after %lu ms (exit code %lu); the second phase "
           "(drvinst.exe /RunOnce from the working folder) %s after %lu ms",
           ended ? "ended" : "DID NOT END", firstEnded, code, phaseDone ? "finished" : "DID NOT FINISH",
           GetTickCount() - start);
    for (const std::string &box : boxes)
        printf("; message box: %s", box.c_str());
    printf("\n          this demo process has no window and outlived the restart\n");
    printf("after     the state after both phases:\n");
    return ReportState(false) && ended && phaseDone && boxes.empty() ? 0 : 1;
}

int Check()
{
    printf("check     from a fresh process after the played restart:\n");
    bool gone = ReportState(false);
    std::vector<std::string> left = RunOnceEntries(true);
    for (const std::string &entry : left)
        printf("  RunOnce entry left behind, removed: %s\n", entry.c_str());
    return gone ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv)
{
    std::string step = argc > 1 ? argv[1] : "";
    if (step == "install")
        return Install();
    if (step == "uninstall")
        return Uninstall();
    if (step == "check")
        return Check();
    printf("usage: instdemo install | uninstall | check\n");
    return 2;
}
