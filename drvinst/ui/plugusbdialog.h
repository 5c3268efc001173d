// The USB notice (template 131): the printer was installed for the generic
// USB port and works once its cable is plugged in.
#pragma once
#include "resultdialog.h"

class CPlugUsbDialog : public CResultDialog {
public:
    // Model and port texts, copied (NULL shows nothing); then DoModal, whose
    // result the engine ignores.
    CPlugUsbDialog(const char *pszModel, const char *pszPort);

protected:
    BOOL OnInitDialog() override;

private:
    std::string m_strModel;
    std::string m_strPort;
    CControl m_model;
    CControl m_port;
};
