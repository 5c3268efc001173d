// The filter library: loaded per job, fed by Write, drained to the port,
// flushed and freed at EndDoc; incomplete or failing libraries.
#include "jobtapfixture.h"

namespace {

std::vector<BYTE> Xor(std::vector<BYTE> data)
{
    for (auto &b : data)
        b ^= 0x5A;
    return data;
}

std::string FilterCalls(const wchar_t *dll) { return ReadTextFile(ExePath(dll) + L".calls"); }

} // namespace

class FilterTest : public JobtapTest {
protected:
    void UseFilter(const wchar_t *dll)
    {
        DeleteFileW((ExePath(dll) + L".calls").c_str());
        SetMonitorValue(driver + L" Filter", ExePath(dll));
    }
};

TEST_F(FilterTest, JobDataFlowsThroughTheFilterButHeaderAndTrailerDoNot)
{
    UseFilter(L"filter_xor.dll");
    SetMonitorValue(driver + L" Head", L"1B40");
    SetMonitorValue(driver + L" Tail", L"0C");
    auto data = PatternBytes(100000, 1);
    HANDLE h = OpenPort();
    ASSERT_TRUE(StartDoc(h));
    DWORD written = 0;
    ASSERT_TRUE(Write(h, {data.begin(), data.begin() + 70000}, &written));
    EXPECT_EQ(written, 70000u);
    ASSERT_TRUE(Write(h, {data.begin() + 70000, data.end()}, &written));
    EXPECT_EQ(written, 30000u);
    EndDoc(h);
    ASSERT_TRUE(Close(h));
    EXPECT_EQ(Output(), Concat({{0x1B, 0x40}, Xor(data), {0x0C}}));
    EXPECT_EQ(FilterCalls(L"filter_xor.dll"), "Open\nFlush\nClose\n");
}

TEST_F(FilterTest, HeldDataReachesThePortAtEndDoc)
{
    UseFilter(L"filter_hold.dll");
    const DWORD kChunk = 0x40000;            // what the drain offers the filter's "Read" at a time
    auto data = PatternBytes(2 * kChunk + 50000, 2);
    HANDLE h = OpenPort();
    ASSERT_TRUE(StartDoc(h));
    DWORD written = 0;
    ASSERT_TRUE(Write(h, data, &written));
    EXPECT_EQ(written, data.size());         // the accepted count, not the port's
    EXPECT_TRUE(Output().empty());
    EndDoc(h);
    ASSERT_TRUE(Close(h));
    EXPECT_EQ(Output(), Xor(data));
    // Drained a chunk a port write, the rest in the last one.
    std::vector<DWORD> sizes;
    for (auto &call : fake.CallsOf("Write"))
        sizes.push_back(call.args[0]);
    EXPECT_EQ(sizes, (std::vector<DWORD>{kChunk, kChunk, 50000}));
}

TEST_F(FilterTest, FilteredJobWithoutWritesOffersAnEmptyBuffer)
{
    UseFilter(L"filter_hold.dll");
    LogOn();
    PrintOnce({});
    EXPECT_TRUE(Output().empty());
    EXPECT_EQ(FilterCalls(L"filter_hold.dll"), "Open\nFlush\nClose\n");
    EXPECT_TRUE(LogHasPrefix("DBG End FreeLibrary R 1 E ")) << LogText();
}

