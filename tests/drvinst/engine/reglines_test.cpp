// The install section's registry lines: string values written under existing
// HKLM keys and removed again; every other root, value type or key refused
// with its error line, the lines before a failure kept.
#include "filesfixture.h"
#include "regkeys.h"
#include "splstr.h"
#include "testenv.h"
#include <vector>

namespace {

const std::string kKey = kTestKey;
const std::string kDenied = kKey + "\\Denied";   // readable, not writable
const std::string kMissing = kKey + "\\Missing";  // never created

// The string value, or "(none)" / "(type N)" when it is not a string.
std::string ReadValue(const std::string &key, const char *name)
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &hKey))
        return "(no key)";
    char data[512] = {};
    DWORD cb = sizeof(data) - 1, type = 0;
    LONG status = RegQueryValueExA(hKey, name, NULL, &type, (LPBYTE)data, &cb);
    RegCloseKey(hKey);
    if (status)
        return "(none)";
    if (type != REG_SZ)
        return "(type " + std::to_string(type) + ")";
    return data;
}

void SetValue(const std::string &key, const char *name, const char *value)
{
    HKEY hKey;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE, &hKey));
    RegSetValueExA(hKey, name, 0, REG_SZ, (const BYTE *)value, (DWORD)strlen(value) + 1);
    RegCloseKey(hKey);
}

// An HKLM line of a registry section: root, key, then name, flags, value.
std::string Hklm(const std::string &key, const std::string &rest)
{
    return "HKLM," + key + "," + rest;
}

}  // namespace

class RegLinesTest : public FilesTest {
protected:
    void SetUp() override
    {
        FilesTest::SetUp();
        HKEY hKey;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                                                 &hKey, NULL));
        RegCloseKey(hKey);
        ASSERT_TRUE(CreateReadOnlyKey(kDenied));  // everyone may read it, not write to it
    }


    // Removes the values the cases write.
    static void ClearValues()
    {
        for (const std::string &key : {kKey, std::string()}) {
            HKEY hKey;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE, &hKey))
                continue;
            for (const char *name : {"kztf Before", "kztf After", "kztf Bad"})
                RegDeleteValueA(hKey, name);
            RegCloseKey(hKey);
        }
    }

    // A context on an INF whose install section adds the lines given.
    void PrepareLines(CInstallContext &c, const std::vector<std::string> &lines)
    {
        std::string section = "[KZTF.Reg]\n";
        for (const std::string &line : lines)
            section += line + "\n";
        ASSERT_NO_FATAL_FAILURE(PrepareInf(c, WriteModelInf("DriverFile=kztfdrv.dll\nAddReg=KZTF.Reg", section)));
    }
};

// Flag 0 lines become string values under the existing key, whatever the
// case of "HKLM"; an absent value name is the key's default value, absent
// flags and value a string and an empty text.
TEST_F(RegLinesTest, AddRegWritesStringValuesUnderExistingKeys)
{
    ASSERT_NO_FATAL_FAILURE(PrepareLines(ctx, {Hklm(kKey, "kztf Program,0,vigil.exe"),
                                               "hklm," + kKey + ",kztf Head,00,1B40", Hklm(kKey, ",0,default text"),
                                               Hklm(kKey, "kztf Bare")}));
    EXPECT_TRUE(ctx.AddReg()) << ctx.GetErrorText();
    EXPECT_EQ("", ctx.m_strError);
    EXPECT_EQ("vigil.exe", ReadValue(kKey, "kztf Program"));
    EXPECT_EQ("1B40", ReadValue(kKey, "kztf Head"));
    EXPECT_EQ("default text", ReadValue(kKey, ""));
    EXPECT_EQ("", ReadValue(kKey, "kztf Bare"));
    EXPECT_TRUE(LogHas("DBG ::RegOpenKeyEx([" + kKey + "]) E 0 "));
    EXPECT_TRUE(LogHas("DBG ::RegSetValueEx([kztf Program][vigil.exe]) E 0 "));
    EXPECT_TRUE(LogHas("DBG ::RegSetValueEx([][default text]) E 0 "));
    EXPECT_TRUE(LogHas("DBG ::RegSetValueEx([kztf Bare][KztNull]) E 0 "));
    EXPECT_TRUE(LogHas("DBG ::RegCloseKey E 0 "));

    // An empty list writes nothing and succeeds.
    CInstallContext none;
    ASSERT_NO_FATAL_FAILURE(PrepareInf(none, WriteModelInf("DriverFile=kztfdrv.dll", "")));
    EXPECT_EQ(nullptr, none.m_pRegLink);
    EXPECT_TRUE(none.AddReg());
}

