// vigil end to end: started by jobtap's StartDoc from the system directory,
// its panels read from another process, its failures answered in their
// message boxes.
#include "../jobtap/jobtapfixture.h"
#include "sessionstandin.h"
#include "windowdriver.h"
#include <wtsapi32.h>

namespace {
const char kTitle[] = "KZT TZ Test - Status Monitor";
const int kPrinterInfo = 1002, kHostInfo = 1003, kSpoolInfo = 1009, kDevId = 1007;

struct Process {
    HANDLE h = nullptr;
    DWORD pid = 0;
    ~Process()
    {
        if (h) {
            if (WaitForSingleObject(h, 0) == WAIT_TIMEOUT)
                TerminateProcess(h, 9);
            CloseHandle(h);
        }
    }
    bool Start(const std::wstring &commandLine)
    {
        STARTUPINFOW si = {sizeof(si)};
        PROCESS_INFORMATION pi;
        std::wstring cmd = commandLine;
        if (!CreateProcessW(ExePath(L"vigil.exe").c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &si, &pi))
            return false;
        CloseHandle(pi.hThread);
        h = pi.hProcess;
        pid = pi.dwProcessId;
        return true;
    }
    bool Ended(DWORD timeoutMs) { return WaitForSingleObject(h, timeoutMs) == WAIT_OBJECT_0; }
};

// Polls a panel until it holds the text, keeping what it read last.
bool WaitForPanel(HWND hwnd, int id, const std::string &what, std::string *last, DWORD timeoutMs = 8000)
{
    bool found = false;
    WaitUntil(
        [&] {
            *last = ItemText(hwnd, id);
            found = last->find(what) != std::string::npos;
            return found || !IsWindow(hwnd);
        },
        timeoutMs);
    return found;
}
} // namespace

class StatusWindowTest : public JobtapTest {
protected:
    HANDLE port = nullptr;
    void SetUp() override
    {
        JobtapTest::SetUp();
        EndLeftoverMonitor();
        WCHAR sys[MAX_PATH];
        GetSystemDirectoryW(sys, MAX_PATH);
        ASSERT_TRUE(CopyFileW(ExePath(L"vigil.exe").c_str(), (std::wstring(sys) + L"\\kztvigil.exe").c_str(), FALSE));
        SetMonitorValue(driver, L"kztvigil.exe");
        port = OpenPort(L"FILE:");
    }
    void TearDown() override
    {
        EndLeftoverMonitor();
        if (port)
            Close(port);
        JobtapTest::TearDown();
    }
    // A monitor still running would hold its program file and the test's
    // output, and would answer for the next test's printer: end it.
    static void EndLeftoverMonitor()
    {
        if (HWND hwnd = FindWindowA(nullptr, kTitle)) {
            DWORD pid = 0;
            GetWindowThreadProcessId(hwnd, &pid);
            Click(hwnd, IDOK);
            if (HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid)) {
                if (WaitForSingleObject(h, 3000) != WAIT_OBJECT_0)
                    TerminateProcess(h, 9);
                CloseHandle(h);
            }
            WaitForWindowGone(hwnd, 3000);
        }
    }
};

