// The installer's serial port set-up: the model's "ComPortSettings" text
// read into a DCB, the COM Config steps with the system's settings dialog
// (Wine's serial UI, driven as a person would), and the serial step of Start,
// against the default configurations that Wine keeps for its COM ports. The
// configuration of COM1 is put back exactly as it was after every test.
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include "comsettings.h"
#include "dialogcheck.h"
#include "installcontext.h"
#include "regkeys.h"
#include "testenv.h"
#include "windowdriver.h"

namespace {

// The fields the settings can change, as text for the failure messages;
// whole configurations are also compared byte for byte.
std::string Describe(const COMMCONFIG &c)
{
    const DCB &d = c.dcb;
    char sz[200];
    snprintf(sz, sizeof(sz), "baud %lu bits %u parity %u stop %u cts %u dsr %u dtr %u rts %u outX %u inX %u",
             (unsigned long)d.BaudRate, d.ByteSize, d.Parity, d.StopBits, d.fOutxCtsFlow, d.fOutxDsrFlow,
             d.fDtrControl, d.fRtsControl, d.fOutX, d.fInX);
    return sz;
}

bool SameConfig(const COMMCONFIG &a, const COMMCONFIG &b)
{
    return memcmp(&a, &b, sizeof(COMMCONFIG)) == 0;
}

// The flow-control lines as the settings' fifth field sets them.
void SetFlow(DCB *d, char flow)
{
    d->fOutxCtsFlow = d->fOutxDsrFlow = flow == 'H';
    d->fDtrControl = flow == 'H' ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
    d->fRtsControl = flow == 'H' ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    d->fOutX = d->fInX = flow == 'X';
}

const long KEEP = -1;
struct Fields {
    long baud, byteSize, parity, stopBits;
    char flow;                  // 'H', 'X', 'N' none, 0 keep
};

COMMCONFIG WithFields(COMMCONFIG c, const Fields &f)
{
    if (f.baud != KEEP)
        c.dcb.BaudRate = (DWORD)f.baud;
    if (f.byteSize != KEEP)
        c.dcb.ByteSize = (BYTE)f.byteSize;
    if (f.parity != KEEP)
        c.dcb.Parity = (BYTE)f.parity;
    if (f.stopBits != KEEP)
        c.dcb.StopBits = (BYTE)f.stopBits;
    if (f.flow)
        SetFlow(&c.dcb, f.flow);
    return c;
}

// A configuration in which every field has a value no setting produces
// (mark parity, 1.5 stop bits, a flow-control mix), and every field the
// settings never touch is set, so that a change or a keep shows.
COMMCONFIG OddConfig()
{
    COMMCONFIG c;
    memset(&c, 0xAB, sizeof(c));
    c.dwSize = sizeof(COMMCONFIG);
    c.wVersion = 1;
    c.dwProviderSubType = PST_RS232;
    c.dwProviderOffset = c.dwProviderSize = 0;
    DCB &d = c.dcb;
    d.DCBlength = sizeof(DCB);
    d.BaudRate = 110;
    d.fBinary = d.fParity = d.fTXContinueOnXoff = d.fErrorChar = d.fNull = d.fAbortOnError = 1;
    d.fOutxCtsFlow = 1;
    d.fOutxDsrFlow = 0;
    d.fDtrControl = DTR_CONTROL_DISABLE;
    d.fDsrSensitivity = 1;
    d.fOutX = 1;
    d.fInX = 0;
    d.fRtsControl = RTS_CONTROL_TOGGLE;
    d.XonLim = 77;
    d.XoffLim = 33;
    d.ByteSize = 6;
    d.Parity = MARKPARITY;
    d.StopBits = ONE5STOPBITS;
    d.XonChar = 0x11;
    d.XoffChar = 0x13;
    d.ErrorChar = '?';
    d.EofChar = 0x1A;
    d.EvtChar = '\n';
    return c;
}

}  // namespace

