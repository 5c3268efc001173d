#include "uidllfixture.h"
#include "testenv.h"
#include <shlobj.h>

bool UiLibrary::Load()
{
    hModule = LoadLibraryW(ExePath(L"KZTTZUIF.DLL").c_str());
    if (!hModule)
        return false;
#define BIND(field, name) field = (decltype(field))GetProcAddress(hModule, name)
    BIND(pfnConvert, "DrvConvertDevMode");
    BIND(pfnCaps, "DrvDeviceCapabilities");
    BIND(pfnDocProps, "DrvDocumentProperties");
    BIND(pfnAdvDocProps, "DrvAdvancedDocumentProperties");
    BIND(pfnDocSheets, "DrvDocumentPropertySheets");
    BIND(pfnDevSheets, "DrvDevicePropertySheets");
    BIND(pfnPrinterProps, "PrinterProperties");
    BIND(pfnDevQuery, "DevQueryPrintEx");
    BIND(pfnPrinterEvent, "DrvPrinterEvent");
    BIND(pfnUpgrade, "DrvUpgradePrinter");
    BIND(pfnEntry, "UserIFDLLEntryFunc");
#undef BIND
    return pfnConvert && pfnCaps && pfnDocProps && pfnAdvDocProps && pfnDocSheets && pfnDevSheets &&
           pfnPrinterProps && pfnDevQuery && pfnPrinterEvent && pfnUpgrade && pfnEntry;
}

UiLibrary::~UiLibrary()
{
    if (hModule)
        FreeLibrary(hModule);
}

PrivateSettings DefaultSettings()
{
    PrivateSettings s = {2100, 2970, 0, 0, 0, 0, 1, 0, PRIV_SIGNATURE, 0};
    return s;
}

void UiTest::SetUp()
{
    std::string why;
    ASSERT_TRUE(EnsureUiPrinter(&why)) << why;
    ASSERT_TRUE(ui.Load());
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    ASSERT_TRUE(OpenPrinterW((LPWSTR)kUiPrinter, &hPrinter, &defaults));
    ForgetSettings();
}

void UiTest::TearDown()
{
    if (hPrinter)
        ClosePrinter(hPrinter);
}

// Wine has no DeletePrinterData: its printer data lives in the registry under
// the printer's key.
void DeletePrinterValue(const wchar_t *name)
{
    std::wstring key = std::wstring(L"System\\CurrentControlSet\\Control\\Print\\Printers\\") + kUiPrinter +
                       L"\\PrinterDriverData";
    HKEY hKey;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS, &hKey) == ERROR_SUCCESS) {
        RegDeleteValueW(hKey, name);
        RegCloseKey(hKey);
    }
}

void UiTest::ForgetSettings()
{
    for (const wchar_t *name : {L"UserDefinedX", L"UserDefinedY", L"UserUnit", L"FrameDpiIdx", L"CompressIdx",
                                L"DitherIdx", L"InkGainIdx", L"dwPrivData", L"dwFlags", L"PrinterDataSize",
                                L"PrinterData", L"Permission"})
        DeletePrinterValue(name);
    DWORD cb = 0;
    GetPrinterW(hPrinter, 2, nullptr, 0, &cb);
    std::string buffer(cb + 4096, '\0');
    if (GetPrinterW(hPrinter, 2, (LPBYTE)&buffer[0], cb, &cb)) {
        // A default device mode without a private part: the stored settings
        // are what the library then starts from.
        auto *pi = (PRINTER_INFO_2W *)&buffer[0];
        DEVMODEW dm = {};
        lstrcpyW(dm.dmDeviceName, kUiPrinter);
        dm.dmSpecVersion = 0x0401;
        dm.dmSize = sizeof(dm);
        pi->pDevMode = &dm;
        SetPrinterW(hPrinter, 2, (LPBYTE)pi, 0);
    }
}

void UiTest::StoreSettings(const PrivateSettings &settings)
{
    DWORD size = sizeof(settings);
    SetPrinterDataW(hPrinter, (LPWSTR)L"PrinterDataSize", REG_DWORD, (LPBYTE)&size, sizeof(size));
    SetPrinterDataW(hPrinter, (LPWSTR)L"PrinterData", REG_BINARY, (LPBYTE)&settings, sizeof(settings));
}

HDROP MakeDrop(const std::vector<std::wstring> &files)
{
    size_t cch = 1;
    for (const auto &f : files)
        cch += f.size() + 1;
    HGLOBAL h = GlobalAlloc(GHND, sizeof(DROPFILES) + cch * sizeof(WCHAR));
    auto *drop = (DROPFILES *)GlobalLock(h);
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    WCHAR *p = (WCHAR *)(drop + 1);
    for (const auto &f : files) {
        lstrcpyW(p, f.c_str());
        p += f.size() + 1;
    }
    GlobalUnlock(h);
    return (HDROP)h;
}
