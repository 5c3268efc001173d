// The INF text reader: sections, entries by key or index, entry counts,
// quote removal and %key% expansion.
#include "installcontext.h"
#include "infcache.h"
#include "splstr.h"
#include <new>
#include <string.h>

/* The section named pszSection, through the context's copy of the INF
 * (created here on first use, owned by the context). NULL when there is none
 * (last error 2: no file or one that cannot be read, after an error line; 0:
 * no section; 8: no memory) or when it is refused
 * for a line longer than a line read (122, after an error line that names
 * the section and the line). */
InfSection *CInstallContext::ReadSection(const char *pszPath, const char *pszSection)
{
    InfSection *pSection;
    try {
        if (!m_pInfCache)
            m_pInfCache = new InfCache;
        pSection = m_pInfCache->Section(pszPath, pszSection);
    } catch (const std::bad_alloc &) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    if (!pSection && GetLastError() == ERROR_FILE_NOT_FOUND && pszPath) {
        // An INF that cannot be read is an error, not a missing section: its
        // %keys% would stay unexpanded in what the engine installs.
        DWORD dwError = m_pInfCache->FailedError();
        LogErr("GetPrivateProfileSectionReadOnly([%s]) [%s] cannot be read: ::%s E %d %s\r\n", LogStr(pszSection),
               pszPath, m_pInfCache->FailedCall(), dwError, SysErrorText(dwError).c_str());
        SetLastError(ERROR_FILE_NOT_FOUND);
        return NULL;
    }
    if (pSection && pSection->dwLongLine) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        LogErr("GetPrivateProfileSectionReadOnly([%s]) Line %lu longer than %d characters\r\n", pszSection,
               (unsigned long)pSection->dwLongLine, INF_LINE_MAX - 1);
        m_cLongLineRefusals++;
        return NULL;
    }
    return pSection;
}

/* Copies the section's entries into pBuffer (cbBuffer bytes, INF_SECTION_MAX
 * from every caller), each NUL-terminated and closed by an empty one, cut at
 * cbBuffer - 2. Returns the bytes before the closing NUL: 0 for no file (last
 * error 2), a missing or empty section (0), or a section with a line longer
 * than 255 characters (122; the only case with a log line, an error). */
DWORD CInstallContext::GetPrivateProfileSectionReadOnly(const char *pszSection, char *pBuffer, DWORD cbBuffer,
                                                        const char *pszPath)
{
    InfSection *pSection = ReadSection(pszPath, pszSection);
    DWORD dwError = GetLastError();
    DWORD cb = 0;
    if (pSection && cbBuffer == INF_SECTION_MAX) {
        cb = pSection->cbText;
        memcpy(pBuffer, pSection->text.data(), cb + 1);
    } else if (pSection) {
        cb = InfCache::Layout(pSection->entries, pBuffer, cbBuffer, NULL);
    } else if (pBuffer && cbBuffer > 1) {
        pBuffer[0] = pBuffer[1] = 0;
    }
    SetLastError(dwError);
    return cb;
}

/* TRUE for an empty text, only white space, or a first non-blank ';'.
 * psz must not be NULL. */
BOOL CInstallContext::IsBlankOrComment(const char *psz)
{
    while (IsBlankA(*psz))
        psz++;
    return !*psz || *psz == ';';
}

/* Copies pszIn without its double quotes into pszOut (INF_LINE_MAX bytes;
 * cut at 255 characters). Returns the length; 0 for an odd number of quotes
 * or when nothing is left. */
int CInstallContext::RemoveQuotes(const char *pszIn, char *pszOut)
{
    int cchOut = 0, nQuotes = 0;
    for (; *pszIn; pszIn++) {
        if (*pszIn == '"') {
            nQuotes++;
            continue;
        }
        if (cchOut >= INF_LINE_MAX - 1)
            break;  // an entry is read in pieces of 255 characters at most
        pszOut[cchOut++] = *pszIn;
    }
    pszOut[cchOut] = 0;
    return (nQuotes & 1) ? 0 : cchOut;
}

