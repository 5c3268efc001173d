// The installer's main dialog under a Japanese locale: drvinst.exe takes its
// Japanese template (texts and font) and the Japanese caption.
#include "installerfixture.h"

using JapaneseInstallerTest = InstallerTest;

TEST_F(JapaneseInstallerTest, MainDialogSpeaksJapanese)
{
    ASSERT_EQ(0x0411, GetUserDefaultLangID());
    HWND hDlg = StartMain("");
    ASSERT_TRUE(hDlg);
    ExpectLayout(hDlg, kInstallLayout, Japanese, UnitsDialog());
    EXPECT_EQ(2, (int)SendDlgItemMessageA(hDlg, 1002, CB_GETCOUNT, 0, 0));
    SaveDialogScreenshot(hDlg, kInstallLayout, Japanese);
    ASSERT_TRUE(CancelAndEnd(hDlg));
    ExpectNothingInstalled();
}
