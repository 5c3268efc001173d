// The library's exports, called directly and through Wine's own spooler
// functions as an application calls them.
#include "uidllfixture.h"
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

private:
    size_t m_cb, m_cbUsable;
    BYTE *m_pBase;
};

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
        pdm->dmSpecVersion = pick(0, 2) ? 0x0401 : (WORD)pick(0, 0xFFFF);
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
    int converted = 0;
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
        // library announces (244), whatever the template's shape.
        GuardedDevmode full(sizeof(DriverDevmode));
        CopyDevmodeOut(&dd, in.Devmode(), full.Devmode());
        fill(out, outSize, outExtra, false);
        LONG cb = (LONG)out.Size() - pick(0, 1) * pick(0, 80);
        ui.pfnConvert((LPWSTR)L"No Such Printer", in.Devmode(), out.Devmode(), &cb, kModes[pick(0, 3)]);
        ui.pfnCaps(NULL, NULL, (WORD)pick(0, 20), NULL, in.Devmode());
        ASSERT_TRUE(in.GuardIntact()) << "round " << round;
        ASSERT_TRUE(out.GuardIntact()) << "round " << round;
        ASSERT_TRUE(full.GuardIntact()) << "round " << round;
        EXPECT_GE(dd.dm.dmPrintQuality, 90);
    }
    RecordProperty("converted", converted);
}