TEST_F(StatusWindowTest, JobStartsTheMonitorWhichFollowsTheJobAndEndsWhenIdle)
{
    ASSERT_TRUE(StartDoc(port, 7));
    HWND hwnd = WaitForWindow(kTitle, 10000);
    ASSERT_NE(hwnd, nullptr) << "no status window";
    EXPECT_STREQ(Block(L"FILE:").szWindowName, kTitle);
    DWORD pid = Block(L"FILE:").dwMonitorProcessId;
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
    ASSERT_NE(process, nullptr);

    std::string host;
    EXPECT_TRUE(WaitForPanel(hwnd, kHostInfo, "Printing\r\n", &host)) << host;
    ASSERT_TRUE(Write(port, Bytes("page")));
    EndDoc(port);
    EXPECT_TRUE(WaitForPanel(hwnd, kHostInfo, "Shutdown 1\r\n", &host, 12000)) << host;
    EXPECT_EQ(WaitForSingleObject(process, 5000), WAIT_OBJECT_0) << "did not end by itself";
    size_t endDoc = host.find(" EndDoc JobId=7\r\n");   // by notification, or seen first in the block
    EXPECT_NE(endDoc, std::string::npos) << host;
    size_t s5 = host.find("Shutdown 5\r\n"), s1 = host.find("Shutdown 1\r\n");
    EXPECT_TRUE(s5 != std::string::npos && endDoc < s5 && s5 < s1) << host;
    // Told by notifications and seen in the block, each line shows once.
    for (const char *line : {"StartDoc JobId=7\r\n", "EndDoc JobId=7\r\n"}) {
        size_t first = host.find(line);
        EXPECT_TRUE(first != std::string::npos && host.find(line, first + 1) == std::string::npos) << line << host;
    }
    DWORD code = 1;
    GetExitCodeProcess(process, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(process);
}

// As on Vista and later, where the spooler's monitor in session 0 finds no
// window of a user's session by its title: with the title gone from the
// block no notification arrives, and the window follows the documents from
// the block alone. A second job during the countdown starts it again.
TEST_F(StatusWindowTest, WithoutNotificationsTheBlockShowsTheDocumentsAndTheCountdownStartsAgain)
{
    ASSERT_TRUE(StartDoc(port, 21));
    HWND hwnd = WaitForWindow(kTitle, 10000);
    ASSERT_NE(hwnd, nullptr) << "no status window";
    std::string host;
    ASSERT_TRUE(WaitForPanel(hwnd, kHostInfo, "Printing\r\n", &host)) << host;
    HANDLE map = OpenFileMappingA(FILE_MAP_WRITE, FALSE, "Ostrel FileMap jobtap FILE:");
    ASSERT_NE(map, nullptr);
    auto *block = (StatusBlock *)MapViewOfFile(map, FILE_MAP_WRITE, 0, 0, 0);
    ASSERT_NE(block, nullptr);
    memset(block->szWindowName, 0, sizeof(block->szWindowName));
    UnmapViewOfFile(block);
    CloseHandle(map);

    EndDoc(port);
    ASSERT_TRUE(WaitForPanel(hwnd, kHostInfo, "Shutdown 3\r\n", &host)) << host;
    EXPECT_NE(host.find(" EndDoc JobId=21\r\n"), std::string::npos) << host;
    EXPECT_EQ(host.find("OnLanguageMonitor EndDoc"), std::string::npos) << "a notification arrived: " << host;
    ASSERT_TRUE(StartDoc(port, 22));
    EXPECT_TRUE(WaitForPanel(hwnd, kHostInfo, " StartDoc JobId=22\r\n", &host)) << host;
    // A notification that comes after the tick took the document from the
    // block (the monitor writes the block, then posts) adds no second line.
    PostMessageA(hwnd, RegisterWindowMessageA(STATUS_MSG_NAME), STATUS_NOTIFY_DOC_START, 0);
    EndDoc(port);
    EXPECT_TRUE(WaitForPanel(hwnd, kHostInfo, " EndDoc JobId=22\r\n", &host)) << host;
    PostMessageA(hwnd, RegisterWindowMessageA(STATUS_MSG_NAME), STATUS_NOTIFY_DOC_END, 0);
    EXPECT_TRUE(WaitForPanel(hwnd, kHostInfo, "Shutdown 1\r\n", &host, 12000)) << host;
    WaitForWindowGone(hwnd, 5000);
    size_t start22 = host.find(" StartDoc JobId=22\r\n");
    ASSERT_NE(start22, std::string::npos) << host;
    EXPECT_EQ(host.find(" StartDoc JobId=22\r\n", start22 + 1), std::string::npos) << "shown twice: " << host;
    size_t end22 = host.find(" EndDoc JobId=22\r\n", start22);
    EXPECT_NE(end22, std::string::npos) << host;
    EXPECT_EQ(host.find(" EndDoc JobId=22\r\n", end22 + 1), std::string::npos) << "shown twice: " << host;
    size_t s5 = host.find("Shutdown 5\r\n", start22), s1 = host.find("Shutdown 1\r\n", start22);
    EXPECT_TRUE(s5 != std::string::npos && s5 < s1) << "the countdown did not start again: " << host;
}

// Vista and later: the status monitor starts in the session of the job's
// owner, with the owner's token and environment, on that session's
// interactive desktop, inheriting no handle; a job whose owner has no
// session here starts none, and the log says why. Windows 2000/XP: the
// start in the spooler's session, whoever owns the job. (Wine has one
// session: the owners and sessions are the stand-in's, the token,
// environment and process calls Wine's own.)
TEST_F(StatusWindowTest, StatusMonitorStartsInTheSessionOfTheJobsOwnerOrNotAtAll)
{
    const bool vista = ReportsVistaOrLater();
    const std::wstring me = SessionStandIn::ThisUser(), here = SessionStandIn::ThisMachine();
    DWORD mine = 1;
    ProcessIdToSessionId(GetCurrentProcessId(), &mine);
    std::wstring shouted = me;
    CharUpperW(&shouted[0]);
    const std::string noSession = "DBG Start the job's owner [" + Narrow(me) + "] has no active session: no status monitor";
    const struct {
        const char *what;
        std::wstring user, machine;
        std::vector<StandInSession> sessions;   // empty: session 0 and this one, the owner's
        bool impersonating;                      // StartDoc on a thread with a client's identity
        bool started;
        std::string why;                         // the log line when none starts
    } rows[] = {
        {"a job from a print server's client", L"alice", L"\\\\CLIENT7", {}, false, !vista,
         "DBG Start the job's owner [alice] on [\\\\CLIENT7] has no session on this machine: no status monitor"},
        {"an owner with no active session here", L"bob", here, {}, false, !vista,
         "DBG Start the job's owner [bob] has no active session: no status monitor"},
        {"the owner only in session 0 and disconnected", me, here,
         {{0, WTSActive, me}, {mine, WTSDisconnected, me}}, false, !vista, noSession},
        {"the job of this machine's user, logged on, printed on the client's call", me, here, {}, true, true, ""},
        {"the owner's name in other case, after another user's session", me, here,
         {{0, WTSDisconnected, L""}, {mine + 1, WTSActive, L"carol"}, {mine, WTSActive, shouted}}, false, true, ""},
    };
    LogOn();
    DWORD job = 30;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        SessionStandIn::Reset();
        SessionStandIn::SetOwner(row.user, row.machine);
        if (!row.sessions.empty())
            SessionStandIn::SetSessions(row.sessions);
        if (row.impersonating) {
            ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
        }
        ASSERT_TRUE(StartDoc(port, ++job));
        if (row.impersonating) {
            HANDLE still = nullptr;
            EXPECT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &still)) << "the identity was not put back";
            if (still)
                CloseHandle(still);
            RevertToSelf();
        }
        HWND hwnd = WaitForWindow(kTitle, row.started ? 10000 : 3000);
        EXPECT_EQ(hwnd != nullptr, row.started);
        ProcessAsUserCall call = SessionStandIn::LastCall();
        if (!vista || !row.started) {
            EXPECT_EQ(call.count, 0);
        } else {
            EXPECT_EQ(call.count, 1);
            EXPECT_EQ(call.tokenSession, mine);
            EXPECT_FALSE(call.tokenWhileImpersonating);
            EXPECT_TRUE(call.tokenGiven);
            EXPECT_FALSE(call.inheritHandles);
            EXPECT_TRUE(call.environmentGiven);
            EXPECT_TRUE(call.flags & CREATE_UNICODE_ENVIRONMENT);
            EXPECT_EQ(call.desktop, L"winsta0\\default");
            EXPECT_EQ(call.commandLine, L"$X KZT TZ Test");
        }
        if (!row.why.empty()) {
            EXPECT_EQ(LogHas(row.why.c_str()), vista) << LogText();
        }
        EndDoc(port);
        EndLeftoverMonitor();
    }
    SessionStandIn::Reset();
}

