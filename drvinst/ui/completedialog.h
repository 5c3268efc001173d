// The completion dialog (template 130): the installed model and port and,
// when a serial configuration was read, the port's line settings.
#pragma once
#include "resultdialog.h"
#include <stddef.h>

// The configuration is kept as one fixed 52-byte copy.
static_assert(sizeof(COMMCONFIG) == 52, "COMMCONFIG layout");
static_assert(offsetof(COMMCONFIG, dcb) == 8, "COMMCONFIG layout");
static_assert(sizeof(DCB) == 28, "DCB layout");

class CCompleteDialog : public CResultDialog {
public:
    // Model and port texts (copied; NULL shows nothing) and the serial
    // configuration: a whole COMMCONFIG, copied, or NULL when none was read.
    // A copy whose dwSize is 0 counts as none. Then DoModal; its result is
    // IDOK or IDCANCEL and means nothing.
    CCompleteDialog(const char *pszModel, const char *pszPort, const COMMCONFIG *pConfig);

protected:
    BOOL OnInitDialog() override;

private:
    void ShowLineSettings();

    std::string m_strModel;
    std::string m_strPort;
    COMMCONFIG m_config;
    CControl m_model;
    CControl m_port;
    CControl m_values[5];   // bits per second, data bits, parity, stop bits, flow control
    CControl m_labels[5];
};
