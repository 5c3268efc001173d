// What the installer's modal dialogs have in common: the caption is
// string 12 of the program's string table, texts come from the string table
// of the module the template came from (so they follow its language), and
// buttons 1 and 2 end the dialog with IDOK and IDCANCEL.
#pragma once
#include "dialog.h"
#include <string>

class CResultDialog : public CDialog {
public:
    // idIcon: the dialog's own icon resource, 0 for none (see CDialog).
    explicit CResultDialog(UINT idTemplate, UINT idIcon = 0);

protected:
    // Sets the caption; a subclass calls it first from its own OnInitDialog.
    BOOL OnInitDialog() override;
    // String idString of the dialog's module in the thread's language; empty
    // when the table has no such string.
    std::string LoadText(UINT idString) const;
    // The module the dialog's template came from, while the dialog runs.
    HINSTANCE Instance() const { return (HINSTANCE)GetWindowLongPtrA(Handle(), GWLP_HINSTANCE); }
};