// Only HKLM and string values (flag 0, written as a decimal number) are
// supported; a key that is missing or that the installer may not write
// fails at its open. Each failure stops the list with its message in the
// error text: the line before it stays written, the line after is not.
TEST_F(RegLinesTest, AddRegStopsAtALineItCannotWrite)
{
    struct Case {
        std::string line;
        std::string error;
    };
    const std::string e2 = ErrorTail(ERROR_FILE_NOT_FOUND) + "\r\n";
    const std::string e5 = ErrorTail(ERROR_ACCESS_DENIED) + "\r\n";
    const Case cases[] = {
        {"HKCU," + kKey + ",kztf Bad,0,x", "AddReg() pRoot\r\n"},
        {"HKEY_LOCAL_MACHINE," + kKey + ",kztf Bad,0,x", "AddReg() pRoot\r\n"},
        {Hklm(kKey, "kztf Bad,1,00ff"), "AddReg() pFlag\r\n"},                // binary
        {Hklm(kKey, "kztf Bad,65537,1"), "AddReg() pFlag\r\n"},               // DWORD
        {Hklm(kKey, "kztf Bad,0x00010001,1"), "AddReg() pFlag\r\n"},          // DWORD, as INFs write it
        {Hklm(kKey, "kztf Bad,0x00020000,%SystemRoot%"), "AddReg() pFlag\r\n"},  // expandable string
        {Hklm(kKey, "kztf Bad,0x00010000,a"), "AddReg() pFlag\r\n"},          // multi-string
        {Hklm(kKey, "kztf Bad,2,x"), "AddReg() pFlag\r\n"},                   // keep an existing value
        {Hklm(kMissing, "kztf Bad,0,x"), "::RegOpenKeyEx([" + kMissing + "]) " + e2},
        {Hklm(kDenied, "kztf Bad,0,x"), "::RegOpenKeyEx([" + kDenied + "]) " + e5},
        {"HKLM,,kztf Bad,0,x", "AddReg() pSubKey\r\n"},  // never HKLM itself
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
        const Case &c = cases[i];
        SCOPED_TRACE(testing::Message() << "case " << i << " " << c.line);
        ClearValues();
        CInstallContext ci;
        ASSERT_NO_FATAL_FAILURE(
            PrepareLines(ci, {Hklm(kKey, "kztf Before,0,before"), c.line, Hklm(kKey, "kztf After,0,after")}));
        EXPECT_FALSE(ci.AddReg());
        EXPECT_EQ(c.error, ci.m_strError);
        EXPECT_EQ("before", ReadValue(kKey, "kztf Before"));
        EXPECT_EQ("(none)", ReadValue(kKey, "kztf After"));
        EXPECT_EQ("(none)", ReadValue(kKey, "kztf Bad"));
        EXPECT_EQ("(none)", ReadValue(kDenied, "kztf Bad"));
        EXPECT_EQ("(no key)", ReadValue(kMissing, "kztf Bad"));
        EXPECT_EQ("(none)", ReadValue("", "kztf Bad"));
    }
}

