// "/quiet": an install, uninstall or reinstall (or either second phase, or
// "/Copy") without any window; the answer is the exit code and the log.
#pragma once
#include <windows.h>

class CInstallContext;

class CQuietRun {
public:
    // ctx: the context after ParseCommand; not owned, used while Run lasts.
    explicit CQuietRun(CInstallContext &ctx) : m_ctx(ctx) {}

    // Checks the command line, runs the operation through the engine with
    // dialogs that show nothing (the restart question is answered Yes only
    // under "/forcerestart"), logs the result and returns its exit code
    // (exitcodes.h).
    int Run();

private:
    int CheckCommand();
    int Execute();
    BOOL WriteComDefaults(BOOL bCheckOnly);
    void LogFailure();

    CInstallContext &m_ctx;
};
