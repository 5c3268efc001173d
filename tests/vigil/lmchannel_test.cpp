// The status monitor's side of the channel, against the real named objects
// of a port that jobtap has open, with the printer, driver and monitor names
// read from Wine's spooler.
#include "../jobtap/jobtapfixture.h"
#include "lmchannel.h"

namespace {

struct NameCase {
    const char *commandLine;
    bool ok;
    const char *name;
};

const NameCase kNameCases[] = {
    {"$X KZT TZ Test", true, "KZT TZ Test"},
    {"  $X   KZT TZ Test  ", true, "KZT TZ Test"},
    {"\"C:\\Program Files\\vigil.exe\" My  Printer", true, "My  Printer"},
    {"\"C:\\vigil.exe\"Printer", true, "Printer"},
    {"vigil.exe", false, ""},
    {"vigil.exe   ", false, ""},
    {"\"C:\\vigil.exe", false, ""},
    {"\"C:\\vigil.exe\"", false, ""},
    {"", false, ""},
};

const char kDeviceId[] = "MFG:Ostrel;CMD:TZ;MDL:TZ-1200;";

bool LockIsFree(const char *port = "FILE:")
{
    HANDLE h = OpenEventA(EVENT_ALL_ACCESS, FALSE, (std::string("Ostrel Event Map jobtap ") + port).c_str());
    if (!h)
        return false;
    bool free = WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
    if (free)
        SetEvent(h);
    CloseHandle(h);
    return free;
}

// One device request of a late-reply case and the answer it must get.
struct ChannelStep {
    DWORD code, request, value;
    const char *payload;                // data of a set command
    const char *answer;                 // the reply's bytes
};

const ChannelStep kGetDeviceId = {KZT_IOCTL_PAR_QUERY_DEVICE_ID, 0, 0, "", kDeviceId};
const ChannelStep kGet18 = {KZT_IOCTL_USBPRINT_VENDOR_GET_COMMAND, 0x12, 0x3456, "", "V18:13398"};
const ChannelStep kGet1 = {KZT_IOCTL_USBPRINT_VENDOR_GET_COMMAND, 1, 2, "", "V1:2"};
const ChannelStep kSetA = {KZT_IOCTL_USBPRINT_VENDOR_SET_COMMAND, 3, 4, "AAAA", ""};
const ChannelStep kSetB = {KZT_IOCTL_USBPRINT_VENDOR_SET_COMMAND, 7, 0x0102, "PAYLOAD-B", ""};

// A request times out while the port monitor still works on it; its reply
// comes late, before the next request or while the next one waits.
struct LateReplyCase {
    const char *name;
    bool unnumberedClientTimesOut;      // the timed-out request comes from a client that leaves dwRequestId alone
    ChannelStep timedOut, next, last;
    bool lateDuringNext;
};

const LateReplyCase kLateReplyCases[] = {
    {"get times out, two gets follow", false, kGetDeviceId, kGet18, kGet1, false},
    {"get times out, its reply comes while the next get waits", false, kGetDeviceId, kGet18, kGet1, true},
    {"set times out, two gets follow", false, kSetA, kGet18, kGet1, false},
    {"get times out, its reply comes while a set waits", false, kGetDeviceId, kSetB, kGet1, true},
    {"set times out, its reply comes while a set waits", false, kSetA, kSetB, kGet1, true},
    {"get times out, a set follows", false, kGetDeviceId, kSetB, kGet18, false},
    {"unnumbered client's get times out, two gets follow", true, kGetDeviceId, kGet18, kGet1, false},
    {"unnumbered client's get times out, its reply comes while a set waits", true, kGetDeviceId, kSetB, kGet1, true},
};

std::vector<BYTE> HeaderAndPayload(const ChannelStep &step)
{
    std::vector<BYTE> bytes = {(BYTE)step.request, (BYTE)(step.value >> 8), (BYTE)step.value};
    std::string payload = step.payload;
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

// Lets the hung port monitor answer once a client has taken the lock.
DWORD WINAPI ReleaseOnceTheLockIsTaken(LPVOID)
{
    for (int i = 0; i < 10000 && LockIsFree(); ++i)
        Sleep(1);
    FakePortMonitor::Instance().ReleaseHungGets();
    return 0;
}

template <typename F>
bool PollFor(F condition)
{
    for (int i = 0; i < 2000; ++i) {
        if (condition())
            return true;
        Sleep(5);
    }
    return false;
}

} // namespace

TEST(LmChannelNameTest, PrinterNameIsTheRestOfTheCommandLineAfterTheProgramToken)
{
    for (size_t i = 0; i < sizeof(kNameCases) / sizeof(kNameCases[0]); ++i) {
        std::string name = "unchanged";
        EXPECT_EQ(LmChannel::ParsePrinterName(kNameCases[i].commandLine, &name) != FALSE, kNameCases[i].ok)
            << "case " << i;
        if (kNameCases[i].ok) {
            EXPECT_EQ(name, kNameCases[i].name) << "case " << i;
        }
    }
}

class LmChannelTest : public JobtapTest {
protected:
    LmChannel channel;
    HANDLE port = nullptr;

