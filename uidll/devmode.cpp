// Building, merging, converting and copying out the driver's device mode.
#include "devmode.h"
#include <string.h>

const int16_t ResolutionTable[RESOLUTION_COUNT] = {720, 360, 180, 96, 90};

/* ResolutionForIndex: dpi of ResolutionTable entry nIndex; 720 outside it. */
int ResolutionForIndex(int nIndex)
{
    return (nIndex >= 0 && nIndex < RESOLUTION_COUNT) ? ResolutionTable[nIndex] : 720;
}

/* PelsForLength: pixels, rounded, of nLength tenths of a mm at nDpi. */
LONG PelsForLength(int16_t nLength, int16_t nDpi)
{
    int32_t v = nLength, r = nDpi;
    return ((v * r * 10) / 254 + 5) / 10;
}

/* IsUsableDevmode: a device mode this library reads: present, with a public
 * part at least up to its dmFields and at most a DEVMODEW. Anything else is
 * refused or ignored by the callers. */
BOOL IsUsableDevmode(const DEVMODEW *pdm)
{
    return pdm && pdm->dmSize >= offsetof(DEVMODEW, dmFields) + sizeof(pdm->dmFields) &&
           pdm->dmSize <= sizeof(DEVMODEW);
}

/* SpecVersionForSize: the dmSpecVersion that goes with pdm's dmSize (188:
 * 0x0320, 212: 0x0400, 220: 0x0401), else pdm's own; 0 without pdm. */
WORD SpecVersionForSize(const DEVMODEW *pdm)
{
    if (!pdm)
        return 0;
    switch (pdm->dmSize) {
    case DEVMODE351_PUBLIC_SIZE:
        return DEVMODE351_SPEC_VERSION;
    case 212:
        return 0x0400;
    case DEVMODE_PUBLIC_SIZE:
        return DEVMODE_SPEC_VERSION;
    default:
        return pdm->dmSpecVersion;
    }
}

/* InitDefaultDevmode: all 244 bytes of *pdd set to the driver's defaults:
 * the private part from the "def" section of hPrinter's data file (built-in
 * defaults without a handle), user-size paper at 720 dpi, and dmDeviceName =
 * pszDeviceName cut to 31 characters when given. */
void InitDefaultDevmode(DriverDevmode *pdd, HANDLE hPrinter, LPCWSTR pszDeviceName)
{
    static const struct {
        LPCWSTR pszKey;
        int nDefault;
        size_t offset;
    } kIniKeys[] = {
        {L"userdefx", 2100, offsetof(PrivateSettings, UserDefinedX)},
        {L"userdefy", 2970, offsetof(PrivateSettings, UserDefinedY)},
        {L"userunit", 0, offsetof(PrivateSettings, UserUnit)},
        {L"framedpiidx", 0, offsetof(PrivateSettings, FrameDpiIdx)},
        {L"compressidx", 0, offsetof(PrivateSettings, CompressIdx)},
        {L"ditheridx", 0, offsetof(PrivateSettings, DitherIdx)},
        {L"inkgainidx", 1, offsetof(PrivateSettings, InkGainIdx)},
    };
    ZeroMemory(pdd, sizeof(*pdd));
    for (const auto &key : kIniKeys) {
        int16_t nValue = (int16_t)ReadIniSetting(hPrinter, L"def", key.pszKey, key.nDefault);
        memcpy((BYTE *)&pdd->priv + key.offset, &nValue, sizeof(nValue));
    }
    pdd->priv.dwPrivData = PRIV_SIGNATURE;

    DEVMODEW &dm = pdd->dm;
    if (pszDeviceName)
        lstrcpynW(dm.dmDeviceName, pszDeviceName, CCHDEVICENAME);
    dm.dmSpecVersion = DEVMODE_SPEC_VERSION;
    dm.dmDriverVersion = DEVMODE_DRIVER_VERSION;
    dm.dmSize = DEVMODE_PUBLIC_SIZE;
    dm.dmDriverExtra = DEVMODE_EXTRA_SIZE;
    dm.dmFields = DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH | DM_PRINTQUALITY | DM_COLOR | DM_YRESOLUTION |
                  DM_TTOPTION;
    dm.dmOrientation = DMORIENT_PORTRAIT;
    dm.dmPaperSize = DMPAPER_USER;
    dm.dmPaperLength = pdd->priv.UserDefinedY;
    dm.dmPaperWidth = pdd->priv.UserDefinedX;
    dm.dmScale = 100;
    dm.dmCopies = 1;
    dm.dmDefaultSource = DMBIN_USER;
    dm.dmPrintQuality = 720;
    dm.dmColor = DMCOLOR_COLOR;
    dm.dmDuplex = DMDUP_SIMPLEX;
    dm.dmYResolution = 720;
    dm.dmTTOption = DMTT_SUBDEV;
    lstrcpyW(dm.dmFormName, L"user size");
    dm.dmLogPixels = 720;
    dm.dmBitsPerPel = 256;
    dm.dmPelsWidth = PelsForLength(pdd->priv.UserDefinedX, 720);
    dm.dmPelsHeight = PelsForLength(pdd->priv.UserDefinedY, 720);
    dm.dmDisplayFrequency = 60;
}

