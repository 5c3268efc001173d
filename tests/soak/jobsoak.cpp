// Four ports printing 1,000 jobs each on threads of their own, each port
// opened again after every 10 jobs, while a client process per port keeps
// sending device requests through the port's status channel: every byte
// reaches the port in order, no thread stops moving (a watchdog), and the
// process holds as many handles afterwards as before.
#include "jobtapfixture.h"
#include "soakrunner.h"

namespace {

const int kPorts = 4;
const int kJobsPerPort = 1000;
const int kJobsPerOpen = 10;
const DWORD kStallMs = 60000;  // no job finished on a port for this long: a deadlock

struct SoakPort {
    MONITOR *lm;
    MONITOR *below;
    int index;
    int jobs;                  // to print on this port
    volatile LONG jobsDone = 0;
    volatile LONG stop = 0;
    int failures = 0;
    long long bytes = 0;
    std::string firstFailure;
};

std::wstring SoakPortName(int i) { return L"SOAK" + std::to_wstring(i + 1) + L":"; }

void Fail(SoakPort *p, const std::string &what)
{
    if (!p->failures++)
        p->firstFailure = Narrow(SoakPortName(p->index)) + " " + what;
}

// Prints the port's jobs, kJobsPerOpen per open port handle; after each
// Close the port's output must be exactly those jobs' bytes in order.
DWORD WINAPI PrintPort(LPVOID param)
{
    auto *p = (SoakPort *)param;
    std::wstring port = SoakPortName(p->index);
    SpoolerHost host;
    host.lm = p->lm;
    for (int job = 0; job < p->jobs && !p->stop;) {
        HANDLE hPort = nullptr;
        if (!p->lm->pfnOpenPortEx((LPWSTR)port.c_str(), (LPWSTR)kTestPrinter, &hPort, p->below)) {
            Fail(p, "job " + std::to_string(job) + " Open " + std::to_string(GetLastError()));
            return 1;
        }
        std::vector<BYTE> expected;
        for (int k = 0; k < kJobsPerOpen && job < p->jobs; k++, job++) {
            SpoolerHost::Job j;
            j.port = port;
            j.jobId = 10000 * p->index + job;
            j.data = PatternBytes(8192 + (job * 7919 % 57344), 1000 * p->index + job);
            j.chunk = 1024 + (job * 104729 % 32768);
            std::string why;
            if (!host.RunDoc(hPort, j, &why))
                Fail(p, "job " + std::to_string(job) + " " + why);
            expected.insert(expected.end(), j.data.begin(), j.data.end());
            p->bytes += j.data.size();
            InterlockedIncrement(&p->jobsDone);
        }
        if (!p->lm->pfnClosePort(hPort))
            Fail(p, "job " + std::to_string(job) + " Close " + std::to_string(GetLastError()));
        if (FakePortMonitor::Instance().Output(port) != expected)
            Fail(p, "jobs before " + std::to_string(job) + ": the port's bytes differ from the jobs'");
    }
    return 0;
}

// Keeps a channel client process at work on the port until the port's
// printing stops; counts the clients started and those that failed: not
// started, stalled, a wrong answer (exit 3), or no answer at all (exit 4)
// while the port was printing all along (one that ran on past the port's
// last job finds no channel).
struct SoakClient {
    SoakPort *port;
    int started = 0, failed = 0;
    std::string firstFailure;
};

void FailClient(SoakClient *c, const std::string &what)
{
    if (!c->failed++)
        c->firstFailure = Narrow(SoakPortName(c->port->index)) + " client " + std::to_string(c->started) + " " + what;
}

DWORD WINAPI HammerPort(LPVOID param)
{
    auto *c = (SoakClient *)param;
    while (!c->port->stop) {
        HANDLE client = StartChannelClient(SoakPortName(c->port->index), -200);
        if (!client) {
            FailClient(c, "not started: " + std::to_string(GetLastError()));
            Sleep(100);
            continue;
        }
        c->started++;
        DWORD code = 1;
        bool stalled = WaitForSingleObject(client, kStallMs) != WAIT_OBJECT_0;
        if (stalled) {
            TerminateProcess(client, 3);
            WaitForSingleObject(client, 5000);
        }
        bool printing = !c->port->stop;
        GetExitCodeProcess(client, &code);
        if (stalled)
            FailClient(c, "stalled");
        else if (code == 4 && !printing)
            ;  // started as the port's last job ended
        else if (code != 0)
            FailClient(c, "exit code " + std::to_string(code));
        CloseHandle(client);
    }
    return 0;
}

// One round: jobsPerPort jobs on each port, printed and hammered at once
// under the watchdog. Counts the jobs done (cases), failures and stalled
// ports (hangs); *clientsStarted and *clientsFailed, *bytes for the summary.
SoakCounts PlayPorts(MONITOR *lm, MONITOR *below, int jobsPerPort, int *clientsStarted, int *clientsFailed,
                     long long *bytes)
{
    DWORD start = GetTickCount();
    SoakPort ports[kPorts];
    SoakClient clients[kPorts];
    HANDLE threads[2 * kPorts];
    for (int i = 0; i < kPorts; i++) {
        ports[i].lm = lm;
        ports[i].below = below;
        ports[i].index = i;
        ports[i].jobs = jobsPerPort;
        clients[i].port = &ports[i];
        threads[i] = CreateThread(nullptr, 0, PrintPort, &ports[i], 0, nullptr);
        threads[kPorts + i] = CreateThread(nullptr, 0, HammerPort, &clients[i], 0, nullptr);
    }
    // The watchdog: every port that still prints finishes a job now and then.
    int hangs = 0;
    LONG seen[kPorts] = {};
    DWORD since[kPorts];
    for (DWORD &t : since)
        t = GetTickCount();
    while (!hangs && WaitForMultipleObjects(kPorts, threads, TRUE, 200) == WAIT_TIMEOUT) {
        for (int i = 0; i < kPorts; i++) {
            if (WaitForSingleObject(threads[i], 0) == WAIT_OBJECT_0)
                ports[i].stop = 1;  // its client stops too
            else if (ports[i].jobsDone != seen[i])
                seen[i] = ports[i].jobsDone, since[i] = GetTickCount();
            else if (GetTickCount() - since[i] > kStallMs)
                hangs++;
        }
    }
    for (SoakPort &p : ports)
        p.stop = 1;
    bool ended = WaitForMultipleObjects(2 * kPorts, threads, TRUE, 2 * kStallMs) == WAIT_OBJECT_0;
    for (HANDLE t : threads)
        CloseHandle(t);
    SoakCounts counts;
    *clientsStarted = *clientsFailed = 0;
    *bytes = 0;
    for (int i = 0; i < kPorts; i++) {
        counts.cases += ports[i].jobsDone;
        counts.failures += ports[i].failures;
        *bytes += ports[i].bytes;
        *clientsStarted += clients[i].started;
        *clientsFailed += clients[i].failed;
        if (ports[i].failures && counts.firstBad < 0)
            counts.firstBad = i, counts.firstWhat = ports[i].firstFailure;
        // A failed client fails the round like a failed job.
        counts.failures += clients[i].failed;
        if (clients[i].failed && counts.firstBad < 0)
            counts.firstBad = i, counts.firstWhat = clients[i].firstFailure;
    }
    counts.hangs = hangs + !ended;
    counts.seconds = (GetTickCount() - start) / 1000.0;
    return counts;
}

}  // namespace

