// Sequences of operations an administrator runs on one INF: a second phase
// pending while another operation starts, a second phase that meets a file
// in use, a driver without a queue. None of them may lose a queue.
#include "executefixture.h"
#include "regkeys.h"
#include "testenv.h"

namespace {

// The package's rendering library made one byte longer: a new build.
std::string ChangePackageDriver(const std::string &package)
{
    std::string path = package + "\\KZTTZDRV.DLL";
    std::string bytes = ReadBytes(path) + "x";
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD cb = 0;
    ::WriteFile(h, bytes.data(), (DWORD)bytes.size(), &cb, NULL);
    CloseHandle(h);
    return bytes;
}

// s as the UTF-16 bytes the platform stores for it.
std::string Widened(const std::string &s)
{
    std::string wide;
    for (char ch : s)
        wide += std::string(1, ch) + '\0';
    return wide;
}

std::string PendingRenames()
{
    RegValue v = GetValue("System\\CurrentControlSet\\Control\\Session Manager", "PendingFileRenameOperations");
    return v.bytes;
}

// Holds the INF's lock, as another run of the installer does: signals
// pLock->held once it owns it, lets it go when pLock->release is set.
struct HeldLock {
    HANDLE held, release;
};
DWORD WINAPI HoldInfLock(void *pLock)
{
    HeldLock *p = (HeldLock *)pLock;
    HANDLE hLock = CreateMutexA(NULL, FALSE, "Global\\OstrelTZ.INF Lock");
    if (WaitForSingleObject(hLock, 5000) == WAIT_OBJECT_0) {
        SetEvent(p->held);
        WaitForSingleObject(p->release, INFINITE);
        ReleaseMutex(hLock);
    }
    CloseHandle(hLock);
    return 0;
}

}  // namespace

class SequenceTest : public ExecuteTest {
protected:
    std::string QueueOf(const char *name, const char *port, const char *driver)
    {
        return std::string(name) + "|" + port + "|" + driver + "|" + kProcessor + "|RAW";
    }
};

// While a second phase of TZ.INF waits for the restart, every other
// operation from that INF is refused before it changes anything, names the
// pending action and offers the restart; the pending phase then finishes
// with all it recorded: every queue comes back under its name and port.
TEST_F(SequenceTest, PendingSecondPhaseRefusesEveryOperationOfItsInfAndKeepsItsRecords)
{
    struct Case {
        const char *name;
        BOOL CInstallContext::*pending;
        const char *then;
        BOOL CInstallContext::*thenMode;
        const char *thenPort;
        const char *text;
    };
    const Case cases[] = {
        {"reinstall declined, then the same reinstall", &CInstallContext::m_bReinstall, kModel,
         &CInstallContext::m_bReinstall, "LPT1:", "Excecute() Pending /Reinstall [Ostrel TZ-1000] of [TZ.INF]"},
        {"reinstall declined, then the other model uninstalled", &CInstallContext::m_bReinstall, kSecondModel,
         &CInstallContext::m_bUninstall, "LPT3:", "Excecute() Pending /Reinstall [Ostrel TZ-1000] of [TZ.INF]"},
        {"uninstall declined, then the same model installed", &CInstallContext::m_bUninstall, kModel,
         &CInstallContext::m_bInstall, "LPT1:", "Excecute() Pending /Uninstall [Ostrel TZ-1000] of [TZ.INF]"},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        RemoveRunOnceEntries();
        RemoveWhatTheSequenceLeaves();
        ResetSpooler();
        ASSERT_NO_FATAL_FAILURE(Install());
        ASSERT_TRUE(AddTestQueue("Ostrel TZ-1000 Office", kModel, "LPT2:"));
        ASSERT_NO_FATAL_FAILURE(Install("LPT3:", kSecondModel));
        bool reinstall = k.pending == &CInstallContext::m_bReinstall;
        ASSERT_TRUE(Run(kModel, "LPT1:", k.pending));  // the restart declined
        std::vector<std::string> records = Records(), queues = QueuesStartingWith("Ostrel");
        std::string command = RegText(kRunOnceKey, "TZ.INF");
        ASSERT_EQ(SecondPhaseCommand("LPT1:", reinstall ? " /Reinstall" : " /Uninstall"), command);

        CInstallContext c;
        EXPECT_FALSE(Run(k.then, k.thenPort, k.thenMode, c));
        EXPECT_TRUE(c.m_bPendingRefused);
        EXPECT_EQ(command, c.m_strPendingCommand);
        EXPECT_NE(std::string::npos, c.m_strError.find(k.text)) << c.m_strError;
        EXPECT_EQ((std::vector<std::string>{"restart", "restart"}), m_dialogs.calls);  // offered again
        EXPECT_EQ(records, Records());
        EXPECT_EQ(queues, QueuesStartingWith("Ostrel"));
        EXPECT_EQ(command, RegText(kRunOnceKey, "TZ.INF"));

        CInstallContext second;
        ASSERT_TRUE(RunSecondPhase(second, command)) << second.GetErrorText();
        SpoolerState s = ReadSpooler();
        EXPECT_TRUE(Has(s.queues, QueueOf(kSecondModel, "LPT3:", kSecondModel)));
        if (reinstall) {
            EXPECT_TRUE(Has(s.queues, Queue(kModel, "LPT1:")));
            EXPECT_TRUE(Has(s.queues, kOfficeQueueBack));
            EXPECT_EQ(3u, QueuesStartingWith("Ostrel").size());
        } else {
            EXPECT_EQ((std::vector<std::string>{kSecondModel}), QueuesStartingWith("Ostrel"));
            EXPECT_FALSE(KeyExists(std::string(kUninstallKey) + "\\" + kModel));
            EXPECT_TRUE(FileExists(KeptDirA() + "\\TZ.INF"));  // the other model still needs it
        }
    }
}

