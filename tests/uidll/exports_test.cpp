// The library's exports, called directly and through Wine's own spooler
// functions as an application calls them.
#include "guardeddevmode.h"
#include "uidllfixture.h"
#include <algorithm>
#include <random>
#include <string.h>
#include <vector>

TEST_F(UiTest, ConvertDevModeModes)
{
    DriverDevmode in;
    BuildWorkingDevmode(&in, NULL, kUiPrinter);
    in.priv.UserDefinedX = 4444;
    struct {
        DWORD mode;
        LONG cbGiven;
        bool withOut;
        BOOL result;
        DWORD error;   // 99: left alone; 0: not checked
        LONG cbAfter;
    } cases[] = {
        {CDM_CONVERT, 244, true, TRUE, 0, 244},
        {CDM_CONVERT, 243, true, FALSE, ERROR_INVALID_PARAMETER, 243},
        {CDM_CONVERT, 244, false, FALSE, ERROR_INVALID_PARAMETER, 244},
        {CDM_CONVERT351, 196, true, TRUE, 0, 196},
        {CDM_CONVERT351, 195, true, FALSE, ERROR_INSUFFICIENT_BUFFER, 196},
        {CDM_CONVERT351, 500, false, FALSE, ERROR_INSUFFICIENT_BUFFER, 196},
        {CDM_DRIVER_DEFAULT, 243, true, FALSE, ERROR_INSUFFICIENT_BUFFER, 244},
        {CDM_DRIVER_DEFAULT, 244, true, TRUE, 0, 244},
        {8, 244, true, FALSE, 99, 244},
    };
    for (const auto &c : cases) {
        DriverDevmode out = {};
        out.dm.dmSize = 220;
        out.dm.dmDriverExtra = 24;
        LONG cb = c.cbGiven;
        SetLastError(99);
        EXPECT_EQ(c.result, ui.pfnConvert((LPWSTR)kUiPrinter, &in.dm, c.withOut ? &out.dm : NULL, &cb, c.mode))
            << c.mode << " " << c.cbGiven;
        if (c.error) {
            EXPECT_EQ(c.error, GetLastError()) << c.mode << " " << c.cbGiven;
        }
        EXPECT_EQ(c.cbAfter, cb) << c.mode << " " << c.cbGiven;
        if (c.result && c.mode == CDM_CONVERT) {
            EXPECT_EQ(4444, out.priv.UserDefinedX);
        }
        if (c.result && c.mode == CDM_CONVERT351) {
            EXPECT_EQ(188, out.dm.dmSize);
            EXPECT_EQ(0x0320, out.dm.dmSpecVersion);
            EXPECT_EQ(4444, *(int16_t *)((BYTE *)&out + 188));  // the 8 bytes of private part kept
        }
        if (c.result && c.mode == CDM_DRIVER_DEFAULT) {
            EXPECT_STREQ(kUiPrinter, out.dm.dmDeviceName);
            EXPECT_EQ(1, out.priv.CompressIdx);  // from the data file's "def" section
        }
    }
    SetLastError(0);
    EXPECT_FALSE(ui.pfnConvert((LPWSTR)kUiPrinter, &in.dm, &in.dm, NULL, CDM_CONVERT));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
    LONG cb = 244;
    DriverDevmode out;
    EXPECT_FALSE(ui.pfnConvert((LPWSTR)L"No Such Printer", &in.dm, &out.dm, &cb, CDM_DRIVER_DEFAULT));
}

