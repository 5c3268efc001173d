// The status channel: named objects, the block, device requests from another
// process served by StatusThread, and the Get entry point with its value
// names.
#include <aclapi.h>
#include <sddl.h>
#include "jobtapfixture.h"
#include "importpatch.h"

namespace {

bool ObjectExists(const wchar_t *name, bool event)
{
    HANDLE h = event ? OpenEventW(SYNCHRONIZE, FALSE, name) : OpenFileMappingW(FILE_MAP_READ, FALSE, name);
    if (h)
        CloseHandle(h);
    return h != nullptr;
}

bool ChannelExists(const std::wstring &lm, const std::wstring &key)
{
    return ObjectExists((L"Ostrel FileMap " + lm + L" " + key).c_str(), false) &&
           ObjectExists((L"Ostrel Event Map " + lm + L" " + key).c_str(), true) &&
           ObjectExists((L"Ostrel Event Cmd " + lm + L" " + key).c_str(), true) &&
           ObjectExists((L"Ostrel Event Ret " + lm + L" " + key).c_str(), true);
}

DWORD RunProcess(const std::wstring &commandLine, DWORD timeoutMs = 60000)
{
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi;
    std::wstring cmd = commandLine;
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return 0xFFFF;
    DWORD code = 0xFFFE;
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

DWORD WINAPI OneDeviceRequest(LPVOID)
{
    ChannelRequest request;
    ChannelReply reply;
    return ChannelCall(kMonitorName, L"LPT1:", request, &reply) ? reply.bResult : 9;
}

} // namespace

using StatusChannelTest = JobtapTest;

namespace {

// The handle values that "Open <what> R x%x" lines of the log name.
std::vector<HANDLE> LoggedHandles(const std::string &start)
{
    std::vector<HANDLE> out;
    for (auto &m : LogMessages()) {
        size_t r = m.rfind(" R x");
        if (m.rfind(start, 0) == 0 && r != std::string::npos)
            out.push_back((HANDLE)(UINT_PTR)strtoul(m.c_str() + r + 4, nullptr, 16));
    }
    return out;
}

PSID WellKnownSid(DWORD count, DWORD rid0, DWORD rid1 = 0)
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    AllocateAndInitializeSid(&nt, (BYTE)count, rid0, rid1, 0, 0, 0, 0, 0, 0, &sid);
    return sid;
}

// Each ACE of the object's access list as "S:<mask>", "A:<mask>", "I:<mask>"
// (SYSTEM, Administrators, interactive users) or "?"; "null" for no list.
std::string AccessList(HANDLE h)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetSecurityInfo(h, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &sd))
        return "unreadable";
    std::string text = dacl ? "" : "null";
    PSID sys = WellKnownSid(1, SECURITY_LOCAL_SYSTEM_RID);
    PSID admins = WellKnownSid(2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
    PSID interactive = WellKnownSid(1, SECURITY_INTERACTIVE_RID);
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE *ace = nullptr;
        GetAce(dacl, i, (LPVOID *)&ace);
        PSID sid = &ace->SidStart;
        char who = EqualSid(sid, sys) ? 'S' : EqualSid(sid, admins) ? 'A' : EqualSid(sid, interactive) ? 'I' : '?';
        char entry[32];
        snprintf(entry, sizeof(entry), "%s%c:%lx", text.empty() ? "" : " ", who, (unsigned long)ace->Mask);
        text += entry;
    }
    FreeSid(sys);
    FreeSid(admins);
    FreeSid(interactive);
    LocalFree(sd);
    return text;
}

} // namespace

