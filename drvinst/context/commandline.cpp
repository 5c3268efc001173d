// The installer's command line: program location, positional arguments
// (INF, model, port) and the mode switches.
#include "installcontext.h"
#include "splstr.h"
#include <string.h>

/* Fills m_pExeFileName, m_pExeDirName, m_pExeBaseName and m_pCommandLine from
 * the process, splits the line (ParseArguments), makes a relative INF name
 * absolute against the program's directory and sets m_wLangID. FALSE after an
 * error line (the user sees the text), or silently for a blank line. Before
 * SetupSysInfo. */
BOOL CInstallContext::ParseCommand()
{
    char szPath[INF_PATH_MAX];
    DWORD cch = GetModuleFileNameA(NULL, szPath, sizeof(szPath));
    DWORD dwError = GetLastError();
    if (!cch) {
        LogErr("::GetModuleFileName R %d E %d %s", cch, dwError, SysErrorText(dwError).c_str());
        return FALSE;
    }
    if (cch >= sizeof(szPath))
        szPath[sizeof(szPath) - 1] = 0;
    LogDbg("::GetModuleFileName [%s] R %d E %d %s", szPath, cch, dwError, SysErrorText(dwError).c_str());

    FreeSplStr(m_pExeFileName);
    if (!(m_pExeFileName = AllocSplStr(szPath))) {
        LogErr("ParseCommand() m_pExeFileName\r\n");
        return FALSE;
    }
    if (!SplitPathMembers(szPath, m_pExeDirName, m_pExeBaseName, "ParseCommand() EXE pLast\r\n",
                          "ParseCommand() m_pExeDirName\r\n", "ParseCommand() m_pExeBaseName\r\n"))
        return FALSE;
    FreeSplStr(m_pCommandLine);
    if (!(m_pCommandLine = AllocSplStr(GetCommandLineA()))) {
        LogErr("ParseCommand() m_pCommandLine\r\n");
        return FALSE;
    }
    LogDbg("::GetCommandLine [%s]\r\n", m_pCommandLine);

    if (!ParseArguments(m_pCommandLine))
        return FALSE;
    if (m_pInfFileName && !ResolveInfFileName())
        return FALSE;
    LogLanguage();
    return TRUE;
}

// Splits the line (only read) into at most four positional arguments of up
// to 255 characters each (longer ones are cut): slots 2 to 4 replace the INF,
// printer and port names. Sets the switches found anywhere. FALSE for a blank
// line, or after an error line for an unclosed quote; nothing is stored
// unless the whole line splits.
BOOL CInstallContext::ParseArguments(char *pszCommandLine)
{
    const int kSlots = 4;
    const size_t kSlotMax = 255;
    std::string slots[kSlots];
    const char *p = pszCommandLine ? pszCommandLine : "";
    while (IsBlankA(*p))
        p++;
    if (!*p)
        return FALSE;

    while (*p) {
        if (IsBlankA(*p)) {
            p++;
            continue;
        }
        const char *pToken = p;
        const char *pTokenEnd;
        if (*p == '/') {
            while (*p && !IsBlankA(*p))
                p++;
            continue;
        }
        if (*p == '"') {
            pToken = ++p;
            const char *pQuote = strchr(p, '"');
            if (!pQuote) {
                LogErr("ParseCommand() Quote not closed [%s]\r\n", pszCommandLine);
                return FALSE;
            }
            pTokenEnd = pQuote;
            p = pQuote + 1;
        } else {
            while (*p && !IsBlankA(*p))
                p++;
            pTokenEnd = p;
        }
        for (std::string &slot : slots) {
            if (slot.empty()) {
                slot.assign(pToken, pTokenEnd - pToken > (ptrdiff_t)kSlotMax ? kSlotMax : pTokenEnd - pToken);
                break;
            }
        }
    }

    if (!slots[1].empty())
        SetInfFileName(slots[1].c_str());
    if (!slots[2].empty())
        SetPrinterName(slots[2].c_str());
    if (!slots[3].empty())
        SetPortName(slots[3].c_str());
    static const struct {
        const char *pszSwitch;
        BOOL CInstallContext::*pFlag;
    } kSwitches[] = {
        {"/RunOnce", &CInstallContext::m_bRunOnce},     {"/Install", &CInstallContext::m_bInstall},
        {"/Uninstall", &CInstallContext::m_bUninstall}, {"/Reinstall", &CInstallContext::m_bReinstall},
        {"/Copy", &CInstallContext::m_bCopy},
    };
    for (const auto &entry : kSwitches) {
        if (StrStrI(pszCommandLine, entry.pszSwitch))
            this->*entry.pFlag = TRUE;
    }
    return TRUE;
}
