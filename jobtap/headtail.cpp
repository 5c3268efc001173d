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

/* Sends the " Head" or " Tail" bytes configured for the port's printer,
 * whole: a port write that takes part of them is repeated with the rest, each
 * write logged with pszSentFormat (count offered, written, result, error).
 * TRUE when none are configured or all reached the port; FALSE, with the
 * port's error (ERROR_WRITE_FAULT for a write that took nothing), after an
 * ERR line in pszCutFormat (bytes sent, bytes in all, error), when the port
 * failed part-way: the printer would take the job's data for the header's. */
BOOL SendHeadOrTail(IniPort *pIniPort, LPCWSTR pszSuffix, LPCWSTR pszSentFormat, LPCWSTR pszNoneFormat,
                    LPCWSTR pszCutFormat)
{
    LPWSTR pszText = Regstr(pIniPort, pszSuffix);
    if (!pszText)
        return TRUE;
    BYTE abBytes[256];
    DWORD cb = DecodeHexBytes(pszText, abBytes, sizeof(abBytes));
    FreeSplMem(pszText);
    if (!cb) {
        LogDbg(pszNoneFormat, 0);
        return TRUE;
    }
    for (DWORD cbSent = 0; cbSent < cb;) {
        DWORD cbWritten = 0;
        BOOL bOk = pIniPort->Monitor.pfnWritePort(pIniPort->hPort, abBytes + cbSent, cb - cbSent, &cbWritten);
        DWORD dwError = GetLastError();
        if (cbWritten > cb - cbSent)
            cbWritten = cb - cbSent;          // a count it cannot have written
        LogDbg(pszSentFormat, cb - cbSent, cbWritten, bOk, dwError);
        if (!bOk || !cbWritten) {
            dwError = !bOk && dwError ? dwError : ERROR_WRITE_FAULT;
            LogErr(pszCutFormat, cbSent, cb, dwError);
            SetLastError(dwError);
            return FALSE;
        }
        cbSent += cbWritten;
    }
    return TRUE;
}
