#include "completedialog.h"
#include <stdio.h>
#include "resource.h"

CCompleteDialog::CCompleteDialog(const char *pszModel, const char *pszPort, const COMMCONFIG *pConfig)
    : CResultDialog(IDD_COMPLETE), m_strModel(pszModel ? pszModel : ""), m_strPort(pszPort ? pszPort : "")
{
    ZeroMemory(&m_config, sizeof(m_config));
    if (pConfig)
        CopyMemory(&m_config, pConfig, sizeof(m_config));
}

BOOL CCompleteDialog::OnInitDialog()
{
    CResultDialog::OnInitDialog();
    Bind(m_model, IDC_COMPLETE_MODEL);
    Bind(m_port, IDC_COMPLETE_PORT);
    for (int i = 0; i < 5; ++i) {
        Bind(m_values[i], IDC_BAUD + i);
        Bind(m_labels[i], IDC_BAUD_LABEL + i);
    }
    m_model.SetText(m_strModel.c_str());
    m_port.SetText(m_strPort.c_str());
    if (m_config.dwSize != 0) {
        ShowLineSettings();
    } else {
        for (const CControl &label : m_labels)
            label.Enable(FALSE);        // not a serial port: the values stay empty
    }
    return TRUE;
}

// The DCB's values; a parity or stop-bit code the table does not know shows
// an empty text.
void CCompleteDialog::ShowLineSettings()
{
    static const UINT s_parity[] = {IDS_PARITY_NONE, IDS_PARITY_ODD, IDS_PARITY_EVEN, IDS_PARITY_MARK,
                                    IDS_PARITY_SPACE};
    static const UINT s_stopBits[] = {IDS_STOPBITS_1, IDS_STOPBITS_15, IDS_STOPBITS_2};
    const DCB &dcb = m_config.dcb;
    char sz[16];
    snprintf(sz, sizeof(sz), "%lu", (unsigned long)dcb.BaudRate);
    m_values[0].SetText(sz);
    snprintf(sz, sizeof(sz), "%u", (unsigned)dcb.ByteSize);
    m_values[1].SetText(sz);
    if (dcb.Parity < ARRAYSIZE(s_parity))
        m_values[2].SetText(LoadText(s_parity[dcb.Parity]).c_str());
    if (dcb.StopBits < ARRAYSIZE(s_stopBits))
        m_values[3].SetText(LoadText(s_stopBits[dcb.StopBits]).c_str());
    UINT idFlow = IDS_FLOW_NONE;
    if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)
        idFlow = IDS_FLOW_HARDWARE;
    else if (dcb.fOutX || dcb.fInX)
        idFlow = IDS_FLOW_XONXOFF;
    m_values[4].SetText(LoadText(idFlow).c_str());
}
