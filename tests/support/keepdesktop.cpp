// Keeps the prefix's desktop open while the tests run. Wine's desktop
// process (explorer.exe /desktop) is started by the first program that needs
// a window station and ends one second after its last other user has gone;
// started by a test program, it inherits that program's output pipe, and
// CTest waits for the pipe: a second longer for every case. wine-run starts
// this program once per server, detached from every pipe, and waits until it
// has created the file named by its argument: by then the desktop is up, and
// no test program races it to start one. It holds the desktop until the
// server ends.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int)
{
    GetDesktopWindow();
    if (lpCmdLine && *lpCmdLine) {
        HANDLE hFile = CreateFileA(lpCmdLine, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (hFile != INVALID_HANDLE_VALUE)
            CloseHandle(hFile);
    }
    Sleep(INFINITE);
    return 0;
}
