#include "dialog.h"

std::string CControl::Text() const
{
    int cch = GetWindowTextLengthA(Handle());
    std::string text(cch + 1, '\0');
    GetDlgItemTextA(m_hDlg, m_id, &text[0], cch + 1);
    text.resize(lstrlenA(text.c_str()));
    return text;
}

std::string CComboBox::SelectedText() const
{
    int nSel = GetCurSel();
    if (nSel == CB_ERR)
        return Text();
    int cch = (int)Send(CB_GETLBTEXTLEN, nSel);
    if (cch == CB_ERR)
        return std::string();
    std::string text(cch + 1, '\0');
    Send(CB_GETLBTEXT, nSel, (LPARAM)&text[0]);
    text.resize(lstrlenA(text.c_str()));  // the length asked may be larger than the text
    return text;
}

int CRadioGroup::Checked() const
{
    for (int id = m_idFirst; id <= m_idLast; id++) {
        if (IsDlgButtonChecked(m_hDlg, id) == BST_CHECKED)
            return id;
    }
    return 0;
}

INT_PTR CDialog::DoModal(HINSTANCE hInstance, HWND hParent)
{
    m_hInstance = hInstance;
    return DialogBoxParamA(hInstance, MAKEINTRESOURCEA(m_idTemplate), hParent, DialogProc, (LPARAM)this);
}

// Adds a handler at the end, or replaces the one of the same id and code.
void CDialog::AddHandler(WORD id, int nCode, std::function<void()> handler)
{
    for (CommandHandler &h : m_handlers) {
        if (h.id == id && h.nCode == nCode) {
            h.handler = handler;
            return;
        }
    }
    m_handlers.push_back({id, nCode, handler});
}

// Runs the first handler for this id and code; FALSE when there is none.
BOOL CDialog::RunCommand(WORD id, WORD wCode)
{
    for (const CommandHandler &h : m_handlers) {
        if (h.id == id && (h.nCode == ANY_CODE || h.nCode == wCode)) {
            std::function<void()> handler = h.handler;  // the handler may add handlers
            handler();
            return TRUE;
        }
    }
    return FALSE;
}

// Loads the dialog's icon from DoModal's module and sets it as large and
// small icon; needs the window, so it runs at WM_INITDIALOG.
void CDialog::SetIcon()
{
    if (!m_idIcon)
        return;
    m_hIcon = LoadIconA(m_hInstance, MAKEINTRESOURCEA(m_idIcon));
    SendMessageA(m_hDlg, WM_SETICON, ICON_BIG, (LPARAM)m_hIcon);
    SendMessageA(m_hDlg, WM_SETICON, ICON_SMALL, (LPARAM)m_hIcon);
}

// WM_PAINT while minimised: the icon centred in the client area.
void CDialog::PaintIcon()
{
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(m_hDlg, &ps);
    RECT rc;
    GetClientRect(m_hDlg, &rc);
    DrawIcon(hdc, (rc.right - GetSystemMetrics(SM_CXICON) + 1) / 2, (rc.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2,
             m_hIcon);
    EndPaint(m_hDlg, &ps);
}

// These messages answer through the dialog procedure's return value, all
// others through DWLP_MSGRESULT, as the dialog manager reads them.
static BOOL AnswersDirectly(UINT msg)
{
    return (msg >= WM_CTLCOLORMSGBOX && msg <= WM_CTLCOLORSTATIC) || msg == WM_COMPAREITEM ||
           msg == WM_VKEYTOITEM || msg == WM_CHARTOITEM || msg == WM_QUERYDRAGICON || msg == WM_INITDIALOG;
}

// The dialog procedure of every CDialog: WM_INITDIALOG brings the object
// (DoModal's lParam), kept in DWLP_USER for the messages that follow.
INT_PTR CALLBACK CDialog::DialogProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    CDialog *pThis;
    if (msg == WM_INITDIALOG) {
        pThis = (CDialog *)lParam;
        SetWindowLongPtrA(hDlg, DWLP_USER, (LONG_PTR)pThis);
        pThis->m_hDlg = hDlg;
        pThis->SetIcon();
        return pThis->OnInitDialog();
    }
    pThis = (CDialog *)GetWindowLongPtrA(hDlg, DWLP_USER);
    if (!pThis)
        return FALSE;
    switch (msg) {
    case WM_COMMAND:
        return pThis->RunCommand(LOWORD(wParam), HIWORD(wParam));
    case WM_TIMER:
        pThis->OnTimer(wParam);
        return TRUE;
    case WM_PAINT:
        if (pThis->m_hIcon && IsIconic(hDlg)) {
            pThis->PaintIcon();
            return TRUE;
        }
        break;
    case WM_QUERYDRAGICON:
        if (pThis->m_hIcon)
            return (INT_PTR)pThis->m_hIcon;
        break;
    }
    LRESULT lResult = 0;
    if (!pThis->OnMessage(msg, wParam, lParam, &lResult))
        return FALSE;
    if (AnswersDirectly(msg))
        return (INT_PTR)lResult;
    SetWindowLongPtrA(hDlg, DWLP_MSGRESULT, lResult);
    return TRUE;
}
