#include "comsettings.h"
#include <stdio.h>
#include <stdlib.h>
#include "splstr.h"

// The flow-control lines of the DCB for the fifth field's first character:
// H hardware handshake, X Xon/Xoff, anything else none.
static void ApplyFlowControl(char ch, DCB *pDcb)
{
    pDcb->fOutxCtsFlow = ch == 'H';
    pDcb->fOutxDsrFlow = ch == 'H';
    pDcb->fDtrControl = ch == 'H' ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
    pDcb->fRtsControl = ch == 'H' ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    pDcb->fOutX = ch == 'X';
    pDcb->fInX = ch == 'X';
}

// One field (NUL-terminated, possibly empty) at its position 0..4.
static void ApplyField(int nField, const char *pszField, DCB *pDcb)
{
    switch (nField) {
    case 0:
        pDcb->BaudRate = (DWORD)atoi(pszField);
        break;
    case 1:
        pDcb->ByteSize = (BYTE)(atoi(pszField) & 0xff);
        break;
    case 2:
        pDcb->Parity = pszField[0] == 'E' ? EVENPARITY : pszField[0] == 'O' ? ODDPARITY : NOPARITY;
        break;
    case 3:
        pDcb->StopBits = pszField[0] == '2' ? TWOSTOPBITS : ONESTOPBIT;
        break;
    case 4:
        ApplyFlowControl(pszField[0], pDcb);
        break;
    }
}

void ApplyComPortSettings(const char *pszSettings, COMMCONFIG *pConfig)
{
    if (!pszSettings || !pszSettings[0] || pszSettings[0] == ',')
        return;
    char szWork[256];
    lstrcpynA(szWork, pszSettings, sizeof(szWork));
    char *pszField = szWork;
    for (int nField = 0; nField < 5 && pszField; ++nField) {
        char *pszComma = (char *)FindCharA(pszField, ',');
        if (pszComma)
            *pszComma = '\0';
        ApplyField(nField, pszField, &pConfig->dcb);
        pszField = pszComma ? pszComma + 1 : NULL;
    }
}

// The serial port name of a port text: a copy cut at its first colon, in a
// 256-byte buffer (longer texts are cut there too).
static void PortDeviceName(const char *pszPort, char (&szName)[256])
{
    lstrcpynA(szName, pszPort ? pszPort : "", sizeof(szName));
    char *pszColon = (char *)FindCharA(szName, ':');
    if (pszColon)
        *pszColon = '\0';
}

// The text of one call: "::<call>([<name>]) R <result> E <error>". Each call
// starts with the last error cleared, so that a call that fails without
// setting one shows 0 rather than an earlier call's code.
static void FormatCall(std::string *pstrText, const char *pszCall, const char *pszName, BOOL bResult, DWORD dwError)
{
    char sz[400];
    snprintf(sz, sizeof(sz), "::%s([%s]) R %d E %d", pszCall, pszName, bResult, (int)dwError);
    pstrText->assign(sz);
}

static BOOL GetDefaults(const char *pszName, COMMCONFIG *pConfig, std::string *pstrText)
{
    DWORD cb = COMCONFIG_SIZE;
    SetLastError(ERROR_SUCCESS);
    BOOL bOk = GetDefaultCommConfigA(pszName, pConfig, &cb);
    DWORD dwError = GetLastError();
    FormatCall(pstrText, "GetDefaultCommConfig", pszName, bOk, dwError);
    SetLastError(dwError);
    return bOk;
}

static BOOL SetDefaults(const char *pszName, COMMCONFIG *pConfig, std::string *pstrText)
{
    SetLastError(ERROR_SUCCESS);
    BOOL bOk = SetDefaultCommConfigA(pszName, pConfig, COMCONFIG_SIZE);
    DWORD dwError = GetLastError();
    FormatCall(pstrText, "SetDefaultCommConfig", pszName, bOk, dwError);
    SetLastError(dwError);
    return bOk;
}

ComConfigResult RunComConfig(const char *pszPort, const char *pszSettings, std::string *pstrError)
{
    char szName[256];
    PortDeviceName(pszPort, szName);
    COMMCONFIG config;
    ZeroMemory(&config, sizeof(config));
    std::string strText;
    if (!GetDefaults(szName, &config, &strText)) {
        *pstrError = strText;
        return COMCONFIG_FAILED;
    }
    ApplyComPortSettings(pszSettings, &config);

    SetLastError(ERROR_SUCCESS);
    BOOL bOk = CommConfigDialogA(szName, NULL, &config);
    DWORD dwError = GetLastError();
    FormatCall(&strText, "CommConfigDialog", szName, bOk, dwError);
    SetLastError(dwError);
    if (!bOk) {
        if (dwError == ERROR_CANCELLED)
            return COMCONFIG_CANCELLED;
        *pstrError = strText;
        return COMCONFIG_FAILED;
    }

    if (!SetDefaults(szName, &config, &strText)) {
        *pstrError = strText;
        return COMCONFIG_FAILED;
    }
    return COMCONFIG_SAVED;
}

BOOL SetComDefaults(const char *pszPort, const char *pszSettings, BOOL bInstall, BOOL bComEnabled,
                    BOOL bConfigured, COMMCONFIG *pConfig, std::string *pstrError)
{
    ZeroMemory(pConfig, sizeof(*pConfig));
    if (!bInstall || !bComEnabled)
        return TRUE;
    char szName[256];
    PortDeviceName(pszPort, szName);
    CharUpperBuffA(szName, lstrlenA(szName));

    std::string strText;
    if (!GetDefaults(szName, pConfig, &strText)) {
        DWORD dwError = GetLastError();
        ZeroMemory(pConfig, sizeof(*pConfig));   // nothing was read: no settings to show
        *pstrError = strText;
        SetLastError(dwError);
        return FALSE;
    }
    if (bConfigured)
        return TRUE;    // the user's stored configuration stays; it was only read back
    ApplyComPortSettings(pszSettings, pConfig);
    if (!SetDefaults(szName, pConfig, &strText)) {
        *pstrError = strText;
        return FALSE;
    }
    return TRUE;
}
