// The system's message text for an error code, ANSI, inserts ignored.
#pragma once
#include <windows.h>

// Writes the text for dwError into pszText (cchText bytes, always
// terminated); an empty text when the system has none. With bTrim the
// trailing white space (the system's line break) is removed.
void SystemMessageA(DWORD dwError, char *pszText, DWORD cchText, BOOL bTrim);
