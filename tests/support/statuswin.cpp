// Stand-in status window, started by the language monitor's StartDoc with
// the command line "$X <printer>". It names its window "<printer> - Status
// Monitor", stores that title in the port's block (port and monitor name
// from KZT_STATUS_PORT and KZT_STATUS_LM), and writes its command line and
// every notification it receives to KZT_STATUS_LOG. It ends on the
// port-closing notification, or after 20 seconds.
#include "channelclient.h"
#include <stdio.h>
#include <string>

static UINT g_uMsg;
static FILE *g_log;

static LRESULT CALLBACK WndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == g_uMsg) {
        fprintf(g_log, "notify %u %ld\n", (unsigned)wParam, (long)lParam);
        fflush(g_log);
        if (wParam == STATUS_NOTIFY_PORT_CLOSE)
            PostQuitMessage(0);
        return 0;
    }
    if (msg == WM_TIMER) {
        PostQuitMessage(1);
        return 0;
    }
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

static std::wstring Env(const wchar_t *name)
{
    wchar_t buf[512];
    DWORD n = GetEnvironmentVariableW(name, buf, 512);
    return n && n < 512 ? std::wstring(buf) : std::wstring();
}

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int)
{
    g_log = _wfopen(Env(L"KZT_STATUS_LOG").c_str(), L"ab");
    if (!g_log)
        return 2;
    std::wstring commandLine = GetCommandLineW();
    fprintf(g_log, "cmdline %ls\n", commandLine.c_str());
    std::wstring printer = commandLine.size() > 3 && commandLine.compare(0, 3, L"$X ") == 0
                               ? commandLine.substr(3) : L"";
    std::wstring title = printer + L" - Status Monitor";

    g_uMsg = RegisterWindowMessageW(L"" STATUS_MSG_NAME);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = hInstance;
    wc.lpszClassName = L"KztStatusStandIn";
    RegisterClassW(&wc);
    HWND hWnd = CreateWindowW(wc.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                              nullptr, nullptr, hInstance, nullptr);
    char narrow[256];
    WideCharToMultiByte(CP_ACP, 0, title.c_str(), -1, narrow, sizeof(narrow), nullptr, nullptr);
    ChannelSetWindowName(Env(L"KZT_STATUS_LM"), Env(L"KZT_STATUS_PORT"), narrow);
    fprintf(g_log, "window %s\n", narrow);
    fflush(g_log);
    SetTimer(hWnd, 1, 20000, nullptr);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    fprintf(g_log, "exit\n");
    fclose(g_log);
    DestroyWindow(hWnd);
    return 0;
}