// Any user can open the channel's objects by name: they carry an access list
// (SYSTEM and Administrators all access, interactive users only what the
// status monitor needs), read back through the platform's security calls.
// No handle of the port is inheritable (the worker thread's included: it has
// default security, which Wine reads back as no list at all).
TEST_F(StatusChannelTest, ObjectsCarryAnAccessListAndNoHandleIsInheritable)
{
    LogOn();
    HANDLE h = OpenPort();
    const struct { StatusObject object; const char *list; } cases[] = {
        {StatusFileMap, "S:f001f A:f001f I:6"},
        {StatusEventMap, "S:1f0003 A:1f0003 I:100002"},
        {StatusEventCmd, "S:1f0003 A:1f0003 I:100002"},
        {StatusEventRet, "S:1f0003 A:1f0003 I:100002"},
    };
    for (auto &c : cases) {
        std::wstring name = ChannelObjectName(c.object, kMonitorName, L"LPT1:");
        HANDLE o = c.object == StatusFileMap ? OpenFileMappingW(READ_CONTROL, FALSE, name.c_str())
                                             : OpenEventW(READ_CONTROL, FALSE, name.c_str());
        ASSERT_NE(o, nullptr) << c.object;
        EXPECT_EQ(AccessList(o), c.list) << c.object;
        CloseHandle(o);
    }
    auto handles = LoggedHandles("DBG Open CreateEvent([");
    auto thread = LoggedHandles("DBG Open CreateThread x");
    ASSERT_EQ(handles.size(), 3u) << LogText();
    ASSERT_EQ(thread.size(), 1u) << LogText();
    handles.push_back(thread[0]);
    for (HANDLE o : handles) {
        DWORD flags = 0;
        ASSERT_TRUE(GetHandleInformation(o, &flags));
        EXPECT_FALSE(flags & HANDLE_FLAG_INHERIT) << o;
    }
    ASSERT_TRUE(Close(h));
}

// An object that another process made under the port's names before the port
// opened is not used: the port prints without a status channel, and a
// command event that stays signalled sets no worker spinning.
TEST_F(StatusChannelTest, ObjectsPlantedUnderThePortsNamesLeaveItPrintingWithoutAChannel)
{
    const struct { const char *what; StatusObject object; DWORD protect, cb; const char *why; } cases[] = {
        {"block smaller than the StatusBlock", StatusFileMap, PAGE_READWRITE, 4096, "size E 1106"},
        {"block of pages reserved, not committed", StatusFileMap, PAGE_READWRITE | SEC_RESERVE, 4428, "size E 1106"},
        {"manual-reset command event, signalled", StatusEventCmd, 0, 0, "type E"},
    };
    // Owned by Administrators, so that the monitor looks past the owner.
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAD:(A;;GA;;;WD)", SDDL_REVISION_1, &sd,
                                                                     nullptr));
    SECURITY_ATTRIBUTES sa = {sizeof(sa), sd, FALSE};
    for (auto &c : cases) {
        std::wstring name = ChannelObjectName(c.object, kMonitorName, L"LPT1:");
        HANDLE planted = c.object == StatusFileMap
                             ? CreateFileMappingW(INVALID_HANDLE_VALUE, &sa, c.protect, 0, c.cb, name.c_str())
                             : CreateEventW(&sa, TRUE, TRUE, name.c_str());
        ASSERT_NE(planted, nullptr) << c.what;
        LogOn();
        fake.Reset();
        HANDLE h = OpenPort();
        ASSERT_NE(h, nullptr) << c.what;
        FILETIME t0[4], t1[4];
        GetProcessTimes(GetCurrentProcess(), &t0[0], &t0[1], &t0[2], &t0[3]);
        Sleep(500);
        GetProcessTimes(GetCurrentProcess(), &t1[0], &t1[1], &t1[2], &t1[3]);
        auto ticks = [](const FILETIME &f) { return ((ULONGLONG)f.dwHighDateTime << 32) | f.dwLowDateTime; };
        ULONGLONG cpuMs = (ticks(t1[2]) + ticks(t1[3]) - ticks(t0[2]) - ticks(t0[3])) / 10000;
        EXPECT_LT(cpuMs, 150u) << c.what << ": CPU time over 500 ms";
        ASSERT_TRUE(StartDoc(h)) << c.what;
        ASSERT_TRUE(Write(h, Bytes("job"))) << c.what;
        EndDoc(h);
        ASSERT_TRUE(Close(h)) << c.what;
        EXPECT_EQ(Output(), Bytes("job")) << c.what;
        EXPECT_TRUE(LogHasPrefix("ERR Open Untrusted([" + Narrow(name) + "]) " + c.why)) << c.what << "\n" << LogText();
        CloseHandle(planted);
    }
    LocalFree(sd);
}

TEST_F(StatusChannelTest, ObjectsAreNamedAfterMonitorAndPortKey)
{
    struct { const wchar_t *port; const wchar_t *key; } cases[] = {
        {L"LPT1:", L"LPT1:"},
        {L"\\\\server\\queue", L",,server,queue"},
        {L"USB001,extra\\part", L"USB001"},
        {L"IP_10.0.0.1", L"IP_10.0.0.1"},
    };
    for (auto &c : cases) {
        HANDLE h = OpenPort(c.port);
        EXPECT_TRUE(ChannelExists(L"jobtap", c.key)) << Narrow(c.port);
        ASSERT_TRUE(Close(h));
        EXPECT_FALSE(ChannelExists(L"jobtap", c.key)) << Narrow(c.port);
    }
}