/* ReadIniSetting: integer pszKey of section pszSection of hPrinter's driver
 * data file (its path cut to 255 characters); nDefault when the key is
 * missing, 0 when the driver's record can't be read. */
int ReadIniSetting(HANDLE hPrinter, LPCWSTR pszSection, LPCWSTR pszKey, int nDefault)
{
    DRIVER_INFO_2W *pInfo = AllocDriverInfo(hPrinter);
    if (!pInfo)
        return 0;
    WCHAR szDataFile[256];
    lstrcpynW(szDataFile, pInfo->pDataFile ? pInfo->pDataFile : L"", 256);
    FreeSpoolRecord(pInfo);
    return GetPrivateProfileIntW(pszSection, pszKey, nDefault, szDataFile);
}

/* BuildWorkingDevmode: the defaults with hPrinter's stored settings over
 * them; hPrinter may be NULL. */
void BuildWorkingDevmode(DriverDevmode *pdd, HANDLE hPrinter, LPCWSTR pszDeviceName)
{
    InitDefaultDevmode(pdd, hPrinter, pszDeviceName);
    LoadPrivateSettings(hPrinter, &pdd->priv);
}

/* UpdateDerivedFields: the public fields that follow from the private part:
 * paper width and length, resolution, pixel sizes. Always TRUE. */
BOOL UpdateDerivedFields(DriverDevmode *pdd)
{
    int16_t nDpi = (int16_t)ResolutionForIndex(pdd->priv.FrameDpiIdx);
    pdd->dm.dmPaperWidth = pdd->priv.UserDefinedX;
    pdd->dm.dmPaperLength = pdd->priv.UserDefinedY;
    pdd->dm.dmPrintQuality = pdd->dm.dmYResolution = nDpi;
    pdd->dm.dmLogPixels = nDpi;
    pdd->dm.dmPelsWidth = PelsForLength(pdd->priv.UserDefinedX, nDpi);
    pdd->dm.dmPelsHeight = PelsForLength(pdd->priv.UserDefinedY, nDpi);
    return TRUE;
}

// A field of the source counts when its flag is set and the source's public
// part is long enough to hold it.
#define SOURCE_HAS(pdm, flag, field) \
    (((pdm)->dmFields & (flag)) && offsetof(DEVMODEW, field) + sizeof((pdm)->field) <= (pdm)->dmSize)

/* MergeDevmode: the fields of pdmSource (the caller's, read only within its
 * dmSize and dmDriverExtra) whose flags are set, scale and copies clamped,
 * and its private part when it carries ours; an unusable or missing source
 * changes nothing. Then the derived fields. Always TRUE. */
BOOL MergeDevmode(DriverDevmode *pdd, const DEVMODEW *pdmSource)
{
    if (!IsUsableDevmode(pdmSource))
        return TRUE;
    const DEVMODEW *s = pdmSource;
    DEVMODEW &d = pdd->dm;
    if (SOURCE_HAS(s, DM_DEFAULTSOURCE, dmDefaultSource)) {
        d.dmFields |= DM_DEFAULTSOURCE;
        d.dmDefaultSource = s->dmDefaultSource;
    }
    if (SOURCE_HAS(s, DM_YRESOLUTION, dmYResolution)) {
        d.dmFields |= DM_YRESOLUTION;
        d.dmYResolution = s->dmYResolution;
        d.dmPrintQuality = s->dmPrintQuality;
    }
    if (SOURCE_HAS(s, DM_PAPERLENGTH, dmPaperLength) && SOURCE_HAS(s, DM_PAPERWIDTH, dmPaperWidth) &&
        s->dmPaperLength > 0 && s->dmPaperWidth > 0) {
        d.dmPaperLength = s->dmPaperLength;
        d.dmPaperWidth = s->dmPaperWidth;
        d.dmFields |= DM_PAPERLENGTH | DM_PAPERWIDTH;
    } else if (SOURCE_HAS(s, DM_FORMNAME, dmFormName)) {
        memcpy(d.dmFormName, s->dmFormName, sizeof(d.dmFormName));
        d.dmFields |= DM_FORMNAME;
    } else if (SOURCE_HAS(s, DM_PAPERSIZE, dmPaperSize)) {
        d.dmPaperSize = s->dmPaperSize;
        d.dmFields |= DM_PAPERSIZE;
    }
    if (SOURCE_HAS(s, DM_SCALE, dmScale)) {
        d.dmFields |= DM_SCALE;
        d.dmScale = (s->dmScale >= 1 && s->dmScale <= 1000) ? s->dmScale : 100;
    }
    if (SOURCE_HAS(s, DM_COPIES, dmCopies)) {
        d.dmFields |= DM_COPIES;
        d.dmCopies = (s->dmCopies >= 1 && s->dmCopies <= 99) ? s->dmCopies : 1;
    }
    d.dmFields |= DM_COLOR;
    d.dmColor = DMCOLOR_COLOR;
    if (s->dmDriverExtra && s->dmDriverExtra == d.dmDriverExtra) {
        const PrivateSettings *pPriv = (const PrivateSettings *)((const BYTE *)s + s->dmSize);
        uint32_t dwSignature;
        memcpy(&dwSignature, &pPriv->dwPrivData, sizeof(dwSignature));
        if (dwSignature == PRIV_SIGNATURE)
            memcpy(&pdd->priv, pPriv, sizeof(pdd->priv));
    }
    return UpdateDerivedFields(pdd);
}