TEST(ApplyComPortSettings, WritesEachPresentFieldAndKeepsEverythingElse)
{
    static const struct {
        const char *settings;
        Fields f;
    } cases[] = {
        {"9600,8,N,1,H", {9600, 8, NOPARITY, ONESTOPBIT, 'H'}},
        {"38400", {38400, KEEP, KEEP, KEEP, 0}},
        {"19200,8", {19200, 8, KEEP, KEEP, 0}},
        {"9600,8,e,1,X", {9600, 8, NOPARITY, ONESTOPBIT, 'X'}},   // lower-case e is no parity letter
        {"19200,7,E,2,X", {19200, 7, EVENPARITY, TWOSTOPBITS, 'X'}},
        {"1200,5,O,1,N", {1200, 5, ODDPARITY, ONESTOPBIT, 'N'}},
        {"9600,8,N,1,h", {9600, 8, NOPARITY, ONESTOPBIT, 'N'}},   // lower-case h is no handshake
        {"9600,8,o,2,x", {9600, 8, NOPARITY, TWOSTOPBITS, 'N'}},
        {"4800,7,M,1.5,X", {4800, 7, NOPARITY, ONESTOPBIT, 'X'}}, // mark and 1.5 can't be asked for
        {"4800,7,S,1,X", {4800, 7, NOPARITY, ONESTOPBIT, 'X'}},   // nor space
        {"115200,8,Even,2 stop,Xon", {115200, 8, EVENPARITY, TWOSTOPBITS, 'X'}},  // first characters
        {"9600,,E,,", {9600, 0, EVENPARITY, ONESTOPBIT, 'N'}},    // empty present fields count
        {"9600,8,N,1,", {9600, 8, NOPARITY, ONESTOPBIT, 'N'}},
        {"2400,264,O,2,Hard,X,ignored", {2400, 8, ODDPARITY, TWOSTOPBITS, 'H'}},  // low 8 bits; sixth on ignored
        {",8,E,2,H", {KEEP, KEEP, KEEP, KEEP, 0}},                // empty first field: nothing
        {",", {KEEP, KEEP, KEEP, KEEP, 0}},
        {"", {KEEP, KEEP, KEEP, KEEP, 0}},
        {nullptr, {KEEP, KEEP, KEEP, KEEP, 0}},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        COMMCONFIG actual = OddConfig();
        ApplyComPortSettings(cases[i].settings, &actual);
        COMMCONFIG expected = WithFields(OddConfig(), cases[i].f);
        EXPECT_EQ(Describe(expected), Describe(actual)) << i << ": " << (cases[i].settings ? cases[i].settings : "NULL");
        EXPECT_TRUE(SameConfig(expected, actual)) << i << ": a field outside the five changed";
    }
}

// A 300-character value whose fifth field starts around the 255th character:
// only the first 255 characters are read.
TEST(ApplyComPortSettings, ReadsAtMost255Characters)
{
    static const struct {
        size_t commaAt;         // position of the comma before the fifth field
        char flow;
    } cases[] = {
        {253, 'X'},             // the X is character 255: read
        {254, 'N'},             // the comma is read, the X is not: an empty fifth field
        {255, 0},               // the comma is not read: no fifth field
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        std::string settings = "19200,7,E,2";
        settings.resize(cases[i].commaAt, ' ');
        settings += ",X";
        settings.resize(300, 'X');
        COMMCONFIG actual = OddConfig();
        ApplyComPortSettings(settings.c_str(), &actual);
        COMMCONFIG expected = WithFields(OddConfig(), {19200, 7, EVENPARITY, TWOSTOPBITS, cases[i].flow});
        EXPECT_EQ(Describe(expected), Describe(actual)) << i;
        EXPECT_TRUE(SameConfig(expected, actual)) << i;
    }
}

// The sample INF's serial model: its value, read from the INF as the dialog
// reads it, gives a line a printer can use.
TEST(ApplyComPortSettings, SampleSerialModelGives9600BaudEightNoneOneXonXoff)
{
    CInstallContext ctx;
    ctx.SetInfFileName(Narrow(ExePath(L"samples\\tz\\TZ.INF")).c_str());
    ctx.SetPrinterName("Ostrel TZ-2000");
    ASSERT_TRUE(ctx.SetupSysInfo()) << ctx.GetErrorText();
    ASSERT_TRUE(ctx.ParseInf()) << ctx.GetErrorText();
    ASSERT_NE(nullptr, ctx.GetComPortSettings());
    COMMCONFIG actual = OddConfig();
    ApplyComPortSettings(ctx.GetComPortSettings(), &actual);
    COMMCONFIG expected = WithFields(OddConfig(), {9600, 8, NOPARITY, ONESTOPBIT, 'X'});
    EXPECT_EQ(Describe(expected), Describe(actual)) << ctx.GetComPortSettings();
}

