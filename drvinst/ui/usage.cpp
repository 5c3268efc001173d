// "drvinst.exe /?": the command lines and exit codes, on the caller's console
// or in a message box.
#include <windows.h>
#include "exitcodes.h"

extern const char g_szProgramName[];

const char *UsageText()
{
    return "drvinst.exe                                   the installer's dialog\r\n"
           "drvinst.exe INF [model [port]] /Install|/Uninstall|/Reinstall\r\n"
           "                                              the dialog with that action chosen\r\n"
           "drvinst.exe INF model port /Install /quiet [/addqueue] [/norestart|/forcerestart]\r\n"
           "            [/log path]                       no window: the result is the exit code\r\n"
           "    (or /Uninstall, /Reinstall)\r\n"
           "drvinst.exe INF model /Copy                   copy the model's files only\r\n"
           "drvinst.exe /quiet /finish [/log path]        run every second phase still pending\r\n"
           "                                              (after the restart; no window)\r\n"
           "\r\n"
           "A relative INF path is taken beside drvinst.exe. /qn and /q mean /quiet.\r\n"
           "/quiet never restarts the computer unless /forcerestart is given\r\n"
           "(/norestart is accepted). A quiet install of a model that already has a\r\n"
           "queue on that port with this package's files changes nothing; /addqueue\r\n"
           "adds a further queue of the model. /log path writes the log there, the\r\n"
           "second phase's too.\r\n"
           "\r\n"
           "Exit codes of /quiet:\r\n"
           "   0    success\r\n"
           "3010    restart required: the second phase, or files in use, wait for it (also\r\n"
           "        when a first phase failed after it registered its second phase: the\r\n"
           "        restart and the second phase finish it; the log says what failed)\r\n"
           "1641    success, the restart was started (/forcerestart)\r\n"
           "1602    cancelled (not produced by /quiet)\r\n"
           "1603    failure: the error text is in the log\r\n"
           "1618    another operation is pending (a second phase of this INF waits for a\r\n"
           "        restart) or another run of this INF is busy\r\n"
           "1622    the /log file cannot be written: nothing was done\r\n"
           "1639    bad command line\r\n"
           " 740    (from Windows, before drvinst starts) elevation required: on Vista and\r\n"
           "        later, started by a process without administrator rights that cannot\r\n"
           "        ask for them; run it elevated, as SYSTEM, or from a deployment tool\r\n";
}

typedef BOOL(WINAPI *AttachConsoleFn)(DWORD);

// Writes the text to the console of the parent process; FALSE when there is
// none (or the system has no AttachConsole), and nothing was written.
static BOOL WriteToParentConsole(const char *pszText)
{
    HMODULE hKernel = GetModuleHandleA("kernel32.dll");
    AttachConsoleFn pfnAttach = hKernel ? (AttachConsoleFn)GetProcAddress(hKernel, "AttachConsole") : NULL;
    if (!pfnAttach || !pfnAttach((DWORD)-1))  // ATTACH_PARENT_PROCESS
        return FALSE;
    HANDLE hOut = CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0,
                              NULL);
    if (hOut == INVALID_HANDLE_VALUE)
        return FALSE;
    DWORD cbWritten = 0;
    BOOL bWritten = WriteFile(hOut, pszText, lstrlenA(pszText), &cbWritten, NULL);
    CloseHandle(hOut);
    return bWritten;
}

int ShowUsage()
{
    if (!WriteToParentConsole(UsageText()))
        MessageBoxA(NULL, UsageText(), g_szProgramName, MB_OK | MB_ICONINFORMATION);
    return EXIT_DONE;
}
