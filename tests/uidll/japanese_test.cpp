// The dialogs in Japanese: this program runs under a Japanese locale, and
// Wine then picks the library's Japanese resources.
#include "labelcheck.h"
#include "uidllfixture.h"
#include "windowdriver.h"

namespace {

std::wstring ItemTextW(HWND hDlg, int id)
{
    WCHAR text[256] = L"";
    GetDlgItemTextW(hDlg, id, text, 256);
    return text;
}

}  // namespace

TEST_F(UiTest, DialogsSpeakJapanese)
{
    ASSERT_EQ(0x0411, GetUserDefaultLangID());
    ASSERT_EQ(PrefixDpi(), BecomeDpiAware());
    DriverDevmode out = {};
    ModalCall doc([&] {
        return DocumentPropertiesW(NULL, hPrinter, (LPWSTR)kUiPrinter, &out.dm, NULL, DM_IN_PROMPT | DM_OUT_BUFFER);
    });
    HWND sheet = nullptr;
    HWND page = WaitForPage(GetCurrentProcessId(), 202, 20000, &sheet);
    ASSERT_TRUE(page);
    EXPECT_EQ(L"\u5e45(&W):", ItemTextW(page, 200));                          // width
    EXPECT_EQ(L"\u30e1\u30c7\u30a3\u30a2\u30b5\u30a4\u30ba", ItemTextW(page, 199));  // media size
    EXPECT_EQ(L"\u30a4\u30f3\u30c1(&I)", ItemTextW(page, 213));                // inches
    EXPECT_EQ(std::vector<std::string>{}, CutLabels(page));
    Click(page, 222);
    const wchar_t aboutTitle[] = L"\u30d0\u30fc\u30b8\u30e7\u30f3\u60c5\u5831";
    HWND about = nullptr;
    for (int i = 0; i < 200 && !about; i++, Sleep(50))
        about = FindWindowW(nullptr, aboutTitle);
    ASSERT_TRUE(about);
    Press(about, IDOK);
    Press(sheet, IDCANCEL);
    doc.Wait();

    ModalCall props([&] { return (LONG)ui.pfnPrinterProps(NULL, hPrinter); });
    page = WaitForPage(GetCurrentProcessId(), 500, 20000, &sheet);
    ASSERT_TRUE(page);
    EXPECT_EQ(L"\u30c7\u30fc\u30bf\u3092\u304a\u304f\u308b", ItemTextW(page, 501));  // Send Data
    // A job that fails is reported in Japanese: a dropped file that is gone.
    std::wstring missing = ExePath(L"kzt-drop-missing-ja.bin");
    DeleteFileW(missing.c_str());
    PostMessageW(page, WM_DROPFILES, (WPARAM)MakeDrop({missing}), 0);
    HWND box = WaitForMessageBox(GetCurrentProcessId(), 20000, nullptr);
    ASSERT_TRUE(box);
    std::wstring text = ItemTextW(box, 0xFFFF);
    EXPECT_NE(std::wstring::npos, text.find(L"\u300cOstrel TZ-1000\u300d\u306b\u5370\u5237\u3067\u304d\u307e\u305b\u3093"))
        << Narrow(text);  // could not print on
    Press(box, IDOK);
    Press(sheet, IDCANCEL);
    props.Wait();
}