namespace {

// Where Wine's serial UI keeps the default configurations: the DCB as the
// value "DCB" of a key named after the port.
const std::string kPortsKey = "System\\CurrentControlSet\\Services\\Class\\Ports";
const char kSettings[] = "9600,8,N,1,H";

COMMCONFIG Stored(const char *name)
{
    COMMCONFIG c;
    ZeroMemory(&c, sizeof(c));
    DWORD cb = sizeof(c);
    EXPECT_TRUE(GetDefaultCommConfigA(name, &c, &cb)) << name << " E " << GetLastError();
    return c;
}

// COM1 starts every test with 4800 baud, 7 data bits, odd parity, two stop
// bits and Xon/Xoff, and the registry as it was before is put back after.
class ComPortTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_bPortsKey = KeyExists(kPortsKey);
        m_bCom1Key = KeyExists(kPortsKey + "\\COM1");
        m_com1Value = GetValue(kPortsKey + "\\COM1", "DCB");
        if (m_bCom1Key)
            m_com1Dacl = DaclText(kPortsKey + "\\COM1");
        m_start = Stored("COM1");
        m_start.dcb.BaudRate = 4800;
        m_start.dcb.ByteSize = 7;
        m_start.dcb.Parity = ODDPARITY;
        m_start.dcb.StopBits = TWOSTOPBITS;
        SetFlow(&m_start.dcb, 'X');
        m_start.dcb.XonLim = 77;
        m_start.dcb.XoffLim = 33;
        m_start.dcb.EofChar = 0x1A;
        ASSERT_TRUE(SetDefaultCommConfigA("COM1", &m_start, COMCONFIG_SIZE));
        m_start = Stored("COM1");
    }
    void TearDown() override
    {
        if (!m_bPortsKey) {
            DeleteKeyTree(kPortsKey);
        } else if (!m_bCom1Key) {
            DeleteKeyTree(kPortsKey + "\\COM1");
        } else if (!m_com1Dacl.empty() && !SetDaclText(kPortsKey + "\\COM1", m_com1Dacl.c_str())) {
            ADD_FAILURE() << "COM1's access list not put back";
        } else if (m_com1Value.found) {
            SetValueBytes(kPortsKey + "\\COM1", "DCB", m_com1Value.type, m_com1Value.bytes);
        } else {
            HKEY hKey;
            if (!RegOpenKeyExA(HKEY_LOCAL_MACHINE, (kPortsKey + "\\COM1").c_str(), 0, KEY_SET_VALUE, &hKey)) {
                RegDeleteValueA(hKey, "DCB");
                RegCloseKey(hKey);
            }
        }
    }

    // COM1's stored configuration can be read but no longer written, as
    // for a user without the right to change it.
    void MakeCom1ReadOnly()
    {
        ASSERT_TRUE(SetDaclText(kPortsKey + "\\COM1", "D:P(A;;KR;;;WD)"));
    }

    COMMCONFIG m_start;

private:
    bool m_bPortsKey = false;
    bool m_bCom1Key = false;
    RegValue m_com1Value;
    std::string m_com1Dacl;
};

}  // namespace

// What the set-up relies on: a COM port answers, anything else (a parallel
// port, a name that still carries its colon) is refused.
TEST_F(ComPortTest, WineAnswersForComPortsAndRefusesOtherNames)
{
    static const struct {
        const char *name;
        BOOL result;
        DWORD error;
    } cases[] = {
        {"COM1", TRUE, 0},
        {"com1", TRUE, 0},
        {"COM1:", FALSE, ERROR_BADKEY},
        {"LPT1", FALSE, ERROR_BADKEY},
        {"FILE", FALSE, ERROR_BADKEY},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        COMMCONFIG c;
        ZeroMemory(&c, sizeof(c));
        DWORD cb = COMCONFIG_SIZE;
        SetLastError(0xdeadbeef);
        EXPECT_EQ(cases[i].result, GetDefaultCommConfigA(cases[i].name, &c, &cb)) << cases[i].name;
        if (!cases[i].result) {
            EXPECT_EQ(cases[i].error, GetLastError()) << cases[i].name;
        } else {
            EXPECT_EQ(COMCONFIG_SIZE, c.dwSize) << cases[i].name;
            EXPECT_EQ(sizeof(DCB), c.dcb.DCBlength) << cases[i].name;
        }
    }
}