// A configured filter that cannot be used fails StartDoc before the port
// sees a byte (header included), naming the cause: printed unfiltered, a
// converting filter's job would be garbage reported as printed. A library
// whose "Open" failed is not closed.
TEST_F(FilterTest, FilterThatCannotBeUsedFailsStartDocBeforeThePortSeesAByte)
{
    const struct {
        const wchar_t *dll;  // beside the tests, or a full path
        const char *line;    // the ERR line's start
        DWORD error;
        const char *calls;
        const char *missing;  // also in that line: the export that is not there
    } rows[] = {
        {L"C:\\no-such-filter.dll", "ERR Start LoadLibrary([C:\\no-such-filter.dll]) R x0 E 126", 126, "", ""},
        {L"filter_noflush.dll", "ERR Start GetProcAddress Open x", ERROR_PROC_NOT_FOUND, "", " Flush x0 "},
        {L"filter_noread.dll", "ERR Start GetProcAddress Open x", ERROR_PROC_NOT_FOUND, "", " Read x0 "},
        {L"filter_failopen.dll", "ERR Start pfnFilterOpen R 0 E 5", ERROR_ACCESS_DENIED, "Open\n", ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.line);
        fake.Reset();
        if (wcschr(row.dll, L'\\'))
            SetMonitorValue(driver + L" Filter", row.dll);
        else
            UseFilter(row.dll);
        SetMonitorValue(driver + L" Head", L"1B40");
        LogOn();
        HANDLE h = OpenPort();
        SetLastError(0);
        EXPECT_FALSE(StartDoc(h));
        EXPECT_EQ(row.error, GetLastError());
        bool logged = false;
        for (auto &line : LogMessages())
            logged |= line.rfind(row.line, 0) == 0 && line.find(row.missing) != std::string::npos;
        EXPECT_TRUE(logged) << LogText();
        EXPECT_EQ(0u, Block().dwFlags);  // no job printing
        EXPECT_TRUE(fake.CallsOf("StartDoc").empty());
        ASSERT_TRUE(Close(h));
        EXPECT_TRUE(Output().empty());
        if (!wcschr(row.dll, L'\\')) {
            EXPECT_EQ(row.calls, FilterCalls(row.dll));
            EXPECT_EQ(GetModuleHandleW(ExePath(row.dll).c_str()), nullptr) << "the library stayed loaded";
        }
    }
}

TEST_F(FilterTest, FilterRefusingDataFailsTheWriteWithNothingWritten)
{
    UseFilter(L"filter_failwrite.dll");
    HANDLE h = OpenPort();
    ASSERT_TRUE(StartDoc(h));
    DWORD written = 1;
    SetLastError(0);
    EXPECT_FALSE(Write(h, Bytes("refused"), &written));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_DATA);
    EXPECT_EQ(Block().dwFlags, (DWORD)(STATUS_FLAG_PRINTING | STATUS_FLAG_WRITE_FAILED));
    EndDoc(h);
    ASSERT_TRUE(Close(h));
    EXPECT_TRUE(Output().empty());
}

// The filter took the data, the port failed while draining it. The Write
// fails and reports what the filter took: a spooler that goes on after the
// reported count sends nothing twice, and what the port did not take goes
// out first once it is back (at the next Write, or at EndDoc).
TEST_F(FilterTest, PortFailingWhileDrainingReportsWhatTheFilterTookAndLosesNothing)
{
    struct Case {
        DWORD cbPortTakesFirst;             // bytes the port takes before it fails
        bool bMoreData;                     // another Write follows, or EndDoc at once
    } cases[] = {{0, false}, {1000, false}, {1000, true}, {0, true}};
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        UseFilter(L"filter_xor.dll");
        fake.Reset();
        auto data = PatternBytes(3000, 4);
        auto more = PatternBytes(500, 5);
        HANDLE h = OpenPort();
        ASSERT_TRUE(StartDoc(h));
        fake.script.dwFailWrite = ERROR_NOT_READY;
        fake.script.cbWriteMax = cases[i].cbPortTakesFirst;
        fake.script.cWritesBeforeFail = cases[i].cbPortTakesFirst ? 1 : 0;
        DWORD written = 0xdeadbeef;
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(Write(h, data, &written)) << "case " << i;
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_READY) << "case " << i;
        EXPECT_EQ(written, 3000u) << "case " << i;
        EXPECT_EQ(Block().dwFlags, (DWORD)(STATUS_FLAG_PRINTING | STATUS_FLAG_WRITE_FAILED)) << "case " << i;

        // The port is back; the spooler sends what was not reported written.
        fake.script = FakeScript();
        if (written < data.size()) {
            ASSERT_TRUE(Write(h, std::vector<BYTE>(data.begin() + written, data.end()))) << "case " << i;
        }
        if (cases[i].bMoreData) {
            ASSERT_TRUE(Write(h, more, &written)) << "case " << i;
            EXPECT_EQ(written, 500u) << "case " << i;
            EXPECT_EQ(Block().dwFlags, (DWORD)STATUS_FLAG_PRINTING) << "case " << i;
        }
        EndDoc(h);
        ASSERT_TRUE(Close(h));
        EXPECT_EQ(Output(), Xor(cases[i].bMoreData ? Concat({data, more}) : data)) << "case " << i;
    }
}

