// drvinst.exe end to end: the three ways it starts, its main dialog as a
// person sees and drives it (template, lists, the states the command line
// sets, the model's preferred port, an install on LPT1: through to the
// completion dialog), and the inputs it refuses with a message box while
// the system stays as it was.
#include "installerfixture.h"
#include "testenv.h"

namespace {
const char kModel2[] = "Ostrel TZ-2000";
const char kModelsLine[] =
    "\"Ostrel TZ-1000\" = TZ1000.Install, LPTENUM\\OstrelTZ-1000A1B2\r\n"
    "\"Ostrel TZ-2000\" = TZ2000.Install, LPTENUM\\OstrelTZ-2000C3D4\r\n";

bool Enabled(HWND hDlg, int id)
{
    return IsWindowEnabled(GetDlgItem(hDlg, id)) != FALSE;
}

bool Checked(HWND hDlg, int id)
{
    return SendDlgItemMessageA(hDlg, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

int IndexOf(const std::vector<std::string> &items, const std::string &item)
{
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i] == item)
            return (int)i;
    }
    return -1;
}

// The port's stored default configuration; dwSize 0 when it can't be read.
COMMCONFIG StoredConfig(const char *port)
{
    COMMCONFIG config = {};
    DWORD cb = sizeof(config);
    if (!GetDefaultCommConfigA(port, &config, &cb))
        config.dwSize = 0;
    return config;
}

// A key pressed where the dialog's thread has its focus.
void PressKey(HWND hDlg, UINT vk)
{
    GUITHREADINFO info = {sizeof(info)};
    GetGUIThreadInfo(GetWindowThreadProcessId(hDlg, nullptr), &info);
    HWND target = info.hwndFocus ? info.hwndFocus : hDlg;
    PostMessageA(target, WM_KEYDOWN, vk, 1);
    PostMessageA(target, WM_KEYUP, vk, 0xC0000001);
}
}  // namespace

// --- start-up ----------------------------------------------------------------------------

TEST_F(InstallerTest, WithoutSwitchesOffersEveryModelAndPortAndWaitsForAnAction)
{
    HWND hDlg = StartMain("");
    ASSERT_TRUE(hDlg);
    ExpectLayout(hDlg, kInstallLayout, English, UnitsDialog());
    EXPECT_EQ((std::vector<std::string>{kModel, kModel2}), ListItems(hDlg, 1002));
    EXPECT_EQ(kModel, SelectedText(hDlg, 1002));
    EXPECT_EQ(kAllPorts, ListItems(hDlg, 1003));
    EXPECT_EQ("LPT1:", SelectedText(hDlg, 1003)) << "the model's preferred port";
    for (int id : {1005, 1006, 1007})
        EXPECT_FALSE(Checked(hDlg, id)) << id;
    EXPECT_TRUE(Enabled(hDlg, 1005));
    EXPECT_TRUE(Enabled(hDlg, 1006));
    EXPECT_FALSE(Enabled(hDlg, 1009)) << "Start before an action is chosen";
    EXPECT_FALSE(Enabled(hDlg, 1004)) << "COM Config without an action";
    SaveDialogScreenshot(hDlg, kInstallLayout, English);

    ClickRadio(hDlg, 1005);
    EXPECT_TRUE(Checked(hDlg, 1005));
    EXPECT_TRUE(Enabled(hDlg, 1009));
    EXPECT_TRUE(Enabled(hDlg, 1003));

    PressKey(hDlg, VK_RETURN);  // the hidden default button: closes, does nothing
    DWORD code = 1;
    ASSERT_TRUE(Ended(15000, &code));
    EXPECT_EQ(0u, code);
    ExpectNothingInstalled();
}

