// Job header and trailer: hexadecimal text from the registry, decoded and
// written straight to the port (never through the filter).
#include "jobtap.h"

static BYTE HexDigit(WCHAR ch)
{
    if (ch >= L'0' && ch <= L'9') return (BYTE)(ch - L'0');
    if (ch >= L'A' && ch <= L'F') return (BYTE)(ch - L'A' + 10);
    if (ch >= L'a' && ch <= L'f') return (BYTE)(ch - L'a' + 10);
    return (BYTE)(ch & 0x0F);           // any other character: its low four bits
}

/* Decodes digit pairs from the start of pszText into pbOut; an odd last digit
 * is dropped and nothing is skipped. Returns the byte count (at most cbOut). */
DWORD DecodeHexBytes(LPCWSTR pszText, LPBYTE pbOut, DWORD cbOut)
{
    DWORD cb = 0;
    for (LPCWSTR p = pszText; p && p[0] && p[1] && cb < cbOut; p += 2)
        pbOut[cb++] = (BYTE)(HexDigit(p[0]) * 16 + HexDigit(p[1]));
    return cb;
}

/* Sends the " Head" or " Tail" bytes configured for the port's printer. The
 * result does not matter to the job; it is only logged. */
void SendHeadOrTail(IniPort *pIniPort, LPCWSTR pszSuffix, LPCWSTR pszSentFormat, LPCWSTR pszNoneFormat)
{
    LPWSTR pszText = Regstr(pIniPort, pszSuffix);
    if (!pszText)
        return;
    BYTE abBytes[256];
    DWORD cb = DecodeHexBytes(pszText, abBytes, sizeof(abBytes));
    if (cb) {
        DWORD cbWritten = 0;
        BOOL bOk = pIniPort->Monitor.pfnWritePort(pIniPort->hPort, abBytes, cb, &cbWritten);
        DWORD dwError = GetLastError();
        LogDbg(pszSentFormat, cb, cbWritten, bOk, dwError);
    } else {
        LogDbg(pszNoneFormat, 0);
    }
    FreeSplMem(pszText);
}
