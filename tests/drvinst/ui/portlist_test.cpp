// The main dialog's port list in a test dialog with a real sorted drop-down
// list: which spooler ports are offered (by name, and for serial ports by
// Wine's answer to the default-configuration probe), the generic USB entry
// by system version, the command line's narrowing and the model's preferred
// port. The enumeration runs against Wine's spooler, with extra ports added
// to Wine's local port list for a case and removed after it.
#include <gtest/gtest.h>
#include <functional>
#include <string>
#include <vector>
#include "installcontext.h"
#include "portlist.h"
#include "spoolstandin.h"
#include "testenv.h"
#include "windowdriver.h"

namespace {

const int kTemplate = 250;  // portlisttest.rc
const int kPortList = 1003;

// Runs fn from the test dialog's OnInitDialog, as the main dialog runs the
// port list functions, then reads the list back and ends the dialog.
class PortListDialog : public CDialog {
public:
    explicit PortListDialog(std::function<BOOL(PortListDialog &)> fn) : CDialog(kTemplate), m_fn(fn) {}
    CComboBox m_comboPort;
    std::vector<std::string> m_entries;
    int m_nSel = -2;

protected:
    BOOL OnInitDialog() override
    {
        Bind(m_comboPort, kPortList);
        BOOL bOk = m_fn(*this);
        int cEntries = (int)m_comboPort.Send(CB_GETCOUNT);
        for (int i = 0; i < cEntries; i++) {
            char sz[256] = "";
            m_comboPort.Send(CB_GETLBTEXT, i, (LPARAM)sz);
            m_entries.push_back(sz);
        }
        m_nSel = m_comboPort.GetCurSel();
        End(bOk ? IDOK : IDCANCEL);
        return TRUE;
    }

private:
    std::function<BOOL(PortListDialog &)> m_fn;
};

struct Outcome {
    INT_PTR nResult;
    std::vector<std::string> entries;
    int nSel;
};

Outcome RunDialog(std::function<BOOL(PortListDialog &)> fn)
{
    PortListDialog dlg(fn);
    INT_PTR nResult = dlg.DoModal(GetModuleHandleA(NULL));
    return {nResult, dlg.m_entries, dlg.m_nSel};
}

// Adds the entries to the (empty) list, selects nSel, then runs fn.
Outcome RunOnList(const std::vector<std::string> &entries, int nSel,
                  std::function<BOOL(PortListDialog &)> fn)
{
    return RunDialog([&](PortListDialog &dlg) {
        for (auto &entry : entries)
            dlg.m_comboPort.AddString(entry.c_str());
        dlg.m_comboPort.SetCurSel(nSel);
        return fn(dlg);
    });
}

typedef std::vector<std::string> Names;

// The port list as the dialog fills it from Wine's spooler, with the log on.
Outcome FillFromSpooler()
{
    return RunDialog([](PortListDialog &dlg) {
        CInstallContext ctx;
        ctx.SetLogFileName("kztdebug.txt");
        return FillPortList(dlg, ctx, dlg.m_comboPort);
    });
}

// Extra value names in Wine's local port list (what its local port monitor
// enumerates), removed again when the object goes.
const char kPortsKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Ports";

class ExtraPorts {
public:
    explicit ExtraPorts(const Names &names) : m_names(names)
    {
        HKEY hKey;
        m_bAdded = !RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPortsKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hKey, NULL);
        if (!m_bAdded)
            return;
        for (auto &name : m_names)
            m_bAdded = m_bAdded && !RegSetValueExA(hKey, name.c_str(), 0, REG_SZ, (const BYTE *)"", 1);
        RegCloseKey(hKey);
    }
    ~ExtraPorts()
    {
        HKEY hKey;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPortsKey, 0, KEY_ALL_ACCESS, &hKey))
            return;
        for (auto &name : m_names)
            RegDeleteValueA(hKey, name.c_str());
        RegCloseKey(hKey);
    }
    bool Added() const { return m_bAdded; }

private:
    Names m_names;
    bool m_bAdded = false;
};

