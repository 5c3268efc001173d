// The driver UI library as the spooler and applications meet it: loaded from
// the binary folder, with a queue of its own whose port is a file.
#pragma once
#include "driverui.h"
#include "devmode.h"
#include <shellapi.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "testenv.h"

struct UiLibrary {
    HMODULE hModule = nullptr;
    decltype(&DrvConvertDevMode) pfnConvert = nullptr;
    decltype(&DrvDeviceCapabilities) pfnCaps = nullptr;
    decltype(&DrvDocumentProperties) pfnDocProps = nullptr;
    decltype(&DrvAdvancedDocumentProperties) pfnAdvDocProps = nullptr;
    decltype(&DrvDocumentPropertySheets) pfnDocSheets = nullptr;
    decltype(&DrvDevicePropertySheets) pfnDevSheets = nullptr;
    decltype(&PrinterProperties) pfnPrinterProps = nullptr;
    decltype(&DevQueryPrintEx) pfnDevQuery = nullptr;
    decltype(&DrvPrinterEvent) pfnPrinterEvent = nullptr;
    decltype(&DrvUpgradePrinter) pfnUpgrade = nullptr;
    decltype(&UserIFDLLEntryFunc) pfnEntry = nullptr;
    bool Load();
    ~UiLibrary();
};

class UiTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Removes the stored settings and the private part of the printer's
    // default device mode.
    void ForgetSettings();
    void StoreSettings(const PrivateSettings &settings);

    UiLibrary ui;
    HANDLE hPrinter = nullptr;
};

PrivateSettings DefaultSettings();
void DeletePrinterValue(const wchar_t *name);  // a printer-data value of kUiPrinter
// A drop of files as the shell hands it to a window (WM_DROPFILES); the
// window's DragFinish frees it.
HDROP MakeDrop(const std::vector<std::wstring> &files);
