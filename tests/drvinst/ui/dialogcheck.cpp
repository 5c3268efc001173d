#include "dialogcheck.h"
#include "completedialog.h"
#include "modalenginedialogs.h"

namespace {
const DWORD V = WS_VISIBLE;
const wchar_t *const kCaption[2] = {L"Driver Setup", L"ドライバのセットアップ"};
const wchar_t *const kFontFace[2] = {L"MS Sans Serif", L"ＭＳ Ｐゴシック"};
const int kFontPoints[2] = {8, 10};

const ControlRow kCompleteRows[] = {
    {0xFFFF, "Static", SS_LEFT | V,
     {L"Completed.\nConfirm Model and Port.",
      L"インストールは正常に終了しました。\n機種名とポートをご確認ください。"},
     7, 7, 145, 18},
    {0xFFFF, "Static", SS_ETCHEDHORZ | V, {L"", L""}, 7, 27, 145, 1},
    {0xFFFF, "Static", SS_LEFT | V, {L"Model:", L"機種名："}, 7, 37, 22, 8, 40},
    {1010, "Static", SS_LEFT | SS_CENTERIMAGE | SS_SUNKEN | V, {nullptr, nullptr}, 7, 49, 145, 12},
    {0xFFFF, "Static", SS_LEFT | V, {L"Port:", L"ポート："}, 7, 70, 17, 8, 40},
    {1011, "Static", SS_LEFT | SS_SUNKEN | V, {nullptr, nullptr}, 7, 82, 145, 12},
    {1017, "Static", SS_RIGHT | V, {L"Bits per second:", L"ビット/秒："}, 7, 108, 82, 8},
    {1018, "Static", SS_RIGHT | V, {L"Data bits:", L"データビット："}, 7, 122, 82, 8},
    {1019, "Static", SS_RIGHT | V, {L"Parity:", L"パリティ："}, 7, 137, 82, 8},
    {1020, "Static", SS_RIGHT | V, {L"Stop bits:", L"ストップビット："}, 7, 152, 82, 8},
    {1021, "Static", SS_RIGHT | V, {L"Flow control:", L"フロー制御："}, 7, 167, 82, 8},
    {1012, "Static", SS_LEFT | SS_SUNKEN | V, {nullptr, nullptr}, 92, 105, 60, 12},
    {1013, "Static", SS_LEFT | SS_SUNKEN | V, {nullptr, nullptr}, 92, 120, 60, 12},
    {1014, "Static", SS_LEFT | SS_SUNKEN | V, {nullptr, nullptr}, 92, 135, 60, 12},
    {1015, "Static", SS_LEFT | SS_SUNKEN | V, {nullptr, nullptr}, 92, 150, 60, 12},
    {1016, "Static", SS_LEFT | SS_SUNKEN | V, {nullptr, nullptr}, 92, 165, 60, 12},
    {IDOK, "Button", BS_DEFPUSHBUTTON | V, {L"Close", L"閉じる"}, 102, 189, 50, 14},
    {IDCANCEL, "Button", BS_PUSHBUTTON, {L"Cancel(Invisible)", L"ｷｬﾝｾﾙ(非可視)"}, 7, 189, 50, 14},
};

const ControlRow kPlugUsbRows[] = {
    {0xFFFF, "Static", SS_LEFT | V,
     {L"Completed.\nPlug USB cable in.",
      L"インストールは正常に終了しました。\nUSBケーブルをつなげば使用可能です。"},
     7, 7, 145, 18},
    {0xFFFF, "Static", SS_ETCHEDHORZ | V, {L"", L""}, 7, 27, 145, 1},
    {0xFFFF, "Static", SS_LEFT | V, {L"Model:", L"機種名："}, 7, 37, 22, 8, 40},
    {1022, "Static", SS_LEFT | SS_SUNKEN | V, {nullptr, nullptr}, 7, 49, 145, 12},
    {0xFFFF, "Static", SS_LEFT | V, {L"Port:", L"ポート："}, 7, 70, 17, 8, 40},
    {1023, "Static", SS_LEFT | SS_SUNKEN | V, {nullptr, nullptr}, 7, 82, 145, 12},
    {IDOK, "Button", BS_DEFPUSHBUTTON | V, {L"Close", L"閉じる"}, 102, 106, 50, 14},
    {IDCANCEL, "Button", BS_PUSHBUTTON, {L"Cancel(Invisible)", L"ｷｬﾝｾﾙ(非可視)"}, 7, 106, 50, 14},
};

const ControlRow kRebootRows[] = {
    {1025, "Static", SS_ICON | V, {L"", L""}, 7, 7, 20, 20},
    {0xFFFF, "Static", SS_LEFT | V,
     {L"Restart must be done. Restart now ?",
      L"処理を完了させるためには、コンピュータの再起動が必要です。今すぐ再起動しますか？"},
     32, 7, 200, 18},
    {IDOK, "Button", BS_DEFPUSHBUTTON | V, {L"Yes", L"はい"}, 67, 39, 50, 14},
    {IDCANCEL, "Button", BS_PUSHBUTTON | V, {L"No", L"いいえ"}, 122, 39, 50, 14},
};

// The bits of a control's style that the layout names.
DWORD StyleOf(HWND hwnd, const char *cls)
{
    DWORD style = (DWORD)GetWindowLongA(hwnd, GWL_STYLE);
    DWORD mask = lstrcmpiA(cls, "Button") == 0     ? BS_TYPEMASK
                 : lstrcmpiA(cls, "ComboBox") == 0 ? CBS_DROPDOWNLIST | CBS_SORT
                                                   : SS_TYPEMASK | SS_SUNKEN | SS_CENTERIMAGE;
    return style & (mask | WS_VISIBLE);
}

std::string ClassOf(HWND hwnd)
{
    char cls[32] = "";
    GetClassNameA(hwnd, cls, sizeof(cls));
    return cls;
}

// Whether the text, drawn in the control's font and wrapped as a static
// wraps it, fits the control's client area: a label cut short fails.
// font: the control's font, or null to ask the control (only a window of
// this process can answer with a font this process can use).
bool TextFits(HWND control, const std::wstring &text, HFONT font = nullptr)
{
    RECT client;
    GetClientRect(control, &client);
    RECT need = {0, 0, client.right, 0};
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font ? font : (HFONT)SendMessageW(control, WM_GETFONT, 0, 0));
    DrawTextW(dc, text.c_str(), -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
    SelectObject(dc, old);
    DeleteDC(dc);
    return need.right <= client.right && need.bottom <= client.bottom;
}

// The height of a drop-down list's open list, as the list reports it.
int DroppedHeight(HWND combo)
{
    RECT dropped = {};
    SendMessageW(combo, CB_GETDROPPEDCONTROLRECT, 0, (LPARAM)&dropped);
    return dropped.bottom - dropped.top;
}

// The same for a list of this process made in parent with the rectangle
// (x, y, cx, cy in pixels), the style and the font, as a dialog makes it.
int DroppedHeightAt(HWND parent, const RECT &rect, DWORD style, HFONT font)
{
    HWND combo = CreateWindowW(L"ComboBox", L"", WS_CHILD | style, rect.left, rect.top, rect.right, rect.bottom,
                               parent, nullptr, nullptr, nullptr);
    SendMessageW(combo, WM_SETFONT, (WPARAM)font, FALSE);
    int height = DroppedHeight(combo);
    DestroyWindow(combo);
    return height;
}

BOOL CALLBACK CancelDialog(HWND hwnd, LPARAM)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == GetCurrentProcessId() && ClassOf(hwnd) == "#32770")
        PostMessageA(hwnd, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}
}  // namespace