bool Has(const Names &names, const std::string &name)
{
    for (auto &n : names)
        if (n == name)
            return true;
    return false;
}

// Names the spooler reports right now, as it spells them.
Names SpoolerPortNames()
{
    Names names;
    DWORD cbNeeded = 0, cPorts = 0;
    EnumPortsA(NULL, 2, NULL, 0, &cbNeeded, &cPorts);
    std::vector<BYTE> buffer(cbNeeded + 1);
    if (!EnumPortsA(NULL, 2, buffer.data(), cbNeeded, &cbNeeded, &cPorts))
        return names;
    const PORT_INFO_2A *pPorts = (const PORT_INFO_2A *)buffer.data();
    for (DWORD i = 0; i < cPorts; i++)
        names.push_back(pPorts[i].pPortName ? pPorts[i].pPortName : "");
    return names;
}

// Fills the list from the spooler on a thread of its own, answering every
// message box the fill shows with OK; the boxes' texts, in order.
std::vector<std::string> FillAnsweringBoxes(Outcome *pOut)
{
    Outcome out = {};
    ModalCall call([&] {
        out = FillFromSpooler();
        return (LONG)out.nResult;
    });
    std::vector<std::string> texts;
    LONG nResult;
    while (!call.Done(&nResult)) {
        std::string text;
        HWND hBox = WaitForMessageBox(GetCurrentProcessId(), 200, &text);
        if (!hBox)
            continue;
        texts.push_back(text);
        Click(hBox, IDOK);
        WaitForWindowGone(hBox, 5000);
    }
    call.Wait();
    *pOut = out;
    return texts;
}

// A fill from a spooler whose EnumPortsA refuses the next nTimes size calls
// (bFill false) or fills (bFill true) with dwError.
struct RefusedFill {
    bool bStandIn;                   // the stand-in took the program's import
    std::vector<std::string> boxes;  // the texts shown, in order
    Outcome out;
    LONG nCalls;                     // EnumPortsA calls made
};

RefusedFill FillWithRefusals(bool bFill, LONG nTimes, DWORD dwError)
{
    RefusedFill refused = {};
    SpoolerStandIn standIn(GetModuleHandleA(NULL));
    refused.bStandIn = standIn.Installed();
    if (!refused.bStandIn)
        return refused;
    standIn.FailEnumPorts(bFill, nTimes, dwError);
    refused.boxes = FillAnsweringBoxes(&refused.out);
    refused.nCalls = standIn.EnumPortsCalls();
    return refused;
}

// Wine's local ports as the list offers them in a prefix that reports XP.
const Names kWineList = {"COM1:", "COM2:", "COM3:", "COM4:", "FILE:", "LPT1:", "LPT2:", "LPT3:", "USB"};

class PortListSpooler : public ::testing::Test {
protected:
    void SetUp() override { LogOn(); }
    void TearDown() override { LogOff(); }
};

}  // namespace

TEST(PortKind, PrefixDecidesIgnoringCase)
{
    struct Case {
        const char *name;
        PortKind kind;
    } cases[] = {
        {"LPT1:", PORT_OFFERED},       {"LPT3:", PORT_OFFERED},        {"lpt2:", PORT_OFFERED},
        {"USB001", PORT_OFFERED},      {"usb002", PORT_OFFERED},       {"USB", PORT_OFFERED},
        {"FILE:", PORT_OFFERED},       {"File:", PORT_OFFERED},        {"COM1:", PORT_SERIAL},
        {"COM5:", PORT_SERIAL},        {"com10:", PORT_SERIAL},        {"COM", PORT_SERIAL},
        {"Ne00:", PORT_OTHER},         {"NE01:", PORT_OTHER},          {"IP_10.0.0.5:", PORT_OTHER},
        {"LP", PORT_OTHER},            {"FIL", PORT_OTHER},            {"CO", PORT_OTHER},
        {"US", PORT_OTHER},            {"C:\\out.prn", PORT_OTHER},    {"XPSPort:", PORT_OTHER},
        {"NUL:", PORT_OTHER},          {" LPT1:", PORT_OTHER},         {"", PORT_OTHER},
        {NULL, PORT_OTHER},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
        SCOPED_TRACE(testing::Message() << "case " << i << " " << (cases[i].name ? cases[i].name : "NULL"));
        EXPECT_EQ(cases[i].kind, ClassifyPort(cases[i].name));
    }
}

