// Drives another process's windows as a person would: finds a window by its
// title, reads the text of its controls, presses buttons and check boxes,
// and answers message boxes.
#pragma once
#include <windows.h>
#include <string>

// The top-level window with this title, waiting up to timeoutMs; or null.
HWND WaitForWindow(const char *title, DWORD timeoutMs);
// Waits until the window is gone; false on timeout.
bool WaitForWindowGone(HWND hwnd, DWORD timeoutMs);
std::string ItemText(HWND hDlg, int id);
void Click(HWND hDlg, int id);
// A message box of a process (a dialog of class "#32770" with an OK button),
// waiting up to timeoutMs: its text, or null window.
HWND WaitForMessageBox(DWORD processId, DWORD timeoutMs, std::string *text);
// Saves the whole screen as a 24-bit BMP file; false on failure.
bool SaveScreenshot(const std::wstring &path);