const DialogLayout kCompleteLayout = {"complete", 159, 210, true, kCompleteRows, ARRAYSIZE(kCompleteRows)};
const DialogLayout kPlugUsbLayout = {"plugusb", 159, 127, true, kPlugUsbRows, ARRAYSIZE(kPlugUsbRows)};
const DialogLayout kRebootLayout = {"reboot", 239, 60, false, kRebootRows, ARRAYSIZE(kRebootRows)};

ShownDialog::~ShownDialog()
{
    LONG result;
    // A test that stopped early leaves its dialog open: cancel whatever this
    // program shows until the call returns.
    while (!m_bWaited && !m_call.Done(&result)) {
        EnumWindows(CancelDialog, 0);
        Sleep(50);
    }
    if (!m_bWaited)
        m_call.Wait();
}

LONG ShownDialog::Press(int id)
{
    Click(m_hDlg, id);
    m_bWaited = true;
    return m_call.Wait();
}

LONG ShownDialog::Key(UINT vk)
{
    GUITHREADINFO info = {sizeof(info)};
    GetGUIThreadInfo(GetWindowThreadProcessId(m_hDlg, nullptr), &info);
    HWND target = info.hwndFocus ? info.hwndFocus : m_hDlg;
    PostMessageA(target, WM_KEYDOWN, vk, 1);
    PostMessageA(target, WM_KEYUP, vk, 0xC0000001);
    m_bWaited = true;
    return m_call.Wait();
}