TEST_F(StatusWindowTest, DeviceIdTickedShowsTheAnswerOfThePortMonitor)
{
    ASSERT_TRUE(StartDoc(port, 8));
    HWND hwnd = WaitForWindow(kTitle, 10000);
    ASSERT_NE(hwnd, nullptr);
    PostMessageA(GetDlgItem(hwnd, kDevId), BM_CLICK, 0, 0);
    std::string printer;
    EXPECT_TRUE(WaitForPanel(hwnd, kPrinterInfo, " MFG:Ostrel;CMD:TZ;MDL:TZ-1200;\r\n", &printer)) << printer;
    std::string spool;
    EXPECT_TRUE(WaitForPanel(hwnd, kSpoolInfo, " pPrinterName [KZT TZ Test]\r\n", &spool)) << spool;
    EXPECT_NE(spool.find("GetPrinter PRNTER_INFO_5\r\n"), std::string::npos) << spool;
    EndDoc(port);
}

TEST_F(StatusWindowTest, SecondInstanceForTheSamePrinterEndsAtOnceSilently)
{
    ASSERT_TRUE(StartDoc(port, 9));
    ASSERT_NE(WaitForWindow(kTitle, 10000), nullptr);
    Process second;
    ASSERT_TRUE(second.Start(L"$X KZT TZ Test"));
    EXPECT_TRUE(second.Ended(5000));
    EXPECT_EQ(WaitForMessageBox(second.pid, 100, nullptr), nullptr);
    EndDoc(port);
}

