#include "infcache.h"
#include "installcontext.h"
#include "splstr.h"
#include <string.h>

// Files beyond this size are refused rather than read into memory.
static const DWORD kMaxInfBytes = 64 * 1024 * 1024;

// Same size, write time and attributes: the copy still answers for the file.
static bool SameFile(const WIN32_FILE_ATTRIBUTE_DATA &a, const WIN32_FILE_ATTRIBUTE_DATA &b)
{
    return a.nFileSizeLow == b.nFileSizeLow && a.nFileSizeHigh == b.nFileSizeHigh &&
           CompareFileTime(&a.ftLastWriteTime, &b.ftLastWriteTime) == 0 &&
           a.dwFileAttributes == b.dwFileAttributes;
}

/* Makes the copy answer for pszPath as it is on disk, looking at the file at
 * most once per clock tick; a new path or a changed file reloads it and
 * drops every section laid out. False when the file is missing, a
 * directory, or cannot be read. */
bool InfCache::Refresh(const char *pszPath)
{
    DWORD dwTick = GetTickCount();
    if (m_bLoaded && dwTick == m_dwCheckedTick && m_strPath == pszPath)
        return true;
    m_dwCheckedTick = dwTick;
    WIN32_FILE_ATTRIBUTE_DATA fad;
    if (!GetFileAttributesExA(pszPath, GetFileExInfoStandard, &fad) ||
        (fad.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        m_bLoaded = false;
        return false;
    }
    if (m_bLoaded && m_strPath == pszPath && SameFile(fad, m_fad))
        return true;
    m_bLoaded = false;
    m_sections.clear();
    m_fad = fad;
    m_strPath = pszPath;
    m_bLoaded = Load(pszPath);
    return m_bLoaded;
}

/* Reads the file (at most 64 MB) as text mode reads it and cuts it into the
 * pieces that 255-character line reads return, noting header candidates.
 * False when it cannot be opened or read. */
bool InfCache::Load(const char *pszPath)
{
    m_strText.clear();
    m_pieces.clear();
    m_headers.clear();
    HANDLE hFile = CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    DWORD cbHigh = 0;
    DWORD cbFile = GetFileSize(hFile, &cbHigh);
    if (cbHigh || cbFile > kMaxInfBytes) {
        CloseHandle(hFile);
        return false;
    }
    std::string raw(cbFile, '\0');
    DWORD cbRead = 0;
    BOOL bRead = !cbFile || ReadFile(hFile, &raw[0], cbFile, &cbRead, NULL);
    CloseHandle(hFile);
    if (!bRead)
        return false;
    raw.resize(cbRead);

    // Text mode: CR LF becomes LF, Ctrl-Z ends the file.
    m_strText.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); i++) {
        char ch = raw[i];
        if (ch == 0x1A)
            break;
        if (ch == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')
            continue;
        m_strText.push_back(ch);
    }

    // Line reads of at most 255 characters, each ending after its line feed.
    const char *pText = m_strText.data();
    size_t cbText = m_strText.size();
    for (size_t pos = 0; pos < cbText;) {
        size_t end = pos;
        while (end < cbText && end - pos < INF_LINE_MAX - 1) {
            if (pText[end++] == '\n')
                break;
        }
        const void *pNul = memchr(pText + pos, 0, end - pos);
        Piece piece = {(DWORD)pos, (DWORD)(pNul ? (const char *)pNul - (pText + pos) : end - pos)};
        m_pieces.push_back(piece);
        pos = end;
    }

    // Header candidates: first non-blank is not ';' or the end, '[' somewhere.
    for (size_t i = 0; i < m_pieces.size(); i++) {
        const char *p = pText + m_pieces[i].dwOffset;
        const char *pEnd = p + m_pieces[i].cch;
        const char *q = p;
        while (q < pEnd && IsBlankA(*q))
            q++;
        if (q == pEnd || *q == ';')
            continue;
        if (memchr(p, '[', pEnd - p))
            m_headers.push_back(i);
    }
    return true;
}

