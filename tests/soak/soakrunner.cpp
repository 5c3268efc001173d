#include "soakrunner.h"
#include <stdio.h>

namespace {

struct SoakWorker {
    const std::function<bool(int, std::string *)> *oneCase;
    int next;                    // the case the worker runs now (or next)
    int end;
    volatile LONG done = 0;      // cases finished by this worker
    volatile DWORD crashCode = 0;
    volatile DWORD threadId = 0;
    SoakCounts *counts;
};

SoakWorker *volatile g_worker;   // the worker whose thread may fault

LONG WINAPI EndFaultingWorker(EXCEPTION_POINTERS *info)
{
    SoakWorker *w = g_worker;
    if (w && GetCurrentThreadId() == w->threadId) {
        w->crashCode = info->ExceptionRecord->ExceptionCode;
        ExitThread(1);  // the watchdog counts it and starts a new worker
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

DWORD WINAPI RunWorker(LPVOID param)
{
    auto *w = (SoakWorker *)param;
    for (; w->next < w->end; w->next++) {
        std::string what;
        if (!(*w->oneCase)(w->next, &what)) {
            w->counts->failures++;
            if (w->counts->firstBad < 0) {
                w->counts->firstBad = w->next;
                w->counts->firstWhat = what;
            }
        }
        w->counts->cases++;
        InterlockedIncrement(&w->done);
    }
    return 0;
}

void NoteBad(SoakCounts *counts, int index, const std::string &what)
{
    if (counts->firstBad < 0) {
        counts->firstBad = index;
        counts->firstWhat = what;
    }
}

}  // namespace

SoakCounts RunSoakCases(int count, DWORD caseLimitMs, const std::function<bool(int, std::string *)> &oneCase)
{
    SoakCounts counts;
    DWORD start = GetTickCount();
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    LPTOP_LEVEL_EXCEPTION_FILTER previous = SetUnhandledExceptionFilter(EndFaultingWorker);
    for (int from = 0; from < count;) {
        SoakWorker worker;
        worker.oneCase = &oneCase;
        worker.next = from;
        worker.end = count;
        worker.counts = &counts;
        g_worker = &worker;
        DWORD threadId = 0;
        HANDLE thread = CreateThread(nullptr, 0, RunWorker, &worker, CREATE_SUSPENDED, &threadId);
        worker.threadId = threadId;
        if (thread)
            ResumeThread(thread);
        if (!thread) {
            NoteBad(&counts, from, "CreateThread failed: " + std::to_string(GetLastError()));
            break;
        }
        // The watchdog: the worker must finish a case within the limit.
        LONG seen = -1;
        DWORD since = GetTickCount();
        for (;;) {
            if (WaitForSingleObject(thread, 50) == WAIT_OBJECT_0)
                break;
            LONG done = worker.done;
            if (done != seen) {
                seen = done;
                since = GetTickCount();
            } else if (GetTickCount() - since > caseLimitMs) {
                TerminateThread(thread, 2);
                WaitForSingleObject(thread, INFINITE);
                counts.hangs++;
                NoteBad(&counts, worker.next, "no return within " + std::to_string(caseLimitMs) + " ms");
                break;
            }
        }
        CloseHandle(thread);
        if (worker.crashCode) {
            counts.crashes++;
            char code[32];
            wsprintfA(code, "exception 0x%08lX", worker.crashCode);
            NoteBad(&counts, worker.next, code);
        }
        from = worker.next + (worker.next < count ? 1 : 0);
        if (!worker.crashCode && worker.next >= count)
            break;
    }
    g_worker = nullptr;
    SetUnhandledExceptionFilter(previous);
    counts.seconds = (GetTickCount() - start) / 1000.0;
    return counts;
}

void PrintSoakSummary(const char *name, const SoakCounts &counts, const std::string &extra)
{
    printf("soak %s: %d cases, %d failed, %d crashes, %d hangs, %.1f s%s%s\n", name, counts.cases, counts.failures,
           counts.crashes, counts.hangs, counts.seconds, extra.empty() ? "" : ", ", extra.c_str());
    if (counts.firstBad >= 0)
        printf("  first bad case %d: %s\n", counts.firstBad, counts.firstWhat.c_str());
    fflush(stdout);
}
