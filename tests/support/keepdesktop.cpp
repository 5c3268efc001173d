// Keeps the prefix's desktop open while the tests run. Wine's desktop
// process (explorer.exe /desktop) is started by the first program that needs
// a window station and ends one second after its last other user has gone;
// started by a test program, it inherits that program's output pipe, and
// CTest waits for the pipe: a second longer for every case. wine-run starts
// this program once per server, detached from every pipe; it holds the
// desktop until the server ends.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    GetDesktopWindow();
    Sleep(INFINITE);
    return 0;
}