// Data the filter releases at EndDoc that the port refuses is a failed job:
// EndDoc fails with the port's code and sets the write-failed bit, the
// document still ends at the port monitor and the filter is closed, but the
// spooler is not told that the last page came out.
TEST_F(FilterTest, PortFailingWhileDrainingAtEndDocFailsTheJob)
{
    UseFilter(L"filter_hold.dll");
    LogOn();
    HANDLE h = OpenPort();
    ASSERT_TRUE(StartDoc(h, 987654));        // unknown to Wine's spooler: a SetJob would log its failure
    ASSERT_TRUE(Write(h, Bytes("held until EndDoc")));
    fake.script.dwFailWrite = ERROR_NOT_READY;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(EndDoc(h));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_READY);
    EXPECT_EQ(Block().dwFlags, (DWORD)STATUS_FLAG_WRITE_FAILED);
    EXPECT_EQ(fake.CallsOf("EndDoc").size(), 1u);
    EXPECT_EQ(FilterCalls(L"filter_hold.dll"), "Open\nFlush\nClose\n");
    EXPECT_FALSE(LogHasPrefix("ERR End SetJob")) << LogText();
    EXPECT_FALSE(LogHasPrefix("ERR End OpenPrinter")) << LogText();
    fake.script.dwFailWrite = 0;
    ASSERT_TRUE(Close(h));
    EXPECT_TRUE(Output().empty());
}

// A filter whose "Flush" fails holds back data of the job: the printout is
// cut. EndDoc still sends what a failed port write left pending, then fails
// the job like a failed drain: the write-failed bit, ERROR_WRITE_FAULT for a
// filter that set no code (not what the log's own calls left), the document
// ends at the port monitor, the filter is closed, and no last-page notice.
TEST_F(FilterTest, FilterFailingToFlushFailsTheJobButSendsWhatWasPending)
{
    UseFilter(L"filter_failflush.dll");
    LogOn();
    auto data = PatternBytes(3000, 6);
    HANDLE h = OpenPort();
    ASSERT_TRUE(StartDoc(h, 987654));        // unknown to Wine's spooler: a SetJob would log its failure
    fake.script.dwFailWrite = ERROR_NOT_READY;
    EXPECT_FALSE(Write(h, data));            // the filter took it all, the port nothing
    fake.script = FakeScript();
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(EndDoc(h));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_WRITE_FAULT);
    EXPECT_EQ(Block().dwFlags, (DWORD)STATUS_FLAG_WRITE_FAILED);
    EXPECT_EQ(fake.CallsOf("EndDoc").size(), 1u);
    EXPECT_EQ(FilterCalls(L"filter_failflush.dll"), "Open\nFlush\nClose\n");
    EXPECT_FALSE(LogHasPrefix("ERR End SetJob")) << LogText();
    EXPECT_FALSE(LogHasPrefix("ERR End OpenPrinter")) << LogText();
    ASSERT_TRUE(Close(h));
    EXPECT_EQ(Output(), Xor(data));
}

