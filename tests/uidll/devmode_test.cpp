// The device mode's rules: defaults, lengths, merging, shapes, conversion,
// and the stored settings, tested on the library's own functions.
#include "uidllfixture.h"
#include <string.h>

namespace {

DriverDevmode Defaults()
{
    DriverDevmode dd;
    BuildWorkingDevmode(&dd, NULL, L"Ostrel TZ-1000");
    UpdateDerivedFields(&dd);
    return dd;
}

}  // namespace

TEST(LengthText, EntriesParseAndFormat)
{
    struct {
        const wchar_t *text;
        int unit;
        int length;
    } entries[] = {
        {L"210", 0, 2100},   {L"210.0", 0, 2100}, {L"100.25", 0, 1003}, {L"100.24", 0, 1002},
        {L"99999", 0, 15240}, {L"-5", 0, 254},     {L"", 0, 254},        {L"abc", 0, 254},
        {L"5-00", 0, 254},   {L"8.27", 1, 2100},  {L"60", 1, 15240},    {L"0.5", 1, 254},
        {L"1.005", 1, 256},  {L"12.3456", 1, 3136}, {L"1234567890", 0, 15240},
    };
    for (const auto &e : entries)
        EXPECT_EQ(e.length, ParseLengthText(e.text, e.unit, LENGTH_MIN, LENGTH_MAX)) << e.text;

    struct {
        int length, unit;
        const wchar_t *text;
    } shown[] = {{2100, 0, L"210.0"}, {2100, 1, L"8.27"}, {15240, 0, L"1524.0"}, {15240, 1, L"60.00"},
                 {254, 1, L"1.00"},   {1003, 0, L"100.3"}};
    for (const auto &s : shown) {
        WCHAR text[32];
        FormatLengthText(s.length, s.unit, text, 32);
        EXPECT_STREQ(s.text, text) << s.length;
        EXPECT_EQ(s.length, ParseLengthText(text, s.unit, LENGTH_MIN, LENGTH_MAX));
    }
}

TEST(DriverDevmodeRules, DefaultsWithoutPrinter)
{
    DriverDevmode dd = Defaults();
    EXPECT_STREQ(L"Ostrel TZ-1000", dd.dm.dmDeviceName);
    EXPECT_EQ(0x0401, dd.dm.dmSpecVersion);
    EXPECT_EQ(0x0100, dd.dm.dmDriverVersion);
    EXPECT_EQ(220, dd.dm.dmSize);
    EXPECT_EQ(24, dd.dm.dmDriverExtra);
    EXPECT_EQ(0x6C0Eu, dd.dm.dmFields);
    EXPECT_EQ(2100, dd.dm.dmPaperWidth);
    EXPECT_EQ(2970, dd.dm.dmPaperLength);
    EXPECT_EQ(720, dd.dm.dmPrintQuality);
    EXPECT_EQ(5953u, dd.dm.dmPelsWidth);
    EXPECT_EQ(8419u, dd.dm.dmPelsHeight);
    EXPECT_STREQ(L"user size", dd.dm.dmFormName);
    EXPECT_EQ(60u, dd.dm.dmDisplayFrequency);
    PrivateSettings expected = DefaultSettings();
    EXPECT_EQ(0, memcmp(&expected, &dd.priv, sizeof(expected)));

    // A long device name is cut to 31 characters.
    DriverDevmode named;
    InitDefaultDevmode(&named, NULL, L"0123456789012345678901234567890123456789");
    EXPECT_EQ(31, lstrlenW(named.dm.dmDeviceName));
}

TEST(DriverDevmodeRules, ResolutionIndexOutOfRangeMeans720)
{
    for (int16_t index : {7, -1}) {
        DriverDevmode dd = Defaults();
        dd.priv.FrameDpiIdx = index;
        UpdateDerivedFields(&dd);
        EXPECT_EQ(720, dd.dm.dmPrintQuality);
        EXPECT_EQ(720, dd.dm.dmYResolution);
        EXPECT_EQ(720, dd.dm.dmLogPixels);
    }
    DriverDevmode dd = Defaults();
    dd.priv.FrameDpiIdx = 3;
    UpdateDerivedFields(&dd);
    EXPECT_EQ(96, dd.dm.dmPrintQuality);
    EXPECT_EQ(PelsForLength(2100, 96), (LONG)dd.dm.dmPelsWidth);
}