TEST(GenericUsb, OfferedOnWindows2000XpAnd98MeOnly)
{
    struct Case {
        DWORD dwPlatformId, dwMajor, dwMinor;
        BOOL bUsb;
        const char *what;
    } cases[] = {
        {VER_PLATFORM_WIN32_NT, 5, 0, TRUE, "Windows 2000"},
        {VER_PLATFORM_WIN32_NT, 5, 1, TRUE, "Windows XP"},
        {VER_PLATFORM_WIN32_NT, 5, 2, TRUE, "XP x64, Server 2003"},
        {VER_PLATFORM_WIN32_NT, 4, 0, FALSE, "NT 4.0"},
        {VER_PLATFORM_WIN32_NT, 4, 10, FALSE, "NT with a 98 minor"},
        {VER_PLATFORM_WIN32_NT, 6, 0, FALSE, "Vista"},
        {VER_PLATFORM_WIN32_NT, 10, 0, FALSE, "Windows 10"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 0, FALSE, "Windows 95"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 3, FALSE, "Windows 95 OSR2 minor"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 10, TRUE, "Windows 98"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 90, TRUE, "Windows Me"},
        {VER_PLATFORM_WIN32_WINDOWS, 5, 0, FALSE, "95 family major 5"},
        {VER_PLATFORM_WIN32s, 3, 10, FALSE, "Win32s"},
        {VER_PLATFORM_WIN32s, 5, 0, FALSE, "Win32s with an NT major"},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
        SCOPED_TRACE(testing::Message() << "case " << i << " " << cases[i].what);
        OSVERSIONINFOA osvi = {};
        osvi.dwOSVersionInfoSize = sizeof(osvi);
        osvi.dwPlatformId = cases[i].dwPlatformId;
        osvi.dwMajorVersion = cases[i].dwMajor;
        osvi.dwMinorVersion = cases[i].dwMinor;
        EXPECT_EQ(cases[i].bUsb, OffersGenericUsb(osvi));
    }
}

// Wine's local ports: COM1: to COM4:, FILE:, LPT1: to LPT3:. Wine's
// GetDefaultCommConfigA answers for COM1 to COM9 whether a device is behind
// them or not (and refuses COM10 and up, COM0, and any name with its colon),
// so all four serial ports are offered; the prefix reports XP x64 (NT 5.2),
// which adds "USB".
TEST_F(PortListSpooler, WinesPortsAreOfferedUpperCaseWithGenericUsbAndEntry0Selected)
{
    Names spooler = SpoolerPortNames();
    for (const char *name : {"COM1:", "COM2:", "COM3:", "COM4:", "FILE:", "LPT1:", "LPT2:", "LPT3:"})
        ASSERT_TRUE(Has(spooler, name)) << name << " is not among Wine's ports";

    Outcome out = FillFromSpooler();
    EXPECT_EQ(IDOK, out.nResult);
    EXPECT_EQ(kWineList, out.entries);
    EXPECT_EQ(0, out.nSel);

    Names log = LogMessages("DI");
    for (const char *name : {"FILE:", "LPT1:", "LPT2:", "LPT3:"})
        EXPECT_TRUE(Has(log, std::string("DBG ::EnumPort [") + name + "]")) << name;
    for (const char *name : {"COM1:", "COM2:", "COM3:", "COM4:"})
        EXPECT_TRUE(Has(log, std::string("DBG ::GetDefaultCommConfig([") + name + "]) R 1 E 0")) << name;
    for (auto &line : log)
        EXPECT_EQ(0u, line.rfind("DBG ", 0)) << line;  // nothing went wrong
}

