// The spooler's device-mode conversion entry point.
#include "driverui.h"
#include "sheetstate.h"

enum ConvertStep { CONVERT_FAILED = 0, CONVERT_DONE = 1, CONVERT_NOT_HANDLED = 2 };

/* The conversion of one fMode: CONVERT_DONE with *pcbNeeded set to the
 * bytes written, CONVERT_FAILED with the last error (and *pcbNeeded the room
 * needed when it was too small), or CONVERT_NOT_HANDLED for the caller. */
static ConvertStep ConvertCore(PDEVMODEW pdmIn, PDEVMODEW pdmOut, PLONG pcbNeeded, DWORD fMode)
{
    const LONG cbHeader = offsetof(DEVMODEW, dmFields) + sizeof(DWORD);
    switch (fMode) {
    case CDM_CONVERT: {
        // The output's own header tells its shape; it must lie inside the
        // room the caller gave before it is read.
        if (!pdmOut || *pcbNeeded < cbHeader || *pcbNeeded < (LONG)pdmOut->dmSize + pdmOut->dmDriverExtra ||
            ConvertDevmode(pdmIn, pdmOut) <= 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return CONVERT_FAILED;
        }
        *pcbNeeded = pdmOut->dmSize + pdmOut->dmDriverExtra;
        return CONVERT_DONE;
    }
    case CDM_CONVERT351: {
        const LONG cbNeeded = DEVMODE351_PUBLIC_SIZE + DEVMODE351_EXTRA_SIZE;
        if (!pdmOut || *pcbNeeded < cbNeeded) {
            *pcbNeeded = cbNeeded;
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return CONVERT_FAILED;
        }
        if (!IsUsableDevmode(pdmIn)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return CONVERT_FAILED;
        }
        pdmOut->dmSpecVersion = DEVMODE351_SPEC_VERSION;
        pdmOut->dmSize = DEVMODE351_PUBLIC_SIZE;
        pdmOut->dmDriverVersion = DEVMODE351_DRIVER_VERSION;
        pdmOut->dmDriverExtra = DEVMODE351_EXTRA_SIZE;
        if (ConvertDevmode(pdmIn, pdmOut) <= 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return CONVERT_FAILED;
        }
        *pcbNeeded = cbNeeded;
        return CONVERT_DONE;
    }
    case CDM_DRIVER_DEFAULT: {
        const LONG cbNeeded = sizeof(DriverDevmode);
        if (!pdmOut || *pcbNeeded < cbNeeded) {
            *pcbNeeded = cbNeeded;
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return CONVERT_FAILED;
        }
        *pcbNeeded = cbNeeded;
        return CONVERT_NOT_HANDLED;
    }
    default:
        return CONVERT_NOT_HANDLED;
    }
}

/* DrvConvertDevMode: *pcbNeeded is the room at pdmOut in, the bytes written
 * or needed out. CDM_CONVERT: pdmIn into pdmOut's own shape; CDM_CONVERT351:
 * the 196-byte 3.51 shape; CDM_DRIVER_DEFAULT: pPrinterName's defaults, 244.
 * FALSE with the last error; an unknown fMode leaves the last error alone. */
extern "C" __declspec(dllexport) BOOL WINAPI DrvConvertDevMode(LPWSTR pPrinterName, PDEVMODEW pdmIn,
                                                              PDEVMODEW pdmOut, PLONG pcbNeeded, DWORD fMode)
{
    if (!pcbNeeded) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ConvertStep step = ConvertCore(pdmIn, pdmOut, pcbNeeded, fMode);
    if (step == CONVERT_NOT_HANDLED && fMode == CDM_DRIVER_DEFAULT) {
        HANDLE hPrinter = NULL;
        if (OpenPrinterW(pPrinterName, &hPrinter, NULL)) {
            DRIVER_INFO_2W *pInfo = AllocDriverInfo(hPrinter);
            if (pInfo) {
                InitDefaultDevmode((DriverDevmode *)pdmOut, hPrinter, pInfo->pName);
                step = CONVERT_DONE;
                FreeSpoolRecord(pInfo);
            }
            ClosePrinter(hPrinter);
        }
    }
    return step == CONVERT_DONE;
}
