// INF parse cost on a large INF: our ParseInf against Wine's own setup
// library reading the same sections (SetupOpenInfFileA, then every line of
// them by key or index with SetupGetLineTextA).
//   infparse_bench [rounds]
#include "benchtime.h"
#include "installcontext.h"
#include <windows.h>
#include <setupapi.h>
#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

static const int kFileSections = 8;
static const int kFilesPerSection = 250;   // 2,000 files in all
static const int kTargetLines = 20000;

static const char *const kDirectives[] = {"CopyFiles", "AddReg", "DataSection", "ConfigFile", "DataFile",
                                          "DefaultDataType", "DriverFile", "ExcludeFromSelect", "HelpFile",
                                          "LanguageMonitor", "PrintProcessor", "VendorSetup", "Ports",
                                          "ComPortSettings"};

static std::string BuildInf()
{
    std::string inf = "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Printer\r\n";
    inf += "[Manufacturer]\r\n%Mfg%=Models\r\n[Models]\r\n";
    for (int i = 0; i < 40; i++)
        inf += "\"Ostrel TZ-" + std::to_string(1000 + i) + "\"=Inst" + std::to_string(i) + ",LPTENUM\\TZ" +
               std::to_string(i) + "ABCD\r\n";
    std::string copyFiles;
    for (int s = 0; s < kFileSections; s++)
        copyFiles += (s ? "," : "") + std::string("Files") + std::to_string(s);
    inf += "[Inst7]\r\nCopyFiles=" + copyFiles + "\r\nAddReg=Reg\r\nDataSection=Data\r\nDriverFile=KZTTZDRV.DLL\r\n";
    inf += "[Data]\r\nConfigFile=KZTTZUIF.DLL\r\nDataFile=KZTTZ.DAT\r\nHelpFile=KZTTZ.HLP\r\n"
           "LanguageMonitor=%Mon%,jobtap.dll\r\nDefaultDataType=RAW\r\n";
    inf += "[DestinationDirs]\r\nDefaultDestDir=66000\r\n";
    for (int s = 0; s < kFileSections; s++)
        inf += "Files" + std::to_string(s) + "=" + (s % 2 ? "11" : "66000,sub" + std::to_string(s)) + "\r\n";
    for (int s = 0; s < kFileSections; s++) {
        inf += "[Files" + std::to_string(s) + "]\r\n";
        for (int f = 0; f < kFilesPerSection; f++)
            inf += "F" + std::to_string(s) + "_" + std::to_string(f) + (f % 10 ? ".DLL" : ".DAT,,,16") + "\r\n";
    }
    inf += "[Reg]\r\n";
    for (int r = 0; r < 20; r++)
        inf += "HKLM,\"%Key%\",\"Ostrel TZ-1007 V" + std::to_string(r) + "\",0,\"" + std::to_string(r) + "\"\r\n";
    inf += "[Strings]\r\nMfg=\"Ostrel\"\r\nMon=\"jobtap\"\r\n"
           "Key=\"System\\CurrentControlSet\\Control\\Print\\Monitors\\jobtap\"\r\n";
    int lines = (int)std::count(inf.begin(), inf.end(), '\n');
    for (int i = 0; lines < kTargetLines; i++) {
        inf += "[Other" + std::to_string(i) + "]\r\n";
        lines++;
        for (int j = 0; j < 400 && lines < kTargetLines; j++, lines++)
            inf += "Key" + std::to_string(j) + " = Value " + std::to_string(j) + " ; filler\r\n";
    }
    return inf;
}

static size_t OurParse(const std::string &path)
{
    CInstallContext ctx;
    ctx.SetLogFileName("kztdebug.txt");  // as the installer runs: path set, file absent
    ctx.SetInfFileName(path.c_str());
    ctx.SetPrinterName("Ostrel TZ-1007");
    if (!ctx.ParseInf()) {
        fprintf(stderr, "ParseInf failed: %s\n", ctx.GetErrorText());
        exit(1);
    }
    size_t files = 0;
    for (const FileLink *p = ctx.m_pFileLink; p; p = p->pNext)
        files++;
    return files;
}

static bool LineText(INFCONTEXT *pContext, char *pszOut)
{
    return SetupGetLineTextA(pContext, NULL, NULL, NULL, pszOut, MAX_INF_STRING_LENGTH, NULL);
}

static size_t WineRead(const std::string &path)
{
    HINF hInf = SetupOpenInfFileA(path.c_str(), NULL, INF_STYLE_WIN4, NULL);
    if (hInf == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "SetupOpenInfFileA failed: %lu\n", GetLastError());
        exit(1);
    }
    char text[MAX_INF_STRING_LENGTH];
    INFCONTEXT ic;
    size_t lines = 0;
    if (SetupFindFirstLineA(hInf, "Manufacturer", NULL, &ic) && LineText(&ic, text))
        lines++;
    if (SetupFindFirstLineA(hInf, "Models", "Ostrel TZ-1007", &ic) && LineText(&ic, text))
        lines++;
    for (const char *pszSection : {"Inst7", "Data"}) {
        for (const char *pszKey : kDirectives) {
            if (SetupFindFirstLineA(hInf, pszSection, pszKey, &ic) && LineText(&ic, text))
                lines++;
        }
    }
    std::vector<std::string> sections = {"Reg"};
    for (int s = 0; s < kFileSections; s++)
        sections.push_back("Files" + std::to_string(s));
    for (const std::string &section : sections) {
        if (section != "Reg" && SetupFindFirstLineA(hInf, "DestinationDirs", section.c_str(), &ic) &&
            LineText(&ic, text))
            lines++;
        LONG count = SetupGetLineCountA(hInf, section.c_str());
        for (LONG i = 0; i < count; i++) {
            if (SetupGetLineByIndexA(hInf, section.c_str(), i, &ic) && LineText(&ic, text))
                lines++;
        }
    }
    SetupCloseInfFile(hInf);
    return lines;
}

int main(int argc, char **argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 9;
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    std::string path = std::string(temp) + "kzt-bench-large.inf";
    std::string inf = BuildInf();
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD cb;
    WriteFile(h, inf.data(), (DWORD)inf.size(), &cb, NULL);
    CloseHandle(h);

    std::vector<double> ours, wine;
    size_t files = 0, lines = 0;
    for (int r = 0; r < rounds; r++) {
        double t0 = Now();
        files = OurParse(path);
        double t1 = Now();
        lines = WineRead(path);
        double t2 = Now();
        ours.push_back(t1 - t0);
        wine.push_back(t2 - t1);
    }
    printf("INF: %d lines, %u bytes; install section copies %u files from %d sections\n",
           (int)std::count(inf.begin(), inf.end(), '\n'), (unsigned)inf.size(), (unsigned)files, kFileSections);
    printf("ParseInf                                   median %8.2f ms (min %.2f)\n", Median(ours),
           *std::min_element(ours.begin(), ours.end()));
    printf("Wine SetupOpenInfFileA + %u line reads   median %8.2f ms (min %.2f)\n", (unsigned)lines, Median(wine),
           *std::min_element(wine.begin(), wine.end()));
    printf("ratio ParseInf / Wine                      %.2f (target <= 2)\n", Median(ours) / Median(wine));
    DeleteFileA(path.c_str());
    return 0;
}
