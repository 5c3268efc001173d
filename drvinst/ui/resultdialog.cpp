#include "resultdialog.h"
#include "resource.h"

CResultDialog::CResultDialog(UINT idTemplate) : CDialog(idTemplate)
{
    OnCommandId(IDOK, [this] { End(IDOK); });
    OnCommandId(IDCANCEL, [this] { End(IDCANCEL); });
}

BOOL CResultDialog::OnInitDialog()
{
    SetWindowTextA(Handle(), LoadText(IDS_CAPTION).c_str());
    return TRUE;
}

std::string CResultDialog::LoadText(UINT idString) const
{
    // The dialog was created from this module's template.
    HINSTANCE hInstance = (HINSTANCE)GetWindowLongPtrA(Handle(), GWLP_HINSTANCE);
    char szText[256];
    if (LoadStringA(hInstance, idString, szText, sizeof(szText)) <= 0)
        return std::string();
    return szText;
}