TEST_F(InstallerTest, StartWithoutAnActionAsksForOneAndKeepsTheDialog)
{
    HWND hDlg = StartMain("");
    ASSERT_TRUE(hDlg);
    Click(hDlg, 1009);  // the command of the greyed button, as a stray message would bring it
    EXPECT_EQ("GetCheckedRadioButton()", AnswerMessageBox());
    EXPECT_FALSE(Ended(500));
    EXPECT_TRUE(IsWindow(hDlg));
    Click(hDlg, IDCANCEL);
    ASSERT_TRUE(Ended(15000));
    ExpectNothingInstalled();
}

TEST_F(InstallerTest, CommandLineSwitchChoosesAndLocksTheAction)
{
    static const struct {
        const char *args;
        int checked;            // the one radio button checked and enabled
        bool portEnabled;       // port label and list
        std::vector<std::string> models;
        std::vector<std::string> ports;
        const char *port;       // selected
    } cases[] = {
        {"/Uninstall", 1006, false, {kModel, kModel2}, kAllPorts, "LPT1:"},
        {"TZ.INF \"Ostrel TZ-1000\" LPT1: /Install", 1005, true, {kModel}, {"LPT1:"}, "LPT1:"},
        {"TZ.INF \"Ostrel TZ-2000\" COM2: /Install", 1005, true, {kModel2}, {"COM2:"}, "COM2:"},
        {"TZ.INF \"Ostrel TZ-2000\" /Reinstall", 1007, true, {kModel2}, kAllPorts, "LPT1:"},
        {"/install", 1005, true, {kModel, kModel2}, kAllPorts, "LPT1:"},
        {"/Uninstall /Install", 1005, true, {kModel, kModel2}, kAllPorts, "LPT1:"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args);
        HWND hDlg = StartMain(c.args);
        ASSERT_TRUE(hDlg);
        for (int id : {1005, 1006, 1007}) {
            EXPECT_EQ(id == c.checked, Checked(hDlg, id)) << id;
            EXPECT_EQ(id == c.checked, Enabled(hDlg, id)) << id;
        }
        EXPECT_EQ(c.models, ListItems(hDlg, 1002));
        EXPECT_EQ(c.ports, ListItems(hDlg, 1003));
        EXPECT_EQ(c.port, SelectedText(hDlg, 1003));
        EXPECT_EQ(c.portEnabled, Enabled(hDlg, 1001));
        EXPECT_EQ(c.portEnabled, Enabled(hDlg, 1003));
        bool com = std::string(c.port).compare(0, 3, "COM") == 0;
        EXPECT_EQ(c.portEnabled && com, Enabled(hDlg, 1004));
        EXPECT_TRUE(Enabled(hDlg, 1002)) << "the model list stays open";
        EXPECT_TRUE(Enabled(hDlg, 1009));
        ASSERT_TRUE(CancelAndEnd(hDlg));
    }
    ExpectNothingInstalled();
}

TEST_F(InstallerTest, CopySwitchCopiesTheModelsFilesWithoutADialog)
{
    ASSERT_TRUE(Start("TZ.INF \"Ostrel TZ-1000\" /Copy"));
    DWORD code = 1;
    ASSERT_TRUE(Ended(30000, &code)) << AnswerMessageBox(0);
    EXPECT_EQ(0u, code);
    EXPECT_TRUE(ModelFilesInstalled());
    EXPECT_TRUE(FileExists(WindowsDirA() + "\\INF\\OstrelTZ.INF"));
    SpoolerState s = ReadSpooler();
    EXPECT_TRUE(QueuesStartingWith("Ostrel").empty());
    EXPECT_FALSE(Has(s.drivers, kModel));
    EXPECT_TRUE(RunOnceNames().empty());
}