TEST(DriverDevmodeRules, MergeTakesPublicFieldsButPaperOnlyThroughThePrivatePart)
{
    DriverDevmode source = Defaults();
    source.dm.dmFields = DM_PAPERWIDTH | DM_PAPERLENGTH | DM_SCALE | DM_COPIES | DM_DEFAULTSOURCE;
    source.dm.dmPaperWidth = 5000;
    source.dm.dmPaperLength = 6000;
    source.dm.dmScale = 0;
    source.dm.dmCopies = 100;
    source.dm.dmDefaultSource = 7;
    source.priv.dwPrivData = 0;  // no valid private part
    DriverDevmode dd = Defaults();
    dd.dm.dmFields = 0;
    MergeDevmode(&dd, &source.dm);
    EXPECT_EQ(2100, dd.dm.dmPaperWidth);
    EXPECT_EQ(2970, dd.dm.dmPaperLength);
    EXPECT_EQ((DWORD)(DM_PAPERWIDTH | DM_PAPERLENGTH | DM_SCALE | DM_COPIES | DM_DEFAULTSOURCE | DM_COLOR),
              dd.dm.dmFields);
    EXPECT_EQ(100, dd.dm.dmScale);
    EXPECT_EQ(1, dd.dm.dmCopies);
    EXPECT_EQ(7, dd.dm.dmDefaultSource);
    EXPECT_EQ(DMCOLOR_COLOR, dd.dm.dmColor);

    source.dm.dmCopies = 99;
    source.priv = DefaultSettings();
    source.priv.UserDefinedX = 6100;
    source.priv.FrameDpiIdx = 1;
    MergeDevmode(&dd, &source.dm);
    EXPECT_EQ(99, dd.dm.dmCopies);
    EXPECT_EQ(6100, dd.dm.dmPaperWidth);  // through the private part
    EXPECT_EQ(360, dd.dm.dmPrintQuality);

    // A source too short for a field it claims gives nothing for it.
    DriverDevmode before = dd;
    DEVMODEW shortSource = source.dm;
    shortSource.dmSize = 80;
    shortSource.dmDriverExtra = 0;
    shortSource.dmFields = DM_COPIES | DM_FORMNAME;
    MergeDevmode(&dd, &shortSource);
    EXPECT_EQ(before.dm.dmCopies, dd.dm.dmCopies);
    EXPECT_EQ(0, memcmp(before.dm.dmFormName, dd.dm.dmFormName, sizeof(dd.dm.dmFormName)));
    EXPECT_TRUE(MergeDevmode(&dd, NULL));
}

TEST(DriverDevmodeRules, CopyOutTakesTheTemplatesShape)
{
    DriverDevmode dd = Defaults();
    dd.priv.UserDefinedX = 3000;
    BYTE out[300];
    memset(out, 0xCC, sizeof(out));
    DEVMODEW templ = {};
    templ.dmSize = 188;
    templ.dmSpecVersion = 0x0320;
    templ.dmDriverExtra = 8;
    templ.dmDriverVersion = 0x0350;
    ASSERT_TRUE(CopyDevmodeOut(&dd, &templ, (DEVMODEW *)out));
    DEVMODEW *pOut = (DEVMODEW *)out;
    EXPECT_EQ(188, pOut->dmSize);
    EXPECT_EQ(0x0320, pOut->dmSpecVersion);
    EXPECT_EQ(8, pOut->dmDriverExtra);
    EXPECT_EQ(0x0350, pOut->dmDriverVersion);
    EXPECT_EQ(0, memcmp(out + 188, &dd.priv, 8));
    EXPECT_EQ(0xCC, out[196]);  // nothing beyond the template's shape

    ASSERT_TRUE(CopyDevmodeOut(&dd, NULL, (DEVMODEW *)out));
    EXPECT_EQ(0, memcmp(out, &dd, sizeof(dd)));
}

TEST(DriverDevmodeRules, ConvertRefusesUnknownShapes)
{
    DriverDevmode dd = Defaults();
    DriverDevmode target = {};
    target.dm.dmSize = 200;
    target.dm.dmSpecVersion = 0;
    EXPECT_EQ(-1, ConvertDevmode(&dd.dm, &target.dm));
    target.dm.dmSize = 220;
    target.dm.dmDriverExtra = 24;
    target.dm.dmDriverVersion = 0x0100;  // the target keeps its own
    EXPECT_EQ(244, ConvertDevmode(&dd.dm, &target.dm));
    EXPECT_EQ(0, memcmp(&dd, &target, sizeof(dd)));
    target.dm.dmSize = 20;  // shorter than its own header
    target.dm.dmSpecVersion = 0x0401;
    EXPECT_EQ(-1, ConvertDevmode(&dd.dm, &target.dm));
}

