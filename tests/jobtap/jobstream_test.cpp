// The port operations: pass-through to the port monitor, header and trailer,
// skipped jobs, job state in the block, the status monitor's start and
// notifications, and the spooler's SetJob at the end.
#include "jobtapfixture.h"
#include <atomic>
#include <thread>

namespace {

struct HexCase {
    const wchar_t *text;
    std::vector<BYTE> bytes;
};

const HexCase kHexCases[] = {
    {L"1B40", {0x1B, 0x40}},
    {L"1B4", {0x1B}},                       // an odd last digit is dropped
    {L"1B 40", {0x1B, 0x04}},               // a blank counts as digit 0
    {L"1b40", {0x1B, 0x40}},
    {L"zz", {0xAA}},                        // other characters: their low four bits
    {L"0g", {0x07}},
    {L"", {}},
    {L"4", {}},
};

// The port's block as any other process can map and write it.
struct WritableBlock {
    HANDLE hMap = nullptr;
    StatusBlock *p = nullptr;
    explicit WritableBlock(const wchar_t *port = L"LPT1:")
    {
        hMap = OpenFileMappingW(FILE_MAP_WRITE, FALSE, ChannelObjectName(StatusFileMap, kMonitorName, port).c_str());
        if (hMap)
            p = (StatusBlock *)MapViewOfFile(hMap, FILE_MAP_WRITE, 0, 0, sizeof(StatusBlock));
    }
    ~WritableBlock()
    {
        if (p)
            UnmapViewOfFile(p);
        if (hMap)
            CloseHandle(hMap);
    }
};

// A hidden top-level window of this thread; posted messages wait in its queue.
struct QueueWindow {
    HWND hWnd;
    explicit QueueWindow(const wchar_t *title)
        : hWnd(CreateWindowW(L"STATIC", title, WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr)) {}
    ~QueueWindow() { DestroyWindow(hWnd); }
    // Every posted (message, wParam) waiting for the window, taken out of the queue.
    std::vector<std::pair<UINT, WPARAM>> Posted()
    {
        std::vector<std::pair<UINT, WPARAM>> out;
        MSG msg;
        while (PeekMessageW(&msg, hWnd, 0, 0, PM_REMOVE))
            if (msg.message != WM_PAINT)
                out.push_back({msg.message, msg.wParam});
        return out;
    }
};

} // namespace

using JobStreamTest = JobtapTest;

