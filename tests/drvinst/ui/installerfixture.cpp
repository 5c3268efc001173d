#include "installerfixture.h"
#include "regkeys.h"
#include "testenv.h"

namespace {
const DWORD V = WS_VISIBLE;
// The lists' WS_VSCROLL passes from the combo box to its drop-down list.
const ControlRow kInstallRows[] = {
    {1005, "Button", BS_AUTORADIOBUTTON | V, {L"Install", L"インストール"}, 7, 7, 35, 10, 60},
    {1006, "Button", BS_AUTORADIOBUTTON | V, {L"Uninstall", L"アンインストール"}, 7, 22, 43, 10, 75},
    {1007, "Button", BS_AUTORADIOBUTTON, {L"Reinstall(Invisible)", L"再インストール(非可視)"}, 79, 7, 73, 10},
    {1008, "Static", SS_ETCHEDHORZ | V, {L"", L""}, 7, 37, 145, 1},
    {1000, "Static", SS_LEFT | V, {L"Model:", L"機種名："}, 7, 47, 22, 8, 40},
    {1002, "ComboBox", CBS_DROPDOWNLIST | CBS_SORT | V, {nullptr, nullptr}, 7, 59, 145, 140},
    {1001, "Static", SS_LEFT | V, {L"Port:", L"ポート："}, 7, 80, 17, 8, 40},
    {1003, "ComboBox", CBS_DROPDOWNLIST | CBS_SORT | V, {nullptr, nullptr}, 7, 92, 90, 140},
    {1004, "Button", BS_PUSHBUTTON | V, {L"COM Config", L"通信条件"}, 102, 91, 50, 14},
    {1009, "Button", BS_PUSHBUTTON | V, {L"Start", L"開始"}, 47, 119, 50, 14},
    {IDCANCEL, "Button", BS_PUSHBUTTON | V, {L"Cancel", L"キャンセル"}, 102, 119, 50, 14},
    {IDOK, "Button", BS_DEFPUSHBUTTON, {L"OK(Invisible)", L"OK(非可視)"}, 102, 20, 50, 14},
};
}  // namespace

const DialogLayout kInstallLayout = {"main", 159, 140, true, kInstallRows, ARRAYSIZE(kInstallRows)};

const std::vector<std::string> kAllPorts = {"COM1:", "COM2:", "COM3:", "COM4:", "FILE:",
                                            "LPT1:", "LPT2:", "LPT3:", "USB"};

void InstallerTest::SetUp()
{
    ExecuteTest::SetUp();
    m_exe = m_package + "\\drvinst.exe";
    ASSERT_TRUE(CopyFileA(Narrow(ExePath(L"drvinst.exe")).c_str(), m_exe.c_str(), FALSE));
    m_program = m_exe;  // what a first phase run in this program copies and registers
}

void InstallerTest::TearDown()
{
    if (m_process) {
        if (WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT) {
            ADD_FAILURE() << "drvinst.exe still running";
            TerminateProcess(m_process, 9);
            WaitForSingleObject(m_process, 5000);
        }
        CloseHandle(m_process);
    }
    // What an install of the second model leaves beyond what the first's does.
    DeleteKeyTree(std::string(kUninstallKey) + "\\Ostrel TZ-2000");
    for (const char *sub : {"\\", "\\3\\"}) {
        std::string path = PrinterDriverDirA() + sub + "KZTTZ2000.DAT";
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
    }
    if (m_hUnits)
        DestroyWindow(m_hUnits);
    if (m_hTemplates)
        FreeLibrary(m_hTemplates);
    ExecuteTest::TearDown();
}

bool InstallerTest::Start(const std::string &args)
{
    std::string line = Quoted(m_exe) + (args.empty() ? "" : " " + args);
    PROCESS_INFORMATION pi;
    if (!StartProgram(m_exe, line, m_package, &pi))
        return false;
    CloseHandle(pi.hThread);
    m_process = pi.hProcess;
    m_pid = pi.dwProcessId;
    return true;
}

HWND InstallerTest::WaitForMain(DWORD timeoutMs)
{
    return WaitForPage(m_pid, 1002, timeoutMs, nullptr);
}