TEST_F(ComPortTest, StoredConfigurationIsReadBackWhole)
{
    COMMCONFIG c = m_start;
    c.dcb.BaudRate = 57600;
    c.dcb.XonChar = 0x21;
    c.dcb.ErrorChar = '#';
    ASSERT_TRUE(SetDefaultCommConfigA("COM1", &c, COMCONFIG_SIZE));
    COMMCONFIG back = Stored("COM1");
    EXPECT_EQ(COMCONFIG_SIZE, back.dwSize);
    EXPECT_EQ(0, memcmp(&c.dcb, &back.dcb, sizeof(DCB))) << Describe(back);
}

// Start with Uninstall, Reinstall or a port that isn't a COM port: no call,
// an empty configuration for the completion dialog.
TEST_F(ComPortTest, StartWithoutAnInstallOnAComPortLeavesThePortAlone)
{
    static const struct {
        const char *port;
        BOOL bInstall, bComEnabled;
    } cases[] = {
        {"COM1:", FALSE, TRUE},
        {"COM1:", TRUE, FALSE},
        {"COM1:", FALSE, FALSE},
        {"LPT1:", TRUE, FALSE},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        COMMCONFIG config;
        memset(&config, 0xCD, sizeof(config));
        std::string error = "untouched";
        EXPECT_TRUE(SetComDefaults(cases[i].port, kSettings, cases[i].bInstall, cases[i].bComEnabled, FALSE, &config,
                                   &error))
            << i;
        COMMCONFIG zero;
        ZeroMemory(&zero, sizeof(zero));
        EXPECT_TRUE(SameConfig(zero, config)) << i;
        EXPECT_EQ("untouched", error) << i;
        EXPECT_TRUE(SameConfig(m_start, Stored("COM1"))) << i;
    }
}

TEST_F(ComPortTest, StartWritesTheModelsDefaultsAndTheCompletionDialogShowsThem)
{
    COMMCONFIG config;
    std::string error = "untouched";
    ASSERT_TRUE(SetComDefaults("com1:", kSettings, TRUE, TRUE, FALSE, &config, &error)) << error;
    COMMCONFIG expected = WithFields(m_start, {9600, 8, NOPARITY, ONESTOPBIT, 'H'});
    COMMCONFIG stored = Stored("COM1");
    EXPECT_EQ(Describe(expected), Describe(stored));
    EXPECT_TRUE(SameConfig(expected, stored)) << "a field outside the five changed";
    EXPECT_TRUE(SameConfig(stored, config)) << "the completion dialog gets what was stored";
    EXPECT_EQ("untouched", error);

    auto shown = ShowComplete("Ostrel TZ-2000", "COM1:", &config);
    HWND hDlg = shown->Handle();
    ASSERT_TRUE(hDlg);
    EXPECT_EQ("9600", ItemText(hDlg, 1012));
    EXPECT_EQ("8", ItemText(hDlg, 1013));
    EXPECT_EQ("None", ItemText(hDlg, 1014));
    EXPECT_EQ("1", ItemText(hDlg, 1015));
    EXPECT_EQ("Hardware", ItemText(hDlg, 1016));
    EXPECT_EQ(IDOK, shown->Press(IDOK));
}

// The user's configuration stays while the mark is set; once it is cleared
// (another port selected and back), Start writes the model's defaults over it.
TEST_F(ComPortTest, StartKeepsAConfigurationTheUserSavedOnlyWhileItIsMarked)
{
    COMMCONFIG user = m_start;
    user.dcb.BaudRate = 19200;
    ASSERT_TRUE(SetDefaultCommConfigA("COM1", &user, COMCONFIG_SIZE));
    user = Stored("COM1");

    COMMCONFIG config;
    std::string error = "untouched";
    ASSERT_TRUE(SetComDefaults("COM1:", kSettings, TRUE, TRUE, TRUE, &config, &error)) << error;
    EXPECT_TRUE(SameConfig(user, Stored("COM1"))) << Describe(Stored("COM1"));
    EXPECT_TRUE(SameConfig(user, config)) << Describe(config);

    ASSERT_TRUE(SetComDefaults("COM1:", kSettings, TRUE, TRUE, FALSE, &config, &error)) << error;
    COMMCONFIG expected = WithFields(user, {9600, 8, NOPARITY, ONESTOPBIT, 'H'});
    EXPECT_TRUE(SameConfig(expected, Stored("COM1"))) << Describe(Stored("COM1"));
    EXPECT_TRUE(SameConfig(expected, config));
}

