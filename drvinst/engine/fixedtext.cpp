#include "fixedtext.h"
#include "splstr.h"
#include <stdarg.h>
#include <stdio.h>
#include <string>

BOOL FormatPath(CInstallContext &ctx, char *pszOut, size_t cbOut, const char *pszOwner, const char *pszFormat, ...)
{
    DWORD dwError = GetLastError();
    va_list args;
    va_start(args, pszFormat);
    va_list argsAgain;
    va_copy(argsAgain, args);
    int cch = _vscprintf(pszFormat, args);
    va_end(args);
    BOOL bFits = cch >= 0 && (size_t)cch < cbOut;
    if (bFits) {
        _vsnprintf(pszOut, cbOut, pszFormat, argsAgain);
        pszOut[cch] = 0;
    } else {
        if (cbOut)
            pszOut[0] = 0;
        std::string strWhole(cch > 0 ? cch + 1 : 1, 0);
        if (cch > 0)
            _vsnprintf(&strWhole[0], cch + 1, pszFormat, argsAgain);
        ctx.LogErr("%s() Length [%s]\r\n", pszOwner, strWhole.c_str());
    }
    va_end(argsAgain);
    SetLastError(dwError);
    return bFits;
}

// The value of a hexadecimal digit, or -1.
static int HexDigit(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    ch |= 0x20;
    return (ch >= 'a' && ch <= 'f') ? ch - 'a' + 10 : -1;
}

DWORD ReadFieldNumber(const char *pszField, const char **ppszRest)
{
    if (ppszRest)
        *ppszRest = pszField;
    if (!pszField)
        return 0;
    const char *p = pszField;
    while (IsBlankA(*p))
        p++;
    DWORD dwNumber = 0;
    if (p[0] == '0' && (p[1] | 0x20) == 'x' && HexDigit(p[2]) >= 0) {
        for (p += 2; HexDigit(*p) >= 0; p++)
            dwNumber = dwNumber > 0x0FFFFFFF ? 0xFFFFFFFF : dwNumber * 16 + HexDigit(*p);
    } else {
        for (; *p >= '0' && *p <= '9'; p++) {
            DWORD dwDigit = *p - '0';
            dwNumber = dwNumber > (0xFFFFFFFF - dwDigit) / 10 ? 0xFFFFFFFF : dwNumber * 10 + dwDigit;
        }
    }
    if (ppszRest)
        *ppszRest = p;
    return dwNumber;
}
