// The program's exit codes for unattended runs, after the platform's
// installer conventions, and the usage text that lists them.
#pragma once

enum ExitCode {
    EXIT_DONE = 0,                // success
    EXIT_CANCELLED = 1602,        // cancelled by the user
    EXIT_FAILED = 1603,           // failure: the error text is in the log
    EXIT_PENDING = 1618,          // a second phase of this INF still waits for a restart, or another run is busy
    EXIT_LOG_FAILED = 1622,       // the "/log" file cannot be written: nothing was done
    EXIT_BAD_COMMAND = 1639,      // the command line is not valid
    EXIT_RESTART_STARTED = 1641,  // success, the restart was started
    EXIT_RESTART_NEEDED = 3010,   // success, a restart finishes it: the second phase, files in use, or the
                                  // restart asked for could not be started
};

// The usage text of "drvinst.exe /?": the command lines and the exit-code
// table, lines ending in "\r\n". A static string.
const char *UsageText();

// Shows UsageText: written to the console of the process that started the
// program when there is one (AttachConsole, looked up at run time: Windows
// 2000 lacks it), in a message box otherwise. Always EXIT_DONE.
int ShowUsage();
