// The installer's result dialogs as a person sees them, for the English and
// the Japanese test programs: each dialog shown for real on a thread of its
// own, found among the program's windows, read back and answered. The
// layouts and the serial cases are tables with both languages' texts.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include "windowdriver.h"

enum Lang { English, Japanese };

struct ControlRow {
    WORD id;                    // 0xFFFF: a static without an id
    const char *cls;            // "Static" or "Button"
    DWORD style;                // the control's type bits, SS_SUNKEN, SS_CENTERIMAGE, WS_VISIBLE
    const wchar_t *text[2];     // English, Japanese; null where start-up fills it in
    int x, y, cx, cy;           // dialog units
    int cxJapanese;             // where the Japanese text needs more room; 0: cx
};

struct DialogLayout {
    const char *name;           // of the screenshots: drvinst-<name>-en.bmp
    int cx, cy;                 // dialog units
    bool sysMenu;
    const ControlRow *rows;
    size_t count;
};

extern const DialogLayout kCompleteLayout;
extern const DialogLayout kPlugUsbLayout;
extern const DialogLayout kRebootLayout;

// A modal dialog shown on a thread of its own, found by a control id only it
// has. A dialog still open when the object goes is cancelled.
class ShownDialog {
public:
    template <class F>
    ShownDialog(F show, int controlId) : m_call(show)
    {
        m_hDlg = WaitForPage(GetCurrentProcessId(), controlId, 10000, nullptr);
    }
    ~ShownDialog();
    HWND Handle() const { return m_hDlg; }
    // Clicks a button (or sends the command of one that cannot be seen) and
    // returns what the modal call answered.
    LONG Press(int id);
    // A key pressed on the control that has the focus; returns the answer.
    LONG Key(UINT vk);
    // Whether the call has returned, and its answer.
    bool Done(LONG *pResult) const { return m_call.Done(pResult); }

private:
    ModalCall m_call;
    HWND m_hDlg = nullptr;
    bool m_bWaited = false;
};

std::wstring WindowTextW(HWND hwnd);
std::wstring ItemTextW(HWND hDlg, int id);
// Checks the dialog against the layout in that language: caption, font,
// size, system menu, and each control's id, class, style, visibility,
// position and fixed text, in template order. A dialog of another process
// names hUnits: a dialog of this process from the same template, whose
// font and dialog units stand for the other's (which this process can't
// read); the shown dialog's client size then proves them the same.
void ExpectLayout(HWND hDlg, const DialogLayout &layout, Lang lang, HWND hUnits = nullptr);
// Saves the dialog as drvinst-<name>-<en|ja>.bmp in the folder that
// KZT_SCREENSHOT_DIR names; nothing when it is not set.
void SaveDialogScreenshot(HWND hDlg, const DialogLayout &layout, Lang lang);

// Serial line settings and what the completion dialog shows for them.
struct Words {
    const wchar_t *text[2];     // English, Japanese
};
struct SerialCase {
    const char *name;
    DWORD baud;
    BYTE byteSize, parity, stopBits;
    DWORD dtrControl, rtsControl;
    bool outX, inX;
    const wchar_t *baudText, *byteSizeText;
    Words parityText, stopBitsText, flowText;
};
extern const SerialCase kSerialCases[];
extern const size_t kSerialCaseCount;
COMMCONFIG SerialConfig(const SerialCase &c);
// Shows the completion dialog for every case and checks the five values and
// the enabled labels in that language; the first case is the screenshot.
void ExpectSerialCases(Lang lang);
// The completion dialog for "model" on "port" with a configuration (null for
// none), shown until the object goes.
std::unique_ptr<ShownDialog> ShowComplete(const char *model, const char *port, const COMMCONFIG *config);
// The USB notice and the restart question as the program hands them to the
// engine (CModalEngineDialogs). With pOwner, the restart question is owned by
// a window of the showing thread, as the main dialog owns it; that window's
// handle goes to *pOwner before the dialog shows.
std::unique_ptr<ShownDialog> ShowPlugUsb(const char *model, const char *port);
std::unique_ptr<ShownDialog> AskRestart(HWND *pOwner);
