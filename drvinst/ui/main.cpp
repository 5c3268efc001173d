// drvinst: the printer driver's installer, interactive or unattended by its
// command line.
#include <windows.h>
#include "installapp.h"

/* WinMain: runs the start-up, which shows the main dialog or runs the
 * unattended way the command line asks for; exits with its code (0 for
 * every run with windows, the table of exitcodes.h for "/quiet"). */
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    CInstallApp app(hInstance);
    return app.InitInstance();
}
