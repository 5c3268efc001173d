// Several ports printing at once on several threads while another process
// sends device requests through each port's channel and the ports close
// under it: every job arrives complete and in order, nothing deadlocks, and
// no handle is left open.
#include "jobtapfixture.h"

namespace {

const int kPorts = 4;
const int kJobsPerPort = 6;
const size_t kJobBytes = 384 * 1024;

struct Worker {
    MONITOR *lm;
    MONITOR *below;
    int index;
    int answeredBefore = 0;         // the port's answered requests before this round
    int failures = 0;
    std::string firstFailure;
};

std::wstring PortName(int i) { return L"CONC" + std::to_wstring(i + 1) + L":"; }

DWORD WINAPI PrintJobs(LPVOID param)
{
    auto *w = (Worker *)param;
    std::wstring port = PortName(w->index);
    // The port's client gets an answer before the jobs start: the port stays
    // open (for at most 10 s) until one of its requests has been served.
    HANDLE hPort = nullptr;
    if (w->lm->pfnOpenPortEx((LPWSTR)port.c_str(), (LPWSTR)kTestPrinter, &hPort, w->below)) {
        for (int i = 0; i < 1000 && FakePortMonitor::Instance().GetsAnsweredOn(port) == w->answeredBefore; ++i)
            Sleep(10);
        w->lm->pfnClosePort(hPort);
    }
    for (int job = 0; job < kJobsPerPort; ++job) {
        SpoolerHost host;
        host.lm = w->lm;
        SpoolerHost::Job j;
        j.port = port;
        j.jobId = 100 * w->index + job;
        j.data = PatternBytes(kJobBytes, 1000 * w->index + job);
        j.chunk = 16384 + 4096 * job;
        std::string why;
        if (!host.RunJob(j, w->below, &why) || FakePortMonitor::Instance().Output(port) != j.data) {
            if (!w->failures++)
                w->firstFailure = Narrow(port) + " job " + std::to_string(job) + " " + why;
        }
    }
    return 0;
}

// One round: every port prints its jobs on its own thread while a client
// process per port sends device requests. Returns the failures it saw.
void PlayRound(MONITOR *lm, MONITOR *below)
{
    HANDLE clients[kPorts];
    Worker workers[kPorts];
    HANDLE threads[kPorts];
    for (int i = 0; i < kPorts; ++i) {
        workers[i].lm = lm;
        workers[i].below = below;
        workers[i].index = i;
        workers[i].answeredBefore = FakePortMonitor::Instance().GetsAnsweredOn(PortName(i));
        threads[i] = CreateThread(nullptr, 0, PrintJobs, &workers[i], 0, nullptr);
        // The client starts once its port is open (at most 10 s later).
        StatusBlock block;
        for (int t = 0; t < 1000 && !ChannelSnapshot(kMonitorName, PortName(i), &block); ++t)
            Sleep(10);
        clients[i] = StartChannelClient(PortName(i), -400);
        ASSERT_NE(clients[i], nullptr);
    }
    EXPECT_EQ(WaitForMultipleObjects(kPorts, threads, TRUE, 90000), WAIT_OBJECT_0) << "printing threads deadlocked";
    EXPECT_EQ(WaitForMultipleObjects(kPorts, clients, TRUE, 90000), WAIT_OBJECT_0) << "a client hung";
    for (int i = 0; i < kPorts; ++i) {
        DWORD code = 1;
        GetExitCodeProcess(clients[i], &code);
        // Every client got right answers: 4 (none) means its channel served
        // nobody, 3 a wrong answer.
        EXPECT_EQ(code, 0u) << Narrow(PortName(i)) << ": client exit code " << code;
        EXPECT_EQ(workers[i].failures, 0) << workers[i].firstFailure;
        CloseHandle(threads[i]);
        CloseHandle(clients[i]);
    }
}

} // namespace

using ConcurrencyTest = JobtapTest;

TEST_F(ConcurrencyTest, PortsPrintInParallelWhileAnotherProcessQueriesAndPortsClose)
{
    fake.script.dwGetDelayMs = 1;
    MONITOR *below = fake.Table();
    // The first round also lets Wine create what it creates on first use
    // (thread-pool workers and the like); later rounds must add nothing.
    PlayRound(host.lm, below);
    int handlesAfterFirst = HandleCount();
    PlayRound(host.lm, below);
    PlayRound(host.lm, below);
    EXPECT_GT(fake.CallsOf("Get").size(), 0u) << "no request was served while printing";
    EXPECT_EQ(fake.OpenPorts(), 0);
    // A handle left per job would show 48 more; Wine itself now and then
    // creates one or two once-only objects (registry keys of its spooler)
    // when threads first race into it.
    EXPECT_LE(HandleCount(), handlesAfterFirst + 2) << "handles left open by 48 more jobs";
}

// The handle count the check above relies on sees a handle come and go.
TEST(HandleCountTest, CountsAnOpenHandle)
{
    int before = HandleCount();
    HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(HandleCount(), before + 1);
    CloseHandle(e);
    EXPECT_EQ(HandleCount(), before);
}

namespace {

struct OtherJob {
    MONITOR *lm;
    MONITOR *below;
    std::string why;
    bool ok = false;
};

DWORD WINAPI PrintOtherJob(LPVOID param)
{
    auto *job = (OtherJob *)param;
    SpoolerHost host;
    host.lm = job->lm;
    SpoolerHost::Job j;
    j.port = L"LPT2:";
    j.data = PatternBytes(64 * 1024, 9);
    job->ok = host.RunJob(j, job->below, &job->why) && FakePortMonitor::Instance().Output(j.port) == j.data;
    return 0;
}

DWORD WINAPI HungDeviceRequest(LPVOID)
{
    ChannelRequest request;
    request.dwTimeoutMs = 2 * kHangGuardMs;
    ChannelReply reply;
    ChannelCall(kMonitorName, L"LPT1:", request, &reply);
    return 0;
}

} // namespace

