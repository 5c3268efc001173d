// The installer's main dialog (template 102): the action (Install,
// Uninstall, the hidden Reinstall), the model from the INF, the port from the
// spooler, the serial port set-up, and Start, which runs the install engine
// on a context of its own and then closes the dialog.
#pragma once
#include "resultdialog.h"
#include <string>

class CInstallContext;

class CInstallDialog : public CResultDialog {
public:
    // Then DoModal with the module that holds the templates; the result is
    // IDOK after a successful Start, IDCANCEL otherwise, and means nothing
    // to the program. Each handler builds and destroys its own context.
    CInstallDialog();

    // Writes the selected model's "ComPortSettings" into the DCB of pConfig
    // (a 52-byte COMMCONFIG); nothing when the model has none.
    void ApplyComPortSettings(COMMCONFIG *pConfig) const;

protected:
    BOOL OnInitDialog() override;

private:
    void OnSelchangeModel();
    void OnSelchangePort();
    void OnComConfig();
    void OnInstall();
    void OnUninstall();
    void OnStart();

    BOOL FillModelList(CInstallContext &ctx);
    BOOL ReadModel();
    BOOL RunAction(CInstallContext &ctx);
    void SetActionFromCommandLine(const CInstallContext &ctx);
    BOOL StartContext(CInstallContext &ctx);
    // The error box of every failure (stop icon, the program's caption).
    void ErrorBox(const char *pszText) const;
    // The error box, then the dialog ends with IDCANCEL; returns FALSE.
    BOOL Fail(const char *pszText);

    CComboBox m_comboModel;
    CComboBox m_comboPort;
    CRadioGroup m_action;       // 1005 to 1008: Install, Uninstall, Reinstall, the line
    CControl m_install, m_uninstall, m_reinstall;
    CControl m_portLabel;
    CControl m_comConfig;
    CControl m_start;

    std::string m_strInfFileName;      // the INF the dialog works with, fixed at start-up
    std::string m_strPorts;            // the model's "Ports": preferred ports, comma-separated
    std::string m_strComPortSettings;  // the model's "ComPortSettings"
    BOOL m_bComConfigured;             // COM Config saved a configuration for this COM port
};

// The caption of the program's message boxes.
extern const char g_szProgramName[];
