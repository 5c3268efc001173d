// The main dialog's port list: the spooler's ports that can take a printer,
// the command line's narrowing, the model's preferred port.
#include "portlist.h"
#include "splstr.h"
#include "spoolrecord.h"
#include <new>
#include <stdio.h>
#include <string.h>
#include <string>

// The serial probe passes a whole configuration of this fixed size.
static_assert(sizeof(COMMCONFIG) == 52, "COMMCONFIG layout");
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA layout");

// Caption of every failure box of the port list: the program's name.
static const char kCaption[] = "drvinst";

// A new spooler can list its ports again and again while they change; after
// this many failed fills the dialog gives up instead of looping for ever.
#define ENUM_PORTS_ATTEMPTS 5

// The entry of the generic USB port, on the systems that offer it.
static const char kGenericUsb[] = "USB";

static void ShowFailure(const CDialog &dlg, const char *pszText)
{
    dlg.Message(pszText, kCaption, MB_OK | MB_ICONHAND);
}

PortKind ClassifyPort(const char *pszName)
{
    if (!pszName)
        return PORT_OTHER;
    static const char *const apszOffered[] = {"LPT", "USB", "FILE"};
    for (const char *pszPrefix : apszOffered) {
        if (!StrNCmpI(pszName, pszPrefix, strlen(pszPrefix)))
            return PORT_OFFERED;
    }
    if (!StrNCmpI(pszName, "COM", 3))
        return PORT_SERIAL;
    return PORT_OTHER;
}

BOOL OffersGenericUsb(const OSVERSIONINFOA &osvi)
{
    if (osvi.dwPlatformId == VER_PLATFORM_WIN32_NT)
        return osvi.dwMajorVersion == 5;
    if (osvi.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS)
        return osvi.dwMajorVersion == 4 && osvi.dwMinorVersion >= 10;
    return FALSE;
}

static BOOL SpoolEnumPortsA(const SpoolCallArgs *a, LPBYTE p, DWORD cb, LPDWORD pcb, LPDWORD pc)
{
    return EnumPortsA((LPSTR)a->pName, a->dwLevel, p, cb, pcb, pc);
}

// Whether the system has a serial device behind the upper-case COM port
// name: its default configuration is asked for the name cut at the first
// colon. Logs the probe with the full name.
static BOOL ProbeSerialPort(CInstallContext &ctx, const std::string &strUpper)
{
    std::string strDevice = strUpper;
    const char *pColon = FindCharA(strDevice.c_str(), ':');
    if (pColon)
        strDevice.resize(pColon - strDevice.c_str());
    COMMCONFIG config;
    ZeroMemory(&config, sizeof(config));
    config.dwSize = sizeof(config);
    DWORD cbConfig = sizeof(config);
    SetLastError(0);
    BOOL bOk = GetDefaultCommConfigA(strDevice.c_str(), &config, &cbConfig);
    DWORD dwError = bOk ? ERROR_SUCCESS : GetLastError();
    ctx.LogDbg("::GetDefaultCommConfig([%s]) R %d E %d\r\n", strUpper.c_str(), bOk, dwError);
    SetLastError(dwError);
    return bOk;
}

// Logs and classifies one spooler port and adds its upper-case name when it
// can take a printer.
static void OfferPort(CInstallContext &ctx, const CComboBox &comboPort, const char *pszName)
{
    if (!pszName) {
        ctx.LogDbg("::EnumPort [%s]\r\n", LogStr(pszName));
        return;
    }
    std::string strUpper = pszName;
    if (!strUpper.empty())
        CharUpperBuffA(&strUpper[0], (DWORD)strUpper.size());
    switch (ClassifyPort(strUpper.c_str())) {
    case PORT_OFFERED:
        ctx.LogDbg("::EnumPort [%s]\r\n", strUpper.c_str());
        comboPort.AddString(strUpper.c_str());
        break;
    case PORT_SERIAL:
        if (ProbeSerialPort(ctx, strUpper))
            comboPort.AddString(strUpper.c_str());
        break;
    case PORT_OTHER:
        ctx.LogDbg("::EnumPort [%s]\r\n", strUpper.c_str());
        break;
    }
}

// The local spooler's PORT_INFO_2A records, asked for the size first. A
// failed fill is shown and the whole enumeration starts again (the needed
// size may have grown), at most ENUM_PORTS_ATTEMPTS times. NULL after a
// failure, which has been shown; else free the buffer with FreeSpoolRecord.
static LPBYTE EnumPortRecords(const CDialog &dlg, CInstallContext &ctx, DWORD *pcPorts)
{
    SpoolCallArgs args = {};
    args.dwLevel = 2;
    for (int nAttempt = 0; nAttempt < ENUM_PORTS_ATTEMPTS; nAttempt++) {
        SpoolRecordResult result;
        LPBYTE pBuffer = AllocSpoolRecord(SpoolEnumPortsA, &args, 0, &result);
        if (pBuffer) {
            ctx.LogDbg("::EnumPorts cbNeeded %d R %d E %d\r\n", result.cbNeeded, result.bResult, 0);
            *pcPorts = result.cReturned;
            return pBuffer;
        }
        if (result.step == SPOOL_STEP_ALLOC) {
            ctx.LogErr("new pPortInfo\r\n");
            ShowFailure(dlg, "new pPortInfo");
            return NULL;
        }
        char szText[128];
        _snprintf(szText, sizeof(szText) - 1, "::EnumPorts cbNeeded %d R %d E %d\r\n", (int)result.cbNeeded,
                  result.bResult, (int)result.dwError);
        szText[sizeof(szText) - 1] = 0;
        ctx.LogErr("%s", szText);
        ShowFailure(dlg, szText);
        if (result.step == SPOOL_STEP_SIZE)
            return NULL;
    }
    return NULL;  // every fill failed
}