    void SetUp() override
    {
        JobtapTest::SetUp();
        port = OpenPort(L"FILE:");
        ASSERT_TRUE(channel.MyOpenTapline("KZT TZ Test")) << channel.LastErrorText();
        channel.SetTimeout(5000);
    }

    void TearDown() override
    {
        fake.ReleaseHungGets();
        if (port)
            Close(port);
        JobtapTest::TearDown();
    }

    BOOL DeviceId(std::string *reply, DWORD cbBuffer = 1024)
    {
        std::vector<BYTE> buffer(cbBuffer + 1, 0);
        DWORD cb = 0;
        BOOL ok = channel.MyGetPrinterDataIoCtl(KZT_IOCTL_PAR_QUERY_DEVICE_ID, 0, 0, buffer.data(), cbBuffer, &cb);
        if (ok)
            *reply = std::string((char *)buffer.data(), cb);
        return ok;
    }

    // Sends one step through the channel; the answer is the reply's bytes.
    BOOL Send(const ChannelStep &step, std::string *answer)
    {
        std::vector<BYTE> buffer(1024, 0);
        memcpy(buffer.data(), step.payload, strlen(step.payload));
        DWORD cbBuffer = step.code == KZT_IOCTL_USBPRINT_VENDOR_SET_COMMAND ? (DWORD)strlen(step.payload) : 1024;
        DWORD cb = 0;
        BOOL ok = channel.MyGetPrinterDataIoCtl(step.code, step.request, step.value, buffer.data(), cbBuffer, &cb);
        *answer = std::string((char *)buffer.data(), std::min<DWORD>(cb, 1024));
        return ok;
    }

