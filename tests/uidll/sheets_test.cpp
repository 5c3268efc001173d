// The property sheets, shown by Wine's compstui.dll and driven through their
// controls as a user would: the Settings page commits only after Apply, the
// Information page prints its text and dropped files as raw jobs.
#include "labelcheck.h"
#include "testenv.h"
#include "uidllfixture.h"
#include "spoolstandin.h"
#include "windowdriver.h"
#include <shellapi.h>
#include <shlobj.h>
#include <string.h>

namespace {

const int kWidth = 202, kLength = 203, kMillimeters = 212, kInches = 213, kResolution = 215, kCompress = 216,
          kDither = 219, kInkGain = 221, kAbout = 222, kInfoText = 500, kSendData = 501;

// A top-level window on a thread of its own that records the device name of
// every WM_DEVMODECHANGE broadcast.
class DevmodeChangeListener {
public:
    DevmodeChangeListener()
    {
        m_thread = std::thread([this] {
            WNDCLASSW wc = {};
            wc.lpfnWndProc = Proc;
            wc.hInstance = GetModuleHandleW(NULL);
            wc.lpszClassName = L"KztDevmodeListener";
            RegisterClassW(&wc);
            m_hwnd = CreateWindowW(wc.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1, NULL, NULL, wc.hInstance, NULL);
            SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, (LONG_PTR)this);
            m_threadId = GetCurrentThreadId();
            SetEvent(m_ready);
            MSG msg;
            while (GetMessageW(&msg, NULL, 0, 0) > 0)
                DispatchMessageW(&msg);
            DestroyWindow(m_hwnd);
        });
        WaitForSingleObject(m_ready, 10000);
    }
    ~DevmodeChangeListener()
    {
        PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
        m_thread.join();
        CloseHandle(m_ready);
    }
    std::wstring Received() const { return m_received; }

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        auto *self = (DevmodeChangeListener *)GetWindowLongPtrW(hwnd, GWLP_USERDATA);
        if (msg == WM_DEVMODECHANGE && self && lParam)
            self->m_received = (const wchar_t *)lParam;
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    HANDLE m_ready = CreateEventW(NULL, TRUE, FALSE, NULL);
    HWND m_hwnd = nullptr;
    DWORD m_threadId = 0;
    std::wstring m_received;
    std::thread m_thread;
};

std::string PortBytes()
{
    return ReadTextFile(std::wstring(kUiPort));
}

}  // namespace

class SheetTest : public UiTest {
protected:
    void SetUp() override
    {
        UiTest::SetUp();
        DeleteFileW(std::wstring(kUiPort).c_str());
    }
    // The Settings page of a document sheet opened through Wine's
    // DocumentPropertiesW.
    HWND OpenDocumentSheet(ModalCall **ppCall, DriverDevmode *pOut, DriverDevmode *pIn)
    {
        *ppCall = new ModalCall([=] {
            return DocumentPropertiesW(NULL, hPrinter, (LPWSTR)kUiPrinter, &pOut->dm, pIn ? &pIn->dm : NULL,
                                       DM_IN_PROMPT | DM_OUT_BUFFER | (pIn ? DM_IN_BUFFER : 0));
        });
        HWND page = WaitForPage(GetCurrentProcessId(), kWidth, 20000, &m_sheet);
        LONG result = 0;
        if (!page)
            ADD_FAILURE() << "no Settings page; DocumentPropertiesW "
                          << ((*ppCall)->Done(&result) ? "answered " + std::to_string(result) : "has not returned");
        return page;
    }
    HWND m_sheet = nullptr;
};

TEST_F(SheetTest, SettingsPageShowsTheWorkingSettings)
{
    ASSERT_EQ(PrefixDpi(), BecomeDpiAware());   // a DPI-aware application's sheet
    PrivateSettings stored = DefaultSettings();
    stored.DitherIdx = 5;  // out of range: shown as the first entry
    stored.UserDefinedY = 8000;
    StoreSettings(stored);
    ModalCall *call;
    DriverDevmode out = {};
    HWND page = OpenDocumentSheet(&call, &out, nullptr);
    ASSERT_TRUE(page);
    EXPECT_EQ("210.0", ItemText(page, kWidth));
    EXPECT_EQ("800.0", ItemText(page, kLength));
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(page, kMillimeters));
    EXPECT_EQ(" 720 ", ListItemText(page, kResolution, 0));
    EXPECT_EQ(" 90 ", ListItemText(page, kResolution, 4));
    EXPECT_EQ("TIFF", ListItemText(page, kCompress, 2));
    EXPECT_EQ("Scatter", ListItemText(page, kDither, 1));
    EXPECT_EQ("Low", ListItemText(page, kInkGain, 2));
    EXPECT_EQ(0, ListSelection(page, kDither));
    EXPECT_EQ(1, ListSelection(page, kInkGain));
    EXPECT_EQ(std::vector<std::string>{}, CutLabels(page));

    // Lengths are clamped and shown in the current unit.
    TypeAndLeave(page, kWidth, "99999");
    EXPECT_EQ("1524.0", ItemText(page, kWidth));
    Press(page, kInches);
    EXPECT_EQ("60.00", ItemText(page, kWidth));
    TypeAndLeave(page, kLength, "0.5");
    EXPECT_EQ("1.00", ItemText(page, kLength));
    Press(page, kMillimeters);
    EXPECT_EQ("1524.0", ItemText(page, kWidth));
    EXPECT_EQ("25.4", ItemText(page, kLength));

    // Cancel commits nothing. (What Wine's DocumentPropertiesW answers is
    // its own affair; the library's answer is tested with its export.)
    Press(m_sheet, IDCANCEL);
    call->Wait();
    delete call;
    PrivateSettings loaded;
    LoadPrivateSettings(hPrinter, &loaded);
    EXPECT_EQ(0, memcmp(&stored, &loaded, sizeof(loaded)));
}

