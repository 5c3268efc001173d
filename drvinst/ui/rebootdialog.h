// The restart question (template 132): a caption but no close box, the
// system's warning icon, Yes and No.
#pragma once
#include "resultdialog.h"

class CRebootDialog : public CResultDialog {
public:
    // DoModal answers IDOK for Yes and IDCANCEL for No or Escape.
    CRebootDialog();

protected:
    BOOL OnInitDialog() override;

private:
    CControl m_icon;
};