// Appends cch bytes if they fit into the 256-byte output; false when not.
static bool AppendBounded(char *pszOut, int &cchOut, const char *psz, size_t cch)
{
    if (cchOut + cch > INF_LINE_MAX - 1)
        return false;
    memcpy(pszOut + cchOut, psz, cch);
    cchOut += (int)cch;
    return true;
}

/* Writes pszIn into pszOut (INF_LINE_MAX bytes) with each %key% replaced by
 * the string table's value (first key equal but for case; unknown keys stay
 * as written). Returns the length; 0 for an unclosed %, a key or a result
 * over 255 characters, or an empty result. Uses the table as loaded now. */
int CInstallContext::ExpandStringKeys(const char *pszIn, char *pszOut)
{
    int cchOut = 0;
    return ExpandKeys(pszIn, pszOut, cchOut) ? cchOut : 0;
}

// ExpandStringKeys that tells an empty result (TRUE, cchOut 0) from a
// failure (FALSE: an unclosed %, a key or a result over 255 characters).
BOOL CInstallContext::ExpandKeys(const char *pszIn, char *pszOut, int &cchOut)
{
    cchOut = 0;
    pszOut[0] = 0;
    for (const char *p = pszIn; *p;) {
        if (*p != '%') {
            if (!AppendBounded(pszOut, cchOut, p, 1))
                return pszOut[cchOut] = 0, FALSE;
            p++;
            continue;
        }
        const char *pKey = p + 1;
        const char *pClose = strchr(pKey, '%');
        if (!pClose || pClose - pKey > INF_LINE_MAX - 1)
            return pszOut[cchOut] = 0, FALSE;
        char szKey[INF_LINE_MAX];
        memcpy(szKey, pKey, pClose - pKey);
        szKey[pClose - pKey] = 0;
        const StringLink *pLink = m_pStringLink;
        while (pLink && StrCmpI(LogStr(pLink->pKey), szKey))
            pLink = pLink->pNext;
        bool bFits;
        if (pLink) {
            const char *pszValue = LogStr(pLink->pValue);
            bFits = AppendBounded(pszOut, cchOut, pszValue, strlen(pszValue));
        } else {
            bFits = AppendBounded(pszOut, cchOut, p, pClose - p + 1);  // "%key%" unchanged
        }
        if (!bFits)
            return pszOut[cchOut] = 0, FALSE;
        p = pClose + 1;
    }
    pszOut[cchOut] = 0;
    return TRUE;
}

/* RemoveQuotes, then ExpandStringKeys, into pszOut (INF_LINE_MAX bytes).
 * Returns the length; 0 when either step fails. */
int CInstallContext::ExpandLine(const char *pszIn, char *pszOut)
{
    char szUnquoted[INF_LINE_MAX];
    if (!RemoveQuotes(pszIn, szUnquoted)) {
        pszOut[0] = 0;
        return 0;
    }
    return ExpandStringKeys(szUnquoted, pszOut);
}

// Expands the section's entries up to and including nIndex, keeping the
// results for later queries until the string table changes. False when an
// entry up to nIndex cannot be expanded.
static bool ExpandThrough(CInstallContext &ctx, InfSection &section, size_t nIndex, DWORD dwGeneration)
{
    if (section.dwGeneration != dwGeneration || section.expanded.size() != section.offsets.size()) {
        section.dwGeneration = dwGeneration;
        section.expanded.assign(section.offsets.size(), std::string());
        section.nExpanded = 0;
        section.bExpandFailed = false;
    }
    char szLine[INF_LINE_MAX];
    while (section.nExpanded <= nIndex && !section.bExpandFailed) {
        const char *pszEntry = section.text.data() + section.offsets[section.nExpanded];
        if (!ctx.ExpandLine(pszEntry, szLine)) {
            section.bExpandFailed = true;
            break;
        }
        section.expanded[section.nExpanded++] = szLine;
    }
    return section.nExpanded > nIndex;
}

