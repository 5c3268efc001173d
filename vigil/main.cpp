// vigil: the status monitor of one printer, started by the language monitor
// with "$X <printer>".
#include <windows.h>
#include "statusblock.h"
#include "statusdialog.h"

/* WinMain: shows the status window of the printer named on the command line
 * (program token, blanks, printer name) until it closes, by itself or by
 * the user; always exits with 0. The notification message id is registered
 * here, once, before the window starts. */
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    UINT uMsgMonitor = RegisterWindowMessageA(STATUS_MSG_NAME);
    CStatusDialog dialog(uMsgMonitor);
    dialog.DoModal(hInstance);
    return 0;
}
