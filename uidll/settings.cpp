// The private settings in the printer's printer data, and the spooler
// records they are read with.
#include "devmode.h"
#include <string.h>

/* AllocDriverInfo: hPrinter's DRIVER_INFO_2W (current environment), zero-
 * filled beyond the record; the caller frees it with FreeSpoolRecord. NULL
 * without a handle, when the spooler refuses or announces no size. */
DRIVER_INFO_2W *AllocDriverInfo(HANDLE hPrinter)
{
    SpoolRecordResult r;
    return hPrinter ? (DRIVER_INFO_2W *)AllocSingleSpoolRecord(SpoolGetPrinterDriverW, hPrinter, 2, &r) : NULL;
}

/* AllocPrinterInfo: hPrinter's PRINTER_INFO_2W, as AllocDriverInfo. */
PRINTER_INFO_2W *AllocPrinterInfo(HANDLE hPrinter)
{
    SpoolRecordResult r;
    return hPrinter ? (PRINTER_INFO_2W *)AllocSingleSpoolRecord(SpoolGetPrinterW, hPrinter, 2, &r) : NULL;
}

// The single values: name, offset in the block, width and default.
static const struct {
    LPCWSTR pszName;
    size_t offset;
    DWORD cb;
    uint32_t dwDefault;
} kSingleValues[] = {
    {L"UserDefinedX", offsetof(PrivateSettings, UserDefinedX), 2, 2100},
    {L"UserDefinedY", offsetof(PrivateSettings, UserDefinedY), 2, 2970},
    {L"UserUnit", offsetof(PrivateSettings, UserUnit), 2, 0},
    {L"FrameDpiIdx", offsetof(PrivateSettings, FrameDpiIdx), 2, 0},
    {L"CompressIdx", offsetof(PrivateSettings, CompressIdx), 2, 0},
    {L"DitherIdx", offsetof(PrivateSettings, DitherIdx), 2, 0},
    {L"InkGainIdx", offsetof(PrivateSettings, InkGainIdx), 2, 1},
    {L"dwPrivData", offsetof(PrivateSettings, dwPrivData), 4, PRIV_SIGNATURE},
    {L"dwFlags", offsetof(PrivateSettings, dwFlags), 4, 0},
};

// The block pair: "PrinterDataSize" and a "PrinterData" of that size. Only a
// block of at least 24 bytes counts; its first 24 bytes are the settings.
static BOOL LoadSettingsBlock(HANDLE hPrinter, PrivateSettings *pSettings)
{
    DWORD dwSize = 0, dwType, cbNeeded = 0;
    if (GetPrinterDataW(hPrinter, (LPWSTR)L"PrinterDataSize", &dwType, (LPBYTE)&dwSize, sizeof(dwSize),
                        &cbNeeded) != ERROR_SUCCESS ||
        cbNeeded != sizeof(dwSize) || dwSize < sizeof(PrivateSettings))
        return FALSE;
    BYTE *pBlock = (BYTE *)GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, dwSize);
    if (!pBlock)
        return FALSE;
    BOOL bLoaded = GetPrinterDataW(hPrinter, (LPWSTR)L"PrinterData", &dwType, pBlock, dwSize, &cbNeeded) ==
                       ERROR_SUCCESS &&
                   cbNeeded >= sizeof(PrivateSettings);
    if (bLoaded)
        memcpy(pSettings, pBlock, sizeof(*pSettings));
    GlobalFree(pBlock);
    return bLoaded;
}

/* LoadPrivateSettings: hPrinter's 24-byte private settings: the block
 * pair when it counts, else each single value of exactly its width, else
 * that value's default. Without a handle: all defaults. */
void LoadPrivateSettings(HANDLE hPrinter, PrivateSettings *pSettings)
{
    if (hPrinter && LoadSettingsBlock(hPrinter, pSettings))
        return;
    ZeroMemory(pSettings, sizeof(*pSettings));
    for (const auto &value : kSingleValues) {
        uint32_t dwValue = 0;
        DWORD dwType, cbNeeded = 0;
        if (!hPrinter ||
            GetPrinterDataW(hPrinter, (LPWSTR)value.pszName, &dwType, (LPBYTE)&dwValue, value.cb, &cbNeeded) !=
                ERROR_SUCCESS ||
            cbNeeded != value.cb)
            dwValue = value.dwDefault;
        memcpy((BYTE *)pSettings + value.offset, &dwValue, value.cb);
    }
}

/* SavePrivateSettings: every single value, then "PrinterDataSize" =
 * cbSettings and "PrinterData" (cbSettings bytes of pSettings, 24), into
 * hPrinter's printer data, which needs the right to change the printer.
 * TRUE when the block pair was written; single values are not checked. */
BOOL SavePrivateSettings(HANDLE hPrinter, const PrivateSettings *pSettings, DWORD cbSettings)
{
    for (const auto &value : kSingleValues)
        SetPrinterDataW(hPrinter, (LPWSTR)value.pszName, REG_BINARY, (LPBYTE)pSettings + value.offset, value.cb);
    DWORD dwSize = cbSettings;
    BOOL bSize = SetPrinterDataW(hPrinter, (LPWSTR)L"PrinterDataSize", REG_DWORD, (LPBYTE)&dwSize,
                                 sizeof(dwSize)) == ERROR_SUCCESS;
    BOOL bData = SetPrinterDataW(hPrinter, (LPWSTR)L"PrinterData", REG_BINARY, (LPBYTE)pSettings, cbSettings) ==
                 ERROR_SUCCESS;
    return bSize && bData;
}
