// The monitor's frame: its entry points, its table, the list of open ports,
// the handle check of every entry point and the registry readers.
#include "jobtapfixture.h"

namespace {

struct InitCase {
    const wchar_t *root;
    bool ok;
    const char *logLine;        // the line that tells the outcome
};

const InitCase kInitCases[] = {
    {nullptr, false, "ERR Init pszRegistryRoot x0 *pszRegistryRoot x0"},
    {L"NoBackslash", false, "ERR Init FindLmName [NoBackslash]"},
    {L"System\\Monitors\\", true, "DBG Init LM []"},
    {L"System\\CurrentControlSet\\Control\\Print\\Monitors\\jobtap", true, "DBG Init LM [jobtap]"},
    {L"X\\Kzt Monitor", true, "DBG Init LM [Kzt Monitor]"},
};

} // namespace

using MonitorTest = JobtapTest;

TEST_F(MonitorTest, InitializePrintMonitorAcceptsRootsWithABackslashOnly)
{
    // Each row initialises a library of its own: the first root a library
    // takes is its root for good.
    std::wstring copy = ExePath(L"jobtap-initcases.dll");
    ASSERT_TRUE(CopyFileW(ExePath(L"jobtap.dll").c_str(), copy.c_str(), FALSE));
    for (size_t i = 0; i < sizeof(kInitCases) / sizeof(kInitCases[0]); ++i) {
        const InitCase &c = kInitCases[i];
        HMODULE fresh = LoadLibraryW(copy.c_str());
        ASSERT_NE(fresh, nullptr);
        auto init = (LPMONITOREX(WINAPI *)(LPWSTR))GetProcAddress(fresh, "InitializePrintMonitor");
        LogOn();
        SetLastError(0xdeadbeef);
        LPMONITOREX ex = init((LPWSTR)c.root);
        DWORD error = GetLastError();
        FreeLibrary(fresh);
        EXPECT_EQ(ex != nullptr, c.ok) << "case " << i;
        if (!c.ok) {
            EXPECT_EQ(error, (DWORD)ERROR_INVALID_PARAMETER) << "case " << i;
        }
        EXPECT_TRUE(LogHas(c.logLine)) << "case " << i << "\n" << LogText();
        LogOff();
    }
}

TEST_F(MonitorTest, EmptyRootIsRefused)
{
    LogOn();
    SetLastError(0xdeadbeef);
    EXPECT_EQ(host.pfnInit((LPWSTR)L""), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    auto lines = LogMessages();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].rfind("ERR Init pszRegistryRoot x", 0), 0u);
    EXPECT_EQ(lines[1].substr(lines[1].size() - 20), " *pszRegistryRoot x0");
}

TEST_F(MonitorTest, TableFillsExactlyTheSlotsTheSpoolerUses)
{
    LPMONITOREX ex = host.pfnInit((LPWSTR)kMonitorRoot);
    ASSERT_NE(ex, nullptr);
    EXPECT_EQ(ex->dwMonitorSize, sizeof(MONITOR));
    if (sizeof(void *) == 4) {
        EXPECT_EQ(ex->dwMonitorSize, 68u);
    }
    const MONITOR &m = ex->Monitor;
    EXPECT_EQ(m.pfnEnumPorts, nullptr);
    EXPECT_EQ(m.pfnOpenPort, nullptr);
    EXPECT_NE(m.pfnOpenPortEx, nullptr);
    EXPECT_NE(m.pfnStartDocPort, nullptr);
    EXPECT_NE(m.pfnWritePort, nullptr);
    EXPECT_NE(m.pfnReadPort, nullptr);
    EXPECT_NE(m.pfnEndDocPort, nullptr);
    EXPECT_NE(m.pfnClosePort, nullptr);
    EXPECT_EQ(m.pfnAddPort, nullptr);
    EXPECT_EQ(m.pfnAddPortEx, nullptr);
    EXPECT_EQ(m.pfnConfigurePort, nullptr);
    EXPECT_EQ(m.pfnDeletePort, nullptr);
    EXPECT_NE(m.pfnGetPrinterDataFromPort, nullptr);
    EXPECT_EQ(m.pfnSetPortTimeOuts, nullptr);
    EXPECT_EQ(m.pfnXcvOpenPort, nullptr);
    EXPECT_EQ(m.pfnXcvDataPort, nullptr);
    EXPECT_EQ(m.pfnXcvClosePort, nullptr);
}