using JobSoakTest = JobtapTest;

TEST_F(JobSoakTest, SoakPortsJobsAndDeviceRequests)
{
    fake.script.dwGetDelayMs = 1;
    MONITOR *below = fake.Table();
    int clientsStarted = 0, clientsFailed = 0;
    long long bytes = 0;
    // A short round first, under the same load, lets Wine create what it
    // creates on first use (thread-pool workers, its spooler's registry keys).
    SoakCounts warm = PlayPorts(host.lm, below, kJobsPerOpen * 2, &clientsStarted, &clientsFailed, &bytes);
    ASSERT_EQ(kPorts * kJobsPerOpen * 2, warm.cases);
    ASSERT_EQ(0, warm.failures + warm.hangs) << warm.firstWhat;
    int handlesBefore = HandleCount();
    SoakCounts counts = PlayPorts(host.lm, below, kJobsPerPort, &clientsStarted, &clientsFailed, &bytes);
    int handlesAfter = HandleCount();
    size_t gets = fake.CallsOf("Get").size();
    PrintSoakSummary("jobs", counts,
                     std::to_string(kPorts) + " ports, " + std::to_string(bytes / (1024 * 1024)) + " MB, " +
                         std::to_string(gets) + " device requests served, " + std::to_string(clientsStarted) +
                         " clients (" + std::to_string(clientsFailed) + " failed), handles " +
                         std::to_string(handlesBefore) + " -> " + std::to_string(handlesAfter));
    EXPECT_EQ(kPorts * kJobsPerPort, counts.cases);
    EXPECT_EQ(0, counts.failures) << counts.firstWhat;
    EXPECT_EQ(0, counts.hangs);
    EXPECT_EQ(0, clientsFailed);
    EXPECT_GT(gets, 0u);
    EXPECT_EQ(0, fake.OpenPorts());
    EXPECT_EQ(handlesBefore, handlesAfter);
}
