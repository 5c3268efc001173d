// Loading a library of the system by its full path, never through the
// search order (the current or the program's directory could hold another
// file of that name).
#pragma once
#include <windows.h>

// Loads pszName (a bare file name such as "mscms.dll") from the system
// directory. pszPath (cchPath bytes) receives the full path that was loaded,
// for the caller's log; when the path does not fit it receives the bare name
// (cut to fit) and nothing is loaded. The module (the caller frees it), or
// NULL with the last error set (ERROR_FILENAME_EXCED_RANGE for a path too
// long, else GetSystemDirectory's or LoadLibrary's).
HMODULE LoadSystemLibraryA(LPCSTR pszName, char *pszPath, UINT cchPath);