TEST_F(StatusChannelTest, EmptyMonitorNameGivesTwoBlanksInARow)
{
    // A library of its own: the fixture's keeps its first root.
    SpoolerHost unnamed;
    unnamed.path = ExePath(L"jobtap-unnamed.dll");
    ASSERT_TRUE(CopyFileW(ExePath(L"jobtap.dll").c_str(), unnamed.path.c_str(), FALSE));
    ASSERT_TRUE(unnamed.Init(L"System\\Monitors\\"));
    HANDLE h = nullptr;
    ASSERT_TRUE(unnamed.lm->pfnOpenPortEx((LPWSTR)L"LPT1:", (LPWSTR)kTestPrinter, &h, fake.Table()));
    EXPECT_TRUE(ObjectExists(L"Ostrel FileMap  LPT1:", false));
    ASSERT_TRUE(unnamed.lm->pfnClosePort(h));
}

TEST_F(StatusChannelTest, SamePortUnderTwoMonitorsHasTwoChannels)
{
    // A second copy of the library is a second monitor with its own globals.
    std::wstring copy = ExePath(L"jobtap-second.dll");
    ASSERT_TRUE(CopyFileW(ExePath(L"jobtap.dll").c_str(), copy.c_str(), FALSE));
    HMODULE second = LoadLibraryW(copy.c_str());
    ASSERT_NE(second, nullptr);
    auto init = (LPMONITOREX(WINAPI *)(LPWSTR))GetProcAddress(second, "InitializePrintMonitor");
    MONITOR *other = &init((LPWSTR)L"System\\Monitors\\second")->Monitor;
    HANDLE a = OpenPort(L"LPT1:");
    HANDLE b = nullptr;
    ASSERT_TRUE(other->pfnOpenPortEx((LPWSTR)L"LPT1:", (LPWSTR)kTestPrinter, &b, fake.Table()));
    EXPECT_TRUE(ChannelExists(L"jobtap", L"LPT1:"));
    EXPECT_TRUE(ChannelExists(L"second", L"LPT1:"));
    EXPECT_TRUE(other->pfnClosePort(b));
    EXPECT_TRUE(Close(a));
}

TEST_F(StatusChannelTest, OpenReusesAndClearsABlockAClientStillHolds)
{
    HANDLE h = OpenPort();
    HANDLE map = OpenFileMappingW(FILE_MAP_WRITE, FALSE, L"Ostrel FileMap jobtap LPT1:");
    ASSERT_NE(map, nullptr);
    auto *block = (StatusBlock *)MapViewOfFile(map, FILE_MAP_WRITE, 0, 0, sizeof(StatusBlock));
    ASSERT_TRUE(StartDoc(h, 77));
    EndDoc(h);
    lstrcpyA(block->szWindowName, "stale");
    ASSERT_TRUE(Close(h));
    EXPECT_EQ(block->dwJobId, 77u);                        // kept alive by this view
    h = OpenPort();
    EXPECT_EQ(block->dwJobId, 0u);
    EXPECT_EQ(block->szWindowName[0], 0);
    EXPECT_EQ(block->uMsgMonitor, RegisterWindowMessageW(L"Ostrel StatusMonitor"));
    UnmapViewOfFile(block);
    CloseHandle(map);
    ASSERT_TRUE(Close(h));
}

TEST_F(StatusChannelTest, SecondProcessGetsTheDeviceIdThroughTheChannel)
{
    HANDLE h = OpenPort();
    std::wstring cmd = L"\"" + ExePath(L"chanclient.exe") + L"\" jobtap LPT1: 20 \"MFG:Ostrel;CMD:TZ;MDL:TZ-1200;\"";
    EXPECT_EQ(RunProcess(cmd), 0u);
    EXPECT_EQ(fake.CallsOf("Get").size(), 20u);
    ASSERT_TRUE(Close(h));
}