// The example system: LPT1:, COM1:, COM5:, FILE:, Ne00:, IP_10.0.0.5:, with
// lower-case and deviceless ports besides. Under Wine COM5 answers the probe
// (Wine has no notion of a missing device for COM1 to COM9), so COM10:, which
// Wine refuses, plays the serial port without a device.
TEST_F(PortListSpooler, NetworkPortsAndSerialPortsWithoutDeviceAreLeftOutButLogged)
{
    ExtraPorts extra({"COM5:", "COM10:", "Ne00:", "IP_10.0.0.5:", "usb001", "lpt9:"});
    ASSERT_TRUE(extra.Added());
    Names spooler = SpoolerPortNames();
    for (const char *name : {"COM5:", "COM10:", "Ne00:", "IP_10.0.0.5:", "usb001", "lpt9:"})
        ASSERT_TRUE(Has(spooler, name)) << name << ": Wine's spooler does not list the added port";

    Outcome out = FillFromSpooler();
    EXPECT_EQ(IDOK, out.nResult);
    Names expected = {"COM1:", "COM2:", "COM3:", "COM4:", "COM5:", "FILE:", "LPT1:",
                      "LPT2:", "LPT3:", "LPT9:", "USB", "USB001"};
    EXPECT_EQ(expected, out.entries);
    EXPECT_EQ(0, out.nSel);

    Names log = LogMessages("DI");
    for (const char *line : {"DBG ::EnumPort [LPT1:]", "DBG ::GetDefaultCommConfig([COM1:]) R 1 E 0",
                             "DBG ::GetDefaultCommConfig([COM5:]) R 1 E 0", "DBG ::EnumPort [FILE:]",
                             "DBG ::EnumPort [NE00:]", "DBG ::EnumPort [IP_10.0.0.5:]",
                             "DBG ::GetDefaultCommConfig([COM10:]) R 0 E 1010", "DBG ::EnumPort [USB001]",
                             "DBG ::EnumPort [LPT9:]"})
        EXPECT_TRUE(Has(log, line)) << line;
}

// Wine's local ports (its port list's values) taken away while the object
// lives, and put back when it goes.
class NoLocalPorts {
public:
    NoLocalPorts()
    {
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPortsKey, 0, KEY_ALL_ACCESS, &m_hKey))
            return;
        for (DWORD i = 0;; i++) {
            char name[256];
            BYTE data[1024];
            DWORD cchName = sizeof(name), cbData = sizeof(data), type = 0;
            if (RegEnumValueA(m_hKey, i, name, &cchName, NULL, &type, data, &cbData))
                break;
            m_saved.push_back({name, std::vector<BYTE>(data, data + cbData), type});
        }
        for (const Value &v : m_saved)
            RegDeleteValueA(m_hKey, v.name.c_str());
    }
    ~NoLocalPorts()
    {
        if (!m_hKey)
            return;
        for (const Value &v : m_saved)
            RegSetValueExA(m_hKey, v.name.c_str(), 0, v.type, v.data.data(), (DWORD)v.data.size());
        RegCloseKey(m_hKey);
    }
    size_t Taken() const { return m_saved.size(); }

private:
    struct Value {
        std::string name;
        std::vector<BYTE> data;
        DWORD type;
    };
    HKEY m_hKey = NULL;
    std::vector<Value> m_saved;
};

// A machine whose spooler has no port at all. Wine 8 then refuses even the
// size question (RPC_X_NULL_REF_POINTER, 1780, measured): the refusal is
// shown with its text once, and the dialog closes as cancelled, with nothing
// offered. Nothing hangs and nothing is installed on an empty port.
TEST_F(PortListSpooler, SpoolerWithoutPortsShowsItsRefusalAndClosesTheDialog)
{
    Outcome out = {};
    std::vector<std::string> boxes;
    Names spooler;
    {
        NoLocalPorts none;
        ASSERT_NE(0u, none.Taken());
        spooler = SpoolerPortNames();
        boxes = FillAnsweringBoxes(&out);
    }
    ASSERT_TRUE(spooler.empty()) << "the spooler still lists " << spooler.size() << " ports";
    EXPECT_EQ(std::vector<std::string>{"::EnumPorts cbNeeded 0 R 0 E 1780\r\n"}, boxes);
    EXPECT_EQ(IDCANCEL, out.nResult);
    EXPECT_TRUE(out.entries.empty());
    EXPECT_TRUE(Has(LogMessages("DI"), "ERR ::EnumPorts cbNeeded 0 R 0 E 1780"));
    EXPECT_EQ(kWineList.size() - 1, SpoolerPortNames().size()) << "Wine's ports are back";
}

