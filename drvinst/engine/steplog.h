// One log line for a step that may end either way: the same message is a
// DBG line when the step succeeded and an ERR line (also kept in the
// context's error text) when it failed.
#pragma once
#include "installcontext.h"

// Formats the message like LogDbg/LogErr and writes it at the level bOk
// chooses. The thread's last error is kept.
void LogStep(CInstallContext &ctx, BOOL bOk, const char *pszFormat, ...);

// The last error a call's log line reports: 0 after success (a spooler call
// may leave an error of its own inner steps behind), else the thread's.
inline DWORD CallError(BOOL bOk)
{
    return bOk ? ERROR_SUCCESS : GetLastError();
}