// A second phase that meets an installed file another process holds open
// still puts every recorded queue back; the file is replaced at the next
// restart, which it asks for.
TEST_F(SequenceTest, SecondPhaseWithAFileInUseRecreatesEveryQueueAndReplacesTheFileAtTheRestart)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    ASSERT_TRUE(AddTestQueue("Ostrel TZ-1000 Office", kModel, "LPT2:"));
    ChangePackageDriver(m_package);
    ASSERT_TRUE(Run(kModel, "LPT1:", &CInstallContext::m_bInstall));  // a reinstall now
    std::string command = RegText(kRunOnceKey, "TZ.INF");
    ASSERT_EQ(SecondPhaseCommand("LPT1:", " /Reinstall"), command);

    std::string inUse = PrinterDriverDirA() + "\\KZTTZDRV.DLL";
    HANDLE h = CreateFileA(inUse.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    CInstallContext second;
    BOOL ok = RunSecondPhase(second, command);
    CloseHandle(h);
    ASSERT_TRUE(ok) << second.GetErrorText();
    SpoolerState s = ReadSpooler();
    EXPECT_TRUE(Has(s.queues, Queue(kModel, "LPT1:")));
    EXPECT_TRUE(Has(s.queues, kOfficeQueueBack));
    EXPECT_TRUE(second.m_bReplaceAtRestart);
    EXPECT_TRUE(second.m_bRestartPending);
    EXPECT_EQ((std::vector<std::string>{"restart", "restart"}), m_dialogs.calls);
    std::string renames = PendingRenames();
    EXPECT_NE(std::string::npos, renames.find("KZTTZDRV.DLL")) << renames;
    EXPECT_TRUE(RunOnceNames().empty());  // the phase itself is done
}

// A driver of the INF without a queue (installed on the generic USB port) is
// updated by a reinstall like any other; an identical install afterwards is
// no reinstall and asks for no restart.
TEST_F(SequenceTest, ReinstallUpdatesADriverThatHasNoQueue)
{
    ASSERT_NO_FATAL_FAILURE(Install("USB"));
    std::string bytes = ChangePackageDriver(m_package);
    ASSERT_TRUE(Run(kModel, "USB", &CInstallContext::m_bInstall));
    EXPECT_EQ((std::vector<std::string>{"Ostrel TZ-1000|USB|Ostrel TZ-1000"}), Records());
    EXPECT_FALSE(Has(ReadSpooler().drivers, kModel));
    CInstallContext second;
    ASSERT_TRUE(RunSecondPhase(second, SecondPhaseCommand("USB", " /Reinstall"))) << second.GetErrorText();
    EXPECT_TRUE(Has(ReadSpooler().drivers, kModel));
    EXPECT_TRUE(QueuesStartingWith("Ostrel").empty());

    m_dialogs.calls.clear();
    CInstallContext again;
    ASSERT_TRUE(Run(kModel, "USB", &CInstallContext::m_bInstall, again)) << again.GetErrorText();
    EXPECT_FALSE(again.m_bReinstall);
    EXPECT_FALSE(again.m_bRestartPending);
    EXPECT_EQ((std::vector<std::string>{"usb Ostrel TZ-1000|USB"}), m_dialogs.calls);
}

