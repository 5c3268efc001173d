// The driver UI library's part of the demo, on the queue the installer made
// (its driver's configuration library is KZTTZUIF): its capabilities read through Wine's
// DeviceCapabilitiesW, a setting changed on the Settings page of the sheet
// that Wine's DocumentPropertiesW shows, the stored settings printed, and a
// test job sent from the Information page. Screenshots of the three dialogs
// are saved with the user interface's language in their names; with
// "--screenshots" only those are taken (the Japanese pass).
#include <stdio.h>
#include "drvinstdriver.h"
#include "spoolrecord.h"
#include "testenv.h"
#include "windowdriver.h"

static std::wstring OutFile(const wchar_t *name)
{
    WCHAR dir[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"KZT_DEMO_OUT", dir, MAX_PATH);
    const wchar_t *lang = GetUserDefaultLangID() == 0x0411 ? L"ja" : L"en";
    return std::wstring(dir[0] ? dir : ExeDirectory().c_str()) + L"\\uidll-" + name + L"-" + lang + L".bmp";
}

static void PrintCapabilities(const wchar_t *port)
{
    POINT size = {};
    LONG res[10] = {};
    WCHAR names[64] = L"";
    DeviceCapabilitiesW(kUiPrinter, port, DC_PAPERSIZE, (LPWSTR)&size, NULL);
    int nRes = DeviceCapabilitiesW(kUiPrinter, port, DC_ENUMRESOLUTIONS, (LPWSTR)res, NULL);
    DeviceCapabilitiesW(kUiPrinter, port, DC_PAPERNAMES, names, NULL);
    DWORD minExt = DeviceCapabilitiesW(kUiPrinter, port, DC_MINEXTENT, NULL, NULL);
    DWORD maxExt = DeviceCapabilitiesW(kUiPrinter, port, DC_MAXEXTENT, NULL, NULL);
    printf("  DC_FIELDS 0x%X, DC_SIZE %d, DC_EXTRA %d, DC_VERSION 0x%04X\n",
           DeviceCapabilitiesW(kUiPrinter, port, DC_FIELDS, NULL, NULL),
           DeviceCapabilitiesW(kUiPrinter, port, DC_SIZE, NULL, NULL),
           DeviceCapabilitiesW(kUiPrinter, port, DC_EXTRA, NULL, NULL),
           DeviceCapabilitiesW(kUiPrinter, port, DC_VERSION, NULL, NULL));
    printf("  DC_PAPERNAMES \"%ls\", DC_PAPERSIZE %ld x %ld (0.1 mm), extents %u..%u\n", names, size.x, size.y,
           LOWORD(minExt), LOWORD(maxExt));
    printf("  DC_ENUMRESOLUTIONS %d:", nRes);
    for (int i = 0; i < nRes && i < 5; i++)
        printf(" %ld", res[2 * i]);
    printf(" dpi\n");
}

static void PrintStoredSettings(HANDLE hPrinter)
{
    BYTE block[24] = {};
    DWORD type, needed = 0, size = 0;
    GetPrinterDataW(hPrinter, (LPWSTR)L"PrinterDataSize", &type, (LPBYTE)&size, sizeof(size), &needed);
    DWORD rc = GetPrinterDataW(hPrinter, (LPWSTR)L"PrinterData", &type, block, sizeof(block), &needed);
    printf("  \"PrinterDataSize\" = %lu, \"PrinterData\" =", size);
    for (DWORD i = 0; rc == ERROR_SUCCESS && i < needed && i < sizeof(block); i++)
        printf(" %02X", block[i]);
    printf("\n");
    for (const wchar_t *name : {L"UserDefinedX", L"UserDefinedY", L"UserUnit", L"FrameDpiIdx", L"CompressIdx",
                                L"DitherIdx", L"InkGainIdx"}) {
        short value = 0;
        if (GetPrinterDataW(hPrinter, (LPWSTR)name, &type, (LPBYTE)&value, sizeof(value), &needed) == ERROR_SUCCESS)
            printf("  \"%ls\" = %d\n", name, value);
    }
}

// Points the queue at another port, everything else kept; false when the
// spooler refuses.
static bool SetQueuePort(HANDLE hPrinter, const wchar_t *port)
{
    SpoolCallArgs args = {hPrinter, NULL, NULL, 0, 0, 0, 2};
    SpoolRecordResult r;
    auto *pi = (PRINTER_INFO_2W *)AllocSpoolRecord(SpoolGetPrinterW, &args, 0, &r);
    bool ok = false;
    if (pi) {
        pi->pPortName = (LPWSTR)port;
        pi->pSecurityDescriptor = NULL;
        ok = SetPrinterW(hPrinter, 2, (LPBYTE)pi, 0) != FALSE;
    }
    FreeSpoolRecord(pi);
    return ok;
}

