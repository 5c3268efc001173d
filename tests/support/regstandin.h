// Registry value writes as this program makes them, with what Wine cannot
// play on demand: a write that fails, as on a registry that is full. Every
// other call goes on to Wine's own RegSetValueExA, and a refused write
// writes nothing. The program's import table points at the stand-in while
// the object lives; one object at a time.
#pragma once
#include <windows.h>

class RegistryStandIn {
public:
    RegistryStandIn();   // installs itself in this program's import table
    ~RegistryStandIn();  // and puts Wine's function back
    bool Installed() const { return m_installed; }

    // From now on every RegSetValueExA of a value named pszValueName (compared
    // without regard to case; the text must outlive the object) fails with
    // dwError. NULL refuses nothing.
    void FailSetValue(const char *pszValueName, DWORD dwError);
    LONG Refused() const;  // writes refused so far

private:
    bool m_installed = false;
};
