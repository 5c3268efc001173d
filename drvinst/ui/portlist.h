// The main dialog's port list: filled from the spooler's ports, narrowed to
// the ports the command line names, and preselected from the model's
// preferred ports. Plain functions over the dialog's port combo box (a
// sorted drop-down list), called from the dialog's handlers.
#pragma once
#include "dialog.h"
#include "installcontext.h"

// How the list treats one spooler port, by the prefix of its name.
enum PortKind {
    PORT_OFFERED,  // "LPT", "USB", "FILE": offered as it is
    PORT_SERIAL,   // "COM": offered only when the system has a serial device for it
    PORT_OTHER     // network and other monitors' ports: left out
};

// The kind of the port named pszName, its prefix compared ignoring case
// (NULL counts as PORT_OTHER). No system call.
PortKind ClassifyPort(const char *pszName);

// Whether the system offers the generic "USB" entry for a printer not yet
// plugged in: NT with major version 5, or the Windows 95 family 4.10 or later
// (98, Me). osvi as GetVersionExA filled it.
BOOL OffersGenericUsb(const OSVERSIONINFOA &osvi);

// Fills an empty port list when the dialog starts: the local spooler's ports
// (level 2) in upper case as ClassifyPort and the serial probe allow, each
// logged as a DBG line through ctx, then "USB" when OffersGenericUsb, then
// selects entry 0. On a failure it shows the failure's text in an OK box with
// the stop icon owned by dlg and returns FALSE: the caller then ends the
// dialog with IDCANCEL. comboPort must be bound (after Bind in OnInitDialog).
BOOL FillPortList(const CDialog &dlg, CInstallContext &ctx, const CComboBox &comboPort);

// Narrows the filled list to the command line's port argument pszPorts
// (comma-separated names, as GetPortName gives it; NULL or empty: nothing is
// done, TRUE). Each name collects every entry that begins with it, ignoring
// case; when anything was collected the list holds just those entries,
// otherwise it stays whole; entry 0 is selected. A failure shows its text as
// FillPortList does and returns FALSE (the caller ends with IDCANCEL).
BOOL NarrowPortList(const CDialog &dlg, const CComboBox &comboPort, const char *pszPorts);

// Selects the first entry of the list that begins (ignoring case) with an
// entry of the model's preference list pszPorts (comma-separated, as
// GetPorts gives it, tried in order; NULL or empty: none). Returns the
// selected index, or CB_ERR when nothing matched and the selection stayed.
int SelectPreferredPort(const CComboBox &comboPort, const char *pszPorts);
