// The engine's closing dialogs as the user sees them: the restart question
// and the USB notice, shown modally from the program's resources.
#pragma once
#include "enginedialogs.h"

class CModalEngineDialogs : public CEngineDialogs {
public:
    // hInstance: the module holding the templates and the string table;
    // hOwner: the window that owns the dialogs (the main dialog while it is
    // open), or NULL for none. Neither is owned.
    CModalEngineDialogs(HINSTANCE hInstance, HWND hOwner);

    int AskRestart() override;
    int ShowPlugUsb(const char *pszModel, const char *pszPort) override;

private:
    HINSTANCE m_hInstance;
    HWND m_hOwner;
};
