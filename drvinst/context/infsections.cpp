// The sections an install section refers to: file lists with their
// destination directories, registry lines, and the dependent-file list.
#include "installcontext.h"
#include "splstr.h"
#include "syslib.h"
#include <stdlib.h>
#include <string.h>
#include <string>

// Reads the section's nCount entries by index, skips empty ones and hands
// each, cut into nFields fields (absent ones NULL), to add; stops at the
// first failure.
template <int nFields, class Add>
static BOOL ForEachLine(CInstallContext &ctx, const char *pszSection, int nCount, Add add)
{
    char aszFields[nFields][INF_LINE_MAX];
    for (int i = 0; i < nCount; i++) {
        int nFound = ctx.GetIndexLineFields(pszSection, i, aszFields, nFields);
        if (nFound < 0)
            return FALSE;
        if (!nFound)
            continue;
        const char *apszFields[nFields];
        for (int j = 0; j < nFields; j++)
            apszFields[j] = j < nFound ? aszFields[j] : NULL;
        if (!add(apszFields))
            return FALSE;
    }
    return TRUE;
}

/* Adds the files of one CopyFiles item: "@name" is one file of the default
 * destination (blanks after the "@" left out); any other item is a file-list
 * section whose lines "dst,src,tmp,flags" share its directory. An empty or
 * blank item, or a lone "@", adds nothing (TRUE). FALSE when the section, its
 * directory or a line fails; nodes added before stay. */
BOOL CInstallContext::ParseCopyFilesItem(const char *pszItem)
{
    char szDir[INF_PATH_MAX];
    if (IsBlankOrComment(pszItem + (pszItem[0] == '@'))) {
        LogDbg("ParseCopyFilesItem([%s]) Empty\r\n", pszItem);
        return TRUE;
    }
    if (pszItem[0] == '@') {
        const char *pszName = pszItem + 1;
        while (IsBlankA(*pszName))
            pszName++;
        if (!GetDestDir(NULL, szDir, sizeof(szDir)))
            return FALSE;
        return AddFileLink(pszName, NULL, NULL, NULL, szDir) != NULL;
    }
    int nCount = GetLineCountW95(pszItem);
    if (nCount <= 0 || !GetDestDir(pszItem, szDir, sizeof(szDir)))
        return FALSE;
    return ForEachLine<4>(*this, pszItem, nCount, [&](const char **f) {
        return AddFileLink(f[0], f[1], f[2], f[3], szDir) != NULL;
    });
}

/* Adds a RegLink for each line "root,subkey,name,flags,value" of registry
 * section pszItem (fields after the fifth dropped); an empty or blank item
 * adds nothing (TRUE). FALSE when the section is missing or empty or a line
 * fails; nodes added before stay. */
BOOL CInstallContext::ParseAddRegSection(const char *pszItem)
{
    if (IsBlankOrComment(pszItem)) {
        LogDbg("ParseAddRegSection([%s]) Empty\r\n", pszItem);
        return TRUE;
    }
    int nCount = GetLineCountW95(pszItem);
    if (nCount <= 0)
        return FALSE;
    return ForEachLine<5>(*this, pszItem, nCount, [&](const char **f) {
        return AddRegLink(f[0], f[1], f[2], f[3], f[4]) != NULL;
    });
}

// Appends "\<pszDir>" to the directory in pszOut (cbOut bytes). FALSE after
// "GetDestDir() Length" when the result would not fit.
static BOOL AppendDir(CInstallContext &ctx, char *pszOut, DWORD cbOut, const char *pszDir)
{
    size_t cchDir = strlen(pszOut);
    if (cchDir + 1 + strlen(pszDir) >= cbOut) {
        ctx.LogErr("GetDestDir() Length\r\n");  // beyond every path buffer
        return FALSE;
    }
    pszOut[cchDir] = '\\';
    lstrcpyA(pszOut + cchDir + 1, pszDir);
    return TRUE;
}

typedef BOOL(WINAPI *PFN_GetColorDirectoryA)(PCSTR pMachineName, PSTR pBuffer, PDWORD pdwSize);

// The color directory (66003) into pszOut (cbOut bytes), from mscms.dll of
// the system directory, which is loaded for the call only: Windows 95 has no
// such library. FALSE after "GetDestDir() No MSCMS_LIB" or the failed call's
// error line.
static BOOL GetColorDir(CInstallContext &ctx, char *pszOut, DWORD cbOut)
{
    char szPath[MAX_PATH];
    HMODULE hMscms = LoadSystemLibraryA("mscms.dll", szPath, sizeof(szPath));
    DWORD dwError = GetLastError();
    if (!hMscms) {
        ctx.LogErr("::LoadLibrary([%s]) R x%x E %d %s", szPath, 0, dwError, SysErrorText(dwError).c_str());
        ctx.LogErr("GetDestDir() No MSCMS_LIB\r\n");
        return FALSE;
    }
    ctx.LogDbg("::LoadLibrary([%s]) R x%x E %d %s", szPath, (UINT)(UINT_PTR)hMscms, dwError,
               SysErrorText(dwError).c_str());
    PFN_GetColorDirectoryA pfnGetColorDirectory =
        (PFN_GetColorDirectoryA)(void *)GetProcAddress(hMscms, "GetColorDirectoryA");
    DWORD cb = cbOut;
    BOOL bResult = pfnGetColorDirectory && pfnGetColorDirectory(NULL, pszOut, &cb);
    dwError = GetLastError();
    if (bResult)
        ctx.LogDbg("::GetColorDirectory [%s] R %d E %d %s", pszOut, bResult, dwError, SysErrorText(dwError).c_str());
    else
        ctx.LogErr("::GetColorDirectory R %d E %d %s", bResult, dwError, SysErrorText(dwError).c_str());
    FreeLibrary(hMscms);
    SetLastError(dwError);
    return bResult;
}

