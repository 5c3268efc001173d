#include "plugusbdialog.h"
#include "resource.h"

CPlugUsbDialog::CPlugUsbDialog(const char *pszModel, const char *pszPort)
    : CResultDialog(IDD_PLUGUSB), m_strModel(pszModel ? pszModel : ""), m_strPort(pszPort ? pszPort : "")
{
}

BOOL CPlugUsbDialog::OnInitDialog()
{
    CResultDialog::OnInitDialog();
    Bind(m_model, IDC_USB_MODEL);
    Bind(m_port, IDC_USB_PORT);
    m_model.SetText(m_strModel.c_str());
    m_port.SetText(m_strPort.c_str());
    return TRUE;
}
