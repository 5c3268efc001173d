// Stand-in resource library of the sample driver package (KZTTZRES.DLL): the
// package's resource library is not ours. It holds nothing but the version
// resource every shipped binary carries; the spooler only copies it.
#include <windows.h>

// DllMain: nothing to set up or tear down; TRUE for every reason.
extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pReserved)
{
    return TRUE;
}