    // The step as a client sends it that does not number its requests.
    bool SendUnnumbered(const ChannelStep &step, DWORD timeoutMs)
    {
        ChannelRequest request;
        request.dwCode = step.code;
        request.dwRequest = step.request;
        request.dwValue = step.value;
        request.cbData = step.code == KZT_IOCTL_USBPRINT_VENDOR_SET_COMMAND ? (DWORD)strlen(step.payload) : 1024;
        request.data.assign(step.payload, step.payload + strlen(step.payload));
        request.dwTimeoutMs = timeoutMs;
        ChannelReply reply;
        return ChannelCall(kMonitorName, L"FILE:", request, &reply);
    }
};

TEST_F(LmChannelTest, StartUpCheckReadsPortDriverAndMonitorFromTheSpooler)
{
    EXPECT_STREQ(channel.PrinterName(), "KZT TZ Test");
    EXPECT_STREQ(channel.PortName(), "FILE:");
    EXPECT_STREQ(channel.MonitorName(), "jobtap");
    EXPECT_NE(channel.Printer(), nullptr);
    EXPECT_STREQ(channel.LastErrorText(), "");
}

TEST_F(LmChannelTest, UnknownPrinterFailsTheStartUpCheckWithTheSystemText)
{
    LmChannel other;
    EXPECT_FALSE(other.MyOpenTapline("No Such Printer"));
    std::string text = other.LastErrorText();
    EXPECT_EQ(text.rfind("OpenPrinter E 1801 ", 0), 0u) << text;
    EXPECT_NE(text.back(), '\n') << "trailing white space is removed";
}

TEST_F(LmChannelTest, SnapshotCopiesTheWholeBlock)
{
    ASSERT_TRUE(StartDoc(port, 321));
    StatusBlock *block = channel.MyGetMapView();
    ASSERT_NE(block, nullptr) << channel.LastErrorText();
    EXPECT_EQ(block->dwJobId, 321u);
    EXPECT_EQ(block->dwFlags, (DWORD)STATUS_FLAG_PRINTING);
    EXPECT_EQ(block->uMsgMonitor, RegisterWindowMessageA("Ostrel StatusMonitor"));
    EndDoc(port);
    EXPECT_EQ(channel.MyGetMapView()->dwFlags, 0u);
}

TEST_F(LmChannelTest, WindowNameIsStoredCutToTheFieldAndCleared)
{
    ASSERT_TRUE(channel.SetWindowName("KZT TZ Test - Status Monitor"));
    EXPECT_STREQ(Block(L"FILE:").szWindowName, "KZT TZ Test - Status Monitor");
    std::string longTitle(300, 'T');
    ASSERT_TRUE(channel.SetWindowName(longTitle.c_str()));
    StatusBlock b = Block(L"FILE:");
    EXPECT_EQ(std::string(b.szWindowName, 256), longTitle.substr(0, 256));
    ASSERT_TRUE(channel.SetWindowName(nullptr));
    b = Block(L"FILE:");
    EXPECT_EQ(std::string(b.szWindowName, 256), std::string(256, '\0'));
}

TEST_F(LmChannelTest, DeviceRequestsGoThroughTheChannel)
{
    std::string reply;
    ASSERT_TRUE(DeviceId(&reply)) << channel.LastErrorText();
    EXPECT_EQ(reply, kDeviceId);
    BYTE buffer[64] = {};
    DWORD cb = 0;
    ASSERT_TRUE(channel.MyGetPrinterDataIoCtl(KZT_IOCTL_USBPRINT_VENDOR_GET_COMMAND, 0x112, 0x13456, buffer, 63, &cb));
    EXPECT_STREQ((char *)buffer, "V18:13398") << "request cut to 8 bits, value to 16";
    EXPECT_TRUE(LockIsFree());
}

TEST_F(LmChannelTest, SizesAboveTheCapAreSentAs4094)
{
    std::vector<BYTE> big(5000, 'S');
    DWORD cb = 0;
    ASSERT_TRUE(channel.MyGetPrinterDataIoCtl(KZT_IOCTL_PAR_QUERY_DEVICE_ID, 0, 0, big.data(), 5000, &cb));
    ASSERT_TRUE(channel.MyGetPrinterDataIoCtl(KZT_IOCTL_USBPRINT_VENDOR_SET_COMMAND, 1, 2, big.data(), 5000, &cb));
    auto gets = fake.CallsOf("Get");
    ASSERT_EQ(gets.size(), 2u);
    EXPECT_EQ(gets[0].args[2], 4094u);                  // room offered for the reply
    EXPECT_EQ(gets[1].args[1], 4094u + 3);              // header and the first 4094 bytes
    EXPECT_EQ(gets[1].data.back(), 'S');
}

TEST_F(LmChannelTest, PortMonitorFailureIsDescribed)
{
    fake.script.dwFailGet = ERROR_GEN_FAILURE;
    std::string reply;
    EXPECT_FALSE(DeviceId(&reply));
    std::string text = channel.LastErrorText();
    EXPECT_EQ(text.rfind("IOCTL id=x16000c req=x0 val=x0 R 0 E 31 ", 0), 0u) << text;
    EXPECT_TRUE(LockIsFree());
}

TEST_F(LmChannelTest, ReplyTimeoutFailsAndStillReleasesTheLock)
{
    fake.script.bGetHangs = true;
    channel.SetTimeout(300);
    std::string reply;
    EXPECT_FALSE(DeviceId(&reply));
    EXPECT_STREQ(channel.LastErrorText(), "WaitForSingleObject_Ret WAIT_TIMEOUT");
    EXPECT_TRUE(LockIsFree());
}

TEST_F(LmChannelTest, LockHeldByAnotherClientTimesOutWithoutTouchingTheBlock)
{
    HANDLE lock = OpenEventA(EVENT_ALL_ACCESS, FALSE, "Ostrel Event Map jobtap FILE:");
    ASSERT_NE(lock, nullptr);
    ASSERT_EQ(WaitForSingleObject(lock, 0), WAIT_OBJECT_0);   // take it
    channel.SetTimeout(200);
    BYTE buffer[16];
    DWORD cb = 0;
    EXPECT_FALSE(channel.MyGetPrinterDataIoCtl(KZT_IOCTL_USBPRINT_VENDOR_GET_COMMAND, 5, 6, buffer, 16, &cb));
    EXPECT_STREQ(channel.LastErrorText(), "WaitForSingleObject_Map WAIT_TIMEOUT");
    EXPECT_EQ(Block(L"FILE:").dwIoControlCode, 0u);
    EXPECT_TRUE(fake.CallsOf("Get").empty());
    SetEvent(lock);
    CloseHandle(lock);
}

// A status monitor that ended holding the lock, between numbering its
// request and sending it: the port's worker gives the lock back with the
// numbering made even, and the next request is answered within its 5 s.
TEST_F(LmChannelTest, ClientThatEndedInItsRequestCostsTheNextOneSecondsOnly)
{
    std::string reply;
    ASSERT_TRUE(DeviceId(&reply)) << channel.LastErrorText();   // the block now numbers its replies
    HANDLE lock = OpenEventA(EVENT_ALL_ACCESS, FALSE, "Ostrel Event Map jobtap FILE:");
    ASSERT_NE(lock, nullptr);
    ASSERT_EQ(WaitForSingleObject(lock, 0), WAIT_OBJECT_0);   // taken, never given back
    HANDLE map = OpenFileMappingA(FILE_MAP_WRITE, FALSE, "Ostrel FileMap jobtap FILE:");
    ASSERT_NE(map, nullptr);
    auto *block = (StatusBlock *)MapViewOfFile(map, FILE_MAP_WRITE, 0, 0, sizeof(StatusBlock));
    ASSERT_NE(block, nullptr);
    block->dwRequestId = block->dwReplyId + 1;                  // numbered, never sent
    channel.SetTimeout(5000);
    EXPECT_TRUE(DeviceId(&reply)) << channel.LastErrorText();
    EXPECT_EQ(reply, kDeviceId);
    UnmapViewOfFile(block);
    CloseHandle(map);
    CloseHandle(lock);
}

TEST_F(LmChannelTest, TimeoutOfZeroWaitsWithoutLimit)
{
    fake.script.dwGetDelayMs = 700;
    EXPECT_EQ(channel.SetTimeout(0), 5000u);
    std::string reply;
    EXPECT_TRUE(DeviceId(&reply)) << channel.LastErrorText();
    channel.SetTimeout(200);
    EXPECT_FALSE(DeviceId(&reply));
    Sleep(800);                                         // let the late reply land
}

TEST_F(LmChannelTest, ClosedPortMakesTheNextOperationFailAtOpening)
{
    ASSERT_TRUE(Close(port));
    port = nullptr;
    EXPECT_EQ(channel.MyGetMapView(), nullptr);
    std::string text = channel.LastErrorText();
    EXPECT_EQ(text.rfind("OpenFileMapping E 2 ", 0), 0u) << text;
    EXPECT_FALSE(channel.SetWindowName("x"));
}

// Vista and later: the spooler's monitor (session 0) has the port's objects
// in the global namespace, which a user's session reaches as "Global\...";
// a monitor side in this session (Wine, Windows 2000/XP) has them under the
// plain names. Wine keeps the two namespaces apart as Windows does.
TEST_F(LmChannelTest, ChannelIsLookedForInTheGlobalNamespaceFirstFromVista)
{
    const bool vista = ReportsVistaOrLater();
    const DWORD kGlobalJob = 0x4711;
    const struct {
        const char *what;
        bool global, plain;
        bool found;          // a snapshot is had
        bool fromGlobal;     // and it is the global block's
    } rows[] = {
        {"the monitor's objects in this session", false, true, true, false},
        {"a session-0 monitor's objects only", true, false, vista, vista},
        {"both: the global ones first from Vista on", true, true, true, vista},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        if (!row.plain && port) {
            ASSERT_TRUE(Close(port));
            port = nullptr;
        } else if (row.plain && !port) {
            port = OpenPort(L"FILE:");
        }
        std::vector<HANDLE> objects;
        StatusBlock *global = nullptr;
        if (row.global) {
            HANDLE map = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(StatusBlock),
                                            "Global\\Ostrel FileMap jobtap FILE:");
            ASSERT_NE(map, nullptr);
            objects.push_back(map);
            global = (StatusBlock *)MapViewOfFile(map, FILE_MAP_ALL_ACCESS, 0, 0, 0);
            ASSERT_NE(global, nullptr);
            global->dwJobId = kGlobalJob;
            for (const char *name : {"Global\\Ostrel Event Map jobtap FILE:", "Global\\Ostrel Event Cmd jobtap FILE:",
                                     "Global\\Ostrel Event Ret jobtap FILE:"})
                objects.push_back(CreateEventA(nullptr, FALSE, FALSE, name));
        }
        StatusBlock *snapshot = channel.MyGetMapView();
        EXPECT_EQ(snapshot != nullptr, row.found) << channel.LastErrorText();
        if (snapshot) {
            EXPECT_EQ(snapshot->dwJobId == kGlobalJob, row.fromGlobal);
            EXPECT_TRUE(channel.SetWindowName("Global title"));
            if (global) {
                EXPECT_EQ(std::string(global->szWindowName) == "Global title", row.fromGlobal);
            }
        }
        if (global)
            UnmapViewOfFile(global);
        for (HANDLE h : objects)
            CloseHandle(h);
    }
}

