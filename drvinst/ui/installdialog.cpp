#include "installdialog.h"
#include "comsettings.h"
#include "completedialog.h"
#include "installcontext.h"
#include "modalenginedialogs.h"
#include "portlist.h"
#include "resource.h"
#include "splstr.h"

const char g_szProgramName[] = "drvinst";

static const char kLogFileName[] = "kztdebug.txt";

CInstallDialog::CInstallDialog() : CResultDialog(IDD_INSTALL, IDI_APP), m_bComConfigured(FALSE)
{
    OnSelChange(IDC_MODEL, [this] { OnSelchangeModel(); });
    OnSelChange(IDC_PORT, [this] { OnSelchangePort(); });
    OnClicked(IDC_COMCONFIG, [this] { OnComConfig(); });
    OnClicked(IDC_INSTALL, [this] { OnInstall(); });
    OnClicked(IDC_REINSTALL, [this] { OnInstall(); });
    OnClicked(IDC_UNINSTALL, [this] { OnUninstall(); });
    OnClicked(IDC_START, [this] { OnStart(); });
}

void CInstallDialog::ApplyComPortSettings(COMMCONFIG *pConfig) const
{
    ::ApplyComPortSettings(m_strComPortSettings.c_str(), pConfig);
}

void CInstallDialog::ErrorBox(const char *pszText) const
{
    Message(pszText, g_szProgramName, MB_OK | MB_ICONHAND);
}

BOOL CInstallDialog::Fail(const char *pszText)
{
    ErrorBox(pszText);
    End(IDCANCEL);
    return FALSE;
}

// A handler's context: the log and the command line, as every handler
// starts. FALSE after the error box, with the dialog ending.
BOOL CInstallDialog::StartContext(CInstallContext &ctx)
{
    ctx.SetLogFileName(kLogFileName);
    if (!ctx.ParseCommand())
        return Fail(ctx.GetErrorText());
    return TRUE;
}

// Fills the lists, preselects what the command line names and locks the
// action it chose. Every failure shows its box and ends the dialog with
// IDCANCEL before it is seen.
BOOL CInstallDialog::OnInitDialog()
{
    CResultDialog::OnInitDialog();  // the caption
    Bind(m_comboModel, IDC_MODEL);
    Bind(m_comboPort, IDC_PORT);
    Bind(m_action, IDC_INSTALL, IDC_SEPARATOR);
    Bind(m_install, IDC_INSTALL);
    Bind(m_uninstall, IDC_UNINSTALL);
    Bind(m_reinstall, IDC_REINSTALL);
    Bind(m_portLabel, IDC_PORT_LABEL);
    Bind(m_comConfig, IDC_COMCONFIG);
    Bind(m_start, IDC_START);

    CInstallContext ctx;
    ctx.SetLogFileName(kLogFileName);  // without a log file the dialog works all the same
    m_start.Enable(FALSE);

    if (!FillPortList(*this, ctx, m_comboPort)) {
        End(IDCANCEL);
        return TRUE;
    }
    if (!ctx.ParseCommand()) {
        Fail(ctx.GetErrorText());
        return TRUE;
    }
    if (ctx.GetInfFileName()) {
        m_strInfFileName = ctx.GetInfFileName();
    } else {
        if (!ctx.FindFirstInf(m_strInfFileName)) {
            Fail(ctx.GetErrorText());
            return TRUE;
        }
        ctx.SetInfFileName(m_strInfFileName.c_str());
    }
    if (!FillModelList(ctx))
        return TRUE;
    if (!NarrowPortList(*this, m_comboPort, ctx.GetPortName())) {
        End(IDCANCEL);
        return TRUE;
    }
    if (!ReadModel())
        return TRUE;
    OnSelchangePort();
    SetActionFromCommandLine(ctx);
    return TRUE;
}

// The model list: the command line's model alone, or every model of the INF
// (the list sorts them); entry 0 selected. FALSE after the error box.
BOOL CInstallDialog::FillModelList(CInstallContext &ctx)
{
    if (ctx.GetPrinterName()) {
        m_comboModel.AddString(ctx.GetPrinterName());
    } else {
        std::vector<std::string> models;  // a name may hold a comma
        if (!ctx.FindInfPrinters(models))
            return Fail(ctx.GetErrorText());
        for (const std::string &model : models) {
            if (!model.empty())
                m_comboModel.AddString(model.c_str());
        }
    }
    m_comboModel.SetCurSel(0);
    return TRUE;
}

// Checks the radio button of the command line's switch and locks the other
// two; without a switch none is checked and Start stays disabled. When the
// command line holds several switches the first of Install, Uninstall and
// Reinstall counts, so that exactly one action is shown and locked.
void CInstallDialog::SetActionFromCommandLine(const CInstallContext &ctx)
{
    int idAction = ctx.m_bInstall ? IDC_INSTALL
                   : ctx.m_bUninstall ? IDC_UNINSTALL
                   : ctx.m_bReinstall ? IDC_REINSTALL
                                      : 0;
    if (!idAction)
        return;
    m_action.Check(idAction);
    m_install.Enable(idAction == IDC_INSTALL);
    m_uninstall.Enable(idAction == IDC_UNINSTALL);
    m_reinstall.Enable(idAction == IDC_REINSTALL);
    if (idAction == IDC_UNINSTALL)
        OnUninstall();
    else
        OnInstall();
}