/* ConvertDevmode: pdmSource copied into pdmTarget in the target's own shape
 * (its dmSize, dmDriverExtra and dmDriverVersion stay; dmSpecVersion follows
 * the size): as much of each part as both hold. pdmTarget has room for its
 * dmSize + dmDriverExtra. The bytes copied, or -1 when either is unusable. */
LONG ConvertDevmode(const DEVMODEW *pdmSource, DEVMODEW *pdmTarget)
{
    if (!SpecVersionForSize(pdmSource) || !SpecVersionForSize(pdmTarget) || !IsUsableDevmode(pdmSource) ||
        !IsUsableDevmode(pdmTarget))
        return -1;
    WORD wDriverVersion = pdmTarget->dmDriverVersion;
    WORD wSize = pdmTarget->dmSize;
    WORD wDriverExtra = pdmTarget->dmDriverExtra;
    WORD cbPublic = wSize < pdmSource->dmSize ? wSize : pdmSource->dmSize;
    memmove(pdmTarget, pdmSource, cbPublic);
    pdmTarget->dmSize = wSize;
    pdmTarget->dmSpecVersion = SpecVersionForSize(pdmTarget);
    pdmTarget->dmDriverVersion = wDriverVersion;
    pdmTarget->dmDriverExtra = wDriverExtra;
    WORD cbExtra = wDriverExtra < pdmSource->dmDriverExtra ? wDriverExtra : pdmSource->dmDriverExtra;
    memmove((BYTE *)pdmTarget + wSize, (const BYTE *)pdmSource + pdmSource->dmSize, cbExtra);
    return cbPublic + cbExtra;
}

/* CopyDevmodeOut: *pdd written to pdmOut: all 244 bytes without a template;
 * with one, in the smaller of its shape and ours (pdmOut holds the template's
 * dmSize + dmDriverExtra). FALSE, pdmOut untouched, without pdmOut, with an
 * unusable template, or with a shape of an unknown size and no version. */
BOOL CopyDevmodeOut(const DriverDevmode *pdd, const DEVMODEW *pdmTemplate, DEVMODEW *pdmOut)
{
    if (!pdmOut)
        return FALSE;
    if (!pdmTemplate) {
        memcpy(pdmOut, pdd, sizeof(*pdd));
        return TRUE;
    }
    if (!IsUsableDevmode(pdmTemplate))
        return FALSE;
    const DEVMODEW &d = pdd->dm;
    // The output's header is settled first: the conversion would refuse it
    // only after the caller's header had been overwritten.
    DEVMODEW shape;
    ZeroMemory(&shape, sizeof(shape));
    shape.dmSpecVersion = pdmTemplate->dmSize < d.dmSize ? pdmTemplate->dmSpecVersion : d.dmSpecVersion;
    shape.dmSize = pdmTemplate->dmSize < d.dmSize ? pdmTemplate->dmSize : d.dmSize;
    shape.dmDriverVersion =
        pdmTemplate->dmDriverExtra < d.dmDriverExtra ? pdmTemplate->dmDriverVersion : d.dmDriverVersion;
    shape.dmDriverExtra = pdmTemplate->dmDriverExtra < d.dmDriverExtra ? pdmTemplate->dmDriverExtra : d.dmDriverExtra;
    if (!SpecVersionForSize(&shape))
        return FALSE;
    pdmOut->dmSpecVersion = shape.dmSpecVersion;
    pdmOut->dmSize = shape.dmSize;
    pdmOut->dmDriverVersion = shape.dmDriverVersion;
    pdmOut->dmDriverExtra = shape.dmDriverExtra;
    return ConvertDevmode(&d, pdmOut) > 0;
}
