// Points a loaded module's imports of one function at a stand-in: the way the
// test-side stand-ins come between a module and Wine's own function.
#pragma once
#include <windows.h>

/* Sets every import slot of hModule for pszName (with or without a "@n"
 * decoration) from the library pszDll (case-insensitive) to pfnNew. When
 * ppfnOld is given it receives the value a slot held before. Returns the
 * number of slots changed. */
int PatchImport(HMODULE hModule, const char *pszDll, const char *pszName, ULONG_PTR pfnNew, ULONG_PTR *ppfnOld);
