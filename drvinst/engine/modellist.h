// The models an INF lists, as names.
#pragma once
#include "installcontext.h"
#include <string>
#include <vector>

/* Fills models with the names of the INF's models (FindInfPrinters' list,
 * quotes and blanks around each name removed; a comma inside quotes belongs
 * to the name). FALSE after FindInfPrinters' error line. After ParseInf. */
BOOL ListInfModels(CInstallContext &ctx, std::vector<std::string> &models);

// TRUE when pszName is one of models, compared without regard to case.
BOOL IsInfModel(const std::vector<std::string> &models, const char *pszName);
