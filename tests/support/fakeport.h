// A port monitor table that stands below the language monitor in tests:
// job bytes go to one file per port, every call is recorded with its
// arguments, and device requests are answered from a script. It keeps the
// lifetime of the handles it hands out, as a real port monitor would notice
// it: a call on a NULL, unknown or closed handle, a close while a call is in
// progress on the handle, or a handle closed under a running call is a fault.
#pragma once
#include <windows.h>
#include <winspool.h>
#include <winsplp.h>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct FakeCall {
    std::string op;                 // "Open", "StartDoc", "Write", "Read", "EndDoc", "Close", "Get", "SetTimeOuts"
    std::wstring text;              // port name, printer name or value name
    std::vector<DWORD> args;        // numeric arguments in call order
    std::vector<BYTE> data;         // bytes written, or the input of a Get
};

struct FakeScript {
    // Last-error code with which an operation fails; 0 lets it succeed.
    DWORD dwFailOpen = 0, dwFailStartDoc = 0, dwFailWrite = 0, dwFailRead = 0;
    DWORD dwFailEndDoc = 0, dwFailClose = 0, dwFailGet = 0;
    DWORD cbWriteMax = 0;           // accept at most this much per write (0: all)
    DWORD cWritesBeforeFail = 0;    // with dwFailWrite: so many writes still succeed first
    bool bWriteZero = false;        // writes succeed but take nothing
    std::string deviceId = "MFG:Ostrel;CMD:TZ;MDL:TZ-1200;";
    DWORD dwGetDelayMs = 0;
    bool bGetHangs = false;         // Get waits until ReleaseHungGets()
    bool bNoGet = false;            // table without pfnGetPrinterDataFromPort
    bool bNoSetTimeOuts = false;
    std::string readReply = "READY";
};

class FakePortMonitor {
public:
    static FakePortMonitor &Instance();
    void Reset(const FakeScript &script = FakeScript());
    MONITOR *Table();               // reflects the script's bNoGet / bNoSetTimeOuts
    std::vector<FakeCall> Calls();
    std::vector<FakeCall> CallsOf(const std::string &op);
    std::vector<std::string> Faults();   // misuses of a handle, in the order seen
    void ClearFaults();
    std::vector<BYTE> Output(const std::wstring &portName);   // bytes written to the port's file
    std::wstring OutputPath(const std::wstring &portName);
    int OpenPorts();
    void ReleaseHungGets();
    int GetsDone();                 // Get calls that have returned since Reset
    int GetsAnsweredOn(const std::wstring &portName);   // Gets that succeeded on that port since Reset
    FakeScript script;

    // Implementation details used by the table's functions.
    void Record(FakeCall call);
    std::mutex lock;
    std::vector<FakeCall> calls;
    std::vector<std::string> faults;
    int cOpen = 0;
    int cGetsDone = 0;
    std::map<std::wstring, int> answered;
    HANDLE hRelease = nullptr;
private:
    MONITOR table_{};
};