std::wstring WindowTextW(HWND hwnd)
{
    WCHAR text[512] = L"";
    DWORD_PTR got = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, ARRAYSIZE(text), (LPARAM)text, SMTO_NORMAL, 5000, &got);
    return text;
}

std::wstring ItemTextW(HWND hDlg, int id)
{
    return WindowTextW(GetDlgItem(hDlg, id));
}

void ExpectLayout(HWND hDlg, const DialogLayout &layout, Lang lang, HWND hUnits)
{
    if (!hUnits)
        hUnits = hDlg;
    SCOPED_TRACE(layout.name);
    EXPECT_EQ(kCaption[lang], WindowTextW(hDlg));
    DWORD style = (DWORD)GetWindowLongA(hDlg, GWL_STYLE);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_EQ(layout.sysMenu, (style & WS_SYSMENU) != 0);

    LOGFONTW font = {};
    HFONT hFont = (HFONT)SendMessageW(hUnits, WM_GETFONT, 0, 0);
    GetObjectW(hFont, sizeof(font), &font);
    EXPECT_STREQ(kFontFace[lang], font.lfFaceName);
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(-MulDiv(kFontPoints[lang], GetDeviceCaps(screen, LOGPIXELSY), 72), font.lfHeight);
    ReleaseDC(nullptr, screen);

    RECT client, size = {0, 0, layout.cx, layout.cy};
    GetClientRect(hDlg, &client);
    MapDialogRect(hUnits, &size);
    EXPECT_EQ(size.right, client.right);
    EXPECT_EQ(size.bottom, client.bottom);

    HWND child = GetWindow(hDlg, GW_CHILD);
    for (size_t i = 0; i < layout.count; ++i, child = GetWindow(child, GW_HWNDNEXT)) {
        const ControlRow &row = layout.rows[i];
        SCOPED_TRACE(testing::Message() << "control " << i << " id " << row.id);
        ASSERT_TRUE(child);
        EXPECT_EQ(row.id, (WORD)GetDlgCtrlID(child));
        EXPECT_STRCASEEQ(row.cls, ClassOf(child).c_str());
        EXPECT_EQ(row.style, StyleOf(child, row.cls));
        if (row.text[lang]) {
            EXPECT_EQ(row.text[lang], WindowTextW(child));
            if (lstrcmpiA(row.cls, "Static") == 0 && (row.style & WS_VISIBLE)) {
                EXPECT_TRUE(TextFits(child, row.text[lang], hFont)) << "the text is cut";
            }
        }
        int cx = lang == Japanese && row.cxJapanese ? row.cxJapanese : row.cx;
        RECT want = {row.x, row.y, cx, row.cy}, got;
        MapDialogRect(hUnits, &want);
        GetWindowRect(child, &got);
        MapWindowPoints(HWND_DESKTOP, hDlg, (POINT *)&got, 2);
        EXPECT_EQ(want.left, got.left);
        EXPECT_EQ(want.top, got.top);
        // An icon takes the icon's size, and the platform may widen an etched
        // line. A drop-down list's height is that of the box and its open
        // list together, which no call reports as such: its open list is
        // compared with that of a list made here at the wanted height.
        DWORD type = row.style & SS_TYPEMASK;
        if (lstrcmpiA(row.cls, "ComboBox") == 0) {
            EXPECT_EQ(want.right, got.right - got.left);
            EXPECT_EQ(DroppedHeightAt(hUnits, want, row.style & CBS_DROPDOWNLIST, hFont), DroppedHeight(child));
        } else if (lstrcmpiA(row.cls, "Static") || (type != SS_ICON && type != SS_ETCHEDHORZ)) {
            EXPECT_EQ(want.right, got.right - got.left);
            EXPECT_EQ(want.bottom, got.bottom - got.top);
        }
    }
    EXPECT_EQ(nullptr, child) << "more controls than the layout";
}