TEST_F(ComPortTest, StartOnAPortThatIsNotSerialFailsWithTheUpperCasedCallText)
{
    static const struct {
        const char *port;
        const char *text;
    } cases[] = {
        {"LPT1:", "::GetDefaultCommConfig([LPT1]) R 0 E 1010"},
        {"lpt1:", "::GetDefaultCommConfig([LPT1]) R 0 E 1010"},
        {"file:", "::GetDefaultCommConfig([FILE]) R 0 E 1010"},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        COMMCONFIG config;
        memset(&config, 0xCD, sizeof(config));
        std::string error;
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(SetComDefaults(cases[i].port, kSettings, TRUE, TRUE, FALSE, &config, &error)) << i;
        EXPECT_EQ((DWORD)ERROR_BADKEY, GetLastError()) << i;
        EXPECT_EQ(cases[i].text, error) << i;
        EXPECT_EQ(0u, config.dwSize) << i << ": nothing to show";
    }
    EXPECT_TRUE(SameConfig(m_start, Stored("COM1")));
}

// A failing store carries its own call text, and never an earlier call's
// error code; a configuration the user saved is only read, so it still works.
TEST_F(ComPortTest, StartFailsWhenThePortsConfigurationCannotBeStored)
{
    MakeCom1ReadOnly();
    COMMCONFIG config;
    std::string error;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetComDefaults("COM1:", kSettings, TRUE, TRUE, FALSE, &config, &error));
    const std::string start = "::SetDefaultCommConfig([COM1]) R 0 E ";
    EXPECT_EQ(start, error.substr(0, start.size())) << error;
    EXPECT_NE(start + "-559038737", error);
    EXPECT_TRUE(SameConfig(m_start, Stored("COM1")));

    error = "untouched";
    EXPECT_TRUE(SetComDefaults("COM1:", kSettings, TRUE, TRUE, TRUE, &config, &error)) << error;
    EXPECT_TRUE(SameConfig(m_start, config));
    EXPECT_EQ("untouched", error);
}

namespace {

// RunComConfig on a thread of its own, as the button's handler runs it,
// while the test finds the system's settings dialog ("Settings for <name>").
class ComConfigRun {
public:
    ComConfigRun(const char *port, const char *settings)
        : m_call([this, port, settings] { return (LONG)RunComConfig(port, settings, &m_error); })
    {
    }
    // The settings dialog with that title, or null when the call returned
    // without one (or none came within 10 s).
    HWND Dialog(const char *title)
    {
        HWND hDlg = nullptr;
        LONG result;
        WaitUntil([&] { return (hDlg = FindWindowA(nullptr, title)) != nullptr || m_call.Done(&result); }, 10000);
        return hDlg;
    }
    ComConfigResult Wait() { return (ComConfigResult)m_call.Wait(); }
    std::string m_error = "untouched";

private:
    ModalCall m_call;
};

// The list entry of the settings dialog that the user sees selected.
std::string Selected(HWND hDlg, int id)
{
    return ListItemText(hDlg, id, ListSelection(hDlg, id));
}

int IndexOf(HWND hDlg, int id, const char *text)
{
    int count = (int)SendDlgItemMessageA(hDlg, id, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; ++i) {
        if (ListItemText(hDlg, id, i) == text)
            return i;
    }
    return -1;
}

// The lists of Wine's settings dialog.
const int kBaudList = 1026, kParityList = 1027, kStopList = 1028, kFlowList = 1029, kDataList = 1030;

}  // namespace