TEST_F(UiTest, StoredSettingsRoundTrip)
{
    PrivateSettings loaded;
    LoadPrivateSettings(hPrinter, &loaded);
    PrivateSettings defaults = DefaultSettings();
    EXPECT_EQ(0, memcmp(&defaults, &loaded, sizeof(loaded)));

    PrivateSettings stored = {6100, 9000, 1, 2, 1, 1, 0, 0, PRIV_SIGNATURE, 0x1234};
    EXPECT_TRUE(SavePrivateSettings(hPrinter, &stored, sizeof(stored)));
    LoadPrivateSettings(hPrinter, &loaded);
    EXPECT_EQ(0, memcmp(&stored, &loaded, sizeof(loaded)));

    // Without the block the single values give the same fields back.
    DeletePrinterValue(L"PrinterData");
    LoadPrivateSettings(hPrinter, &loaded);
    EXPECT_EQ(0, memcmp(&stored, &loaded, sizeof(loaded)));

    // A block shorter than the settings counts as missing; a longer one gives
    // its first 24 bytes; a single value of another width takes its default.
    BYTE shortBlock[10] = {1, 2, 3};
    DWORD size = sizeof(shortBlock);
    SetPrinterDataW(hPrinter, (LPWSTR)L"PrinterDataSize", REG_DWORD, (LPBYTE)&size, sizeof(size));
    SetPrinterDataW(hPrinter, (LPWSTR)L"PrinterData", REG_BINARY, shortBlock, sizeof(shortBlock));
    BYTE wide = 7;
    SetPrinterDataW(hPrinter, (LPWSTR)L"UserUnit", REG_BINARY, &wide, 1);
    LoadPrivateSettings(hPrinter, &loaded);
    EXPECT_EQ(6100, loaded.UserDefinedX);
    EXPECT_EQ(0, loaded.UserUnit);

    BYTE longBlock[40];
    memcpy(longBlock, &stored, sizeof(stored));
    memset(longBlock + 24, 0xEE, 16);
    size = sizeof(longBlock);
    SetPrinterDataW(hPrinter, (LPWSTR)L"PrinterDataSize", REG_DWORD, (LPBYTE)&size, sizeof(size));
    SetPrinterDataW(hPrinter, (LPWSTR)L"PrinterData", REG_BINARY, longBlock, sizeof(longBlock));
    LoadPrivateSettings(hPrinter, &loaded);
    EXPECT_EQ(0, memcmp(&stored, &loaded, sizeof(loaded)));

    // A size that claims more than the value holds: the block is not used.
    size = 24;
    SetPrinterDataW(hPrinter, (LPWSTR)L"PrinterDataSize", REG_DWORD, (LPBYTE)&size, sizeof(size));
    SetPrinterDataW(hPrinter, (LPWSTR)L"PrinterData", REG_BINARY, shortBlock, sizeof(shortBlock));
    LoadPrivateSettings(hPrinter, &loaded);
    EXPECT_EQ(6100, loaded.UserDefinedX);
}

TEST_F(UiTest, WorkingDevmodeReadsTheDataFileAndTheStoredSettings)
{
    // The sample data file of the TZ-1000 sets compression 1; the stored
    // settings replace the private part at once.
    DriverDevmode dd;
    InitDefaultDevmode(&dd, hPrinter, kUiPrinter);
    EXPECT_EQ(1, dd.priv.CompressIdx);
    EXPECT_EQ(2100, dd.dm.dmPaperWidth);
    EXPECT_EQ(2100, ReadIniSetting(hPrinter, L"def", L"userdefx", 5));
    EXPECT_EQ(5, ReadIniSetting(hPrinter, L"def", L"nosuchkey", 5));
    EXPECT_EQ(0, ReadIniSetting(NULL, L"def", L"userdefx", 5));

    BuildWorkingDevmode(&dd, hPrinter, kUiPrinter);
    EXPECT_EQ(0, dd.priv.CompressIdx);  // defaults of the stored settings
    PrivateSettings stored = DefaultSettings();
    stored.UserDefinedX = 6100;
    StoreSettings(stored);
    BuildWorkingDevmode(&dd, hPrinter, kUiPrinter);
    EXPECT_EQ(6100, dd.priv.UserDefinedX);
}