// DelReg removes each line's value, whatever its flags; values and keys
// already gone count as removed; keys stay.
TEST_F(RegLinesTest, DelRegRemovesTheValuesAndKeepsTheKeys)
{
    SetValue(kKey, "kztf Program", "vigil.exe");
    SetValue(kKey, "kztf Head", "1B40");
    SetValue(kKey, "kztf Other", "stays");
    ASSERT_NO_FATAL_FAILURE(PrepareLines(ctx, {Hklm(kKey, "kztf Program,0,vigil.exe"),
                                               Hklm(kKey, "kztf Head,1,1B40"), Hklm(kKey, "kztf Gone,0,x"),
                                               Hklm(kMissing, "kztf Any,0,x")}));
    EXPECT_TRUE(ctx.DelReg()) << ctx.GetErrorText();
    EXPECT_EQ("", ctx.m_strError);
    EXPECT_EQ("(none)", ReadValue(kKey, "kztf Program"));
    EXPECT_EQ("(none)", ReadValue(kKey, "kztf Head"));
    EXPECT_EQ("stays", ReadValue(kKey, "kztf Other"));
    EXPECT_NE("(no key)", ReadValue(kKey, "kztf Other"));
    EXPECT_TRUE(LogHas("DBG ::RegOpenKeyEx([" + kKey + "]) [kztf Program] E 0 "));
    EXPECT_TRUE(LogHas("DBG ::RegDeleteValue([kztf Program]) E 0 "));
    EXPECT_TRUE(LogHas("DBG ::RegDeleteValue([kztf Gone]) " + ErrorTail(ERROR_FILE_NOT_FOUND)));
    EXPECT_TRUE(LogHas("DBG ::RegOpenKeyEx([" + kMissing + "]) [kztf Any] " + ErrorTail(ERROR_FILE_NOT_FOUND)));
    EXPECT_TRUE(LogHas("DBG ::RegCloseKey E 0 "));

    // Run again, on a system where everything is already gone.
    CInstallContext again;
    ASSERT_NO_FATAL_FAILURE(PrepareLines(again, {Hklm(kKey, "kztf Program,0,vigil.exe")}));
    EXPECT_TRUE(again.DelReg());
    EXPECT_EQ("", again.m_strError);
}

// DelReg stops at a line it cannot act on: another root, or a key the
// installer may not write; the values before it are gone, those after stay.
TEST_F(RegLinesTest, DelRegStopsAtALineItCannotRemove)
{
    struct Case {
        std::string line;
        std::string error;
    };
    const Case cases[] = {
        {"HKCU," + kKey + ",kztf Bad,0,x", "DelReg() pRoot\r\n"},
        {Hklm(kDenied, "kztf Bad,0,x"),
         "::RegOpenKeyEx([" + kDenied + "]) [kztf Bad] " + ErrorTail(ERROR_ACCESS_DENIED) + "\r\n"},
        {"HKLM,,kztf Bad,0,x", "DelReg() pSubKey\r\n"},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
        const Case &c = cases[i];
        SCOPED_TRACE(testing::Message() << "case " << i << " " << c.line);
        SetValue(kKey, "kztf Before", "x");
        SetValue(kKey, "kztf After", "x");
        CInstallContext ci;
        ASSERT_NO_FATAL_FAILURE(
            PrepareLines(ci, {Hklm(kKey, "kztf Before,0,x"), c.line, Hklm(kKey, "kztf After,0,x")}));
        EXPECT_FALSE(ci.DelReg());
        EXPECT_EQ(c.error, ci.m_strError);
        EXPECT_EQ("(none)", ReadValue(kKey, "kztf Before"));
        EXPECT_EQ("x", ReadValue(kKey, "kztf After"));
    }
}

// The sample package's lines: written at install, gone after removal, the
// monitor's key itself kept.
TEST_F(RegLinesTest, SamplePackageLinesRoundTrip)
{
    const std::string monitorKey = "System\\CurrentControlSet\\Control\\Print\\Monitors\\jobtap";
    // The key is the monitor's: made for the case when the monitor is not
    // registered, and then removed again, so the spooler never sees it.
    HKEY hKey;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, monitorKey.c_str(), 0, NULL, 0, KEY_ALL_ACCESS,
                                             NULL, &hKey, &disposition));
    RegCloseKey(hKey);
    CInstallContext c;
    ASSERT_NO_FATAL_FAILURE(Prepare(c, "Ostrel TZ-2000"));
    ASSERT_TRUE(c.AddReg()) << c.GetErrorText();
    EXPECT_EQ("vigil.exe", ReadValue(monitorKey, "Ostrel TZ-2000"));
    EXPECT_EQ("1B401B2847", ReadValue(monitorKey, "Ostrel TZ-2000 Head"));
    EXPECT_EQ("0C1B40", ReadValue(monitorKey, "Ostrel TZ-2000 Tail"));
    ASSERT_TRUE(c.DelReg()) << c.GetErrorText();
    for (const char *name : {"Ostrel TZ-2000", "Ostrel TZ-2000 Head", "Ostrel TZ-2000 Tail"})
        EXPECT_EQ("(none)", ReadValue(monitorKey, name)) << name;
    EXPECT_NE("(no key)", ReadValue(monitorKey, "Ostrel TZ-2000"));
    if (disposition == REG_CREATED_NEW_KEY)
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, monitorKey.c_str());
}
