// The installer's result dialogs under a Japanese locale: the dialogs come
// from their Japanese templates and the completion dialog's words from the
// Japanese string table, through the same ANSI calls in code page 932.
#include "dialogcheck.h"

TEST(JapaneseDialogs, CompletionDialogSpeaksJapaneseForEveryLineSetting)
{
    ASSERT_EQ(0x0411, GetUserDefaultLangID());
    ASSERT_EQ(932u, GetACP());
    auto shown = ShowComplete("Ostrel TZ-1000", "LPT1:", nullptr);
    HWND hDlg = shown->Handle();
    ASSERT_TRUE(hDlg);
    ExpectLayout(hDlg, kCompleteLayout, Japanese);
    EXPECT_EQ(L"LPT1:", ItemTextW(hDlg, 1011));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hDlg, 1017)));
    EXPECT_EQ(IDOK, shown->Press(IDOK));
    ExpectSerialCases(Japanese);
}

TEST(JapaneseDialogs, UsbNoticeShowsAJapaneseModelName)
{
    ASSERT_EQ(0x0411, GetUserDefaultLangID());
    // "TZ-1000 プリンタ" in code page 932, as the INF's Japanese strings give it.
    auto shown = ShowPlugUsb("TZ-1000 \x83\x76\x83\x8A\x83\x93\x83\x5E", "USB");
    HWND hDlg = shown->Handle();
    ASSERT_TRUE(hDlg);
    ExpectLayout(hDlg, kPlugUsbLayout, Japanese);
    EXPECT_EQ(L"TZ-1000 プリンタ", ItemTextW(hDlg, 1022));
    EXPECT_EQ(L"USB", ItemTextW(hDlg, 1023));
    SaveDialogScreenshot(hDlg, kPlugUsbLayout, Japanese);
    EXPECT_EQ(IDOK, shown->Press(IDOK));
}

TEST(JapaneseDialogs, RestartQuestionAsksInJapaneseAndAnswersYesAndNo)
{
    ASSERT_EQ(0x0411, GetUserDefaultLangID());
    auto shown = AskRestart(nullptr);
    HWND hDlg = shown->Handle();
    ASSERT_TRUE(hDlg);
    ExpectLayout(hDlg, kRebootLayout, Japanese);
    SaveDialogScreenshot(hDlg, kRebootLayout, Japanese);
    EXPECT_EQ(IDOK, shown->Press(IDOK));
    auto again = AskRestart(nullptr);
    ASSERT_TRUE(again->Handle());
    EXPECT_EQ(IDCANCEL, again->Press(IDCANCEL));
}