TEST_F(JobStreamTest, OpenRefusesANullPortName)
{
    HANDLE h = nullptr;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(host.lm->pfnOpenPortEx(nullptr, (LPWSTR)kTestPrinter, &h, fake.Table()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_EQ(h, nullptr);
    EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(JobStreamTest, OpenRefusesAPortMonitorTableWithoutTheJobFunctions)
{
    LogOn();
    MONITOR table = *fake.Table();
    table.pfnReadPort = nullptr;
    HANDLE h = nullptr;
    SetLastError(0);
    EXPECT_FALSE(host.lm->pfnOpenPortEx((LPWSTR)L"LPT1:", (LPWSTR)kTestPrinter, &h, &table));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(host.lm->pfnOpenPortEx((LPWSTR)L"LPT1:", (LPWSTR)kTestPrinter, &h, nullptr));
    EXPECT_TRUE(LogHas("ERR Open pMonitor x0 pfnOpen x0 pfnStart x0 pfnWrite x0 pfnRead x0 pfnEnd x0 pfnClose x0"));
    EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(JobStreamTest, OpenSetsTheLongestWriteTimeoutWhenThePortMonitorCan)
{
    LogOn();
    HANDLE h = OpenPort();
    ASSERT_TRUE(Close(h));
    auto calls = fake.CallsOf("SetTimeOuts");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args, (std::vector<DWORD>{0, 0, 0, 0, 2147483647, 0}));
    // The error is whatever the fake port left: only the call and its result are pinned.
    std::string text = LogText();
    EXPECT_NE(text.find("LM DBG Open pfnSetPortTimeOuts 0 0 0 0 2147483647 R 1 E "), std::string::npos) << text;

    FakeScript noTimeouts;
    noTimeouts.bNoSetTimeOuts = true;
    fake.Reset(noTimeouts);
    h = OpenPort();
    ASSERT_TRUE(Close(h));
    EXPECT_TRUE(fake.CallsOf("SetTimeOuts").empty());
}

TEST_F(JobStreamTest, PortMonitorRefusingOpenPassesItsErrorUp)
{
    FakeScript script;
    script.dwFailOpen = ERROR_ACCESS_DENIED;
    fake.Reset(script);
    HANDLE h = nullptr;
    EXPECT_FALSE(host.lm->pfnOpenPortEx((LPWSTR)L"LPT1:", (LPWSTR)kTestPrinter, &h, fake.Table()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    fake.Reset();
    h = OpenPort();                          // the failed record is gone
    EXPECT_TRUE(Close(h));
}

TEST_F(JobStreamTest, HeaderAndTrailerAreDecodedFromHexadecimalText)
{
    for (size_t i = 0; i < sizeof(kHexCases) / sizeof(kHexCases[0]); ++i) {
        const HexCase &c = kHexCases[i];
        SetMonitorValue(driver + L" Head", c.text);
        SetMonitorValue(driver + L" Tail", c.text);
        LogOn();
        HANDLE h = OpenPort();
        ASSERT_TRUE(StartDoc(h));
        ASSERT_TRUE(Write(h, Bytes("data")));
        EndDoc(h);
        ASSERT_TRUE(Close(h));
        EXPECT_EQ(Output(), Concat({c.bytes, Bytes("data"), c.bytes})) << "case " << i;
        if (c.bytes.empty()) {
            EXPECT_TRUE(LogHas("DBG Start RegStrHead 0")) << "case " << i;
            EXPECT_TRUE(LogHas("DBG End RegStrTail 0")) << "case " << i;
        } else {
            std::string n = std::to_string(c.bytes.size());
            EXPECT_TRUE(LogHas("DBG Start RegStrHead " + n + " " + n + " R 1 E 0")) << "case " << i << LogText();
            EXPECT_TRUE(LogHas("DBG End RegStrTail " + n + " " + n + " R 1 E 0")) << "case " << i;
        }
        LogOff();
    }
}

TEST_F(JobStreamTest, HeaderWithoutTrailerSendsOnlyTheHeader)
{
    SetMonitorValue(driver + L" Head", L"1B40");
    PrintOnce(Bytes("abc"));
    EXPECT_EQ(Output(), Concat({{0x1B, 0x40}, Bytes("abc")}));
}

// Header and trailer reach the port whole through a port that takes one byte
// a write; a port that fails the header fails StartDoc (its document ended,
// no job recorded), one that fails the trailer fails EndDoc.
TEST_F(JobStreamTest, HeaderAndTrailerGoOutWholeOrFailTheJob)
{
    SetMonitorValue(driver + L" Head", L"1B401B41");
    SetMonitorValue(driver + L" Tail", L"0C0D");
    fake.script.cbWriteMax = 1;
    PrintOnce(Bytes("a"));  // (a Write reports what the port took: the spooler repeats the rest)
    EXPECT_EQ(Output(), Concat({{0x1B, 0x40, 0x1B, 0x41}, Bytes("a"), {0x0C, 0x0D}}));

    fake.Reset();
    fake.script.dwFailWrite = ERROR_NOT_READY;
    HANDLE h = OpenPort();
    SetLastError(0);
    EXPECT_FALSE(StartDoc(h, 5));
    EXPECT_EQ((DWORD)ERROR_NOT_READY, GetLastError());
    EXPECT_EQ(1u, fake.CallsOf("EndDoc").size());
    EXPECT_EQ(0u, Block().dwFlags);
    EXPECT_TRUE(Close(h));

    fake.Reset();
    fake.script.dwFailWrite = ERROR_NOT_READY;
    fake.script.cWritesBeforeFail = 2;  // the header and the data
    fake.script.cbWriteMax = 0;
    h = OpenPort();
    ASSERT_TRUE(StartDoc(h, 6));
    ASSERT_TRUE(Write(h, Bytes("abc")));
    SetLastError(0);
    EXPECT_FALSE(EndDoc(h));
    EXPECT_EQ((DWORD)ERROR_NOT_READY, GetLastError());
    EXPECT_EQ((DWORD)STATUS_FLAG_WRITE_FAILED, Block().dwFlags & STATUS_FLAG_WRITE_FAILED);
    EXPECT_TRUE(Close(h));
}

TEST_F(JobStreamTest, DocumentWithoutDescriptionBypassesEverythingButTheData)
{
    SetMonitorValue(driver + L" Head", L"1B40");
    SetMonitorValue(driver + L" Tail", L"0C");
    HANDLE h = OpenPort();
    DOC_INFO_1W empty = {};
    ASSERT_TRUE(host.lm->pfnStartDocPort(h, (LPWSTR)kTestPrinter, 9, 1, (LPBYTE)&empty));
    ASSERT_TRUE(Write(h, Bytes("raw")));
    EXPECT_EQ(Block().dwFlags, 0u);
    EXPECT_EQ(Block().dwJobId, 0u);
    ASSERT_TRUE(EndDoc(h));
    ASSERT_TRUE(Close(h));
    EXPECT_EQ(Output(), Bytes("raw"));
    EXPECT_TRUE(fake.CallsOf("StartDoc").empty());
    EXPECT_TRUE(fake.CallsOf("EndDoc").empty());
}

TEST_F(JobStreamTest, StartDocRefusesBadArguments)
{
    HANDLE h = OpenPort();
    DOC_INFO_1W doc = {(LPWSTR)L"d", nullptr, (LPWSTR)L"RAW"};
    struct { const wchar_t *printer; DWORD level; void *info; } cases[] = {
        {nullptr, 1, &doc}, {L"", 1, &doc}, {kTestPrinter, 0, &doc}, {kTestPrinter, 3, &doc}, {kTestPrinter, 1, nullptr}};
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        SetLastError(0);
        EXPECT_FALSE(host.lm->pfnStartDocPort(h, (LPWSTR)cases[i].printer, 1, cases[i].level, (LPBYTE)cases[i].info))
            << "case " << i;
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER) << "case " << i;
    }
    EXPECT_TRUE(fake.CallsOf("StartDoc").empty());
    DOC_INFO_2W doc2 = {(LPWSTR)L"d2", nullptr, (LPWSTR)L"RAW", 0, 0};
    EXPECT_TRUE(host.lm->pfnStartDocPort(h, (LPWSTR)kTestPrinter, 1, 2, (LPBYTE)&doc2));
    EndDoc(h);
    EXPECT_TRUE(Close(h));
}

TEST_F(JobStreamTest, BlockFollowsTheJob)
{
    HANDLE h = OpenPort();
    StatusBlock b = Block();
    EXPECT_EQ(b.uMsgMonitor, RegisterWindowMessageW(L"Ostrel StatusMonitor"));
    ASSERT_TRUE(StartDoc(h, 4242));
    b = Block();
    EXPECT_EQ(b.dwJobId, 4242u);
    EXPECT_EQ(b.dwFlags, (DWORD)STATUS_FLAG_PRINTING);
    EXPECT_EQ(b.dwSpoolerProcessId, GetCurrentProcessId());
    EXPECT_EQ(b.dwSpoolerThreadId, GetCurrentThreadId());
    EndDoc(h);
    EXPECT_EQ(Block().dwFlags, 0u);
    EXPECT_EQ(Block().dwJobId, 4242u);
    ASSERT_TRUE(Close(h));
}

TEST_F(JobStreamTest, WriteFailedBitFollowsEveryPortWrite)
{
    HANDLE h = OpenPort();
    ASSERT_TRUE(StartDoc(h));
    fake.script.dwFailWrite = ERROR_NOT_READY;
    DWORD written;
    SetLastError(0);
    EXPECT_FALSE(Write(h, Bytes("x"), &written));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_READY);
    EXPECT_EQ(Block().dwFlags, (DWORD)(STATUS_FLAG_PRINTING | STATUS_FLAG_WRITE_FAILED));
    fake.script.dwFailWrite = 0;
    EXPECT_TRUE(Write(h, Bytes("y"), &written));
    EXPECT_EQ(written, 1u);
    EXPECT_EQ(Block().dwFlags, (DWORD)STATUS_FLAG_PRINTING);
    fake.script.dwFailWrite = ERROR_NOT_READY;
    EXPECT_FALSE(Write(h, Bytes("z")));
    fake.script.dwFailWrite = 0;
    EndDoc(h);
    ASSERT_TRUE(StartDoc(h));                // a new job clears the bit
    EXPECT_EQ(Block().dwFlags, (DWORD)STATUS_FLAG_PRINTING);
    EndDoc(h);
    ASSERT_TRUE(Close(h));
}

TEST_F(JobStreamTest, PortMonitorRefusingStartDocLeavesTheJobStateAlone)
{
    HANDLE h = OpenPort();
    fake.script.dwFailStartDoc = ERROR_OUT_OF_PAPER;
    SetLastError(0);
    EXPECT_FALSE(StartDoc(h, 5));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_OUT_OF_PAPER);
    EXPECT_EQ(Block().dwJobId, 0u);
    EXPECT_EQ(Block().dwFlags, 0u);
    ASSERT_TRUE(Close(h));
}

TEST_F(JobStreamTest, ReadPassesStraightThrough)
{
    HANDLE h = OpenPort();
    BYTE buf[16] = {};
    DWORD cb = 0;
    ASSERT_TRUE(host.lm->pfnReadPort(h, buf, sizeof(buf), &cb));
    EXPECT_EQ(std::string((char *)buf, cb), "READY");
    fake.script.dwFailRead = ERROR_TIMEOUT;
    EXPECT_FALSE(host.lm->pfnReadPort(h, buf, sizeof(buf), &cb));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_TIMEOUT);
    ASSERT_TRUE(Close(h));
}