HWND InstallerTest::StartMain(const std::string &args)
{
    if (!Start(args)) {
        ADD_FAILURE() << "drvinst.exe did not start: " << GetLastError();
        return nullptr;
    }
    HWND hDlg = WaitForMain();
    if (!hDlg)
        ADD_FAILURE() << "no main dialog; message box: " << AnswerMessageBox(0);
    return hDlg;
}

bool InstallerTest::CancelAndEnd(HWND hDlg)
{
    Click(hDlg, IDCANCEL);
    if (!Ended(15000))
        return false;
    CloseHandle(m_process);
    m_process = nullptr;
    return true;
}

bool InstallerTest::Ended(DWORD timeoutMs, DWORD *pExitCode)
{
    if (WaitForSingleObject(m_process, timeoutMs) != WAIT_OBJECT_0)
        return false;
    if (pExitCode)
        GetExitCodeProcess(m_process, pExitCode);
    return true;
}

std::string InstallerTest::AnswerMessageBox(DWORD timeoutMs)
{
    std::string text;
    HWND box = WaitForMessageBox(m_pid, timeoutMs, &text);
    if (box)
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    return text;
}

namespace {
// An entry of a list of another process. Read in UTF-16: Wine hands the ANSI
// form of CB_GETLBTEXT across processes cut after its first character.
std::string EntryText(HWND hDlg, int id, int index)
{
    WCHAR text[256] = L"";
    SendDlgItemMessageW(hDlg, id, CB_GETLBTEXT, index, (LPARAM)text);
    char ansi[512] = "";
    WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, sizeof(ansi), nullptr, nullptr);
    return ansi;
}

INT_PTR CALLBACK InertDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}
}  // namespace

std::vector<std::string> InstallerTest::ListItems(HWND hDlg, int id)
{
    std::vector<std::string> items;
    int count = (int)SendDlgItemMessageA(hDlg, id, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; ++i)
        items.push_back(EntryText(hDlg, id, i));
    return items;
}

std::string InstallerTest::SelectedText(HWND hDlg, int id)
{
    int sel = ListSelection(hDlg, id);
    return sel < 0 ? std::string("(none)") : EntryText(hDlg, id, sel);
}

HWND InstallerTest::UnitsDialog()
{
    if (!m_hTemplates)
        m_hTemplates = LoadLibraryExA(m_exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!m_hUnits)
        m_hUnits = CreateDialogParamA(m_hTemplates, MAKEINTRESOURCEA(102), nullptr, InertDialogProc, 0);
    return m_hUnits;
}

void InstallerTest::ClickRadio(HWND hDlg, int id)
{
    SendMessageA(GetDlgItem(hDlg, id), BM_CLICK, 0, 0);
}

void InstallerTest::ExpectNothingInstalled()
{
    SpoolerState s = ReadSpooler();
    EXPECT_TRUE(QueuesStartingWith("Ostrel").empty());
    EXPECT_FALSE(Has(s.drivers, kModel));
    EXPECT_FALSE(Has(s.drivers, "Ostrel TZ-2000"));
    EXPECT_FALSE(Has(s.monitors, "jobtap"));
    for (const char *file : kModelFiles)
        EXPECT_FALSE(FileExists(PrinterDriverDirA() + "\\" + file)) << file;
    EXPECT_FALSE(FileExists(WindowsDirA() + "\\INF\\OstrelTZ.INF"));
    EXPECT_EQ("(none)", RegText(std::string(kUninstallKey) + "\\" + kModel, "DisplayName"));
    EXPECT_TRUE(RunOnceNames().empty());
}

std::string InstallerTest::WriteInfVariant(const std::string &name, const std::string &line,
                                           const std::string &replacement)
{
    std::string text = ReadBytes(m_package + "\\TZ.INF");
    size_t at = text.find(line);
    EXPECT_NE(std::string::npos, at) << line;
    if (at != std::string::npos)
        text.replace(at, line.size(), replacement);
    WriteFile("package\\" + name, text);
    return name;
}
