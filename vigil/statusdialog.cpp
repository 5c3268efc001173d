#include "statusdialog.h"
#include <stdio.h>
#include "panels.h"
#include "resource.h"

#define CHANNEL_TIMEOUT_MS 5000
#define PANEL_MAX_LINES    100
#define REPLY_BUFFER       1024

static std::string TimeText(BOOL bMilliseconds)
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    char sz[32];
    if (bMilliseconds)
        snprintf(sz, sizeof(sz), "%02d:%02d:%02d.%03d", st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    else
        snprintf(sz, sizeof(sz), "%02d:%02d:%02d", st.wHour, st.wMinute, st.wSecond);
    return sz;
}

// uMsgMonitor: the registered id of the language monitor's notifications
// (0: none). Registers the button handlers; DoModal then runs the window,
// which shows the program icon.
CStatusDialog::CStatusDialog(UINT uMsgMonitor)
    : CDialog(IDD_STATUS, IDI_VIGIL), m_uMsgMonitor(uMsgMonitor), m_idleCount(0), m_dwSeenJobId(0),
      m_bSeenPrinting(FALSE), m_dwStartShown(0), m_dwEndShown(0), m_bEnding(FALSE), m_bClosed(FALSE)
{
    for (int i = 0; i < PanelCount; ++i) {
        m_bPaused[i] = FALSE;
        m_idTimer[i] = 0;
        m_uPeriod[i] = 1000;
    }
    OnCommandId(IDOK, [this] { Close(); });
    OnCommandId(IDCANCEL, [this] { Close(); });
    OnCommandId(IDC_PRINTER_PAUSE, [this] { TogglePause(PanelPrinter); });
    OnCommandId(IDC_HOST_PAUSE, [this] { TogglePause(PanelHost); });
    OnCommandId(IDC_SPOOL_PAUSE, [this] { TogglePause(PanelSpool); });
}

// Start-up: binds the controls, adds the About entry, then runs the channel
// check and starts the three timers; a failure or a second window for the
// printer closes the dialog. Always TRUE (the system sets the focus).
BOOL CStatusDialog::OnInitDialog()
{
    static const int s_panelIds[] = {IDC_PRINTER_INFO, IDC_HOST_INFO, IDC_SPOOL_INFO};
    static const int s_labelIds[] = {IDC_PRINTER_LABEL, IDC_HOST_LABEL, IDC_SPOOL_LABEL};
    for (int i = 0; i < PanelCount; ++i) {
        Bind(m_panels[i], s_panelIds[i]);
        Bind(m_labels[i], s_labelIds[i]);
    }
    Bind(m_devid, IDC_DEVID);
    Bind(m_usbget, IDC_USBGET);

    HINSTANCE hInstance = GetModuleHandleA(NULL);
    char szAbout[128] = "";
    LoadStringA(hInstance, IDS_ABOUTMENU, szAbout, sizeof(szAbout));
    HMENU hSysMenu = GetSystemMenu(Handle(), FALSE);
    if (hSysMenu && szAbout[0]) {
        AppendMenuA(hSysMenu, MF_SEPARATOR, 0, NULL);
        AppendMenuA(hSysMenu, MF_STRING, IDM_ABOUTBOX, szAbout);
    }

    // The window carries its title before any message box can show, so a
    // failure names the printer it belongs to.
    if (!m_channel.MyGetPrinterName()) {
        Fail("MyOpenTapline %s");
        return TRUE;
    }
    char szTitle[256];
    snprintf(szTitle, sizeof(szTitle), "%s - Status Monitor", m_channel.PrinterName());
    if (FindWindowA(NULL, szTitle)) {
        Close();                    // the printer has its status window already
        return TRUE;
    }
    SetWindowTextA(Handle(), szTitle);
    if (!m_channel.MyOpenTapline(m_channel.PrinterName())) {
        Fail("MyOpenTapline %s");
        return TRUE;
    }
    m_channel.SetTimeout(CHANNEL_TIMEOUT_MS);
    m_channel.SetWindowName(szTitle);
    for (int i = 0; i < PanelCount; ++i)
        StartTimer(i);
    return TRUE;
}

void CStatusDialog::StartTimer(int panel)
{
    m_idTimer[panel] = SetTimer(Handle(), panel + 1, m_uPeriod[panel], NULL);
}

void CStatusDialog::StopTimer(int panel)
{
    if (m_idTimer[panel])
        KillTimer(Handle(), m_idTimer[panel]);
    m_idTimer[panel] = 0;
}

void CStatusDialog::Close()
{
    if (m_bClosed)
        return;
    m_bClosed = TRUE;
    for (int i = 0; i < PanelCount; ++i)
        StopTimer(i);
    End(IDOK);
}

