#include "importpatch.h"
#include <string.h>

// An imported name matches with or without a "@n" decoration.
static bool SameName(const char *pszImported, const char *pszName)
{
    size_t cch = strlen(pszName);
    return strncmp(pszImported, pszName, cch) == 0 && (pszImported[cch] == 0 || pszImported[cch] == '@');
}

int PatchImport(HMODULE hModule, const char *pszDll, const char *pszName, ULONG_PTR pfnNew, ULONG_PTR *ppfnOld)
{
    BYTE *pBase = (BYTE *)hModule;
    auto *pDos = (IMAGE_DOS_HEADER *)pBase;
    auto *pNt = (IMAGE_NT_HEADERS *)(pBase + pDos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &dir = pNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    int nPatched = 0;
    for (auto *pImport = (IMAGE_IMPORT_DESCRIPTOR *)(pBase + dir.VirtualAddress); dir.VirtualAddress && pImport->Name;
         ++pImport) {
        if (lstrcmpiA((const char *)(pBase + pImport->Name), pszDll) != 0)
            continue;
        auto *pNames = (IMAGE_THUNK_DATA *)(pBase + pImport->OriginalFirstThunk);
        auto *pSlots = (IMAGE_THUNK_DATA *)(pBase + pImport->FirstThunk);
        for (; pNames->u1.AddressOfData; ++pNames, ++pSlots) {
            if (IMAGE_SNAP_BY_ORDINAL(pNames->u1.Ordinal))
                continue;
            auto *pByName = (IMAGE_IMPORT_BY_NAME *)(pBase + pNames->u1.AddressOfData);
            if (!SameName((const char *)pByName->Name, pszName))
                continue;
            DWORD dwOld;
            VirtualProtect(&pSlots->u1.Function, sizeof(pSlots->u1.Function), PAGE_READWRITE, &dwOld);
            if (ppfnOld)
                *ppfnOld = pSlots->u1.Function;
            pSlots->u1.Function = pfnNew;
            VirtualProtect(&pSlots->u1.Function, sizeof(pSlots->u1.Function), dwOld, &dwOld);
            ++nPatched;
        }
    }
    return nPatched;
}
