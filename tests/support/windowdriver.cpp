#include "windowdriver.h"
#include <cstring>
#include <vector>

HWND WaitForWindow(const char *title, DWORD timeoutMs)
{
    HWND hwnd = nullptr;
    WaitUntil([&] { return (hwnd = FindWindowA(nullptr, title)) != nullptr; }, timeoutMs);
    return hwnd;
}

bool WaitForWindowGone(HWND hwnd, DWORD timeoutMs)
{
    return WaitUntil([&] { return !IsWindow(hwnd); }, timeoutMs);
}

std::string ItemText(HWND hDlg, int id)
{
    HWND item = GetDlgItem(hDlg, id);
    DWORD_PTR cch = 0;
    // SMTO_NORMAL: a thread that has just come back from a long call counts as hung
    // with SMTO_ABORTIFHUNG until it next reads a message, and would answer nothing.
    if (!item || !SendMessageTimeoutA(item, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 5000, &cch))
        return std::string();
    std::string text(cch + 1, '\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutA(item, WM_GETTEXT, cch + 1, (LPARAM)&text[0], SMTO_NORMAL, 5000, &got);
    text.resize(got);
    return text;
}

void Click(HWND hDlg, int id)
{
    PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(hDlg, id));
}

namespace {
struct Search {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindBox(HWND hwnd, LPARAM lParam)
{
    auto *search = (Search *)lParam;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    char cls[16] = "";
    GetClassNameA(hwnd, cls, sizeof(cls));
    if (pid == search->pid && lstrcmpA(cls, "#32770") == 0 && GetDlgItem(hwnd, 0xFFFF) && IsWindowVisible(hwnd)) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}
} // namespace

HWND WaitForMessageBox(DWORD processId, DWORD timeoutMs, std::string *text)
{
    Search search = {processId, nullptr};
    std::string found;
    // A box whose text cannot be read yet is looked at again.
    WaitUntil(
        [&] {
            search.found = nullptr;
            EnumWindows(FindBox, (LPARAM)&search);
            found = search.found ? ItemText(search.found, 0xFFFF) : std::string();
            return !found.empty();
        },
        timeoutMs);
    if (search.found && text)
        *text = found;
    return search.found;
}

bool SaveScreenshot(const std::wstring &path, HWND window)
{
    RECT rc = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (window)
        GetWindowRect(window, &rc);
    int cx = rc.right - rc.left, cy = rc.bottom - rc.top;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = cx;
    bi.bmiHeader.biHeight = cy;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void *bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bmp) {
        HGDIOBJ old = SelectObject(mem, bmp);
        BitBlt(mem, 0, 0, cx, cy, screen, rc.left, rc.top, SRCCOPY);
        SelectObject(mem, old);
        DWORD stride = ((cx * 3 + 3) & ~3u), cbBits = stride * cy;
        BITMAPFILEHEADER fh = {0x4D42, (DWORD)(sizeof(fh) + sizeof(bi.bmiHeader) + cbBits), 0, 0,
                               (DWORD)(sizeof(fh) + sizeof(bi.bmiHeader))};
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD cb;
            ok = WriteFile(file, &fh, sizeof(fh), &cb, nullptr) &&
                 WriteFile(file, &bi.bmiHeader, sizeof(bi.bmiHeader), &cb, nullptr) &&
                 WriteFile(file, bits, cbBits, &cb, nullptr);
            CloseHandle(file);
        }
        DeleteObject(bmp);
    }
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

namespace {
// A 32-bit bitmap of cx by cy pixels in a memory DC.
struct Pixels {
    Pixels(int cx, int cy) : cx(cx), cy(cy), bits(cx * cy)
    {
        dc = CreateCompatibleDC(nullptr);
        BITMAPINFO bi = {};
        bi.bmiHeader = {sizeof(bi.bmiHeader), cx, -cy, 1, 32, BI_RGB};
        bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &pBits, nullptr, 0);
        old = SelectObject(dc, bmp);
    }
    ~Pixels()
    {
        SelectObject(dc, old);
        DeleteObject(bmp);
        DeleteDC(dc);
    }
    // Takes what was drawn into dc into bits.
    void Keep()
    {
        GdiFlush();
        memcpy(bits.data(), pBits, bits.size() * sizeof(DWORD));
    }
    // Where the block's colours (not alpha) appear, top-left first.
    bool Find(const Pixels &block, POINT *pAt) const
    {
        for (int y = 0; y + block.cy <= cy; y++) {
            for (int x = 0; x + block.cx <= cx; x++) {
                bool same = true;
                for (int i = 0; same && i < block.cy; i++) {
                    for (int j = 0; same && j < block.cx; j++)
                        same = ((bits[(y + i) * cx + x + j] ^ block.bits[i * block.cx + j]) & 0xFFFFFF) == 0;
                }
                if (same) {
                    *pAt = {x, y};
                    return true;
                }
            }
        }
        return false;
    }
    int cx, cy;
    std::vector<DWORD> bits;
    HDC dc;
    HBITMAP bmp;
    HGDIOBJ old;
    void *pBits = nullptr;
};
} // namespace