// The selected model's port preferences and serial defaults, read from the
// INF on a context of its own; the first preferred port the list offers is
// selected. FALSE after the error box, with the dialog ending.
BOOL CInstallDialog::ReadModel()
{
    CInstallContext ctx;
    if (!StartContext(ctx))
        return FALSE;
    ctx.SetInfFileName(m_strInfFileName.c_str());
    ctx.SetPrinterName(m_comboModel.SelectedText().c_str());
    if (!ctx.SetupSysInfo() || !ctx.ParseInf())
        return Fail(ctx.GetErrorText());
    m_strPorts = ctx.GetPorts() ? ctx.GetPorts() : "";
    m_strComPortSettings = ctx.GetComPortSettings() ? ctx.GetComPortSettings() : "";
    SelectPreferredPort(m_comboPort, m_strPorts.c_str());
    OnSelchangePort();
    return TRUE;
}

void CInstallDialog::OnSelchangeModel()
{
    ReadModel();
}

// Selecting a port (or a model, which reselects one) forgets a configuration
// saved with COM Config when the new port is a COM port.
void CInstallDialog::OnSelchangePort()
{
    std::string strPort = m_comboPort.SelectedText();
    if (StrNCmpI(strPort.c_str(), "COM", 3) == 0)
        m_bComConfigured = FALSE;
    UpdateActionControls();
}

// COM Config is offered for a COM port while Install or Reinstall is chosen;
// Start needs a port for them. A click on the action already chosen changes
// nothing else: a saved serial configuration stays.
void CInstallDialog::UpdateActionControls()
{
    std::string strPort = m_comboPort.SelectedText();
    int idAction = m_action.Checked();
    BOOL bInstalling = idAction == IDC_INSTALL || idAction == IDC_REINSTALL;
    m_comConfig.Enable(bInstalling && StrNCmpI(strPort.c_str(), "COM", 3) == 0);
    if (bInstalling)
        m_start.Enable(!strPort.empty());
}

// The system's settings dialog has no owner; the main dialog is disabled
// while it runs, so that neither the port nor the action can change under it
// and it cannot be opened twice.
void CInstallDialog::OnComConfig()
{
    std::string strError;
    EnableWindow(Handle(), FALSE);
    ComConfigResult result = RunComConfig(m_comboPort.SelectedText().c_str(), m_strComPortSettings.c_str(), &strError);
    EnableWindow(Handle(), TRUE);
    SetActiveWindow(Handle());
    switch (result) {
    case COMCONFIG_SAVED:
        m_bComConfigured = TRUE;
        break;
    case COMCONFIG_CANCELLED:
        break;
    case COMCONFIG_FAILED:
        Fail(strError.c_str());
        break;
    }
}

void CInstallDialog::OnInstall()
{
    m_portLabel.Enable(TRUE);
    m_comboPort.Enable(TRUE);
    m_start.Enable(TRUE);
    UpdateActionControls();
}

void CInstallDialog::OnUninstall()
{
    m_portLabel.Enable(FALSE);
    m_comboPort.Enable(FALSE);
    m_comConfig.Enable(FALSE);
    m_start.Enable(TRUE);
}

// Start: the chosen action on the model and port, the serial defaults of an
// install on a COM port, the completion dialog unless the engine showed its
// own; then the dialog closes, with IDOK after success.
void CInstallDialog::OnStart()
{
    CInstallContext ctx;
    if (!StartContext(ctx))
        return;
    int idAction = m_action.Checked();
    if (!idAction) {
        Message("GetCheckedRadioButton()", g_szProgramName, MB_OK | MB_ICONQUESTION);
        return;
    }
    ctx.m_bInstall = idAction == IDC_INSTALL;
    ctx.m_bUninstall = idAction == IDC_UNINSTALL;
    ctx.m_bReinstall = idAction == IDC_REINSTALL;
    if (!RunAction(ctx))
        return;

    std::string strModel = m_comboModel.SelectedText(), strPort = m_comboPort.SelectedText();
    COMMCONFIG config;
    std::string strError;
    if (!SetComDefaults(strPort.c_str(), m_strComPortSettings.c_str(), ctx.m_bInstall,
                        IsWindowEnabled(m_comConfig.Handle()), m_bComConfigured, &config, &strError)) {
        Fail(strError.c_str());
        return;
    }
    if (!ctx.m_bDialogShown) {
        CCompleteDialog complete(strModel.c_str(), strPort.c_str(), &config);
        complete.DoModal(Instance(), Handle());
    }
    End(IDOK);
}

// The engine's run on ctx with the dialog's INF, model and port; its restart
// question and USB notice are owned by this dialog. FALSE after the error
// box, with the dialog ending.
BOOL CInstallDialog::RunAction(CInstallContext &ctx)
{
    ctx.SetInfFileName(m_strInfFileName.c_str());
    ctx.SetPrinterName(m_comboModel.SelectedText().c_str());
    ctx.SetPortName(m_comboPort.SelectedText().c_str());
    CModalEngineDialogs dialogs(Instance(), Handle());
    if (!ctx.RunOperation(&dialogs))
        return Fail(ctx.GetErrorText());
    return TRUE;
}
