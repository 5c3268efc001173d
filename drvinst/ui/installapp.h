// The installer program's start-up: the usage text ("/?"), a run without
// windows ("/quiet"), the unattended second phase after a restart
// ("/RunOnce"), the pending second phases ("/finish"), the unattended file
// copy ("/Copy"), or the main dialog. The program ends when start-up ends.
#pragma once
#include <windows.h>

class CInstallContext;

class CInstallApp {
public:
    // hInstance: the module with the dialogs, strings and icon; not owned.
    explicit CInstallApp(HINSTANCE hInstance) : m_hInstance(hInstance) {}

    // Runs one of the ways on a context built from the command line: "/?",
    // a quiet run (exit code from exitcodes.h, no window), or the second
    // phase, "/Copy" or the main dialog, which show every failure in an
    // error box and return 0. The result is the program's exit code.
    int InitInstance();

private:
    BOOL UseLogPath(CInstallContext &ctx);
    BOOL RunSecondPhase(CInstallContext &ctx);
    BOOL CopyFiles(CInstallContext &ctx);
    int Finish(CInstallContext &ctx);
    void ErrorBox(const char *pszText) const;

    HINSTANCE m_hInstance;
};
