// The room each kind of control gives its text is the one user32 draws it in:
// a push button inside its edge and focus frame, a check box or radio button
// beside its box (12 pixels at 96 DPI, and half a digit's width), a group
// box's title between its frame's ends, a drop-down list's item beside its
// arrow button.
#include "labelcheck.h"
#include "testenv.h"
#include <stdlib.h>

namespace {

std::wstring TextOf(HWND hwnd)
{
    std::wstring text(GetWindowTextLengthW(hwnd) + 1, L'\0');
    text.resize(GetWindowTextW(hwnd, &text[0], (int)text.size()));
    return text;
}

// Whether the text, drawn with the flags in the control's font, fits a room
// of cx by cy pixels; else one line that says so.
bool Fits(HWND control, const std::wstring &text, UINT flags, int cx, int cy, std::vector<std::string> *pCut)
{
    if (text.empty())
        return true;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, (HFONT)SendMessageW(control, WM_GETFONT, 0, 0));
    RECT need = {0, 0, cx, 0};
    DrawTextW(dc, text.c_str(), -1, &need, flags | DT_CALCRECT | DT_EXPANDTABS);
    SelectObject(dc, old);
    DeleteDC(dc);
    if (need.right <= cx && need.bottom <= cy)
        return true;
    pCut->push_back("id " + std::to_string(GetDlgCtrlID(control)) + " \"" + Narrow(text) + "\" needs " +
                    std::to_string(need.right) + " x " + std::to_string(need.bottom) + " px, has " +
                    std::to_string(cx) + " x " + std::to_string(cy));
    return false;
}

// Half the width of a digit in the control's font, what a check box leaves
// between its box and its text.
int HalfDigit(HWND control)
{
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, (HFONT)SendMessageW(control, WM_GETFONT, 0, 0));
    INT width = 0;
    GetCharWidthW(dc, L'0', L'0', &width);
    SelectObject(dc, old);
    DeleteDC(dc);
    return width / 2;
}

void CheckStatic(HWND control, DWORD style, const RECT &client, std::vector<std::string> *pCut)
{
    UINT flags = (style & SS_NOPREFIX) ? DT_NOPREFIX : 0;
    switch (style & SS_TYPEMASK) {
    case SS_LEFT:
    case SS_CENTER:
    case SS_RIGHT:
        flags |= (style & SS_CENTERIMAGE) ? DT_SINGLELINE : DT_WORDBREAK;
        break;
    case SS_SIMPLE:
    case SS_LEFTNOWORDWRAP:
        flags |= DT_SINGLELINE;
        break;
    default:
        return;     // a picture, a frame or a line
    }
    Fits(control, TextOf(control), flags, client.right, client.bottom, pCut);
}

void CheckButton(HWND control, DWORD style, const RECT &client, std::vector<std::string> *pCut)
{
    UINT lines = (style & BS_MULTILINE) ? DT_WORDBREAK : DT_SINGLELINE;
    int edgeX = GetSystemMetrics(SM_CXEDGE), edgeY = GetSystemMetrics(SM_CYEDGE);
    switch (style & BS_TYPEMASK) {
    case BS_PUSHBUTTON:
    case BS_DEFPUSHBUTTON:
        Fits(control, TextOf(control), lines, client.right - 2 * (edgeX + 1), client.bottom - 2 * edgeY, pCut);
        break;
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
    case BS_3STATE:
    case BS_AUTO3STATE: {
        HDC screen = GetDC(nullptr);
        int box = MulDiv(12, GetDeviceCaps(screen, LOGPIXELSX), 96) + 1;
        ReleaseDC(nullptr, screen);
        Fits(control, TextOf(control), lines, client.right - box - HalfDigit(control), client.bottom, pCut);
        break;
    }
    case BS_GROUPBOX:
        Fits(control, TextOf(control), DT_SINGLELINE, client.right - 4 * HalfDigit(control), client.bottom, pCut);
        break;
    default:
        break;
    }
}

void CheckDropDownList(HWND control, const RECT &client, std::vector<std::string> *pCut)
{
    int room = client.right - GetSystemMetrics(SM_CXVSCROLL) - 2 * GetSystemMetrics(SM_CXEDGE) - 2;
    int count = (int)SendMessageW(control, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; ++i) {
        std::wstring item((size_t)SendMessageW(control, CB_GETLBTEXTLEN, i, 0) + 1, L'\0');
        item.resize((size_t)SendMessageW(control, CB_GETLBTEXT, i, (LPARAM)&item[0]));
        Fits(control, item, DT_SINGLELINE | DT_NOPREFIX, room, client.bottom, pCut);
    }
}

}  // namespace

int BecomeDpiAware()
{
    // Vista and later; Wine has it.
    typedef BOOL(WINAPI * PFN_SETPROCESSDPIAWARE)(void);
    auto pfn = (PFN_SETPROCESSDPIAWARE)GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDPIAware");
    if (pfn)
        pfn();
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi;
}

int PrefixDpi()
{
    const char *prefix = getenv("KZT_PREFIX");
    if (prefix && strncmp(prefix, "dpi", 3) == 0 && atoi(prefix + 3) > 0)
        return atoi(prefix + 3);
    return 96;
}

std::vector<std::string> CutLabels(HWND hDlg)
{
    std::vector<std::string> cut;
    RECT page;
    GetClientRect(hDlg, &page);
    struct Placed {
        HWND hwnd;
        RECT rect;      // in the dialog's client area
        bool frame;     // a group box, which holds others
    };
    std::vector<Placed> placed;
    for (HWND child = GetWindow(hDlg, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        DWORD style = (DWORD)GetWindowLongW(child, GWL_STYLE);
        if (!(style & WS_VISIBLE))
            continue;
        WCHAR cls[32] = L"";
        GetClassNameW(child, cls, 32);
        RECT client;
        GetClientRect(child, &client);
        bool button = lstrcmpiW(cls, L"Button") == 0;
        if (lstrcmpiW(cls, L"Static") == 0)
            CheckStatic(child, style, client, &cut);
        else if (button)
            CheckButton(child, style, client, &cut);
        else if (lstrcmpiW(cls, L"ComboBox") == 0 && (style & 3) == CBS_DROPDOWNLIST)
            CheckDropDownList(child, client, &cut);
        // A label the room of its own control holds can still lie under a
        // neighbour or past the dialog's edge.
        Placed p = {child, {}, button && (style & BS_TYPEMASK) == BS_GROUPBOX};
        GetWindowRect(child, &p.rect);
        MapWindowPoints(HWND_DESKTOP, hDlg, (POINT *)&p.rect, 2);
        RECT inside;
        if (!IntersectRect(&inside, &p.rect, &page) || !EqualRect(&inside, &p.rect))
            cut.push_back("id " + std::to_string(GetDlgCtrlID(child)) + " reaches past the dialog's edge");
        for (const Placed &q : placed) {
            if (!p.frame && !q.frame && IntersectRect(&inside, &p.rect, &q.rect))
                cut.push_back("id " + std::to_string(GetDlgCtrlID(child)) + " overlaps id " +
                              std::to_string(GetDlgCtrlID(q.hwnd)));
        }
        placed.push_back(p);
    }
    return cut;
}
