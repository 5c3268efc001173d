// What the installer's small modal dialogs have in common: the caption is
// string 12 of the program's string table, texts come from the string table
// of the module the template came from (so they follow its language), and
// buttons 1 and 2 end the dialog with IDOK and IDCANCEL.
#pragma once
#include "dialog.h"
#include <string>

class CResultDialog : public CDialog {
public:
    explicit CResultDialog(UINT idTemplate);

protected:
    // Sets the caption; a subclass calls it first from its own OnInitDialog.
    BOOL OnInitDialog() override;
    // String idString of the dialog's module in the thread's language; empty
    // when the table has no such string.
    std::string LoadText(UINT idString) const;
};