// The first initialisation's names serve the process for good: a port open
// across later calls keeps working, a call with the same root (case aside)
// gets the same table, one with another root is refused.
TEST_F(MonitorTest, LaterInitialisationKeepsTheFirstRootForOpenAndNewPorts)
{
    SetMonitorValue(driver + L" Head", L"1B40");
    HANDLE a = OpenPort(L"LPT1:");
    std::wstring upper = kMonitorRoot;
    CharUpperBuffW(&upper[0], (DWORD)upper.size());
    LPMONITOREX again = host.pfnInit((LPWSTR)upper.c_str());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(&again->Monitor, host.lm);
    LogOn();
    SetLastError(0xdeadbeef);
    EXPECT_EQ(host.pfnInit((LPWSTR)L"System\\Monitors\\other"), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_INITIALIZED);
    EXPECT_TRUE(LogHas("ERR Init [System\\Monitors\\other] Already [" + Narrow(kMonitorRoot) + "]")) << LogText();
    LogOff();

    ASSERT_TRUE(StartDoc(a));
    ASSERT_TRUE(Write(a, Bytes("job")));
    EndDoc(a);
    EXPECT_EQ(Output(), Concat({{0x1B, 0x40}, Bytes("job")}));   // the head read under the first root
    HANDLE b = OpenPort(L"LPT2:");
    StatusBlock block;
    EXPECT_TRUE(ChannelSnapshot(kMonitorName, L"LPT1:", &block));
    EXPECT_TRUE(ChannelSnapshot(kMonitorName, L"LPT2:", &block));
    EXPECT_FALSE(ChannelSnapshot(L"other", L"LPT2:", &block));
    EXPECT_TRUE(Close(b));
    EXPECT_TRUE(Close(a));
}

TEST_F(MonitorTest, DllEntryPointAnswersTrueForEveryReason)
{
    auto entry = (BOOL(WINAPI *)(HINSTANCE, DWORD, LPVOID))GetProcAddress(host.hModule, "DllEntryPoint");
    ASSERT_NE(entry, nullptr);
    for (DWORD reason : {(DWORD)DLL_PROCESS_ATTACH, (DWORD)DLL_THREAD_ATTACH, (DWORD)DLL_THREAD_DETACH, 99ul})
        EXPECT_TRUE(entry(host.hModule, reason, nullptr)) << reason;
}

