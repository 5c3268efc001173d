// Generated and mutated INFs from a seed: whole INFs of random sections and
// lines, and mutations of a given INF (bit flips, bytes and special
// characters inserted, cut or overwritten, long runs, tokens, duplicated
// lines, renamed sections, truncation). The same seed gives the same INFs.
#pragma once
#include <random>
#include <string>

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
            switch (Pick(0, 8)) {
            case 0: inf[at] ^= (char)(1 << Pick(0, 7)); break;  // a bit flipped
            case 1: inf.insert(at, 1, Special()); break;
            case 2: inf.erase(at, Pick(1, 20)); break;
            case 3: inf.insert(at, std::string(Pick(1, 600), Special())); break;
            case 4: inf.insert(at, Token()); break;
            case 5: inf.insert(at, "%" + Token()); break;
            case 6: DuplicateLine(inf, at); break;
            case 7: RenameSection(inf, at); break;
            default: if (Chance(8)) inf.resize(at); else inf[at] = (char)Pick(0, 255); break;  // cut short
            }
        }
        return inf;
    }

private:
    // The line holding offset at, repeated one to fifty times in place; not
    // for a line of more than 4 KB or an INF of more than 1 MB, which would
    // make the INFs grow without bound.
    void DuplicateLine(std::string &inf, size_t at)
    {
        size_t begin = inf.rfind('\n', at);
        begin = begin == std::string::npos ? 0 : begin + 1;
        size_t end = inf.find('\n', at);
        end = end == std::string::npos ? inf.size() : end + 1;
        std::string line = inf.substr(begin, end - begin);
        if (line.size() > 4096 || inf.size() > (1u << 20))
            return;
        int copies = Pick(1, 50);
        for (int i = 0; i < copies; i++)
            inf.insert(begin, line);
    }

    // The name of the section header before offset at replaced by a random one.
    void RenameSection(std::string &inf, size_t at)
    {
        size_t open = inf.rfind('[', at);
        if (open == std::string::npos)
            return;
        size_t close = inf.find_first_of("]\r\n", open);
        inf.replace(open + 1, (close == std::string::npos ? inf.size() : close) - open - 1, Text(12));
    }

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

// A small INF with every kind of section the parser reads.
inline const char kSeedInf[] =
    "[Manufacturer]\r\n%M%=Models,NT\r\n[Models]\r\n\"TZ A\"=Inst,LPTENUM\\TZA-1000ABCD\r\nB=Inst\r\n"
    "[Inst]\r\nCopyFiles=Files,Files2,@one.dll\r\nAddReg=Reg\r\nDataSection=Data\r\n"
    "[Data]\r\nDriverFile=D.DLL\r\nLanguageMonitor=%Mon%,jobtap.dll\r\n"
    "[DestinationDirs]\r\nDefaultDestDir=66000\r\nFiles=11,sub\r\nFiles2=66003\r\n"
    "[Files]\r\nD.DLL\r\nE.DLL,e,t,16\r\n[Files2]\r\nX.ICM\r\n"
    "[Reg]\r\nHKLM,\"K\\\\\x83\x5c\",\"%M% Head\",0,\"1B\"\r\n"
    "[Strings]\r\nM=\"Ostrel\"\r\nMon=jobtap\r\n";

