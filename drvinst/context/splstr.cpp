// The installer's heap and string utilities; their contracts are in splstr.h.
#include "splstr.h"
#include <string.h>

void *AllocSplMem(size_t cb)
{
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, cb ? cb : 1);
}

char *AllocSplStr(const char *psz)
{
    return psz ? AllocSplStrN(psz, strlen(psz)) : NULL;
}

char *AllocSplStrN(const char *psz, size_t cch)
{
    if (!psz)
        return NULL;
    char *pszCopy = (char *)AllocSplMem(cch + 1);
    if (pszCopy)
        memcpy(pszCopy, psz, cch);
    return pszCopy;
}

void FreeSplMem(void *p)
{
    if (p)
        HeapFree(GetProcessHeap(), 0, p);
}

void FreeSplStr(char *&psz)
{
    FreeSplMem(psz);
    psz = NULL;
}

// ASCII letters to upper case; every other byte, trail bytes too, unchanged.
static inline unsigned char UpperByte(char ch)
{
    unsigned char c = (unsigned char)ch;
    return (c >= 'a' && c <= 'z') ? (unsigned char)(c - 'a' + 'A') : c;
}

int StrNCmpI(const char *psz1, const char *psz2, size_t cch)
{
    for (size_t i = 0; i < cch; i++) {
        int d = (int)UpperByte(psz1[i]) - (int)UpperByte(psz2[i]);
        if (d || !psz1[i])
            return d;
    }
    return 0;
}

int StrCmpI(const char *psz1, const char *psz2)
{
    return StrNCmpI(psz1, psz2, (size_t)-1);
}

const char *StrStrI(const char *psz, const char *pszFind)
{
    if (!psz || !pszFind)
        return NULL;
    size_t cchFind = strlen(pszFind);
    size_t cch = strlen(psz);
    if (cchFind > cch)
        return NULL;
    if (!cchFind)
        return psz;
    unsigned char first = UpperByte(pszFind[0]);
    for (size_t i = 0; i + cchFind <= cch; i++) {
        if (UpperByte(psz[i]) == first && !StrNCmpI(psz + i, pszFind, cchFind))
            return psz + i;
    }
    return NULL;
}

const char *FindCharA(const char *psz, char ch)
{
    for (; *psz; psz = NextCharA(psz)) {
        if (*psz == ch)
            return psz;
    }
    return NULL;
}

const char *FindLastCharA(const char *psz, char ch)
{
    const char *pszLast = NULL;
    for (; *psz; psz = NextCharA(psz)) {
        if (*psz == ch)
            pszLast = psz;
    }
    return pszLast;
}

char *TrimA(char *psz)
{
    const char *pBegin = psz, *pEnd = psz + strlen(psz);
    TrimRangeA(pBegin, pEnd);
    memmove(psz, pBegin, pEnd - pBegin);
    psz[pEnd - pBegin] = 0;
    return psz;
}

BOOL IsAbsolutePathA(const char *pszPath)
{
    return pszPath && (pszPath[0] == '\\' || FindCharA(pszPath, ':'));
}

BOOL IsDriveRelativePathA(const char *pszPath)
{
    return pszPath && ((pszPath[0] | 0x20) >= 'a' && (pszPath[0] | 0x20) <= 'z') && pszPath[1] == ':' &&
           pszPath[2] != '\\';
}
