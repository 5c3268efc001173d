#include "installapp.h"
#include "installcontext.h"
#include "installdialog.h"
#include "modalenginedialogs.h"

BOOL CInstallApp::InitInstance()
{
    CInstallContext ctx;
    if (!ctx.SetLogFileName("kztdebug.txt")) {
        ErrorBox("SetLogFileName");
        return FALSE;
    }
    if (!ctx.ParseCommand()) {
        ErrorBox(ctx.GetErrorText());
        return FALSE;
    }
    if (ctx.m_bRunOnce) {          // the second phase wins over "/Copy"
        RunSecondPhase(ctx);
    } else if (ctx.m_bCopy) {
        CopyFiles(ctx);
    } else {
        CInstallDialog dialog;
        dialog.DoModal(m_hInstance);
    }
    return FALSE;
}

// The second phase that Windows starts after the restart: INF, model and
// port from the command line, then the engine, whose restart question and
// USB notice have no owner. FALSE after the error box.
BOOL CInstallApp::RunSecondPhase(CInstallContext &ctx)
{
    CModalEngineDialogs dialogs(m_hInstance, NULL);
    ctx.m_pDialogs = &dialogs;
    BOOL bResult = ctx.SetupSysInfo() && ctx.ParseInf() && ctx.SetupSplInfo() && ctx.Excecute();
    ctx.m_pDialogs = NULL;
    if (!bResult)
        ErrorBox(ctx.GetErrorText());
    return bResult;
}

// "/Copy": the model's files to their directories, nothing else. A failed
// preparation shows its box; the copy's own result is not reported.
BOOL CInstallApp::CopyFiles(CInstallContext &ctx)
{
    if (!ctx.SetupSysInfo() || !ctx.ParseInf()) {
        ErrorBox(ctx.GetErrorText());
        return FALSE;
    }
    ctx.CopyInfFiles();
    return TRUE;
}

void CInstallApp::ErrorBox(const char *pszText) const
{
    MessageBoxA(NULL, pszText, g_szProgramName, MB_OK | MB_ICONHAND);
}
