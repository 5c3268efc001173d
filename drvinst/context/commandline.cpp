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

// One token of the line at p: a quoted text (without its quotes) or a run
// of non-blank characters, its bounds in *ppStart and *ppEnd, p moved past
// it. FALSE for a quote that does not close.
static BOOL NextToken(const char *&p, const char **ppStart, const char **ppEnd)
{
    if (*p == '"') {
        const char *pQuote = strchr(p + 1, '"');
        if (!pQuote)
            return FALSE;
        *ppStart = p + 1;
        *ppEnd = pQuote;
        p = pQuote + 1;
        return TRUE;
    }
    *ppStart = p;
    while (*p && !IsBlankA(*p))
        p++;
    *ppEnd = p;
    return TRUE;
}

BOOL CInstallContext::AsksQuiet(const char *pszCommandLine)
{
    const char *p = pszCommandLine ? pszCommandLine : "";
    while (*p) {
        while (IsBlankA(*p))
            p++;
        const char *pWord = p;
        while (*p && !IsBlankA(*p))
            p++;
        size_t cch = p - pWord;
        if (cch >= 2 && pWord[0] == '"' && pWord[cch - 1] == '"') {
            pWord++;
            cch -= 2;
        }
        std::string strWord(pWord, cch);
        for (const char *pszQuiet : {"/quiet", "/qn", "/q", "/finish"}) {  // "/finish" shows none either
            if (!StrCmpI(strWord.c_str(), pszQuiet))
                return TRUE;
        }
    }
    return FALSE;
}

// The mode switches and the flag each sets; "/log" takes the next token.
// "/qn" and "/q" are the spellings of "/quiet" administrators type out of
// habit from other installers; "/norestart" is accepted for the same reason
// (a quiet run never restarts unless told to).
static const struct {
    const char *pszSwitch;
    BOOL CInstallContext::*pFlag;
} kSwitches[] = {
    {"/RunOnce", &CInstallContext::m_bRunOnce},     {"/Install", &CInstallContext::m_bInstall},
    {"/Uninstall", &CInstallContext::m_bUninstall}, {"/Reinstall", &CInstallContext::m_bReinstall},
    {"/Copy", &CInstallContext::m_bCopy},           {"/quiet", &CInstallContext::m_bQuiet},
    {"/forcerestart", &CInstallContext::m_bForceRestart}, {"/?", &CInstallContext::m_bUsage},
    {"/finish", &CInstallContext::m_bFinish},       {"/qn", &CInstallContext::m_bQuiet},
    {"/q", &CInstallContext::m_bQuiet},             {"/norestart", &CInstallContext::m_bNoRestart},
    {"/addqueue", &CInstallContext::m_bAddQueue},
};

// Whether the switch token [pStart, pEnd) is one of kSwitches, in any case.
static BOOL IsKnownSwitch(const char *pStart, const char *pEnd)
{
    std::string strToken(pStart, pEnd - pStart);
    for (const auto &entry : kSwitches) {
        if (!StrCmpI(strToken.c_str(), entry.pszSwitch))
            return TRUE;
    }
    return FALSE;
}

// Splits the line (only read) into at most four positional arguments of up
// to 255 characters each (longer ones are cut): slots 2 to 4 replace the INF,
// printer and port names. Sets the switches found anywhere but inside the log
// path and the positional arguments (one that is a switch alone, quoted,
// still sets it); "/log" takes the next token as the log path (m_strLogPath). An unknown switch, a "/log"
// without its path or a fifth positional argument sets m_bBadCommand. FALSE
// for a blank line, or after an error line for an unclosed quote; nothing is
// stored unless the whole line splits.
BOOL CInstallContext::ParseArguments(char *pszCommandLine)
{
    const int kSlots = 4;
    const size_t kSlotMax = 255;
    std::string slots[kSlots];
    std::string strLogPath;
    BOOL bBad = FALSE, bLogNext = FALSE, bLogGiven = FALSE;
    const char *p = pszCommandLine ? pszCommandLine : "";
    std::string strSearched = p;  // the line the switches are found in: switch tokens only
    while (IsBlankA(*p))
        p++;
    if (!*p)
        return FALSE;

    while (*p) {
        if (IsBlankA(*p)) {
            p++;
            continue;
        }
        const char *pToken, *pTokenEnd;
        BOOL bSwitch = *p == '/';
        if (!NextToken(p, &pToken, &pTokenEnd)) {
            LogErr("ParseCommand() Quote not closed [%s]\r\n", pszCommandLine);
            return FALSE;
        }
        if (bLogNext && !bSwitch) {
            strLogPath.assign(pToken, pTokenEnd - pToken);
            strSearched.replace(pToken - pszCommandLine, pTokenEnd - pToken, pTokenEnd - pToken, ' ');
            bLogNext = FALSE;
            continue;
        }
        bBad |= bLogNext;  // "/log" followed by another switch
        bLogNext = FALSE;
        if (bSwitch) {
            if (!StrCmpI(std::string(pToken, pTokenEnd - pToken).c_str(), "/log"))
                bLogNext = bLogGiven = TRUE;
            else if (!IsKnownSwitch(pToken, pTokenEnd))
                bBad = TRUE;
            continue;
        }
        // A path or name is no switch ("C:/Uninstall/TZ.INF"); a quoted
        // switch alone still is one.
        if (!IsKnownSwitch(pToken, pTokenEnd))
            strSearched.replace(pToken - pszCommandLine, pTokenEnd - pToken, pTokenEnd - pToken, ' ');
        BOOL bStored = FALSE;
        for (std::string &slot : slots) {
            if (slot.empty()) {
                slot.assign(pToken, pTokenEnd - pToken > (ptrdiff_t)kSlotMax ? kSlotMax : pTokenEnd - pToken);
                bStored = TRUE;
                break;
            }
        }
        bBad |= !bStored;
    }
    bBad |= bLogNext || (bLogGiven && strLogPath.empty());

    if (!slots[1].empty())
        SetInfFileName(slots[1].c_str());
    if (!slots[2].empty())
        SetPrinterName(slots[2].c_str());
    if (!slots[3].empty())
        SetPortName(slots[3].c_str());
    m_strLogPath = strLogPath;
    m_bBadCommand = bBad;
    for (const auto &entry : kSwitches) {
        if (StrStrI(strSearched.c_str(), entry.pszSwitch))
            this->*entry.pFlag = TRUE;
    }
    m_bBadCommand |= m_bNoRestart && m_bForceRestart;  // one says the opposite of the other
    m_bLineSplit = TRUE;
    return TRUE;
}
