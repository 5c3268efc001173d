// What Wine's files lack for the installer's working folder: an owner and
// access list of their own. Wine makes both up from the Unix owner and mode
// bits, keeps no descriptor a folder was created with, and ignores
// SetNamedSecurityInfo, so every folder reads back as the running user's.
// The stand-in keeps, per path, the descriptor CreateDirectoryA was given,
// what SetNamedSecurityInfoA set, or one a test plants (as another user's
// folder would have), and answers GetNamedSecurityInfoA from it; other
// paths go on to Wine. This program's
// import table points at the stand-in while the object lives; one at a time.
#pragma once
#include <windows.h>
#include <string>

class FolderSecurityStandIn {
public:
    FolderSecurityStandIn();
    ~FolderSecurityStandIn();
    bool Installed() const { return m_installed; }

    // The folder reads back with this descriptor (SDDL; NULL for one with no
    // access list at all) from now on, until it is removed.
    void Plant(const std::string &path, const char *pszSddl);
    // The descriptor the folder was created with or planted, as SDDL (owner,
    // group and access list); "(none)" when it has none of its own.
    std::string SecurityOf(const std::string &path) const;

private:
    bool m_installed = false;
};
