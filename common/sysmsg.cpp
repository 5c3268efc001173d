#include "sysmsg.h"

void SystemMessageA(DWORD dwError, char *pszText, DWORD cchText, BOOL bTrim)
{
    if (!pszText || !cchText)
        return;
    DWORD cch = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, dwError, 0,
                               pszText, cchText, NULL);
    if (cch >= cchText)
        cch = cchText - 1;
    pszText[cch] = 0;
    if (bTrim) {
        while (cch && (pszText[cch - 1] == ' ' || pszText[cch - 1] == '\t' || pszText[cch - 1] == '\r' ||
                       pszText[cch - 1] == '\n'))
            pszText[--cch] = 0;
    }
}
