#include "rebootdialog.h"
#include "resource.h"

CRebootDialog::CRebootDialog() : CResultDialog(IDD_REBOOT) {}

BOOL CRebootDialog::OnInitDialog()
{
    CResultDialog::OnInitDialog();
    Bind(m_icon, IDC_REBOOT_ICON);
    HICON hIcon = LoadIconA(NULL, MAKEINTRESOURCEA(0x7F03));    // IDI_EXCLAMATION, shared: not destroyed
    m_icon.Send(STM_SETICON, (WPARAM)hIcon);
    return TRUE;
}
