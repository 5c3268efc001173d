// The installer's result dialogs shown for real from this program's own
// resources (the same script the installer carries) and read back as a
// person would see them: the completion dialog with and without a serial
// configuration, the USB notice and the restart question through the
// engine's dialog interface, with their answers.
#include "dialogcheck.h"

namespace {
const char kModel[] = "Ostrel TZ-1000";
}  // namespace

TEST(CompleteDialog, ParallelPortShowsModelAndPortWithTheSerialLabelsGreyedAndEmpty)
{
    auto shown = ShowComplete(kModel, "LPT1:", nullptr);
    HWND hDlg = shown->Handle();
    ASSERT_TRUE(hDlg);
    ExpectLayout(hDlg, kCompleteLayout, English);
    EXPECT_EQ("Ostrel TZ-1000", ItemText(hDlg, 1010));
    EXPECT_EQ("LPT1:", ItemText(hDlg, 1011));
    for (int id = 1017; id <= 1021; ++id) {
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hDlg, id))) << id;
        EXPECT_EQ("", ItemText(hDlg, id - 5)) << id - 5;
    }
    EXPECT_EQ(IDOK, shown->Press(IDOK));
}

TEST(CompleteDialog, SerialPortShowsItsLineSettingsForEveryParityStopBitsAndFlowControl)
{
    ExpectSerialCases(English);
}

TEST(CompleteDialog, ConfigurationWithSizeZeroCountsAsNoneWhateverItsLineSettings)
{
    COMMCONFIG config = SerialConfig(kSerialCases[0]);
    config.dwSize = 0;
    auto shown = ShowComplete(kModel, "COM2:", &config);
    HWND hDlg = shown->Handle();
    ASSERT_TRUE(hDlg);
    for (int id = 1017; id <= 1021; ++id) {
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hDlg, id))) << id;
        EXPECT_EQ("", ItemText(hDlg, id - 5)) << id - 5;
    }
    EXPECT_EQ(IDCANCEL, shown->Key(VK_ESCAPE));
}

TEST(PlugUsbDialog, ShowsTheModelAndTheGenericPortAndCloses)
{
    auto shown = ShowPlugUsb(kModel, "USB");
    HWND hDlg = shown->Handle();
    ASSERT_TRUE(hDlg);
    ExpectLayout(hDlg, kPlugUsbLayout, English);
    EXPECT_EQ("Ostrel TZ-1000", ItemText(hDlg, 1022));
    EXPECT_EQ("USB", ItemText(hDlg, 1023));
    SaveDialogScreenshot(hDlg, kPlugUsbLayout, English);
    EXPECT_EQ(IDOK, shown->Press(IDOK));
}

TEST(RebootDialog, ShowsTheWarningIconAndNoCloseBox)
{
    auto shown = AskRestart(nullptr);
    HWND hDlg = shown->Handle();
    ASSERT_TRUE(hDlg);
    ExpectLayout(hDlg, kRebootLayout, English);
    HICON shownIcon = (HICON)SendDlgItemMessageA(hDlg, 1025, STM_GETICON, 0, 0);
    EXPECT_NE(nullptr, shownIcon);
    EXPECT_EQ(LoadIconA(nullptr, MAKEINTRESOURCEA(0x7F03)), shownIcon);
    SaveDialogScreenshot(hDlg, kRebootLayout, English);
    EXPECT_EQ(IDCANCEL, shown->Press(IDCANCEL));
}

TEST(RebootDialog, AnswersOkOnlyForYes)
{
    static const struct {
        const char *name;
        int button;     // or 0 for the key
        UINT key;
        LONG result;
    } cases[] = {
        {"Yes", IDOK, 0, IDOK},
        {"No", IDCANCEL, 0, IDCANCEL},
        {"Enter on the default button", 0, VK_RETURN, IDOK},
        {"Escape", 0, VK_ESCAPE, IDCANCEL},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto shown = AskRestart(nullptr);
        ASSERT_TRUE(shown->Handle());
        EXPECT_EQ(c.result, c.button ? shown->Press(c.button) : shown->Key(c.key));
    }
}

TEST(RebootDialog, IsOwnedByTheGivenWindowWhichItDisablesWhileOpen)
{
    HWND owner = nullptr;
    auto shown = AskRestart(&owner);
    HWND hDlg = shown->Handle();
    ASSERT_TRUE(hDlg);
    ASSERT_TRUE(owner);
    EXPECT_EQ(owner, GetWindow(hDlg, GW_OWNER));
    EXPECT_FALSE(IsWindowEnabled(owner));
    EXPECT_EQ(IDOK, shown->Press(IDOK));
}