TEST_F(StatusWindowTest, ClosedPortEndsTheMonitorWithAMessage)
{
    ASSERT_TRUE(StartDoc(port, 10));
    HWND hwnd = WaitForWindow(kTitle, 10000);
    ASSERT_NE(hwnd, nullptr);
    DWORD pid = Block(L"FILE:").dwMonitorProcessId;
    EndDoc(port);
    std::string seen;
    ASSERT_TRUE(WaitForPanel(hwnd, kHostInfo, "EndDoc JobId=10", &seen)) << seen;
    ASSERT_TRUE(Close(port));
    port = nullptr;
    std::string text;
    HWND box = WaitForMessageBox(pid, 5000, &text);
    HWND status = FindWindowA(nullptr, kTitle);
    ASSERT_NE(box, nullptr) << "status window " << (status ? ItemText(status, kHostInfo) : std::string("gone"));
    // The channel goes while the window copies it: the open that fails is
    // the mapping's, or, when the close falls between the opens, one of the
    // three events'.
    bool channelOpenFailed = false;
    for (const char *open : {"OpenFileMapping", "OpenEvent_Map", "OpenEvent_Cmd", "OpenEvent_Ret"})
        channelOpenFailed |= text.rfind(std::string("MyGetMapView ") + open + " E 2 ", 0) == 0;
    EXPECT_TRUE(channelOpenFailed) << text;
    // The document's start and end were shown in order before the failure (by
    // notification or seen first in the block). The port-closing
    // notification finds the channel gone already when its snapshot is
    // taken, so it is this one that usually fails, before its line is written.
    std::string host = ItemText(status, kHostInfo);
    size_t start = host.find(" StartDoc JobId=10\r\n"), end = host.find(" EndDoc JobId=10\r\n");
    EXPECT_TRUE(start != std::string::npos && end != std::string::npos && start < end) << host;
    Click(box, IDOK);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    EXPECT_EQ(WaitForSingleObject(process, 5000), WAIT_OBJECT_0);
    CloseHandle(process);
}