void CStatusDialog::Fail(LPCSTR pszFormat)
{
    // The message box runs its own message loop: no tick or notification
    // that it dispatches may start a second failure.
    m_bEnding = TRUE;
    std::string text(strlen(pszFormat) + strlen(m_channel.LastErrorText()) + 1, '\0');
    snprintf(&text[0], text.size(), pszFormat, m_channel.LastErrorText());
    text.resize(strlen(text.c_str()));
    for (int i = 0; i < PanelCount; ++i)
        StopTimer(i);                   // no tick may run behind the message box
    Message(text.c_str(), "vigil", MB_OK | MB_ICONSTOP);
    Close();
}

/* Appends text at the caret; at 100 lines the whole panel is selected so the
 * next text replaces it. */
void CStatusDialog::AppendLine(const CEditPanel &panel, const std::string &text)
{
    panel.Append(text.c_str());
    if (panel.LineCount() >= PANEL_MAX_LINES)
        panel.SelectAll();
}

void CStatusDialog::TogglePause(int panel)
{
    m_bPaused[panel] = !m_bPaused[panel];
    BOOL bEnable = !m_bPaused[panel];
    m_labels[panel].Enable(bEnable);
    if (panel == PanelPrinter) {
        m_devid.Enable(bEnable);
        m_usbget.Enable(bEnable);
    }
}

// Timer ids 1 to 3 drive the Printer, Host and Spool Info panels; nothing
// runs once the window is ending. Any other id is a failure: message, close.
void CStatusDialog::OnTimer(UINT_PTR idTimer)
{
    if (m_bEnding || m_bClosed)
        return;
    switch (idTimer) {
    case 1: PrinterInfoTick(); break;
    case 2: HostInfoTick(); break;
    case 3: SpoolInfoTick(); break;
    default: {
        char sz[32];
        snprintf(sz, sizeof(sz), "OnTimer %d", (int)idTimer);
        Message(sz, "vigil", MB_OK | MB_ICONSTOP);
        Close();
    }
    }
}

// Printer Info: the device id and vendor request answers the ticked boxes ask
// for, each read into a 1024-byte buffer and terminated; a failed request
// fails the window. The timer is stopped while the requests run.
void CStatusDialog::PrinterInfoTick()
{
    BOOL bDevId = m_devid.IsChecked(), bUsbGet = m_usbget.IsChecked();
    if (m_bPaused[PanelPrinter])
        return;
    StopTimer(PanelPrinter);
    std::string time = TimeText(FALSE);
    static const struct { DWORD dwCode, dwRequest, dwValue; } s_requests[] = {
        {KZT_IOCTL_PAR_QUERY_DEVICE_ID, 0, 0}, {KZT_IOCTL_USBPRINT_VENDOR_GET_COMMAND, 0x12, 0x3456}};
    BOOL abAsk[] = {bDevId, bUsbGet};
    for (int i = 0; i < 2; ++i) {
        if (!abAsk[i])
            continue;
        BYTE abReply[REPLY_BUFFER + 1] = {0};
        DWORD cbReturned = 0;
        if (!m_channel.MyGetPrinterDataIoCtl(s_requests[i].dwCode, s_requests[i].dwRequest, s_requests[i].dwValue,
                                             abReply, REPLY_BUFFER, &cbReturned)) {
            Fail("MyGetPrinterDataIoCtl %s");
            return;
        }
        abReply[cbReturned < REPLY_BUFFER ? cbReturned : REPLY_BUFFER] = 0;
        AppendLine(m_panels[PanelPrinter], time + " " + (const char *)abReply + "\r\n");
    }
    if (!bDevId && !bUsbGet)
        AppendLine(m_panels[PanelPrinter], time + "\r\n");
    StartTimer(PanelPrinter);
}

// Host Info: the job state from a fresh copy of the channel's block; after
// more than five idle ticks in a row the window closes itself.
void CStatusDialog::HostInfoTick()
{
    if (m_bPaused[PanelHost])
        return;
    std::string time = TimeText(FALSE) + " ";
    StatusBlock *pLm = m_channel.MyGetMapView();
    if (!pLm) {
        Fail("MyGetMapView %s");
        return;
    }
    NoteDocuments(*pLm, time);
    BOOL bIdle = FALSE;
    std::string line = HostInfoLine(pLm->dwFlags, m_idleCount, &bIdle);
    AppendLine(m_panels[PanelHost], time + line);
    if (bIdle && ++m_idleCount > 5)
        Close();
}