// A job the spooler never ended: the next StartDoc closes and frees its
// filter before it loads the library again.
TEST_F(FilterTest, SecondStartDocWithoutEndDocClosesAndFreesTheFirstFilter)
{
    UseFilter(L"filter_xor.dll");
    HANDLE h = OpenPort();
    ASSERT_TRUE(StartDoc(h, 1));
    ASSERT_TRUE(Write(h, Bytes("first")));
    ASSERT_TRUE(StartDoc(h, 2));
    ASSERT_TRUE(Write(h, Bytes("second")));
    EndDoc(h);
    ASSERT_TRUE(Close(h));
    EXPECT_EQ(FilterCalls(L"filter_xor.dll"), "Open\nClose\nOpen\nFlush\nClose\n");
    EXPECT_EQ(GetModuleHandleW(ExePath(L"filter_xor.dll").c_str()), nullptr) << "a load was never freed";
    EXPECT_EQ(Output(), Xor(Concat({Bytes("first"), Bytes("second")})));
}

TEST_F(FilterTest, PartialPortWritesAreRepeatedUntilEverythingIsOut)
{
    UseFilter(L"filter_xor.dll");
    fake.script.cbWriteMax = 1000;
    auto data = PatternBytes(10500, 3);
    HANDLE h = OpenPort();
    ASSERT_TRUE(StartDoc(h));
    DWORD written = 0;
    ASSERT_TRUE(Write(h, data, &written));
    EXPECT_EQ(written, 10500u);
    EndDoc(h);
    ASSERT_TRUE(Close(h));
    EXPECT_EQ(Output(), Xor(data));
    EXPECT_EQ(fake.CallsOf("Write").size(), 11u);
}

TEST_F(FilterTest, PortThatTakesNothingFailsTheWriteInsteadOfLoopingForever)
{
    UseFilter(L"filter_xor.dll");
    fake.script.bWriteZero = true;
    HANDLE h = OpenPort();
    ASSERT_TRUE(StartDoc(h));
    EXPECT_FALSE(Write(h, Bytes("stuck")));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_WRITE_FAULT);
    EXPECT_EQ(fake.CallsOf("Write").size(), 1u);
    fake.script.bWriteZero = false;
    EndDoc(h);
    ASSERT_TRUE(Close(h));
}

// A filter whose Write succeeds but takes nothing fails the Write at the
// second try: the spooler would send the same bytes for ever.
TEST_F(FilterTest, FilterThatTakesNothingFailsTheWrite)
{
    UseFilter(L"filter_takenothing.dll");
    HANDLE h = OpenPort();
    ASSERT_TRUE(StartDoc(h));
    DWORD written = 1;
    EXPECT_FALSE(Write(h, Bytes("never taken"), &written));
    EXPECT_EQ(0u, written);
    EXPECT_EQ((DWORD)ERROR_WRITE_FAULT, GetLastError());
    EXPECT_EQ("Open\nWrite\nWrite\n", FilterCalls(L"filter_takenothing.dll"));
    EndDoc(h);
    ASSERT_TRUE(Close(h));
}

TEST_F(FilterTest, ReadNeverPassesThroughTheFilter)
{
    UseFilter(L"filter_xor.dll");
    HANDLE h = OpenPort();
    ASSERT_TRUE(StartDoc(h));
    BYTE buf[8];
    DWORD cb = 0;
    ASSERT_TRUE(host.lm->pfnReadPort(h, buf, sizeof(buf), &cb));
    EXPECT_EQ(std::string((char *)buf, cb), "READY");
    EndDoc(h);
    ASSERT_TRUE(Close(h));
}

// The filter's entry points have no context: two ports printing at once
// through one library would mix their jobs inside it. The second job waits
// for the first one's EndDoc.
TEST_F(FilterTest, OverlappingJobsOfTwoPortsThroughOneHoldingFilterEachGetTheirOwnBytes)
{
    UseFilter(L"filter_hold.dll");
    auto first = PatternBytes(30000, 3), second = PatternBytes(20000, 4);
    HANDLE a = OpenPort(L"LPT1:"), b = OpenPort(L"LPT2:");
    ASSERT_TRUE(StartDoc(a));
    ASSERT_TRUE(Write(a, first));
    AsyncCall secondJob([&] { return StartDoc(b, 8) && Write(b, second) && (EndDoc(b), TRUE); });
    EXPECT_FALSE(secondJob.Returned(300)) << "the second job ran while the first held the filter";
    EndDoc(a);
    ASSERT_TRUE(secondJob.Returned(kHangGuardMs));
    EXPECT_TRUE(secondJob.Result());
    ASSERT_TRUE(Close(a));
    ASSERT_TRUE(Close(b));
    EXPECT_EQ(Output(L"LPT1:"), Xor(first));
    EXPECT_EQ(Output(L"LPT2:"), Xor(second));
}