int main(int argc, char **argv)
{
    bool screenshotsOnly = argc > 1 && !strcmp(argv[1], "--screenshots");
    std::wstring port, driver;
    if (!InstalledQueue(kUiPrinter, &port, &driver)) {
        printf("no queue \"%ls\": install the package first (instdemo install)\n", kUiPrinter);
        return 1;
    }
    HANDLE hPrinter = NULL;
    PRINTER_DEFAULTSW defaults = {NULL, NULL, PRINTER_ALL_ACCESS};
    OpenPrinterW((LPWSTR)kUiPrinter, &hPrinter, &defaults);
    if (!screenshotsOnly) {
        printf("queue     \"%ls\" on port %ls, driver \"%ls\", configuration library KZTTZUIF.DLL\n", kUiPrinter,
               port.c_str(), driver.c_str());
        printf("capabilities through Wine's DeviceCapabilitiesW:\n");
        PrintCapabilities(port.c_str());
    }

    // The document sheet, through Wine's DocumentPropertiesW and compstui.
    BYTE out[244] = {};
    ModalCall doc([&] {
        return DocumentPropertiesW(NULL, hPrinter, (LPWSTR)kUiPrinter, (DEVMODEW *)out, NULL,
                                   DM_IN_PROMPT | DM_OUT_BUFFER);
    });
    HWND sheet = NULL;
    HWND page = WaitForPage(GetCurrentProcessId(), 202, 20000, &sheet);
    if (!page) {
        printf("the document sheet did not appear\n");
        return 1;
    }
    Sleep(500);
    // The sheet's library is the one Wine loaded for the queue's driver: the
    // installed configuration library of this build's environment.
    std::wstring environment, config;
    WCHAR loaded[MAX_PATH] = L"";
    GetModuleFileNameW(GetModuleHandleW(L"KZTTZUIF.DLL"), loaded, MAX_PATH);
    bool installedUi = QueueDriverFiles(kUiPrinter, &environment, &config) && environment == kDriverEnvironment &&
                       PathIn(config, DriverDirectory(kDriverEnvironment)) && !lstrcmpiW(loaded, config.c_str());
    if (!screenshotsOnly)
        printf("\ndocument sheet shown through %ls (driver environment \"%ls\"): %s\n", loaded[0] ? loaded : L"(none)",
               environment.c_str(), installedUi ? "the installed library" : "NOT THE INSTALLED LIBRARY");
    SaveScreenshot(OutFile(L"settings"), sheet);
    Click(page, 222);
    HWND about = WaitForPage(GetCurrentProcessId(), 223, 10000, NULL);  // the box with the web address
    if (about) {
        Sleep(500);
        SaveScreenshot(OutFile(L"about"), about);
        Press(about, IDOK);
    }
    if (screenshotsOnly) {
        Press(sheet, IDCANCEL);
    } else {
        printf("\nSettings page: width 610 mm, resolution 360 dpi, dither Scatter, then OK\n");
        TypeAndLeave(page, 202, "610");
        SelectListItem(page, 215, 1);
        SelectListItem(page, 219, 1);
        Press(sheet, IDOK);
    }
    doc.Wait();
    if (!screenshotsOnly) {
        printf("stored settings (printer data of \"%ls\"):\n", kUiPrinter);
        PrintStoredSettings(hPrinter);
        printf("capabilities afterwards:\n");
        PrintCapabilities(port.c_str());
    }

    // The printer sheet with its Information page.
    typedef BOOL(WINAPI * PrinterPropertiesFn)(HWND, HANDLE);
    HMODULE ui = LoadLibraryW(config.c_str());
    auto printerProperties = (PrinterPropertiesFn)GetProcAddress(ui, "PrinterProperties");
    if (!printerProperties) {
        printf("%ls has no PrinterProperties\n", config.c_str());
        return 1;
    }
    // Wine's parallel ports have no device behind them (a job there fails at
    // its end): for the page's raw job the queue's port is a file, and the
    // handle is opened again on it. Where Wine still refuses the job, the
    // page's message box is read, closed and printed.
    bool portSet = !screenshotsOnly && SetQueuePort(hPrinter, kUiPort);
    if (!screenshotsOnly && !portSet)
        printf("\nthe queue's port could not be set to %ls: %lu; no test job\n", kUiPort, GetLastError());
    if (portSet) {
        ClosePrinter(hPrinter);
        OpenPrinterW((LPWSTR)kUiPrinter, &hPrinter, &defaults);
    }
    ModalCall props([&] { return (LONG)printerProperties(NULL, hPrinter); });
    page = WaitForPage(GetCurrentProcessId(), 500, 20000, &sheet);
    if (page) {
        Sleep(500);
        SaveScreenshot(OutFile(L"information"), sheet);
        if (portSet) {
            DeleteFileW(kUiPort);
            Click(page, 501);
            std::string box, bytes;
            // The job's bytes, or the page's message box when the job failed.
            WaitUntil([&] { return !(bytes = ReadTextFile(kUiPort)).empty() ||
                                   WaitForMessageBox(GetCurrentProcessId(), 0, &box); }, 15000);
            if (HWND hBox = WaitForMessageBox(GetCurrentProcessId(), 0, &box))
                Press(hBox, IDOK);
            printf("\nInformation page \"Send Data\" (the queue's port set to %ls for it, then back to %ls): raw job "
                   "\"TestPrint\" wrote %zu bytes: \"%s\"%s%s\n",
                   kUiPort, port.c_str(), bytes.size(), bytes.substr(0, bytes.find('\r')).c_str(),
                   box.empty() ? "" : "; message box: ", box.c_str());
        }
        Press(sheet, IDCANCEL);
    }
    props.Wait();
    if (portSet)
        SetQueuePort(hPrinter, port.c_str());
    FreeLibrary(ui);
    ClosePrinter(hPrinter);
    printf("screenshots: uidll-settings, uidll-about, uidll-information (%s)\n",
           GetUserDefaultLangID() == 0x0411 ? "Japanese" : "English");
    return page && installedUi ? 0 : 1;
}
