// Spooler records in a buffer of their own: the two calls, the slack after
// the announced size, and which step failed; then the real spooler calls.
#include "enginefixture.h"
#include "spoolrecord.h"
#include "testenv.h"
#include <gtest/gtest.h>
#include <vector>

namespace {

// A scripted spooler call. Each answer says what the call returns, which
// last error it sets, the size it announces, and how many bytes it writes
// into a buffer it is given: more than it was given, as Wine 8's 64-bit
// GetPrinterW does.
struct Answer {
    BOOL bResult;
    DWORD dwError;
    DWORD cbNeeded;
    DWORD cbWrite;
    DWORD cReturned;
};
struct Seen {
    bool bBuffer;
    DWORD cbBuf;
    DWORD dwErrorAtEntry;
};
std::vector<Answer> g_answers;
std::vector<Seen> g_seen;

BOOL ScriptedFill(const SpoolCallArgs *, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    g_seen.push_back({pBuffer != nullptr, cbBuf, GetLastError()});
    Answer a = g_answers.at(g_seen.size() - 1);
    if (pBuffer)
        memset(pBuffer, 0xA5, a.cbWrite);
    *pcbNeeded = a.cbNeeded;
    *pcReturned = a.cReturned;
    SetLastError(a.dwError);
    return a.bResult;
}

}  // namespace

TEST(SpoolRecord, TwoCallsBufferWithSlackAndTheFailingStep)
{
    const DWORD kHuge = 0xFFFFFF00;
    const struct {
        const char *what;
        DWORD cbProbe;
        std::vector<Answer> answers;
        std::vector<Seen> seen;  // buffer given, its size, last error at entry
        bool bBuffer;
        SpoolRecordStep step;
        BOOL bResult;
        DWORD dwError, cbNeeded, cReturned;
    } cases[] = {
        {"size, then records that run past the announced size", 0,
         {{FALSE, ERROR_INSUFFICIENT_BUFFER, 100, 0, 0}, {TRUE, 0, 100, 100 + 1500, 2}},
         {{false, 0, 0}, {true, 100, 0}}, true, SPOOL_STEP_DONE, TRUE, 0, 100, 2},
        {"size call refused", 0, {{FALSE, ERROR_ACCESS_DENIED, 0, 0, 0}}, {{false, 0, 0}}, false, SPOOL_STEP_SIZE,
         FALSE, ERROR_ACCESS_DENIED, 0, 0},
        {"records grew between the calls", 0,
         {{FALSE, ERROR_INSUFFICIENT_BUFFER, 100, 0, 0}, {FALSE, ERROR_INSUFFICIENT_BUFFER, 180, 0, 0}},
         {{false, 0, 0}, {true, 100, 0}}, false, SPOOL_STEP_FILL, FALSE, ERROR_INSUFFICIENT_BUFFER, 180, 0},
        {"nothing to list", 0, {{TRUE, 0, 0, 0, 0}, {TRUE, 0, 0, 0, 0}}, {{false, 0, 0}, {true, 0, 0}}, true,
         SPOOL_STEP_DONE, TRUE, 0, 0, 0},
        {"a probe that holds the record is kept", 64, {{TRUE, 0, 40, 40, 1}}, {{true, 64, 0}}, true,
         SPOOL_STEP_DONE, TRUE, 0, 40, 1},
        {"a probe too small", 64,
         {{FALSE, ERROR_INSUFFICIENT_BUFFER, 300, 64 + 100, 0}, {TRUE, 0, 300, 300, 1}},
         {{true, 64, 0}, {true, 300, 0}}, true, SPOOL_STEP_DONE, TRUE, 0, 300, 1},
        {"no memory for the announced size", 0, {{FALSE, ERROR_INSUFFICIENT_BUFFER, kHuge, 0, 0}},
         {{false, 0, 0}}, false, SPOOL_STEP_ALLOC, FALSE, ERROR_NOT_ENOUGH_MEMORY, kHuge, 0},
    };
    for (const auto &c : cases) {
        g_answers = c.answers;
        g_seen.clear();
        SetLastError(0xdeadbeef);  // cleared before each call
        SpoolRecordResult r;
        memset(&r, 0x5A, sizeof(r));
        LPBYTE p = AllocSpoolRecord(ScriptedFill, nullptr, c.cbProbe, &r);
        EXPECT_EQ(c.bBuffer, p != nullptr) << c.what;
        EXPECT_EQ(c.step, r.step) << c.what;
        EXPECT_EQ(c.bResult, r.bResult) << c.what;
        EXPECT_EQ(c.dwError, r.dwError) << c.what;
        EXPECT_EQ(c.cbNeeded, r.cbNeeded) << c.what;
        EXPECT_EQ(c.cReturned, r.cReturned) << c.what;
        ASSERT_EQ(c.seen.size(), g_seen.size()) << c.what;
        for (size_t i = 0; i < g_seen.size(); i++) {
            EXPECT_EQ(c.seen[i].bBuffer, g_seen[i].bBuffer) << c.what << " call " << i;
            EXPECT_EQ(c.seen[i].cbBuf, g_seen[i].cbBuf) << c.what << " call " << i;
            EXPECT_EQ(0u, g_seen[i].dwErrorAtEntry) << c.what << " call " << i;
        }
        if (p) {
            // Room to spare beyond the announced size, zero where the call wrote nothing.
            SIZE_T cb = HeapSize(GetProcessHeap(), 0, p);
            EXPECT_EQ(std::max(c.cbNeeded, c.cbProbe) + SPOOL_RECORD_SLACK, cb) << c.what;
            DWORD cbWritten = c.answers.back().cbWrite;
            for (SIZE_T i = cbWritten; i < cb; i++)
                ASSERT_EQ(0, p[i]) << c.what << " byte " << i;
        }
        EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr)) << c.what;
        FreeSpoolRecord(p);
    }
    FreeSpoolRecord(nullptr);
}