TEST_F(LmChannelTest, PrinterPoolingPortsIsWatchedThroughItsFirstPort)
{
    std::string why;
    if (!EnsurePrinter(L"KZT TZ Pooled", kTestDriver, L"LPT1:,LPT2:", kMonitorName, &why))
        GTEST_SKIP() << "Wine refuses a pooled port list: " << why;
    LmChannel pooled;
    ASSERT_TRUE(pooled.MyOpenTapline("KZT TZ Pooled")) << pooled.LastErrorText();
    EXPECT_STREQ(pooled.PortName(), "LPT1:,LPT2:");
    HANDLE lpt1 = OpenPort(L"LPT1:");
    ASSERT_TRUE(StartDoc(lpt1, 55));
    StatusBlock *block = pooled.MyGetMapView();
    ASSERT_NE(block, nullptr) << pooled.LastErrorText();
    EXPECT_EQ(block->dwJobId, 55u);
    EndDoc(lpt1);
    Close(lpt1);
}

TEST_F(LmChannelTest, DriverWithoutMonitorGivesAnEmptyNameAndTwoBlanks)
{
    std::string why;
    ASSERT_TRUE(EnsurePrinter(L"KZT TZ No Monitor", L"KZT TZ Driver Without Monitor", L"LPT3:", nullptr, &why)) << why;
    LmChannel bare;
    ASSERT_TRUE(bare.MyOpenTapline("KZT TZ No Monitor")) << bare.LastErrorText();
    EXPECT_STREQ(bare.MonitorName(), "");
    EXPECT_EQ(bare.MyGetMapView(), nullptr);
    // A monitor installed under an empty name serves exactly that channel.
    SpoolerHost unnamed;                                // a library of its own
    unnamed.path = ExePath(L"jobtap-unnamed-vigil.dll");
    ASSERT_TRUE(CopyFileW(ExePath(L"jobtap.dll").c_str(), unnamed.path.c_str(), FALSE));
    ASSERT_TRUE(unnamed.Init(L"System\\Monitors\\"));
    HANDLE lpt3 = nullptr;
    ASSERT_TRUE(unnamed.lm->pfnOpenPortEx((LPWSTR)L"LPT3:", (LPWSTR)L"KZT TZ No Monitor", &lpt3, fake.Table()));
    EXPECT_NE(bare.MyGetMapView(), nullptr) << bare.LastErrorText();
    unnamed.lm->pfnClosePort(lpt3);
}

