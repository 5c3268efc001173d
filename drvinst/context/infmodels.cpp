// The models of an INF and the parse of one model's install section into the
// directive table, the file list and the registry list.
#include "installcontext.h"
#include "splstr.h"
#include <string.h>
#include <vector>

static const InfDirective kDirectiveTemplate[] = {
    {"CopyFiles", NULL, 1},       {"AddReg", NULL, 1},        {"DataSection", NULL, 0},
    {"ConfigFile", NULL, 0},      {"DataFile", NULL, 0},      {"DefaultDataType", NULL, 0},
    {"DriverFile", NULL, 0},      {"ExcludeFromSelect", NULL, 1}, {"HelpFile", NULL, 0},
    {"LanguageMonitor", NULL, 1}, {"PrintProcessor", NULL, 1}, {"VendorSetup", NULL, 1},
    {"Ports", NULL, 1},           {"ComPortSettings", NULL, 1}, {NULL, NULL, 0},
};

// Leaves out the blanks around each comma-separated item of psz, in place:
// "jobtap, jobtap.dll" becomes "jobtap,jobtap.dll". With bFirstOnly only the
// first item stays.
static void TrimItems(char *psz, BOOL bFirstOnly)
{
    char *pOut = psz;
    for (char *pItem = psz;;) {
        char *pComma = (char *)FindCharA(pItem, ',');
        if (pComma)
            *pComma = 0;
        size_t cch = strlen(TrimA(pItem));
        memmove(pOut, pItem, cch);
        pOut += cch;
        if (!pComma || bFirstOnly)
            break;
        *pOut++ = ',';
        pItem = pComma + 1;
    }
    *pOut = 0;
}

// Whether the INF at pszPath is a printer package's: its [Manufacturer]
// names (plainly, without %key%) a models section that has an entry. Only
// the section reader's error line for a line too long is logged.
BOOL CInstallContext::IsPrinterInf(const char *pszPath)
{
    char *pBuffer = (char *)AllocSplMem(INF_SECTION_MAX);
    if (!pBuffer)
        return FALSE;
    BOOL bResult = FALSE;
    char szModels[INF_LINE_MAX];
    if (GetPrivateProfileSectionReadOnly("Manufacturer", pBuffer, INF_SECTION_MAX, pszPath)) {
        const char *pEqual = FindCharA(pBuffer, '=');
        RemoveQuotes(pEqual ? pEqual + 1 : pBuffer, szModels);
        TrimItems(szModels, TRUE);
        bResult = szModels[0] && GetPrivateProfileSectionReadOnly(szModels, pBuffer, INF_SECTION_MAX, pszPath);
    }
    FreeSplMem(pBuffer);
    return bResult;
}

/* Sets strPath to the full path of the first *.INF in the program's
 * directory (ParseCommand first) that is a printer package's (IsPrinterInf:
 * an AUTORUN.INF or another product's INF beside it is passed over), in the
 * order the file system lists them. FALSE after an error line when there is
 * none; strPath is then unchanged. */