// A port with job after job through the filter does not keep another port
// out: the other port's job, waiting, gets the library at the first EndDoc.
TEST_F(FilterTest, PortWithBackToBackJobsLetsAWaitingPortIn)
{
    UseFilter(L"filter_xor.dll");
    HANDLE a = OpenPort(L"LPT1:"), b = OpenPort(L"LPT2:");
    volatile LONG jobsOfA = 0, stop = 0;
    AsyncCall loop([&] {
        for (int i = 0; i < 60 && !stop; ++i) {
            if (!StartDoc(a, 100 + i) || !Write(a, Bytes("a")))
                return FALSE;
            Sleep(30);                          // the job's time with the library
            EndDoc(a);
            InterlockedIncrement(&jobsOfA);
        }
        return TRUE;
    });
    while (jobsOfA < 1 && !loop.Returned(1)) {
    }
    LONG longestWait = 0;                       // in jobs of A, over three jobs of B
    for (int j = 0; j < 3; ++j) {
        LONG atStart = jobsOfA;
        ASSERT_TRUE(StartDoc(b, 8 + j));
        longestWait = std::max(longestWait, jobsOfA - atStart);
        ASSERT_TRUE(Write(b, Bytes("b")));
        EndDoc(b);
    }
    stop = 1;
    ASSERT_TRUE(loop.Returned(kHangGuardMs));
    EXPECT_TRUE(loop.Result());
    EXPECT_LE(longestWait, 2) << "port B waited through " << longestWait << " jobs of port A";
    ASSERT_TRUE(Close(a));
    ASSERT_TRUE(Close(b));
    EXPECT_EQ(Output(L"LPT2:"), Xor(Bytes("bbb")));
}

// A filter whose "Read" reports more bytes than it was offered has handed
// over nothing it can vouch for, also when it did so in a Write and then runs
// dry; one that hands out a byte at a time without end is cut off after
// about as many reads as it took bytes (plus its slack). Each fails the job,
// and EndDoc returns. An honest filter that expands the job in small reads
// goes through.
TEST_F(FilterTest, DrainOfALyingFilterIsBoundedAndFailsTheJob)
{
    struct {
        const wchar_t *dll;
        bool writeOk, endOk;
        size_t cbMin, cbMax;
        const char *logged;
    } rows[] = {
        {L"filter_lie.dll", true, false, 0, 0, "ERR Read pfnFilterRead 262144 262145 R 0 E 13"},
        {L"filter_lieonce.dll", false, false, 0, 0, "ERR End pfnFilterRead Lost R 0 E 13"},
        {L"filter_dribble.dll", true, false, 16000000, 18000000, "ERR Read pfnFilterRead Unending 17044537 R 0 E 13"},
        {L"filter_expand.dll", true, true, 30000000, 30000000, nullptr},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << Narrow(row.dll));
        UseFilter(row.dll);
        if (row.logged)
            LogOn();
        else
            LogOff();
        HANDLE h = OpenPort();
        ASSERT_TRUE(StartDoc(h));
        EXPECT_EQ(row.writeOk, Write(h, PatternBytes(1000, 5)) != FALSE);
        DWORD dwEndError = 0;
        AsyncCall end([&] {
            BOOL bOk = EndDoc(h);
            dwEndError = GetLastError();
            return bOk;
        });
        ASSERT_TRUE(end.Returned(kHangGuardMs)) << "EndDoc drains forever";
        if (row.endOk) {   // its SetJob fails here: no spooler job
            EXPECT_EQ(Block().dwFlags & STATUS_FLAG_WRITE_FAILED, 0u);
        } else {
            EXPECT_FALSE(end.Result());
            EXPECT_EQ(dwEndError, (DWORD)ERROR_INVALID_DATA);
        }
        size_t cbOut = Output().size();
        EXPECT_TRUE(cbOut >= row.cbMin && cbOut <= row.cbMax) << cbOut;
        EXPECT_TRUE(!row.logged || LogHas(row.logged)) << LogText();
        ASSERT_TRUE(Close(h));
    }
}