TEST_F(LmChannelTest, AfterATimedOutRequestEveryRequestGetsItsOwnReply)
{
    for (const LateReplyCase &c : kLateReplyCases) {
        fake.Reset();
        fake.script.bGetHangs = true;
        channel.SetTimeout(300);
        std::string answer;
        if (c.unnumberedClientTimesOut) {
            EXPECT_FALSE(SendUnnumbered(c.timedOut, 300)) << c.name;
        } else {
            EXPECT_FALSE(Send(c.timedOut, &answer)) << c.name;
            EXPECT_STREQ(channel.LastErrorText(), "WaitForSingleObject_Ret WAIT_TIMEOUT") << c.name;
        }
        ASSERT_TRUE(PollFor([&] { return fake.CallsOf("Get").size() == 1; })) << c.name;
        // The port monitor now answers slowly: a client that took a stale
        // reply signal would read the block before its own answer is in.
        fake.script.bGetHangs = false;
        fake.script.dwGetDelayMs = 200;
        channel.SetTimeout(5000);

        HANDLE releaser = nullptr;
        if (c.lateDuringNext) {
            releaser = CreateThread(nullptr, 0, ReleaseOnceTheLockIsTaken, nullptr, 0, nullptr);
        } else {
            fake.ReleaseHungGets();
            ASSERT_TRUE(PollFor([&] { return fake.GetsDone() == 1; })) << c.name;
        }
        EXPECT_TRUE(Send(c.next, &answer)) << c.name << ": " << channel.LastErrorText();
        EXPECT_EQ(answer, c.next.answer) << c.name;
        if (releaser) {
            WaitForSingleObject(releaser, 15000);
            CloseHandle(releaser);
        }
        EXPECT_TRUE(Send(c.last, &answer)) << c.name << ": " << channel.LastErrorText();
        EXPECT_EQ(answer, c.last.answer) << c.name;

        auto gets = fake.CallsOf("Get");
        ASSERT_EQ(gets.size(), 3u) << c.name;
        EXPECT_EQ(gets[1].data, HeaderAndPayload(c.next)) << c.name << ": the next request reaches the port whole";
        EXPECT_EQ(gets[2].data, HeaderAndPayload(c.last)) << c.name;
        EXPECT_TRUE(LockIsFree()) << c.name;
    }
}

