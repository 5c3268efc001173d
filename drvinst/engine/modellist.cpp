// Whether a driver is one of an INF's models: what a reinstall records and
// what keeps the installer's kept copy.
#include "modellist.h"
#include "splstr.h"

BOOL IsInfModel(const std::vector<std::string> &models, const char *pszName)
{
    for (const std::string &model : models) {
        if (!StrCmpI(model.c_str(), LogStr(pszName)))
            return TRUE;
    }
    return FALSE;
}