TEST_F(JobStreamTest, EndDocTellsTheSpoolerTheLastPageIsOut)
{
    SpoolerJob job;
    ASSERT_NE(job.Id(), 0u);
    LogOn();
    HANDLE h = OpenPort();
    ASSERT_TRUE(StartDoc(h, job.Id()));
    EXPECT_TRUE(EndDoc(h));
    EXPECT_FALSE(LogHas("ERR End SetJob R 0 E 0"));
    ASSERT_TRUE(Close(h));
}

TEST_F(JobStreamTest, EndDocFailsWhenTheSpoolerRefusesSetJob)
{
    LogOn();
    HANDLE h = OpenPort();
    ASSERT_TRUE(StartDoc(h, 987654));
    SetLastError(0);
    EXPECT_FALSE(EndDoc(h));
    EXPECT_NE(GetLastError(), 0u) << "a failure always leaves a code";
    EXPECT_TRUE(LogHasPrefix("ERR End SetJob R 0 E ")) << LogText();
    EXPECT_EQ(fake.CallsOf("EndDoc").size(), 1u);   // the port monitor ended the document first
    ASSERT_TRUE(Close(h));
}

TEST_F(JobStreamTest, PortMonitorRefusingEndDocPassesItsErrorUp)
{
    HANDLE h = OpenPort();
    ASSERT_TRUE(StartDoc(h));
    fake.script.dwFailEndDoc = ERROR_NOT_READY;
    EXPECT_FALSE(EndDoc(h));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_READY);
    ASSERT_TRUE(Close(h));
}