// The dialog opens with the model's defaults, not the port's stored values;
// the user picks 19200 and presses OK; Start then keeps that choice and the
// completion dialog shows it.
TEST_F(ComPortTest, ComConfigOpensWithTheModelsDefaultsAndStoresTheUsersChoice)
{
    ComConfigRun run("COM1:", "38400,8,E,1,H");
    HWND hDlg = run.Dialog("Settings for COM1");
    ASSERT_TRUE(hDlg) << "no settings dialog; the call answered " << run.Wait() << " " << run.m_error;
    EXPECT_EQ("38400", Selected(hDlg, kBaudList));
    EXPECT_EQ("8", Selected(hDlg, kDataList));
    EXPECT_EQ("Even", Selected(hDlg, kParityList));
    EXPECT_EQ("1", Selected(hDlg, kStopList));
    EXPECT_EQ("Hardware (RTS/CTS)", Selected(hDlg, kFlowList));
    int index = IndexOf(hDlg, kBaudList, "19200");
    EXPECT_NE(-1, index);
    SelectListItem(hDlg, kBaudList, index);
    Click(hDlg, IDOK);
    EXPECT_EQ(COMCONFIG_SAVED, run.Wait()) << run.m_error;
    EXPECT_EQ("untouched", run.m_error);
    COMMCONFIG expected = WithFields(m_start, {19200, 8, EVENPARITY, ONESTOPBIT, 'H'});
    COMMCONFIG stored = Stored("COM1");
    EXPECT_EQ(Describe(expected), Describe(stored));
    EXPECT_TRUE(SameConfig(expected, stored)) << "a field outside the five changed";

    COMMCONFIG config;
    std::string error;
    ASSERT_TRUE(SetComDefaults("COM1:", kSettings, TRUE, TRUE, TRUE, &config, &error)) << error;
    EXPECT_TRUE(SameConfig(stored, Stored("COM1")));
    auto shown = ShowComplete("Ostrel TZ-2000", "COM1:", &config);
    ASSERT_TRUE(shown->Handle());
    EXPECT_EQ("19200", ItemText(shown->Handle(), 1012));
    EXPECT_EQ("Even", ItemText(shown->Handle(), 1014));
    EXPECT_EQ(IDOK, shown->Press(IDOK));
}

// Without settings the dialog shows the port's stored values; the name goes
// to the system as the port text has it. Cancel: no text, nothing stored.
TEST_F(ComPortTest, CancelledComConfigChangesNothingAndHasNoText)
{
    ComConfigRun run("com1:", nullptr);
    HWND hDlg = run.Dialog("Settings for com1");
    ASSERT_TRUE(hDlg) << "no settings dialog; the call answered " << run.Wait() << " " << run.m_error;
    EXPECT_EQ("4800", Selected(hDlg, kBaudList));
    EXPECT_EQ("Odd", Selected(hDlg, kParityList));
    SelectListItem(hDlg, kBaudList, IndexOf(hDlg, kBaudList, "19200"));
    Click(hDlg, IDCANCEL);
    EXPECT_EQ(COMCONFIG_CANCELLED, run.Wait());
    EXPECT_EQ("untouched", run.m_error);
    EXPECT_TRUE(SameConfig(m_start, Stored("COM1"))) << Describe(Stored("COM1"));
}

TEST_F(ComPortTest, ComConfigOnAPortThatIsNotSerialFailsBeforeAnyDialog)
{
    static const struct {
        const char *port;
        const char *title;      // of a settings dialog that must not show
        const char *text;
    } cases[] = {
        {"LPT1:", "Settings for LPT1", "::GetDefaultCommConfig([LPT1]) R 0 E 1010"},
        {"lpt1:", "Settings for lpt1", "::GetDefaultCommConfig([lpt1]) R 0 E 1010"},  // not upper-cased here
        {"FILE:", "Settings for FILE", "::GetDefaultCommConfig([FILE]) R 0 E 1010"},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        ComConfigRun run(cases[i].port, kSettings);
        HWND hDlg = run.Dialog(cases[i].title);
        if (hDlg)
            Click(hDlg, IDCANCEL);
        EXPECT_EQ(nullptr, hDlg) << i;
        EXPECT_EQ(COMCONFIG_FAILED, run.Wait()) << i;
        EXPECT_EQ(cases[i].text, run.m_error) << i;
    }
    EXPECT_TRUE(SameConfig(m_start, Stored("COM1")));
}

TEST_F(ComPortTest, ComConfigFailsWhenTheUsersChoiceCannotBeStored)
{
    MakeCom1ReadOnly();
    ComConfigRun run("COM1:", kSettings);
    HWND hDlg = run.Dialog("Settings for COM1");
    ASSERT_TRUE(hDlg) << "no settings dialog; the call answered " << run.Wait() << " " << run.m_error;
    Click(hDlg, IDOK);
    EXPECT_EQ(COMCONFIG_FAILED, run.Wait());
    const std::string start = "::SetDefaultCommConfig([COM1]) R 0 E ";
    EXPECT_EQ(start, run.m_error.substr(0, start.size())) << run.m_error;
    EXPECT_TRUE(SameConfig(m_start, Stored("COM1")));
}
