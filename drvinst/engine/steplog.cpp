#include "steplog.h"
#include "loga.h"
#include <stdarg.h>
#include <stdio.h>

void LogStep(CInstallContext &ctx, BOOL bOk, const char *pszFormat, ...)
{
    DWORD dwError = GetLastError();
    char szMessage[LOGA_TEXT_MAX];
    va_list args;
    va_start(args, pszFormat);
    _vsnprintf(szMessage, sizeof(szMessage) - 1, pszFormat, args);
    va_end(args);
    szMessage[sizeof(szMessage) - 1] = 0;
    if (bOk)
        ctx.LogDbg("%s", szMessage);
    else
        ctx.LogErr("%s", szMessage);
    SetLastError(dwError);
}