// A Get* record: the handle and level reach the call; a record that the
// spooler announces with no size counts as none.
TEST(SpoolRecord, SingleRecordOfNoSizeIsNone)
{
    static SpoolCallArgs s_args;
    auto fill = [](const SpoolCallArgs *pArgs, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned) {
        s_args = *pArgs;
        return ScriptedFill(pArgs, pBuffer, cbBuf, pcbNeeded, pcReturned);
    };
    const struct {
        const char *what;
        std::vector<Answer> answers;
        bool bBuffer;
        SpoolRecordStep step;
        DWORD cReturned;
    } cases[] = {
        {"a record", {{FALSE, ERROR_INSUFFICIENT_BUFFER, 100, 0, 1}, {TRUE, 0, 100, 100, 1}}, true, SPOOL_STEP_DONE, 1},
        {"no size, call succeeds", {{TRUE, 0, 0, 0, 1}, {TRUE, 0, 0, 0, 1}}, false, SPOOL_STEP_EMPTY, 0},
        {"no size, second call succeeds",
         {{FALSE, ERROR_INSUFFICIENT_BUFFER, 0, 0, 1}, {TRUE, 0, 0, 0, 1}}, false, SPOOL_STEP_EMPTY, 0},
        {"refused", {{FALSE, ERROR_INVALID_HANDLE, 0, 0, 0}}, false, SPOOL_STEP_SIZE, 0},
    };
    const HANDLE hPrinter = (HANDLE)(UINT_PTR)0x1234;
    for (const auto &c : cases) {
        g_answers = c.answers;
        g_seen.clear();
        memset(&s_args, 0x5A, sizeof(s_args));
        SpoolRecordResult r;
        LPBYTE p = AllocSingleSpoolRecord(fill, hPrinter, 5, &r);
        EXPECT_EQ(c.bBuffer, p != nullptr) << c.what;
        EXPECT_EQ(c.step, r.step) << c.what;
        EXPECT_EQ(c.cReturned, r.cReturned) << c.what;
        EXPECT_EQ(c.answers.size(), g_seen.size()) << c.what;
        EXPECT_FALSE(g_seen.empty() || g_seen[0].bBuffer) << c.what << ": no probe";
        EXPECT_EQ(hPrinter, s_args.hPrinter) << c.what;
        EXPECT_EQ(5u, s_args.dwLevel) << c.what;
        EXPECT_EQ(nullptr, s_args.pName) << c.what;
        EXPECT_EQ(nullptr, s_args.pEnvironment) << c.what;
        FreeSpoolRecord(p);
    }
    EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr));
}

