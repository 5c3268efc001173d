// Whether a dialog shows every label whole: each control's text measured in
// the control's own font against the room the control draws it in, at this
// process's DPI.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// Makes this process DPI-aware, as the manifests of the shipped programs and
// of today's applications make theirs (an unaware process is shown at 96 DPI
// and scaled by the system), and returns the DPI it then sees. Call before
// the first window of the case.
int BecomeDpiAware();

// The DPI the test bed gave this case's prefix: N for a prefix named "dpiN"
// (KZT_PREFIX), else 96.
int PrefixDpi();

// The labels hDlg's visible controls cut short: the text of each static text,
// push button, check box, radio button and group box, and each item of a
// drop-down list; and each visible control that lies under another (but
// for group boxes, which hold others) or reaches past the dialog's edge.
// One line per fault, naming the control's id (for a cut label its text and
// both sizes in pixels); empty when every label is whole. hDlg: a dialog
// of this process (a font handle of another process cannot be measured here).
std::vector<std::string> CutLabels(HWND hDlg);
