#include "infcache.h"
#include "installcontext.h"
#include "splstr.h"
#include <string.h>
#include <algorithm>

// Files beyond this size are refused rather than read into memory.
static const DWORD kMaxInfBytes = 64 * 1024 * 1024;

// Same size, write time and attributes: the copy still answers for the file.
static bool SameFile(const WIN32_FILE_ATTRIBUTE_DATA &a, const WIN32_FILE_ATTRIBUTE_DATA &b)
{
    return a.nFileSizeLow == b.nFileSizeLow && a.nFileSizeHigh == b.nFileSizeHigh &&
           CompareFileTime(&a.ftLastWriteTime, &b.ftLastWriteTime) == 0 &&
           a.dwFileAttributes == b.dwFileAttributes;
}

// Notes the call that failed (a static string) with the last error; false.
bool InfCache::Failed(const char *pszCall)
{
    m_pszFailedCall = pszCall;
    m_dwFailedError = GetLastError();
    return false;
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
    BOOL bFound = GetFileAttributesExA(pszPath, GetFileExInfoStandard, &fad);
    if (!bFound || (fad.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        if (bFound)
            SetLastError(ERROR_DIRECTORY);  // a folder of that name
        Failed("GetFileAttributesEx");
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
 * pieces that 255-character line reads return, noting the section headers.
 * False when it cannot be opened or read. */
bool InfCache::Load(const char *pszPath)
{
    m_strText.clear();
    m_pieces.clear();
    m_headers.clear();
    HANDLE hFile = CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return Failed("CreateFile");
    DWORD cbHigh = 0;
    DWORD cbFile = GetFileSize(hFile, &cbHigh);
    if (cbFile == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        Failed("GetFileSize");
        CloseHandle(hFile);
        return false;
    }
    if (cbHigh || cbFile > kMaxInfBytes) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        Failed("GetFileSize");
        CloseHandle(hFile);
        return false;
    }
    std::string raw(cbFile, '\0');
    DWORD cbRead = 0;
    BOOL bRead = !cbFile || ReadFile(hFile, &raw[0], cbFile, &cbRead, NULL);
    if (!bRead)
        Failed("ReadFile");
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
    // A piece after a full one that did not end its line continues that line
    // (a lone line feed after 255 characters only ends it).
    const char *pText = m_strText.data();
    size_t cbText = m_strText.size();
    bool bLineOpen = false;
    for (size_t pos = 0; pos < cbText;) {
        size_t end = pos;
        while (end < cbText && end - pos < INF_LINE_MAX - 1) {
            if (pText[end++] == '\n')
                break;
        }
        const void *pNul = memchr(pText + pos, 0, end - pos);
        Piece piece = {(DWORD)pos, (DWORD)(pNul ? (const char *)pNul - (pText + pos) : end - pos), pNul != NULL,
                       bLineOpen && !(end - pos == 1 && pText[pos] == '\n')};
        m_pieces.push_back(piece);
        bLineOpen = pText[end - 1] != '\n';
        pos = end;
    }

    // Headers: a line whose first non-blank is '['; its name runs to the
    // first ']' (or the end of the line), blanks trimmed.
    for (size_t i = 0; i < m_pieces.size(); i++) {
        if (m_pieces[i].bContinued)
            continue;
        const char *p = pText + m_pieces[i].dwOffset;
        const char *pEnd = p + m_pieces[i].cch;
        while (p < pEnd && IsBlankA(*p))
            p++;
        if (p == pEnd || *p != '[')
            continue;
        const char *pName = ++p;
        while (p < pEnd && *p != ']')
            p += (IsDBCSLeadByte((BYTE)*p) && p + 1 < pEnd) ? 2 : 1;
        TrimRangeA(pName, p);
        m_headers.push_back(Header{i, std::string(pName, p)});
    }
    return true;
}

/* Appends to section the entries of the pieces from iFirstPiece on, up to
 * the first whose key part holds '['; comment lines and empty entries are
 * left out. A semicolon or comma between double quotes is text. The rest of
 * a line that is longer than a line read is ignored when it lies in a
 * comment; otherwise the section is refused: dwLongLine names the line and
 * the section keeps no entries. */
void InfCache::ReadEntries(size_t iFirstPiece, InfSection &section) const
{
    const char *pText = m_strText.data();
    bool bRestIgnored = true;  // the header line's own rest
    for (size_t i = iFirstPiece; i < m_pieces.size(); i++) {
        const Piece &piece = m_pieces[i];
        if (piece.bContinued) {
            if (bRestIgnored)
                continue;
            section.dwLongLine = LineNumber(i);
            section.entries.clear();
            return;
        }
        const char *pLine = pText + piece.dwOffset;
        const char *pLineEnd = pLine + piece.cch;
        // The key runs to the first '=' or unquoted ';'; a '[' on the way
        // ends the section.
        bool bQuoted = false;
        const char *p = pLine;
        while (p < pLineEnd && *p != '=' && (bQuoted || *p != ';')) {
            if (*p == '[')
                return;
            bQuoted ^= *p == '"';
            p += (IsDBCSLeadByte((BYTE)*p) && p + 1 < pLineEnd) ? 2 : 1;
        }
        bRestIgnored = piece.bCutAtNul || (p < pLineEnd && *p == ';');
        if (p < pLineEnd && *p == ';')
            continue;
        const char *pKey = pLine, *pKeyEnd = p;
        TrimRangeA(pKey, pKeyEnd);
        std::string entry(pKey, pKeyEnd);
        if (p < pLineEnd) {  // stopped at '='
            const char *pValue = p + 1;
            const char *pValueEnd = pValue;
            while (pValueEnd < pLineEnd && (bQuoted || *pValueEnd != ';')) {
                bQuoted ^= *pValueEnd == '"';
                pValueEnd++;
            }
            bRestIgnored |= pValueEnd < pLineEnd;
            TrimRangeA(pValue, pValueEnd);
            entry.push_back('=');
            entry.append(pValue, pValueEnd);
        }
        if (!entry.empty())
            section.entries.push_back(entry);
    }
}

// The number of the file's line (from 1) that piece iPiece belongs to.
DWORD InfCache::LineNumber(size_t iPiece) const
{
    const char *pText = m_strText.data();
    return 1 + (DWORD)std::count(pText, pText + m_pieces[iPiece].dwOffset, '\n');
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

    const char *pName = pszSection, *pNameEnd = pszSection + strlen(pszSection);
    TrimRangeA(pName, pNameEnd);
    std::string name(pName, pNameEnd);
    for (const Header &header : m_headers) {
        if (StrCmpI(header.name.c_str(), name.c_str()))
            continue;
        InfSection &section = m_sections[pszSection];
        ReadEntries(header.iPiece + 1, section);
        section.text.resize(INF_SECTION_MAX);
        section.cbText = Layout(section.entries, section.text.data(), INF_SECTION_MAX, &section.offsets);
        return &section;
    }
    return NULL;
}
