// Drives another process's windows as a person would: finds a window by its
// title, reads the text of its controls, presses buttons and check boxes,
// and answers message boxes.
#pragma once
#include <windows.h>
#include <string>
#include <atomic>
#include <thread>

// Polls the condition every 50 ms until it holds (true) or timeoutMs has
// passed (false).
template <class Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(50);
    }
    return true;
}

// The top-level window with this title, waiting up to timeoutMs; or null.
HWND WaitForWindow(const char *title, DWORD timeoutMs);
// Waits until the window is gone; false on timeout.
bool WaitForWindowGone(HWND hwnd, DWORD timeoutMs);
std::string ItemText(HWND hDlg, int id);
void Click(HWND hDlg, int id);
// A message box of a process (a dialog of class "#32770" with an OK button),
// waiting up to timeoutMs: its text, or null window.
HWND WaitForMessageBox(DWORD processId, DWORD timeoutMs, std::string *text);
// Saves the screen, or only the rectangle of a window, as a 24-bit BMP
// file; false on failure.
bool SaveScreenshot(const std::wstring &path, HWND window = nullptr);
// Marks a window minimised (WS_MINIMIZE, what IsIconic reads) while it
// keeps its size, has it repaint, and looks on the screen for the icon drawn
// over the dialog background (COLOR_3DFACE) until timeoutMs has passed. A
// minimised window of Wine, as of Windows since 95, has no client area, so
// this is how its minimised painting is seen. True when found, with the
// icon's top-left corner relative to the window's in *pAt; the window stays
// marked.
bool FindIconWhileMinimised(HWND window, HICON icon, DWORD timeoutMs, POINT *pAt);

// Property sheets and their pages, driven through messages as a person would
// drive them with mouse and keyboard.
// The page of a process (any dialog holding a control of that id) and the
// top-level window it sits in, waiting up to timeoutMs; null page if none.
HWND WaitForPage(DWORD processId, int controlId, DWORD timeoutMs, HWND *pTopLevel);
// Types text into an edit of the page and leaves it (the page sees the
// edit lose the focus).
void TypeAndLeave(HWND hPage, int id, const char *text);
// Selects an item of a drop-down list as a click on it would.
void SelectListItem(HWND hPage, int id, int index);
int ListSelection(HWND hPage, int id);
std::string ListItemText(HWND hPage, int id, int index);
// Presses a button of a window and waits until the message is handled.
void Press(HWND hWnd, int id);

// Runs a modal call on a thread of its own while the test drives its windows.
class ModalCall {
public:
    template <class F>
    explicit ModalCall(F call) : m_thread([this, call] {
        m_result = call();
        m_done = true;
    })
    {
    }
    LONG Wait()
    {
        m_thread.join();
        return m_result;
    }
    // Whether the call has returned already, and what it answered.
    bool Done(LONG *pResult) const
    {
        if (m_done)
            *pResult = m_result;
        return m_done;
    }

private:
    LONG m_result = -99;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};