TEST_F(InstallerTest, RunOnceWithCopyRunsTheSecondPhaseAndNotTheCopy)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    {
        CInstallContext first;
        ASSERT_NO_FATAL_FAILURE(PrepareOperation(first, "LPT1:", &first.m_bUninstall));
        ASSERT_TRUE(first.Excecute()) << first.GetErrorText();
    }
    ASSERT_TRUE(ModelFilesInstalled());
    RemoveRunOnceEntries();  // Wine would run it at its next start

    // The second phase as Windows starts it, with "/Copy" beside it.
    ASSERT_TRUE(Start(Quoted(m_work + "\\TZ.INF") + " " + Quoted(kModel) + " \"LPT1:\" /RunOnce /Uninstall /Copy"));
    DWORD code = 1;
    ASSERT_TRUE(Ended(30000, &code)) << AnswerMessageBox(0);
    EXPECT_EQ(0u, code);
    for (const char *file : kModelFiles)
        EXPECT_FALSE(FileExists(PrinterDriverDirA() + "\\" + file)) << file << ": copied, or not removed";
    EXPECT_FALSE(Has(ReadSpooler().monitors, "jobtap"));
    EXPECT_EQ("(none)", RegText(std::string(kUninstallKey) + "\\" + kModel, "DisplayName"));
}

// --- the lists ---------------------------------------------------------------------------

TEST_F(InstallerTest, ModelChangeSelectsThatModelsPreferredPort)
{
    HWND hDlg = StartMain("");
    ASSERT_TRUE(hDlg);
    ClickRadio(hDlg, 1005);
    std::vector<std::string> ports = ListItems(hDlg, 1003);
    SelectListItem(hDlg, 1003, IndexOf(ports, "COM3:"));
    EXPECT_TRUE(Enabled(hDlg, 1004)) << "COM Config for a COM port";
    SelectListItem(hDlg, 1002, 1);  // Ostrel TZ-2000: LPT1: first
    EXPECT_EQ(kModel2, SelectedText(hDlg, 1002));
    EXPECT_EQ("LPT1:", SelectedText(hDlg, 1003));
    EXPECT_FALSE(Enabled(hDlg, 1004));
    SelectListItem(hDlg, 1003, IndexOf(ports, "FILE:"));
    SelectListItem(hDlg, 1002, 0);  // Ostrel TZ-1000: USB001 is not offered, LPT1: is
    EXPECT_EQ("LPT1:", SelectedText(hDlg, 1003));
    ASSERT_TRUE(CancelAndEnd(hDlg));
}

TEST_F(InstallerTest, ModelsPortsDirectivePreselectsTheFirstOfferedEntry)
{
    static const struct {
        const char *ports;      // the first model's line
        const char *selected;
    } cases[] = {
        {"Ports=USB,LPT1:", "USB"},
        {"Ports=USB001,LPT1:", "LPT1:"},
        {"Ports=LPT", "LPT1:"},
        {"Ports=lpt2:", "LPT2:"},
        {"Ports=NE00:,COM3", "COM3:"},
        {"Ports=NE00:", "COM1:"},             // nothing matches: entry 0 stays
        {"; no Ports line", "COM1:"},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.ports);
        std::string inf = WriteInfVariant("PORTS" + std::to_string(n++) + ".INF", "Ports=USB001,LPT1:", c.ports);
        HWND hDlg = StartMain(inf);
        ASSERT_TRUE(hDlg);
        EXPECT_EQ(kModel, SelectedText(hDlg, 1002));
        EXPECT_EQ(c.selected, SelectedText(hDlg, 1003));
        ASSERT_TRUE(CancelAndEnd(hDlg));
    }
}

TEST_F(InstallerTest, CommandLinePortNarrowsTheListToTheEntriesItBegins)
{
    static const struct {
        const char *port;
        std::vector<std::string> list;
    } cases[] = {
        {"LPT", {"LPT1:", "LPT2:", "LPT3:"}},
        {"lpt2", {"LPT2:"}},
        {"COM1:,FILE:", {"COM1:", "FILE:"}},
        {"USB", {"USB"}},
        {"LPT9:", kAllPorts},                // a port the system lacks: the whole list
        {"NE00:,IP_10.0.0.5", kAllPorts},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.port);
        HWND hDlg = StartMain(std::string("TZ.INF \"Ostrel TZ-1000\" \"") + c.port + "\" /Install");
        ASSERT_TRUE(hDlg);
        EXPECT_EQ(c.list, ListItems(hDlg, 1003));
        EXPECT_NE(-1, ListSelection(hDlg, 1003));
        ASSERT_TRUE(CancelAndEnd(hDlg));
    }
    ExpectNothingInstalled();
}

