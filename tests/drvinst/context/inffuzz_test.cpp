// Thousands of generated and mutated INFs, fixed seed: every model listing
// and every parse returns, and every failure leaves a message for the user.
#include "contextfixture.h"
#include "splstr.h"
#include <random>

namespace {

class InfGenerator {
public:
    explicit InfGenerator(unsigned seed) : m_rng(seed) {}

    std::string Generated()
    {
        std::string inf;
        int sections = Pick(1, 12);
        for (int i = 0; i < sections; i++) {
            inf += Header();
            int lines = Chance(3) ? Pick(0, 400) : Pick(0, 8);
            for (int j = 0; j < lines; j++)
                inf += Line();
        }
        if (Chance(40))
            inf += HugeSection();
        if (Chance(4) && !inf.empty())
            inf.pop_back();  // no final line end
        return inf;
    }

    std::string Mutated(const std::string &base)
    {
        std::string inf = base;
        int edits = Pick(1, 40);
        for (int i = 0; i < edits && !inf.empty(); i++) {
            size_t at = Pick(0, (int)inf.size() - 1);
            switch (Pick(0, 5)) {
            case 0: inf[at] = (char)Pick(0, 255); break;
            case 1: inf.insert(at, 1, Special()); break;
            case 2: inf.erase(at, Pick(1, 20)); break;
            case 3: inf.insert(at, std::string(Pick(1, 600), Special())); break;
            case 4: inf.insert(at, Token()); break;
            default: inf.insert(at, "%" + Token()); break;
            }
        }
        return inf;
    }

private:
    int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_rng); }
    bool Chance(int oneIn) { return Pick(1, oneIn) == 1; }

    char Special()
    {
        static const char kChars[] = "[]=;,\"%\\@ \t\r\n\x1a\x81\x5c\x82\x2c\x9f\xe0\xfc\x00";
        return kChars[Pick(0, sizeof(kChars) - 2)];
    }

    std::string Token()
    {
        static const char *kTokens[] = {"Manufacturer", "Models", "Inst", "Strings", "Strings.0009", "CopyFiles",
                                        "AddReg", "DataSection", "DestinationDirs", "DefaultDestDir", "Files",
                                        "Reg", "HKLM", "66000", "66003", "11", "@", "%Key%", "%Long%", "DriverFile",
                                        "\x83\x5c", "\x95\x5c", "\x82\x2c", "\"", ","};
        return kTokens[Pick(0, sizeof(kTokens) / sizeof(kTokens[0]) - 1)];
    }

    std::string Text(int maxLen)
    {
        std::string s;
        int n = Pick(0, maxLen);
        for (int i = 0; i < n; i++)
            s += Chance(3) ? Token() : std::string(1, Chance(4) ? Special() : (char)Pick('a', 'z'));
        return s;
    }

    std::string Header()
    {
        static const char *kNames[] = {"Manufacturer", "Models", "Inst", "Data", "DestinationDirs", "Files",
                                       "Files2", "Reg", "Strings", "Strings.0009", "Version"};
        std::string name = Chance(5) ? Text(10) : kNames[Pick(0, 10)];
        return std::string(Pick(0, 2), ' ') + "[" + name + (Chance(10) ? "" : "]") + "\r\n";
    }

    std::string Line()
    {
        switch (Pick(0, 9)) {
        case 0: return "; " + Text(20) + "\r\n";
        case 1: return std::string(Pick(200, 1200), (char)Pick('a', 'z')) + "\r\n";
        case 2: return Text(8) + "\r\n";
        case 3: {
            std::string s(Pick(1, 300), 'k');
            return "Long=\"" + s + "\"\r\nKey=%Long%%Long%\r\n";
        }
        case 4: return "CopyFiles=" + Text(6) + "," + Token() + ",@" + Text(5) + "\r\n";
        default: return Text(10) + "=" + Text(30) + (Chance(2) ? "," + Text(10) : "") + "\r\n";
        }
    }

    std::string HugeSection()
    {
        std::string s = "[Files]\r\n";
        for (int i = 0; i < 100000; i++)
            s += "F" + std::to_string(i) + ".DLL\r\n";
        return s;
    }

    std::mt19937 m_rng;
};

const char kSeedInf[] =
    "[Manufacturer]\r\n%M%=Models,NT\r\n[Models]\r\n\"TZ A\"=Inst,LPTENUM\\TZA-1000ABCD\r\nB=Inst\r\n"
    "[Inst]\r\nCopyFiles=Files,Files2,@one.dll\r\nAddReg=Reg\r\nDataSection=Data\r\n"
    "[Data]\r\nDriverFile=D.DLL\r\nLanguageMonitor=%Mon%,jobtap.dll\r\n"
    "[DestinationDirs]\r\nDefaultDestDir=66000\r\nFiles=11,sub\r\nFiles2=66003\r\n"
    "[Files]\r\nD.DLL\r\nE.DLL,e,t,16\r\n[Files2]\r\nX.ICM\r\n"
    "[Reg]\r\nHKLM,\"K\\\\\x83\x5c\",\"%M% Head\",0,\"1B\"\r\n"
    "[Strings]\r\nM=\"Ostrel\"\r\nMon=jobtap\r\n";

}  // namespace

TEST_F(ContextTest, EveryMalformedInfReturns)
{
    InfGenerator gen(20261207);
    const int kRounds = 3000;
    int parsed = 0, listed = 0;
    for (int round = 0; round < kRounds; round++) {
        std::string inf = (round % 2) ? gen.Mutated(kSeedInf) : gen.Generated();
        std::string path = WriteFile("FUZZ.INF", inf);
        CInstallContext fresh;  // no log file: the messages go to m_strError only
        fresh.SetInfFileName(path.c_str());
        fresh.m_wLangID = 0x0409;
        std::string models;
        BOOL bListed = fresh.FindInfPrinters(models);
        if (!bListed) {
            EXPECT_FALSE(fresh.m_strError.empty()) << "round " << round;
        }
        listed += bListed;
        std::string model = models.substr(0, models.find(','));
        fresh.SetPrinterName(bListed && !model.empty() ? model.c_str() : "TZ A");
        fresh.m_strError.clear();
        BOOL bParsed = fresh.ParseInf();
        if (!bParsed) {
            EXPECT_FALSE(fresh.m_strError.empty()) << "round " << round;
        }
        parsed += bParsed;
        if (bParsed) {
            char *deps = fresh.AllocDependentFiles();
            FreeSplMem(deps);
        }
    }
    // The seed INF survives many of its mutations; say how many went through.
    RecordProperty("listed", listed);
    RecordProperty("parsed", parsed);
    EXPECT_GT(parsed, kRounds / 20);
}