// Waits (as a guard, not a measurement) until the port monitor has n ports open.
static bool OpenPortsBecome(FakePortMonitor &fake, int n)
{
    for (int i = 0; i < 6000 && fake.OpenPorts() != n; ++i)
        Sleep(5);
    return fake.OpenPorts() == n;
}

// A device request that hangs in the port monitor (a printer switched off)
// holds up no Close: meanwhile another port opens, prints a job and closes,
// the hung port's Close returns within its bound, and the port below stays
// open under the request until it returns; the port is refused until then.
TEST_F(ConcurrencyTest, HungRequestHoldsUpNoCloseAndItsPortBelowClosesAfterIt)
{
    LogOn();
    HANDLE hung = OpenPort(L"LPT1:");
    fake.script.bGetHangs = true;
    HANDLE client = CreateThread(nullptr, 0, HungDeviceRequest, nullptr, 0, nullptr);
    for (int i = 0; i < 6000 && fake.CallsOf("Get").empty(); ++i)
        Sleep(5);
    EXPECT_EQ(fake.CallsOf("Get").size(), 1u) << "the request did not reach the port monitor";
    AsyncClose closeHung(host.lm, hung);

    OtherJob other = {host.lm, fake.Table()};
    HANDLE printer = CreateThread(nullptr, 0, PrintOtherJob, &other, 0, nullptr);
    bool printed = WaitForSingleObject(printer, kHangGuardMs) == WAIT_OBJECT_0;
    EXPECT_TRUE(printed) << "the other port's job waited for the hung port's Close";
    bool closed = closeHung.Returned(kHangGuardMs / 3);
    EXPECT_TRUE(closed) << "Close waited for a device request that hangs";
    EXPECT_TRUE(closed && closeHung.Result());
    EXPECT_EQ(fake.OpenPorts(), 1) << "the port below was closed under the running request";
    HANDLE again = nullptr;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(host.lm->pfnOpenPortEx((LPWSTR)L"LPT1:", (LPWSTR)kTestPrinter, &again, fake.Table()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_BUSY);
    EXPECT_TRUE(LogHas("ERR Open FindPortEntry [LPT1:] ClosePending R 0 E 170")) << LogText();
    EXPECT_TRUE(LogHasPrefix("DBG Close pfnClose Deferred cRefs=")) << LogText();

    fake.ReleaseHungGets();
    EXPECT_TRUE(closeHung.Returned(kHangGuardMs));
    EXPECT_EQ(WaitForSingleObject(printer, kHangGuardMs), WAIT_OBJECT_0);
    EXPECT_TRUE(other.ok) << other.why;
    EXPECT_EQ(WaitForSingleObject(client, kHangGuardMs), WAIT_OBJECT_0);
    CloseHandle(printer);
    CloseHandle(client);
    EXPECT_TRUE(OpenPortsBecome(fake, 0)) << "the worker did not close the port below once the request returned";
}

// Get runs on a spooler thread of its own. A Get that hangs in the port
// monitor (a device that never answers) does not hold up Close of its port:
// Close returns, the record outlives the Get, and the port below is closed
// once the Get has returned, never under it. Until then the port is not
// opened again (the late close would land in the new job); then it prints.
TEST_F(ConcurrencyTest, CloseDoesNotWaitForAGetThatHangs)
{
    fake.script.bGetHangs = true;
    HANDLE h = OpenPort();
    AsyncCall get([&] {
        BYTE out[256];
        DWORD cb = 0;
        return host.lm->pfnGetPrinterDataFromPort(h, 0, (LPWSTR)L"DeviceID", nullptr, 0, (LPWSTR)out, sizeof(out),
                                                  &cb);
    });
    for (int i = 0; i < 6000 && fake.CallsOf("Get").empty(); ++i)
        Sleep(5);
    EXPECT_EQ(fake.CallsOf("Get").size(), 1u) << "the Get did not reach the port monitor";
    AsyncClose close(host.lm, h);
    EXPECT_TRUE(close.Returned(kHangGuardMs / 3)) << "Close waited for a Get that hangs";
    EXPECT_TRUE(close.Result());
    EXPECT_EQ(fake.OpenPorts(), 1) << "the port below was closed under the running Get";
    HANDLE again = nullptr;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(host.lm->pfnOpenPortEx((LPWSTR)L"LPT1:", (LPWSTR)kTestPrinter, &again, fake.Table()))
        << "the port opened again while its close was put off";
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_BUSY);
    EXPECT_FALSE(host.lm->pfnClosePort(h)) << "a second Close was accepted";
    EXPECT_EQ(fake.OpenPorts(), 1) << "a second Close closed the port below under the running Get";

    fake.ReleaseHungGets();
    ASSERT_TRUE(get.Returned(kHangGuardMs));
    EXPECT_TRUE(get.Result());
    EXPECT_TRUE(close.Returned(kHangGuardMs));
    EXPECT_EQ(fake.OpenPorts(), 0) << "the last Get did not close the port below";
    fake.script.bGetHangs = false;
    PrintOnce(PatternBytes(4096, 3));
    EXPECT_EQ(Output(), PatternBytes(4096, 3));
}
