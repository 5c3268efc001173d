// The installer's main dialog under a Japanese locale: drvinst.exe takes its
// Japanese template (texts and font) and the Japanese caption.
#include "installerfixture.h"

TEST_F(InstallerTest, MainDialogSpeaksJapanese)
{
    ASSERT_EQ(0x0411, GetUserDefaultLangID());
    ASSERT_TRUE(Start(""));
    HWND hDlg = WaitForMain();
    ASSERT_TRUE(hDlg) << AnswerMessageBox(0);
    ExpectLayout(hDlg, kInstallLayout, Japanese, UnitsDialog());
    EXPECT_EQ(2, (int)SendDlgItemMessageA(hDlg, 1002, CB_GETCOUNT, 0, 0));
    SaveDialogScreenshot(hDlg, kInstallLayout, Japanese);
    Click(hDlg, IDCANCEL);
    ASSERT_TRUE(Ended(15000));
    ExpectNothingInstalled();
}
