// Device capabilities, answered from a working device mode.
#include "driverui.h"
#include "sheetstate.h"
#include <string.h>

/* One capability of the working device mode; (DWORD)-1 for an unknown index.
 * pvOutput, if given, gets: a WORD (DC_PAPERS), two LONGs (DC_PAPERSIZE), five
 * LONG pairs (DC_ENUMRESOLUTIONS), a WCHAR 0 (DC_FILEDEPENDENCIES), "User
 * Size" in a 64-character name (DC_PAPERNAMES); other indexes write nothing. */
static DWORD Capability(const DriverDevmode &work, WORD iDevCap, void *pvOutput)
{
    const DEVMODEW &dm = work.dm;
    switch (iDevCap) {
    case DC_FIELDS:
        return dm.dmFields;
    case DC_PAPERS:
        if (pvOutput)
            *(WORD *)pvOutput = DMPAPER_USER;
        return 1;
    case DC_PAPERSIZE:
        if (pvOutput) {
            POINT pt = {dm.dmPaperWidth, dm.dmPaperLength};
            memcpy(pvOutput, &pt, sizeof(pt));
        }
        return 1;
    case DC_MINEXTENT:
        return MAKELONG(LENGTH_MIN, LENGTH_MIN);
    case DC_MAXEXTENT:
        return MAKELONG(LENGTH_MAX, LENGTH_MAX);
    case DC_BINS:
    case DC_DUPLEX:
    case DC_BINNAMES:
    case DC_ORIENTATION:
        return 0;
    case DC_SIZE:
        return dm.dmSize;
    case DC_EXTRA:
        return dm.dmDriverExtra;
    case DC_VERSION:
        return dm.dmSpecVersion;
    case DC_DRIVER:
        return dm.dmDriverVersion;
    case DC_ENUMRESOLUTIONS:
        if (pvOutput) {
            LONG *pPairs = (LONG *)pvOutput;
            for (int i = 0; i < RESOLUTION_COUNT; i++)
                pPairs[2 * i] = pPairs[2 * i + 1] = ResolutionTable[i];
        }
        return RESOLUTION_COUNT;
    case DC_FILEDEPENDENCIES:
        if (pvOutput)
            *(WCHAR *)pvOutput = 0;
        return 0;
    case DC_TRUETYPE:
        return DCTT_DOWNLOAD | DCTT_SUBDEV;
    case DC_PAPERNAMES:
        if (pvOutput)
            lstrcpyW((LPWSTR)pvOutput, L"User Size");
        return 1;
    case DC_COPIES:
        return 1;
    default:
        return (DWORD)-1;
    }
}

/* DrvDeviceCapabilities: capability iDevCap of the queue hPrinter (opened
 * by pDeviceName for the call when hPrinter is NULL) with pDevMode merged
 * in; pvOutput NULL or with room for what Capability writes. The answer, or
 * (DWORD)-1 for an unknown index or without memory. */
extern "C" __declspec(dllexport) DWORD WINAPI DrvDeviceCapabilities(HANDLE hPrinter, PWSTR pDeviceName, WORD iDevCap,
                                                                   VOID *pvOutput, PDEVMODEW pDevMode)
{
    DriverDevmode *pWork = (DriverDevmode *)GlobalAlloc(GMEM_FIXED, sizeof(DriverDevmode));
    if (!pWork)
        return (DWORD)-1;
    // Without a handle (as the spooler's DeviceCapabilities calls it) the
    // printer is opened by name, so that its stored settings still count.
    HANDLE hOpened = NULL;
    if (!hPrinter && pDeviceName && OpenPrinterW(pDeviceName, &hOpened, NULL))
        hPrinter = hOpened;
    BuildWorkingDevmode(pWork, hPrinter, pDeviceName);
    MergeDevmode(pWork, pDevMode);
    UpdateDerivedFields(pWork);
    DWORD dwResult = Capability(*pWork, iDevCap, pvOutput);
    if (hOpened)
        ClosePrinter(hOpened);
    GlobalFree(pWork);
    return dwResult;
}
