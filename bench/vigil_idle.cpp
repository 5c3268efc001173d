// Keeps vigil watching a job in progress for a while, so that its cost with
// its three one-second timers can be measured: Wine's GetProcessTimes
// answers 0 for another process, so ./run bench samples the process's CPU
// time from Linux while this runs.
//   vigil_idle [seconds [pause button id | min ...]]
#include <stdio.h>
#include <stdlib.h>
#include "fakeport.h"
#include "testenv.h"
#include "windowdriver.h"

int main(int argc, char **argv)
{
    int seconds = argc > 1 ? atoi(argv[1]) : 30;
    std::string why;
    if (!EnsureTestPrinter(&why)) {
        fprintf(stderr, "printer: %s\n", why.c_str());
        return 1;
    }
    ClearDriverValues();
    LogOff();
    WCHAR sys[MAX_PATH];
    GetSystemDirectoryW(sys, MAX_PATH);
    CopyFileW(ExePath(L"vigil.exe").c_str(), (std::wstring(sys) + L"\\kztvigil.exe").c_str(), FALSE);
    SetMonitorValue(kTestDriver, L"kztvigil.exe");

    SpoolerHost host;
    FakePortMonitor &port = FakePortMonitor::Instance();
    port.Reset();
    HANDLE h = nullptr;
    if (!host.Init() || !host.lm->pfnOpenPortEx((LPWSTR)L"FILE:", (LPWSTR)kTestPrinter, &h, port.Table())) {
        fprintf(stderr, "jobtap did not open the port\n");
        return 1;
    }
    DOC_INFO_1W doc = {(LPWSTR)L"idle", nullptr, (LPWSTR)L"RAW"};
    host.lm->pfnStartDocPort(h, (LPWSTR)kTestPrinter, 1, 1, (LPBYTE)&doc);   // printing: no shutdown
    HWND hwnd = WaitForWindow("KZT TZ Test - Status Monitor", 10000);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (!hwnd || !process) {
        fprintf(stderr, "no status window\n");
        return 1;
    }
    for (int i = 2; i < argc; ++i) {
        if (lstrcmpA(argv[i], "min") == 0)
            PostMessageA(hwnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        else
            PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(atoi(argv[i]), BN_CLICKED), 0);
    }
    printf("watching: vigil is up, job in progress, for %d s\n", seconds);
    fflush(stdout);
    Sleep(seconds * 1000);
    host.lm->pfnEndDocPort(h);
    PostMessageA(hwnd, WM_COMMAND, IDOK, 0);
    if (WaitForSingleObject(process, 3000) != WAIT_OBJECT_0)
        TerminateProcess(process, 9);
    CloseHandle(process);
    host.lm->pfnClosePort(h);
    ClearDriverValues();
    return 0;
}
