// Stand-in configuration library for the test printer's driver. Wine's
// AddPrinterW and DocumentPropertiesW load a driver's configuration file and
// call DrvDocumentPropertySheets; AddPrinterDriver calls DrvDriverEvent.
// It answers with a plain public device mode and shows nothing.
#include "driverui.h"

extern "C" __declspec(dllexport) LONG WINAPI DrvDocumentPropertySheets(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam)
{
    auto *header = (DOCUMENTPROPERTYHEADER *)lParam;
    if (pPSUIInfo || !header)
        return 1;
    if (header->fMode == 0 || !header->pdmOut)
        return sizeof(DEVMODEW);
    DEVMODEW dm = {};
    lstrcpynW(dm.dmDeviceName, header->pszPrinterName ? header->pszPrinterName : L"", CCHDEVICENAME);
    dm.dmSpecVersion = DM_SPECVERSION;
    dm.dmSize = sizeof(DEVMODEW);
    dm.dmFields = DM_ORIENTATION | DM_PAPERSIZE;
    dm.dmOrientation = DMORIENT_PORTRAIT;
    dm.dmPaperSize = DMPAPER_A4;
    if (header->cbOut >= sizeof(dm))
        memcpy(header->pdmOut, &dm, sizeof(dm));
    return IDOK;
}

extern "C" __declspec(dllexport) BOOL WINAPI DrvDriverEvent(DWORD dwDriverEvent, DWORD dwLevel, LPBYTE pDriverInfo, LPARAM lParam)
{
    return TRUE;
}

extern "C" __declspec(dllexport) DWORD WINAPI DrvDeviceCapabilities(HANDLE hPrinter, PWSTR pDeviceName, WORD wCapability,
                                                                    PVOID pOutput, PDEVMODEW pDevMode)
{
    return (DWORD)-1;
}