TEST_F(JobStreamTest, PortMonitorRefusingCloseKeepsTheRecord)
{
    HANDLE h = OpenPort();
    fake.script.dwFailClose = ERROR_BUSY;
    EXPECT_FALSE(Close(h));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_BUSY);
    HANDLE h2 = nullptr;
    EXPECT_FALSE(host.lm->pfnOpenPortEx((LPWSTR)L"LPT1:", (LPWSTR)kTestPrinter, &h2, fake.Table()));
}

// The status monitor program: started from the system directory with
// "$X <printer>" when none is running, then notified.
class StatusProgramTest : public JobtapTest {
protected:
    std::wstring statusLog = ExePath(L"statuswin.log");
    void SetUp() override
    {
        JobtapTest::SetUp();
        WCHAR sys[MAX_PATH];
        GetSystemDirectoryW(sys, MAX_PATH);
        ASSERT_TRUE(CopyFileW(ExePath(L"statuswin.exe").c_str(), (std::wstring(sys) + L"\\kztstatus.exe").c_str(), FALSE));
        DeleteFileW(statusLog.c_str());
        SetEnvironmentVariableW(L"KZT_STATUS_LOG", statusLog.c_str());
        SetEnvironmentVariableW(L"KZT_STATUS_LM", kMonitorName);
        SetEnvironmentVariableW(L"KZT_STATUS_PORT", L"LPT1:");
    }
    std::string StatusLog() { return ReadTextFile(statusLog); }
    bool WaitForStatusLog(const std::string &what)
    {
        for (int i = 0; i < 100; ++i) {
            if (StatusLog().find(what) != std::string::npos)
                return true;
            Sleep(50);
        }
        return false;
    }
};

