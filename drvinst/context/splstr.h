// Shared string and heap utilities of the installer: zero-filled heap blocks,
// heap string copies, case-insensitive compares, and character scans that
// step over double-byte characters of the system code page.
#pragma once
#include <windows.h>

// Blocks come from the process heap and are the caller's to free with
// FreeSplMem (or FreeSplStr, which also clears the pointer).
void *AllocSplMem(size_t cb);                 // cb zero-filled bytes or NULL
char *AllocSplStr(const char *psz);           // heap copy; NULL for NULL or no memory
char *AllocSplStrN(const char *psz, size_t cch);  // copy of the first cch bytes (psz holds them), terminated
void FreeSplMem(void *p);                     // accepts NULL
void FreeSplStr(char *&psz);                  // frees and clears

// Compares cch bytes, each mapped to upper case; stops at the first difference
// or at a NUL of psz1. Returns <0, 0 or >0 like strncmp.
int StrNCmpI(const char *psz1, const char *psz2, size_t cch);
// First position of pszFind in psz, compared case-insensitively; an empty
// pszFind matches at the start; NULL arguments or a longer pszFind: NULL.
const char *StrStrI(const char *psz, const char *pszFind);
int StrCmpI(const char *psz1, const char *psz2);  // whole strings, same mapping

// Character scans that never take a trail byte for the character sought. psz
// must not be NULL; the result points into it, or is NULL when ch is absent.
const char *FindCharA(const char *psz, char ch);
const char *FindLastCharA(const char *psz, char ch);
// Position of the next character: one byte, or two for a double-byte one.
inline const char *NextCharA(const char *psz)
{
    if (!*psz)
        return psz;
    if (IsDBCSLeadByte((BYTE)*psz) && psz[1])
        return psz + 2;
    return psz + 1;
}

// White space as the installer counts it: space, \t, \n, \v, \f, \r.
inline bool IsBlankA(char ch)
{
    return ch == ' ' || (ch >= '\t' && ch <= '\r');
}

// Narrows [pBegin, pEnd) to leave out white space at both ends (a trail
// byte is never white space).
inline void TrimRangeA(const char *&pBegin, const char *&pEnd)
{
    while (pBegin < pEnd && IsBlankA(*pBegin))
        pBegin++;
    while (pEnd > pBegin && IsBlankA(pEnd[-1]))
        pEnd--;
}
// Removes white space at both ends of psz (not NULL), in place; returns psz.
char *TrimA(char *psz);

// A path is absolute when it starts with a backslash or holds a colon.
BOOL IsAbsolutePathA(const char *pszPath);
// A drive letter and a colon not followed by a backslash: "D:TZ.INF", "D:".
BOOL IsDriveRelativePathA(const char *pszPath);

// "KztNull" for an absent string in log lines.
inline const char *LogStr(const char *psz)
{
    return psz ? psz : "KztNull";
}
