// vigil: the status monitor of one printer, started by the language monitor
// with "$X <printer>".
#include <windows.h>
#include "statusblock.h"
#include "statusdialog.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    UINT uMsgMonitor = RegisterWindowMessageA(STATUS_MSG_NAME);
    CStatusDialog dialog(uMsgMonitor);
    dialog.DoModal(hInstance);
    return 0;
}