// The value of an expanded entry, the text after its first '=' (an entry
// without '=' is its own value); "" when its key part is blank or a comment.
static const char *IndexValue(const std::string &entry)
{
    const char *psz = entry.c_str();
    const char *pEqual = FindCharA(psz, '=');
    const char *p = psz;
    while (IsBlankA(*p))
        p++;
    if (p == pEqual || !*p || *p == ';')
        return "";
    return pEqual ? pEqual + 1 : psz;
}

// Splits an expanded entry at its first '=': key part and value; an entry
// without '=' is its own key and value.
static void SplitEntry(const std::string &entry, std::string &key, const char *&pszValue)
{
    const char *psz = entry.c_str();
    const char *pEqual = FindCharA(psz, '=');
    key.assign(psz, pEqual ? (size_t)(pEqual - psz) : entry.size());
    pszValue = pEqual ? pEqual + 1 : psz;
}

// Copies pszValue into the caller's buffer, cut to cbOut - 1 characters.
static void CopyOut(char *pszOut, DWORD cbOut, const char *pszValue)
{
    if (pszOut && cbOut)
        lstrcpynA(pszOut, pszValue, cbOut);
}

// The section a query reads; a missing, empty or unreadable one is reported
// as the section reader's error and gives NULL.
InfSection *CInstallContext::ReadQueriedSection(const char *pszSection)
{
    InfSection *pSection = ReadSection(m_pInfFileName, pszSection);
    DWORD dwError = GetLastError();
    if (pSection && pSection->cbText)
        return pSection;
    LogErr("GetPrivateProfileSectionReadOnly([%s]) R %d E %d %s", LogStr(pszSection), 0, dwError,
           SysErrorText(dwError).c_str());
    return NULL;
}

/* The value of the first entry of pszSection whose key equals pszKey but for
 * case (NULL: any entry not blank or a comment), quotes removed and keys
 * expanded, into pszOut (cbOut bytes; callers pass 256). FALSE after an error
 * line (no section, an entry that will not expand) or a debug line (no match). */
BOOL CInstallContext::GetFirstLineTextW95(const char *pszSection, const char *pszKey, char *pszOut, DWORD cbOut)
{
    InfSection *pSection = ReadQueriedSection(pszSection);
    if (!pSection)
        return FALSE;
    try {
        std::string key;
        for (size_t i = 0; i < pSection->offsets.size(); i++) {
            if (!ExpandThrough(*this, *pSection, i, m_dwStringGeneration)) {
                LogErr("GetFirstLineTextW95() Length\r\n");
                return FALSE;
            }
            const std::string &entry = pSection->expanded[i];
            if (IsBlankOrComment(entry.c_str()))
                continue;
            const char *pszValue;
            SplitEntry(entry, key, pszValue);
            if (!pszKey || !StrCmpI(pszKey, key.c_str())) {
                CopyOut(pszOut, cbOut, pszValue);
                LogDbg("GetFirstLineTextW95([%s],[%s]) [%s]\r\n", LogStr(pszSection), LogStr(pszKey), pszValue);
                return TRUE;
            }
        }
    } catch (const std::bad_alloc &) {
        LogErr("GetFirstLineTextW95() Length\r\n");
        return FALSE;
    }
    LogDbg("GetFirstLineTextW95([%s],[%s])\r\n", LogStr(pszSection), LogStr(pszKey));
    return FALSE;
}

