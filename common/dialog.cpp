#include "dialog.h"

std::string CControl::Text() const
{
    int cch = GetWindowTextLengthA(Handle());
    std::string text(cch + 1, '\0');
    GetDlgItemTextA(m_hDlg, m_id, &text[0], cch + 1);
    text.resize(lstrlenA(text.c_str()));
    return text;
}

INT_PTR CDialog::DoModal(HINSTANCE hInstance, HWND hParent)
{
    return DialogBoxParamA(hInstance, MAKEINTRESOURCEA(m_idTemplate), hParent, DialogProc, (LPARAM)this);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    CDialog *pThis;
    if (msg == WM_INITDIALOG) {
        pThis = (CDialog *)lParam;
        SetWindowLongPtrA(hDlg, DWLP_USER, (LONG_PTR)pThis);
        pThis->m_hDlg = hDlg;
        return pThis->OnInitDialog();
    }
    pThis = (CDialog *)GetWindowLongPtrA(hDlg, DWLP_USER);
    if (!pThis)
        return FALSE;
    switch (msg) {
    case WM_COMMAND: {
        auto it = pThis->m_commands.find(LOWORD(wParam));
        if (it == pThis->m_commands.end())
            return FALSE;
        it->second();
        return TRUE;
    }
    case WM_TIMER:
        pThis->OnTimer(wParam);
        return TRUE;
    default: {
        LRESULT lResult = 0;
        if (!pThis->OnMessage(msg, wParam, lParam, &lResult))
            return FALSE;
        SetWindowLongPtrA(hDlg, DWLP_MSGRESULT, lResult);
        return TRUE;
    }
    }
}