TEST_F(SheetTest, ApplyCommitsSettingsDefaultAndOutput)
{
    DevmodeChangeListener listener;
    ModalCall *call;
    DriverDevmode out = {};
    HWND page = OpenDocumentSheet(&call, &out, nullptr);
    ASSERT_TRUE(page);
    // OK takes the focus from the width edit, which reads its text once more
    // in the unit shown: 610.0 mm stays 6100.
    TypeAndLeave(page, kWidth, "610");
    SelectListItem(page, kResolution, 2);
    SelectListItem(page, kDither, 1);
    SelectListItem(page, kCompress, 2);
    SelectListItem(page, kInkGain, 0);
    Press(m_sheet, IDOK);
    call->Wait();
    delete call;

    PrivateSettings expected = {6100, 2970, 0, 2, 2, 1, 0, 0, PRIV_SIGNATURE, 0};
    PrivateSettings loaded;
    LoadPrivateSettings(hPrinter, &loaded);
    EXPECT_EQ(0, memcmp(&expected, &loaded, sizeof(loaded)));
    EXPECT_EQ(0, memcmp(&expected, &out.priv, sizeof(expected)));
    EXPECT_EQ(6100, out.dm.dmPaperWidth);
    EXPECT_EQ(180, out.dm.dmPrintQuality);
    EXPECT_EQ(PelsForLength(6100, 180), (LONG)out.dm.dmPelsWidth);
    EXPECT_EQ(std::wstring(kUiPrinter), listener.Received());  // the change was broadcast

    // The printer's default device mode carries the same private part.
    PRINTER_INFO_2W *info = AllocPrinterInfo(hPrinter);
    ASSERT_TRUE(info && info->pDevMode);
    EXPECT_EQ(24, info->pDevMode->dmDriverExtra);
    EXPECT_EQ(0, memcmp(&expected, (BYTE *)info->pDevMode + info->pDevMode->dmSize, sizeof(expected)));
    FreeSpoolRecord(info);

    // The next sheet starts from them.
    page = OpenDocumentSheet(&call, &out, nullptr);
    ASSERT_TRUE(page);
    EXPECT_EQ("610.0", ItemText(page, kWidth));
    EXPECT_EQ(2, ListSelection(page, kResolution));
    Press(m_sheet, IDCANCEL);
    call->Wait();
    delete call;
}