BOOL CInstallContext::FindFirstInf(std::string &strPath)
{
    std::string strDir = LogStr(m_pExeDirName);
    std::string strPattern = strDir + "\\*.INF";
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA(strPattern.c_str(), &fd);
    DWORD dwError = GetLastError();
    if (hFind == INVALID_HANDLE_VALUE) {
        LogErr("CFileFind.FindFile([%s]) R %d E %d %s", strPattern.c_str(), 0, dwError,
               SysErrorText(dwError).c_str());
        return FALSE;
    }
    BOOL bFound = FALSE;
    for (;;) {
        std::string strCandidate = strDir + "\\" + fd.cFileName;
        bFound = !(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsPrinterInf(strCandidate.c_str());
        LogDbg("FindFirstInf() [%s] R %d\r\n", strCandidate.c_str(), bFound);
        if (bFound) {
            strPath = strCandidate;
            break;
        }
        BOOL bNext = FindNextFileA(hFind, &fd);
        dwError = GetLastError();
        if (!bNext) {
            if (dwError != ERROR_NO_MORE_FILES)
                LogErr("CFileFind.FindNextFile R %d E %d %s", bNext, dwError, SysErrorText(dwError).c_str());
            break;
        }
    }
    FindClose(hFind);
    if (!bFound && dwError == ERROR_NO_MORE_FILES)
        LogErr("FindFirstInf() No INF in [%s] has [Manufacturer] with its models section\r\n", strDir.c_str());
    return bFound;
}

// Logs every string-table entry as "[key][value]".
void CInstallContext::LogStringTable()
{
    for (const StringLink *p = m_pStringLink; p; p = p->pNext)
        LogDbg("[%s][%s]\r\n", LogStr(p->pKey), LogStr(p->pValue));
}

// The models section: the first [Manufacturer] entry, cut at its first comma
// and trimmed, into pszModels (cbModels bytes). FALSE after the caller's pszFailure error.
BOOL CInstallContext::ReadModelsSection(char *pszModels, DWORD cbModels, const char *pszFailure)
{
    if (!GetFirstLineText("Manufacturer", NULL, pszModels, cbModels)) {
        LogErr("%s", pszFailure);
        return FALSE;
    }
    TrimItems(pszModels, TRUE);
    return TRUE;
}

// The model names, each followed by ",".
static std::string JoinModels(const std::vector<std::string> &models)
{
    std::string strList;
    for (const std::string &model : models)
        strList += model + ",";
    return strList;
}

/* Sets models to the model names of the INF's models section, in section
 * order, loading the string table first; a name may hold a comma (written
 * between double quotes). Needs only m_pInfFileName and m_wLangID. FALSE
 * after an error line, with models empty. */
BOOL CInstallContext::FindInfPrinters(std::vector<std::string> &models)
{
    models.clear();
    if (!ListStringDirectiveW95()) {
        LogErr("FindInfPrinters() ListStringDirectiveW95\r\n");
        return FALSE;
    }
    LogStringTable();
    char szModels[INF_LINE_MAX];
    if (!ReadModelsSection(szModels, sizeof(szModels), "FindInfPrinters() Manufacturer\r\n"))
        return FALSE;

    char *pBuffer = (char *)AllocSplMem(INF_SECTION_MAX);
    if (!pBuffer) {
        LogErr("FindInfPrinters() AllocSplMem\r\n");
        return FALSE;
    }
    BOOL bResult = FALSE;
    DWORD cb = GetPrivateProfileSectionReadOnly(szModels, pBuffer, INF_SECTION_MAX, m_pInfFileName);
    DWORD dwError = GetLastError();
    if (!cb) {
        LogErr("GetPrivateProfileSectionReadOnly([%s]) R %d E %d %s", szModels, cb, dwError,
               SysErrorText(dwError).c_str());
    } else {
        char szEntry[INF_LINE_MAX];
        bResult = TRUE;
        for (char *pEntry = pBuffer; *pEntry; pEntry += strlen(pEntry) + 1) {
            if (!ExpandLine(pEntry, szEntry)) {
                LogErr("FindInfPrinters() Length\r\n");
                bResult = FALSE;
                break;
            }
            if (IsBlankOrComment(szEntry))
                continue;
            const char *pEqual = FindCharA(szEntry, '=');
            if (!pEqual) {
                LogErr("FindInfPrinters() pEqual\r\n");
                bResult = FALSE;
                break;
            }
            models.push_back(std::string(szEntry, pEqual - szEntry));
        }
    }
    FreeSplMem(pBuffer);
    if (!bResult) {
        models.clear();
        return FALSE;
    }
    LogDbg("FindInfPrinters() [%s]\r\n", JoinModels(models).c_str());
    return TRUE;
}

/* The same list as one string, each name followed by ","; strList is empty
 * on failure. A name that holds a comma cannot be told apart here: the
 * dialog takes the list form. */
BOOL CInstallContext::FindInfPrinters(std::string &strList)
{
    std::vector<std::string> models;
    BOOL bResult = FindInfPrinters(models);
    strList = JoinModels(models);
    return bResult;
}

// Sets the model's install section and, when given, its hardware id (both
// without the blanks around them).
static BOOL TakeModelEntry(CInstallContext &ctx, char *pszValue)
{
    TrimItems(pszValue, FALSE);
    char *pComma = (char *)FindCharA(pszValue, ',');
    if (pComma)
        *pComma = 0;
    FreeSplStr(ctx.m_pInstallSection);
    if (!(ctx.m_pInstallSection = AllocSplStr(pszValue))) {
        ctx.LogErr("ParseInf() m_pInstallSection\r\n");
        return FALSE;
    }
    if (!pComma)
        return TRUE;
    char *pId = pComma + 1;
    if (char *pEnd = (char *)FindCharA(pId, ','))
        *pEnd = 0;
    if (const char *pBackslash = FindCharA(pId, '\\'))
        pId = (char *)pBackslash + 1;
    size_t cchId = strlen(pId);
    if (cchId < 4) {
        ctx.LogErr("ParseInf() lenHardwareID\r\n");
        return FALSE;
    }
    FreeSplStr(ctx.m_pHardwareID);
    if (!(ctx.m_pHardwareID = AllocSplStrN(pId, cchId - 4))) {
        ctx.LogErr("ParseInf() m_pHardwareID\r\n");
        return FALSE;
    }
    return TRUE;
}

// Calls pfnItem for every comma-separated item of a directive value (whose
// items ParseInf has trimmed).
static void ForEachItem(CInstallContext &ctx, const char *pszList, BOOL (CInstallContext::*pfnItem)(const char *))
{
    std::string strList(pszList);
    char *pItem = &strList[0];
    for (;;) {
        char *pComma = (char *)FindCharA(pItem, ',');
        if (pComma)
            *pComma = 0;
        (ctx.*pfnItem)(pItem);
        if (!pComma)
            break;
        pItem = pComma + 1;
    }
}

/* Parses model m_pPrinterName: the string table, m_pInstallSection,
 * m_pHardwareID, the 14-row directive table (the blanks around each item of
 * a list left out), and the file and registry lists of CopyFiles and AddReg
 * (a failing item is logged and skipped). FALSE after an error line before
 * the lists, or, after them, when a section it read was refused for a line
 * too long. Once per context, after SetupSysInfo. */
BOOL CInstallContext::ParseInf()
{
    DWORD cLongLineRefusals = m_cLongLineRefusals;
    if (!ListStringDirectiveW95()) {
        LogErr("ParseInf() ListStringDirectiveW95\r\n");
        return FALSE;
    }
    LogStringTable();
    char szModels[INF_LINE_MAX];
    if (!ReadModelsSection(szModels, sizeof(szModels), "ParseInf() Manufacturer\r\n"))
        return FALSE;
    char szValue[INF_LINE_MAX];
    if (!GetFirstLineText(szModels, m_pPrinterName ? m_pPrinterName : "", szValue, sizeof(szValue))) {
        LogErr("ParseInf() Models\r\n");
        return FALSE;
    }
    if (!TakeModelEntry(*this, szValue))
        return FALSE;

    if (m_pInfDirective) {
        for (InfDirective *pRow = m_pInfDirective; pRow->pKey; pRow++)
            FreeSplStr(pRow->pValue);
        FreeSplMem(m_pInfDirective);
    }
    m_pInfDirective = (InfDirective *)AllocSplMem(sizeof(kDirectiveTemplate));
    if (!m_pInfDirective) {
        LogErr("ParseInf() m_pInfDirective\r\n");
        return FALSE;
    }
    memcpy(m_pInfDirective, kDirectiveTemplate, sizeof(kDirectiveTemplate));

    const char *apszSections[] = {m_pInstallSection, NULL};
    for (const char *pszSection : apszSections) {
        if (!pszSection)
            pszSection = GetDirective("DataSection");
        if (!pszSection)
            break;
        for (InfDirective *pRow = m_pInfDirective; pRow->pKey; pRow++) {
            if (pRow->pValue || !GetFirstLineText(pszSection, pRow->pKey, szValue, sizeof(szValue)))
                continue;
            TrimItems(szValue, !pRow->bList);
            pRow->pValue = AllocSplStr(szValue);
        }
    }
    for (const InfDirective *pRow = m_pInfDirective; pRow->pKey; pRow++)
        LogDbg("%s=%s\r\n", pRow->pKey, LogStr(pRow->pValue));

    if (const char *pszCopyFiles = GetDirective("CopyFiles"))
        ForEachItem(*this, pszCopyFiles, &CInstallContext::ParseCopyFilesItem);
    for (const FileLink *p = m_pFileLink; p; p = p->pNext)
        LogDbg("[%s][%s][%s][%s][%s]\r\n", LogStr(p->pDst), LogStr(p->pSrc), LogStr(p->pTmp), LogStr(p->pFlag),
               LogStr(p->pDir));
    if (const char *pszAddReg = GetDirective("AddReg"))
        ForEachItem(*this, pszAddReg, &CInstallContext::ParseAddRegSection);
    for (const RegLink *p = m_pRegLink; p; p = p->pNext)
        LogDbg("[%s][%s][%s][%s][%s]\r\n", LogStr(p->pRoot), LogStr(p->pSubKey), LogStr(p->pValueName),
               LogStr(p->pFlag), LogStr(p->pValue));
    return m_cLongLineRefusals == cLongLineRefusals;  // the refusal's error line names the section
}

/* The value of directive pszKey (names compared without case), owned by the
 * context; NULL when absent, unknown, or before ParseInf succeeded. */
const char *CInstallContext::GetDirective(const char *pszKey) const
{
    if (!m_pInfDirective || !pszKey)
        return NULL;
    for (const InfDirective *pRow = m_pInfDirective; pRow->pKey; pRow++) {
        if (!StrCmpI(pRow->pKey, pszKey))
            return pRow->pValue;
    }
    return NULL;
}
