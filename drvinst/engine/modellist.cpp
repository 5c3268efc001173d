// The models an INF lists, as names: what a reinstall records and what the
// kept copy of the installer serves.
#include "modellist.h"
#include "splstr.h"

// The models of the INF, from FindInfPrinters' comma list (quotes and blanks
// around each name removed; a comma inside quotes belongs to the name).
BOOL ListInfModels(CInstallContext &ctx, std::vector<std::string> &models)
{
    std::string strList;
    if (!ctx.FindInfPrinters(strList))
        return FALSE;
    models.clear();
    std::string strName;
    BOOL bQuoted = FALSE;
    for (size_t i = 0; i <= strList.size(); i++) {
        char ch = i < strList.size() ? strList[i] : ',';
        if (ch == '"') {
            bQuoted = !bQuoted;
        } else if (ch == ',' && !bQuoted) {
            size_t first = strName.find_first_not_of(" \t");
            if (first != std::string::npos)
                models.push_back(strName.substr(first, strName.find_last_not_of(" \t") - first + 1));
            strName.clear();
        } else {
            strName += ch;
        }
    }
    return TRUE;
}

BOOL IsInfModel(const std::vector<std::string> &models, const char *pszName)
{
    for (const std::string &model : models) {
        if (!StrCmpI(model.c_str(), LogStr(pszName)))
            return TRUE;
    }
    return FALSE;
}