// Narrows [pBegin, pEnd) to exclude white space at both ends.
static void Trim(const char *&pBegin, const char *&pEnd)
{
    while (pBegin < pEnd && IsBlankA(*pBegin))
        pBegin++;
    while (pEnd > pBegin && IsBlankA(pEnd[-1]))
        pEnd--;
}

/* Appends to section the entries of the pieces from iFirstPiece on, up to
 * the first whose key part holds '['; comment lines and empty entries are
 * left out. */
void InfCache::ReadEntries(size_t iFirstPiece, InfSection &section) const
{
    const char *pText = m_strText.data();
    for (size_t i = iFirstPiece; i < m_pieces.size(); i++) {
        const char *pLine = pText + m_pieces[i].dwOffset;
        const char *pLineEnd = pLine + m_pieces[i].cch;
        // The key runs to the first '=' or ';'; a '[' on the way ends the section.
        const char *p = pLine;
        while (p < pLineEnd && *p != '=' && *p != ';') {
            if (*p == '[')
                return;
            p += (IsDBCSLeadByte((BYTE)*p) && p + 1 < pLineEnd) ? 2 : 1;
        }
        if (p < pLineEnd && *p == ';')
            continue;
        const char *pKey = pLine, *pKeyEnd = p;
        Trim(pKey, pKeyEnd);
        std::string entry(pKey, pKeyEnd);
        if (p < pLineEnd) {  // stopped at '='
            const char *pValue = p + 1;
            const char *pValueEnd = pValue;
            while (pValueEnd < pLineEnd && *pValueEnd != ';')
                pValueEnd++;
            Trim(pValue, pValueEnd);
            entry.push_back('=');
            entry.append(pValue, pValueEnd);
        }
        if (!entry.empty())
            section.entries.push_back(entry);
    }
}

DWORD InfCache::Layout(const std::vector<std::string> &entries, char *pBuffer, DWORD cbBuffer,
                       std::vector<DWORD> *pOffsets)
{
    if (!pBuffer || cbBuffer < 2) {
        if (pBuffer && cbBuffer)
            pBuffer[0] = 0;
        return 0;
    }
    DWORD dwLimit = cbBuffer - 2;
    DWORD pos = 0;
    for (const std::string &entry : entries) {
        if (pos >= dwLimit)
            break;
        if (pOffsets)
            pOffsets->push_back(pos);
        DWORD cb = (DWORD)entry.size() + 1;
        if (cb > dwLimit - pos) {  // cut here; the entry's terminator follows
            memcpy(pBuffer + pos, entry.data(), dwLimit - pos);
            pos = dwLimit;
            pBuffer[pos++] = 0;
            break;
        }
        memcpy(pBuffer + pos, entry.c_str(), cb);
        pos += cb;
    }
    pBuffer[pos] = 0;
    return pos;
}

InfSection *InfCache::Section(const char *pszPath, const char *pszSection)
{
    if (!pszPath || !Refresh(pszPath)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return NULL;
    }
    SetLastError(0);
    if (!pszSection)
        return NULL;
    auto found = m_sections.find(pszSection);
    if (found != m_sections.end())
        return &found->second;

    const char *pText = m_strText.data();
    char szLine[INF_LINE_MAX];
    for (size_t iHeader : m_headers) {
        const Piece &piece = m_pieces[iHeader];
        memcpy(szLine, pText + piece.dwOffset, piece.cch);
        szLine[piece.cch] = 0;
        if (!StrStrI(szLine, pszSection))
            continue;
        InfSection &section = m_sections[pszSection];
        ReadEntries(iHeader + 1, section);
        section.text.resize(INF_SECTION_MAX);
        section.cbText = Layout(section.entries, section.text.data(), INF_SECTION_MAX, &section.offsets);
        return &section;
    }
    return NULL;
}
