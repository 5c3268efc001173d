// The models of an INF and the parse of one model's install section into the
// directive table, the file list and the registry list.
#include "installcontext.h"
#include "splstr.h"
#include <string.h>

static const InfDirective kDirectiveTemplate[] = {
    {"CopyFiles", NULL, 1},       {"AddReg", NULL, 1},        {"DataSection", NULL, 0},
    {"ConfigFile", NULL, 0},      {"DataFile", NULL, 0},      {"DefaultDataType", NULL, 0},
    {"DriverFile", NULL, 0},      {"ExcludeFromSelect", NULL, 1}, {"HelpFile", NULL, 0},
    {"LanguageMonitor", NULL, 1}, {"PrintProcessor", NULL, 1}, {"VendorSetup", NULL, 1},
    {"Ports", NULL, 1},           {"ComPortSettings", NULL, 1}, {NULL, NULL, 0},
};

/* Sets strPath to the full path of the first *.INF in the program's
 * directory (ParseCommand first). FALSE after an error line when there is
 * none; strPath is then unchanged. */
BOOL CInstallContext::FindFirstInf(std::string &strPath)
{
    std::string strPattern = std::string(LogStr(m_pExeDirName)) + "\\*.INF";
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA(strPattern.c_str(), &fd);
    DWORD dwError = GetLastError();
    if (hFind == INVALID_HANDLE_VALUE) {
        LogErr("CFileFind.FindFile([%s]) R %d E %d %s", strPattern.c_str(), 0, dwError,
               SysErrorText(dwError).c_str());
        return FALSE;
    }
    FindClose(hFind);
    strPath = std::string(LogStr(m_pExeDirName)) + "\\" + fd.cFileName;
    return TRUE;
}

// Logs every string-table entry as "[key][value]".
void CInstallContext::LogStringTable()
{
    for (const StringLink *p = m_pStringLink; p; p = p->pNext)
        LogDbg("[%s][%s]\r\n", LogStr(p->pKey), LogStr(p->pValue));
}

// The models section: the first [Manufacturer] entry, cut at its first comma,
// into pszModels (cbModels bytes). FALSE after the caller's pszFailure error.
BOOL CInstallContext::ReadModelsSection(char *pszModels, DWORD cbModels, const char *pszFailure)
{
    if (!GetFirstLineText("Manufacturer", NULL, pszModels, cbModels)) {
        LogErr("%s", pszFailure);
        return FALSE;
    }
    if (char *pComma = (char *)FindCharA(pszModels, ','))
        *pComma = 0;
    return TRUE;
}

/* Sets strList to the model names of the INF's models section, each followed
 * by ",", loading the string table first. Needs only m_pInfFileName and
 * m_wLangID. FALSE after an error line, with strList empty. */
BOOL CInstallContext::FindInfPrinters(std::string &strList)
{
    strList.clear();
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
            strList.append(szEntry, pEqual - szEntry);
            strList += ',';
        }
    }
    FreeSplMem(pBuffer);
    if (!bResult) {
        strList.clear();
        return FALSE;
    }
    LogDbg("FindInfPrinters() [%s]\r\n", strList.c_str());
    return TRUE;
}

// Sets the model's install section and, when given, its hardware id.
static BOOL TakeModelEntry(CInstallContext &ctx, char *pszValue)
{
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

// Calls pfnItem for every comma-separated item of a directive value, exactly
// as written between the commas.
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
 * m_pHardwareID, the 14-row directive table, and the file and registry lists
 * of CopyFiles and AddReg (a failing item is logged and skipped). FALSE after
 * an error line before the lists. Once per context, after SetupSysInfo. */
BOOL CInstallContext::ParseInf()
{
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
            if (!pRow->bList) {
                if (char *pComma = (char *)FindCharA(szValue, ','))
                    *pComma = 0;
            }
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
    return TRUE;
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
