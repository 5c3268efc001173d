// The install section's registry lines: string values written under existing
// keys of HKEY_LOCAL_MACHINE at install, and removed again at uninstall.
#include "fixedtext.h"
#include "splstr.h"
#include "steplog.h"
#include <string.h>

static const REGSAM kLineAccess = KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE;  // 0x2001F

// A line names the root "HKLM" and a subkey below it: an empty subkey would
// put the values into the root itself. FALSE after "<owner>() pRoot" or
// "<owner>() pSubKey".
static BOOL CheckLineKey(CInstallContext &ctx, const RegLink *p, const char *pszOwner)
{
    if (!p->pRoot || StrCmpI(p->pRoot, "HKLM")) {
        ctx.LogErr("%s() pRoot\r\n", pszOwner);
        return FALSE;
    }
    if (!p->pSubKey || !*p->pSubKey) {
        ctx.LogErr("%s() pSubKey\r\n", pszOwner);
        return FALSE;
    }
    return TRUE;
}

// The flags field asks for a string value: the number 0, written in full,
// in decimal or hexadecimal ("0", "0x00000000"). An absent field counts as 0;
// "0x00010001" (a DWORD) is not 0.
static BOOL IsStringFlag(const char *pszFlag)
{
    const char *pszRest = NULL;
    if (ReadFieldNumber(pszFlag, &pszRest) != 0)
        return FALSE;
    while (pszRest && IsBlankA(*pszRest))
        pszRest++;
    return !pszRest || !*pszRest;
}

// Closes a line's key after the step on its value (lStep, already logged):
// the key is closed on every path. FALSE, with the registry status as the
// last error, when the step or the logged close failed.
static BOOL CloseLineKey(CInstallContext &ctx, HKEY hKey, LONG lStep)
{
    if (lStep != ERROR_SUCCESS) {
        RegCloseKey(hKey);
        SetLastError(lStep);
        return FALSE;
    }
    LONG lStatus = RegCloseKey(hKey);
    LogStep(ctx, lStatus == ERROR_SUCCESS, "::RegCloseKey E %d %s", lStatus, SysErrorText(lStatus).c_str());
    SetLastError(lStatus);
    return lStatus == ERROR_SUCCESS;
}

/* Writes each registry line as the string value pValueName = pValue under
 * the existing key HKLM\pSubKey, in list order. The first failure stops it
 * with 0 after its error line; lines written before stay. An absent value
 * name is the key's default value, an absent value an empty string. An empty
 * list succeeds. After ParseInf. */
BOOL CInstallContext::AddReg()
{
    for (const RegLink *p = m_pRegLink; p; p = p->pNext) {
        if (!CheckLineKey(*this, p, "AddReg"))
            return FALSE;
        HKEY hKey = NULL;
        LONG lStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, p->pSubKey, 0, kLineAccess, &hKey);
        LogStep(*this, lStatus == ERROR_SUCCESS, "::RegOpenKeyEx([%s]) E %d %s", p->pSubKey, lStatus,
                SysErrorText(lStatus).c_str());
        if (lStatus != ERROR_SUCCESS) {
            SetLastError(lStatus);
            return FALSE;
        }
        if (!IsStringFlag(p->pFlag)) {
            RegCloseKey(hKey);
            LogErr("AddReg() pFlag\r\n");
            return FALSE;
        }
        const char *pszValue = p->pValue ? p->pValue : "";
        lStatus = RegSetValueExA(hKey, p->pValueName, 0, REG_SZ, (const BYTE *)pszValue, (DWORD)strlen(pszValue) + 1);
        LogStep(*this, lStatus == ERROR_SUCCESS, "::RegSetValueEx([%s][%s]) E %d %s", LogStr(p->pValueName),
                LogStr(p->pValue), lStatus, SysErrorText(lStatus).c_str());
        if (!CloseLineKey(*this, hKey, lStatus))
            return FALSE;
    }
    return TRUE;
}

/* Removes the value of each registry line, in list order; a key or value
 * already gone counts as removed, keys themselves are never deleted. The
 * flags field is not examined. The first failure stops it with 0 after its
 * error line. After ParseInf. */
BOOL CInstallContext::DelReg()
{
    for (const RegLink *p = m_pRegLink; p; p = p->pNext) {
        if (!CheckLineKey(*this, p, "DelReg"))
            return FALSE;
        HKEY hKey = NULL;
        LONG lStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, p->pSubKey, 0, kLineAccess, &hKey);
        LogStep(*this, lStatus == ERROR_SUCCESS || lStatus == ERROR_FILE_NOT_FOUND, "::RegOpenKeyEx([%s]) [%s] E %d %s",
                p->pSubKey, LogStr(p->pValueName), lStatus, SysErrorText(lStatus).c_str());
        if (lStatus == ERROR_FILE_NOT_FOUND)
            continue;  // no key, nothing to remove
        if (lStatus != ERROR_SUCCESS) {
            SetLastError(lStatus);
            return FALSE;
        }
        lStatus = RegDeleteValueA(hKey, p->pValueName);
        BOOL bGone = lStatus == ERROR_SUCCESS || lStatus == ERROR_FILE_NOT_FOUND;
        LogStep(*this, bGone, "::RegDeleteValue([%s]) E %d %s", LogStr(p->pValueName), lStatus,
                SysErrorText(lStatus).c_str());
        if (!CloseLineKey(*this, hKey, bGone ? ERROR_SUCCESS : lStatus))
            return FALSE;
    }
    return TRUE;
}
