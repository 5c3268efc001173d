// What the language monitor adds to a port write. Plays the same 32 MB job
// straight into a port monitor that writes to a file, and through jobtap into
// that same port monitor, in writes of 4 KB, 64 KB and 256 KB: log off, log
// off with a pass-through filter, and log on; and straight into the port
// monitor with each write copied first, the copy any filter's "Read" makes. Prints per-Write overhead and
// the ratio of medians over several rounds, then the median round trip of a
// device request through a port's status channel.
//   jobstream_bench [rounds] [megabytes]
#include <windows.h>
#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <vector>
#include "channelclient.h"
#include "testenv.h"

namespace {

// The port monitor below: one file per open port, nothing else.
BOOL WINAPI BenchOpen(LPWSTR pName, PHANDLE pHandle)
{
    std::wstring path = ExePath(L"bench-port.out");
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    *pHandle = h;
    return h != INVALID_HANDLE_VALUE;
}
BOOL WINAPI BenchStartDoc(HANDLE, LPWSTR, DWORD, DWORD, LPBYTE) { return TRUE; }
BOOL WINAPI BenchWrite(HANDLE h, LPBYTE pb, DWORD cb, LPDWORD pcb) { return WriteFile(h, pb, cb, pcb, nullptr); }
BOOL WINAPI BenchRead(HANDLE, LPBYTE, DWORD, LPDWORD pcb) { *pcb = 0; return TRUE; }
BOOL WINAPI BenchEndDoc(HANDLE) { return TRUE; }
BOOL WINAPI BenchClose(HANDLE h) { return CloseHandle(h); }
BOOL WINAPI BenchGet(HANDLE, DWORD, LPWSTR, LPWSTR, DWORD, LPWSTR out, DWORD cbOut, LPDWORD pcb)
{
    static const char id[] = "MFG:Ostrel;MDL:TZ;";
    DWORD cb = std::min<DWORD>(sizeof(id) - 1, cbOut);
    memcpy(out, id, cb);
    *pcb = cb;
    return TRUE;
}

MONITOR g_below = {nullptr, BenchOpen, nullptr, BenchStartDoc, BenchWrite, BenchRead, BenchEndDoc, BenchClose,
                   nullptr, nullptr, nullptr, nullptr, BenchGet, nullptr, nullptr, nullptr, nullptr};

double Now()
{
    static LARGE_INTEGER f;
    if (!f.QuadPart)
        QueryPerformanceFrequency(&f);
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return (double)c.QuadPart / (double)f.QuadPart;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Timing {
    double writes;     // the Write calls alone
    double job;        // Open to Close
};

// The copy the filter contract makes: the pass-through filter's own.
void CopyBytes(void *pDst, const void *pSrc, size_t cb)
{
    __asm__ __volatile__("rep movsb" : "+D"(pDst), "+S"(pSrc), "+c"(cb) : : "memory");
}

// The port monitor alone: open, start, writes, end, close. With pCopy, each
// write first copies its bytes there, as a filter's "Read" must: the least
// any filter path can cost.
Timing Direct(const std::vector<BYTE> &job, DWORD chunk, LPBYTE pCopy = nullptr)
{
    double t0 = Now();
    HANDLE h;
    BenchOpen((LPWSTR)L"BENCH:", &h);
    BenchStartDoc(h, nullptr, 0, 1, nullptr);
    double w0 = Now();
    for (size_t off = 0; off < job.size(); off += chunk) {
        DWORD cb = 0;
        DWORD cbChunk = (DWORD)std::min<size_t>(chunk, job.size() - off);
        LPBYTE pb = (LPBYTE)job.data() + off;
        if (pCopy) {
            CopyBytes(pCopy, pb, cbChunk);
            pb = pCopy;
        }
        BenchWrite(h, pb, cbChunk, &cb);
    }
    double w1 = Now();
    BenchEndDoc(h);
    BenchClose(h);
    return {w1 - w0, Now() - t0};
}

// The same job through the language monitor's table.
Timing Through(MONITOR *lm, const std::vector<BYTE> &job, DWORD chunk)
{
    double t0 = Now();
    HANDLE h = nullptr;
    if (!lm->pfnOpenPortEx((LPWSTR)L"BENCH:", (LPWSTR)kTestPrinter, &h, &g_below)) {
        fprintf(stderr, "Open failed %lu\n", GetLastError());
        exit(1);
    }
    DOC_INFO_1W doc = {(LPWSTR)L"bench", nullptr, (LPWSTR)L"RAW"};
    lm->pfnStartDocPort(h, (LPWSTR)kTestPrinter, 1, 1, (LPBYTE)&doc);
    double w0 = Now();
    for (size_t off = 0; off < job.size(); off += chunk) {
        DWORD cb = 0;
        lm->pfnWritePort(h, (LPBYTE)job.data() + off, (DWORD)std::min<size_t>(chunk, job.size() - off), &cb);
    }
    double w1 = Now();
    lm->pfnEndDocPort(h);
    lm->pfnClosePort(h);
    return {w1 - w0, Now() - t0};
}

struct Series {
    std::vector<double> writes, job;
    void Add(Timing t) { writes.push_back(t.writes); job.push_back(t.job); }
};

} // namespace

int main(int argc, char **argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 7;
    size_t megabytes = argc > 2 ? (size_t)atoi(argv[2]) : 32;
    std::string why;
    if (!EnsureTestPrinter(&why)) {
        fprintf(stderr, "test printer: %s\n", why.c_str());
        return 1;
    }
    ClearDriverValues();
    LogOff();
    SpoolerHost host;
    if (!host.Init()) {
        fprintf(stderr, "jobtap.dll did not load\n");
        return 1;
    }
    std::vector<BYTE> job = PatternBytes(megabytes << 20, 7);
    const std::wstring filter = ExePath(L"filter_pass.dll");
    LPBYTE pCopy = (LPBYTE)VirtualAlloc(nullptr, 262144, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!pCopy) {
        fprintf(stderr, "VirtualAlloc of the copy buffer failed: %lu\n", GetLastError());
        return 1;
    }

    printf("job %zu MB, %d rounds, medians of the Write phase;\n"
           "overhead = (through - direct) / writes; job = Open to Close, of which the\n"
           "fixed part (Open, StartDoc, EndDoc, Close) is mostly the spooler's own calls\n\n", megabytes, rounds);
    printf("%-5s %-22s %11s %10s %8s %12s\n", "KB", "path", "writes ms", "us/Write", "ratio", "fixed ms/job");
    for (DWORD chunk : {4096u, 65536u, 262144u}) {
        size_t writes = (job.size() + chunk - 1) / chunk;
        Series direct, copied, plain, filtered;
        for (int r = 0; r < rounds; ++r) {
            direct.Add(Direct(job, chunk));
            copied.Add(Direct(job, chunk, pCopy));
            DeleteMonitorValue(std::wstring(kTestDriver) + L" Filter");
            plain.Add(Through(host.lm, job, chunk));
            SetMonitorValue(std::wstring(kTestDriver) + L" Filter", filter);
            filtered.Add(Through(host.lm, job, chunk));
        }
        DeleteMonitorValue(std::wstring(kTestDriver) + L" Filter");
        // Log on: one run over a quarter of the job, against a direct run of it.
        std::vector<BYTE> part(job.begin(), job.begin() + job.size() / 4);
        Timing directPart = Direct(part, chunk);
        LogOn();
        Timing logged = Through(host.lm, part, chunk);
        LogOff();
        size_t partWrites = (part.size() + chunk - 1) / chunk;

        double dw = Median(direct.writes), dj = Median(direct.job);
        unsigned kb = (unsigned)(chunk / 1024);
        printf("%-5u %-22s %11.2f %10s %8s %12.2f\n", kb, "direct", dw * 1e3, "-", "1.000", (dj - dw) * 1e3);
        auto row = [&](const char *name, double w, double j, double base, size_t n) {
            printf("%-5u %-22s %11.2f %10.2f %8.3f %12.2f\n", kb, name, w * 1e3, (w - base) / n * 1e6, w / base,
                   (j - w) * 1e3);
        };
        row("direct, copy first", Median(copied.writes), Median(copied.job), dw, writes);
        row("jobtap, log off", Median(plain.writes), Median(plain.job), dw, writes);
        row("jobtap, pass filter", Median(filtered.writes), Median(filtered.job), dw, writes);
        row("jobtap, log on (1/4)", logged.writes, logged.job, directPart.writes, partWrites);
        printf("%-5u %-22s %31.3f\n", kb, "pass filter / copy", Median(filtered.writes) / Median(copied.writes));
    }

    // Device request round trip: a client opens the channel by name, takes
    // the lock, sends the request and waits for the reply, as the status
    // monitor does.
    HANDLE h = nullptr;
    host.lm->pfnOpenPortEx((LPWSTR)L"BENCH:", (LPWSTR)kTestPrinter, &h, &g_below);
    std::vector<double> trips;
    for (int i = 0; i < 500; ++i) {
        ChannelRequest request;
        request.cbData = 256;
        ChannelReply reply;
        double t0 = Now();
        if (!ChannelCall(kMonitorName, L"BENCH:", request, &reply) || !reply.bResult) {
            fprintf(stderr, "device request failed\n");
            return 1;
        }
        trips.push_back(Now() - t0);
    }
    host.lm->pfnClosePort(h);
    std::sort(trips.begin(), trips.end());
    printf("device request round trip: median %.1f us, 90th percentile %.1f us (500 requests)\n",
           trips[trips.size() / 2] * 1e6, trips[trips.size() * 9 / 10] * 1e6);
    DeleteFileW(ExePath(L"bench-port.out").c_str());
    VirtualFree(pCopy, 0, MEM_RELEASE);
    return 0;
}