TEST_F(LmChannelTest, RequestWhileALateReplyIsOwedFailsWithoutTouchingTheBlock)
{
    fake.script.bGetHangs = true;
    channel.SetTimeout(300);
    std::string answer;
    EXPECT_FALSE(Send(kGetDeviceId, &answer));
    ASSERT_TRUE(PollFor([&] { return fake.CallsOf("Get").size() == 1; }));
    StatusBlock before = Block(L"FILE:");

    EXPECT_FALSE(Send(kSetB, &answer));
    EXPECT_STREQ(channel.LastErrorText(), "WaitForSingleObject_Busy WAIT_TIMEOUT");
    StatusBlock after = Block(L"FILE:");
    EXPECT_EQ(memcmp(&before.dwIoControlCode, &after.dwIoControlCode, sizeof(StatusBlock) - 304), 0)
        << "the request area stays as the timed-out request left it";
    EXPECT_EQ(fake.CallsOf("Get").size(), 1u);
    EXPECT_TRUE(LockIsFree());

    fake.script.bGetHangs = false;
    fake.ReleaseHungGets();
    channel.SetTimeout(5000);
    EXPECT_TRUE(Send(kGet18, &answer)) << channel.LastErrorText();
    EXPECT_EQ(answer, kGet18.answer);
}

// A monitor that serves the block as the protocol was first written: it
// never writes dwReplyId, which stays 0. The status monitor then takes the
// first reply signal as its reply.
DWORD WINAPI ServeOneRequestWithoutNumbering(LPVOID param)
{
    auto *lm = (StatusBlock *)param;
    HANDLE cmd = OpenEventW(SYNCHRONIZE, FALSE, ChannelObjectName(StatusEventCmd, kMonitorName, L"FILE:").c_str());
    HANDLE ret = OpenEventW(EVENT_MODIFY_STATE, FALSE, ChannelObjectName(StatusEventRet, kMonitorName, L"FILE:").c_str());
    DWORD wait = WaitForSingleObject(cmd, 10000);
    memcpy(lm->abData, kDeviceId, sizeof(kDeviceId) - 1);
    lm->cbReturned = sizeof(kDeviceId) - 1;
    lm->bResult = 1;
    SetEvent(ret);
    CloseHandle(cmd);
    CloseHandle(ret);
    return wait;
}