// --- install -----------------------------------------------------------------------------

TEST_F(InstallerTest, InstallOnLpt1EndsInTheCompletionDialogWithTheQueueInTheSpooler)
{
    HWND hDlg = StartMain("");
    ASSERT_TRUE(hDlg);
    ClickRadio(hDlg, 1005);
    SelectListItem(hDlg, 1002, IndexOf(ListItems(hDlg, 1002), kModel));
    SelectListItem(hDlg, 1003, IndexOf(ListItems(hDlg, 1003), "LPT1:"));
    Click(hDlg, 1009);

    HWND hComplete = WaitForPage(m_pid, 1010, 60000, nullptr);
    ASSERT_TRUE(hComplete) << AnswerMessageBox(0);
    EXPECT_EQ(kModel, ItemText(hComplete, 1010));
    EXPECT_EQ("LPT1:", ItemText(hComplete, 1011));
    for (int id = 1017; id <= 1021; ++id) {
        EXPECT_FALSE(Enabled(hComplete, id)) << id;
        EXPECT_EQ("", ItemText(hComplete, id - 5)) << id - 5;
    }
    EXPECT_EQ(GetParent(hComplete), hDlg) << "owned by the main dialog";
    Click(hComplete, IDOK);
    DWORD code = 1;
    ASSERT_TRUE(Ended(15000, &code));
    EXPECT_EQ(0u, code);

    SpoolerState s = ReadSpooler();
    EXPECT_TRUE(Has(s.queues, Queue(kModel, "LPT1:")));
    EXPECT_TRUE(Has(s.drivers, kModel));
    EXPECT_TRUE(Has(s.monitors, "jobtap"));
    EXPECT_TRUE(ModelFilesInstalled());
    EXPECT_EQ(kModel, RegText(std::string(kUninstallKey) + "\\" + kModel, "DisplayName"));
    EXPECT_TRUE(RunOnceNames().empty());
}

// --- refused inputs ----------------------------------------------------------------------

TEST_F(InstallerTest, BadInputShowsItsMessageAndChangesNothing)
{
    static const struct {
        const char *name;
        std::string args;
        const char *text;       // the box's text holds this
    } cases[] = {
        {"INF path that does not exist", "\"C:\\nowhere\\TZ.INF\" /Install", "FindInfPrinters() "},
        {"model the INF lacks", "TZ.INF \"Ostrel TZ-9\" LPT1: /Install", "ParseInf() Models\r\n"},
        {"INF without models", "NOMODELS.INF", "GetPrivateProfileSectionReadOnly([Ostrel.Models]) R 0 "},
        {"INF without a models section", "NOMAKER.INF", "FindInfPrinters() Manufacturer\r\n"},
    };
    WriteInfVariant("NOMODELS.INF", kModelsLine, "");
    WriteInfVariant("NOMAKER.INF", "%Ostrel%=Ostrel.Models", "");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(Start(c.args));
        std::string text = AnswerMessageBox();
        EXPECT_NE(std::string::npos, text.find(c.text)) << text;
        DWORD code = 1;
        ASSERT_TRUE(Ended(15000, &code));
        EXPECT_EQ(0u, code);
        CloseHandle(m_process);
        m_process = nullptr;
    }
    ExpectNothingInstalled();
}