TEST_F(StatusProgramTest, FirstJobStartsTheProgramWhichThenHearsEveryEvent)
{
    SetMonitorValue(driver, L"kztstatus.exe");
    LogOn();
    HANDLE h = OpenPort();
    ASSERT_TRUE(StartDoc(h));
    StatusBlock b = Block();
    EXPECT_NE(b.dwMonitorProcessId, 0u);
    // The block names handles of this (the spooler's) process that stay open
    // for the program: each still names the program's process and thread.
    EXPECT_EQ(GetProcessId((HANDLE)(UINT_PTR)b.hMonitorProcess), b.dwMonitorProcessId);
    EXPECT_EQ(GetThreadId((HANDLE)(UINT_PTR)b.hMonitorThread), b.dwMonitorThreadId);
    EXPECT_STREQ(b.szWindowName, "KZT TZ Test - Status Monitor");
    EXPECT_NE(b.hWndMonitor, 0u);
    ASSERT_TRUE(Write(h, Bytes("page")));
    EndDoc(h);
    ASSERT_TRUE(StartDoc(h));               // the window exists: no second start
    EndDoc(h);
    ASSERT_TRUE(Close(h));
    ASSERT_TRUE(WaitForStatusLog("exit")) << StatusLog();
    EXPECT_EQ(StatusLog(), "cmdline $X KZT TZ Test\n"
                           "window KZT TZ Test - Status Monitor\n"
                           "notify 2 0\nnotify 3 0\nnotify 2 0\nnotify 3 0\nnotify 4 0\nexit\n");
    int starts = 0;
    for (auto &line : LogMessages())
        starts += line.find("Start CreateProcess(") != std::string::npos;
    EXPECT_EQ(starts, 1) << LogText();
    WCHAR sys[MAX_PATH];
    GetSystemDirectoryW(sys, MAX_PATH);
    EXPECT_TRUE(LogHas("DBG Start CreateProcess([" + Narrow(sys) + "\\kztstatus.exe] [$X KZT TZ Test]) R 1 E 0"))
        << LogText();
    EXPECT_TRUE(LogHas("DBG Start WaitForInputIdle R 0 E 0"));
}

TEST_F(StatusProgramTest, PortOpenedNoticeIsNotSentWhileTheClearedBlockNamesNoWindow)
{
    SetMonitorValue(driver, L"kztstatus.exe");
    HANDLE h = OpenPort();
    ASSERT_TRUE(StartDoc(h));
    EndDoc(h);
    // A block held open by a client keeps its window name only until the
    // next Open clears it: no port-opened notice then.
    ASSERT_TRUE(Close(h));
    ASSERT_TRUE(WaitForStatusLog("exit"));
    EXPECT_EQ(StatusLog().find("notify 1"), std::string::npos);
}

TEST_F(StatusProgramTest, NoProgramConfiguredMeansNoProcess)
{
    LogOn();
    HANDLE h = OpenPort();
    ASSERT_TRUE(StartDoc(h));
    EndDoc(h);
    EXPECT_EQ(Block().dwMonitorProcessId, 0u);
    ASSERT_TRUE(Close(h));
    for (auto &line : LogMessages())
        EXPECT_EQ(line.find("CreateProcess"), std::string::npos) << line;
}

TEST_F(StatusProgramTest, ProgramThatCannotStartLeavesTheJobRunning)
{
    SetMonitorValue(driver, L"no-such-program.exe");
    LogOn();
    PrintOnce(Bytes("abc"));
    EXPECT_EQ(Output(), Bytes("abc"));
    bool failed = false;
    for (auto &line : LogMessages())
        failed |= line.find("Start CreateProcess(") != std::string::npos && line.find("R 0 E 2") != std::string::npos;
    EXPECT_TRUE(failed) << LogText();
}

