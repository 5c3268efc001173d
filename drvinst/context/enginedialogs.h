// The closing dialogs that the install engine shows itself: the restart
// question after the first phase of an uninstall or reinstall, and the
// notice to plug the printer in after an install on the generic USB port.
// The program hands the engine the real dialogs; anything that runs the
// engine without a person in front of it hands it other answers.
#pragma once
#include <windows.h>

class CEngineDialogs {
public:
    virtual ~CEngineDialogs() {}

    // The restart question, modal. IDOK when the user answers Yes (the caller
    // then restarts the computer), IDCANCEL for No or Escape, -1 when the
    // dialog could not be shown (last error set): only IDOK means restart.
    virtual int AskRestart() = 0;

    // The USB notice, modal, showing the model and the port name (read while
    // the call lasts, not kept). Returns the dialog's result, which the
    // engine ignores; -1 when it could not be shown.
    virtual int ShowPlugUsb(const char *pszModel, const char *pszPort) = 0;
};