TEST_F(UiTest, CapabilitiesTable)
{
    struct {
        WORD cap;
        DWORD result;
    } cases[] = {
        {DC_FIELDS, 0x6C0E}, {DC_PAPERS, 1},  {DC_PAPERSIZE, 1}, {DC_MINEXTENT, MAKELONG(254, 254)},
        {DC_MAXEXTENT, MAKELONG(15240, 15240)}, {DC_BINS, 0}, {DC_DUPLEX, 0}, {DC_SIZE, 220}, {DC_EXTRA, 24},
        {DC_VERSION, 0x0401}, {DC_DRIVER, 0x0100}, {DC_BINNAMES, 0}, {DC_ENUMRESOLUTIONS, 5},
        {DC_FILEDEPENDENCIES, 0}, {DC_TRUETYPE, 6}, {DC_PAPERNAMES, 1}, {DC_ORIENTATION, 0}, {DC_COPIES, 1},
        {0, (DWORD)-1}, {19, (DWORD)-1},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.result, ui.pfnCaps(hPrinter, (LPWSTR)kUiPrinter, c.cap, NULL, NULL)) << c.cap;
        BYTE out[256];
        memset(out, 0, sizeof(out));
        EXPECT_EQ(c.result, ui.pfnCaps(hPrinter, (LPWSTR)kUiPrinter, c.cap, out, NULL)) << c.cap;
    }
    POINT pt;
    ui.pfnCaps(hPrinter, (LPWSTR)kUiPrinter, DC_PAPERSIZE, &pt, NULL);
    EXPECT_EQ(2100, pt.x);
    EXPECT_EQ(2970, pt.y);
    LONG res[10];
    ui.pfnCaps(hPrinter, (LPWSTR)kUiPrinter, DC_ENUMRESOLUTIONS, res, NULL);
    EXPECT_EQ(std::vector<LONG>({720, 720, 360, 360, 180, 180, 96, 96, 90, 90}), std::vector<LONG>(res, res + 10));
    WCHAR names[64] = {};
    ui.pfnCaps(hPrinter, (LPWSTR)kUiPrinter, DC_PAPERNAMES, names, NULL);
    EXPECT_STREQ(L"User Size", names);

    PrivateSettings stored = DefaultSettings();
    stored.UserDefinedX = 6100;
    StoreSettings(stored);
    ui.pfnCaps(hPrinter, (LPWSTR)kUiPrinter, DC_PAPERSIZE, &pt, NULL);
    EXPECT_EQ(6100, pt.x);
    // No handle at all, no printer of that name: the defaults.
    ui.pfnCaps(NULL, (LPWSTR)L"No Such Printer", DC_PAPERSIZE, &pt, NULL);
    EXPECT_EQ(2100, pt.x);
    ui.pfnCaps(NULL, NULL, DC_PAPERSIZE, &pt, NULL);
    EXPECT_EQ(2100, pt.x);
}

TEST_F(UiTest, CapabilitiesThroughWinesDeviceCapabilities)
{
    PrivateSettings stored = DefaultSettings();
    stored.UserDefinedX = 6100;
    StoreSettings(stored);
    POINT pt = {};
    EXPECT_EQ(1, DeviceCapabilitiesW(kUiPrinter, kUiPort, DC_PAPERSIZE, (LPWSTR)&pt, NULL));
    EXPECT_EQ(6100, pt.x);
    EXPECT_EQ(5, DeviceCapabilitiesW(kUiPrinter, kUiPort, DC_ENUMRESOLUTIONS, NULL, NULL));
    EXPECT_EQ(0x6C0E, DeviceCapabilitiesW(kUiPrinter, kUiPort, DC_FIELDS, NULL, NULL));
    WCHAR names[64] = {};
    EXPECT_EQ(1, DeviceCapabilitiesW(kUiPrinter, kUiPort, DC_PAPERNAMES, names, NULL));
    EXPECT_STREQ(L"User Size", names);
}

TEST_F(UiTest, DocumentPropertiesWithoutDialog)
{
    EXPECT_EQ(244, ui.pfnDocProps(NULL, hPrinter, (LPWSTR)kUiPrinter, NULL, NULL, DM_COPY));
    DriverDevmode out;
    EXPECT_EQ(244, ui.pfnDocProps(NULL, hPrinter, (LPWSTR)kUiPrinter, &out.dm, NULL, 0));

    // Defaults, stored private part, the input's public fields.
    PrivateSettings stored = DefaultSettings();
    stored.UserDefinedY = 8000;
    StoreSettings(stored);
    DriverDevmode in;
    BuildWorkingDevmode(&in, NULL, kUiPrinter);
    in.dm.dmFields |= DM_COPIES;
    in.dm.dmCopies = 3;
    in.priv.dwPrivData = 0;
    memset(&out, 0, sizeof(out));
    EXPECT_EQ(IDOK, ui.pfnDocProps(NULL, hPrinter, (LPWSTR)kUiPrinter, &out.dm, &in.dm, DM_COPY));
    EXPECT_EQ(3, out.dm.dmCopies);
    EXPECT_EQ(8000, out.dm.dmPaperLength);
    EXPECT_EQ(8000, out.priv.UserDefinedY);

    // The sheet function without a sheet serves the same path.
    DOCUMENTPROPERTYHEADER header = {sizeof(header), 0, hPrinter, (LPWSTR)kUiPrinter, NULL, &out.dm, 0, 0};
    EXPECT_EQ(244, ui.pfnDocSheets(NULL, (LPARAM)&header));
    EXPECT_EQ(244u, header.cbOut);
    EXPECT_EQ(-1, ui.pfnDocSheets(NULL, 0));
    header.fMode = DM_COPY;
    EXPECT_EQ(1, ui.pfnDocSheets(NULL, (LPARAM)&header));
}

