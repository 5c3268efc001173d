// The driver's device mode: the public DEVMODEW of the 0x0401 layout followed
// by the 24-byte private part, which is also the printer-data value
// "PrinterData". Both layouts are persisted formats.
#pragma once
#include <windows.h>
#include <winspool.h>
#include <stddef.h>
#include <stdint.h>
#include "spoolrecord.h"

#pragma pack(push, 2)
struct PrivateSettings {
    int16_t UserDefinedX;  // paper width, tenths of mm
    int16_t UserDefinedY;  // paper length, tenths of mm
    int16_t UserUnit;      // 0 millimetres, 1 inches
    int16_t FrameDpiIdx;   // index into ResolutionTable
    int16_t CompressIdx;   // 0 None, 1 RLE, 2 TIFF
    int16_t DitherIdx;     // 0 Cluster, 1 Scatter
    int16_t InkGainIdx;    // 0 High, 1 Mid, 2 Low
    uint16_t wPadding;
    uint32_t dwPrivData;   // "PRIV"
    uint32_t dwFlags;
};
#pragma pack(pop)

struct DriverDevmode {
    DEVMODEW dm;
    PrivateSettings priv;
};

#define PRIV_SIGNATURE 0x56495250u  // the bytes "PRIV"
#define DEVMODE_PUBLIC_SIZE 220
#define DEVMODE_EXTRA_SIZE 24
#define DEVMODE_DRIVER_VERSION 0x0100
#define DEVMODE_SPEC_VERSION 0x0401
#define DEVMODE351_PUBLIC_SIZE 188
#define DEVMODE351_EXTRA_SIZE 8
#define DEVMODE351_DRIVER_VERSION 0x0350
#define DEVMODE351_SPEC_VERSION 0x0320
#define LENGTH_MIN 254    // 1 inch in tenths of mm
#define LENGTH_MAX 15240  // 60 inches

static_assert(sizeof(PrivateSettings) == 24, "PrivateSettings is 24 bytes");
static_assert(offsetof(PrivateSettings, UserDefinedX) == 0, "layout");
static_assert(offsetof(PrivateSettings, UserDefinedY) == 2, "layout");
static_assert(offsetof(PrivateSettings, UserUnit) == 4, "layout");
static_assert(offsetof(PrivateSettings, FrameDpiIdx) == 6, "layout");
static_assert(offsetof(PrivateSettings, CompressIdx) == 8, "layout");
static_assert(offsetof(PrivateSettings, DitherIdx) == 10, "layout");
static_assert(offsetof(PrivateSettings, InkGainIdx) == 12, "layout");
static_assert(offsetof(PrivateSettings, wPadding) == 14, "layout");
static_assert(offsetof(PrivateSettings, dwPrivData) == 16, "layout");
static_assert(offsetof(PrivateSettings, dwFlags) == 20, "layout");
static_assert(sizeof(DEVMODEW) == DEVMODE_PUBLIC_SIZE, "DEVMODEW of the 0x0401 layout");
static_assert(sizeof(DriverDevmode) == 244, "DriverDevmode is 244 bytes");
static_assert(offsetof(DriverDevmode, priv) == DEVMODE_PUBLIC_SIZE, "private part follows the public one");
static_assert(offsetof(DEVMODEW, dmSpecVersion) == 64 && offsetof(DEVMODEW, dmSize) == 68 &&
                  offsetof(DEVMODEW, dmDriverExtra) == 70 && offsetof(DEVMODEW, dmFields) == 72 &&
                  offsetof(DEVMODEW, dmPaperSize) == 78 && offsetof(DEVMODEW, dmPaperWidth) == 82 &&
                  offsetof(DEVMODEW, dmScale) == 84 && offsetof(DEVMODEW, dmCopies) == 86 &&
                  offsetof(DEVMODEW, dmDefaultSource) == 88 && offsetof(DEVMODEW, dmPrintQuality) == 90 &&
                  offsetof(DEVMODEW, dmColor) == 92 && offsetof(DEVMODEW, dmYResolution) == 96 &&
                  offsetof(DEVMODEW, dmFormName) == 102 && offsetof(DEVMODEW, dmLogPixels) == 166 &&
                  offsetof(DEVMODEW, dmPelsWidth) == 172 && offsetof(DEVMODEW, dmDisplayFrequency) == 184 &&
                  offsetof(DEVMODEW, dmPanningHeight) == 216,
              "DEVMODEW field offsets");

extern const int16_t ResolutionTable[5];
#define RESOLUTION_COUNT 5

int ResolutionForIndex(int nIndex);
LONG PelsForLength(int16_t nLength, int16_t nDpi);
WORD SpecVersionForSize(const DEVMODEW *pdm);
BOOL IsUsableDevmode(const DEVMODEW *pdm);

void InitDefaultDevmode(DriverDevmode *pdd, HANDLE hPrinter, LPCWSTR pszDeviceName);
int ReadIniSetting(HANDLE hPrinter, LPCWSTR pszSection, LPCWSTR pszKey, int nDefault);
void LoadPrivateSettings(HANDLE hPrinter, PrivateSettings *pSettings);
BOOL SavePrivateSettings(HANDLE hPrinter, const PrivateSettings *pSettings, DWORD cbSettings);
void BuildWorkingDevmode(DriverDevmode *pdd, HANDLE hPrinter, LPCWSTR pszDeviceName);
BOOL MergeDevmode(DriverDevmode *pdd, const DEVMODEW *pdmSource);
BOOL UpdateDerivedFields(DriverDevmode *pdd);
BOOL CopyDevmodeOut(const DriverDevmode *pdd, const DEVMODEW *pdmTemplate, DEVMODEW *pdmOut);
LONG ConvertDevmode(const DEVMODEW *pdmSource, DEVMODEW *pdmTarget);

// Lengths shown and entered on the Settings page.
void FormatLengthText(int nLength, int nUnit, WCHAR *pszText, int cchText);
int ParseLengthText(LPCWSTR pszText, int nUnit, int nMin, int nMax);

// The printer's spooler records (settings.cpp), level 2, in blocks the
// caller frees with FreeSpoolRecord; NULL without a handle or on failure.
DRIVER_INFO_2W *AllocDriverInfo(HANDLE hPrinter);
PRINTER_INFO_2W *AllocPrinterInfo(HANDLE hPrinter);