// A relative library name is looked up in the system directory only, never
// beside the program or in the current directory (here it lies beside the
// test program, the first place a plain LoadLibrary looks).
TEST_F(FilterTest, RelativeFilterNameIsNotLoadedFromBesideTheProgram)
{
    SetMonitorValue(driver + L" Filter", L"filter_xor.dll");
    HANDLE h = OpenPort();
    EXPECT_FALSE(StartDoc(h));  // not found where a filter may lie: the job fails
    EXPECT_TRUE(Close(h));
    EXPECT_EQ(GetModuleHandleW(ExePath(L"filter_xor.dll").c_str()), nullptr);
    EXPECT_TRUE(Output().empty());
}

// A filter's own imports are looked up beside the library and in the system
// directory only: a helper library that lies only in the current directory
// or on PATH is not taken, so the filter does not load and the job runs
// unfiltered; beside the filter it is taken. (The rows that refuse come
// first: a helper once loaded would be found by name.)
TEST_F(FilterTest, FilterImportsComeFromItsOwnFolderOrTheSystemDirectoryOnly)
{
    WCHAR szTemp[MAX_PATH];
    GetTempPathW(MAX_PATH, szTemp);
    std::wstring base = std::wstring(szTemp) + L"kztfilterdep\\";
    std::wstring lib = base + L"lib\\", cwd = base + L"cwd\\", path = base + L"path\\";
    for (auto &dir : {base, lib, cwd, path})
        CreateDirectoryW(dir.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(ExePath(L"filter_dep.dll").c_str(), (lib + L"filter_dep.dll").c_str(), FALSE));
    DeleteFileW((lib + L"kztfdep.dll").c_str());
    for (auto &dir : {cwd, path})
        ASSERT_TRUE(CopyFileW(ExePath(L"kztfdep.dll").c_str(), (dir + L"kztfdep.dll").c_str(), FALSE));
    SetMonitorValue(driver + L" Filter", lib + L"filter_dep.dll");
    WCHAR szOldCwd[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, szOldCwd);
    std::vector<WCHAR> oldPath(32768);
    GetEnvironmentVariableW(L"PATH", oldPath.data(), (DWORD)oldPath.size());

    const struct {
        const char *where;
        bool filtered;
    } rows[] = {{"current directory", false}, {"PATH", false}, {"library's folder", true}};
    for (auto &row : rows) {
        std::string where = row.where;
        if (where == "current directory")
            SetCurrentDirectoryW(cwd.c_str());
        if (where == "PATH")
            SetEnvironmentVariableW(L"PATH", (path + L";" + oldPath.data()).c_str());
        if (where == "library's folder") {
            ASSERT_TRUE(CopyFileW(ExePath(L"kztfdep.dll").c_str(), (lib + L"kztfdep.dll").c_str(), FALSE));
        }
        fake.Reset();
        HANDLE h = OpenPort();
        BOOL started = StartDoc(h);  // a filter that does not load fails the job
        if (started) {
            EXPECT_TRUE(Write(h, Bytes("plain")));
            EndDoc(h);
        }
        EXPECT_TRUE(Close(h));
        SetCurrentDirectoryW(szOldCwd);
        SetEnvironmentVariableW(L"PATH", oldPath.data());
        EXPECT_EQ(row.filtered, !!started) << "helper in the " << row.where;
        EXPECT_EQ(Output(), row.filtered ? Xor(Bytes("plain")) : std::vector<BYTE>()) << "helper in the " << row.where;
    }
}