// Entry nIndex of pszSection as GetIndexLineTextW95 reads it, after every
// entry up to it was expanded: its text as laid out (quotes and keys as
// written), with its expansion in pExpanded. NULL after that query's error
// line (no section, an entry that will not expand) or debug line (out of range).
const char *CInstallContext::ReadIndexEntry(const char *pszSection, int nIndex, const std::string *&pExpanded)
{
    InfSection *pSection = ReadQueriedSection(pszSection);
    if (!pSection)
        return NULL;
    size_t nEntries = pSection->offsets.size();
    size_t nLast = (nIndex >= 0 && (size_t)nIndex < nEntries) ? (size_t)nIndex : nEntries - 1;
    bool bExpanded;
    try {
        bExpanded = ExpandThrough(*this, *pSection, nLast, m_dwStringGeneration);
    } catch (const std::bad_alloc &) {
        bExpanded = false;
    }
    if (!bExpanded) {
        LogErr("GetIndexLineTextW95() Length\r\n");
        return NULL;
    }
    if (nIndex < 0 || (size_t)nIndex >= nEntries) {
        LogDbg("GetIndexLineTextW95([%s],%d) R %d\r\n", LogStr(pszSection), nIndex, 0);
        return NULL;
    }
    pExpanded = &pSection->expanded[nIndex];
    return pSection->text.data() + pSection->offsets[nIndex];
}

/* The value of entry nIndex (from 0; every entry counts) of pszSection into
 * pszOut (cbOut bytes; callers pass 256), "" when its key is blank or a
 * comment. FALSE after an error line (no section, an entry up to nIndex that
 * will not expand) or a debug line (nIndex out of range). */
BOOL CInstallContext::GetIndexLineTextW95(const char *pszSection, int nIndex, char *pszOut, DWORD cbOut)
{
    const std::string *pExpanded;
    if (!ReadIndexEntry(pszSection, nIndex, pExpanded))
        return FALSE;
    CopyOut(pszOut, cbOut, IndexValue(*pExpanded));
    return TRUE;
}

/* The value of entry nIndex of pszSection, as GetIndexLineTextW95 finds it,
 * cut into fields at the commas outside double quotes: each field trimmed of
 * blanks, then its quotes removed and its keys expanded, into aszFields
 * (nFields buffers; later fields are dropped). A %key% whose string holds a
 * comma stays one field. Returns the fields stored; 0 when the value is ""
 * (nothing to read); -1 after GetIndexLineTextW95's error or debug line. */
int CInstallContext::GetIndexLineFields(const char *pszSection, int nIndex, char (*aszFields)[INF_LINE_MAX],
                                        int nFields)
{
    const std::string *pExpanded;
    const char *pszEntry = ReadIndexEntry(pszSection, nIndex, pExpanded);
    if (!pszEntry)
        return -1;
    if (!*IndexValue(*pExpanded))
        return 0;
    const char *pEqual = FindCharA(pszEntry, '=');
    const char *p = pEqual ? pEqual + 1 : pszEntry;
    for (int n = 0;; p++) {
        const char *pField = p;
        bool bQuoted = false;
        while (*p && (bQuoted || *p != ',')) {
            bQuoted ^= *p == '"';
            p = NextCharA(p);
        }
        if (n < nFields && !ExpandField(pField, p, aszFields[n++])) {
            LogErr("GetIndexLineTextW95() Length\r\n");
            return -1;
        }
        if (!*p)
            return n;
    }
}

// One field of an entry, [pBegin, pEnd): blanks trimmed, quotes removed
// (they pair up within a field), keys expanded, into pszOut (INF_LINE_MAX
// bytes); an empty field is "". FALSE when it will not expand.
BOOL CInstallContext::ExpandField(const char *pBegin, const char *pEnd, char *pszOut)
{
    TrimRangeA(pBegin, pEnd);
    char szField[INF_LINE_MAX], szUnquoted[INF_LINE_MAX];
    if (pEnd - pBegin > INF_LINE_MAX - 1)
        return FALSE;
    memcpy(szField, pBegin, pEnd - pBegin);
    szField[pEnd - pBegin] = 0;
    RemoveQuotes(szField, szUnquoted);
    int cch;
    return ExpandKeys(szUnquoted, pszOut, cch);
}

/* The number of entries of pszSection, neither expanded nor filtered; 0
 * after an error line when the section is missing or empty. */
int CInstallContext::GetLineCountW95(const char *pszSection)
{
    InfSection *pSection = ReadQueriedSection(pszSection);
    if (!pSection)
        return 0;
    return (int)pSection->offsets.size();
}