TEST_F(PortListSpooler, AddedPortsAreGoneFromTheSpoolerAfterTheCase)
{
    { ExtraPorts extra({"Ne00:"}); }
    EXPECT_FALSE(Has(SpoolerPortNames(), "Ne00:"));
    Outcome out = FillFromSpooler();
    EXPECT_FALSE(Has(LogMessages("DI"), "DBG ::EnumPort [NE00:]"));
    EXPECT_EQ(IDOK, out.nResult);
}

TEST_F(PortListSpooler, RefusedSizeQueryIsShownAndClosesTheDialog)
{
    RefusedFill refused = FillWithRefusals(false, 1, ERROR_ACCESS_DENIED);
    ASSERT_TRUE(refused.bStandIn);
    EXPECT_EQ(std::vector<std::string>{"::EnumPorts cbNeeded 0 R 0 E 5\r\n"}, refused.boxes);
    EXPECT_EQ(IDCANCEL, refused.out.nResult);
    EXPECT_TRUE(refused.out.entries.empty());
    EXPECT_EQ(1, refused.nCalls);
    EXPECT_TRUE(Has(LogMessages("DI"), "ERR ::EnumPorts cbNeeded 0 R 0 E 5"));
}

// The ports may change between the two calls: a refused fill is shown, and
// the enumeration starts again from the size query.
TEST_F(PortListSpooler, RefusedFillIsShownAndTheEnumerationStartsAgain)
{
    RefusedFill refused = FillWithRefusals(true, 1, ERROR_INSUFFICIENT_BUFFER);
    ASSERT_TRUE(refused.bStandIn);
    ASSERT_EQ(1u, refused.boxes.size());
    const std::string &box = refused.boxes[0];
    EXPECT_EQ(0u, box.rfind("::EnumPorts cbNeeded ", 0)) << box;
    EXPECT_NE(std::string::npos, box.find(" R 0 E 122\r\n")) << box;
    EXPECT_EQ(std::string::npos, box.find("cbNeeded 0 ")) << "the size the spooler asked for: " << box;
    EXPECT_EQ(IDOK, refused.out.nResult);
    EXPECT_EQ(kWineList, refused.out.entries);
    EXPECT_EQ(4, refused.nCalls);
}

// A spooler whose fill never succeeds does not keep the dialog in a loop of
// message boxes: after five attempts the dialog closes.
TEST_F(PortListSpooler, FillRefusedEveryTimeGivesUpAfterFiveAttempts)
{
    RefusedFill refused = FillWithRefusals(true, 1000, ERROR_INSUFFICIENT_BUFFER);
    ASSERT_TRUE(refused.bStandIn);
    EXPECT_EQ(5u, refused.boxes.size());
    EXPECT_EQ(IDCANCEL, refused.out.nResult);
    EXPECT_TRUE(refused.out.entries.empty());
    EXPECT_EQ(10, refused.nCalls);
}

