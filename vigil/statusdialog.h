// The status window: three panels fed by one-second timers (Printer Info,
// Host Info, Spool Info), the language monitor's notifications, and the end
// of the program when the printer has gone idle or a query fails.
#pragma once
#include "dialog.h"
#include "lmchannel.h"

class CStatusDialog : public CDialog {
public:
    explicit CStatusDialog(UINT uMsgMonitor);

protected:
    BOOL OnInitDialog() override;
    void OnTimer(UINT_PTR idTimer) override;
    BOOL OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT *pResult) override;

private:
    enum { PanelPrinter, PanelHost, PanelSpool, PanelCount };

    void PrinterInfoTick();
    void HostInfoTick();
    void SpoolInfoTick();
    void OnLanguageMonitor(WPARAM wParam, LPARAM lParam);
    void NoteDocuments(const StatusBlock &block, const std::string &time);
    void ShowDocumentOnce(WPARAM event, LPARAM lParam, DWORD dwJobId, const std::string &time);
    void TogglePause(int panel);
    void StartTimer(int panel);
    void StopTimer(int panel);
    void Close();
    void Fail(LPCSTR pszFormat);       // message box with LastErrorText, then close
    void AppendLine(const CEditPanel &panel, const std::string &text);

    LmChannel m_channel;
    UINT m_uMsgMonitor;
    CEditPanel m_panels[PanelCount];
    CControl m_labels[PanelCount];
    CControl m_devid;
    CControl m_usbget;
    BOOL m_bPaused[PanelCount];
    UINT_PTR m_idTimer[PanelCount];
    UINT m_uPeriod[PanelCount];
    int m_idleCount;
    DWORD m_dwSeenJobId;                // the document the block showed at the last tick
    BOOL m_bSeenPrinting;               // and whether it was printing then
    DWORD m_dwStartShown;               // the job whose start line was shown last (tick or notification)
    DWORD m_dwEndShown;                 // the job whose end line was shown last
    BOOL m_bEnding;                     // a failure is being shown
    BOOL m_bClosed;
};
