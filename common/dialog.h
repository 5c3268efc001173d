// A small dialog class framework for the dialog programs: a dialog from a
// template run modally, controls bound to members, command handlers by
// control id, timers and other messages through virtual handlers, and
// message boxes. ANSI, like the programs that use it.
#pragma once
#include <windows.h>
#include <functional>
#include <map>
#include <string>

class CDialog;

// One control of a dialog, bound by id when the dialog starts.
class CControl {
public:
    CControl() : m_hDlg(NULL), m_id(0) {}
    void Bind(HWND hDlg, int id) { m_hDlg = hDlg; m_id = id; }
    HWND Handle() const { return GetDlgItem(m_hDlg, m_id); }
    int Id() const { return m_id; }
    std::string Text() const;
    void SetText(LPCSTR pszText) const { SetDlgItemTextA(m_hDlg, m_id, pszText); }
    void Enable(BOOL bEnable) const { EnableWindow(Handle(), bEnable); }
    BOOL IsChecked() const { return IsDlgButtonChecked(m_hDlg, m_id) == BST_CHECKED; }
    LRESULT Send(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return SendDlgItemMessageA(m_hDlg, m_id, msg, wParam, lParam);
    }

private:
    HWND m_hDlg;
    int m_id;
};

// A multi-line edit used as a scrolling log panel.
class CEditPanel : public CControl {
public:
    void Append(LPCSTR pszText) const { Send(EM_REPLACESEL, FALSE, (LPARAM)pszText); }
    int LineCount() const { return (int)Send(EM_GETLINECOUNT); }
    // Selects everything and scrolls to the caret: the next text replaces it.
    void SelectAll() const
    {
        Send(EM_SETSEL, 0, -1);
        Send(EM_SCROLLCARET);
    }
};

class CDialog {
public:
    explicit CDialog(UINT idTemplate) : m_idTemplate(idTemplate), m_hDlg(NULL) {}
    virtual ~CDialog() {}

    // Runs the dialog modally; returns the value given to End.
    INT_PTR DoModal(HINSTANCE hInstance, HWND hParent = NULL);
    HWND Handle() const { return m_hDlg; }
    // Registers a handler for WM_COMMAND from control id.
    void OnCommandId(WORD id, std::function<void()> handler) { m_commands[id] = handler; }
    void End(INT_PTR nResult) { EndDialog(m_hDlg, nResult); }
    int Message(LPCSTR pszText, LPCSTR pszCaption, UINT uType) const
    {
        return MessageBoxA(m_hDlg, pszText, pszCaption, uType);
    }

protected:
    // Binds a member control to its id; call from OnInitDialog.
    void Bind(CControl &control, int id) { control.Bind(m_hDlg, id); }

    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnTimer(UINT_PTR idTimer) {}
    // Any other message; return TRUE when handled, with *pResult set.
    virtual BOOL OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT *pResult) { return FALSE; }

private:
    static INT_PTR CALLBACK DialogProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam);

    UINT m_idTemplate;
    HWND m_hDlg;
    std::map<WORD, std::function<void()>> m_commands;
};
