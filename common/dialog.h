// A small dialog class framework for the dialog programs: a dialog from a
// template run modally, controls bound to members, command handlers by
// control id and notification code, timers and other messages through
// virtual handlers, the dialog's icon, and message boxes. ANSI, like the
// programs that use it.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

class CDialog;

// One control of a dialog, bound by id when the dialog starts. Every call
// but Bind needs the binding, made in the dialog's OnInitDialog.
class CControl {
public:
    CControl() : m_hDlg(NULL), m_id(0) {}  // unbound
    // Binds to the control id of the dialog window hDlg.
    void Bind(HWND hDlg, int id) { m_hDlg = hDlg; m_id = id; }
    // The control's window; NULL when the dialog has no control of this id.
    HWND Handle() const { return GetDlgItem(m_hDlg, m_id); }
    int Id() const { return m_id; }  // the bound id
    // The control's window text, a copy; empty when there is none.
    std::string Text() const;
    // Sets the window text; the control keeps a copy of pszText.
    void SetText(LPCSTR pszText) const { SetDlgItemTextA(m_hDlg, m_id, pszText); }
    // Enables the control, or greys it with FALSE.
    void Enable(BOOL bEnable) const { EnableWindow(Handle(), bEnable); }
    // TRUE when a check box or radio button is checked.
    BOOL IsChecked() const { return IsDlgButtonChecked(m_hDlg, m_id) == BST_CHECKED; }
    // Sends a message to the control and returns its answer.
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
    // Replaces the selection (at first the caret) with a copy of the text.
    void Append(LPCSTR pszText) const { Send(EM_REPLACESEL, FALSE, (LPARAM)pszText); }
    int LineCount() const { return (int)Send(EM_GETLINECOUNT); }  // at least 1
    // Selects everything and scrolls to the caret: the next text replaces it.
    void SelectAll() const
    {
        Send(EM_SETSEL, 0, -1);
        Send(EM_SCROLLCARET);
    }
};

// A combo box. Entries are counted from 0; CB_ERR (-1) stands for none.
// None of these calls sends CBN_SELCHANGE: only the user's choice does.
class CComboBox : public CControl {
public:
    // Adds a copy of the text (a sorted list puts it in its place); its
    // index, or CB_ERR or CB_ERRSPACE on failure.
    int AddString(LPCSTR pszText) const { return (int)Send(CB_ADDSTRING, 0, (LPARAM)pszText); }
    // The selected entry, CB_ERR when none is selected.
    int GetCurSel() const { return (int)Send(CB_GETCURSEL); }
    // Selects entry nIndex, or clears the selection with -1; FALSE when
    // nIndex is past the last entry.
    BOOL SetCurSel(int nIndex) const { return (int)Send(CB_SETCURSEL, nIndex) == nIndex; }
    // The selected entry's text, a copy; with none selected, the control's
    // window text (what is typed in a drop-down combo, else empty).
    std::string SelectedText() const;
};

// Radio buttons with the consecutive ids idFirst to idLast, bound like a
// control in OnInitDialog.
class CRadioGroup {
public:
    CRadioGroup() : m_hDlg(NULL), m_idFirst(0), m_idLast(0) {}  // unbound
    // Binds to the buttons idFirst to idLast of the dialog window hDlg.
    void Bind(HWND hDlg, int idFirst, int idLast)
    {
        m_hDlg = hDlg;
        m_idFirst = idFirst;
        m_idLast = idLast;
    }
    // Checks button id and clears the others of the group; an id outside
    // the group clears them all. Sends no BN_CLICKED.
    BOOL Check(int id) const { return CheckRadioButton(m_hDlg, m_idFirst, m_idLast, id); }
    // The id of the first checked button of the group, 0 when none is.
    int Checked() const;

private:
    HWND m_hDlg;
    int m_idFirst, m_idLast;
};

class CDialog {
public:
    // idTemplate: the dialog resource; idIcon: an icon resource of the same
    // module, set as large and small icon and drawn while minimised; 0 for
    // a dialog without an icon of its own.
    explicit CDialog(UINT idTemplate, UINT idIcon = 0)
        : m_idTemplate(idTemplate), m_idIcon(idIcon), m_hInstance(NULL), m_hDlg(NULL), m_hIcon(NULL)
    {
    }
    virtual ~CDialog() {}

    // Runs the dialog modally from hInstance's template; returns the value
    // given to End, or -1 when the dialog could not be created.
    INT_PTR DoModal(HINSTANCE hInstance, HWND hParent = NULL);
    // The dialog window while the dialog runs.
    HWND Handle() const { return m_hDlg; }

    // Command handlers, registered before DoModal or from a running handler.
    // A WM_COMMAND runs the first registered handler that matches its id and
    // notification code; registering the same id and code again replaces
    // the handler. OnCommandId matches every code of its id (buttons, menus,
    // accelerators, IDOK and IDCANCEL from the keyboard).
    void OnCommand(WORD id, WORD wCode, std::function<void()> handler) { AddHandler(id, wCode, handler); }
    void OnCommandId(WORD id, std::function<void()> handler) { AddHandler(id, ANY_CODE, handler); }
    void OnClicked(WORD id, std::function<void()> handler) { AddHandler(id, BN_CLICKED, handler); }
    void OnSelChange(WORD id, std::function<void()> handler) { AddHandler(id, CBN_SELCHANGE, handler); }

    // Ends the running dialog: DoModal returns nResult.
    void End(INT_PTR nResult) { EndDialog(m_hDlg, nResult); }
    // A message box owned by the dialog; returns the button pressed.
    int Message(LPCSTR pszText, LPCSTR pszCaption, UINT uType) const
    {
        return MessageBoxA(m_hDlg, pszText, pszCaption, uType);
    }

protected:
    // Bind a member control or radio group to its ids; call from OnInitDialog.
    void Bind(CControl &control, int id) { control.Bind(m_hDlg, id); }
    void Bind(CRadioGroup &group, int idFirst, int idLast) { group.Bind(m_hDlg, idFirst, idLast); }

    // WM_INITDIALOG, after the icon is set; returns whether the system sets
    // the focus.
    virtual BOOL OnInitDialog() { return TRUE; }
    // WM_TIMER of a timer set on the dialog window, with its id.
    virtual void OnTimer(UINT_PTR idTimer) {}
    // Any other message; return TRUE when handled, with *pResult set. The
    // result reaches the sender as the dialog manager requires (directly for
    // WM_CTLCOLOR*, WM_QUERYDRAGICON and their kind).
    virtual BOOL OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT *pResult) { return FALSE; }

private:
    enum { ANY_CODE = -1 };  // notification codes are 0 to 0xFFFF
    struct CommandHandler {
        WORD id;
        int nCode;           // a notification code, or ANY_CODE
        std::function<void()> handler;
    };

    void AddHandler(WORD id, int nCode, std::function<void()> handler);
    BOOL RunCommand(WORD id, WORD wCode);
    void SetIcon();
    void PaintIcon();
    static INT_PTR CALLBACK DialogProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam);

    UINT m_idTemplate;
    UINT m_idIcon;
    HINSTANCE m_hInstance;
    HWND m_hDlg;
    HICON m_hIcon;           // shared icon from LoadIcon, never destroyed
    std::vector<CommandHandler> m_handlers;
};
