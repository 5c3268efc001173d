// Whether a driver is one of an INF's models (FindInfPrinters' list).
#pragma once
#include "installcontext.h"
#include <string>
#include <vector>

// TRUE when pszName is one of models, compared without regard to case.
BOOL IsInfModel(const std::vector<std::string> &models, const char *pszName);
