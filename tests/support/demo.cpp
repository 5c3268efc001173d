// The end-to-end demo's job: on the queue the installer made (its driver
// names the language monitor, the INF's registry lines configure header,
// trailer and status monitor), a job of a few hundred KB played through
// jobtap (loaded as the spooler loads it) into a port monitor that writes a
// file, with the diagnostic log switched on. Prints what reached the port, a
// device request answered through the status channel during the job, and
// the log's first lines.
#include <stdio.h>
#include "channelclient.h"
#include "drvinstdriver.h"
#include "fakeport.h"
#include "testenv.h"
#include "windowdriver.h"

static void Hex(const char *label, const BYTE *pb, size_t cb)
{
    printf("  %-12s", label);
    for (size_t i = 0; i < cb; ++i)
        printf(" %02X", pb[i]);
    printf("\n");
}

static std::wstring OutDir()
{
    WCHAR dir[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"KZT_DEMO_OUT", dir, MAX_PATH);
    return dir[0] ? dir : ExeDirectory();
}

// The status monitor that the job started: tick DEVID, let the panels fill,
// print them, and save screenshots of the window and of its About box.
// False when no window appeared, its process is not the expected program
// (expected: its full path, or "" for any) running natively, it shows an
// error box, or a panel stays without what a user should see there.
static bool ShowStatusWindow(const std::string &title, const std::wstring &expected)
{
    HWND hwnd = WaitForWindow(title.c_str(), 10000);
    if (!hwnd) {
        printf("no status window appeared\n");
        return false;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    std::wstring image;
    bool native = false;
    bool asked = ProcessImage(pid, &image, &native);
    bool looksRight = asked && native && (expected.empty() || !lstrcmpiW(image.c_str(), expected.c_str()));
    printf("status window of %ls, a %s process: %s\n", asked ? image.c_str() : L"(unknown program)",
           native ? (sizeof(void *) == 8 ? "64-bit" : "32-bit") : "WOW64", looksRight ? "as expected" : "NOT EXPECTED");
    PostMessageA(GetDlgItem(hwnd, 1007), BM_CLICK, 0, 0);
    Sleep(3500);
    printf("\nstatus window \"%s\", after 3.5 s:\n", title.c_str());
    std::string box;
    if (WaitForMessageBox(pid, 0, &box)) {
        printf("an error box instead of the panels: \"%s\"\n", box.c_str());
        looksRight = false;
    }
    const struct { int id; const char *name; const char *shows; } panels[] = {
        {1002, "Printer Info", " MFG:"},                     // the device id DEVID asked for
        {1003, "Host Info", "Printing\r\n"},
        {1009, "Spool Info", " pPrinterName [Ostrel TZ-1000]\r\n"}};
    for (auto &panel : panels) {
        std::string text = ItemText(hwnd, panel.id);
        printf("--- %s ---\n%s", panel.name, text.c_str());
        if (!text.empty() && text.back() != '\n')
            printf("\n");
        if (text.find(panel.shows) == std::string::npos) {
            printf("--- the %s panel lacks \"%s\"\n", panel.name, panel.shows);
            looksRight = false;
        }
    }
    printf("---\n");
    SaveScreenshot(OutDir() + L"\\vigil-status.bmp", hwnd);
    PostMessageA(hwnd, WM_SYSCOMMAND, 16, 0);
    if (HWND about = WaitForWindow("About vigil", 5000)) {
        Sleep(300);
        SaveScreenshot(OutDir() + L"\\vigil-about.bmp", about);
        Click(about, IDOK);
    }
    printf("screenshots: vigil-status.bmp, vigil-about.bmp\n\n");
    return looksRight;
}

static std::wstring MonitorValue(const std::wstring &name)
{
    WCHAR value[256] = L"";
    DWORD cb = sizeof(value) - sizeof(WCHAR);
    RegGetValueW(HKEY_LOCAL_MACHINE, kMonitorRoot, name.c_str(), RRF_RT_REG_SZ, nullptr, value, &cb);
    return value;
}

// "demo --installed" plays the job through the jobtap.dll that the
// installer put in the system directory instead of the one beside it.
int main(int argc, char **argv)
{
    bool installed = argc > 1 && std::string(argv[1]) == "--installed";
    const wchar_t *printer = L"Ostrel TZ-1000";  // the queue the installer made
    std::wstring portText, driver;
    if (!InstalledQueue(printer, &portText, &driver)) {
        printf("no queue \"%ls\": install the package first (instdemo install)\n", printer);
        return 1;
    }
    std::wstring head = MonitorValue(driver + L" Head"), tail = MonitorValue(driver + L" Tail");
    printf("printer   \"%ls\" on %ls, driver \"%ls\", language monitor \"%ls\"\n", printer, portText.c_str(),
           driver.c_str(), kMonitorName);
    printf("registry  HKLM\\%ls (the INF's lines)\n            [%ls] = %ls, [%ls Head] = %ls, [%ls Tail] = %ls\n",
           kMonitorRoot, driver.c_str(), MonitorValue(driver).c_str(), driver.c_str(), head.c_str(), driver.c_str(),
           tail.c_str());
    LogOn();
    printf("log       %ls present: logging on\n\n", LogPath().c_str());

    SpoolerHost host;
    std::wstring statusProgram;  // the installed jobtap starts the installed vigil
    if (installed) {
        WCHAR system[MAX_PATH] = L"";
        GetSystemDirectoryW(system, MAX_PATH);
        host.path = std::wstring(system) + L"\\jobtap.dll";
        statusProgram = std::wstring(system) + L"\\" + MonitorValue(driver);
        printf("monitor   %ls, the installed language monitor\n", host.path.c_str());
    }
    if (!host.Init()) {
        printf("%ls did not load\n", host.path.empty() ? L"jobtap.dll" : host.path.c_str());
        return 1;
    }
    FakePortMonitor &port = FakePortMonitor::Instance();
    port.Reset();
    std::vector<BYTE> job = PatternBytes(300 * 1024, 42);

    HANDLE h = nullptr;
    const wchar_t *portName = portText.c_str();            // the printer's port
    if (!host.lm->pfnOpenPortEx((LPWSTR)portName, (LPWSTR)printer, &h, port.Table())) {
        printf("Open failed: %lu\n", GetLastError());
        return 1;
    }
    SpoolerJob spoolerJob(printer);
    DOC_INFO_1W doc = {(LPWSTR)L"TZ demo page", nullptr, (LPWSTR)L"RAW"};
    BOOL ok = host.lm->pfnStartDocPort(h, (LPWSTR)printer, spoolerJob.Id(), 1, (LPBYTE)&doc);
    size_t written = 0;
    for (size_t off = 0; ok && off < job.size(); off += 32768) {
        DWORD cb = 0;
        ok = host.lm->pfnWritePort(h, job.data() + off, (DWORD)std::min<size_t>(32768, job.size() - off), &cb);
        written += cb;
        if (off == 0) {
            StatusBlock block;
            ChannelSnapshot(kMonitorName, portName, &block);
            ChannelRequest request;
            request.cbData = 256;
            ChannelReply reply;
            bool answered = ChannelCall(kMonitorName, portName, request, &reply);
            printf("during the job: block job id %u, flags %u (printing); device id request -> %s \"%s\"\n",
                   block.dwJobId, block.dwFlags, answered && reply.bResult ? "answered" : "failed",
                   std::string(reply.data.begin(), reply.data.end()).c_str());
        }
    }
    std::string title = Narrow(printer) + " - Status Monitor";
    bool shown = ShowStatusWindow(title, statusProgram);
    BOOL ended = host.lm->pfnEndDocPort(h);
    // The port stays open while the status monitor counts its Shutdown line
    // down and ends by itself.
    if (HWND hwnd = FindWindowA(nullptr, title.c_str())) {
        bool gone = WaitForWindowGone(hwnd, 12000);
        printf("after the job the status monitor %s\n", gone ? "counted down and ended by itself" : "is still open");
        shown = shown && gone;
    }
    BOOL closed = host.lm->pfnClosePort(h);
    printf("job       StartDoc %s, %zu of %zu bytes written, EndDoc %s, Close %s\n\n", ok ? "ok" : "failed", written,
           job.size(), ended ? "ok" : "failed", closed ? "ok" : "failed");

    std::vector<BYTE> out = port.Output(portName);
    size_t cbHead = head.size() / 2, cbTail = tail.size() / 2;  // hexadecimal texts
    printf("reached the port (%ls): %zu bytes = %zu header + %zu job + %zu trailer\n",
           port.OutputPath(portName).c_str(), out.size(), cbHead, job.size(), cbTail);
    Hex("first bytes", out.data(), std::min<size_t>(16, out.size()));
    Hex("last bytes", out.data() + out.size() - std::min<size_t>(16, out.size()), std::min<size_t>(16, out.size()));
    bool intact = out.size() == job.size() + cbHead + cbTail && std::equal(job.begin(), job.end(), out.begin() + cbHead);
    printf("  job bytes between header and trailer: %s\n\n", intact ? "complete and in order" : "DIFFERENT");

    auto lines = LogMessages();
    printf("log: %zu lines; the first 24:\n", lines.size());
    std::string text = LogText();
    size_t pos = 0;
    for (int i = 0; i < 24 && pos < text.size(); ++i) {
        size_t end = text.find("\r\n", pos);
        printf("  %s\n", text.substr(pos, end - pos).c_str());
        pos = end + 2;
    }
    LogOff();
    return intact && ended && closed && shown ? 0 : 1;
}
