// Shared set-up of the language monitor tests: the monitor loaded by the
// spooler host, the port monitor stand-in below it, the test printer in
// Wine's spooler, no driver values and no log unless a test asks. Every test
// ends by checking that no port handle was misused (see fakeport.h).
#pragma once
#include <gtest/gtest.h>
#include <functional>
#include "channelclient.h"
#include "fakeport.h"
#include "testenv.h"

// A call of the monitor's table running on a thread of its own, so that a
// call that never returns fails a test instead of hanging it.
class AsyncCall {
public:
    explicit AsyncCall(std::function<BOOL()> call) : call_(std::move(call))
    {
        hThread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    }
    AsyncCall(const AsyncCall &) = delete;
    AsyncCall &operator=(const AsyncCall &) = delete;
    ~AsyncCall()
    {
        if (hThread_)
            CloseHandle(hThread_);
    }
    // Whether the call has returned within ms; a guard against a hang, not a
    // measurement.
    bool Returned(DWORD ms) { return hThread_ && WaitForSingleObject(hThread_, ms) == WAIT_OBJECT_0; }
    BOOL Result() const { return result_; }

private:
    static DWORD WINAPI Run(LPVOID param)
    {
        auto *self = (AsyncCall *)param;
        self->result_ = self->call_();
        return 0;
    }
    std::function<BOOL()> call_;
    HANDLE hThread_ = nullptr;
    volatile BOOL result_ = FALSE;
};

// Close of the monitor's table on a thread of its own.
class AsyncClose : public AsyncCall {
public:
    AsyncClose(MONITOR *lm, HANDLE hPort) : AsyncCall([lm, hPort] { return lm->pfnClosePort(hPort); }) {}
};

const DWORD kHangGuardMs = 30000;

class JobtapTest : public ::testing::Test {
protected:
    SpoolerHost host;
    FakePortMonitor &fake = FakePortMonitor::Instance();
    std::wstring driver = kTestDriver;

    void SetUp() override
    {
        LogOff();
        fake.Reset();
        fake.ClearFaults();
        ClearDriverValues();
        std::string why;
        ASSERT_TRUE(EnsureTestPrinter(&why)) << why;
        ASSERT_TRUE(host.Init());
    }

    void TearDown() override
    {
        LogOff();
        ExpectNoHandleFaults();
    }

    void ExpectNoHandleFaults()
    {
        std::string text;
        for (auto &fault : fake.Faults())
            text += "\n  " + fault;
        EXPECT_TRUE(text.empty()) << "the port monitor saw its handles misused:" << text;
    }

    HANDLE OpenPort(const wchar_t *port = L"LPT1:")
    {
        HANDLE h = nullptr;
        EXPECT_TRUE(host.lm->pfnOpenPortEx((LPWSTR)port, (LPWSTR)kTestPrinter, &h, fake.Table()))
            << GetLastError();
        return h;
    }

    BOOL StartDoc(HANDLE h, DWORD jobId = 7, const wchar_t *docName = L"doc", DWORD level = 1)
    {
        DOC_INFO_1W doc = {(LPWSTR)docName, nullptr, (LPWSTR)L"RAW"};
        return host.lm->pfnStartDocPort(h, (LPWSTR)kTestPrinter, jobId, level, (LPBYTE)&doc);
    }

    BOOL Write(HANDLE h, const std::vector<BYTE> &data, DWORD *written = nullptr)
    {
        DWORD cb = 0xdeadbeef;
        BOOL ok = host.lm->pfnWritePort(h, (LPBYTE)data.data(), (DWORD)data.size(), &cb);
        if (written)
            *written = cb;
        return ok;
    }

    BOOL EndDoc(HANDLE h) { return host.lm->pfnEndDocPort(h); }

    // One job on LPT1: Open, StartDoc, one Write, EndDoc (whose SetJob fails
    // without a spooler job; tests of EndDoc look at it themselves), Close.
    void PrintOnce(const std::vector<BYTE> &data)
    {
        HANDLE h = OpenPort();
        ASSERT_TRUE(StartDoc(h));
        if (!data.empty()) {
            ASSERT_TRUE(Write(h, data));
        }
        EndDoc(h);
        ASSERT_TRUE(Close(h));
    }
    BOOL Close(HANDLE h) { return host.lm->pfnClosePort(h); }

    StatusBlock Block(const wchar_t *port = L"LPT1:")
    {
        StatusBlock block = {};
        EXPECT_TRUE(ChannelSnapshot(kMonitorName, port, &block));
        return block;
    }

    std::vector<BYTE> Output(const wchar_t *port = L"LPT1:") { return fake.Output(port); }
};

inline std::vector<BYTE> Concat(std::initializer_list<std::vector<BYTE>> parts)
{
    std::vector<BYTE> out;
    for (auto &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}
