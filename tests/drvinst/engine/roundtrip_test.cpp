// The engine end to end on the installer tests' prefix: an install, a
// reinstall and an uninstall (both phases each, the restart declined) leave
// the spooler, the driver and print processor directories, the system's
// copies of the monitor and the status program and the registry keys the
// installer writes as they were, apart from what stays on purpose; repeated
// installs and uninstalls come back to the same state. And a job played
// through the monitor that the install registered, on the queue it added.
#include "executefixture.h"
#include "channelclient.h"
#include "fakeport.h"
#include "regkeys.h"
#include "testenv.h"
#include "windowdriver.h"
#include <algorithm>
#include <stdio.h>

using RoundTripTest = ExecuteTest;

TEST_F(RoundTripTest, InstallReinstallUninstallLeaveNothingButWhatStaysOnPurposeAndRoundsConverge)
{
    MachineState before = Snapshot(m_work);
    ASSERT_TRUE(before.records.empty());
    ASSERT_TRUE(before.work.empty());
    ASSERT_FALSE(Has(before.spooler.processors, kProcessor));

    ASSERT_NO_FATAL_FAILURE(Install());
    MachineState installed = Snapshot(m_work);
    EXPECT_NE("", Changes(before, installed));
    ASSERT_NO_FATAL_FAILURE(BothPhases(&CInstallContext::m_bReinstall, "reinstall"));
    EXPECT_EQ("", Changes(installed, Snapshot(m_work)));  // the reinstall brings back what it removed
    ASSERT_NO_FATAL_FAILURE(BothPhases(&CInstallContext::m_bUninstall, "uninstall"));
    MachineState after = Snapshot(m_work);

    // Wine's DeletePrintProcessor answers success and deletes nothing: the
    // engine removed the processor, Wine still lists it.
    EXPECT_TRUE(LogHasStart("DBG ::DeletePrintProcessor([KZT TZ Print Processor]) R 1 E 0 "));
    MachineState expected = before;
    expected.spooler.processors.push_back(kProcessor);
    std::sort(expected.spooler.processors.begin(), expected.spooler.processors.end());
    EXPECT_EQ("", Changes(expected, after));
    // The reinstall's queue record stays until the next reinstall overwrites it.
    EXPECT_EQ((std::vector<std::string>{"Ostrel TZ-1000|LPT1:|Ostrel TZ-1000"}), Records());
    // The working folder is the kept copy: it goes with the INF's last model,
    // the package files a reinstall put there included.
    EXPECT_TRUE(after.work.empty()) << after.work.size();

    for (int round = 1; round <= 2; round++) {
        ASSERT_NO_FATAL_FAILURE(Install());
        ASSERT_NO_FATAL_FAILURE(BothPhases(&CInstallContext::m_bUninstall, "uninstall"));
        MachineState again = Snapshot(m_work);
        EXPECT_EQ("", Changes(after, again)) << "round " << round;
        EXPECT_EQ(after.records, again.records) << "round " << round;
        EXPECT_EQ(after.work, again.work) << "round " << round;
    }
}

// --- a job through the installed monitor -------------------------------------------

namespace {
const char kStatusTitle[] = "Ostrel TZ-1000 - Status Monitor";
}

class InstalledMonitorTest : public ExecuteTest {
protected:
    // The status program holds the installed program file: it goes before
    // the fixture removes what the install left.
    void TearDown() override
    {
        if (m_hVigil) {
            if (WaitForSingleObject(m_hVigil, 0) == WAIT_TIMEOUT)
                TerminateProcess(m_hVigil, 9);
            WaitForSingleObject(m_hVigil, 3000);
            CloseHandle(m_hVigil);
        }
        if (m_host.hModule)
            FreeLibrary(m_host.hModule);
        ExecuteTest::TearDown();
    }
    SpoolerHost m_host;
    HANDLE m_hVigil = nullptr;
};

TEST_F(InstalledMonitorTest, JobOnTheInstalledQueueSendsTheInfHeadAndTailAndStartsTheInstalledVigil)
{
    ASSERT_NO_FATAL_FAILURE(Install("LPT1:"));
    ASSERT_TRUE(Has(ReadSpooler().queues, Queue(kModel, "LPT1:")));  // the queue whose port is opened below
    // The monitor as AddMonitor registered it: its DLL from the system directory.
    std::string dll = SystemDirA() + "\\jobtap.dll";
    ASSERT_EQ("jobtap.dll", RegText(kMonitorKey, "Driver"));
    m_host.hModule = LoadLibraryA(dll.c_str());
    ASSERT_NE(nullptr, m_host.hModule) << GetLastError();
    char loaded[MAX_PATH] = "";
    GetModuleFileNameA(m_host.hModule, loaded, sizeof(loaded));
    EXPECT_EQ(0, lstrcmpiA(dll.c_str(), loaded)) << loaded;
    m_host.pfnInit = (LPMONITOREX(WINAPI *)(LPWSTR))GetProcAddress(m_host.hModule, "InitializePrintMonitor");
    ASSERT_TRUE(m_host.Init(kMonitorRoot));

    FakePortMonitor &port = FakePortMonitor::Instance();
    port.Reset();
    port.ClearFaults();
    const wchar_t kQueue[] = L"Ostrel TZ-1000";
    HANDLE h = nullptr;
    ASSERT_TRUE(m_host.lm->pfnOpenPortEx((LPWSTR)L"LPT1:", (LPWSTR)kQueue, &h, port.Table())) << GetLastError();
    DOC_INFO_1W doc = {(LPWSTR)L"round trip", nullptr, (LPWSTR)L"RAW"};
    ASSERT_TRUE(m_host.lm->pfnStartDocPort(h, (LPWSTR)kQueue, 11, 1, (LPBYTE)&doc));

    // The status program that the install put in the system directory.
    HWND status = WaitForWindow(kStatusTitle, 10000);
    EXPECT_NE(nullptr, status) << "no status window";
    StatusBlock block = {};
    EXPECT_TRUE(ChannelSnapshot(kMonitorName, L"LPT1:", &block));
    EXPECT_STREQ(kStatusTitle, block.szWindowName);
    DWORD pid = 0;
    if (status)
        GetWindowThreadProcessId(status, &pid);
    EXPECT_EQ(block.dwMonitorProcessId, pid);
    m_hVigil = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
    // Started from the system directory, where the install put it.
    EXPECT_TRUE(::LogHas("DBG Start CreateProcess([" + SystemDirA() + "\\vigil.exe] [$X Ostrel TZ-1000]) R 1 E 0"))
        << LogText();

    std::vector<BYTE> page = Bytes("page of the round trip");
    DWORD cb = 0;
    ASSERT_TRUE(m_host.lm->pfnWritePort(h, page.data(), (DWORD)page.size(), &cb));
    m_host.lm->pfnEndDocPort(h);  // its SetJob finds no spooler job 11
    ASSERT_TRUE(m_host.lm->pfnClosePort(h));

    std::vector<BYTE> expected = {0x1B, 0x40};
    expected.insert(expected.end(), page.begin(), page.end());
    expected.insert(expected.end(), {0x0C, 0x1B, 0x40});
    EXPECT_EQ(expected, port.Output(L"LPT1:"));
    EXPECT_TRUE(port.Faults().empty());
    if (status)
        Click(status, IDOK);  // closed as its user would; TearDown ends it otherwise
}