TEST_F(InstallerTest, InstallOnAComPortWritesTheModelsLineSettingsAndShowsThem)
{
    COMMCONFIG saved = StoredConfig("COM2");
    ASSERT_NE(0u, saved.dwSize);
    HWND hDlg = StartMain("TZ.INF \"Ostrel TZ-2000\" COM2: /Install");
    ASSERT_TRUE(hDlg);
    EXPECT_TRUE(Enabled(hDlg, 1004));
    Click(hDlg, 1009);

    HWND hComplete = WaitForPage(m_pid, 1010, 60000, nullptr);
    ASSERT_TRUE(hComplete) << AnswerMessageBox(0);
    EXPECT_EQ(kModel2, ItemText(hComplete, 1010));
    EXPECT_EQ("COM2:", ItemText(hComplete, 1011));
    // The sample's 9600,8,N,1,X.
    const char *const values[] = {"9600", "8", "None", "1", "Xon/Xoff"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(Enabled(hComplete, 1017 + i)) << 1017 + i;
        EXPECT_EQ(values[i], ItemText(hComplete, 1012 + i)) << 1012 + i;
    }
    Click(hComplete, IDOK);
    ASSERT_TRUE(Ended(15000));

    COMMCONFIG stored = StoredConfig("COM2");
    ASSERT_NE(0u, stored.dwSize);
    EXPECT_EQ(9600u, stored.dcb.BaudRate);
    EXPECT_EQ(8, stored.dcb.ByteSize);
    EXPECT_EQ(NOPARITY, stored.dcb.Parity);
    EXPECT_EQ(ONESTOPBIT, stored.dcb.StopBits);
    EXPECT_TRUE(stored.dcb.fOutX && stored.dcb.fInX);
    EXPECT_TRUE(Has(ReadSpooler().queues, std::string(kModel2) + "|COM2:|" + kModel2 + "|KZT TZ Print Processor|RAW"));
    EXPECT_TRUE(SetDefaultCommConfigA("COM2", &saved, sizeof(saved)));
}

TEST_F(InstallerTest, ComConfigIsOfferedForACommPortOnlyWhileInstallOrReinstallIsChosen)
{
    std::string inf = WriteInfVariant("SERIAL.INF", "Ports=USB001,LPT1:", "Ports=COM3:");
    static const struct {
        const char *switches;
        bool offered;           // at start-up
        int click;              // then this radio button, or 0
        bool offeredAfter;
    } cases[] = {
        {"", false, 1005, true},            // no action yet
        {"/Uninstall", false, 0, false},
        {"/Install", true, 0, true},
        {"/Reinstall", true, 0, true},
        {"", false, 1006, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("switches: ") + c.switches + " click " + std::to_string(c.click));
        HWND hDlg = StartMain(inf + " " + c.switches);
        ASSERT_TRUE(hDlg);
        EXPECT_EQ("COM3:", SelectedText(hDlg, 1003));
        EXPECT_EQ(c.offered, Enabled(hDlg, 1004));
        if (c.click)
            ClickRadio(hDlg, c.click);
        SelectListItem(hDlg, 1002, 1);  // the other model, and back: COM3: again
        SelectListItem(hDlg, 1002, 0);
        EXPECT_EQ("COM3:", SelectedText(hDlg, 1003));
        EXPECT_EQ(c.offeredAfter, Enabled(hDlg, 1004));
        ASSERT_TRUE(CancelAndEnd(hDlg));
    }
}

