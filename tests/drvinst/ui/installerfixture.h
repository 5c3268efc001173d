// The installer program as a person runs it: drvinst.exe started under Wine
// from the sample package's folder (TZ.INF and every file it names beside
// it), its main dialog found among its windows, read and driven, its message
// boxes read and answered. Each case starts and ends with what the
// execution sequence's tests remove (queues, driver, monitor, files, RunOnce
// and Uninstall entries), in the installer tests' prefix.
#pragma once
#include "dialogcheck.h"
#include "executefixture.h"
#include <string>
#include <vector>

extern const DialogLayout kInstallLayout;  // template 102

class InstallerTest : public ExecuteTest {
protected:
    void SetUp() override;     // ExecuteTest's, and drvinst.exe into the package
    void TearDown() override;  // ends a program still running, then ExecuteTest's

    // Starts the package's drvinst.exe with args after its quoted path, as
    // Windows passes a command line; false when it could not start.
    bool Start(const std::string &args);
    // The main dialog (the window holding the model list), or null.
    HWND WaitForMain(DWORD timeoutMs = 15000);
    // Start and WaitForMain; a failure names the message box shown instead.
    HWND StartMain(const std::string &args);
    // Cancels the main dialog and waits for the program to end, so that the
    // next Start may follow; false when it did not end.
    bool CancelAndEnd(HWND hDlg);
    // Whether the program ended within timeoutMs, with its exit code.
    bool Ended(DWORD timeoutMs, DWORD *pExitCode = nullptr);
    // The program's next message box: its text ("" when none came), answered with OK.
    std::string AnswerMessageBox(DWORD timeoutMs = 15000);
    // The entries of a list of the main dialog, in list order, and the
    // selected one ("(none)" when none is).
    std::vector<std::string> ListItems(HWND hDlg, int id);
    std::string SelectedText(HWND hDlg, int id);
    // The main dialog's template from the package's drvinst.exe in this
    // thread's language, created hidden in this process: the dialog units
    // and font for ExpectLayout. It goes with the test.
    HWND UnitsDialog();
    // A click on a radio button as the mouse makes it: checked, then notified.
    void ClickRadio(HWND hDlg, int id);
    // The spooler, files and entries an install would leave: none of them there.
    void ExpectNothingInstalled();
    // An INF beside the program: TZ.INF with one line replaced (byte for byte,
    // the file is in code page 932); returns its name.
    std::string WriteInfVariant(const std::string &name, const std::string &line, const std::string &replacement);

    std::string m_exe;   // the package's drvinst.exe
    HANDLE m_process = nullptr;
    DWORD m_pid = 0;
    HMODULE m_hTemplates = nullptr;
    HWND m_hUnits = nullptr;
};

// Every port the installer prefix's spooler offers, as the list shows them
// (sorted): the serial ports Wine answers for, FILE:, the parallel ports,
// and the generic USB entry of a system that reports Windows XP.
extern const std::vector<std::string> kAllPorts;