// A user who may not manage the printer (a standard user, an administrator
// without elevation, an application's handle opened to use it): the spooler
// refuses the printer's default device mode and its data. The settings are
// kept as the user's own default (level 9), silently; when that is refused
// too, a box says nothing was kept. On Windows 2000 and XP both stay silent
// and keep nothing, as the design has it. The printer's default stays as it
// was.
TEST_F(SheetTest, ApplyWithoutAdministerRightsKeepsTheUsersOwnDefaultOrSaysItCannot)
{
    const bool vista = ReportsVistaOrLater();   // 2000 and XP: silent, nothing kept
    for (bool userDefaultRefused : {false, true}) {
        SCOPED_TRACE(userDefaultRefused ? "the user's own default refused too" : "the user's own default kept");
        PRINTER_INFO_2W *info = AllocPrinterInfo(hPrinter);
        ASSERT_TRUE(info && info->pDevMode);
        std::vector<BYTE> before((BYTE *)info->pDevMode + info->pDevMode->dmSize,
                                 (BYTE *)info->pDevMode + info->pDevMode->dmSize + sizeof(PrivateSettings));
        FreeSpoolRecord(info);
        ModalCall *call;
        DriverDevmode out = {};
        HWND page = OpenDocumentSheet(&call, &out, nullptr);
        ASSERT_TRUE(page);
        // The sheet is the library the spooler loaded from the driver directory.
        WCHAR dir[MAX_PATH] = L"";
        DWORD cb = 0;
        ASSERT_TRUE(GetPrinterDriverDirectoryW(NULL, NULL, 1, (LPBYTE)dir, sizeof(dir), &cb));
        HMODULE sheetLibrary = GetModuleHandleW((std::wstring(dir) + L"\\3\\KZTTZUIF.DLL").c_str());
        ASSERT_NE(sheetLibrary, nullptr);
        SpoolerStandIn spooler(sheetLibrary);
        ASSERT_TRUE(spooler.Installed());
        spooler.UserWithoutAdministerRights();
        if (userDefaultRefused)
            spooler.RefuseUserDefaults();
        SelectListItem(page, kDither, ListSelection(page, kDither) == 1 ? 0 : 1);
        SelectListItem(page, kResolution, ListSelection(page, kResolution) == 2 ? 1 : 2);
        Press(m_sheet, IDOK);
        std::string text;
        const bool boxed = vista && userDefaultRefused, kept = vista && !userDefaultRefused;
        HWND box = WaitForMessageBox(GetCurrentProcessId(), boxed ? 10000 : 1500, &text);
        EXPECT_EQ(box != nullptr, boxed) << text;
        if (boxed) {
            EXPECT_NE(text.find("could not be kept as your own either (error 5)"), std::string::npos) << text;
        }
        if (box)
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        call->Wait();
        delete call;

        EXPECT_GE(spooler.RefusedChanges(), 1);
        ASSERT_EQ(spooler.UserDefaults(), kept ? 1 : 0);
        if (kept) {
            std::vector<BYTE> kept = spooler.LastUserDefault();
            ASSERT_GE(kept.size(), sizeof(DEVMODEW) + sizeof(PrivateSettings));
            const DEVMODEW *dm = (const DEVMODEW *)kept.data();
            ASSERT_EQ(24, dm->dmDriverExtra);
            EXPECT_EQ(0, memcmp(kept.data() + dm->dmSize, &out.priv, sizeof(PrivateSettings)));
            EXPECT_NE(0, memcmp(kept.data() + dm->dmSize, before.data(), sizeof(PrivateSettings)));
        }
        info = AllocPrinterInfo(hPrinter);
        ASSERT_TRUE(info && info->pDevMode);
        EXPECT_EQ(0, memcmp((BYTE *)info->pDevMode + info->pDevMode->dmSize, before.data(), sizeof(PrivateSettings)))
            << "the printer's default changed";
        FreeSpoolRecord(info);
    }
}

// Vista and later have no WinHelp: the Help button opens the vendor's HTML
// Help beside the WinHelp file, and without one a box of ours names it
// (instead of the system's "feature not included" box). Run where the
// prefix reports Windows 10.
TEST_F(SheetTest, HelpWhereWinHelpIsGoneNamesTheMissingHtmlHelp)
{
    ModalCall *call;
    DriverDevmode out = {};
    HWND page = OpenDocumentSheet(&call, &out, nullptr);
    ASSERT_TRUE(page);
    // Posted: the box runs in the sheet's own thread while the click is
    // handled. A right-click before it shows nothing: one box, the Help
    // button's.
    PostMessageA(page, WM_CONTEXTMENU, (WPARAM)GetDlgItem(page, kWidth), MAKELPARAM(10, 10));
    PostMessageA(m_sheet, WM_COMMAND, MAKEWPARAM(IDHELP, BN_CLICKED), (LPARAM)GetDlgItem(m_sheet, IDHELP));
    std::string text;
    HWND box = WaitForMessageBox(GetCurrentProcessId(), 10000, &text);
    EXPECT_NE(box, nullptr) << "no word of ours";
    EXPECT_NE(text.find("which this version of Windows no longer includes"), std::string::npos) << text;
    EXPECT_NE(text.find("\\3\\kzttz.chm"), std::string::npos) << text;
    if (box)
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    WaitForWindowGone(box, 5000);
    HWND second = WaitForMessageBox(GetCurrentProcessId(), 2000, nullptr);
    EXPECT_EQ(nullptr, second) << "a box for the right-click";
    if (second)
        PostMessageA(second, WM_COMMAND, IDOK, 0);
    Press(m_sheet, IDCANCEL);
    call->Wait();
    delete call;
}

TEST_F(SheetTest, DriverDocumentPropertiesPromptCancelled)
{
    DriverDevmode out = {};
    auto *call = new ModalCall([&] {
        return ui.pfnDocProps(NULL, hPrinter, (LPWSTR)kUiPrinter, &out.dm, NULL, DM_PROMPT | DM_COPY);
    });
    HWND page = WaitForPage(GetCurrentProcessId(), kWidth, 20000, &m_sheet);
    ASSERT_TRUE(page);
    TypeAndLeave(page, kWidth, "300");
    Press(m_sheet, IDCANCEL);
    EXPECT_EQ(IDCANCEL, call->Wait());
    delete call;
    PrivateSettings loaded;
    LoadPrivateSettings(hPrinter, &loaded);
    EXPECT_EQ(2100, loaded.UserDefinedX);
}