// A status monitor killed while it holds the channel's lock (in a request,
// or logged off): the worker gives the lock back, and the next client's
// request is answered within that client's 5 s wait.
TEST_F(StatusChannelTest, LockHeldByAClientThatEndedIsGivenBackToTheNext)
{
    HANDLE h = OpenPort();
    HANDLE held = CreateEventW(nullptr, TRUE, FALSE, L"kzt test lock held");
    std::wstring cmd = L"\"" + ExePath(L"chanclient.exe") + L"\" jobtap LPT1: 0 \"kzt test lock held\"";
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    EXPECT_EQ(WaitForSingleObject(held, 10000), WAIT_OBJECT_0);
    TerminateProcess(pi.hProcess, 9);
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CloseHandle(held);

    ChannelRequest request;
    request.cbData = 256;
    ChannelReply reply;
    EXPECT_TRUE(ChannelCall(L"jobtap", L"LPT1:", request, &reply));
    EXPECT_EQ(std::string(reply.data.begin(), reply.data.end()), "MFG:Ostrel;CMD:TZ;MDL:TZ-1200;");
    ASSERT_TRUE(Close(h));
}

struct RequestCase {
    const char *name;
    DWORD code, request, value, cbData;
    std::string data;                 // client's data for a set command
    DWORD cbInSeen, cbOutSeen;        // what the port monitor receives
    std::vector<BYTE> headerSeen;
    std::string reply;
};