/* The directory of file-list section pszSection (NULL: the default) from
 * [DestinationDirs]: the id's system directory, plus "\sub" when the value
 * names one (blanks around it left out), into pszOut (cbOut bytes; callers
 * pass 256). FALSE after an error line: no entry, an unsupported id, a failed
 * call, or a result too long. */
BOOL CInstallContext::GetDestDir(const char *pszSection, char *pszOut, DWORD cbOut)
{
    char szValue[INF_LINE_MAX];
    if ((!pszSection || !GetFirstLineText("DestinationDirs", pszSection, szValue, sizeof(szValue))) &&
        !GetFirstLineText("DestinationDirs", "DefaultDestDir", szValue, sizeof(szValue))) {
        LogErr("GetDestDir() DefaultDestDir\r\n");
        return FALSE;
    }
    const char *p = szValue;
    while (IsBlankA(*p))
        p++;
    unsigned long ulId = 0;
    for (; *p >= '0' && *p <= '9'; p++)
        ulId = ulId > 0xFFFFFFF ? ulId : ulId * 10 + (*p - '0');

    // Each directory id names one system call; its failure is reported alike.
    pszOut[0] = 0;
    DWORD cch = 0, cbNeeded = 0;
    const char *pszFailure;
    const char *pszBelow = NULL;  // a fixed folder below the call's directory
    switch (ulId) {
    case 10:
        cch = GetWindowsDirectoryA(pszOut, cbOut);
        pszFailure = (cch && cch < cbOut) ? NULL : "::GetWindowsDirectory R %d E %d %s";
        break;
    case 11:
    case 12:
    case 66002:
        cch = GetSystemDirectoryA(pszOut, cbOut);
        pszFailure = (cch && cch < cbOut) ? NULL : "::GetSystemDirectory R %d E %d %s";
        pszBelow = ulId == 12 ? "drivers" : NULL;
        break;
    case 66000:
        cch = GetPrinterDriverDirectoryA(NULL, NULL, 1, (LPBYTE)pszOut, cbOut, &cbNeeded);
        pszFailure = cch ? NULL : "::GetPrinterDriverDirectory R %d E %d %s";
        break;
    case 66001:
        cch = GetPrintProcessorDirectoryA(NULL, NULL, 1, (LPBYTE)pszOut, cbOut, &cbNeeded);
        pszFailure = cch ? NULL : "::GetPrintProcessorDirectory R %d E %d %s";
        break;
    case 66003:
        if (!GetColorDir(*this, pszOut, cbOut))
            return FALSE;
        pszFailure = NULL;
        break;
    default:
        LogErr("GetDestDir() DirectoryID\r\n");
        return FALSE;
    }
    if (pszFailure) {
        DWORD dwError = GetLastError();
        LogErr(pszFailure, cch, dwError, SysErrorText(dwError).c_str());
        return FALSE;
    }
    if (pszBelow && !AppendDir(*this, pszOut, cbOut, pszBelow))
        return FALSE;
    if (const char *pComma = FindCharA(szValue, ',')) {
        const char *pszSub = TrimA((char *)pComma + 1);
        if (*pszSub && !AppendDir(*this, pszOut, cbOut, pszSub))
            return FALSE;
    }
    return TRUE;
}

/* The dependent files as "A.DLL,B.HLP,": each destination once (at its last
 * occurrence), never the four main files; sets every bNotDependent. A heap
 * string the caller frees with FreeSplMem; NULL for an empty file list (no
 * message) or after an error line. After ParseInf. */
char *CInstallContext::AllocDependentFiles()
{
    if (!m_pFileLink)
        return NULL;
    const char *apszMain[] = {GetDirective("DriverFile"), GetDirective("DataFile"), GetDirective("ConfigFile"),
                              GetDirective("HelpFile")};
    size_t cbTotal = 1;
    for (FileLink *p = m_pFileLink; p; p = p->pNext) {
        p->bNotDependent = 0;
        for (const FileLink *q = p->pNext; q && !p->bNotDependent; q = q->pNext)
            p->bNotDependent = !StrCmpI(LogStr(p->pDst), LogStr(q->pDst));
        for (const char *pszMain : apszMain)
            p->bNotDependent |= pszMain && !StrCmpI(LogStr(p->pDst), pszMain);
        if (!p->bNotDependent)
            cbTotal += strlen(LogStr(p->pDst)) + 1;
    }
    char *pszFiles = (char *)AllocSplMem(cbTotal);
    if (!pszFiles) {
        LogErr("AllocDependentFiles() AllocSplMem\r\n");
        return NULL;
    }
    char *pOut = pszFiles;
    for (const FileLink *p = m_pFileLink; p; p = p->pNext) {
        if (p->bNotDependent)
            continue;
        size_t cch = strlen(LogStr(p->pDst));
        memcpy(pOut, LogStr(p->pDst), cch);
        pOut[cch] = ',';
        pOut += cch + 1;
    }
    return pszFiles;
}