TEST_F(SheetTest, DriverDocumentPropertiesPromptWithRefusedInputShowsNoSheet)
{
    // An input whose header is cut short: the sheet can't give an answer in
    // its shape, so it does not start.
    DriverDevmode in;
    BuildWorkingDevmode(&in, NULL, kUiPrinter);
    in.dm.dmSize = 60;
    BYTE out[sizeof(DriverDevmode)], before[sizeof(DriverDevmode)];
    memset(out, 0xCC, sizeof(out));
    memcpy(before, out, sizeof(out));
    DWORD error = 0;
    auto *call = new ModalCall([&] {
        SetLastError(0xdeadbeef);
        LONG result = ui.pfnDocProps(NULL, hPrinter, (LPWSTR)kUiPrinter, (DEVMODEW *)out, &in.dm,
                                     DM_PROMPT | DM_COPY);
        error = GetLastError();
        return result;
    });
    LONG result = 0;
    HWND page = nullptr;
    WaitUntil([&] { return call->Done(&result) || (page = WaitForPage(GetCurrentProcessId(), kWidth, 0, &m_sheet)); },
              20000);
    if (page) {
        ADD_FAILURE() << "a sheet was shown";
        Press(m_sheet, IDCANCEL);
    }
    result = call->Wait();
    delete call;
    EXPECT_LT(result, 0);
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, error);
    EXPECT_EQ(0, memcmp(before, out, sizeof(out)));
}

TEST_F(SheetTest, AboutBoxOpensFromTheSettingsPage)
{
    ModalCall *call;
    DriverDevmode out = {};
    HWND page = OpenDocumentSheet(&call, &out, nullptr);
    ASSERT_TRUE(page);
    Click(page, kAbout);  // posted: the About box is modal
    HWND about = WaitForWindow("About", 20000);
    ASSERT_TRUE(about);
    // The box is found as soon as it exists; its controls come a moment later.
    EXPECT_TRUE(WaitUntil([&] { return GetDlgItem(about, 223) != nullptr; }, 10000));
    EXPECT_EQ("http://www.ostrel.example/", ItemText(about, 223));
    Press(about, IDOK);
    EXPECT_TRUE(WaitForWindowGone(about, 10000));
    Press(m_sheet, IDCANCEL);
    call->Wait();
    delete call;
}

TEST_F(SheetTest, InformationPagePrintsItsTextAndDroppedFiles)
{
    auto *call = new ModalCall([&] { return (LONG)ui.pfnPrinterProps(NULL, hPrinter); });
    HWND sheet = nullptr;
    HWND page = WaitForPage(GetCurrentProcessId(), kInfoText, 20000, &sheet);
    ASSERT_TRUE(page);
    EXPECT_EQ("Ostrel TZ-1000\r\n", ItemText(page, kInfoText));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(page, kSendData)));
    EXPECT_TRUE(GetWindowLongW(page, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);

    Press(page, kSendData);
    EXPECT_EQ("Ostrel TZ-1000\r\n", PortBytes());

    std::wstring first = ExePath(L"kzt-drop-first.bin"), second = ExePath(L"kzt-drop-second.bin");
    std::string data(3000, 'x');
    for (size_t i = 0; i < data.size(); i++)
        data[i] = (char)('A' + i % 26);
    HANDLE h = CreateFileW(first.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD cb;
    WriteFile(h, data.data(), (DWORD)data.size(), &cb, NULL);
    CloseHandle(h);
    h = CreateFileW(second.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    WriteFile(h, "second", 6, &cb, NULL);
    CloseHandle(h);
    SendMessageW(page, WM_DROPFILES, (WPARAM)MakeDrop({first, second}), 0);
    EXPECT_EQ(data, PortBytes());  // only the first file, unchanged

    // Nothing on the page marks the sheet changed, so the sheet library
    // reports no change and PrinterProperties answers FALSE.
    Press(sheet, IDOK);
    EXPECT_EQ(FALSE, call->Wait());
    delete call;
    DWORD permission = 0, type, needed;
    EXPECT_EQ((DWORD)ERROR_SUCCESS, GetPrinterDataW(hPrinter, (LPWSTR)L"Permission", &type, (LPBYTE)&permission,
                                                    sizeof(permission), &needed));
    EXPECT_EQ(1u, permission);
    DeleteFileW(first.c_str());
    DeleteFileW(second.c_str());
}
