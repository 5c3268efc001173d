#include "windowdriver.h"

HWND WaitForWindow(const char *title, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    do {
        if (HWND hwnd = FindWindowA(nullptr, title))
            return hwnd;
        Sleep(50);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

bool WaitForWindowGone(HWND hwnd, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (IsWindow(hwnd)) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(50);
    }
    return true;
}

std::string ItemText(HWND hDlg, int id)
{
    HWND item = GetDlgItem(hDlg, id);
    DWORD_PTR cch = 0;
    if (!item || !SendMessageTimeoutA(item, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &cch))
        return std::string();
    std::string text(cch + 1, '\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutA(item, WM_GETTEXT, cch + 1, (LPARAM)&text[0], SMTO_ABORTIFHUNG, 5000, &got);
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
    DWORD start = GetTickCount();
    do {
        Search search = {processId, nullptr};
        EnumWindows(FindBox, (LPARAM)&search);
        if (search.found) {
            if (text)
                *text = ItemText(search.found, 0xFFFF);
            return search.found;
        }
        Sleep(50);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}