class SpoolRecordSpooler : public EngineTest {};

TEST_F(SpoolRecordSpooler, RealCallsAnsiAndWide)
{
    std::string why;
    ASSERT_TRUE(EnsurePrinter(L"kzt record queue", L"kzt record driver", L"FILE:", nullptr, &why)) << why;
    HANDLE h = nullptr;
    ASSERT_TRUE(OpenPrinterW((LPWSTR)L"kzt record queue", &h, nullptr));
    SpoolCallArgs args = {};
    args.hPrinter = h;
    args.dwLevel = 2;
    SpoolRecordResult r;
    for (DWORD cbProbe : {(DWORD)0, (DWORD)sizeof(PRINTER_INFO_2W)}) {
        LPBYTE p = AllocSpoolRecord(SpoolGetPrinterW, &args, cbProbe, &r);
        ASSERT_NE(nullptr, p) << r.step << " " << r.dwError;
        EXPECT_STREQ(L"kzt record queue", ((PRINTER_INFO_2W *)p)->pPrinterName);
        EXPECT_EQ(1u, r.cReturned);
        FreeSpoolRecord(p);
    }
    LPBYTE p = AllocSpoolRecord(SpoolGetPrinterA, &args, 0, &r);
    ASSERT_NE(nullptr, p);
    EXPECT_STREQ("kzt record driver", ((PRINTER_INFO_2A *)p)->pDriverName);
    FreeSpoolRecord(p);
    args.dwLevel = 3;
    p = AllocSpoolRecord(SpoolGetPrinterDriverW, &args, 0, &r);
    ASSERT_NE(nullptr, p);
    EXPECT_STREQ(L"kzt record driver", ((DRIVER_INFO_3W *)p)->pName);
    FreeSpoolRecord(p);
    // Wine's EnumJobs is a stub that answers FALSE without an error: a size
    // call that failed.
    args.dwLevel = 1;
    args.cJobs = 10;
    p = AllocSpoolRecord(SpoolEnumJobsW, &args, 0, &r);
    EXPECT_EQ(nullptr, p);
    EXPECT_EQ(SPOOL_STEP_SIZE, r.step);
    ClosePrinter(h);

    SpoolCallArgs local = {};
    local.dwFlags = PRINTER_ENUM_LOCAL;
    local.dwLevel = 2;
    p = AllocSpoolRecord(SpoolEnumPrintersW, &local, 0, &r);
    ASSERT_NE(nullptr, p);
    bool found = false;
    for (DWORD i = 0; i < r.cReturned; i++)
        found |= !lstrcmpW(((PRINTER_INFO_2W *)p)[i].pPrinterName, L"kzt record queue");
    EXPECT_TRUE(found);
    FreeSpoolRecord(p);
    local.dwLevel = 3;
    p = AllocSpoolRecord(SpoolEnumPrinterDriversW, &local, 0, &r);
    EXPECT_NE(nullptr, p);
    EXPECT_GE(r.cReturned, 1u);
    FreeSpoolRecord(p);
    local.dwLevel = 1;
    p = AllocSpoolRecord(SpoolEnumPrintProcessorsW, &local, 0, &r);
    ASSERT_NE(nullptr, p);
    EXPECT_GE(r.cReturned, 1u);
    FreeSpoolRecord(p);
    // The driver directory: one terminated string of the announced size,
    // with the slack behind it for a caller that appends to it.
    WCHAR szDirectory[MAX_PATH] = {};
    DWORD cb = 0;
    ASSERT_TRUE(GetPrinterDriverDirectoryW(nullptr, nullptr, 1, (LPBYTE)szDirectory, sizeof(szDirectory), &cb));
    p = AllocSingleSpoolRecord(SpoolGetPrinterDriverDirectoryW, nullptr, 1, &r);
    ASSERT_NE(nullptr, p);
    EXPECT_STREQ(szDirectory, (LPCWSTR)p);
    EXPECT_EQ((lstrlenW(szDirectory) + 1) * sizeof(WCHAR), r.cbNeeded);
    EXPECT_EQ(1u, r.cReturned);
    FreeSpoolRecord(p);
    EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr));
}