bool FindIconWhileMinimised(HWND window, HICON icon, DWORD timeoutMs, POINT *pAt)
{
    const int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
    Pixels iconOnFace(cx, cy);
    RECT face = {0, 0, cx, cy};
    FillRect(iconOnFace.dc, &face, GetSysColorBrush(COLOR_3DFACE));
    DrawIcon(iconOnFace.dc, 0, 0, icon);
    iconOnFace.Keep();

    SetWindowLongPtrA(window, GWL_STYLE, GetWindowLongPtrA(window, GWL_STYLE) | WS_MINIMIZE);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    RECT rc;
    GetWindowRect(window, &rc);
    Pixels shown(rc.right - rc.left, rc.bottom - rc.top);
    return WaitUntil(
        [&] {
            HDC screen = GetDC(nullptr);
            BitBlt(shown.dc, 0, 0, shown.cx, shown.cy, screen, rc.left, rc.top, SRCCOPY);
            ReleaseDC(nullptr, screen);
            shown.Keep();
            return shown.Find(iconOnFace, pAt);
        },
        timeoutMs);
}

namespace {
struct PageSearch {
    DWORD pid;
    int controlId;
    HWND page;
    HWND topLevel;
};

BOOL CALLBACK FindPageChild(HWND hwnd, LPARAM lParam)
{
    auto *search = (PageSearch *)lParam;
    if (GetDlgCtrlID(hwnd) == search->controlId && IsWindowVisible(GetParent(hwnd))) {
        search->page = GetParent(hwnd);
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK FindPageTop(HWND hwnd, LPARAM lParam)
{
    auto *search = (PageSearch *)lParam;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != search->pid || !IsWindowVisible(hwnd))
        return TRUE;
    EnumChildWindows(hwnd, FindPageChild, lParam);
    if (search->page) {
        search->topLevel = hwnd;
        return FALSE;
    }
    return TRUE;
}
} // namespace

HWND WaitForPage(DWORD processId, int controlId, DWORD timeoutMs, HWND *pTopLevel)
{
    PageSearch search = {processId, controlId, nullptr, nullptr};
    WaitUntil([&] { return EnumWindows(FindPageTop, (LPARAM)&search), search.page != nullptr; }, timeoutMs);
    if (search.page && pTopLevel)
        *pTopLevel = search.topLevel;
    return search.page;
}

void TypeAndLeave(HWND hPage, int id, const char *text)
{
    HWND edit = GetDlgItem(hPage, id);
    SendMessageA(hPage, WM_COMMAND, MAKEWPARAM(id, EN_SETFOCUS), (LPARAM)edit);
    SendMessageA(edit, WM_SETTEXT, 0, (LPARAM)text);
    SendMessageA(hPage, WM_COMMAND, MAKEWPARAM(id, EN_CHANGE), (LPARAM)edit);
    SendMessageA(hPage, WM_COMMAND, MAKEWPARAM(id, EN_KILLFOCUS), (LPARAM)edit);
}

void SelectListItem(HWND hPage, int id, int index)
{
    HWND list = GetDlgItem(hPage, id);
    SendMessageA(list, CB_SETCURSEL, index, 0);
    SendMessageA(hPage, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), (LPARAM)list);
}

int ListSelection(HWND hPage, int id)
{
    return (int)SendDlgItemMessageA(hPage, id, CB_GETCURSEL, 0, 0);
}

std::string ListItemText(HWND hPage, int id, int index)
{
    char text[256] = "";
    SendDlgItemMessageA(hPage, id, CB_GETLBTEXT, index, (LPARAM)text);
    return text;
}

void Press(HWND hWnd, int id)
{
    SendMessageA(hWnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(hWnd, id));
}

