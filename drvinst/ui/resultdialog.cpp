#include "resultdialog.h"
#include "resource.h"

CResultDialog::CResultDialog(UINT idTemplate, UINT idIcon) : CDialog(idTemplate, idIcon)
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
    char szText[256];
    if (LoadStringA(Instance(), idString, szText, sizeof(szText)) <= 0)
        return std::string();
    return szText;
}