// A section planted under the channel's name that does not hold a whole
// committed block is refused before a byte of it is read.
TEST_F(LmChannelTest, PlantedSectionWithoutAWholeCommittedBlockIsNotRead)
{
    ASSERT_TRUE(Close(port));
    port = nullptr;
    const struct { const char *what; DWORD protect, cb; } rows[] = {
        {"smaller than the block", PAGE_READWRITE, 4096},
        {"pages reserved, not committed", PAGE_READWRITE | SEC_RESERVE, sizeof(StatusBlock)},
    };
    for (auto &row : rows) {
        HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, row.protect, 0, row.cb,
                                            ChannelObjectName(StatusFileMap, kMonitorName, L"FILE:").c_str());
        ASSERT_NE(section, nullptr) << row.what;
        EXPECT_EQ(channel.MyGetMapView(), nullptr) << row.what;
        EXPECT_NE(std::string(channel.LastErrorText()).find("MapViewOfFile E 1106 "), std::string::npos)
            << row.what << ": " << channel.LastErrorText();
        CloseHandle(section);
    }
}

namespace {

// A channel for FILE: made by the test instead of a monitor: the block and
// its three events, the lock free. With bStuckReply the reply event is
// manual-reset and left signalled.
struct PlantedChannel {
    HANDLE section;
    HANDLE events[3];
    StatusBlock *lm;
    explicit PlantedChannel(bool bStuckReply)
    {
        section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(StatusBlock),
                                     ChannelObjectName(StatusFileMap, kMonitorName, L"FILE:").c_str());
        const StatusObject objects[3] = {StatusEventMap, StatusEventCmd, StatusEventRet};
        for (int i = 0; i < 3; ++i)
            events[i] = CreateEventW(nullptr, bStuckReply && i == 2, i == 0 || (bStuckReply && i == 2),
                                     ChannelObjectName(objects[i], kMonitorName, L"FILE:").c_str());
        lm = section ? (StatusBlock *)MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0) : nullptr;
    }
    ~PlantedChannel()
    {
        if (lm)
            UnmapViewOfFile(lm);
        for (HANDLE h : events)
            if (h)
                CloseHandle(h);
        if (section)
            CloseHandle(section);
    }
};

} // namespace

// A reply event planted manual-reset and left signalled, with a reply number
// that is never the request's: the request times out within its bound and
// the wait costs little CPU.
TEST_F(LmChannelTest, StuckSignalledReplyEventTimesOutWithoutSpinning)
{
    ASSERT_TRUE(Close(port));
    port = nullptr;
    PlantedChannel planted(true);
    StatusBlock *lm = planted.lm;
    ASSERT_NE(lm, nullptr);
    lm->dwRequestId = lm->dwReplyId = 41;      // nothing owed; the request will be 42
    channel.SetTimeout(600);
    auto ticks = [](const FILETIME &f) { return ((ULONGLONG)f.dwHighDateTime << 32) | f.dwLowDateTime; };
    FILETIME t0[4], t1[4];
    GetProcessTimes(GetCurrentProcess(), &t0[0], &t0[1], &t0[2], &t0[3]);
    DWORD start = GetTickCount();
    std::string reply;
    EXPECT_FALSE(DeviceId(&reply));
    DWORD wallMs = GetTickCount() - start;
    GetProcessTimes(GetCurrentProcess(), &t1[0], &t1[1], &t1[2], &t1[3]);
    ULONGLONG cpuMs = (ticks(t1[2]) + ticks(t1[3]) - ticks(t0[2]) - ticks(t0[3])) / 10000;
    EXPECT_NE(std::string(channel.LastErrorText()).find("WaitForSingleObject_Ret WAIT_TIMEOUT"), std::string::npos)
        << channel.LastErrorText();
    EXPECT_GE(wallMs, 550u);
    EXPECT_LT(wallMs, 3000u);
    EXPECT_LT(cpuMs, 150u) << "CPU time over " << wallMs << " ms";
}

TEST_F(LmChannelTest, MonitorThatDoesNotNumberItsRepliesIsAnswered)
{
    ASSERT_TRUE(Close(port));
    port = nullptr;
    PlantedChannel planted(false);
    StatusBlock *lm = planted.lm;
    ASSERT_NE(lm, nullptr);
    lm->dwRequestId = 41;               // left by an earlier numbering client
    HANDLE peer = CreateThread(nullptr, 0, ServeOneRequestWithoutNumbering, lm, 0, nullptr);
    channel.SetTimeout(2000);
    std::string reply;
    EXPECT_TRUE(DeviceId(&reply)) << channel.LastErrorText();
    EXPECT_EQ(reply, kDeviceId);
    EXPECT_EQ(WaitForSingleObject(peer, 10000), WAIT_OBJECT_0);
    CloseHandle(peer);
}
