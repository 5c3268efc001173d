// Every dialog of every shipped program, in the language of this program's
// locale (or in English where it has no other), made from its template at the DPI of the prefix: no control cuts
// its label. The lists the programs fill in are checked where their dialogs
// are shown for real (the Settings page).
#include "labelcheck.h"
#include "testenv.h"
#include <gtest/gtest.h>

namespace {

INT_PTR CALLBACK Inert(HWND, UINT msg, WPARAM, LPARAM)
{
    return msg == WM_INITDIALOG;
}

BOOL CALLBACK AddName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR list)
{
    if (IS_INTRESOURCE(name))
        ((std::vector<WORD> *)list)->push_back((WORD)(UINT_PTR)name);
    return TRUE;
}

}  // namespace

TEST(Labels, EveryDialogOfEveryProgramShowsItsLabelsWhole)
{
    ASSERT_EQ(PrefixDpi(), BecomeDpiAware());
    LANGID lang = GetUserDefaultLangID() == 0x0411 ? MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)
                                                   : MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    HWND parent = CreateWindowW(L"Static", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    int checked = 0;
    for (const wchar_t *file : {L"drvinst.exe", L"vigil.exe", L"KZTTZUIF.DLL"}) {
        SCOPED_TRACE(Narrow(file));
        HMODULE module = LoadLibraryExW(ExePath(file).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_TRUE(module) << GetLastError();
        std::vector<WORD> ids;
        EnumResourceNamesW(module, RT_DIALOG, AddName, (LONG_PTR)&ids);
        EXPECT_FALSE(ids.empty());
        for (WORD id : ids) {
            // A dialog without a version in this language is shown in English.
            HRSRC found = FindResourceExW(module, RT_DIALOG, MAKEINTRESOURCEW(id), lang);
            if (!found)
                found = FindResourceExW(module, RT_DIALOG, MAKEINTRESOURCEW(id), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
            ASSERT_TRUE(found) << "dialog " << id;
            auto *tmpl = (LPCDLGTEMPLATEW)LockResource(LoadResource(module, found));
            HWND dlg = CreateDialogIndirectParamW(module, tmpl, parent, Inert, 0);
            ASSERT_TRUE(dlg) << "dialog " << id << " error " << GetLastError();
            std::string cut;
            for (const std::string &line : CutLabels(dlg))
                cut += "\n  " + line;
            EXPECT_EQ("", cut) << "dialog " << id << " at " << PrefixDpi() << " DPI cuts";
            DestroyWindow(dlg);
            ++checked;
        }
        FreeLibrary(module);
    }
    DestroyWindow(parent);
    EXPECT_GE(checked, 9);  // the installer's four, the status window's two, the driver's three
}
