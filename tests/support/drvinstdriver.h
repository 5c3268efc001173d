// Runs the installer program drvinst.exe as a person would: lays out the
// driver package beside it, starts it, works its main dialog, answers its
// result dialogs, and waits out the second phase that Wine runs from RunOnce
// after the restart the first phase asked for.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// Control ids of the installer's dialogs.
enum InstallerIds {
    kIdInstall = 1005,      // radio buttons of the main dialog
    kIdUninstall = 1006,
    kIdModel = 1002,        // drop-down lists
    kIdPort = 1003,
    kIdStart = 1009,
    kIdCompleteModel = 1010,  // completion dialog: model and port
    kIdCompletePort = 1011,
    kIdUsbModel = 1022,     // USB notice
    kIdRebootIcon = 1025,   // restart question (Yes is IDOK)
};

// Copies the sample package into folder as a user receives it: TZ.INF and
// its files from samples\tz beside this program, the built deliverables and
// stand-ins in place of the placeholders, and drvinst.exe. Creates the
// folder; false (with the failing file in *why) when a copy fails.
bool LayOutPackage(const std::string &folder, std::string *why);

// The text of entry index of a drop-down list of another process, in the
// ANSI code page ("" when there is none). Asked in UTF-16: Wine passes an
// ANSI CB_GETLBTEXT to another process's list without converting it.
std::string ListEntry(HWND dialog, int id, int index);

// One run of drvinst.exe. A process still running when the object goes
// (a run that went wrong, its dialog still open) is ended, so that no
// window of it is left open; the process handle is closed.
class InstallerRun {
public:
    ~InstallerRun();
    // Starts program with the arguments (the part of the command line after
    // the quoted program path) in the program's folder; false with the last
    // error when it does not start.
    bool Start(const std::string &program, const std::string &arguments = "");
    DWORD Pid() const { return m_pi.dwProcessId; }

    // The main dialog (the window holding Start), waiting up to timeoutMs.
    HWND MainDialog(DWORD timeoutMs);
    // Clicks a radio button of the main dialog as the mouse would.
    bool ClickButton(HWND dialog, int id);
    // Selects the entry of a drop-down list whose text is text, telling the
    // dialog as a click would; false when the list holds no such entry.
    bool SelectText(HWND dialog, int id, const std::string &text);

    // What the program shows after Start, waited for up to timeoutMs.
    enum Result { kCompletion, kRestartQuestion, kUsbNotice, kMessageBox, kEnded, kTimeout };
    // *dialog is the window shown (null for kEnded and kTimeout); *text the
    // message box's text.
    Result WaitForResult(DWORD timeoutMs, HWND *dialog, std::string *text);
    // Waits for the process to end; false on timeout. *exitCode may be null.
    bool WaitEnded(DWORD timeoutMs, DWORD *exitCode);

private:
    PROCESS_INFORMATION m_pi = {};
};

// After a played restart: waits until Wine has run the RunOnce entries, that
// is until no wineboot.exe and no drvinst.exe process is left, closing each
// message box a drvinst.exe shows meanwhile (its text appended to *boxes).
// False when processes are still there after timeoutMs.
bool WaitForSecondPhase(DWORD timeoutMs, std::vector<std::string> *boxes);

// The port and driver of the queue named printer (the queue the installer
// made); false when there is no such queue.
bool InstalledQueue(const wchar_t *printer, std::wstring *port, std::wstring *driver);

// The spooler environment this build's installer installs for on a machine
// of its own architecture ("Windows x64" or "Windows NT x86").
extern const wchar_t kDriverEnvironment[];

// The driver of the queue named printer as the spooler reports it: its
// environment and its configuration library's full path; false when there
// is no such queue or driver.
bool QueueDriverFiles(const wchar_t *printer, std::wstring *environment, std::wstring *configFile);

// The printer driver directory of environment, as the spooler answers it
// ("" when it refuses the environment).
std::wstring DriverDirectory(const wchar_t *environment);

// Whether path lies in folder (case-insensitive, at any depth).
bool PathIn(const std::wstring &path, const std::wstring &folder);

// The program file of process pid and whether it runs natively, i.e. with
// this program's architecture (not under WOW64); false when the process
// cannot be opened or asked.
bool ProcessImage(DWORD pid, std::wstring *image, bool *native);