// An install whose file another process holds open replaces it at the next
// restart and asks for that restart, instead of keeping the old file (here a
// stale monitor left in the system folder, which no installed driver names);
// a file in use that holds the package's bytes already needs no restart.
TEST_F(SequenceTest, InstallOverAFileInUseReplacesItAtTheRestart)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof(system));
    std::string inUse = std::string(system) + "\\jobtap.dll";
    HANDLE h = CreateFileA(inUse.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    CInstallContext same;
    BOOL ok = Run(kModel, "LPT2:", &CInstallContext::m_bInstall, same);
    CloseHandle(h);
    ASSERT_TRUE(ok) << same.GetErrorText();
    EXPECT_FALSE(same.m_bReplaceAtRestart);
    EXPECT_TRUE(m_dialogs.calls.empty());

    ResetSpooler();
    HANDLE hw = CreateFileA(inUse.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD cb = 0;
    ::WriteFile(hw, "stale", 5, &cb, NULL);
    CloseHandle(hw);
    h = CreateFileA(inUse.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    CInstallContext c;
    ok = Run(kModel, "LPT1:", &CInstallContext::m_bInstall, c);
    CloseHandle(h);
    ASSERT_TRUE(ok) << c.GetErrorText();
    EXPECT_TRUE(c.m_bReplaceAtRestart);
    EXPECT_EQ((std::vector<std::string>{"restart"}), m_dialogs.calls);
    EXPECT_NE(std::string::npos, PendingRenames().find("jobtap.dll"));
    EXPECT_EQ((std::vector<std::string>{kModel}), QueuesStartingWith("Ostrel"));
}

// An uninstall whose driver file (the spooler's copy) was in use leaves its deletion for the
// restart; an install before that restart takes the deletion back (and
// leaves other programs' delayed operations alone), so the restart does not
// delete the file just installed. An install that could not copy the file
// leaves the deletion as it was.
TEST_F(SequenceTest, InstallBeforeTheRestartKeepsAFileAnUninstallLeftToDelete)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    std::string other = m_package + "\\kztother.dat", inUse = PrinterDriverDirA() + "\\3\\KZTTZDRV.DLL";
    ASSERT_TRUE(CopyFileA((m_package + "\\TZ.INF").c_str(), other.c_str(), FALSE));
    ASSERT_TRUE(MoveFileExA(other.c_str(), NULL, MOVEFILE_DELAY_UNTIL_REBOOT));
    ASSERT_TRUE(Run(kModel, "LPT1:", &CInstallContext::m_bUninstall));
    HANDLE h = CreateFileA(inUse.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    CInstallContext second;
    BOOL ok = RunSecondPhase(second, SecondPhaseCommand("LPT1:", " /Uninstall"));
    CloseHandle(h);
    ASSERT_TRUE(ok) << second.GetErrorText();
    ASSERT_NE(std::string::npos, PendingRenames().find("KZTTZDRV.DLL"));

    h = CreateFileA((m_package + "\\KZTTZDRV.DLL").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    CInstallContext failed;
    ok = Run(kModel, "LPT1:", &CInstallContext::m_bInstall, failed);
    CloseHandle(h);
    EXPECT_FALSE(ok);
    EXPECT_NE(std::string::npos, PendingRenames().find("KZTTZDRV.DLL"));

    CInstallContext again;
    ASSERT_TRUE(Run(kModel, "LPT1:", &CInstallContext::m_bInstall, again)) << again.GetErrorText();
    std::string renames = PendingRenames();
    EXPECT_EQ(std::string::npos, renames.find("KZTTZDRV.DLL")) << renames;
    EXPECT_NE(std::string::npos, renames.find("kztother.dat")) << renames;
    EXPECT_TRUE(FileExists(inUse));
}

// While another run of the installer works on TZ.INF (a second phase that
// RunOnce started at logon, which no RunOnce value shows any more), a run
// from the same INF is refused before it changes anything; a second phase
// waits, then registers itself again for the next start.
TEST_F(SequenceTest, AnotherRunOfTheInfRefusesThisOneBeforeAnyChange)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    ASSERT_TRUE(Run(kModel, "LPT1:", &CInstallContext::m_bUninstall));
    std::string command = RegText(kRunOnceKey, "TZ.INF");
    HeldLock lock = {CreateEventA(NULL, TRUE, FALSE, NULL), CreateEventA(NULL, TRUE, FALSE, NULL)};
    HANDLE hHolder = CreateThread(NULL, 0, HoldInfLock, &lock, 0, NULL);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(lock.held, 5000));
    CInstallContext c, second;
    BOOL ok = Run(kModel, "LPT1:", &CInstallContext::m_bInstall, c);
    BOOL okSecond = RunSecondPhase(second, command);
    SetEvent(lock.release);
    WaitForSingleObject(hHolder, 5000);
    CloseHandle(hHolder);
    CloseHandle(lock.held);
    CloseHandle(lock.release);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(c.m_bPendingRefused);
    EXPECT_NE(std::string::npos, c.m_strError.find("Excecute() Busy [TZ.INF]")) << c.m_strError;
    EXPECT_FALSE(okSecond);
    EXPECT_TRUE(second.m_bPendingRefused);
    EXPECT_EQ(command, RegText(kRunOnceKey, "TZ.INF"));
    EXPECT_TRUE(QueuesStartingWith("Ostrel").empty());
    EXPECT_FALSE(Has(ReadSpooler().drivers, kModel));
}

// What an install drops from the platform's delayed operations: only the
// pairs that delete or replace its own file (names compared without case),
// however the value ends; other programs' pairs, and a value of another
// type, stay as they were.
TEST_F(SequenceTest, DroppingDelayedOperationsTakesOnlyThoseOfTheFile)
{
    using namespace std::string_literals;
    const std::string key = "System\\CurrentControlSet\\Control\\Session Manager";
    const char *value = "PendingFileRenameOperations";
    const std::string other = "\\??\\C:\\other.dat\0\0"s, ours = "\\??\\C:\\kzt\\a.dll\0\0"s;
    struct Row {
        const char *what;
        DWORD type;
        std::string before, after;  // "" after: no value left
    } rows[] = {
        {"its deletion alone", REG_MULTI_SZ, ours + "\0"s, ""},
        {"after another program's", REG_MULTI_SZ, other + ours + "\0"s, other + "\0"s},
        {"its replacement by an older copy", REG_MULTI_SZ,
         other + "\\??\\C:\\kzt\\KZT1.tmp\0!\\??\\C:\\kzt\\a.dll\0\0"s, other + "\0"s},
        {"named in other case", REG_MULTI_SZ, "\\??\\c:\\KZT\\A.DLL\0\0"s + other + "\0"s, other + "\0"s},
        {"a value without its last zeros", REG_MULTI_SZ, other + "\\??\\C:\\kzt\\a.dll", other + "\0"s},
        {"a longer name", REG_MULTI_SZ, "\\??\\C:\\kzt\\a.dll.bak\0\0\0"s, "\\??\\C:\\kzt\\a.dll.bak\0\0\0"s},
        {"a value of another type", REG_BINARY, Widened(ours + "\0"s), Widened(ours + "\0"s)},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(SetValueBytes(key, value, row.type, row.before));
        CInstallContext c;
        c.m_bWinNT = TRUE;
        EXPECT_TRUE(c.DropRestartOperations("C:\\kzt\\a.dll")) << c.GetErrorText();
        RegValue v = GetValue(key, value);
        EXPECT_EQ(!row.after.empty(), v.found);
        EXPECT_EQ(row.after, v.bytes);
    }
    HKEY hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE, &hKey));
    RegDeleteValueA(hKey, value);
    RegCloseKey(hKey);
}
