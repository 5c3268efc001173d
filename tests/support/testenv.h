// What the tests need of the Wine prefix: paths, the diagnostic log file,
// the monitor's registry values, a real test printer in Wine's spooler, and
// a host that loads the language monitor as the spooler does.
#pragma once
#include <windows.h>
#include <winspool.h>
#include <winsplp.h>
#include <string>
#include <vector>

extern const wchar_t kMonitorName[];       // "jobtap"
extern const wchar_t kMonitorRoot[];       // HKLM-relative key Wine's AddMonitor uses
extern const wchar_t kTestDriver[];
extern const wchar_t kTestPrinter[];

std::wstring ExeDirectory();
std::wstring ExePath(const wchar_t *fileName);       // a file beside the test program
std::string Narrow(const std::wstring &text);

// The log: "kztdebug.txt" in the root of the Windows drive.
std::wstring LogPath();
// The monitor looks at the log file at most once per clock tick: lets one pass.
void NextTick();
void LogOn();                                          // create it empty
void LogOff();                                         // delete it
std::string LogText();
// The messages of the log's lines, each as "DBG message" or "ERR message",
// checked to carry the "yyyy/mm/dd hh:mm:ss.mmm LM " prefix.
std::vector<std::string> LogMessages(const char *tag = "LM");
bool LogHas(const std::string &message);               // exact "DBG ..." / "ERR ..." line
bool LogHasPrefix(const std::string &start);           // a line that begins so
bool ReportsVistaOrLater();     // the prefix reports NT 6 or later (false when the version can't be read)

// Values under the monitor's key.
void SetMonitorValue(const std::wstring &name, const std::wstring &value);
void DeleteMonitorValue(const std::wstring &name);
void ClearDriverValues();                              // driver, " Head", " Tail", " Filter"

// A printer, its driver and the driver's files. The configuration library and
// the data file are files beside the test program; null means the stand-in
// driver UI library for both.
struct PrinterSetup {
    const wchar_t *printer;
    const wchar_t *driver;
    const wchar_t *port;
    const wchar_t *monitor;     // language monitor, or null for none
    const wchar_t *configFile;  // e.g. L"KZTTZUIF.DLL"
    const wchar_t *dataFile;    // e.g. L"samples\\tz\\KZTTZ1000.DAT"
};
bool EnsurePrinterSetup(const PrinterSetup &setup, std::string *why);

// The queue of the driver UI library: named after its driver, the sample
// TZ-1000 data file, a port that is a file.
extern const wchar_t kUiPrinter[];
extern const wchar_t kUiPort[];
bool EnsureUiPrinter(std::string *why);
// Another queue of that driver, with a name and a port of its own.
bool EnsureUiQueue(const wchar_t *printer, const wchar_t *port, std::string *why);

// A printer exists with that driver (whose language monitor is monitor, or
// none for null) on that port.
bool EnsurePrinter(const wchar_t *printer, const wchar_t *driver, const wchar_t *port, const wchar_t *monitor,
                   std::string *why);
// The test printer: driver kTestDriver with monitor kMonitorName, port FILE:.
bool EnsureTestPrinter(std::string *why);

// A job in Wine's spooler, so that SetJob has a live job id.
class SpoolerJob {
public:
    explicit SpoolerJob(const wchar_t *printer = kTestPrinter);
    ~SpoolerJob();
    DWORD Id() const { return id_; }
private:
    HANDLE hPrinter_ = nullptr;
    DWORD id_ = 0;
};

// Loads jobtap.dll as the spooler does and keeps its table.
struct SpoolerHost {
    HMODULE hModule = nullptr;
    LPMONITOREX(WINAPI *pfnInit)(LPWSTR) = nullptr;
    MONITOR *lm = nullptr;
    std::wstring path;  // the DLL Load loads; empty: jobtap.dll beside this program

    bool Load();                                       // LoadLibrary + GetProcAddress
    bool Init(const wchar_t *root = kMonitorRoot);     // InitializePrintMonitor

    // A whole job: Open, StartDoc (level 1, RAW), writes of chunk bytes,
    // EndDoc, Close. Returns false at the first failing step.
    struct Job {
        std::wstring port = L"LPT1:";
        std::wstring printer = kTestPrinter;
        DWORD jobId = 0;
        std::vector<BYTE> data;
        DWORD chunk = 4096;
    };
    bool RunJob(const Job &job, MONITOR *below, std::string *why);
    // The job's document on a port already open (StartDoc, writes, EndDoc),
    // for callers that keep a port open across jobs; the same answers.
    bool RunDoc(HANDLE hPort, const Job &job, std::string *why);
};

// Starts chanclient.exe (beside this program) sending count device-id
// requests through port's channel of jobtap, expecting the fake port
// monitor's default answer; a negative count tolerates failed requests.
// The process handle (the caller closes it), or null with the last error.
HANDLE StartChannelClient(const std::wstring &port, int count);

std::vector<BYTE> Bytes(const char *text);
std::string ReadTextFile(const std::wstring &path);     // empty when missing
std::vector<BYTE> PatternBytes(size_t cb, unsigned seed);
int HandleCount();                                     // handles of this process
// CreateProcessA that tries again when Wine fails to spawn under load
// (ERROR_INTERNAL_ERROR, seen once in CI); the caller closes pi's handles.
bool StartProgram(const std::string &program, std::string line, const std::string &dir, PROCESS_INFORMATION *pi);
