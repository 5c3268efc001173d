#include "syslib.h"

HMODULE LoadSystemLibraryA(LPCSTR pszName, char *pszPath, UINT cchPath)
{
    if (!pszName || !pszPath || !cchPath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    UINT cchDir = GetSystemDirectoryA(pszPath, cchPath);
    DWORD dwError = GetLastError();
    UINT cchName = (UINT)lstrlenA(pszName);
    if (!cchDir || cchDir >= cchPath || cchPath - cchDir < cchName + 2) {
        lstrcpynA(pszPath, pszName, (int)cchPath);
        SetLastError(cchDir ? ERROR_FILENAME_EXCED_RANGE : dwError);
        return NULL;
    }
    pszPath[cchDir] = '\\';
    memcpy(pszPath + cchDir + 1, pszName, cchName + 1);
    return LoadLibraryA(pszPath);
}