BOOL FillPortList(const CDialog &dlg, CInstallContext &ctx, const CComboBox &comboPort)
{
    DWORD cPorts = 0;
    LPBYTE pPortInfo = EnumPortRecords(dlg, ctx, &cPorts);
    if (!pPortInfo)
        return FALSE;
    const PORT_INFO_2A *pPorts = (const PORT_INFO_2A *)pPortInfo;
    for (DWORD i = 0; i < cPorts; i++)
        OfferPort(ctx, comboPort, pPorts[i].pPortName);
    FreeSpoolRecord(pPortInfo);

    OSVERSIONINFOA osvi;
    ZeroMemory(&osvi, sizeof(osvi));
    osvi.dwOSVersionInfoSize = sizeof(osvi);
    SetLastError(0);
    BOOL bOk = GetVersionExA(&osvi);
    DWORD dwError = bOk ? ERROR_SUCCESS : GetLastError();
    char szText[64];
    _snprintf(szText, sizeof(szText) - 1, "::GetVersionEx R %d E %d\r\n", bOk, (int)dwError);
    szText[sizeof(szText) - 1] = 0;
    if (!bOk) {
        ctx.LogErr("%s", szText);
        ShowFailure(dlg, szText);
        SetLastError(dwError);
        return FALSE;
    }
    ctx.LogDbg("%s", szText);
    if (OffersGenericUsb(osvi))
        comboPort.AddString(kGenericUsb);
    comboPort.SetCurSel(0);
    return TRUE;
}

// Calls fn with each comma-separated name of pszList, blanks around it cut
// off; empty names are skipped. Stops early when fn returns FALSE.
template <typename Fn> static void ForEachName(const char *pszList, Fn fn)
{
    if (!pszList)
        return;
    const char *psz = pszList;
    for (;;) {
        const char *pComma = FindCharA(psz, ',');
        const char *pEnd = pComma ? pComma : psz + strlen(psz);
        const char *pStart = psz;
        while (pStart < pEnd && IsBlankA(*pStart))
            pStart++;
        while (pEnd > pStart && IsBlankA(pEnd[-1]))
            pEnd--;
        if (pEnd > pStart && !fn(std::string(pStart, pEnd - pStart)))
            return;
        if (!pComma)
            return;
        psz = pComma + 1;
    }
}

// The text of entry nIndex of the list; empty when there is none.
static std::string EntryText(const CComboBox &comboPort, int nIndex)
{
    int cch = (int)comboPort.Send(CB_GETLBTEXTLEN, nIndex);
    if (cch <= 0)
        return std::string();
    std::string strText(cch + 1, '\0');
    int cchGot = (int)comboPort.Send(CB_GETLBTEXT, nIndex, (LPARAM)&strText[0]);
    strText.resize(cchGot > 0 ? cchGot : 0);
    return strText;
}

// Collects into pPorts (room for cMax texts, *pcPorts in use) every entry
// that begins with strName, searching forward from the start until the
// search wraps; an entry collected already is not taken twice.
static void CollectMatches(const CComboBox &comboPort, const std::string &strName, std::string *pPorts, int cMax,
                           int *pcPorts)
{
    int iAfter = -1;  // -1: search from the start
    while (*pcPorts < cMax) {
        int i = (int)comboPort.Send(CB_FINDSTRING, (WPARAM)iAfter, (LPARAM)strName.c_str());
        if (i == CB_ERR || i <= iAfter)
            return;  // none, or the search wrapped round
        iAfter = i;
        std::string strText = EntryText(comboPort, i);
        BOOL bHave = FALSE;
        for (int k = 0; k < *pcPorts && !bHave; k++)
            bHave = pPorts[k] == strText;
        if (!bHave)
            pPorts[(*pcPorts)++] = strText;
    }
}

BOOL NarrowPortList(const CDialog &dlg, const CComboBox &comboPort, const char *pszPorts)
{
    if (!pszPorts || !*pszPorts)
        return TRUE;
    int cEntries = (int)comboPort.Send(CB_GETCOUNT);
    if (cEntries == CB_ERR) {
        ShowFailure(dlg, "OnInitDialog m_comboPort.GetCount");
        return FALSE;
    }
    std::string *pPorts = new (std::nothrow) std::string[cEntries > 0 ? cEntries : 1];
    if (!pPorts) {
        ShowFailure(dlg, "new pPorts");
        return FALSE;
    }
    int cPorts = 0;
    ForEachName(pszPorts, [&](const std::string &strName) {
        CollectMatches(comboPort, strName, pPorts, cEntries, &cPorts);
        return cPorts < cEntries;
    });
    if (cPorts > 0 && !pPorts[0].empty()) {
        comboPort.Send(CB_RESETCONTENT);
        for (int i = 0; i < cPorts; i++) {
            if (!pPorts[i].empty())
                comboPort.AddString(pPorts[i].c_str());
        }
    }
    delete[] pPorts;
    comboPort.SetCurSel(0);
    return TRUE;
}

int SelectPreferredPort(const CComboBox &comboPort, const char *pszPorts)
{
    int nFound = CB_ERR;
    ForEachName(pszPorts, [&](const std::string &strName) {
        nFound = (int)comboPort.Send(CB_FINDSTRING, (WPARAM)-1, (LPARAM)strName.c_str());
        return nFound == CB_ERR;
    });
    if (nFound != CB_ERR)
        comboPort.SetCurSel(nFound);
    return nFound;
}