namespace {

// Input device modes whose shape the library refuses for its answer: a
// header cut short, a public part larger than ours, an unknown size without
// a spec version.
struct InputShape {
    WORD size, spec, extra;
};
const InputShape kInputShapes[] = {
    {0, 0x0401, 0}, {60, 0x0401, 0}, {75, 0x0401, 24}, {221, 0x0401, 24}, {300, 0x0401, 0}, {200, 0, 24},
};

// A device mode of the driver's own in the given header shape, in a buffer
// large enough for any of them.
struct ShapedInput {
    BYTE bytes[512];
    explicit ShapedInput(const InputShape &shape)
    {
        memset(bytes, 0, sizeof(bytes));
        BuildWorkingDevmode((DriverDevmode *)bytes, NULL, kUiPrinter);
        DEVMODEW *pdm = Devmode();
        pdm->dmSize = shape.size;
        pdm->dmSpecVersion = shape.spec;
        pdm->dmDriverExtra = shape.extra;
    }
    DEVMODEW *Devmode() { return (DEVMODEW *)bytes; }
};

// Records what a document sheet's function asks of the sheet library.
int g_pagesAdded;
LONG_PTR CALLBACK RecordSheetCall(HANDLE, UINT uFunction, LPARAM, LPARAM)
{
    if (uFunction == CPSFUNC_ADD_PROPSHEETPAGEW)
        g_pagesAdded++;
    return 1;
}

}  // namespace

TEST_F(UiTest, DocumentPropertiesFailWhenTheOutputCannotBeWritten)
{
    for (const auto &shape : kInputShapes) {
        ShapedInput in(shape);
        for (DWORD mode : {(DWORD)DM_COPY, (DWORD)DM_UPDATE, (DWORD)(DM_UPDATE | DM_COPY)}) {
            BYTE out[sizeof(DriverDevmode)], before[sizeof(DriverDevmode)];
            memset(out, 0xCC, sizeof(out));
            memcpy(before, out, sizeof(out));
            SetLastError(0xdeadbeef);
            EXPECT_LT(ui.pfnDocProps(NULL, hPrinter, (LPWSTR)kUiPrinter, (DEVMODEW *)out, in.Devmode(), mode), 0)
                << shape.size << " mode " << mode;
            EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError()) << shape.size << " mode " << mode;
            EXPECT_EQ(0, memcmp(before, out, sizeof(out))) << shape.size << " mode " << mode;

            // The sheet function without a sheet: the same answer.
            DOCUMENTPROPERTYHEADER header = {sizeof(header), 0, hPrinter, (LPWSTR)kUiPrinter,
                                             in.Devmode(), (DEVMODEW *)out, 0, mode};
            SetLastError(0xdeadbeef);
            EXPECT_LT(ui.pfnDocSheets(NULL, (LPARAM)&header), 0) << shape.size << " mode " << mode;
            EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError()) << shape.size << " mode " << mode;
            EXPECT_EQ(0, memcmp(before, out, sizeof(out))) << shape.size << " mode " << mode;
        }
    }
}