// Spool Info: the spooler's report on the printer and its job, drawn whole
// once per tick.
void CStatusDialog::SpoolInfoTick()
{
    if (m_bPaused[PanelSpool])
        return;
    StopTimer(PanelSpool);
    const CEditPanel &panel = m_panels[PanelSpool];
    std::string report = SpoolInfoReport(m_channel.Printer());
    // The whole panel is rewritten: draw it once, not after each step.
    panel.Send(WM_SETREDRAW, FALSE);
    panel.SelectAll();
    panel.Append((TimeText(FALSE) + "\r\n").c_str());
    panel.Append(report.c_str());
    panel.Send(WM_SETREDRAW, TRUE);
    InvalidateRect(panel.Handle(), NULL, TRUE);
    StartTimer(PanelSpool);
}

/* The documents the block shows, whether a notification announced them or
 * not: on Vista and later none reaches this session (the spooler's monitor
 * runs in session 0), and on every system the ones posted before this window
 * existed are lost. A job id not seen before (not 0 of a block that a new
 * Open cleared), or the printing bit set again, is a document start (the
 * idle count starts again, as on a notification); the bit cleared is its
 * end. Each gives the line of its notification after the tick's time, once
 * (ShowDocumentOnce). Only the block moves this state: a notification may
 * come late and read a block that already shows the next document. */
void CStatusDialog::NoteDocuments(const StatusBlock &block, const std::string &time)
{
    BOOL bPrinting = (block.dwFlags & STATUS_FLAG_PRINTING) != 0;
    // A block cleared by a new Open (job id 0, not printing) is no document.
    BOOL bNewJob = block.dwJobId != m_dwSeenJobId && (block.dwJobId != 0 || bPrinting);
    if (bNewJob || (bPrinting && !m_bSeenPrinting)) {
        if (m_bSeenPrinting)
            ShowDocumentOnce(STATUS_NOTIFY_DOC_END, 0, m_dwSeenJobId, time);
        m_idleCount = 0;
        m_dwSeenJobId = block.dwJobId;
        m_bSeenPrinting = TRUE;
        ShowDocumentOnce(STATUS_NOTIFY_DOC_START, 0, block.dwJobId, time);
    }
    if (!bPrinting && m_bSeenPrinting) {
        m_bSeenPrinting = FALSE;
        ShowDocumentOnce(STATUS_NOTIFY_DOC_END, 0, m_dwSeenJobId, time);
    }
}

/* The line of a document's start or end (event), unless the same event of
 * the same job was shown before, by a tick or by a notification: the
 * monitor writes the block before it posts, so both see most documents. */
void CStatusDialog::ShowDocumentOnce(WPARAM event, LPARAM lParam, DWORD dwJobId, const std::string &time)
{
    DWORD *pdwShown = event == STATUS_NOTIFY_DOC_START ? &m_dwStartShown : &m_dwEndShown;
    if (*pdwShown == dwJobId && dwJobId != 0)
        return;
    *pdwShown = dwJobId;
    AppendLine(m_panels[PanelHost], time + NotificationLine(event, lParam, dwJobId));
}

// A notification of the language monitor (wParam 1 to 4): one line in the
// Host Info panel with the block's job id (a document's start or end only
// when not shown already); a document start resets the idle count.
void CStatusDialog::OnLanguageMonitor(WPARAM wParam, LPARAM lParam)
{
    if (m_bEnding || m_bClosed)
        return;
    std::string time = TimeText(TRUE) + " OnLanguageMonitor ";
    StatusBlock *pLm = m_channel.MyGetMapView();
    if (!pLm) {
        Fail("MyGetMapView %s");
        return;
    }
    if (wParam == STATUS_NOTIFY_DOC_START)
        m_idleCount = 0;
    if (wParam == STATUS_NOTIFY_DOC_START || wParam == STATUS_NOTIFY_DOC_END)
        ShowDocumentOnce(wParam, lParam, pLm->dwJobId, time);
    else
        AppendLine(m_panels[PanelHost], time + NotificationLine(wParam, lParam, pLm->dwJobId));
}

// The language monitor's notifications and the About entry of the system
// menu; TRUE with *pResult 0 when handled, FALSE for the dialog's default.
BOOL CStatusDialog::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT *pResult)
{
    if (msg == m_uMsgMonitor && m_uMsgMonitor) {
        OnLanguageMonitor(wParam, lParam);
        *pResult = 0;
        return TRUE;
    }
    switch (msg) {
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
            CDialog about(IDD_ABOUT);
            about.OnCommandId(IDOK, [&about] { about.End(IDOK); });
            about.OnCommandId(IDCANCEL, [&about] { about.End(IDCANCEL); });
            about.DoModal(GetModuleHandleA(NULL), Handle());
            *pResult = 0;
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}