TEST_F(StatusWindowTest, CommandLineWithoutPrinterFailsWithTheCommandLine)
{
    Process alone;
    ASSERT_TRUE(alone.Start(L"vigil.exe"));
    std::string text;
    HWND box = WaitForMessageBox(alone.pid, 5000, &text);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(text, "MyOpenTapline MyGetPrinterName vigil.exe");
    // Without a printer name the window keeps its own name, "vigil", which
    // it carries from its creation, before any message box.
    char owner[64] = "";
    GetWindowTextA(GetWindow(box, GW_OWNER), owner, sizeof(owner));
    EXPECT_STREQ(owner, "vigil");
    Click(box, IDOK);
    EXPECT_TRUE(alone.Ended(5000));
}

TEST_F(StatusWindowTest, DeviceRequestThatNeverReturnsEndsWithinTheChannelTimeout)
{
    fake.script.bGetHangs = true;
    ASSERT_TRUE(StartDoc(port, 11));
    HWND hwnd = WaitForWindow(kTitle, 10000);
    ASSERT_NE(hwnd, nullptr);
    DWORD pid = Block(L"FILE:").dwMonitorProcessId;
    DWORD start = GetTickCount();
    PostMessageA(GetDlgItem(hwnd, kDevId), BM_CLICK, 0, 0);
    std::string text;
    HWND box = WaitForMessageBox(pid, 15000, &text);
    DWORD elapsed = GetTickCount() - start;
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(text, "MyGetPrinterDataIoCtl WaitForSingleObject_Ret WAIT_TIMEOUT");
    EXPECT_LT(elapsed, 2 * 5000u + 2000u) << "a request blocks a tick for at most twice the 5 s timeout";
    Click(box, IDOK);
    fake.ReleaseHungGets();
    EndDoc(port);
}

TEST_F(StatusWindowTest, PausedPanelKeepsItsTextAndGreysItsLabel)
{
    ASSERT_TRUE(StartDoc(port, 12));
    HWND hwnd = WaitForWindow(kTitle, 10000);
    ASSERT_NE(hwnd, nullptr);
    std::string host;
    ASSERT_TRUE(WaitForPanel(hwnd, kHostInfo, "Printing", &host));
    HWND label = GetDlgItem(hwnd, 1001);
    Click(hwnd, 1006);                                   // Host Info Pause/Play
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowEnabled(label); }, 3000));
    std::string paused = ItemText(hwnd, kHostInfo), printer = ItemText(hwnd, kPrinterInfo);
    EXPECT_TRUE(WaitUntil([&] { return ItemText(hwnd, kPrinterInfo).size() > printer.size(); }, 5000))
        << "the other panels go on";
    Sleep(1500);                                         // at least one more tick
    EXPECT_EQ(ItemText(hwnd, kHostInfo), paused);
    Click(hwnd, 1006);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(label) != FALSE; }, 3000));
    EndDoc(port);
}

// Wine 8 does not carry WM_GETICON or WM_QUERYDRAGICON to another process
// ("pack_message ... not supported yet"): the icon is seen on the screen
// here, its drag-icon answer in the dialog framework's own test.
TEST_F(StatusWindowTest, MinimisedWindowDrawsTheProgramIcon)
{
    // The program's own icon, as the test draws it: vigil's icon resource.
    HMODULE exe = LoadLibraryExW(ExePath(L"vigil.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(exe, nullptr);
    HICON icon = LoadIconA(exe, MAKEINTRESOURCEA(128));
    ASSERT_NE(icon, nullptr);
    ASSERT_TRUE(StartDoc(port, 13));
    HWND hwnd = WaitForWindow(kTitle, 10000);
    ASSERT_NE(hwnd, nullptr);
    POINT at;
    EXPECT_TRUE(FindIconWhileMinimised(hwnd, icon, 5000, &at)) << "no icon on the screen";
    EndDoc(port);
    FreeLibrary(exe);
}