TEST(PortNarrowing, CommandLineNamesCollectTheEntriesBeginningWithThem)
{
    const Names full = {"COM1:", "COM2:", "FILE:", "LPT1:", "LPT2:", "LPT3:", "USB"};
    struct Case {
        const char *ports;
        Names expected;
        const char *what;
    } cases[] = {
        {"LPT", {"LPT1:", "LPT2:", "LPT3:"}, "every LPT entry"},
        {"lpt2", {"LPT2:"}, "case ignored"},
        {"XYZ", full, "no match keeps the whole list"},
        {"LPT1:X", full, "longer than the entry: no match"},
        {"COM1:,LPT", {"COM1:", "LPT1:", "LPT2:", "LPT3:"}, "two names collect both"},
        {"LPT,LPT2:", {"LPT1:", "LPT2:", "LPT3:"}, "an entry matched twice is taken once"},
        {"LPT2:,LPT", {"LPT1:", "LPT2:", "LPT3:"}, "search wraps after the last entry, no duplicates"},
        {"USB,C", {"COM1:", "COM2:", "USB"}, "last entry, then the first ones"},
        {"XYZ,FILE", {"FILE:"}, "a name matching nothing is passed over"},
        {" LPT1: , FILE: ", {"FILE:", "LPT1:"}, "blanks around names"},
        {",,LPT3:,", {"LPT3:"}, "empty names skipped"},
        {"COM,FILE,LPT,USB", full, "everything collected"},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
        SCOPED_TRACE(testing::Message() << "case " << i << " \"" << cases[i].ports << "\": " << cases[i].what);
        Outcome out = RunOnList(full, 3, [&](PortListDialog &dlg) {
            return NarrowPortList(dlg, dlg.m_comboPort, cases[i].ports);
        });
        EXPECT_EQ(IDOK, out.nResult);
        EXPECT_EQ(cases[i].expected, out.entries);
        EXPECT_EQ(0, out.nSel);
    }
}

TEST(PortNarrowing, NoPortArgumentLeavesListAndSelection)
{
    const Names full = {"COM1:", "FILE:", "LPT1:"};
    for (const char *ports : {(const char *)NULL, ""}) {
        SCOPED_TRACE(ports ? "empty" : "NULL");
        Outcome out = RunOnList(full, 2, [&](PortListDialog &dlg) {
            return NarrowPortList(dlg, dlg.m_comboPort, ports);
        });
        EXPECT_EQ(IDOK, out.nResult);
        EXPECT_EQ(full, out.entries);
        EXPECT_EQ(2, out.nSel);
    }
}

TEST(PortNarrowing, EmptyListStaysEmpty)
{
    Outcome out = RunOnList({}, -1, [](PortListDialog &dlg) {
        return NarrowPortList(dlg, dlg.m_comboPort, "LPT");
    });
    EXPECT_EQ(IDOK, out.nResult);
    EXPECT_TRUE(out.entries.empty());
    EXPECT_EQ(CB_ERR, out.nSel);
}

TEST(PreferredPort, FirstPreferenceThatTheListOffersIsSelected)
{
    const Names withUsb = {"COM1:", "FILE:", "LPT1:", "LPT2:", "USB"};
    const Names withoutUsb = {"COM1:", "FILE:", "LPT1:", "LPT2:"};
    struct Case {
        const Names *list;
        const char *ports;
        int nExpected;   // the answer; CB_ERR: nothing matched
        int nSelected;   // the selection afterwards (it starts at 1, "FILE:")
        const char *what;
    } cases[] = {
        {&withUsb, "USB,LPT1:", 4, 4, "USB where it is offered"},
        {&withoutUsb, "USB,LPT1:", 2, 2, "else LPT1:"},
        {&withoutUsb, "lpt", 2, 2, "prefix, case ignored, first from the start"},
        {&withUsb, "LPT2:,USB", 3, 3, "order of the preferences, not of the list"},
        {&withUsb, "XYZ, COM", 0, 0, "blanks cut, a missing name passed over"},
        {&withUsb, "XYZ", CB_ERR, 1, "no match keeps the selection"},
        {&withUsb, ",", CB_ERR, 1, "only empty names"},
        {&withUsb, "", CB_ERR, 1, "no preferences"},
        {&withUsb, NULL, CB_ERR, 1, "no Ports directive"},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
        SCOPED_TRACE(testing::Message() << "case " << i << ": " << cases[i].what);
        int nAnswer = -2;
        Outcome out = RunOnList(*cases[i].list, 1, [&](PortListDialog &dlg) {
            nAnswer = SelectPreferredPort(dlg.m_comboPort, cases[i].ports);
            return TRUE;
        });
        EXPECT_EQ(cases[i].nExpected, nAnswer);
        EXPECT_EQ(cases[i].nSelected, out.nSel);
        EXPECT_EQ(*cases[i].list, out.entries);
    }
}
