// Runs the installer context's ParseCommand on this process's own command
// line and prints what it found, one field per line.
#include "installcontext.h"
#include "splstr.h"
#include <stdio.h>

int main()
{
    CInstallContext ctx;
    BOOL bParsed = ctx.ParseCommand();
    printf("result=%d\n", bParsed);
    printf("exe=%s\n", LogStr(ctx.m_pExeFileName));
    printf("exedir=%s\n", LogStr(ctx.m_pExeDirName));
    printf("exebase=%s\n", LogStr(ctx.m_pExeBaseName));
    printf("inf=%s\n", LogStr(ctx.m_pInfFileName));
    printf("infdir=%s\n", LogStr(ctx.m_pInfDirName));
    printf("infbase=%s\n", LogStr(ctx.m_pInfBaseName));
    printf("printer=%s\n", LogStr(ctx.m_pPrinterName));
    printf("port=%s\n", LogStr(ctx.m_pPortName));
    printf("flags=%d%d%d%d%d\n", ctx.m_bInstall, ctx.m_bUninstall, ctx.m_bReinstall, ctx.m_bCopy, ctx.m_bRunOnce);
    printf("lang=%04X\n", ctx.m_wLangID);
    printf("error=%s\n", ctx.GetErrorText());
    return 0;
}
