// drvinst: the printer driver's installer, interactive or unattended by its
// command line.
#include <windows.h>
#include "installapp.h"

/* WinMain: runs the start-up, which shows the main dialog or runs the
 * unattended way the command line asks for; always exits with 0. */
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    CInstallApp app(hInstance);
    app.InitInstance();
    return 0;
}