TEST_F(UiTest, DocumentSheetStartFailsWhenTheOutputCannotBeWritten)
{
    // The sheet library's calls as it makes them: INIT, and DESTROY also
    // after a failed INIT. A sheet that starts adds its page and writes the
    // first output; one that can't write it adds nothing.
    InputShape good = {188, 0x0320, 8};
    std::vector<InputShape> shapes(std::begin(kInputShapes), std::end(kInputShapes));
    shapes.push_back(good);
    for (const auto &shape : shapes) {
        bool starts = shape.size == good.size;
        ShapedInput in(shape);
        BYTE out[sizeof(DriverDevmode)], before[sizeof(DriverDevmode)];
        memset(out, 0xCC, sizeof(out));
        memcpy(before, out, sizeof(out));
        DOCUMENTPROPERTYHEADER header = {sizeof(header), 0, hPrinter, (LPWSTR)kUiPrinter,
                                         in.Devmode(), (DEVMODEW *)out, 0, DM_PROMPT | DM_COPY};
        PROPSHEETUI_INFO info = {};
        info.cbSize = sizeof(info);
        info.Version = PROPSHEETUI_INFO_VERSION;
        info.Flags = PSUIINFO_UNICODE;
        info.Reason = PROPSHEETUI_REASON_INIT;
        info.hComPropSheet = (HANDLE)0x43440001;
        info.pfnComPropSheet = RecordSheetCall;
        info.lParamInit = (LPARAM)&header;
        g_pagesAdded = 0;
        SetLastError(0xdeadbeef);
        LONG result = ui.pfnDocSheets(&info, 0);
        if (starts) {
            EXPECT_EQ(1, result);
            EXPECT_EQ(1, g_pagesAdded);
            EXPECT_EQ(188, ((DEVMODEW *)out)->dmSize);
            EXPECT_EQ(8, ((DEVMODEW *)out)->dmDriverExtra);
            EXPECT_EQ(2100, *(int16_t *)(out + 188));
        } else {
            EXPECT_LT(result, 0) << shape.size;
            EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError()) << shape.size;
            EXPECT_EQ(0, g_pagesAdded) << shape.size;
            EXPECT_EQ(0, memcmp(before, out, sizeof(out))) << shape.size;
        }
        info.Reason = PROPSHEETUI_REASON_DESTROY;
        EXPECT_EQ(1, ui.pfnDocSheets(&info, starts ? 0x100 : 0)) << shape.size;
    }
}

TEST_F(UiTest, DocumentPropertiesThroughWine)
{
    EXPECT_EQ(244, DocumentPropertiesW(NULL, hPrinter, (LPWSTR)kUiPrinter, NULL, NULL, 0));
    DriverDevmode out = {};
    out.dm.dmSize = 220;
    out.dm.dmDriverExtra = 24;
    EXPECT_EQ(IDOK, DocumentPropertiesW(NULL, hPrinter, (LPWSTR)kUiPrinter, &out.dm, NULL, DM_OUT_BUFFER));
    EXPECT_EQ(PRIV_SIGNATURE, out.priv.dwPrivData);
    EXPECT_EQ(2970, out.dm.dmPaperLength);
}

TEST_F(UiTest, SimpleExports)
{
    EXPECT_TRUE(ui.pfnDevQuery(NULL));
    EXPECT_TRUE(ui.pfnPrinterEvent((LPWSTR)kUiPrinter, PRINTER_EVENT_INITIALIZE, 0, 0));
    SetLastError(0);
    EXPECT_FALSE(ui.pfnUpgrade(1, NULL));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
    EXPECT_TRUE(ui.pfnEntry(NULL, DLL_THREAD_ATTACH, NULL));
    EXPECT_EQ(-1, ui.pfnDevSheets(NULL, 0));
    EXPECT_EQ(244, ui.pfnAdvDocProps(NULL, hPrinter, (LPWSTR)kUiPrinter, NULL, NULL));
}

// Generated device modes, each in a buffer of exactly its claimed size:
// every success valid, nothing written outside (guardeddevmode.cpp). Every
// 16th round also through DrvDocumentProperties, which reads the spooler's
// records (about 50 ms under Wine).
TEST_F(UiTest, GeneratedDevmodesStayInsideTheirBuffers)
{
    std::mt19937 rng(20261207);
    DevmodeRoundCounts counts;
    for (int round = 0; round < 3000; round++) {
        std::string what;
        ASSERT_TRUE(GeneratedDevmodeRound(ui, hPrinter, rng, round % 16 == 0, &counts, &what))
            << "round " << round << ": " << what;
    }
    RecordProperty("converted", counts.converted);
    RecordProperty("answered", counts.answered);
    RecordProperty("refused", counts.refused);
}