// The user opens COM Config, cancels once (nothing happens), then picks
// 19200 baud in the system's settings dialog, which opened with the model's
// defaults; Start keeps that choice and the completion dialog shows it.
TEST_F(InstallerTest, ComConfigChoiceSurvivesStartAndACancelChangesNothing)
{
    const int kBaudList = 1026;  // of Wine's settings dialog
    COMMCONFIG saved = StoredConfig("COM2");
    ASSERT_NE(0u, saved.dwSize);
    HWND hDlg = StartMain("TZ.INF \"Ostrel TZ-2000\" COM2: /Install");
    ASSERT_TRUE(hDlg);

    Click(hDlg, 1004);
    HWND hSettings = WaitForWindow("Settings for COM2", 15000);
    ASSERT_TRUE(hSettings) << AnswerMessageBox(0);
    Click(hSettings, IDCANCEL);
    ASSERT_TRUE(WaitForWindowGone(hSettings, 10000));
    EXPECT_EQ("", AnswerMessageBox(1000)) << "a cancelled settings dialog shows nothing";
    EXPECT_TRUE(IsWindow(hDlg));

    Click(hDlg, 1004);
    hSettings = WaitForWindow("Settings for COM2", 15000);
    ASSERT_TRUE(hSettings);
    EXPECT_EQ("9600", SelectedText(hSettings, kBaudList)) << "the model's defaults, not the port's";
    SelectListItem(hSettings, kBaudList, IndexOf(ListItems(hSettings, kBaudList), "19200"));
    Click(hSettings, IDOK);
    ASSERT_TRUE(WaitForWindowGone(hSettings, 10000));
    Click(hDlg, 1009);

    HWND hComplete = WaitForPage(m_pid, 1010, 60000, nullptr);
    ASSERT_TRUE(hComplete) << AnswerMessageBox(0);
    EXPECT_EQ("19200", ItemText(hComplete, 1012));
    Click(hComplete, IDOK);
    ASSERT_TRUE(Ended(15000));
    COMMCONFIG stored = StoredConfig("COM2");
    ASSERT_NE(0u, stored.dwSize);
    EXPECT_EQ(19200u, stored.dcb.BaudRate);
    EXPECT_TRUE(SetDefaultCommConfigA("COM2", &saved, sizeof(saved)));
}

// The engine's closing dialogs are the program's real ones, owned by the
// main dialog: the USB notice after an install on the generic port, the
// restart question after an uninstall's first phase; neither is followed by
// the completion dialog.
TEST_F(InstallerTest, InstallOnTheGenericUsbPortShowsTheUsbNoticeInstead)
{
    HWND hDlg = StartMain("TZ.INF \"Ostrel TZ-1000\" USB /Install");
    ASSERT_TRUE(hDlg);
    EXPECT_EQ("USB", SelectedText(hDlg, 1003));
    Click(hDlg, 1009);
    HWND hUsb = WaitForPage(m_pid, 1022, 60000, nullptr);
    ASSERT_TRUE(hUsb) << AnswerMessageBox(0);
    EXPECT_EQ(hDlg, GetParent(hUsb));
    EXPECT_EQ(kModel, ItemText(hUsb, 1022));
    EXPECT_EQ("USB", ItemText(hUsb, 1023));
    Click(hUsb, IDOK);
    ASSERT_TRUE(Ended(15000));
    EXPECT_TRUE(Has(ReadSpooler().drivers, kModel));
    EXPECT_TRUE(QueuesStartingWith("Ostrel").empty()) << "no queue for a printer not plugged in";
}

TEST_F(InstallerTest, UninstallAsksForTheRestartAndLeavesTheSecondPhaseForIt)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    HWND hDlg = StartMain("TZ.INF \"Ostrel TZ-1000\" LPT1: /Uninstall");
    ASSERT_TRUE(hDlg);
    Click(hDlg, 1009);
    HWND hRestart = WaitForPage(m_pid, 1025, 60000, nullptr);
    ASSERT_TRUE(hRestart) << AnswerMessageBox(0);
    EXPECT_EQ(hDlg, GetParent(hRestart));
    Click(hRestart, IDCANCEL);  // No: the computer keeps running
    DWORD code = 1;
    ASSERT_TRUE(Ended(15000, &code));
    EXPECT_EQ(0u, code);
    EXPECT_TRUE(QueuesStartingWith("Ostrel").empty());
    EXPECT_FALSE(Has(ReadSpooler().drivers, kModel));
    std::string command = RegText(kRunOnceKey, "TZ.INF");
    EXPECT_NE(std::string::npos, command.find("\\drvinst.exe\" ")) << command;
    EXPECT_NE(std::string::npos, command.find(" /RunOnce /Uninstall")) << command;
}
