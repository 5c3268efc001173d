// Long runs of generated cases (./run soak, not CI): each case runs on a
// worker thread under a watchdog, so that a case that faults or never
// returns is counted and the run goes on with the next case.
#pragma once
#include <windows.h>
#include <functional>
#include <string>

struct SoakCounts {
    int cases = 0;      // cases run to their end (passed or failed)
    int failures = 0;   // cases whose check returned false
    int crashes = 0;    // cases ended by an unhandled exception (access violation and the like)
    int hangs = 0;      // cases still running after the watchdog's limit
    int firstBad = -1;  // index of the first case that failed, crashed or hung
    std::string firstWhat;  // what that case said, or the exception / hang
    double seconds = 0;
};

// Runs the cases 0 .. count-1 in order; one returns true when its check held
// (it may fill *what with why not). A case that raises an unhandled
// exception ends its worker thread (counted as a crash); one that runs longer
// than caseLimitMs is ended with TerminateThread (a hang). Either way the run
// goes on with a new worker from the next case. Call from one thread at a
// time.
SoakCounts RunSoakCases(int count, DWORD caseLimitMs, const std::function<bool(int, std::string *)> &oneCase);

// Prints the run's one summary line: "soak NAME: N cases, F failed, C
// crashes, H hangs, T s" plus extra, and the first bad case when there was one.
void PrintSoakSummary(const char *name, const SoakCounts &counts, const std::string &extra = "");