TEST_F(StatusChannelTest, RequestsReachThePortMonitorWithTheThreeByteHeader)
{
    const RequestCase cases[] = {
        {"device id", KZT_IOCTL_PAR_QUERY_DEVICE_ID, 0, 0, 256, "", 3, 256, {0, 0, 0}, "MFG:Ostrel;CMD:TZ;MDL:TZ-1200;"},
        {"device id, no room", KZT_IOCTL_PAR_QUERY_DEVICE_ID, 0, 0, 0, "", 3, 0, {0, 0, 0}, ""},
        {"vendor get", KZT_IOCTL_USBPRINT_VENDOR_GET_COMMAND, 18, 13398, 64, "", 3, 64, {18, 0x34, 0x56}, "V18:13398"},
        {"vendor get, wide numbers", KZT_IOCTL_USBPRINT_VENDOR_GET_COMMAND, 0x1FF, 0x12345, 64, "", 3, 64,
         {0xFF, 0x23, 0x45}, "V255:9029"},
        {"vendor set", KZT_IOCTL_USBPRINT_VENDOR_SET_COMMAND, 7, 0x0102, 5, "ABCDE", 8, 0, {7, 1, 2}, ""},
        {"oversized room is cut", KZT_IOCTL_PAR_QUERY_DEVICE_ID, 0, 0, 5000, "", 3, 4096, {0, 0, 0},
         "MFG:Ostrel;CMD:TZ;MDL:TZ-1200;"},
        {"oversized set is cut", KZT_IOCTL_USBPRINT_VENDOR_SET_COMMAND, 0, 0, 0x7FFFFFFF, "xyz", 4099, 0, {0, 0, 0}, ""},
    };
    HANDLE h = OpenPort();
    for (auto &c : cases) {
        fake.Reset();
        ChannelRequest request;
        request.dwCode = c.code;
        request.dwRequest = c.request;
        request.dwValue = c.value;
        request.cbData = c.cbData;
        request.data.assign(c.data.begin(), c.data.end());
        ChannelReply reply;
        ASSERT_TRUE(ChannelCall(kMonitorName, L"LPT1:", request, &reply)) << c.name;
        EXPECT_EQ(reply.bResult, 1u) << c.name;
        EXPECT_EQ(std::string(reply.data.begin(), reply.data.end()), c.reply) << c.name;
        auto gets = fake.CallsOf("Get");
        ASSERT_EQ(gets.size(), 1u) << c.name;
        EXPECT_EQ(gets[0].text, L"<null>") << c.name;
        EXPECT_EQ(gets[0].args[0], c.code) << c.name;
        EXPECT_EQ(gets[0].args[1], c.cbInSeen) << c.name;
        EXPECT_EQ(gets[0].args[2], c.cbOutSeen) << c.name;
        ASSERT_GE(gets[0].data.size(), 3u) << c.name;
        EXPECT_EQ(std::vector<BYTE>(gets[0].data.begin(), gets[0].data.begin() + 3), c.headerSeen) << c.name;
        if (c.code == KZT_IOCTL_USBPRINT_VENDOR_SET_COMMAND) {
            EXPECT_EQ(gets[0].args[3], 0u) << c.name << ": no output buffer";
            EXPECT_EQ(std::string(gets[0].data.begin() + 3, gets[0].data.begin() + 3 + c.data.size()), c.data);
            StatusBlock b = Block();
            EXPECT_EQ(std::string((char *)b.abData, c.data.size()), c.data) << "abData stays as the client wrote it";
        }
    }
    // Any other code is refused and never reaches the port below.
    fake.Reset();
    ChannelRequest unknown;
    unknown.dwCode = 0x99;
    ChannelReply reply;
    ASSERT_TRUE(ChannelCall(kMonitorName, L"LPT1:", unknown, &reply));
    EXPECT_EQ(reply.bResult, 0u);
    EXPECT_EQ(reply.dwError, (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(fake.CallsOf("Get").empty());
    ASSERT_TRUE(Close(h));
}

TEST_F(StatusChannelTest, PortMonitorFailureIsReportedAndTheThreadGoesOn)
{
    HANDLE h = OpenPort();
    fake.script.dwFailGet = ERROR_GEN_FAILURE;
    ChannelRequest request;
    ChannelReply reply;
    ASSERT_TRUE(ChannelCall(kMonitorName, L"LPT1:", request, &reply));
    EXPECT_EQ(reply.bResult, 0u);
    EXPECT_EQ(reply.dwError, (DWORD)ERROR_GEN_FAILURE);
    fake.script.dwFailGet = 0;
    ASSERT_TRUE(ChannelCall(kMonitorName, L"LPT1:", request, &reply));
    EXPECT_EQ(reply.bResult, 1u);
    ASSERT_TRUE(Close(h));
}

TEST_F(StatusChannelTest, PortMonitorWithoutGetAnswersZeroes)
{
    FakeScript script;
    script.bNoGet = true;
    fake.Reset(script);
    LogOn();
    HANDLE h = OpenPort();
    ChannelRequest request;
    ChannelReply reply;
    reply.bResult = reply.dwError = reply.cbReturned = 5;
    ASSERT_TRUE(ChannelCall(kMonitorName, L"LPT1:", request, &reply));
    EXPECT_EQ(reply.bResult, 0u);
    EXPECT_EQ(reply.dwError, 0u);
    EXPECT_EQ(reply.cbReturned, 0u);
    ASSERT_TRUE(Close(h));
    EXPECT_TRUE(LogHas("DBG Thread pfnGet NotSupported R 0 E 0")) << LogText();
}

// The port below is closed only after the worker has finished the request it
// was running: the port monitor never sees its handle closed under a request,
// nor a request on a closed or NULL handle.
TEST_F(StatusChannelTest, CloseWaitsForARequestInProgress)
{
    HANDLE h = OpenPort();
    fake.script.dwGetDelayMs = 500;
    HANDLE client = CreateThread(nullptr, 0, OneDeviceRequest, nullptr, 0, nullptr);
    while (fake.CallsOf("Get").empty())
        Sleep(5);
    ASSERT_TRUE(Close(h));                    // returns only after the thread ended
    EXPECT_EQ(fake.CallsOf("Get").size(), 1u);
    WaitForSingleObject(client, 10000);
    CloseHandle(client);
    EXPECT_EQ(fake.OpenPorts(), 0);
    ExpectNoHandleFaults();
}

// A Close that the port monitor refuses leaves the port fully open: its
// handle below and its channel's worker serve on, and a later Close works.
TEST_F(StatusChannelTest, RefusedCloseKeepsThePortAndItsChannelServing)
{
    HANDLE h = OpenPort();
    fake.script.dwFailClose = ERROR_BUSY;
    EXPECT_FALSE(Close(h));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_BUSY);
    ChannelRequest request;
    ChannelReply reply;
    ASSERT_TRUE(ChannelCall(kMonitorName, L"LPT1:", request, &reply));
    EXPECT_EQ(reply.bResult, 1u);
    EXPECT_EQ(std::string(reply.data.begin(), reply.data.end()), "MFG:Ostrel;CMD:TZ;MDL:TZ-1200;");
    fake.script.dwFailClose = 0;
    EXPECT_TRUE(Close(h));
    EXPECT_EQ(fake.OpenPorts(), 0);

    // A worker that cannot be started again takes the channel with it: a
    // client then finds no channel instead of waiting for a reply nobody
    // sends, and the port still prints and closes.
    h = OpenPort();
    struct NoThread {
        static HANDLE WINAPI Create(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD)
        {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
    };
    ULONG_PTR realCreateThread = 0;
    ASSERT_GT(PatchImport(host.hModule, "KERNEL32.DLL", "CreateThread", (ULONG_PTR)NoThread::Create,
                          &realCreateThread), 0);
    fake.script.dwFailClose = ERROR_BUSY;
    EXPECT_FALSE(Close(h));
    PatchImport(host.hModule, "KERNEL32.DLL", "CreateThread", realCreateThread, nullptr);
    wchar_t name[STATUS_NAME_CCH];
    FormatStatusObjectName(name, STATUS_NAME_CCH, StatusFileMap, kMonitorName, L"LPT1:");
    HANDLE map = OpenFileMappingW(FILE_MAP_READ, FALSE, name);
    EXPECT_EQ(map, nullptr) << "a channel nobody serves is still there";
    if (map)
        CloseHandle(map);
    EXPECT_TRUE(StartDoc(h));
    EndDoc(h);                            // (the test printer has no such job to tell)
    fake.script.dwFailClose = 0;
    EXPECT_TRUE(Close(h));
}

// Port names that give the same object names, as the kernel compares them:
// equal up to the first comma, equal but for case, equal in the part that
// fits the name buffer, or empty. The second port opens and prints without a
// channel; the first keeps its block as it wrote it, and either closes first.
TEST_F(StatusChannelTest, PortsSharingTheirObjectsKeepTheBlockAndCloseInEitherOrder)
{
    const std::wstring longName(300, L'P');
    // Cut where the events' names end; the sections' names, shorter, still differ.
    const std::wstring eventCut(STATUS_NAME_CCH - 1 - lstrlenW(L"Ostrel Event Map jobtap "), L'P');
    const struct { const char *what; std::wstring first, second; } cases[] = {
        {"equal up to the comma", L"USB001,first", L"USB001,second"},
        {"equal but for case", L"USB001,first", L"usb001,second"},
        {"equal where the names are cut", longName + L"1", longName + L"2"},
        {"equal where the events' names are cut", eventCut + L"1", eventCut + L"2"},
        {"empty", L"", L""},
    };
    for (auto &c : cases) {
        for (bool firstClosesFirst : {true, false}) {
            std::string what = std::string(c.what) + (firstClosesFirst ? ", first closes first" : ", second closes first");
            LogOn();
            HANDLE first = OpenPort(c.first.c_str());
            ASSERT_NE(first, nullptr) << what;
            ASSERT_TRUE(StartDoc(first, 77)) << what;
            ASSERT_TRUE(ChannelSetWindowName(kMonitorName, c.first, "kept")) << what;
            HANDLE second = OpenPort(c.second.c_str());
            ASSERT_NE(second, nullptr) << what;
            StatusBlock b = Block(c.first.c_str());
            EXPECT_EQ(b.dwJobId, 77u) << what;
            EXPECT_EQ(b.dwFlags, (DWORD)STATUS_FLAG_PRINTING) << what;
            EXPECT_STREQ(b.szWindowName, "kept") << what;
            // Wine compares object names with case: there only the monitor's
            // own key makes the case row's ports collide. (Log lines are cut:
            // the start of the line is compared.)
            std::string collision = "ERR Open NameCollision([" + Narrow(c.second) + "]) [" + Narrow(c.first) + "]";
            EXPECT_TRUE(LogHasPrefix(collision.substr(0, 120))) << what << LogText();
            ChannelRequest request;
            ChannelReply reply;
            EXPECT_TRUE(ChannelCall(kMonitorName, c.first, request, &reply) && reply.bResult) << what;
            EndDoc(first);

            AsyncClose closeEarlier(host.lm, firstClosesFirst ? first : second);
            ASSERT_TRUE(closeEarlier.Returned(kHangGuardMs)) << what << ": the earlier Close hangs";
            EXPECT_TRUE(closeEarlier.Result()) << what;
            AsyncClose closeLater(host.lm, firstClosesFirst ? second : first);
            ASSERT_TRUE(closeLater.Returned(kHangGuardMs)) << what << ": the later Close hangs";
            EXPECT_TRUE(closeLater.Result()) << what;
            EXPECT_EQ(fake.OpenPorts(), 0) << what;
        }
    }
}

// Reply numbering: a client may number its request in dwRequestId; the worker
// says busy in dwReplyId while it owes the reply, then echoes the number.
static bool WaitForReplyId(DWORD id)
{
    for (int i = 0; i < 2000; ++i) {
        StatusBlock block = {};
        if (ChannelSnapshot(kMonitorName, L"LPT1:", &block) && block.dwReplyId == id)
            return true;
        Sleep(5);
    }
    return false;
}

TEST_F(StatusChannelTest, ClientThatLeavesTheRequestIdAtZeroIsAnsweredAsBefore)
{
    HANDLE h = OpenPort();
    const struct { DWORD code, request, value; const char *answer; } steps[] = {
        {KZT_IOCTL_PAR_QUERY_DEVICE_ID, 0, 0, "MFG:Ostrel;CMD:TZ;MDL:TZ-1200;"},
        {KZT_IOCTL_USBPRINT_VENDOR_GET_COMMAND, 1, 2, "V1:2"},
        {KZT_IOCTL_USBPRINT_VENDOR_GET_COMMAND, 3, 4, "V3:4"},
    };
    for (auto &step : steps) {
        ChannelRequest request;
        request.dwCode = step.code;
        request.dwRequest = step.request;
        request.dwValue = step.value;
        ChannelReply reply;
        ASSERT_TRUE(ChannelCall(kMonitorName, L"LPT1:", request, &reply)) << step.answer;
        EXPECT_EQ(reply.bResult, 1u) << step.answer;
        EXPECT_EQ(std::string(reply.data.begin(), reply.data.end()), step.answer);
        StatusBlock b = Block();
        EXPECT_EQ(b.dwRequestId, 0u) << step.answer;
        EXPECT_EQ(b.dwReplyId, 0u) << step.answer << ": the echo of an unnumbered request";
    }
    ASSERT_TRUE(Close(h));
}

TEST_F(StatusChannelTest, WorkerSaysBusyUntilTheReplyIsCompleteThenEchoesTheRequestId)
{
    HANDLE h = OpenPort();
    const DWORD ids[] = {1, 0x7FFFFFFF, 0xFFFFFFFE, 2};
    for (DWORD id : ids) {
        ChannelRequest request;
        request.dwRequestId = id;
        ChannelReply reply;
        ASSERT_TRUE(ChannelCall(kMonitorName, L"LPT1:", request, &reply)) << id;
        EXPECT_EQ(reply.bResult, 1u) << id;
        StatusBlock b = Block();
        EXPECT_EQ(b.dwRequestId, id) << "the worker leaves the client's number alone";
        EXPECT_EQ(b.dwReplyId, id);
    }

    fake.script.bGetHangs = true;
    ChannelRequest late;
    late.dwRequestId = 9;
    late.dwTimeoutMs = 300;
    ChannelReply reply;
    EXPECT_FALSE(ChannelCall(kMonitorName, L"LPT1:", late, &reply));
    for (int i = 0; i < 2000 && fake.CallsOf("Get").size() < 5; ++i)
        Sleep(5);
    EXPECT_EQ(fake.CallsOf("Get").size(), 5u);
    EXPECT_EQ(Block().dwReplyId, STATUS_REPLY_BUSY) << "while the port monitor has the request";
    fake.script.bGetHangs = false;
    fake.ReleaseHungGets();
    EXPECT_TRUE(WaitForReplyId(9)) << Block().dwReplyId;
    ASSERT_TRUE(Close(h));
}

// Get, the monitor's printer-data entry point.
struct NameCase {
    std::wstring name;
    bool known;
    DWORD code;
    std::vector<BYTE> header;
};

TEST_F(StatusChannelTest, ValueNamesBecomeDeviceRequests)
{
    const std::wstring G = L"IOCTL_USBPRINT_VENDOR_GET_COMMAND";
    const NameCase cases[] = {
        {L"IOCTL_PAR_QUERY_DEVICE_ID", true, KZT_IOCTL_PAR_QUERY_DEVICE_ID, {0, 0, 0}},
        {L"DeviceID", true, KZT_IOCTL_PAR_QUERY_DEVICE_ID, {0, 0, 0}},
        {L"deviceid", false, 0, {}},
        {G, false, 0, {}},
        {(G + L" 18"), false, 0, {}},
        {(G + L" 18,13398"), true, KZT_IOCTL_USBPRINT_VENDOR_GET_COMMAND, {18, 0x34, 0x56}},
        {(G + L"(18 13398)"), true, KZT_IOCTL_USBPRINT_VENDOR_GET_COMMAND, {18, 0x34, 0x56}},
        {(G + L"18:13398"), true, KZT_IOCTL_USBPRINT_VENDOR_GET_COMMAND, {18, 0x34, 0x56}},
        {(G + L" 1 2 3"), true, KZT_IOCTL_USBPRINT_VENDOR_GET_COMMAND, {1, 0, 2}},
        {(G + L"x"), false, 0, {}},
        {L"ioctl_usbprint_vendor_get_command 1 2", false, 0, {}},
        {L"Anything", false, 0, {}},
    };
    std::vector<std::wstring> names;
    for (auto &c : cases)
        names.push_back(c.name);
    HANDLE h = OpenPort();
    for (size_t i = 0; i < names.size(); ++i) {
        const NameCase &c = cases[i];
        fake.Reset();
        char out[128] = {};
        DWORD cb = 0;
        BYTE callerInput[5] = {9, 9, 9, 9, 9};
        SetLastError(0xdeadbeef);
        BOOL ok = host.lm->pfnGetPrinterDataFromPort(h, 0, (LPWSTR)names[i].c_str(), (LPWSTR)callerInput, 5,
                                                     (LPWSTR)out, sizeof(out), &cb);
        EXPECT_EQ(ok != FALSE, c.known) << "case " << i;
        auto gets = fake.CallsOf("Get");
        if (!c.known) {
            EXPECT_EQ(GetLastError(), 0xdeadbeefu) << "case " << i << ": last error untouched";
            EXPECT_TRUE(gets.empty()) << "case " << i;
            continue;
        }
        ASSERT_EQ(gets.size(), 1u) << "case " << i;
        EXPECT_EQ(gets[0].text, names[i]) << "case " << i;
        EXPECT_EQ(gets[0].args[0], c.code) << "case " << i;
        EXPECT_EQ(gets[0].args[1], 3u) << "case " << i << ": the caller's input is not used";
        EXPECT_EQ(gets[0].args[2], sizeof(out)) << "case " << i;
        EXPECT_EQ(gets[0].data, c.header) << "case " << i;
        EXPECT_EQ(cb, strlen(out)) << "case " << i;
    }
    ASSERT_TRUE(Close(h));
}

TEST_F(StatusChannelTest, NonZeroControlIdPassesThroughUninterpreted)
{
    HANDLE h = OpenPort();
    BYTE in[7] = {1, 2, 3, 4, 5, 6, 7};
    char out[64];
    DWORD cb = 0;
    ASSERT_TRUE(host.lm->pfnGetPrinterDataFromPort(h, KZT_IOCTL_PAR_QUERY_DEVICE_ID, (LPWSTR)L"Garbage", (LPWSTR)in,
                                                   7, (LPWSTR)out, sizeof(out), &cb));
    auto gets = fake.CallsOf("Get");
    ASSERT_EQ(gets.size(), 1u);
    EXPECT_EQ(gets[0].text, L"Garbage");
    EXPECT_EQ(gets[0].data, std::vector<BYTE>(in, in + 7));
    fake.script.dwFailGet = ERROR_NOT_SUPPORTED;
    EXPECT_FALSE(host.lm->pfnGetPrinterDataFromPort(h, 5, nullptr, nullptr, 0, (LPWSTR)out, sizeof(out), &cb));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_SUPPORTED);
    ASSERT_TRUE(Close(h));
}

TEST_F(StatusChannelTest, GetRefusesMissingNameOrMissingPortFunction)
{
    HANDLE h = OpenPort();
    char out[8];
    DWORD cb;
    EXPECT_FALSE(host.lm->pfnGetPrinterDataFromPort(h, 0, nullptr, nullptr, 0, (LPWSTR)out, 8, &cb));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    ASSERT_TRUE(Close(h));

    FakeScript script;
    script.bNoGet = true;
    fake.Reset(script);
    h = OpenPort();
    EXPECT_FALSE(host.lm->pfnGetPrinterDataFromPort(h, 0, (LPWSTR)L"DeviceID", nullptr, 0, (LPWSTR)out, 8, &cb));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    ASSERT_TRUE(Close(h));
}

TEST_F(StatusChannelTest, TitleInTheAnsiCodePageFindsTheWindow)
{
    const wchar_t title[] = L"Pr\x00EFnter \x00C9 - Status Monitor";   // representable in 1252 and 932? only 1252
    char ansi[256];
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, 0, title, -1, ansi, sizeof(ansi), nullptr, &lossy);
    if (lossy)
        GTEST_SKIP() << "title not representable in code page " << GetACP();
    HWND wnd = CreateWindowW(L"STATIC", title, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(wnd, nullptr);
    HANDLE h = OpenPort();
    ASSERT_TRUE(ChannelSetWindowName(kMonitorName, L"LPT1:", ansi));
    ASSERT_TRUE(StartDoc(h));
    EXPECT_EQ(Block().hWndMonitor, (DWORD)(UINT_PTR)wnd);
    MSG msg;
    UINT id = RegisterWindowMessageW(L"Ostrel StatusMonitor");
    EXPECT_TRUE(PeekMessageW(&msg, wnd, id, id, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 2u);
    EndDoc(h);
    ASSERT_TRUE(Close(h));
    DestroyWindow(wnd);
}
