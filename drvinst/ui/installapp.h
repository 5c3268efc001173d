// The installer program's start-up: the unattended second phase after a
// restart ("/RunOnce"), the unattended file copy ("/Copy"), or the main
// dialog. The program ends when start-up ends.
#pragma once
#include <windows.h>

class CInstallContext;

class CInstallApp {
public:
    // hInstance: the module with the dialogs, strings and icon; not owned.
    explicit CInstallApp(HINSTANCE hInstance) : m_hInstance(hInstance) {}

    // Runs one of the three ways on a context built from the command line
    // and shows every failure in an error box. Always FALSE: there is no
    // message loop after it.
    BOOL InitInstance();

private:
    BOOL RunSecondPhase(CInstallContext &ctx);
    BOOL CopyFiles(CInstallContext &ctx);
    void ErrorBox(const char *pszText) const;

    HINSTANCE m_hInstance;
};
