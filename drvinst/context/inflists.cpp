// The context's three lists (strings, files to copy, registry lines) and the
// loading of the INF's string table.
#include "installcontext.h"
#include "infcache.h"
#include "splstr.h"
#include <stdio.h>
#include <string.h>

// One pattern for every node type: a zero-filled node whose string fields are
// copies of the arguments (NULL stays NULL), appended at the tail. pTail
// remembers the last node appended, so that long lists grow in constant time;
// the walk from the head serves whenever it is not the list's end.
template <class Node, size_t N>
static Node *AppendLink(CInstallContext &ctx, Node *&pHead, Node *&pTail, char *Node::*const (&fields)[N],
                        const char *const (&values)[N], const char *pszName)
{
    Node *pNode = (Node *)AllocSplMem(sizeof(Node));
    if (!pNode) {
        ctx.LogErr("%s() AllocSplMem\r\n", pszName);
        return NULL;
    }
    for (size_t i = 0; i < N; i++) {
        pNode->*fields[i] = AllocSplStr(values[i]);
        if (values[i] && !(pNode->*fields[i])) {
            for (size_t j = 0; j < i; j++)
                FreeSplStr(pNode->*fields[j]);
            FreeSplMem(pNode);
            ctx.LogErr("%s() AllocSplStr\r\n", pszName);
            return NULL;
        }
    }
    Node **ppTail = (pHead && pTail && !pTail->pNext) ? &pTail->pNext : &pHead;
    while (*ppTail)
        ppTail = &(*ppTail)->pNext;
    *ppTail = pNode;
    pTail = pNode;
    return pNode;
}

/* Appends a string-table node with copies of key and value (NULL stays NULL)
 * and returns it; the context owns it. NULL after an error line when out of
 * memory, the list unchanged. Expansions kept for the old table are dropped. */
StringLink *CInstallContext::AddStringLinkW95(const char *pszKey, const char *pszValue)
{
    static char *StringLink::*const fields[] = {&StringLink::pKey, &StringLink::pValue};
    const char *const values[] = {pszKey, pszValue};
    m_dwStringGeneration++;
    return AppendLink(*this, m_pStringLink, m_pStringTail, fields, values, "AddStringLinkW95");
}

/* Appends a FileLink with copies of the five fields (NULL stays NULL,
 * bNotDependent 0) and returns it; the context owns it. NULL after an error
 * line when out of memory, the list unchanged. */
FileLink *CInstallContext::AddFileLink(const char *pszDst, const char *pszSrc, const char *pszTmp,
                                       const char *pszFlag, const char *pszDir)
{
    static char *FileLink::*const fields[] = {&FileLink::pDst, &FileLink::pSrc, &FileLink::pTmp,
                                              &FileLink::pFlag, &FileLink::pDir};
    const char *const values[] = {pszDst, pszSrc, pszTmp, pszFlag, pszDir};
    return AppendLink(*this, m_pFileLink, m_pFileTail, fields, values, "AddFileLink");
}

/* Appends a RegLink with copies of the five fields (NULL stays NULL) and
 * returns it; the context owns it. NULL after an error line when out of
 * memory, the list unchanged. */
RegLink *CInstallContext::AddRegLink(const char *pszRoot, const char *pszSubKey, const char *pszValueName,
                                     const char *pszFlag, const char *pszValue)
{
    static char *RegLink::*const fields[] = {&RegLink::pRoot, &RegLink::pSubKey, &RegLink::pValueName,
                                             &RegLink::pFlag, &RegLink::pValue};
    const char *const values[] = {pszRoot, pszSubKey, pszValueName, pszFlag, pszValue};
    return AppendLink(*this, m_pRegLink, m_pRegTail, fields, values, "AddRegLink");
}

/* Frees the string table and sets m_pStringLink to NULL; expansions kept
 * for the old table are dropped. */
void CInstallContext::FreeStringLinks()
{
    while (StringLink *p = m_pStringLink) {
        m_pStringLink = p->pNext;
        FreeSplStr(p->pKey);
        FreeSplStr(p->pValue);
        FreeSplMem(p);
    }
    m_pStringTail = NULL;
    m_dwStringGeneration++;
}

/* Replaces the string table with the first of [Strings.%04X] formed with
 * the system's full language id (m_wLangID, as Strings.0411), with its
 * primary language (Strings.0011), and [Strings] that has entries; with
 * none, the table stays and the answer is TRUE. Values are unquoted, not
 * expanded. FALSE after an error line (odd quotes, no '=', no memory, a
 * strings section refused for a line too long); earlier entries stay. */
BOOL CInstallContext::ListStringDirectiveW95()
{
    char szFull[32], szPrimary[32];
    sprintf(szFull, "Strings.%04X", m_wLangID);
    sprintf(szPrimary, "Strings.%04X", m_wLangID & 0x3FF);
    const char *apszSections[] = {szFull, szPrimary, "Strings"};
    char *pBuffer = (char *)AllocSplMem(INF_SECTION_MAX);
    if (!pBuffer) {
        LogErr("ListStringDirectiveW95() AllocSplMem\r\n");
        return FALSE;
    }
    DWORD cb = 0;
    for (const char *pszSection : apszSections) {
        if (pszSection == szPrimary && !strcmp(szFull, szPrimary))
            continue;  // a language without a sublanguage is read once
        cb = GetPrivateProfileSectionReadOnly(pszSection, pBuffer, INF_SECTION_MAX, m_pInfFileName);
        DWORD dwError = GetLastError();
        LogDbg("GetPrivateProfileSectionReadOnly([%s]) R %d E %d %s", pszSection, cb, dwError,
               SysErrorText(dwError).c_str());
        if (!cb && dwError == ERROR_INSUFFICIENT_BUFFER) {
            FreeSplMem(pBuffer);
            return FALSE;  // refused, after its error line; no other language stands in
        }
        if (cb)
            break;
    }
    if (!cb) {
        FreeSplMem(pBuffer);
        return TRUE;
    }
    FreeStringLinks();
    BOOL bResult = TRUE;
    char szEntry[INF_LINE_MAX];
    for (char *pEntry = pBuffer; *pEntry; pEntry += strlen(pEntry) + 1) {
        if (!RemoveQuotes(pEntry, szEntry)) {
            LogErr("ListStringDirectiveW95() Length\r\n");
            bResult = FALSE;
            break;
        }
        if (IsBlankOrComment(szEntry))
            continue;
        char *pEqual = (char *)FindCharA(szEntry, '=');
        if (!pEqual) {
            LogErr("ListStringDirectiveW95() pEqual\r\n");
            bResult = FALSE;
            break;
        }
        *pEqual = 0;
        if (!AddStringLinkW95(szEntry, pEqual + 1)) {
            bResult = FALSE;
            break;
        }
    }
    FreeSplMem(pBuffer);
    return bResult;
}