TEST_F(MonitorTest, PortNamesMatchWithoutRegardToCase)
{
    LogOn();
    HANDLE h = OpenPort(L"LPT1:");
    HANDLE h2 = (HANDLE)1;
    SetLastError(0);
    EXPECT_FALSE(host.lm->pfnOpenPortEx((LPWSTR)L"lpt1:", (LPWSTR)L"other printer", &h2, fake.Table()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(LogHas("ERR Open FindPortEntry [lpt1:]"));
    EXPECT_EQ(fake.CallsOf("Open").size(), 1u);   // the port below is not touched
    ASSERT_TRUE(Close(h));
    h = OpenPort(L"lpt1:");
    EXPECT_TRUE(Close(h));
}

TEST_F(MonitorTest, ListKeepsSeveralPortsAndDeletesAnyOfThem)
{
    HANDLE a = OpenPort(L"LPT1:"), b = OpenPort(L"LPT2:"), c = OpenPort(L"COM1:");
    EXPECT_TRUE(Close(b));                  // an inner record
    EXPECT_TRUE(Close(a));                  // the head
    HANDLE b2 = OpenPort(L"LPT2:");
    EXPECT_TRUE(Close(c));
    EXPECT_TRUE(Close(b2));
    EXPECT_EQ(fake.OpenPorts(), 0);
}

// Every entry point that takes a port handle refuses a null handle and a
// handle without the signature.
TEST_F(MonitorTest, EntryPointsRefuseForeignHandles)
{
    struct Foreign { void *next; DWORD signature; } foreign = {nullptr, 0x12345678};
    for (HANDLE h : {(HANDLE)nullptr, (HANDLE)&foreign}) {
        std::string sig = h ? "x12345678" : "x0";
        std::string hx = h ? "" : "x0";
        LogOn();
        BYTE buf[8];
        DWORD cb = 0;
        DOC_INFO_1W doc = {(LPWSTR)L"d", nullptr, (LPWSTR)L"RAW"};
        struct { const char *word; BOOL ok; } results[] = {
            {"Write", host.lm->pfnWritePort(h, buf, 8, &cb)},
            {"Read", host.lm->pfnReadPort(h, buf, 8, &cb)},
            {"End", host.lm->pfnEndDocPort(h)},
            {"Close", host.lm->pfnClosePort(h)},
            {"Start", host.lm->pfnStartDocPort(h, (LPWSTR)kTestPrinter, 1, 1, (LPBYTE)&doc)},
            {"Get", host.lm->pfnGetPrinterDataFromPort(h, 0, (LPWSTR)L"DeviceID", nullptr, 0, (LPWSTR)buf, 8, &cb)},
        };
        for (auto &r : results)
            EXPECT_FALSE(r.ok) << r.word;
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
        int refused = 0;
        for (auto &line : LogMessages()) {
            if (line.rfind("ERR ", 0) == 0 && line.find(" magic " + sig) != std::string::npos)
                ++refused;
        }
        // Get never reads a record it could not find among the open ports
        // (it may be freed): its line shows magic x0 for the foreign handle.
        EXPECT_EQ(refused, h ? 5 : 6) << LogText();
        char getLine[64];
        wsprintfA(getLine, "ERR Get pIniPort x%x magic x0 pfnGet x0", (unsigned)(ULONG_PTR)h);
        EXPECT_TRUE(LogHas(getLine)) << LogText();
        if (!h) {
            EXPECT_TRUE(LogHas("ERR Write pIniPort x0 magic x0"));
            EXPECT_TRUE(LogHas("ERR Read pIniPort x0 magic x0"));
            EXPECT_TRUE(LogHas("ERR End pIniPort x0 magic x0"));
            EXPECT_TRUE(LogHas("ERR Close pIniPort x0 magic x0"));
            EXPECT_TRUE(LogHas("ERR Get pIniPort x0 magic x0 pfnGet x0"));
        }
        LogOff();
    }
    EXPECT_TRUE(fake.Calls().empty());
}

// The registry readers: values named after the printer's driver.
TEST_F(MonitorTest, MissingDriverValuesAreLoggedAndMeanNotConfigured)
{
    SpoolerJob job;                             // so that EndDoc's SetJob has a live job
    LogOn();
    HANDLE h = OpenPort();
    ASSERT_TRUE(StartDoc(h, job.Id()));
    EXPECT_TRUE(EndDoc(h)) << GetLastError();   // nothing configured ends the job as any other
    ASSERT_TRUE(Close(h));
    EXPECT_TRUE(LogHas("ERR Regstr RegQueryValueEx([KZT TZ Test Driver Head]) E 2")) << LogText();
    EXPECT_TRUE(LogHas("ERR Regstr RegQueryValueEx([KZT TZ Test Driver Filter]) E 2"));
    EXPECT_TRUE(LogHas("ERR Regstr RegQueryValueEx([KZT TZ Test Driver Tail]) E 2"));
    EXPECT_TRUE(Output().empty());
    WCHAR sys[MAX_PATH];
    GetSystemDirectoryW(sys, MAX_PATH);
    EXPECT_TRUE(LogHas("ERR Vigilstr RegQueryValueEx([KZT TZ Test Driver]) [" + Narrow(sys) + "\\] R 2")) << LogText();
}

TEST_F(MonitorTest, ValueIsReadAsTextAndLogged)
{
    SetMonitorValue(driver + L" Head", L"1B40");
    LogOn();
    PrintOnce({});
    EXPECT_TRUE(LogHas("DBG Regstr RegQueryValueEx([KZT TZ Test Driver Head]) pData [1B40] cbData 10 E 0")) << LogText();
}

TEST_F(MonitorTest, ValueLongerThanItsBufferIsTreatedAsAbsent)
{
    SetMonitorValue(driver + L" Head", std::wstring(300, L'4'));   // 602 bytes > 512
    LogOn();
    HANDLE h = OpenPort();
    ASSERT_TRUE(StartDoc(h));
    ASSERT_TRUE(Close(h));
    EXPECT_TRUE(LogHas("ERR Regstr RegQueryValueEx([KZT TZ Test Driver Head]) E 234")) << LogText();
    EXPECT_TRUE(Output().empty());
}

TEST_F(MonitorTest, ValueWithoutTerminatorIsCutAtItsLength)
{
    // 512 bytes of data fill the buffer and carry no terminator.
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMonitorRoot, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
    std::wstring digits(256, L'7');
    RegSetValueExW(key, (driver + L" Head").c_str(), 0, REG_BINARY, (const BYTE *)digits.data(), 512);
    RegCloseKey(key);
    HANDLE h = OpenPort();
    ASSERT_TRUE(StartDoc(h));
    ASSERT_TRUE(Close(h));
    EXPECT_EQ(Output(), std::vector<BYTE>(128, 0x77));
}

TEST_F(MonitorTest, UnknownPrinterMakesTheReadersFail)
{
    LogOn();
    HANDLE h = OpenPort();
    DOC_INFO_1W doc = {(LPWSTR)L"d", nullptr, (LPWSTR)L"RAW"};
    SetLastError(0);
    EXPECT_FALSE(host.lm->pfnStartDocPort(h, (LPWSTR)L"No Such Printer", 1, 1, (LPBYTE)&doc));  // its filter unknown
    EXPECT_EQ((DWORD)ERROR_INVALID_PRINTER_NAME, GetLastError());
    ASSERT_TRUE(Close(h));
    EXPECT_TRUE(LogHasPrefix("ERR Regstr OpenPrinter([No Such Printer]) R 0 E ")) << LogText();
    EXPECT_TRUE(LogHasPrefix("ERR Start Filter lookup R 0 E ")) << LogText();
    EXPECT_TRUE(fake.CallsOf("StartDoc").empty());
}

// Wine's spooler is a real client of the entry point: AddMonitor loads the
// library and calls InitializePrintMonitor with the monitor's key.
TEST_F(MonitorTest, SpoolerAddMonitorLoadsTheLibraryAndInitialisesIt)
{
    WCHAR sys[MAX_PATH];
    GetSystemDirectoryW(sys, MAX_PATH);
    ASSERT_TRUE(CopyFileW(ExePath(L"jobtap.dll").c_str(), (std::wstring(sys) + L"\\kztlm2.dll").c_str(), FALSE));
    DeleteMonitorW(nullptr, nullptr, (LPWSTR)L"kztlm2");
    LogOn();
    MONITOR_INFO_2W mi = {(LPWSTR)L"kztlm2", nullptr, (LPWSTR)L"kztlm2.dll"};
    ASSERT_TRUE(AddMonitorW(nullptr, 2, (LPBYTE)&mi)) << GetLastError();
    EXPECT_TRUE(LogHas("DBG Init LM [kztlm2]")) << LogText();
    EXPECT_TRUE(LogHasPrefix("DBG Init([System\\CurrentControlSet\\Control\\Print\\Monitors\\kztlm2]) Process=")) << LogText();

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(AddMonitorW(nullptr, 2, (LPBYTE)&mi));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
    EXPECT_TRUE(DeleteMonitorW(nullptr, nullptr, (LPWSTR)L"kztlm2"));
}
