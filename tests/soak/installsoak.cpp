// 100 cycles of install, reinstall and uninstall (both phases each, the
// restart declined) through the install engine, in the installer tests'
// prefix: every cycle succeeds and ends in the state the first cycle ended
// in. A RunOnce value left behind is counted and removed.
#include "executefixture.h"
#include "soakrunner.h"

using InstallSoakTest = ExecuteTest;

TEST_F(InstallSoakTest, SoakInstallReinstallUninstallCycles)
{
    const int kCycles = 100;
    DWORD start = GetTickCount();
    SoakCounts counts;
    MachineState first;
    int leftRunOnce = 0;
    for (int cycle = 0; cycle < kCycles; cycle++) {
        Install();
        if (!HasFatalFailure())
            BothPhases(&CInstallContext::m_bReinstall, "reinstall");
        if (!HasFatalFailure())
            BothPhases(&CInstallContext::m_bUninstall, "uninstall");
        if (HasFatalFailure()) {
            counts.failures++, counts.firstBad = cycle, counts.firstWhat = "an operation failed";
            break;
        }
        if (!RunOnceNames().empty()) {
            leftRunOnce++;
            RemoveRunOnceEntries();
        }
        MachineState state = Snapshot(m_work);
        if (cycle == 0)
            first = state;
        std::string changes = Changes(first, state);
        if (!changes.empty() || state.records != first.records || state.work != first.work) {
            counts.failures++;
            if (counts.firstBad < 0)
                counts.firstBad = cycle, counts.firstWhat = changes.empty() ? "records or working folder" : changes;
        }
        counts.cases++;
    }
    counts.seconds = (GetTickCount() - start) / 1000.0;
    PrintSoakSummary("install", counts,
                     "each an install, a reinstall and an uninstall; RunOnce values left and removed: " +
                         std::to_string(leftRunOnce));
    EXPECT_EQ(kCycles, counts.cases);
    EXPECT_EQ(0, counts.failures) << counts.firstWhat;
    EXPECT_EQ(0, leftRunOnce);
}