// The field holds 256 characters and no terminator; the job id behind it
// reads "XYZ". The title looked for is the field's first 255 characters:
// neither the whole field nor the field with the bytes behind it.
TEST_F(JobStreamTest, UnterminatedWindowNameInTheBlockIsNeverReadPastItsEnd)
{
    const DWORD kJobIdText = 'X' | 'Y' << 8 | 'Z' << 16;
    QueueWindow cut(std::wstring(255, L'W').c_str()), whole(std::wstring(256, L'W').c_str()),
        past((std::wstring(256, L'W') + L"XYZ").c_str());
    ASSERT_TRUE(cut.hWnd && whole.hWnd && past.hWnd);
    HANDLE h = OpenPort();
    WritableBlock block;
    ASSERT_NE(block.p, nullptr);
    memset(block.p->szWindowName, 'W', sizeof(block.p->szWindowName));
    ASSERT_TRUE(StartDoc(h, kJobIdText));
    EXPECT_EQ(memcmp(&block.p->dwJobId, "XYZ", 4), 0);
    EXPECT_EQ(block.p->hWndMonitor, (uint32_t)(UINT_PTR)cut.hWnd);
    EndDoc(h);
    ASSERT_TRUE(Close(h));
    const UINT uMsg = RegisterWindowMessageW(L"" STATUS_MSG_NAME);
    std::vector<std::pair<UINT, WPARAM>> expected = {
        {uMsg, STATUS_NOTIFY_DOC_START}, {uMsg, STATUS_NOTIFY_DOC_END}, {uMsg, STATUS_NOTIFY_PORT_CLOSE}};
    EXPECT_EQ(cut.Posted(), expected);
    EXPECT_TRUE(whole.Posted().empty());
    EXPECT_TRUE(past.Posted().empty());
}

// A document with a description after a skipped one that never ended is a
// real job: its EndDoc ends the document at the port monitor.
TEST_F(JobStreamTest, DescribedDocumentAfterAnUnendedSkippedOneIsEndedInFull)
{
    HANDLE h = OpenPort();
    DOC_INFO_1W empty = {};
    ASSERT_TRUE(host.lm->pfnStartDocPort(h, (LPWSTR)kTestPrinter, 9, 1, (LPBYTE)&empty));
    ASSERT_TRUE(StartDoc(h, 10));
    EXPECT_EQ(Block().dwFlags, (DWORD)STATUS_FLAG_PRINTING);
    EndDoc(h);
    EXPECT_EQ(fake.CallsOf("EndDoc").size(), 1u);
    EXPECT_EQ(Block().dwFlags, 0u);
    ASSERT_TRUE(Close(h));
}

// The block is writable by any process: the notifications go with the
// message the monitor registered itself, to the window it found by title.
TEST_F(JobStreamTest, NotificationsUseTheMessageTheMonitorRegisteredNotTheBlocksCopy)
{
    const UINT uMsg = RegisterWindowMessageW(L"" STATUS_MSG_NAME);
    QueueWindow status(L"KZT forged - Status Monitor");
    ASSERT_NE(status.hWnd, nullptr);
    HANDLE h = OpenPort();
    WritableBlock block;
    ASSERT_NE(block.p, nullptr);
    strcpy((char *)block.p->szWindowName, "KZT forged - Status Monitor");
    block.p->uMsgMonitor = WM_CLOSE;
    ASSERT_TRUE(StartDoc(h));
    EndDoc(h);
    auto posted = status.Posted();
    ASSERT_TRUE(Close(h));
    std::vector<std::pair<UINT, WPARAM>> expected = {{uMsg, STATUS_NOTIFY_DOC_START}, {uMsg, STATUS_NOTIFY_DOC_END}};
    EXPECT_EQ(posted, expected);
}

// No status window is found by title; whatever window handle another process
// writes into the block meanwhile gets no document-started notification.
TEST_F(JobStreamTest, StartDocNeverPostsToAWindowOnlyTheBlockNames)
{
    QueueWindow victim(L"KZT not a status window");
    ASSERT_NE(victim.hWnd, nullptr);
    HANDLE h = OpenPort();
    WritableBlock block;
    ASSERT_NE(block.p, nullptr);
    std::atomic<bool> stop{false};
    std::thread forger([&] {
        while (!stop)
            *(volatile uint32_t *)&block.p->hWndMonitor = (uint32_t)(UINT_PTR)victim.hWnd;
    });
    BOOL bStarted = StartDoc(h);
    stop = true;
    forger.join();
    ASSERT_TRUE(bStarted);
    EndDoc(h);
    ASSERT_TRUE(Close(h));
    EXPECT_TRUE(victim.Posted().empty());
}
