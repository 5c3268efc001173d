// The library's exports, called directly and through Wine's own spooler
// functions as an application calls them.
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

// Device modes of every shape and claim, each in a buffer of exactly the size
// it claims, ending where an inaccessible page begins (a read or write past
// the end faults) and with guard bytes before it.
namespace {

class GuardedDevmode {
public:
    static const size_t kGuard = 64;
    static const BYTE kFill = 0xA5;

    explicit GuardedDevmode(size_t cb) : m_cb(cb)
    {
        SYSTEM_INFO si;
        GetSystemInfo(&si);
        size_t page = si.dwPageSize;
        m_cbUsable = (cb + kGuard + page - 1) / page * page;
        m_pBase = (BYTE *)VirtualAlloc(NULL, m_cbUsable + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        DWORD old;
        VirtualProtect(m_pBase + m_cbUsable, page, PAGE_NOACCESS, &old);
        memset(m_pBase, kFill, m_cbUsable);
    }
    ~GuardedDevmode() { VirtualFree(m_pBase, 0, MEM_RELEASE); }
    BYTE *Bytes() { return m_pBase + m_cbUsable - m_cb; }
    DEVMODEW *Devmode() { return (DEVMODEW *)Bytes(); }
    size_t Size() const { return m_cb; }
    bool GuardIntact()
    {
        for (size_t i = 1; i <= kGuard; i++)
            if (Bytes()[-(ptrdiff_t)i] != kFill)
                return false;
        return true;
    }
    // No byte from offset on was written since construction.
    bool UntouchedFrom(size_t offset)
    {
        for (size_t i = offset; i < m_cb; i++)
            if (Bytes()[i] != kFill)
                return false;
        return true;
    }

private:
    size_t m_cb, m_cbUsable;
    BYTE *m_pBase;
};

// The dmSpecVersion a converted device mode of a public size carries; other
// sizes carry the source's.
WORD SpecForSize(WORD size, WORD source)
{
    return size == 188 ? 0x0320 : size == 212 ? 0x0400 : size == 220 ? 0x0401 : source;
}

// What a call that reports success must have written into a fresh buffer
// of 244 bytes for the template (the caller's input device mode, or none):
// the template's shape where it is smaller than ours, the dmSpecVersion of
// that size (ours for an unlisted one), our private part as far as it fits,
// its signature when there is room for it, nothing beyond; public fields as
// the library's rules make them: colour, scale 1 to 1000, copies 1 to 99,
// one resolution of the table throughout, paper and pixels from the private
// part, a terminated name.
::testing::AssertionResult IsDriverOutput(GuardedDevmode &g, const DEVMODEW *pTemplate)
{
    const DEVMODEW *o = g.Devmode();
    bool smaller = pTemplate && pTemplate->dmSize < 220, shorter = pTemplate && pTemplate->dmDriverExtra < 24;
    WORD size = smaller ? pTemplate->dmSize : 220, extra = shorter ? pTemplate->dmDriverExtra : 24;
    WORD version = shorter ? pTemplate->dmDriverVersion : 0x0100;
    WORD spec = SpecForSize(size, 0x0401);
    if (o->dmSize != size || o->dmDriverExtra != extra || o->dmDriverVersion != version ||
        o->dmSpecVersion != spec)
        return ::testing::AssertionFailure()
               << "shape " << o->dmSize << "+" << o->dmDriverExtra << " version " << o->dmDriverVersion << " spec "
               << o->dmSpecVersion << ", want " << size << "+" << extra << " " << version << " " << spec;
    if (size < offsetof(DEVMODEW, dmFields) + sizeof(DWORD))
        return ::testing::AssertionFailure() << "public part of " << size << " bytes";
    if (!g.UntouchedFrom(size + extra))
        return ::testing::AssertionFailure() << "written beyond " << size << "+" << extra;
    PrivateSettings priv = {};
    memcpy(&priv, g.Bytes() + size, extra);
    if (extra >= offsetof(PrivateSettings, dwPrivData) + 4 && priv.dwPrivData != PRIV_SIGNATURE)
        return ::testing::AssertionFailure() << "no signature: " << std::hex << priv.dwPrivData;
    bool named = false;
    for (int i = 0; i < CCHDEVICENAME; i++)
        named = named || !o->dmDeviceName[i];
    if (!named)
        return ::testing::AssertionFailure() << "device name without end";
#define HAS(field) (offsetof(DEVMODEW, field) + sizeof(o->field) <= size)
#define PRIV_HAS(field) (offsetof(PrivateSettings, field) + sizeof(priv.field) <= extra)
    if (!(o->dmFields & DM_COLOR) || (HAS(dmColor) && o->dmColor != DMCOLOR_COLOR))
        return ::testing::AssertionFailure() << "colour " << o->dmColor << " fields " << std::hex << o->dmFields;
    if (HAS(dmScale) && (o->dmScale < 1 || o->dmScale > 1000))
        return ::testing::AssertionFailure() << "scale " << o->dmScale;
    if (HAS(dmCopies) && (o->dmCopies < 1 || o->dmCopies > 99))
        return ::testing::AssertionFailure() << "copies " << o->dmCopies;
    if (HAS(dmPrintQuality)) {
        int dpi = o->dmPrintQuality;
        bool listed = std::find(ResolutionTable, ResolutionTable + RESOLUTION_COUNT, dpi) !=
                      ResolutionTable + RESOLUTION_COUNT;
        if (!listed || (PRIV_HAS(FrameDpiIdx) && dpi != ResolutionForIndex(priv.FrameDpiIdx)) ||
            (HAS(dmYResolution) && o->dmYResolution != dpi) || (HAS(dmLogPixels) && o->dmLogPixels != dpi))
            return ::testing::AssertionFailure() << "resolution " << dpi << " " << o->dmYResolution << " "
                                                 << o->dmLogPixels << " index " << priv.FrameDpiIdx;
        if (PRIV_HAS(UserDefinedY) && HAS(dmPelsHeight) &&
            (o->dmPelsWidth != (DWORD)PelsForLength(priv.UserDefinedX, (int16_t)dpi) ||
             o->dmPelsHeight != (DWORD)PelsForLength(priv.UserDefinedY, (int16_t)dpi)))
            return ::testing::AssertionFailure() << "pixels " << o->dmPelsWidth << " x " << o->dmPelsHeight;
    }
    if (PRIV_HAS(UserDefinedY) && HAS(dmPaperWidth) &&
        (o->dmPaperWidth != priv.UserDefinedX || o->dmPaperLength != priv.UserDefinedY))
        return ::testing::AssertionFailure() << "paper " << o->dmPaperWidth << " x " << o->dmPaperLength;
#undef HAS
#undef PRIV_HAS
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST_F(UiTest, GeneratedDevmodesStayInsideTheirBuffers)
{
    std::mt19937 rng(20261207);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto fill = [&](GuardedDevmode &g, WORD dmSize, WORD dmExtra, bool validPrivate) {
        for (size_t i = 0; i < g.Size(); i++)
            g.Bytes()[i] = (BYTE)pick(0, 255);
        DEVMODEW *pdm = g.Devmode();
        pdm->dmSize = dmSize;
        pdm->dmDriverExtra = dmExtra;
        int spec = pick(0, 3);  // a quarter none, a quarter any, half ours
        pdm->dmSpecVersion = spec == 0 ? 0 : spec == 1 ? (WORD)pick(0, 0xFFFF) : 0x0401;
        pdm->dmFields = (DWORD)pick(0, 0x7FFFFFFF);
        if (validPrivate && dmExtra >= 24 && (size_t)dmSize + 24 <= g.Size()) {
            PrivateSettings s = DefaultSettings();
            s.UserDefinedX = (int16_t)pick(-30000, 30000);
            s.FrameDpiIdx = (int16_t)pick(-3, 8);
            memcpy((BYTE *)pdm + dmSize, &s, sizeof(s));
        }
    };
    // Every device mode has at least its header (76 bytes); beyond that the
    // buffer is exactly what dmSize and dmDriverExtra claim.
    auto claimSize = [](WORD dmSize, WORD dmExtra) { return std::max<size_t>(76, (size_t)dmSize + dmExtra); };
    static const WORD kSizes[] = {0, 1, 60, 76, 100, 156, 188, 212, 220, 221, 300, 4000};
    static const WORD kExtras[] = {0, 8, 23, 24, 25, 200};
    static const DWORD kModes[] = {CDM_CONVERT, CDM_CONVERT351, CDM_DRIVER_DEFAULT, 8};
    int converted = 0, answered = 0, refused = 0;
    for (int round = 0; round < 3000; round++) {
        WORD inSize = kSizes[pick(0, 11)], inExtra = kExtras[pick(0, 5)];
        WORD outSize = kSizes[pick(0, 11)], outExtra = kExtras[pick(0, 5)];
        GuardedDevmode in(claimSize(inSize, inExtra)), out(claimSize(outSize, outExtra));
        fill(in, inSize, inExtra, pick(0, 1));
        fill(out, outSize, outExtra, false);
        DriverDevmode dd;
        BuildWorkingDevmode(&dd, NULL, kUiPrinter);
        MergeDevmode(&dd, in.Devmode());
        converted += ConvertDevmode(in.Devmode(), out.Devmode()) > 0;
        // The caller's output for its own device mode is of the size the
        // library announces (244), whatever the template's shape; a copy
        // that fails writes nothing.
        GuardedDevmode full(sizeof(DriverDevmode));
        if (CopyDevmodeOut(&dd, in.Devmode(), full.Devmode()))
            EXPECT_TRUE(IsDriverOutput(full, in.Devmode())) << "round " << round;
        else
            EXPECT_TRUE(full.UntouchedFrom(0)) << "round " << round;
        // The same through the export, every 16th round (each call reads
        // the spooler's records, about 50 ms under Wine): IDOK only with that
        // output written, else a negative answer with the reason and nothing
        // written.
        GuardedDevmode answer(sizeof(DriverDevmode));
        if (round % 16 == 0) {
            SetLastError(0xdeadbeef);
            LONG lAnswer =
                ui.pfnDocProps(NULL, hPrinter, (LPWSTR)kUiPrinter, answer.Devmode(), in.Devmode(), DM_COPY);
            if (lAnswer == IDOK) {
                answered++;
                EXPECT_TRUE(IsDriverOutput(answer, in.Devmode())) << "round " << round;
            } else {
                refused++;
                EXPECT_LT(lAnswer, 0) << "round " << round;
                EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError()) << "round " << round;
                EXPECT_TRUE(answer.UntouchedFrom(0)) << "round " << round;
            }
        }
        fill(out, outSize, outExtra, false);
        LONG cb = (LONG)out.Size() - pick(0, 1) * pick(0, 80);
        DWORD mode = kModes[pick(0, 3)];
        if (ui.pfnConvert((LPWSTR)L"No Such Printer", in.Devmode(), out.Devmode(), &cb, mode)) {
            // Only the conversions can succeed without a printer: the
            // output's own shape, or the 3.51 one.
            WORD size = mode == CDM_CONVERT351 ? 188 : outSize, extra = mode == CDM_CONVERT351 ? 8 : outExtra;
            EXPECT_TRUE(mode == CDM_CONVERT || mode == CDM_CONVERT351) << "round " << round;
            EXPECT_EQ(size, out.Devmode()->dmSize) << "round " << round;
            EXPECT_EQ(extra, out.Devmode()->dmDriverExtra) << "round " << round;
            EXPECT_EQ(SpecForSize(size, in.Devmode()->dmSpecVersion), out.Devmode()->dmSpecVersion)
                << "round " << round;
            EXPECT_EQ(size + extra, cb) << "round " << round;
        }
        ui.pfnCaps(NULL, NULL, (WORD)pick(0, 20), NULL, in.Devmode());
        ASSERT_TRUE(in.GuardIntact()) << "round " << round;
        ASSERT_TRUE(out.GuardIntact()) << "round " << round;
        ASSERT_TRUE(full.GuardIntact()) << "round " << round;
        ASSERT_TRUE(answer.GuardIntact()) << "round " << round;
        EXPECT_GE(dd.dm.dmPrintQuality, 90);
    }
    RecordProperty("converted", converted);
    RecordProperty("answered", answered);
    RecordProperty("refused", refused);
}
