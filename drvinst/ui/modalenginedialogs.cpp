#include "modalenginedialogs.h"
#include "plugusbdialog.h"
#include "rebootdialog.h"

CModalEngineDialogs::CModalEngineDialogs(HINSTANCE hInstance, HWND hOwner)
    : m_hInstance(hInstance), m_hOwner(hOwner)
{
}

int CModalEngineDialogs::AskRestart()
{
    CRebootDialog dialog;
    return (int)dialog.DoModal(m_hInstance, m_hOwner);
}

int CModalEngineDialogs::ShowPlugUsb(const char *pszModel, const char *pszPort)
{
    CPlugUsbDialog dialog(pszModel, pszPort);
    return (int)dialog.DoModal(m_hInstance, m_hOwner);
}