void SaveDialogScreenshot(HWND hDlg, const DialogLayout &layout, Lang lang)
{
    WCHAR dir[MAX_PATH];
    if (!GetEnvironmentVariableW(L"KZT_SCREENSHOT_DIR", dir, MAX_PATH))
        return;
    RedrawWindow(hDlg, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(500);     // the dialog's thread paints
    std::wstring path = std::wstring(dir) + L"\\drvinst-";
    for (const char *p = layout.name; *p; ++p)
        path += (wchar_t)*p;
    path += lang == English ? L"-en.bmp" : L"-ja.bmp";
    EXPECT_TRUE(SaveScreenshot(path, hDlg));
}

namespace {
const Words kNone = {{L"None", L"なし"}}, kOdd = {{L"Odd", L"奇数"}}, kEven = {{L"Even", L"偶数"}},
            kMark = {{L"Mark", L"マーク"}}, kSpace = {{L"Space", L"スペース"}}, kOne = {{L"1", L"1"}},
            kOneHalf = {{L"1.5", L"1.5"}}, kTwo = {{L"2", L"2"}}, kHardware = {{L"Hardware", L"ハードウェア"}},
            kXonXoff = {{L"Xon/Xoff", L"Xon/Xoff"}}, kEmpty = {{L"", L""}};
const DWORD DE = DTR_CONTROL_ENABLE, DH = DTR_CONTROL_HANDSHAKE, RE = RTS_CONTROL_ENABLE,
            RH = RTS_CONTROL_HANDSHAKE, RT = RTS_CONTROL_TOGGLE;
}  // namespace

const SerialCase kSerialCases[] = {
    // name                          baud    bits parity        stop           dtr rts outX   inX
    {"COM2 19200 7E2 Xon/Xoff",      19200,  7, EVENPARITY,  TWOSTOPBITS,  DE, RE, true,  true,
     L"19200", L"7", kEven, kTwo, kXonXoff},
    {"9600 8N1, RTS toggle is no handshake", 9600, 8, NOPARITY, ONESTOPBIT, DE, RT, false, false,
     L"9600", L"8", kNone, kOne, kNone},
    {"odd, 1.5, DTR handshake",      4800,   8, ODDPARITY,   ONE5STOPBITS, DH, RE, false, false,
     L"4800", L"8", kOdd, kOneHalf, kHardware},
    {"mark, RTS handshake",          115200, 8, MARKPARITY,  ONESTOPBIT,   DE, RH, false, false,
     L"115200", L"8", kMark, kOne, kHardware},
    {"space, Xon/Xoff on input only", 2400,  5, SPACEPARITY, TWOSTOPBITS,  DE, RE, false, true,
     L"2400", L"5", kSpace, kTwo, kXonXoff},
    {"Xon/Xoff on output only",      1200,   6, NOPARITY,    ONESTOPBIT,   DE, RE, true,  false,
     L"1200", L"6", kNone, kOne, kXonXoff},
    {"Xon/Xoff and DTR handshake",   38400,  8, NOPARITY,    ONESTOPBIT,   DH, RE, true,  true,
     L"38400", L"8", kNone, kOne, kHardware},
    {"codes the tables lack",        256000, 8, 5,           0xFF,         DE, RE, false, false,
     L"256000", L"8", kEmpty, kEmpty, kNone},
};
const size_t kSerialCaseCount = ARRAYSIZE(kSerialCases);

COMMCONFIG SerialConfig(const SerialCase &c)
{
    COMMCONFIG config = {};
    config.dwSize = sizeof(config);
    config.wVersion = 1;
    config.dcb.DCBlength = sizeof(DCB);
    config.dcb.BaudRate = c.baud;
    config.dcb.ByteSize = c.byteSize;
    config.dcb.Parity = c.parity;
    config.dcb.StopBits = c.stopBits;
    config.dcb.fDtrControl = c.dtrControl;
    config.dcb.fRtsControl = c.rtsControl;
    config.dcb.fOutX = c.outX;
    config.dcb.fInX = c.inX;
    return config;
}

std::unique_ptr<ShownDialog> ShowComplete(const char *model, const char *port, const COMMCONFIG *config)
{
    std::string m = model, p = port;
    COMMCONFIG copy = {};
    bool hasConfig = config != nullptr;
    if (hasConfig)
        copy = *config;
    return std::unique_ptr<ShownDialog>(new ShownDialog(
        [m, p, copy, hasConfig] {
            CCompleteDialog dialog(m.c_str(), p.c_str(), hasConfig ? &copy : nullptr);
            return (LONG)dialog.DoModal(GetModuleHandleA(nullptr));
        },
        1010));
}

void ExpectSerialCases(Lang lang)
{
    for (size_t i = 0; i < kSerialCaseCount; ++i) {
        const SerialCase &c = kSerialCases[i];
        SCOPED_TRACE(testing::Message() << "case " << i << ": " << c.name);
        COMMCONFIG config = SerialConfig(c);
        auto shown = ShowComplete("Ostrel TZ-1000", "COM2:", &config);
        HWND hDlg = shown->Handle();
        ASSERT_TRUE(hDlg);
        EXPECT_EQ(c.baudText, ItemTextW(hDlg, 1012));
        EXPECT_EQ(c.byteSizeText, ItemTextW(hDlg, 1013));
        EXPECT_EQ(c.parityText.text[lang], ItemTextW(hDlg, 1014));
        EXPECT_EQ(c.stopBitsText.text[lang], ItemTextW(hDlg, 1015));
        EXPECT_EQ(c.flowText.text[lang], ItemTextW(hDlg, 1016));
        for (int id = 1017; id <= 1021; ++id) {
            EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hDlg, id))) << id;
            EXPECT_TRUE(TextFits(GetDlgItem(hDlg, id - 5), ItemTextW(hDlg, id - 5))) << id - 5 << " is cut";
        }
        if (i == 0)
            SaveDialogScreenshot(hDlg, kCompleteLayout, lang);
        EXPECT_EQ(IDOK, shown->Press(IDOK));
    }
}

std::unique_ptr<ShownDialog> ShowPlugUsb(const char *model, const char *port)
{
    std::string m = model, p = port;
    return std::unique_ptr<ShownDialog>(new ShownDialog(
        [m, p] {
            CModalEngineDialogs dialogs(GetModuleHandleA(nullptr), nullptr);
            return (LONG)dialogs.ShowPlugUsb(m.c_str(), p.c_str());
        },
        1022));
}

std::unique_ptr<ShownDialog> AskRestart(HWND *pOwner)
{
    return std::unique_ptr<ShownDialog>(new ShownDialog(
        [pOwner] {
            HWND owner = nullptr;
            if (pOwner)
                *pOwner = owner = CreateWindowA("STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                                nullptr, nullptr);
            CModalEngineDialogs dialogs(GetModuleHandleA(nullptr), owner);
            LONG result = dialogs.AskRestart();
            if (owner)
                DestroyWindow(owner);
            return result;
        },
        1025));
}
